// The length of objects as the language sees it, and their size in words.
#include <cstdio>

#include "Lumbra.h"
#include "sets.h"

WORD length(ALGEB x) {
    if (numeric(x)) {
        if (!integer(x)) userror("can only compute length of integers");
        char buf[400];
        return snprintf(buf, sizeof buf, "%.0f", std::fabs(DBL(x)));
    }
    switch (CASE_ID2(x)) {
    case TEXT_CASE: return (WORD)STR(x)->length;
    case NAME_CASE: return (WORD)strlen(NAMETEXT(x));
    case MATCH_CASE: return 7;
    default: return numterms(x);
    }
}

WORD size(ALGEB x) {
    if (IMMINT(x)) return 0;
    WORD t = CASE_ID2(x), L = LENGTH2(x);
    switch (t) {
    case NUMBER_CASE:
    case NAME_CASE:
    case LOCAL_CASE:
    case PARAM_CASE:
    case LISTNUM_CASE: return L;
    default:
        if (t >= HASHTAB_CASE) return L;
    }
    stackcheck();
    WORD r = L;
    for (WORD i = t == FUNCTION_CASE ? 2 : 1; i < L; i++)
        if (x[i] != 0) r += size(A(x[i]));
    return r;
}
