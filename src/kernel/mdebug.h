// Errors, interrupts, the profiling line and the interactive debugger.
#pragma once

#include "All.h"

// The codes with which control unwinds to the innermost handler.
enum : int { Main = 1, Return = 2, Break = 3, Error = 4, BreakReturnIterator = 5 };

// Thrown to unwind; every handler restores Environment when it is left.
struct Unwind {
    int code;
};

// The words of a context record (LumbraStackSize of them): the link to the caller's record,
// the print level, the locals, the arguments, the function name, the running procedure, the
// current statement and the last three results, which the ditto names stand for.
enum : int {
    CTX_LINK = 0,
    CTX_PRINTLEVEL = 1,
    CTX_LOCALS = 2,
    CTX_PARAMS = 3,
    CTX_FUNCTNAME = 4,
    CTX_PROC = 5,
    CTX_STAT = 6,
    CTX_QUOTE = 7,
    CTX_DQUOTE = 8,
    CTX_TQUOTE = 9,
};
static_assert(CTX_TQUOTE + 1 == LumbraStackSize);

// The current environment record: handler armed, evaluation level, context record.
struct EnvRecord {
    WORD jump; // non-zero once a handler is armed for this record
    WORD evlstlev;
    WORD *ctx; // a context record
};

extern EnvRecord *Environment;
extern EnvRecord IniEnv;
extern WORD TopLevelStack[LumbraStackSize];

#define ENVevlstlev (Environment->evlstlev)
#define ENVlink (Environment->ctx[CTX_LINK])
#define ENVprintlevel (Environment->ctx[CTX_PRINTLEVEL])
#define Actvlocals (A(Environment->ctx[CTX_LOCALS]))
#define Actvparams (A(Environment->ctx[CTX_PARAMS]))
#define ENVfunctname (A(Environment->ctx[CTX_FUNCTNAME]))
#define ENVcurrproc (A(Environment->ctx[CTX_PROC]))
#define ENVcurrstat (A(Environment->ctx[CTX_STAT]))
#define ENVquote (A(Environment->ctx[CTX_QUOTE]))
#define ENVdquote (A(Environment->ctx[CTX_DQUOTE]))
#define ENVtquote (A(Environment->ctx[CTX_TQUOTE]))

// The value of a ditto name in the current activation.
inline ALGEB dittovalue(ALGEB s) {
    return s == ininame[0] ? ENVquote : s == ininame[1] ? ENVdquote : ENVtquote;
}

// Restores Environment on every way out of a scope.
struct EnvSave {
    EnvRecord *saved;
    EnvSave() : saved(Environment) {}
    ~EnvSave() { Environment = saved; }
    EnvSave(const EnvSave &) = delete;
    EnvSave &operator=(const EnvSave &) = delete;
};

[[noreturn]] void lumbra_jump(int code);

extern ALGEB funret;
extern int ErrorLevel;
extern int DebugLevel;
extern volatile int InterruptNow;
extern int InteracDebCalled;
extern int printprofile;

[[noreturn]] void userror(const char *msg);
[[noreturn]] void userror2(ALGEB obj, const char *msg);
[[noreturn]] void notimpl(const char *msg);
[[noreturn]] void terminate(const char *msg);
void niceexit(int sig);
void InteractiveDebugger();
// Parses and runs one statement typed into the debugger; 0 when it does not parse.
int DebuggerStatement(const char *line);
void prtprof(int entering, const char *name, int level);
void PrintStack(const char *title);
void printstr(const char *s, size_t n);

#define ASSERT(cond)                                                                               \
    do {                                                                                           \
        if (!(cond)) assertfail(#cond, __FILE__, __LINE__);                                        \
    } while (0)
#define ASSERT2(cond) ASSERT(cond)
[[noreturn]] void assertfail(const char *cond, const char *file, int line);
