// Library procedures with option builtin reach native code here, by number.
#pragma once

#include "All.h"

// Numbers 1..16 get the call object with its arguments unevaluated; the others get the
// evaluated, flattened arguments t.
ALGEB evalbuiltin(ALGEB proc, ALGEB fname, ALGEB call, ALGEB t);
// The built-in number of a procedure with option builtin.
int builtinnumber(ALGEB proc);
ALGEB CreateArray(ALGEB t, int i);
ALGEB uppercase(ALGEB s);
ALGEB lowercase(ALGEB s);
// The next raw line of the current unit; at a terminal the line is edited after the prompt.
ALGEB ReadRawLine(const char *prompt = "");
