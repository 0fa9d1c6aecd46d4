// Compiled procedure bodies: a tree of native nodes made from the executable body of a PROC,
// with locals and parameters resolved to their numbers, that runs the statements, sums,
// products, comparisons and calls it covers directly and hands everything else to the
// interpreter on the original object.
//
// Every observable step of the interpreter is kept: the evaluation levels, the current
// statement, the interrupt poll, the printing of results and the ditto values, the debugger,
// the collector's bookkeeping after each statement and every error. A node only saves what the
// interpreter decides again each time it meets an object: its kind, where its operands live,
// which of its paths applies. Where a fast path does not apply, the node's original object is
// evaluated as before; that happens only before any part of it has been evaluated, so nothing
// runs twice.
#include "compiled.h"

#include <deque>
#include <memory>
#include <unordered_map>
#include <vector>

#include "Lumbra.h"
#include "eval.h"
#include "evald.h"
#include "evalfunc.h"
#include "evalstat.h"

enum class Kind : uint8_t {
    // Expressions
    Const,  // a number
    Local,  // a local of the running procedure
    Param,  // a parameter
    Global, // a name other than the ditto names
    Arith,  // a sum or product of two operands at hand (quickarith's cases)
    Sum,    // a sum of two terms of which at least one is a call
    Call,   // a call of a procedure through a global name
    Eval,   // anything else, by eval
    // Conditions
    Compare,    // a relation between two operands at hand
    Connective, // and, or, not
    Bool,       // anything else, by evalbool
    // Statements
    Seq,
    AssignLocal, // to one local of the running procedure
    Assign,
    Expr,
    If,
    ForFrom,
    ForIn,
    Stat, // anything else, by evalstat
};

struct CNode {
    Kind kind;
    WORD id;                    // the type of the original object (SUM, PROD, LESSTHAN, ...)
    WORD k;                     // the number of a local or parameter; 1 for a sum or product
                                // of two leaves
    ALGEB s;                    // the original object
    CNode *a = 0, *b = 0;       // operands; a loop's condition and body
    std::vector<CNode *> parts; // statements, conditions and branches, arguments
};

struct CProc {
    ALGEB body;
    std::deque<CNode> nodes; // addresses stay put as the deque grows
    CNode *root = 0;
};

// ---------------------------------------------------------------------------
// Running

// The value word of a leaf, read as quickvalue reads it: 0 when it has none.
static inline ALGEB leafvalue(const CNode *n) {
    if (n->kind == Kind::Local) {
        ALGEB locals = Actvlocals;
        if (n->k >= LENGTH(locals)) return 0;
        ALGEB nm = A(locals[n->k]);
        return is(nm, NAME) ? A(nm[1]) : 0;
    }
    if (n->kind == Kind::Param) {
        ALGEB args = Actvparams;
        if (args == 0 || !is(args, EXPSEQ) || n->k >= LENGTH2(args)) return 0;
        return A(args[n->k]);
    }
    if (n->kind == Kind::Const) return n->s;
    return n->kind == Kind::Global ? A(n->s[1]) : 0;
}

// The number that a leaf holds; false when it holds none.
static inline bool at(const CNode *n, double &d) { return numberat(leafvalue(n), d); }

// A term of a sum at hand: a leaf, or the product of two (as in a - b).
static inline bool termat(const CNode *n, double &d) {
    if (n->kind != Kind::Arith) return at(n, d);
    double x, y;
    if (!at(n->a, x) || !at(n->b, y)) return false;
    d = x * y;
    return true;
}

static ALGEB ev(const CNode *n);

// applyproc for a procedure that is neither numeric nor built in, with the arguments
// evaluated through their nodes.
static ALGEB apply(const CNode *n, ALGEB proc, ALGEB fname) {
    if (hasoption(proc, ININnumeric) || hasoption(proc, ININbuiltin))
        return applyproc(n->s, proc, fname);
    WORD cnt = (WORD)n->parts.size();
    if (cnt == 0) return evalfunc(proc, null, fname);
    ALGEB t = Newl1(cnt + 1, EXPSEQ);
    bool nested = false;
    for (WORD i = 0; i < cnt; i++) {
        ALGEB v = ev(n->parts[i]);
        if (is(v, EXPSEQ)) {
            if (LENGTH2(v) == 2)
                v = A(v[1]);
            else
                nested = true;
        }
        t[i + 1] = W(v);
    }
    if (nested) t = FlattenExpseq(t, 0);
    WORD lent = ArgsLent;
    ALGEB v = evalfunc(proc, t, fname);
    if (ArgsLent == lent) release(t, LENGTH2(t));
    return v;
}

// The procedure a call node names, or 0 when the call is not of a procedure held by its name.
static inline ALGEB callee(const CNode *n) {
    ALGEB v = A(A(n->s[1])[1]);
    return v != 0 && is(v, PROC) ? v : 0;
}

// A call as evald meets it, inside arithmetic.
static double dblcall(const CNode *n) {
    ALGEB proc = callee(n);
    if (proc == 0 || hasoption(proc, ININnumeric)) return evald(n->s);
    if (InterruptNow) lumbra_jump(Main);
    evald_lt = 0;
    stackcheck();
    return evaldvalue(apply(n, proc, A(n->s[1])), n->s);
}

// The operand of a sum as evald gives it.
static double dbl(const CNode *n) {
    double d;
    switch (n->kind) {
    case Kind::Const:
    case Kind::Local:
    case Kind::Param:
    case Kind::Global:
        if (at(n, d)) return d;
        return evald(n->s);
    case Kind::Call: return dblcall(n);
    default: return evald(n->s);
    }
}

static ALGEB ev(const CNode *n) {
    switch (n->kind) {
    case Kind::Const: return n->s;
    case Kind::Local: {
        // A local's NAME stands for itself while unassigned or holding a procedure: eval
        // answers those, and counts the NAME as lent.
        ALGEB locals = Actvlocals;
        if (n->k < LENGTH(locals)) {
            ALGEB nm = A(locals[n->k]);
            if (is(nm, NAME)) {
                ALGEB v = A(nm[1]);
                if (IMMINT(v) || (v != 0 && ID2(v) != PROC)) return v;
            }
        }
        return eval(n->s);
    }
    case Kind::Param: {
        ALGEB args = Actvparams;
        if (args != 0 && is(args, EXPSEQ) && n->k < LENGTH2(args)) return A(args[n->k]);
        return eval(n->s);
    }
    case Kind::Global: {
        // Numbers are their own value; eval answers for procedures, library stubs and the rest.
        ALGEB v = A(n->s[1]);
        if (v != 0 && (IMMINT(v) || ID2(v) == NUMBER)) return v;
        return eval(n->s);
    }
    case Kind::Arith: {
        if (n->k != 0) {
            // Two leaves. Sums and products of immediates are exact in 64 bits, and a product
            // converted once rounds as the product of their doubles does.
            ALGEB u = leafvalue(n->a), w = leafvalue(n->b);
            if (u == 0 || w == 0) return eval(n->s);
            if (IMMINT(u) && IMMINT(w)) {
                WORD k = n->id == SUM ? IMMVAL(u) + IMMVAL(w) : IMMVAL(u) * IMMVAL(w);
                return k >= -1073741824 && k <= 1073741823 ? MKIMM(k) : NewNumberObject((double)k);
            }
            if (!numeric(u) || !numeric(w)) return eval(n->s);
            double x = IMMINT(u) ? (double)IMMVAL(u) : NUMVAL(u);
            double y = IMMINT(w) ? (double)IMMVAL(w) : NUMVAL(w);
            return NewNumber(n->id == SUM ? x + y : x * y);
        }
        double x, y;
        if (n->id == SUM) {
            if (termat(n->a, x) && termat(n->b, y)) return NewNumber(x + y);
        } else if (at(n->a, x) && at(n->b, y)) {
            return NewNumber(x * y);
        }
        return eval(n->s);
    }
    case Kind::Sum: {
        if (InterruptNow) lumbra_jump(Main);
        stackcheck();
        evald_lt = 0;
        double t[3];
        t[1] = dbl(n->a);
        t[2] = dbl(n->b);
        return arithvalue(sumofterms(n->s, t), "invalid terms in arithmetic expression");
    }
    case Kind::Call: {
        ALGEB proc = callee(n);
        if (proc == 0) return eval(n->s);
        if (InterruptNow) lumbra_jump(Main);
        stackcheck();
        return apply(n, proc, A(n->s[1]));
    }
    default: return eval(n->s);
    }
}

int runbool(const CNode *n) {
    if (n->kind == Kind::Compare) {
        stackcheck();
        double l, r;
        if (at(n->a, l) && at(n->b, r) && !NaN(l) && !NaN(r)) {
            switch (n->id) {
            case EQUATION: return l == r;
            case INEQUAT: return l != r;
            case LESSEQ: return l <= r;
            default: return l < r;
            }
        }
    }
    if (n->kind == Kind::Connective) {
        stackcheck();
        switch (n->id) {
        case AND: return runbool(n->a) ? runbool(n->b) : 0;
        case OR: return runbool(n->a) ? 1 : runbool(n->b);
        default: return !runbool(n->a);
        }
    }
    return evalbool(n->s);
}

static ALGEB runif(const CNode *n) {
    LevelRaise up(3);
    size_t m = n->parts.size();
    for (size_t i = 0; i + 1 < m; i += 2)
        if (runbool(n->parts[i])) return runstat(n->parts[i + 1]);
    if (m % 2 == 1) return runstat(n->parts[m - 1]);
    return null;
}

ALGEB runstat(const CNode *n) {
    if (n->kind == Kind::Stat) return evalstat(n->s, 1);
    WORD level;
    ALGEB r = null;
    {
        LevelRaise up(1);
        stackcheck();
        level = ENVevlstlev;
        if (InterruptNow) jumpback();
        Environment->ctx[CTX_STAT] = W(n->s);
        switch (n->kind) {
        case Kind::AssignLocal: {
            // assignvalue for its one target, a local of the running procedure
            ALGEB v = unwrap(ev(n->a));
            int p =
                prtflag == 0 ? DebugLevel >= level : printedatlevel(level) || DebugLevel >= level;
            ALGEB locals = Actvlocals, nm = 0;
            if (p == 0 && n->k < LENGTH(locals)) nm = A(locals[n->k]);
            ALGEB old = nm != 0 && is(nm, NAME) ? A(nm[1]) : 0;
            if (nm != 0 && is(nm, NAME) && nm != ININprintlevel && nm != ININDB &&
                (old == 0 || !is(old, PROC)))
                nm[1] = v == nm ? 0 : W(v);
            else
                assign(A(n->s[1]), v, p);
            shiftresults(v);
            if (level <= DebugLevel) InteractiveDebugger();
            r = v;
            break;
        }
        case Kind::Assign: r = assignvalue(n->s, unwrap(ev(n->a)), level, 1); break;
        case Kind::Expr: r = exprvalue(unwrap(ev(n->a)), level, 1); break;
        case Kind::If: r = runif(n); break;
        case Kind::ForFrom: r = forfrom(n->s, n->a, n->b); break;
        case Kind::ForIn: r = forin(n->s, n->a, n->b); break;
        case Kind::Seq:
            for (const CNode *c : n->parts)
                r = runstat(c);
            break;
        default: notimpl("runstat");
        }
    }
    GcAfterStatement(level);
    return r;
}

// ---------------------------------------------------------------------------
// Compiling

// Deeper expressions than this are left to the interpreter as they are.
constexpr int MAXDEPTH = 64;

static CNode *newnode(CProc &p, Kind kind, ALGEB s) {
    p.nodes.emplace_back();
    CNode *n = &p.nodes.back();
    n->kind = kind;
    n->id = IMMINT(s) ? NUMBER : ID2(s);
    n->k = 0;
    n->s = s;
    return n;
}

static bool leaf(const CNode *n) {
    return n->kind == Kind::Const || n->kind == Kind::Local || n->kind == Kind::Param ||
           n->kind == Kind::Global;
}

static bool term(const CNode *n) {
    return leaf(n) || (n->kind == Kind::Arith && n->id == PROD && leaf(n->a) && leaf(n->b));
}

static CNode *expr(CProc &p, ALGEB s, int depth) {
    if (IMMINT(s) || ID2(s) == NUMBER) return newnode(p, Kind::Const, s);
    if (depth < MAXDEPTH) {
        switch (ID2(s)) {
        case LOCAL:
        case PARAM:
            if (LENGTH2(s) == 2 && s[1] >= 1) {
                CNode *n = newnode(p, ID2(s) == LOCAL ? Kind::Local : Kind::Param, s);
                n->k = s[1];
                return n;
            }
            break;
        case SUM:
        case PROD: {
            if (LENGTH2(s) != 3) break;
            CNode *a = expr(p, A(s[1]), depth + 1), *b = expr(p, A(s[2]), depth + 1);
            Kind kind = Kind::Eval;
            if (ID2(s) == PROD ? leaf(a) && leaf(b) : term(a) && term(b))
                kind = Kind::Arith;
            else if (ID2(s) == SUM && (a->kind == Kind::Call || b->kind == Kind::Call))
                kind = Kind::Sum;
            CNode *n = newnode(p, kind, s);
            n->a = a;
            n->b = b;
            n->k = kind == Kind::Arith && leaf(a) && leaf(b);
            return n;
        }
        case NAME:
            if (!isditto(s)) return newnode(p, Kind::Global, s);
            break;
        case FUNCTION: {
            ALGEB f = A(s[1]);
            if (!isname(f) || isditto(f)) break;
            CNode *n = newnode(p, Kind::Call, s);
            for (WORD i = 2; i < LENGTH2(s); i++)
                n->parts.push_back(expr(p, A(s[i]), depth + 1));
            return n;
        }
        default: break;
        }
    }
    return newnode(p, Kind::Eval, s);
}

static CNode *condition(CProc &p, ALGEB s, int depth) {
    if (depth < MAXDEPTH && !IMMINT(s) &&
        (IDLENGTH(s, AND, 3) || IDLENGTH(s, OR, 3) || IDLENGTH(s, NOT, 2))) {
        CNode *n = newnode(p, Kind::Connective, s);
        n->a = condition(p, A(s[1]), depth + 1);
        if (ID2(s) != NOT) n->b = condition(p, A(s[2]), depth + 1);
        return n;
    }
    if (!IMMINT(s) && LENGTH2(s) == 3 &&
        (ID2(s) == LESSTHAN || ID2(s) == LESSEQ || ID2(s) == EQUATION || ID2(s) == INEQUAT)) {
        CNode *a = expr(p, A(s[1]), 1), *b = expr(p, A(s[2]), 1);
        if (leaf(a) && leaf(b)) {
            CNode *n = newnode(p, Kind::Compare, s);
            n->a = a;
            n->b = b;
            return n;
        }
    }
    return newnode(p, Kind::Bool, s);
}

static CNode *statement(CProc &p, ALGEB s, int depth) {
    if (depth >= MAXDEPTH) return newnode(p, Kind::Stat, s);
    WORD L = LENGTH(s);
    switch (CASE_ID(s)) {
    case ASSIGN_CASE: {
        ALGEB target = A(s[1]);
        bool local = L == 3 && IDLENGTH(target, LOCAL, 2) && target[1] >= 1;
        CNode *n = newnode(p, local ? Kind::AssignLocal : Kind::Assign, s);
        if (local) n->k = target[1];
        n->a = expr(p, A(s[L - 1]), 0);
        return n;
    }
    case FOR_CASE: {
        // for-from: variable, from, by, to, condition, body; for-in: variable, container,
        // condition, body.
        if (L != 7 && L != 5) break;
        CNode *n = newnode(p, L == 7 ? Kind::ForFrom : Kind::ForIn, s);
        if (A(s[L - 2]) != ININtrue) n->a = condition(p, A(s[L - 2]), 0);
        n->b = statement(p, A(s[L - 1]), depth + 1);
        return n;
    }
    case IF_CASE: {
        CNode *n = newnode(p, Kind::If, s);
        for (WORD i = 1; i + 1 < L; i += 2) {
            n->parts.push_back(condition(p, A(s[i]), 0));
            n->parts.push_back(statement(p, A(s[i + 1]), depth + 1));
        }
        if (L % 2 == 0) n->parts.push_back(statement(p, A(s[L - 1]), depth + 1));
        return n;
    }
    case STATSEQ_CASE: {
        CNode *n = newnode(p, Kind::Seq, s);
        for (WORD i = 1; i < L; i++)
            n->parts.push_back(statement(p, A(s[i]), depth + 1));
        return n;
    }
    case STOP_CASE: break;
    default:
        if (CASE_ID(s) >= GARBAGE_CASE &&
            !(CASE_ID(s) >= TEXT_CASE && CASE_ID(s) <= COMPRESSED_CASE))
            break;
        CNode *n = newnode(p, Kind::Expr, s);
        n->a = expr(p, s, 0);
        return n;
    }
    return newnode(p, Kind::Stat, s);
}

// ---------------------------------------------------------------------------
// The forms beside their procedures

// By the address of the PROC. A collection drops the forms of procedures that die, whose
// addresses will be reused; a running procedure is held by its activation, so a form is never
// dropped while it runs.
static std::unordered_map<ALGEB, std::unique_ptr<CProc>> forms;

// The forms met last, by a hash of the address: most calls find theirs here.
struct Recent {
    ALGEB proc;
    CProc *form;
};
constexpr size_t NRECENT = 64;
static Recent recent[NRECENT];

static void pruneforms() {
    for (auto it = forms.begin(); it != forms.end();)
        it = GcDead(it->first) ? forms.erase(it) : std::next(it);
    for (Recent &r : recent)
        r = {0, 0};
}

const CNode *compiledbody(ALGEB r) {
    ALGEB body = A(r[PROC_BODY]);
    Recent &hit = recent[((UWORD)r >> 4) % NRECENT];
    if (hit.proc == r) return hit.form->body == body ? hit.form->root : 0;
    static bool registered = false;
    if (!registered) {
        GcWeakCache(pruneforms);
        registered = true;
    }
    std::unique_ptr<CProc> &form = forms[r];
    if (form == 0) {
        form = std::make_unique<CProc>();
        form->body = body;
        form->root = statement(*form, body, 0);
    }
    hit = {r, form.get()};
    // A body replaced in place is not the one that was compiled: it is interpreted.
    return form->body == body ? form->root : 0;
}
