// Start-up, the command line, the read-evaluate loop and the way out.
#pragma once

#include "All.h"

constexpr int MAXTRACEBACK = 50;

extern int optquiet, optserver, optbatch, opterrorexit;
extern int ErrorLevel;
extern ALGEB TraceBackFunctname[MAXTRACEBACK];
extern ALGEB TraceBackArgs[MAXTRACEBACK];
extern ALGEB TraceBackCurrstat, TraceBackCurrproc, TraceBackLocals;
extern ALGEB prompt;
extern ALGEB parsestat;
extern const double Version;
extern const char LogoDate[];

int lumbra_main(int argc, char **argv);
void LumbraInit(int argc, char **argv);
// The fixed objects and names, without the command line; what unit tests start from.
void InitObjects();
[[noreturn]] void exitWithStatus(int status);
[[noreturn]] inline void normalexit() { exitWithStatus(0); }
[[noreturn]] inline void errorexit() { exitWithStatus(1); }
double cptime();
double cptime_all();
// The frame addresses that leave room, fixed when the interpreter thread starts: every
// evaluation checks, so the check is two comparisons, inline.
extern char *StackLow, *StackHigh;
[[noreturn]] void stackoverflow();
inline bool stackroom() {
    char *here = (char *)__builtin_frame_address(0);
    return here >= StackLow && here <= StackHigh;
}
inline void stackcheck() {
    if (!stackroom()) stackoverflow();
}
