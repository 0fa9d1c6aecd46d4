// Conditions, and the equality and ordering of arbitrary objects.
#include <cmath>

#include "Lumbra.h"
#include "eval.h"
#include "evald.h"
#include "sets.h"

static double numval(ALGEB x) { return IMMINT(x) ? (double)IMMVAL(x) : NUMVAL(x); }

// A number as an object for Equal and the polymorphic methods; unlike NewNumber it
// accepts infinities, which a comparison may legitimately meet.
static ALGEB boxnumber(double d) {
    if (d >= -1073741824.0 && d <= 1073741823.0 && d == std::floor(d)) return MKIMM((WORD)d);
    ALGEB r = Newl1(2, NUMBER);
    ((Number *)r)->N = d;
    return r;
}

// One side of a relation as an object. A failed numeric call is evaluated again so that
// it reports its own error instead of comparing as the number it does not have.
static ALGEB side(ALGEB x, double d) {
    if (isNaNerror(d)) return eval(x);
    if (NaN(d)) return NaNtoALGEB(d);
    return boxnumber(d);
}

int evalbool(ALGEB s) {
    stackcheck();
    for (;;) {
        if (!IMMINT(s)) switch (CASE_ID2(s)) {
            case NAME_CASE:
                if (s == ININtrue) return 1;
                if (s == ININfalse) return 0;
                break;
            case AND_CASE: return evalbool(A(s[1])) ? evalbool(A(s[2])) : 0;
            case OR_CASE: return evalbool(A(s[1])) ? 1 : evalbool(A(s[2]));
            case NOT_CASE: return !evalbool(A(s[1]));
            case EQUATION_CASE:
            case INEQUAT_CASE: {
                double l = evald(A(s[1])), r = evald(A(s[2]));
                bool eq = ID2(s) == EQUATION;
                if (!NaN(l) && !NaN(r)) return eq ? l == r : l != r;
                int e = Equal(side(A(s[1]), l), side(A(s[2]), r), 0);
                return eq ? e : !e;
            }
            case LESSEQ_CASE:
            case LESSTHAN_CASE: {
                double l = evald(A(s[1])), r = evald(A(s[2]));
                if (!NaN(l) && !NaN(r)) return ID2(s) == LESSEQ ? l <= r : l < r;
                return CompareAny(ID2(s), side(A(s[1]), l), side(A(s[2]), r));
            }
            default: break;
            }
        // A call that evaluates to a fresh copy of itself (table() does) would go round
        // for ever, so an equal value counts as unchanged.
        ALGEB v = eval(s);
        if (v == s || (!IMMINT(v) && ID(v) == ID(s) && Equal(v, s, 0)))
            userror("cannot evaluate boolean");
        s = v;
    }
}

// ---------------------------------------------------------------------------

static int polyequal(ALGEB r, ALGEB p) { return BinaryPolymorphic(ININequal, r, p) == ININtrue; }

// A packed list equals a list of the same numbers in the same places.
static int listnum_list(ALGEB ln, ALGEB l) {
    ALGEB e = A(l[1]);
    WORD n = LISTNUMLEN(ln);
    if (LENGTH(e) - 1 != n) return 0;
    const double *x = LISTNUMDATA(ln);
    for (WORD i = 0; i < n; i++) {
        ALGEB a = A(e[i + 1]);
        if (!numeric(a) || numval(a) != x[i]) return 0;
    }
    return 1;
}

// Same kind and length, not the same words: compare part by part.
static int equal_parts(ALGEB r, ALGEB p, int sequal) {
    WORD L = LENGTH2(r);
    WORD code = CASE_ID2(r);
    switch (code) {
    case LISTNUM_CASE: {
        const double *a = LISTNUMDATA(r), *b = LISTNUMDATA(p);
        for (WORD i = LISTNUMLEN(r) - 1; i >= 0; i--)
            if (!(a[i] == b[i])) return 0;
        return 1;
    }
    case DAYMATRIX_CASE:
    case MATCH_CASE: return 0;
    default: break;
    }
    if (code < TABLEREF_CASE || code > SET_CASE) userror("unable to compare");
    stackcheck();
    WORD first = 1;
    // Word 1 of a local or parameter is a raw index, not a handle.
    if (code == LOCAL_CASE || code == PARAM_CASE) {
        if (r[1] != p[1]) return 0;
        first = 2;
    }
    for (WORD i = first; i < L; i++)
        if (!Equal(A(r[i]), A(p[i]), sequal))
            return code == FUNCTION_CASE && !sequal && polyequal(r, p);
    return 1;
}

int Equal(ALGEB r, ALGEB p, int sequal) {
    if (r == p) return 1;
    if (r == 0 || p == 0) return 0;
    if (numeric(r) && numeric(p)) return numval(r) == numval(p);
    if (textual(r) && textual(p)) {
        Chars a = textof(r), b = textof(p);
        if (a.n != b.n) return 0;
        if (sequal) return a.s == b.s;
        return memcmp(a.s, b.s, a.n) == 0;
    }
    WORD ir = ID(r), ip = ID(p);
    if (ir == LISTNUM && ip == LIST) return listnum_list(r, p);
    if (ir == LIST && ip == LISTNUM) return listnum_list(p, r);
    if (ir != ip || LENGTH(r) != LENGTH(p)) {
        if (!sequal && (ir == FUNCTION || ip == FUNCTION)) return polyequal(r, p);
        return 0;
    }
    WORD L = LENGTH2(r);
    WORD i = 1;
    while (i < L && r[i] == p[i])
        i++;
    if (i == L) return 1;
    return equal_parts(r, p, sequal);
}

int CompareAny(WORD id, ALGEB r, ALGEB p) {
    bool lesseq = id == LESSEQ;
    if (numeric(r) && numeric(p)) return lesseq ? numval(r) <= numval(p) : numval(r) < numval(p);
    if (r == p) return lesseq;
    if (textual(r) && textual(p)) {
        Chars a = textof(r), b = textof(p);
        int c = memcmp(a.s, b.s, a.n < b.n ? a.n : b.n);
        if (a.n == b.n) return lesseq ? c <= 0 : c < 0;
        // A proper prefix comes first.
        return a.n > b.n ? c < 0 : c <= 0;
    }
    ALGEB v = BinaryPolymorphic(lesseq ? ININlessequal : ININless, r, p);
    if (v == 0) userror("values cannot be ordered");
    if (v == ININtrue) return 1;
    if (v == ININfalse) return 0;
    userror("comparison did not return true/false");
}
