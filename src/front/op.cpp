// Operands of objects: how many there are, one of them, or a range of them.
#include "Lumbra.h"
#include "sets.h"

WORD numterms(ALGEB x) {
    if (IMMINT(x)) return 1;
    switch (CASE_ID2(x)) {
    case NUMBER_CASE:
    case NAME_CASE:
    case TEXT_CASE: return 1;
    case TABLEREF_CASE:
    case FUNCTION_CASE: return LENGTH2(x) - 2;
    case LIST_CASE:
    case SET_CASE: return LENGTH2(A(x[1])) - 1;
    case LISTNUM_CASE: return LISTNUMLEN(x);
    case PROC_CASE: return 5;
    case DNAFILE_CASE:
    case DAYMATRIX_CASE:
    case MATCH_CASE:
    case COMPRESSED_CASE: return 0;
    default:
        if (CASE_ID2(x) <= HASHTAB_CASE) return LENGTH2(x) - 1;
        notimpl("default in numterms");
    }
}

ALGEB op1(WORD i, ALGEB x) {
    if (IMMINT(x)) return x;
    switch (CASE_ID2(x)) {
    case NUMBER_CASE:
    case TEXT_CASE: return x;
    case NAME_CASE: return x[1] != 0 ? A(x[1]) : x;
    case TABLEREF_CASE:
    case FUNCTION_CASE: return A(x[i + 1]);
    case LIST_CASE:
    case SET_CASE: return A(A(x[1])[i]);
    case LISTNUM_CASE: return NewNumber(LISTNUMDATA(x)[i - 1]);
    case PROC_CASE:
    case SUM_CASE:
    case PROD_CASE: return A(x[i]);
    case DNAFILE_CASE:
    case DAYMATRIX_CASE:
    case MATCH_CASE:
    case COMPRESSED_CASE: notimpl("default in op1");
    default: {
        if (CASE_ID2(x) > HASHTAB_CASE) notimpl("default in op1");
        ALGEB r = A(x[i]);
        return IDLENGTH(r, EXPSEQ, 2) ? A(r[1]) : r;
    }
    }
}

ALGEB ExpseqFromFun(ALGEB f) {
    WORD n = LENGTH2(f) - 2;
    ALGEB r = Newl1(n + 1, EXPSEQ);
    memcpy(r + 1, f + 2, (size_t)n * sizeof(WORD));
    return r;
}

ALGEB op(WORD lo, WORD hi, ALGEB x) {
    if (lo > hi) return null;
    WORD n = numterms(x);
    bool zero = !IMMINT(x) && (ID2(x) == FUNCTION || ID2(x) == TABLEREF);
    if (hi > n || lo < 0 || (lo == 0 && !zero)) userror("improper op or subscript selector");
    if (lo == hi) return op1(lo, x);
    if (lo == 1 && hi == n) {
        if (ID2(x) == LIST || ID2(x) == SET) return A(x[1]);
        if (ID2(x) == FUNCTION) return ExpseqFromFun(x);
    }
    ALGEB r = Newl1(hi - lo + 2, EXPSEQ);
    for (WORD k = lo; k <= hi; k++)
        r[k - lo + 1] = W(op1(k, x));
    return r;
}
