// Structure decomposition and assembly: expressions, statements and procedures taken apart
// into structures named by their class, and rebuilt from them.
#pragma once

#include "All.h"

// The texts that stand for the statements break and next in decomposed trees; made on first
// use and kept for the life of the process.
extern ALGEB StringBreak, StringNext;

ALGEB disassemble(ALGEB s);
ALGEB assemble(ALGEB s);
