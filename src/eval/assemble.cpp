// Structure decomposition and assembly: any object taken apart into structures whose function
// part is its class name, and such trees turned back into objects, with constant sums,
// products and powers folded on the way.
#include "assemble.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <utility>

#include "Lumbra.h"
#include "eval.h"

ALGEB StringBreak = 0, StringNext = 0;

// The object length each kind must have, -1 where any length will do.
static constexpr std::array<signed char, 64> StructureLength = [] {
    std::array<signed char, 64> t{};
    t.fill(-1);
    for (WORD c : {POWER_CASE, EQUATION_CASE, INEQUAT_CASE, LESSEQ_CASE, LESSTHAN_CASE, AND_CASE,
                   OR_CASE, RANGE_CASE})
        t[c] = 3;
    for (WORD c : {NOT_CASE, LIST_CASE, PARAM_CASE, SET_CASE})
        t[c] = 2;
    t[PROC_CASE] = 7;
    t[STOP_CASE] = 1;
    return t;
}();

static ALGEB rootedtext(ALGEB &slot, const char *s) {
    if (slot == 0) {
        slot = CreateString(s);
        GcRoot(&slot);
    }
    return slot;
}

// ---------------------------------------------------------------------------

ALGEB disassemble(ALGEB s) {
    if (IMMINT(s)) return s;
    stackcheck();
    WORD L = LENGTH2(s);
    switch (CASE_ID2(s)) {
    case NUMBER_CASE:
    case LISTNUM_CASE:
    case TEXT_CASE: return s;
    case NAME_CASE:
        if (s == ININbreak) return rootedtext(StringBreak, "break");
        if (s == ININnext) return rootedtext(StringNext, "next");
        return s;
    case LIST_CASE:
    case SET_CASE: {
        ALGEB e = A(s[1]);
        WORD n = LENGTH(e) - 1;
        ALGEB r = Newl2(n + 2, FUNCTION, ID2(s) == LIST ? ININlist : ININset);
        for (WORD i = 1; i <= n; i++)
            r[i + 1] = W(disassemble(A(e[i])));
        return r;
    }
    // Word 1 of both is a raw index.
    case LOCAL_CASE: return New3(FUNCTION, ININLocal, Newint(s[1]));
    case PARAM_CASE: return New3(FUNCTION, ININParam, Newint(s[1]));
    case MATCH_CASE: {
        Match *m = (Match *)s;
        return New9(FUNCTION, ININMatch, NewNumber(m->Sim), Newint(m->Offset1), Newint(m->Offset2),
                    NewNumber(m->PamNumber), NewNumber(m->PamVariance), Newint(m->Length1),
                    Newint(m->Length2));
    }
    case DNAFILE_CASE:
    case DAYMATRIX_CASE:
    case COMPRESSED_CASE: userror("cannot disassemble object");
    default: break;
    }
    ALGEB cls = ID2(s) == FUNCTION ? ININstructure : type1(s);
    if (cls == 0) userror("cannot disassemble object");
    ALGEB r = Newl2(L + 1, FUNCTION, cls);
    for (WORD i = 1; i < L; i++)
        r[i + 1] = W(disassemble(A(s[i])));
    return r;
}

// ---------------------------------------------------------------------------

// An integer argument: an immediate, or a number rounded to the nearest.
static WORD toint(ALGEB x) { return IMMINT(x) ? IMMVAL(x) : (WORD)std::lrint(DBL(x)); }

static const char *classtext(ALGEB cls, char *buf) {
    if (is(cls, NAME)) return NAMETEXT(cls);
    PrintIntoBuffer(cls, buf);
    return buf;
}

[[noreturn]] static void countfailure(ALGEB cls, WORD expected, WORD found) {
    char msg[600];
    snprintf(msg, sizeof msg, "%.500s should have %d arguments instead of %ld", NAMETEXT(cls),
             (int)expected, (long)found);
    userror(msg);
}

// The kind a class name builds, 0 for none.
static WORD classtype(ALGEB cls) {
    const std::pair<ALGEB, WORD> classes[] = {
        {ININselect, TABLEREF}, {ININcatenate, CATENATE}, {ININpower, POWER},
        {ININtimes, PROD},      {ININplus, SUM},          {ININcolon, COLON},
        {ININequal, EQUATION},  {ININunequal, INEQUAT},   {ININlessequal, LESSEQ},
        {ININless, LESSTHAN},   {ININAnd, AND},           {ININNot, NOT},
        {ININOr, OR},           {ININexpseq, EXPSEQ},     {ININrange, RANGE},
        {ININAssign, ASSIGN},   {ININForLoop, FOR},       {ININIfStat, IF},
        {ININStatSeq, STATSEQ}, {ININStop, STOP}};
    for (auto &c : classes)
        if (c.first == cls) return c.second;
    return 0;
}

// Numeric operands of a sum or product folded into one constant, placed first and left out
// when it is the neutral element.
static ALGEB foldconstants(ALGEB r, bool sum) {
    WORD n = LENGTH2(r) - 1;
    WORD unit = sum ? 0 : 1;
    if (n == 0) return MKIMM(unit);
    if (n == 1) return A(r[1]);
    int numbers = 0;
    bool neutral = false;
    for (WORD i = 1; i <= n; i++) {
        if (numeric(A(r[i]))) numbers++;
        if (Eq(A(r[i]), unit)) neutral = true;
    }
    if (numbers <= 1 && !neutral) return r;
    double c = (double)unit;
    for (WORD i = 1; i <= n; i++)
        if (numeric(A(r[i]))) c = sum ? c + DBL(A(r[i])) : c * DBL(A(r[i]));
    ALGEB coef = NewNumber(c);
    bool withcoef = !Eq(coef, unit);
    WORD k = (withcoef ? 1 : 0) + n - numbers;
    if (k == 0 || (k == 1 && withcoef)) return coef;
    ALGEB t = Newl1(k + 1, ID2(r));
    WORD j = 0;
    if (withcoef) t[++j] = W(coef);
    for (WORD i = 1; i <= n; i++)
        if (!numeric(A(r[i]))) t[++j] = r[i];
    return k == 1 ? A(t[1]) : t;
}

static ALGEB foldpower(ALGEB r) {
    ALGEB base = A(r[1]), ex = A(r[2]);
    if (!numeric(base) && Eq(ex, 1)) return base;
    if (numeric(base) && numeric(ex)) return NewNumber(std::pow(DBL(base), DBL(ex)));
    return r;
}

ALGEB assemble(ALGEB s) {
    if (IMMINT(s)) return s;
    stackcheck();
    switch (CASE_ID2(s)) {
    case NUMBER_CASE:
    case NAME_CASE:
    case LISTNUM_CASE: return s;
    case TEXT_CASE:
        if (s == StringBreak) return ININbreak;
        if (s == StringNext) return ININnext;
        return s;
    case FUNCTION_CASE: break;
    default: userror2(s, "is an invalid argument for assemble");
    }
    ALGEB cls = A(s[1]);
    WORD n = LENGTH2(s) - 2; // the arguments are words 2 .. n+1

    if (cls == ININlist || cls == ININset) {
        ALGEB e = n == 0 ? null : Newl1(n + 1, EXPSEQ);
        for (WORD i = 1; i <= n; i++)
            e[i] = W(assemble(A(s[i + 1])));
        return New2(cls == ININlist ? LIST : SET, e);
    }
    if (cls == ININMatch) {
        if (n != 7) userror("Match should have 7 arguments");
        ALGEB a[7];
        for (int i = 0; i < 7; i++)
            a[i] = assemble(A(s[i + 2]));
        ALGEB r = Newl1(NrALGEBs(1, Match), MATCH);
        Match *m = (Match *)r;
        m->Sim = DBL(a[0]);
        m->Offset1 = toint(a[1]);
        m->Offset2 = toint(a[2]);
        m->PamNumber = (float)DBL(a[3]);
        m->PamVariance = (float)DBL(a[4]);
        m->Length1 = (INT)toint(a[5]);
        m->Length2 = (INT)toint(a[6]);
        return r;
    }
    if (cls == ININLocal) {
        ALGEB k = n == 1 ? assemble(A(s[2])) : 0;
        if (k == 0 || !numeric(k) || toint(k) < 0)
            userror("lexical scoped locals cannot be assembled");
        ALGEB r = Newl1(2, LOCAL);
        r[1] = toint(k);
        return r;
    }
    if (cls == ININParam) {
        if (n != 1) userror("param must have one argument");
        ALGEB r = Newl1(2, PARAM);
        r[1] = toint(assemble(A(s[2])));
        return r;
    }

    WORD type;
    if (cls == ININstructure) {
        if (n < 1) userror2(s, "is an invalid argument for assemble");
        type = FUNCTION;
    } else if (cls == ININprocedure) {
        if (n != 6 && n != 7) {
            char msg[600];
            snprintf(msg, sizeof msg, "%.500s should have 6-7 arguments instead of %ld",
                     NAMETEXT(cls), (long)n);
            userror(msg);
        }
        type = PROC;
    } else {
        type = classtype(cls);
        if (type == 0) {
            static char buf[PRINTBUFSIZE];
            char msg[600];
            snprintf(msg, sizeof msg, "the structure %.500s is invalid for assemble",
                     classtext(cls, buf));
            userror(msg);
        }
        WORD len = StructureLength[type >> ShiftID];
        if (len != -1 && n != len - 1) countfailure(cls, len - 1, n);
    }
    ALGEB r = Newl1(n + 1, type);
    for (WORD i = 1; i <= n; i++)
        r[i] = W(assemble(A(s[i + 1])));
    switch (CASE_ID2(r)) {
    case PROD_CASE: return foldconstants(r, false);
    case SUM_CASE: return foldconstants(r, true);
    case POWER_CASE: return foldpower(r);
    default: return r;
    }
}
