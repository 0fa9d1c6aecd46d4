// Statement execution: assignments, conditionals, loops, printing of results.
#pragma once

#include "All.h"

extern int prtflag;

// lev: 0 from the main loop, 1 inside bodies, 2 for statements met by eval or the debugger.
ALGEB evalstat(ALGEB s, int lev);
void assign(ALGEB name, ALGEB rhs, int prfl);
ALGEB forfrom(ALGEB s);
ALGEB forin(ALGEB s);
void iterate(ALGEB x);
[[noreturn]] void jumpback();
ALGEB names(ALGEB typ);
