// Statement execution: assignments, conditionals, loops, iterators and the printing of results.
#include "evalstat.h"

#include <cfloat>
#include <cmath>
#include <cstdio>

#include "Lumbra.h"
#include "compiled.h"
#include "eval.h"
#include "evald.h"
#include "evalfunc.h"
#include "sets.h"
#include "selector.h"
#include "type.h"

static void printresult(ALGEB v) {
    lineprint(v, 0);
    mendline();
}

static ALGEB evalst2(ALGEB s, int lev);

ALGEB evalstat(ALGEB s, int lev) {
    WORD level;
    ALGEB r;
    {
        LevelRaise up(1);
        stackcheck();
        level = ENVevlstlev;
        r = evalst2(s, lev);
    }
    GcAfterStatement(level);
    return r;
}

static ALGEB evalassign(ALGEB s, int lev) {
    WORD level = ENVevlstlev;
    return assignvalue(s, unwrap(eval(A(s[LENGTH2(s) - 1]))), level, lev);
}

static ALGEB evalif(ALGEB s) {
    LevelRaise up(3);
    WORD L = LENGTH2(s);
    for (WORD i = 1; i + 1 < L; i += 2)
        if (evalbool(A(s[i]))) return evalstat(A(s[i + 1]), 1);
    if (L % 2 == 0) return evalstat(A(s[L - 1]), 1);
    return null;
}

static ALGEB evalexpr(ALGEB s, int lev) {
    WORD level = ENVevlstlev;
    return exprvalue(unwrap(eval(s)), level, lev);
}

ALGEB exprvalue(ALGEB v, WORD level, int lev) {
    if (v == ININbreak || v == ININnext) {
        funret = v;
        lumbra_jump(Break);
    }
    bool show;
    if (lev == 2 || ISNULL(v)) {
        show = level <= DebugLevel;
    } else {
        shiftresults(v);
        show = level <= DebugLevel || (prtflag == 1 && printedatlevel(level));
    }
    if (show) printresult(v);
    if (level <= DebugLevel) InteractiveDebugger();
    return v;
}

static ALGEB evalst2(ALGEB s, int lev) {
    if (InterruptNow) jumpback();
    Environment->ctx[CTX_STAT] = W(s);
    switch (CASE_ID(s)) {
    case ASSIGN_CASE: return evalassign(s, lev);
    case FOR_CASE: return LENGTH2(s) == 7 ? forfrom(s) : forin(s);
    case IF_CASE: return evalif(s);
    case STATSEQ_CASE: {
        ALGEB r = null;
        for (WORD i = 1; i < LENGTH2(s); i++)
            r = evalstat(A(s[i]), 1);
        return r;
    }
    case STOP_CASE: normalexit();
    default:
        // Data of every kind may stand as a statement (assemble builds such); only the
        // collector's own blocks may not.
        ASSERT(CASE_ID(s) < GARBAGE_CASE ||
               (CASE_ID(s) >= TEXT_CASE && CASE_ID(s) <= COMPRESSED_CASE));
        return evalexpr(s, lev);
    }
}

// ---------------------------------------------------------------------------
// Assignment

[[noreturn]] static void badtarget() { userror("invalid left hand side in assignment"); }

static void assignname(ALGEB name, ALGEB rhs, int prfl) {
    if (name == ININprintlevel) {
        if (!numeric(rhs)) userror("printlevel must be a word size integer");
        double d = DBL(rhs);
        if (!(d >= -2147483647.0 && d <= 2147483647.0))
            userror("printlevel must be a word size integer");
        ENVprintlevel = (WORD)d;
    } else {
        if (name == ININDB && !is(rhs, DNAFILE)) userror("DB can only be assigned a database");
        ALGEB old = A(name[1]);
        if (prfl != -1 && old != 0 && rhs != name && ENVprintlevel >= 0 && is(old, PROC)) {
            FILE *out = w_unit != 0 ? w_unit : stdout;
            fprintf(out, "Warning: procedure %s reassigned\n", NAMETEXT(name));
        }
    }
    name[1] = rhs == name ? 0 : W(rhs);
    if (prfl != 0 && prfl != -1) {
        lineprint(name, 0);
        prpart(" := ");
        printresult(rhs);
    }
}

static void assigntableref(ALGEB t, ALGEB rhs, int prfl) {
    WORD L = LENGTH2(t);
    if (L > 25) userror("too many indices");
    ALGEB idx = Newl1(L - 1, EXPSEQ);
    for (WORD i = 2; i < L; i++)
        idx[i - 1] = W(eval(A(t[i])));
    selector(eval(A(t[1])), idx, 1, rhs);
    if (prfl != 0 && prfl != -1) {
        lineprint(evparloc(A(t[1])), 0);
        prpart("[");
        prlist(idx, ",");
        prpart("] := ");
        printresult(rhs);
    }
}

// The elements that a sequence, list or set of targets or values stands for.
static ALGEB elements(ALGEB x) { return ID2(x) == EXPSEQ ? x : A(x[1]); }

static void assignmany(ALGEB targets, ALGEB rhs, int prfl) {
    if (IMMINT(rhs) || (ID2(rhs) != EXPSEQ && ID2(rhs) != LIST && ID2(rhs) != SET))
        userror("right hand side must be expression sequence, list or set");
    ALGEB ts = elements(targets), vs = elements(rhs);
    WORD n = LENGTH(ts);
    if (n != LENGTH(vs)) userror("both lists must have the same length");
    for (WORD i = 1; i < n; i++)
        assign(A(ts[i]), eval(A(vs[i])), prfl);
}

void assign(ALGEB name, ALGEB rhs, int prfl) {
    if (IMMINT(name)) badtarget();
    if (ID2(name) == LOCAL && LENGTH2(name) == 2) {
        name = localof(Actvlocals, name[1]); // a local of the running procedure, the common target
        if (IMMINT(name)) badtarget();
    } else if (ID2(name) == LOCAL || ID2(name) == PARAM) {
        name = evparloc(name);
        if (IMMINT(name)) badtarget();
    }
    switch (CASE_ID2(name)) {
    case NAME_CASE: assignname(name, rhs, prfl); return;
    case TABLEREF_CASE: assigntableref(name, rhs, prfl); return;
    case EXPSEQ_CASE:
    case LIST_CASE:
    case SET_CASE: assignmany(name, rhs, prfl); return;
    default: badtarget();
    }
}

// ---------------------------------------------------------------------------
// Loops

// Runs a loop without a variable: a name of its own that nothing else can see.
static ALGEB loopvariable(ALGEB v) {
    if (ISNULL(v)) return Newl1(3, NAME);
    return evalname(v);
}

// A break or next that reached the loop whose record is env: the loop's environment is current
// again; true for break, which ends the loop. Everything else goes on to outer handlers.
static bool loopends(const Unwind &u, EnvRecord &env) {
    if (u.code != Break) throw;
    Environment = &env;
    if (funret == ININbreak) return true;
    ASSERT(funret == ININnext);
    return false;
}

ALGEB forfrom(ALGEB s, const CNode *ccond, const CNode *cbody) {
    ALGEB var = loopvariable(A(s[1]));
    double f = evald(A(s[2]));
    double b = evald(A(s[3]));
    ALGEB to = A(s[4]);
    double t = ISNULL(to) ? (b >= 0 ? DBL_MAX : -DBL_MAX) : evald(to);
    // An infinite bound (10^400) is no number the loop could reach.
    if (!isname(var) || !std::isfinite(f) || !std::isfinite(b) || std::isnan(t) ||
        (!ISNULL(to) && !std::isfinite(t)))
        userror("unable to execute for statement");
    ALGEB cond = A(s[5]), body = A(s[6]);
    ALGEB r = null;
    assign(var, NewNumber(f), 0);
    bool smallstep = b >= -1073741824.0 && b <= 1073741823.0 && b == std::floor(b);
    WORD step = smallstep ? (WORD)b : 0;
    // The variable is a NAME; unless it is one that reads or assigns specially, its value word
    // is read and set directly.
    bool plainvar = !isditto(var) && var != ININprintlevel && var != ININDB;

    EnvSave keep;
    EnvRecord env = {1, ENVevlstlev, Environment->ctx};
    Environment = &env;
    for (double cur = f; b > 0 ? cur <= t : cur >= t;) {
        if (cond != ININtrue) {
            LevelRaise up(1);
            if (!(ccond != 0 ? runbool(ccond) : evalbool(cond))) break;
        }
        {
            LevelRaise up(3);
            try {
                r = cbody != 0 ? runstat(cbody) : evalstat(body, 1);
            } catch (const Unwind &u) {
                if (loopends(u, env)) break;
            }
            ALGEB x = plainvar ? A(var[1]) : quickvalue(var), next;
            if (x != 0 && IMMINT(x) && smallstep) {
                // Both below 2^31: the sum of the doubles is exact.
                WORD k = IMMVAL(x) + step;
                cur = (double)k;
                next = k >= -1073741824 && k <= 1073741823 ? MKIMM(k) : NewNumberObject(cur);
            } else {
                double v = x != 0 && IMMINT(x)          ? (double)IMMVAL(x)
                           : x != 0 && ID2(x) == NUMBER ? NUMVAL(x)
                                                        : evald(var);
                if (std::isnan(v)) userror("for loop variable reassigned improperly");
                cur = v + b;
                next = NewNumber(cur);
            }
            ALGEB old = A(var[1]);
            if (plainvar && (old == 0 || !is(old, PROC)))
                var[1] = W(next);
            else if (!quickassign(var, next, -1))
                assign(var, next, -1);
        }
        // A body that allocates but finishes no statement of its own at this depth would keep
        // the collector from condemning what earlier rounds left behind.
        if (gene[gcgen] > ENVevlstlev + 1) evalstat(null, 1);
    }
    return r;
}

// The loop over an object whose class has an iterator method: the method runs the loop,
// handing each element to iterate(), which finds this statement by its container `iterate`.
static ALGEB forwithiterator(ALGEB s, ALGEB c, ALGEB method) {
    ALGEB marked = copyalg(s);
    marked[2] = W(ININiterate);
    Environment->ctx[CTX_STAT] = W(marked);
    try {
        evalfunc(valuenv(method), New2(EXPSEQ, c), method);
    } catch (const Unwind &u) {
        if (u.code != BreakReturnIterator) throw;
        if (funret != ININbreak) lumbra_jump(Return);
    }
    return null;
}

ALGEB forin(ALGEB s, const CNode *ccond, const CNode *cbody) {
    ALGEB var = loopvariable(A(s[1]));
    ALGEB c = updategen(unwrap(eval(A(s[2]))));
    ALGEB cond = A(s[3]), body = A(s[4]);
    ALGEB r = null;

    EnvSave keep;
    EnvRecord env = {1, ENVevlstlev, Environment->ctx};
    Environment = &env;
    if (is(c, FUNCTION)) {
        ALGEB method = PolymorphicFunction(c, "iterator");
        if (method != 0) return forwithiterator(s, c, method);
    }
    LevelRaise up(3);
    WORD n = numterms(c);
    for (WORD i = 1; i <= n; i++) {
        try {
            assign(var, op1(i, c), i == 1 ? 0 : -1);
            if (cond != ININtrue) {
                LevelRaise w(1);
                if (!(ccond != 0 ? runbool(ccond) : evalbool(cond))) break;
            }
            r = cbody != 0 ? runstat(cbody) : evalstat(body, 1);
        } catch (const Unwind &u) {
            if (loopends(u, env)) break;
        }
    }
    return r;
}

void iterate(ALGEB x) {
    ALGEB elem = IDLENGTH(x, EXPSEQ, 2) ? A(x[1]) : copyalg(x);
    WORD *found = 0;
    for (WORD *c = (WORD *)ENVlink; c != 0; c = (WORD *)c[CTX_LINK]) {
        ALGEB st = A(c[CTX_STAT]);
        if (st != 0 && IDLENGTH(st, FOR, 5) && A(st[2]) == ININiterate) {
            found = c;
            break;
        }
    }
    if (found == 0) userror("iterate must only be used within an iterator");

    // The body runs with the locals and parameters of the procedure holding the loop.
    WORD ctx[LumbraStackSize];
    memcpy(ctx, found, sizeof ctx);
    auto copyback = [&] {
        for (int k = CTX_QUOTE; k <= CTX_TQUOTE; k++)
            found[k] = ctx[k];
    };
    EnvSave keep;
    EnvRecord env = {1, ENVevlstlev, ctx};
    Environment = &env;
    ALGEB st = A(found[CTX_STAT]);
    ALGEB var = A(st[1]);
    try {
        if (is(var, LOCAL) && LENGTH2(var) == 2)
            localof(A(ctx[CTX_LOCALS]), var[1])[1] = W(elem);
        else if (is(var, LOCAL))
            EvalLexicalName(var)[1] = W(elem);
        else if (isname(var))
            var[1] = W(elem);
        else if (!ISNULL(var))
            assign(var, elem, -1);
        if (A(st[3]) != ININtrue && !evalbool(A(st[3]))) {
            funret = ININbreak;
            lumbra_jump(BreakReturnIterator);
        }
        {
            LevelRaise up(3);
            evalstat(A(st[4]), 1);
        }
        copyback();
    } catch (const Unwind &u) {
        switch (u.code) {
        case Break:
            copyback();
            if (funret == ININnext) return;
            ASSERT(funret == ININbreak);
            lumbra_jump(BreakReturnIterator);
        case BreakReturnIterator: copyback(); throw;
        case Return: lumbra_jump(BreakReturnIterator);
        default: throw;
        }
    }
}

void jumpback() {
    CloseAllInput();
    if (read_units[0].r_unit != nullptr && read_units[0].r_unit != stdin) Rclose();
    InterruptNow = 0;
    lumbra_jump(Main);
}

// ---------------------------------------------------------------------------
// The name table listed by type

ALGEB names(ALGEB typ) {
    // Collect first: a user-defined type may install names while the table is walked.
    WORD count = 0;
    for (WORD b = 1; b < LENGTH2(nametab); b++) {
        ALGEB bucket = A(nametab[b]);
        if (bucket == 0) continue;
        for (WORD i = 1; bucket[i] != 0; i += 2)
            count++;
    }
    ALGEB all = Newl1(count + 1, EXPSEQ);
    WORD k = 1;
    for (WORD b = 1; b < LENGTH2(nametab); b++) {
        ALGEB bucket = A(nametab[b]);
        if (bucket == 0) continue;
        for (WORD i = 1; bucket[i] != 0; i += 2)
            all[k++] = bucket[i + 1];
    }

    bool assigned = isname(typ) && EqualText(typ, "assigned");
    WORD n = 1;
    for (WORD i = 1; i <= count; i++) {
        ALGEB nm = A(all[i]);
        if (isditto(nm)) continue;
        ALGEB val = nm[1] != 0 ? A(nm[1]) : nm;
        bool keep = assigned ? val != nm : type(nm, typ) || type(val, typ);
        if (keep) all[n++] = W(nm);
    }
    ALGEB r = Newl1(n, EXPSEQ);
    memcpy(r + 1, all + 1, (size_t)(n - 1) * sizeof(WORD));
    return r;
}
