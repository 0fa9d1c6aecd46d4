// Queries on the contents of objects: membership by identity, containment of a type or a value.
#include "Lumbra.h"
#include "eval.h"
#include "sets.h"

WORD member(ALGEB s, ALGEB x) {
    if (is(s, FUNCTION)) {
        for (WORD i = 2; i < LENGTH2(s); i++)
            if (A(s[i]) == x) return i;
        return 0;
    }
    if (is(s, EXPSEQ)) {
        for (WORD i = 1; i < LENGTH2(s); i++)
            if (A(s[i]) == x) return i;
        return 0;
    }
    return s == x ? 1 : 0;
}

// The words of s that hold its components, as the half-open range [*from, *to) with step
// *step; false when s has no components.
static bool components(ALGEB s, WORD *from, WORD *to, WORD *step, const char *what) {
    *from = 1;
    *to = LENGTH2(s);
    *step = 1;
    switch (CASE_ID2(s)) {
    case NUMBER_CASE:
    case NAME_CASE:
    case LOCAL_CASE:
    case PARAM_CASE:
    case LISTNUM_CASE:
    case TEXT_CASE:
    // Records of the native routines hold no objects of the language a user could look for.
    case DNAFILE_CASE:
    case DAYMATRIX_CASE:
    case MATCH_CASE:
    case COMPRESSED_CASE: return false;
    case HASH_CASE: *from = 2, *step = 2; return true;
    case HASHTAB_CASE: return true;
    default:
        if (CASE_ID2(s) > HASHTAB_CASE) notimpl(what);
        return true;
    }
}

// Whether holds(c) for some component c of s.
template <class Holds>
static int anycomponent(ALGEB s, const char *what, Holds holds) {
    WORD from, to, step;
    if (!components(s, &from, &to, &step, what)) return 0;
    stackcheck();
    for (WORD i = from; i < to; i += step) {
        ALGEB c = A(s[i]);
        if (c != 0 && holds(c)) return 1;
    }
    return 0;
}

int hasid(ALGEB s, WORD type) {
    if (ID(s) == type) return 1;
    if (IMMINT(s)) return 0;
    return anycomponent(s, "default in hasid", [type](ALGEB c) { return hasid(c, type); });
}

int has(ALGEB s, ALGEB a) {
    if (Equal(s, a, 0)) return 1;
    if (numeric(s)) return numeric(a) && DBL(s) == DBL(a);
    return anycomponent(s, "default in has", [a](ALGEB c) { return has(c, a); });
}
