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

// The evaluator relies on the shapes the parser gives: a structure of another shape is refused
// here, each with a message of its own.

// Locals that a Local(k) may name: those of the procedure structure being assembled, -1
// outside one (the activation that evaluates the result checks the index itself).
static WORD LocalsInScope = -1;

struct LocalsScope {
    WORD saved = LocalsInScope;
    explicit LocalsScope(WORD n) { LocalsInScope = n; }
    ~LocalsScope() { LocalsInScope = saved; }
    LocalsScope(const LocalsScope &) = delete;
    LocalsScope &operator=(const LocalsScope &) = delete;
};

static bool namesonly(ALGEB x) {
    if (!is(x, EXPSEQ)) return false;
    for (WORD i = 1; i < LENGTH2(x); i++)
        if (!isname(A(x[i]))) return false;
    return true;
}

// A parameter is a name, or name:type.
static bool paramlist(ALGEB x) {
    if (!is(x, EXPSEQ)) return false;
    for (WORD i = 1; i < LENGTH2(x); i++) {
        ALGEB p = A(x[i]);
        if (!isname(p) && !(IDLENGTH(p, COLON, 3) && isname(A(p[1])))) return false;
    }
    return true;
}

// Locals as a procedure runs them, or the declared locals and globals of one not yet run.
static bool unconverted(ALGEB l) { return IDLENGTH(l, EXPSEQ, 3) && is(A(l[1]), EXPSEQ); }

[[noreturn]] static void badpart(const char *what) {
    char msg[200];
    snprintf(msg, sizeof msg, "procedure: %s", what);
    userror(msg);
}

// The number of locals a procedure's body may name, from its locals part.
static WORD localcount(ALGEB l) {
    if (unconverted(l)) l = A(l[1]);
    return is(l, EXPSEQ) ? LENGTH2(l) - 1 : 0;
}

// Parameters, locals, options and optional-parameter table of an assembled procedure.
static void checkprocedure(ALGEB r) {
    if (!paramlist(A(r[1]))) badpart("the parameters must be an expseq of names and name:type");
    ALGEB locals = A(r[2]);
    bool plain = !unconverted(locals);
    if (plain ? !namesonly(locals) : !namesonly(A(locals[1])) || !namesonly(A(locals[2])))
        badpart("the locals must be an expseq of names");
    if (!is(A(r[3]), EXPSEQ)) badpart("the options must be an expseq");
    WORD nlocals = localcount(locals);
    if (LENGTH2(r) == 8) {
        ALGEB opt = A(r[7]);
        if (!is(opt, EXPSEQ)) badpart("the optional parameters must be an expseq");
        // A procedure that has run keeps (declaration, default, slot of its local) triples.
        if (plain) {
            if ((LENGTH2(opt) - 1) % 3 != 0)
                badpart(
                    "the optional parameters must come in (declaration, default, local) triples");
            for (WORD i = 3; i < LENGTH2(opt); i += 3) {
                ALGEB slot = A(opt[i]);
                if (!IMMINT(slot) || IMMVAL(slot) < 1 || IMMVAL(slot) > nlocals)
                    badpart("an optional parameter must name one of the locals");
            }
        }
    }
}

// Kinds whose length StructureLength leaves open, but not every length of which the evaluator
// can run.
static void checkcount(ALGEB cls, WORD type, WORD n) {
    char msg[600];
    switch (type) {
    case TABLEREF:
    case FUNCTION:
        if (n >= 1) return;
        snprintf(msg, sizeof msg, "%.500s should have at least 1 argument", NAMETEXT(cls));
        break;
    case CATENATE:
    case COLON:
        if (n == 2) return;
        countfailure(cls, 2, n);
    case ASSIGN:
    case IF:
        if (n >= 2) return;
        snprintf(msg, sizeof msg, "%.500s should have at least 2 arguments instead of %ld",
                 NAMETEXT(cls), (long)n);
        break;
    case FOR:
        if (n == 4 || n == 6) return;
        snprintf(msg, sizeof msg, "%.500s should have 4 or 6 arguments instead of %ld",
                 NAMETEXT(cls), (long)n);
        break;
    default: return;
    }
    userror(msg);
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
        if (LocalsInScope >= 0 && (toint(k) < 1 || toint(k) > LocalsInScope)) {
            char msg[100];
            snprintf(msg, sizeof msg, "Local(%ld) names no local of a procedure with %ld locals",
                     (long)toint(k), (long)LocalsInScope);
            userror(msg);
        }
        ALGEB r = Newl1(2, LOCAL);
        r[1] = toint(k);
        return r;
    }
    if (cls == ININParam) {
        if (n != 1) userror("param must have one argument");
        ALGEB k = assemble(A(s[2]));
        // 0, -1 and -2 stand for nargs, args and procname.
        if (!numeric(k) || toint(k) < -2) userror("Param needs an integer of at least -2");
        ALGEB r = Newl1(2, PARAM);
        r[1] = toint(k);
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
        checkcount(cls, type, n);
    }
    ALGEB r = Newl1(n + 1, type);
    if (type == PROC) {
        // The body, and the defaults of optional parameters, see this procedure's locals.
        for (WORD i = 1; i <= n; i++)
            r[i] = W(i <= 3 ? assemble(A(s[i + 1])) : null);
        LocalsScope scope(localcount(A(r[2])));
        for (WORD i = 4; i <= n; i++)
            r[i] = W(assemble(A(s[i + 1])));
        checkprocedure(r);
        return r;
    }
    for (WORD i = 1; i <= n; i++)
        r[i] = W(assemble(A(s[i + 1])));
    switch (CASE_ID2(r)) {
    case PROD_CASE: return foldconstants(r, false);
    case SUM_CASE: return foldconstants(r, true);
    case POWER_CASE: return foldpower(r);
    default: return r;
    }
}
