// Procedure invocation: typed arguments, activations, optional parameters, result types,
// trace lines and tracebacks; error traps, library calls from native code and flattening.
#include "evalfunc.h"

#include <cstdio>
#include <cstring>

#include "Lumbra.h"
#include "compiled.h"
#include "eval.h"
#include "evalstat.h"
#include "simplfnc.h"
#include "type.h"

ALGEB OptParamMatch = 0;

// The print level of a procedure with option trace: large enough that its trace lines and
// results always print.
constexpr WORD TRACEPRINTLEVEL = 214748364;
constexpr int PROCLEVEL = 19;

static WORD argcount(ALGEB t) { return t != 0 && is(t, EXPSEQ) ? LENGTH2(t) - 1 : 0; }

const char *ordinal(WORD i) { return i == 1 ? "st" : i == 2 ? "nd" : i == 3 ? "rd" : "th"; }

void prwrongargument(ALGEB functname, WORD i, ALGEB param, ALGEB arg) {
    lineprint(functname, 0);
    char head[64];
    snprintf(head, sizeof head, " expects a %ld%s argument, ", (long)i, ordinal(i));
    prpart(head);
    lineprint(A(param[1]), 0);
    prpart(":");
    lineprint(A(param[2]), 0);
    prpart(", found: ");
    lineprint(arg, 0);
}

[[noreturn]] static void wrongargument(ALGEB functname, WORD i, ALGEB param, ALGEB arg) {
    static char buf[PRINTBUFSIZE];
    constexpr size_t CUT = 496;
    {
        PrintIntoString into(buf);
        prwrongargument(functname, i, param, arg);
    }
    if (strlen(buf) >= CUT) strcpy(buf + CUT, "...");
    userror(buf);
}

// Checks the typed parameters; a polymorphic procedure of two arguments may hand the call to
// a method instead, whose result is returned (0 otherwise).
static ALGEB checkarguments(ALGEB r, ALGEB t, ALGEB functname, WORD nargs) {
    ALGEB params = A(r[PROC_PARAMS]);
    WORD np = LENGTH(params) - 1;
    for (WORD i = 1; i <= np && i <= nargs; i++) {
        ALGEB p = A(params[i]);
        if (!is(p, COLON) || type(A(t[i]), A(p[2]))) continue;
        if (nargs == 2 && hasoption(r, ININpolymorphic)) {
            ALGEB v = BinaryPolymorphic(functname, A(t[1]), A(t[2]));
            if (v != 0) return v;
        }
        wrongargument(functname, i, p, A(t[i]));
    }
    return 0;
}

// The activation's own locals: fresh unassigned NAMEs, one per local of the procedure. They
// are carved with their sequence from one block of `carved` words (0 when not): each keeps a
// header of its own, so that the sequence alone can go back when the activation ends, or the
// whole block when no NAME was handed out.
static ALGEB newlocals(ALGEB r, WORD &carved) {
    carved = 0;
    ALGEB proto = A(r[PROC_LOCALS]);
    WORD L = LENGTH(proto);
    if (L <= 1) return null;
    WORD total = L;
    for (WORD i = 1; i < L && total <= MAXOBJLEN; i++)
        total = isname(A(proto[i])) ? total + LENGTH2(A(proto[i])) : MAXOBJLEN + 1;
    if (total > MAXOBJLEN) {
        ALGEB l = Newl1(L, EXPSEQ);
        for (WORD i = 1; i < L; i++) {
            ALGEB c = copyalg(A(proto[i]));
            c[1] = 0;
            l[i] = W(c);
        }
        return l;
    }
    ALGEB l = get_space(total);
    l[0] = L | EXPSEQ | genpat;
    ALGEB c = l + L;
    for (WORD i = 1; i < L; i++) {
        ALGEB n = A(proto[i]);
        WORD ln = LENGTH2(n);
        c[0] = (n[0] & COMPLGC) | genpat;
        c[1] = 0;
        for (WORD k = 2; k < ln; k++)
            c[k] = n[k];
        l[i] = W(c);
        c += ln;
    }
    carved = total;
    return l;
}

static void releaselocals(ALGEB l) {
    if (l != null && !IMMINT(l)) release(l, LENGTH2(l));
}

// Further arguments go to the first unassigned optional parameter that accepts them; the
// rest take their defaults, evaluated in the activation.
static void bindoptional(ALGEB r, ALGEB t, WORD nargs) {
    ALGEB table = A(r[PROC_OPTIONAL]);
    ALGEB locals = Actvlocals;
    WORD nt = (LENGTH(table) - 1) / 3;
    auto local = [&](WORD i) {
        ALGEB slot = A(table[3 * i]);
        ASSERT(IMMINT(slot) && IMMVAL(slot) > 0 && IMMVAL(slot) < LENGTH(locals));
        return A(locals[IMMVAL(slot)]);
    };
    for (WORD j = LENGTH(A(r[PROC_PARAMS])); j <= nargs; j++) {
        ALGEB a = A(t[j]);
        WORD i = 1;
        for (; i <= nt; i++) {
            ALGEB loc = local(i);
            if (loc[1] == 0 && type(a, A(table[3 * i - 2]))) {
                loc[1] = W(OptParamMatch);
                break;
            }
        }
        if (i > nt) userror2(a, "is not matched by any optional parameter");
    }
    for (WORD i = 1; i <= nt; i++) {
        ALGEB loc = local(i);
        ALGEB dflt = A(table[3 * i - 1]);
        if (loc[1] == 0 && dflt != ININNoDefault) loc[1] = W(eval(dflt));
    }
}

static void checkresult(ALGEB r, ALGEB v, ALGEB functname) {
    ALGEB rt = A(r[PROC_RESULT]);
    if (ISNULL(rt) || type(v, rt)) return;
    lineprint(functname, 0);
    prpart(" should return ");
    lineprint(rt, 0);
    prpart(", returned: ");
    lineprint(v, 0);
    mendline();
    userror("invalid return value");
}

static bool endswith_lprint(ALGEB functname) {
    if (!is(functname, NAME)) return false;
    size_t n = strlen(NAMETEXT(functname));
    return n >= 7 && strcmp(NAMETEXT(functname) + n - 7, "_lprint") == 0;
}

static void traceline(const char *head, ALGEB functname, const char *sep, ALGEB v,
                      const char *tail) {
    prpart(head);
    lineprint(functname, 0);
    if (sep != 0) {
        prpart(sep);
        lineprint(v, 0);
    }
    prpart(tail);
    mendline();
}

// What the ways out of an activation share: the caller's environment, and its profile and
// trace lines.
struct Activation {
    EnvRecord *caller;
    const char *pname;
    WORD level;
    bool traced;
    ALGEB functname;
};

static void leave(const Activation &a, const char *head, ALGEB v) {
    Environment = a.caller;
    if (printprofile) prtprof(0, a.pname, (int)(a.level + PROCLEVEL));
    if (a.traced) traceline(head, a.functname, " = ", v, "}");
}

// An error passing through an activation: the innermost one keeps its locals and statement for
// the report, every one its call.
static void recordtraceback(ALGEB r, ALGEB t, ALGEB functname, ALGEB locals, ALGEB stat) {
    if (ErrorLevel == 0) {
        TraceBackLocals = locals;
        TraceBackCurrproc = r;
        TraceBackCurrstat = stat;
    }
    if (ErrorLevel < MAXTRACEBACK) {
        TraceBackArgs[ErrorLevel] = t;
        TraceBackFunctname[ErrorLevel] = functname;
        ErrorLevel++;
    }
}

ALGEB evalfunc(ALGEB r, ALGEB t, ALGEB functname) {
    // Every call passes here, also those whose body never reaches a statement boundary.
    stackcheck();
    // A procedure still as parsed (assemble can give one) is made executable before it runs.
    if (isunconverted(r)) r = simplfnc(r, 0, 0);
    WORD nargs = argcount(t);
    if (nargs == 1 && hasoption(r, ININpolymorphic)) {
        ALGEB v = CallPolymorphic(t, functname);
        if (v != 0) return v;
    }
    // Argument errors are the caller's: the activation does not exist yet.
    if (ALGEB v = checkarguments(r, t, functname, nargs)) return v;

    WORD level = ENVevlstlev;
    WORD plev = 1;
    if (hasoption(r, ININtrace))
        plev = TRACEPRINTLEVEL;
    else if (IMMINT(A(ININprintlevel[1])))
        plev = IMMVAL(A(ININprintlevel[1]));
    WORD ctx[LumbraStackSize];
    ctx[CTX_LINK] = W(Environment->ctx);
    ctx[CTX_PRINTLEVEL] = plev;
    WORD carved, lent = LocalsLent;
    ctx[CTX_LOCALS] = W(newlocals(r, carved));
    ctx[CTX_PARAMS] = W(t);
    ctx[CTX_FUNCTNAME] = W(functname);
    ctx[CTX_PROC] = W(r);
    for (int i = CTX_STAT; i < LumbraStackSize; i++)
        ctx[i] = W(null);
    EnvSave keep;
    EnvRecord env = {1, level, ctx};
    Environment = &env;

    const char *pname = isname(functname) ? NAMETEXT(functname) : "unknown";
    if (printprofile) prtprof(1, pname, (int)(level + PROCLEVEL));
    bool e = 4 * plev > level + 14 || level <= DebugLevel;
    if (e) {
        if (endswith_lprint(functname))
            traceline("{--> enter ", functname, 0, 0, "");
        else
            traceline("{--> enter ", functname, ", args = ", t, "");
    }
    env.evlstlev += PROCLEVEL;

    ALGEB v = 0;
    int code = 0;
    try {
        if (LENGTH2(r) > 7) bindoptional(r, t, nargs);
        const CNode *body = compiledbody(r);
        v = body != 0 ? runstat(body) : evalstat(A(r[PROC_BODY]), 1);
    } catch (const Unwind &u) {
        code = u.code;
    }
    if (code == Return) {
        v = funret;
        code = 0;
    }
    // A body of no statements has no value.
    if (code == 0 && v == 0) v = null;
    if (code == 0) {
        try {
            checkresult(r, v, functname);
        } catch (const Unwind &u) {
            code = u.code;
        }
    }

    ALGEB locals = A(ctx[CTX_LOCALS]);
    Activation act = {keep.saved, pname, level, e, functname};
    switch (code) {
    case 0:
        // A module's locals outlive it: the procedures it made still reach them.
        if (ismodule(r))
            r[PROC_LOCALS] = W(locals);
        else if (carved != 0 && LocalsLent == lent)
            release(locals, carved);
        else
            releaselocals(locals);
        leave(act, "<-- exit ", v);
        return updategen(v);
    case Break: Environment = keep.saved; userror("break or next outside do loop");
    case Error:
        recordtraceback(r, t, functname, locals, A(ctx[CTX_STAT]));
        leave(act, "<-- error in ", A(ININlasterror[1]));
        lumbra_jump(Error);
    case BreakReturnIterator:
        releaselocals(locals);
        leave(act, "<-- exit ", funret);
        lumbra_jump(BreakReturnIterator);
    default: lumbra_jump(code);
    }
}

ALGEB traperror(ALGEB expr) {
    EnvSave keep;
    EnvRecord env = {1, ENVevlstlev, Environment->ctx};
    Environment = &env;
    ALGEB v;
    try {
        v = eval(expr);
    } catch (const Unwind &u) {
        Environment = keep.saved;
        switch (u.code) {
        case Error:
            // The error is handled here; its traceback must not reach a later report.
            ErrorLevel = 0;
            return A(ININlasterror[1]);
        case Return:
        case Break:
            ININlasterror[1] = W(naminstall("return, break or next out of context"));
            return A(ININlasterror[1]);
        default: throw;
        }
    }
    ININlasterror[1] = 0;
    if (IDLENGTH(v, EXPSEQ, 2)) v = A(v[1]);
    return v;
}

ALGEB evalsysf(const char *fn, ALGEB s) {
    ALGEB n = naminstall(fn);
    ALGEB v = A(n[1]);
    if (v == 0) v = eval(New3(FUNCTION, ININReadLibrary, n));
    if (isstub(v)) v = eval(v);
    if (v != 0 && is(v, PROC)) return evalfunc(v, s, n);
    char msg[MAX_NAME_LENGTH];
    snprintf(msg, sizeof msg, "%s: missing system function", fn);
    userror(msg);
}

ALGEB FlattenExpseq(ALGEB t, WORD rlt) {
    WORD L = LENGTH2(t);
    WORD count = 0;
    for (WORD i = 1; i < L; i++) {
        ALGEB e = A(t[i]);
        count += is(e, EXPSEQ) ? LENGTH2(e) - 1 : 1;
    }
    auto splice = [&](ALGEB into) {
        WORD k = 1;
        for (WORD i = 1; i < L; i++) {
            ALGEB e = A(t[i]);
            if (is(e, EXPSEQ))
                for (WORD j = 1; j < LENGTH2(e); j++)
                    into[k++] = e[j];
            else
                into[k++] = W(e);
        }
    };
    if (rlt == 0 || count + 1 > rlt) {
        ALGEB r = Newl1(count + 1, ID2(t));
        splice(r);
        return r;
    }
    ALGEB scratch = Newl1(count + 1, EXPSEQ);
    splice(scratch);
    memcpy(t + 1, scratch + 1, (size_t)count * sizeof(WORD));
    release(scratch, count + 1);
    StoreLEN(t, count + 1);
    // Words given up at the end stay walkable as a dead block.
    if (count + 1 < L) t[count + 1] = GARBAGE | (L - count - 1);
    return t;
}
