// Statement execution: assignments, conditionals, loops, printing of results.
#pragma once

#include "All.h"
#include "Lumbra.h"
#include "eval.h"

extern int prtflag;

// lev: 0 from the main loop, 1 inside bodies, 2 for statements met by eval or the debugger.
ALGEB evalstat(ALGEB s, int lev);
void assign(ALGEB name, ALGEB rhs, int prfl);
struct CNode;
// A for-from loop; a compiled body runs its condition and body through their nodes.
ALGEB forfrom(ALGEB s, const CNode *cond = 0, const CNode *body = 0);
ALGEB forin(ALGEB s, const CNode *cond = 0, const CNode *body = 0);

void iterate(ALGEB x);
[[noreturn]] void jumpback();
ALGEB names(ALGEB typ);

// ---------------------------------------------------------------------------
// The pieces of statement execution that compiled bodies share with the interpreter.

// Raises the evaluation level of the current environment record for the length of a scope, so
// that an unwinding leaves every record it passes at the level it had before.
struct LevelRaise {
    EnvRecord *env;
    WORD by;
    explicit LevelRaise(WORD b) : env(Environment), by(b) { env->evlstlev += by; }
    ~LevelRaise() { env->evlstlev -= by; }
    LevelRaise(const LevelRaise &) = delete;
    LevelRaise &operator=(const LevelRaise &) = delete;
};

inline ALGEB unwrap(ALGEB v) { return IDLENGTH(v, EXPSEQ, 2) ? A(v[1]) : v; }

// The ditto names: the newest result first.
inline void shiftresults(ALGEB v) {
    WORD *ctx = Environment->ctx;
    ctx[CTX_TQUOTE] = ctx[CTX_DQUOTE];
    ctx[CTX_DQUOTE] = ctx[CTX_QUOTE];
    ctx[CTX_QUOTE] = W(v);
}

inline bool printedatlevel(WORD level) { return level <= 4 * ENVprintlevel + 4; }

// The common assignment, done without the call of assign: to a local of the running procedure
// or a name, printing nothing, over a value that is no procedure (whose reassignment warns).
inline bool quickassign(ALGEB name, ALGEB rhs, int prfl) {
    if ((prfl != 0 && prfl != -1) || IMMINT(name)) return false;
    if (ID2(name) == LOCAL && LENGTH2(name) == 2) name = localof(Actvlocals, name[1]);
    if (!is(name, NAME) || name == ININprintlevel || name == ININDB) return false;
    ALGEB old = A(name[1]);
    if (old != 0 && is(old, PROC)) return false;
    name[1] = rhs == name ? 0 : W(rhs);
    return true;
}

// The assignment statement s of the value v, begun at evaluation level `level`: the targets
// take it, and it is printed and becomes the newest ditto value as the statement requires.
inline ALGEB assignvalue(ALGEB s, ALGEB v, WORD level, int lev) {
    WORD L = LENGTH2(s);
    int p;
    if (lev == 2 || prtflag == 0)
        p = DebugLevel >= level;
    else
        p = printedatlevel(level) || DebugLevel >= level;
    for (WORD i = L - 2; i >= 1; i--)
        if (!quickassign(A(s[i]), v, p)) assign(A(s[i]), v, p);
    if (lev != 2) shiftresults(v);
    if (level <= DebugLevel) InteractiveDebugger();
    return v;
}

// The same for an expression statement of value v; a break or next leaves the loop.
ALGEB exprvalue(ALGEB v, WORD level, int lev);
