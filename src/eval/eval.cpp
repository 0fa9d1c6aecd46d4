// The expression evaluator: the value of any object in the current activation.
#include "eval.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "Lumbra.h"
#include "builtins.h"
#include "evald.h"
#include "evalfunc.h"
#include "evalstat.h"
#include "selector.h"
#include "sets.h"
#include "simplfnc.h"
#include "zip.h"

// Built-in argument sequences up to this many words (header included) live in the frame.
constexpr WORD BUILTINBUF = 25;
// An indexed name holds its base and at most 23 indices.
constexpr WORD MAXTABLEREF = 25;

ALGEB valuenv(ALGEB s) {
    if (IMMINT(s)) return s;
    switch (ID2(s)) {
    case NAME:
        if (isditto(s)) return dittovalue(s);
        return s[1] != 0 ? A(s[1]) : s;
    case PARAM:
    case LOCAL: return evparloc(s);
    default: return s;
    }
}

int nametype(ALGEB s) { return is(s, NAME) || is(s, TABLEREF); }

// Option lists are short lists of names, so a scan by handle is a membership test.
int hasoptionscan(ALGEB proc, ALGEB option) {
    ALGEB opts = A(proc[PROC_OPTIONS]);
    if (opts == 0 || !is(opts, EXPSEQ)) return 0;
    for (WORD i = 1; i < LENGTH2(opts); i++)
        if (A(opts[i]) == option) return 1;
    return 0;
}

// ---------------------------------------------------------------------------
// Parameters and locals

[[noreturn]] static void missingarg(WORD k) {
    static char buf[PRINTBUFSIZE];
    PrintIntoBuffer(ENVfunctname, buf);
    std::string msg = buf;
    char num[64];
    snprintf(num, sizeof num, " uses a %ld%s argument, ", (long)k, ordinal(k));
    msg += num;
    ALGEB proc = ENVcurrproc;
    if (is(proc, PROC)) {
        ALGEB params = A(proc[PROC_PARAMS]);
        if (is(params, EXPSEQ) && k < LENGTH2(params)) {
            PrintIntoBuffer(A(params[k]), buf);
            msg += buf;
        }
    }
    msg += ", which is not present";
    userror(msg.c_str());
}

WORD ArgsLent = 0;

static ALGEB paramvalue(WORD k) {
    ALGEB args = Actvparams;
    switch (k) {
    case 0: return Newint(is(args, EXPSEQ) ? LENGTH2(args) - 1 : -1);
    case -1: ArgsLent++; return args;
    case -2: return ENVfunctname == ININunknown ? ENVcurrproc : ENVfunctname;
    default:
        if (k < 0) notimpl("default in evparloc");
        if (!is(args, EXPSEQ) || k >= LENGTH2(args)) missingarg(k);
        return A(args[k]);
    }
}

void nosuchlocal() { userror("reference to a local that the running procedure does not have"); }

WORD LocalsLent = 0;

ALGEB EvalLexicalName(ALGEB s) {
    LocalsLent++;
    if (!(is(s, LOCAL) && LENGTH2(s) == 3 && s[1] < 0))
        assertfail("ID(s)==LOCAL && LENGTH(s)==3 && I(s[1]) < 0", __FILE__, __LINE__);
    WORD i = -s[1];
    ALGEB owner = A(s[2]);
    ALGEB locals = A(owner[PROC_LOCALS]);
    // The innermost live activation of the owner holds the local; without one the
    // owner's own names stand for it (a module keeps its locals there).
    for (WORD *ctx = Environment->ctx; ctx != 0; ctx = (WORD *)ctx[CTX_LINK])
        if (A(ctx[CTX_PROC]) == owner) {
            locals = A(ctx[CTX_LOCALS]);
            break;
        }
    if (!(i < LENGTH(locals))) assertfail("-I(s[1]) < LENGTH(p[2])", __FILE__, __LINE__);
    return A(locals[i]);
}

// Every word after the header through f; the object is copied at the first change.
static ALGEB mapwords(ALGEB s, ALGEB (*f)(ALGEB)) {
    ALGEB r = s;
    for (WORD i = 1; i < LENGTH2(s); i++) {
        ALGEB v = f(A(s[i]));
        if (v == A(s[i])) continue;
        if (r == s) r = copyalg(s);
        r[i] = W(v);
    }
    return r;
}

ALGEB evparloc(ALGEB s) {
    if (s == 0 || IMMINT(s)) return s;
    switch (CASE_ID2(s)) {
    case NUMBER_CASE:
    case PROC_CASE:
    case LISTNUM_CASE:
    case TEXT_CASE:
    case HASH_CASE:
    case HASHTAB_CASE:
    // Values that hold no parse tree are data as they are.
    case DNAFILE_CASE:
    case DAYMATRIX_CASE:
    case MATCH_CASE:
    case COMPRESSED_CASE: return s;
    case NAME_CASE: return isditto(s) ? dittovalue(s) : s;
    case LOCAL_CASE:
        if (LENGTH2(s) == 3) return EvalLexicalName(s);
        LocalsLent++;
        return localof(Actvlocals, s[1]);
    case PARAM_CASE: return paramvalue(s[1]);
    default:
        if (CASE_ID2(s) > HASHTAB_CASE) notimpl("default in evparloc");
        stackcheck();
        return mapwords(s, evparloc);
    }
}

// ---------------------------------------------------------------------------
// Names, locals, indexed names and concatenation

static ALGEB eval_name(ALGEB s) {
    ALGEB v = valuenv(s);
    if (IMMINT(v)) return v;
    if (isstub(v)) {
        eval(v);
        v = valuenv(s);
        if (IMMINT(v)) return v;
    }
    // A procedure is reached through its name; the ditto names and the empty-text holders
    // that carry values through evaluation give the procedure itself.
    if (ID2(v) == PROC && !isditto(s) && NAMETEXT(s)[0] != 0) return s;
    return v;
}

// A local's NAME stands for itself while unassigned or holding a procedure.
static ALGEB localvalue(ALGEB n) {
    if (!is(n, NAME)) return n;
    ALGEB v = A(n[1]);
    if (IMMINT(v)) return v;
    if (v != 0 && ID2(v) != PROC) return v;
    LocalsLent++;
    return n;
}

static ALGEB eval_local(ALGEB s) {
    if (LENGTH2(s) == 3) return localvalue(EvalLexicalName(s));
    return localvalue(localof(Actvlocals, s[1]));
}

static ALGEB eval_tableref(ALGEB s) {
    WORD L = LENGTH2(s);
    if (L > MAXTABLEREF) userror("too many indices");
    ALGEB t = Newl1(L, EXPSEQ);
    for (WORD i = 1; i < L; i++)
        t[i] = W(eval(A(s[i])));
    return selector(A(t[1]), t, 2, 0);
}

// The characters of one side of a concatenation; integers are written out in decimal.
static bool cattext(ALGEB x, const char **p, size_t *n, char *num, size_t cap) {
    if (textual(x)) {
        if (ID2(x) == NAME) {
            *p = NAMETEXT(x);
            *n = strlen(*p);
        } else {
            *p = STR(x)->t;
            *n = (size_t)STR(x)->length;
        }
        return true;
    }
    if (numeric(x) && integer(x)) {
        snprintf(num, cap, "%.0f", IMMINT(x) ? (double)IMMVAL(x) : NUMVAL(x));
        *p = num;
        *n = strlen(num);
        return true;
    }
    return false;
}

static ALGEB eval_catenate(ALGEB s) {
    ALGEB a = eval(A(s[1]));
    ALGEB b = eval(A(s[2]));
    char anum[400], bnum[400];
    const char *pa, *pb;
    size_t na, nb;
    if (!cattext(a, &pa, &na, anum, sizeof anum) || !cattext(b, &pb, &nb, bnum, sizeof bnum))
        userror("arguments in concatenations must be strings or integers");
    ALGEB r = NewText(na + nb);
    memcpy(STR(r)->t, pa, na);
    memcpy(STR(r)->t + na, pb, nb);
    return r;
}

// ---------------------------------------------------------------------------
// Structures and sequences

ALGEB arithvalue(double d, const char *failure) {
    if (isNaNerror(d)) userror(failure);
    if (NaN(d)) return NaNtoALGEB(d);
    return NewNumber(d);
}

static ALGEB eval_words(ALGEB s) { return mapwords(s, eval); }

static ALGEB eval_expseq(ALGEB s) {
    WORD L = LENGTH2(s);
    if (L == 1) return s;
    if (L == 2 && is(A(s[1]), EXPSEQ)) return eval(A(s[1]));
    ALGEB r = s;
    bool nested = false;
    for (WORD i = 1; i < L; i++) {
        ALGEB v = eval(A(s[i]));
        if (is(v, EXPSEQ)) nested = true;
        if (v == A(s[i])) continue;
        if (r == s) r = copyalg(s);
        r[i] = W(v);
    }
    return nested ? FlattenExpseq(r, 0) : r;
}

static ALGEB eval_proc(ALGEB s) {
    ALGEB p = simplfnc(s, 0, 0);
    if (is(p, PROC) && ismodule(p)) return evalfunc(p, null, naminstall("module"));
    return p;
}

static ALGEB eval_daymatrix(ALGEB s) {
    DayMatrix *dm = (DayMatrix *)s;
    WORD n = (WORD)dm->dim * dm->dim;
    if (n > 0) {
        double m = dm->Simi[0];
        for (WORD i = 1; i < n; i++)
            if (dm->Simi[i] > m) m = dm->Simi[i];
        dm->MaxSim = m;
    }
    return s;
}

// ---------------------------------------------------------------------------
// Function application

// The value of one argument: a one-element sequence stands for its element; another sequence
// sets nested, for the caller to splice in.
static inline ALGEB argvalue(ALGEB x, bool &nested) {
    ALGEB v = eval(x);
    if (is(v, EXPSEQ)) {
        if (LENGTH2(v) == 2) return A(v[1]);
        nested = true;
    }
    return v;
}

// The arguments of call s evaluated into t[1..]: one-element sequences stand for their
// element. Returns whether another sequence was met, which the caller then splices in.
static bool eval_args(ALGEB s, ALGEB t) {
    bool nested = false;
    for (WORD i = 2; i < LENGTH2(s); i++) {
        ALGEB v = argvalue(A(s[i]), nested);
        t[i - 1] = W(v);
    }
    return nested;
}

// A call without a procedure stays a call, of the function's value when that can name one.
static ALGEB unapplied(ALGEB s, ALGEB f, ALGEB fv) {
    ALGEB head = nametype(fv) ? fv : nametype(f) ? f : ININunknown;
    ALGEB r = s;
    if (head != f) {
        r = copyalg(s);
        r[1] = W(head);
    }
    bool nested = false;
    for (WORD i = 2; i < LENGTH2(s); i++) {
        ALGEB v = argvalue(A(s[i]), nested);
        if (v == A(s[i])) continue;
        if (r == s) r = copyalg(s);
        r[i] = W(v);
    }
    return nested ? FlattenExpseq(r, 0) : r;
}

static ALGEB apply_builtin(ALGEB proc, ALGEB fname, ALGEB s) {
    WORD b = builtinnumber(proc);
    if (isspecialform(b)) return evalbuiltin(proc, fname, s, 0);
    WORD n = LENGTH2(s) - 2;
    WORD buf[BUILTINBUF];
    ALGEB t = n + 1 <= BUILTINBUF ? A(buf) : Newl1(n + 1, EXPSEQ);
    t[0] = (n + 1) | EXPSEQ | genpat;
    if (eval_args(s, t)) t = FlattenExpseq(t, 0);
    return evalbuiltin(proc, fname, s, t);
}

// The list that a failed numeric call received as its argument, or 0.
static ALGEB zippable_list(double arg) {
    if (!NaN(arg)) return 0;
    ALGEB v = NaNtoALGEB(arg);
    return v != 0 && (is(v, LIST) || is(v, LISTNUM)) ? v : 0;
}

static ALGEB eval_function(ALGEB s) {
    ALGEB f = A(s[1]);
    ALGEB proc = 0, fname = 0, fv = 0;
    if (is(f, NAME)) {
        ALGEB v = valuenv(f);
        if (is(v, PROC)) {
            proc = v;
            fname = f;
        } else if (v != f) {
            ALGEB w = eval(v);
            if (is(w, PROC)) {
                proc = w;
                fname = f;
            }
        }
    }
    if (proc == 0) {
        fv = eval(f);
        if (is(fv, NAME)) {
            ALGEB v = valuenv(fv);
            if (is(v, PROC)) {
                proc = v;
                fname = fv;
            }
        } else if (is(fv, PROC)) {
            proc = fv;
            fname = ININunknown;
        }
    }
    if (proc == 0) return unapplied(s, f, fv);
    return applyproc(s, proc, fname);
}

ALGEB applyproc(ALGEB s, ALGEB proc, ALGEB fname) {
    if (hasoption(proc, ININnumeric)) {
        double d = evald(s);
        if (isNaNerror(d) && LENGTH2(s) == 3 && evald_lt == 2 && hasoption(proc, ININzippable))
            if (ALGEB v = zippable_list(evald_t[1]))
                return zip(New3(FUNCTION, fname == ININunknown ? proc : fname, v));
        return arithvalue(d, "numerical function failed");
    }
    if (hasoption(proc, ININbuiltin)) return apply_builtin(proc, fname, s);

    WORD n = LENGTH2(s) - 2;
    if (n == 0) return evalfunc(proc, null, fname);
    ALGEB t = Newl1(n + 1, EXPSEQ);
    if (eval_args(s, t)) t = FlattenExpseq(t, 0);
    WORD lent = ArgsLent;
    ALGEB v = evalfunc(proc, t, fname);
    // The sequence was the activation's alone unless `args` handed it out.
    if (ArgsLent == lent) release(t, LENGTH2(t));
    return v;
}

// ---------------------------------------------------------------------------

// The number of an operand at hand without evaluation proper: a number or a variable holding
// one.
static inline bool quicknum(ALGEB x, double &d) {
    return numberat(IMMINT(x) || ID2(x) == NUMBER ? x : quickvalue(x), d);
}

// A term of a sum at hand: such an operand, or the product of two (as in a - b).
static bool quickterm(ALGEB x, double &d) {
    if (quicknum(x, d)) return true;
    double a, b;
    if (!IDLENGTH(x, PROD, 3) || !quicknum(A(x[1]), a) || !quicknum(A(x[2]), b)) return false;
    d = a * b;
    return true;
}

// A sum or product of two operands at hand, 0 for any other. The arithmetic in doubles gives
// the same: a product of two numbers is their rounded product, and so is the compensated sum
// of two finite terms their rounded sum; NewNumber refuses an overflow with the message the
// sum would give.
[[gnu::noinline]] static ALGEB quickarith(ALGEB s) {
    if (LENGTH2(s) != 3) return 0;
    double a, b;
    if (ID2(s) == SUM) return quickterm(A(s[1]), a) && quickterm(A(s[2]), b) ? NewNumber(a + b) : 0;
    if (ID2(s) != PROD) return 0;
    return quicknum(A(s[1]), a) && quicknum(A(s[2]), b) ? NewNumber(a * b) : 0;
}

// The kinds that go deeper: they check the stack. Kept apart from eval, so that the leaves
// are reached without the setting up that these need.
[[gnu::noinline]] static ALGEB evalnode(ALGEB s) {
    stackcheck();
    switch (CASE_ID2(s)) {
    case TABLEREF_CASE: return eval_tableref(s);
    case CATENATE_CASE: return eval_catenate(s);
    case PROD_CASE: // eval tried quickarith
    case SUM_CASE:
    case POWER_CASE: return arithvalue(evald(s), "invalid terms in arithmetic expression");
    case FUNCTION_CASE: return eval_function(s);
    case COLON_CASE: userror("COLON should not escape to eval");
    case EQUATION_CASE: {
        ALGEB l = eval(A(s[1]));
        ALGEB r = eval(A(s[2]));
        if (l == A(s[1]) && r == A(s[2])) return s;
        return New3(EQUATION, l, r);
    }
    case INEQUAT_CASE:
    case LESSEQ_CASE:
    case LESSTHAN_CASE:
    case AND_CASE:
    case NOT_CASE:
    case OR_CASE: return evalbool(s) ? ININtrue : ININfalse;
    case EXPSEQ_CASE: return eval_expseq(s);
    case LIST_CASE:
    case RANGE_CASE: return eval_words(s);
    case SET_CASE: return SetNormal(eval_words(s));
    case PROC_CASE: return eval_proc(s);
    case ASSIGN_CASE:
    case FOR_CASE:
    case IF_CASE:
    case STATSEQ_CASE:
    case STOP_CASE: return evalstat(s, 2);
    case DAYMATRIX_CASE: return eval_daymatrix(s);
    default: notimpl("eval");
    }
}

ALGEB eval(ALGEB s) {
    if (IMMINT(s)) return s;
    if (InterruptNow) lumbra_jump(Main);
    switch (CASE_ID2(s)) {
    case NUMBER_CASE:
    case LISTNUM_CASE:
    case TEXT_CASE:
    case DNAFILE_CASE:
    case MATCH_CASE:
    case COMPRESSED_CASE: return s;
    case NAME_CASE: return eval_name(s);
    case LOCAL_CASE: return eval_local(s);
    case PARAM_CASE: return evparloc(s);
    // Arithmetic on operands at hand needs neither the stack check nor the dispatch of evalnode.
    case SUM_CASE:
    case PROD_CASE:
        if (ALGEB r = quickarith(s)) return r;
        return evalnode(s);
    default: return evalnode(s);
    }
}
