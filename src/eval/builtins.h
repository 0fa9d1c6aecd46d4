// Library procedures with option builtin reach native code here, by number.
#pragma once

#include <cstddef>

#include "All.h"

// Numbers 1..16 get the call object with its arguments unevaluated; the others get the
// evaluated, flattened arguments t.
ALGEB evalbuiltin(ALGEB proc, ALGEB fname, ALGEB call, ALGEB t);
// The built-in number of a procedure with option builtin.
int builtinnumber(ALGEB proc);
ALGEB CreateArray(ALGEB t, int i);

// What the routines of the built-ins share: the characters of a text argument (a NAME, a TEXT
// or, through toCharptr, a database), and the errors of a wrong argument count and kind.
struct Chars {
    const char *s;
    size_t n;
};
Chars textof(ALGEB x);
[[noreturn]] void counterror(ALGEB fname, WORD n);
[[noreturn]] void kinderror(ALGEB fname);

ALGEB uppercase(ALGEB s);
ALGEB lowercase(ALGEB s);
ALGEB ReadRawLine();
