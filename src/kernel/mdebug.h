// Errors, interrupts, the profiling line and the interactive debugger.
#pragma once

#include "All.h"

// The codes with which control unwinds to the innermost handler.
enum : int { Main = 1, Return = 2, Break = 3, Error = 4, BreakReturnIterator = 5 };

// Thrown to unwind; every handler restores Environment when it is left.
struct Unwind {
    int code;
};

// The current environment record: handler armed, evaluation level, context record.
struct EnvRecord {
    WORD jump; // non-zero once a handler is armed for this record
    WORD evlstlev;
    WORD *ctx; // LumbraStackSize words, see the context macros below
};

extern EnvRecord *Environment;
extern EnvRecord IniEnv;
extern WORD TopLevelStack[LumbraStackSize];

#define ENVevlstlev (Environment->evlstlev)
#define ENVlink (Environment->ctx[0])
#define ENVprintlevel (Environment->ctx[1])
#define Actvlocals (A(Environment->ctx[2]))
#define Actvparams (A(Environment->ctx[3]))
#define ENVfunctname (A(Environment->ctx[4]))
#define ENVcurrproc (A(Environment->ctx[5]))
#define ENVcurrstat (A(Environment->ctx[6]))
#define ENVquote (A(Environment->ctx[7]))
#define ENVdquote (A(Environment->ctx[8]))
#define ENVtquote (A(Environment->ctx[9]))

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
