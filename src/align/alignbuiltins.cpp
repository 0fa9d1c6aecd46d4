// The built-ins of sequence alignment: their arguments unpacked for the native routines.
#include "alignbuiltins.h"

#include <climits>
#include <cmath>

#include "BestPamMatch.h"
#include "Dayhoff.h"
#include "DynProgr.h"
#include "DynProgr_convex.h"
#include "Match.h"
#include "OneAllMatch.h"
#include "SetOption.h"
#include "eval.h"
#include "Lumbra.h"
#include "builtins.h"

// The internal code of a language-level code k (which counts from 1); -1 when far outside.
static int code(ALGEB k) {
    double v = IMMINT(k) ? (double)IMMVAL(k) : std::rint(DBL(k));
    return v >= 1 && v <= INT_MAX ? (int)v - 1 : -1;
}

static unsigned char firstchar(ALGEB a) {
    Chars c = textof(a);
    return c.n > 0 ? (unsigned char)c.s[0] : 0;
}

// A text of exactly three characters, else the kind error.
static Chars threeletters(ALGEB fname, ALGEB a) {
    Chars c = textof(a);
    if (c.n != 3) kinderror(fname);
    return c;
}

ALGEB AToIntBuiltin(ALGEB a) { return MKIMM(ChartoPos[firstchar(a)] + 1); }
ALGEB IntToABuiltin(ALGEB k) { return OneChar[(unsigned char)IntToA(code(k))]; }
ALGEB AAAToIntBuiltin(ALGEB fname, ALGEB a) {
    Chars c = threeletters(fname, a);
    return MKIMM(AAAToInt(c.s, c.n) + 1);
}
ALGEB IntToAAABuiltin(ALGEB k) { return CreateString(IntToAAA(code(k))); }
ALGEB AminoToIntBuiltin(ALGEB a) {
    Chars c = textof(a);
    return MKIMM(AminoToInt(c.s, c.n) + 1);
}
ALGEB IntToAminoBuiltin(ALGEB k) { return CreateString(IntToAmino(code(k))); }
ALGEB BToIntBuiltin(ALGEB a) { return MKIMM(BasetoPos[firstchar(a)] + 1); }
ALGEB IntToBBuiltin(ALGEB k) { return OneChar[(unsigned char)IntToB(code(k))]; }
ALGEB BBBToIntBuiltin(ALGEB fname, ALGEB a) {
    Chars c = threeletters(fname, a);
    return MKIMM(BBBToInt(c.s, c.n) + 1);
}
ALGEB IntToBBBBuiltin(ALGEB k) { return CreateString(IntToBBB(code(k))); }
ALGEB BaseToIntBuiltin(ALGEB a) {
    Chars c = textof(a);
    return MKIMM(BaseToInt(c.s, c.n) + 1);
}
ALGEB IntToBaseBuiltin(ALGEB k) { return CreateString(IntToBase(code(k))); }

ALGEB CodonToIntBuiltin(ALGEB fname, ALGEB t) {
    WORD n = LENGTH2(t) - 1;
    char b[3];
    if (n == 3) {
        for (int k = 0; k < 3; k++) {
            if (!textual(A(t[k + 1]))) kinderror(fname);
            b[k] = (char)firstchar(A(t[k + 1]));
        }
    } else if (n == 1) {
        if (!textual(A(t[1]))) kinderror(fname);
        Chars c = threeletters(fname, A(t[1]));
        for (int k = 0; k < 3; k++)
            b[k] = c.s[k];
    } else {
        counterror(fname, n);
    }
    return MKIMM(CodonToInt(b[0], b[1], b[2]) + 1);
}

ALGEB antiparallelBuiltin(ALGEB nuc) { return antiparallel(nuc); }

ALGEB CreateOrigDayMatrixCountsBuiltin(ALGEB mutations, ALGEB counts, ALGEB pam) {
    return CreateOrigDayMatrix(mutations, counts, pam);
}

ALGEB CreateOrigDayMatrixRatesBuiltin(ALGEB logpam1, ALGEB pam) {
    return CreateOrigDayMatrix(logpam1, 0, pam);
}

ALGEB SearchDayMatrixBuiltin(ALGEB pam, ALGEB dms) {
    ALGEB s = A(dms[1]);
    bool ok = LENGTH2(s) > 1;
    for (WORD k = 1; ok && k < LENGTH2(s); k++)
        ok = daymatrix(A(s[k])) != nullptr;
    if (!ok) userror2(dms, "is not a list of Dayhoff matrices");
    return A(s[SearchDayMatrix(DBL(pam), s)]);
}

// ---------------------------------------------------------------------------
// Pairwise alignment.

ALGEB MatchBuiltin(ALGEB fname, ALGEB t) {
    const WORD n = LENGTH(t) - 1;
    if (n == 1) {
        if (!is(A(t[1]), FUNCTION)) counterror(fname, n);
        ALGEB r = CallPolymorphic(copyalg(t), ININMatch);
        if (r == 0) kinderror(fname);
        return r;
    }
    if (n < 2 || n > 7) counterror(fname, n);
    return MatchCons(t);
}

ALGEB DynProgStringsBuiltin(ALGEB fname, ALGEB t) {
    const WORD n = LENGTH(t) - 1;
    if (n == 1) {
        ALGEB a = A(t[1]);
        if (is(a, FUNCTION) && EqualText(A(a[1]), "Alignment") && ID2(A(a[1])) == NAME)
            return DynProgStrings(0, 0, a, false);
    }
    if (n < 1 || !is(A(t[1]), MATCH)) {
        if (n != 2 && n != 3) counterror(fname, n);
        kinderror(fname);
    }
    if (n != 2 && n != 3) counterror(fname, n);
    if (daymatrix(A(t[2])) == nullptr) kinderror(fname);
    return DynProgStrings(A(t[1]), A(t[2]), 0, n == 3);
}

ALGEB DynProgScoreBuiltin(ALGEB t) { return DynProgScore(t); }

ALGEB DynProgBothBuiltin(ALGEB t) { return DynProgBoth(t); }

// ---------------------------------------------------------------------------
// PAM distances and the database scan.

ALGEB EstimatePamBuiltin(ALGEB t) { return EstimatePam(A(t[1]), A(t[2]), A(t[3])); }

// (s, database, DayMatrix, goal [, first..last]); s is an entry number or a sequence.
ALGEB AlignOneAllBuiltin(ALGEB fname, ALGEB t) {
    const WORD n = LENGTH(t) - 1;
    if (n < 4) counterror(fname, n);
    ALGEB s = A(t[1]);
    if (!numeric(s) && !textual(s)) kinderror(fname);
    WORD first = 1, last = 2147483647;
    if (n == 5) {
        ALGEB r = A(t[5]);
        if (!numeric(A(r[1])) || !numeric(A(r[2]))) userror("range of entries must be numeric");
        auto bound = [](ALGEB x) {
            const double v = std::rint(DBL(x));
            return (WORD)std::fmax(-1, std::fmin(v, 4e18));
        };
        first = bound(A(r[1]));
        last = bound(A(r[2]));
    }
    return AlignOneAll(s, (const database *)A(t[2]), daymatrix(A(t[3])), DBL(A(t[4])), first, last,
                       ScanPlan{ScanThreads(), true});
}
