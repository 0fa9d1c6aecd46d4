// Library procedures with option builtin reach native code here, by number.
#pragma once

#include <cmath>
#include <cstddef>
#include <string>

#include "All.h"
#include "builtinlist.h"
#include "sets.h"

// Special forms get the call object with its arguments unevaluated; the others get the
// evaluated, flattened arguments t.
ALGEB evalbuiltin(ALGEB proc, ALGEB fname, ALGEB call, ALGEB t);
// The built-in number in the body slot of a procedure, or -1 when it holds none.
inline int builtinnumber(ALGEB proc) {
    if (LENGTH2(proc) <= PROC_BODY) return -1;
    ALGEB b = A(proc[PROC_BODY]);
    if (IMMINT(b)) return (int)IMMVAL(b);
    if (ID2(b) == NUMBER) return (int)std::lrint(NUMVAL(b));
    return -1;
}
ALGEB CreateArray(ALGEB t, int i);
ALGEB uppercase(ALGEB s);
ALGEB lowercase(ALGEB s);
// The next raw line of the current unit; at a terminal the line is edited after the prompt.
ALGEB ReadRawLine(const char *prompt = "");

// What the entry points of built-ins share. Messages name the function as it was called.
[[noreturn]] void counterror(ALGEB fname, WORD n); // a wrong number of arguments
[[noreturn]] void kinderror(ALGEB fname);          // an argument of the wrong kind
// Server mode refuses, with this message, what would touch the server's own files, processes
// or connections.
void serverrefuses(const char *msg);

inline ALGEB boolname(bool b) { return b ? ININtrue : ININfalse; }

// The characters of a text argument (textof gives them without a copy).
std::string cstring(ALGEB x);
// "integer": an immediate, or a NUMBER rounded to the nearest.
long intarg(ALGEB x);
// A keyword is a NAME spelled exactly so, or a TEXT that is a beginning of it.
bool iskeyword(ALGEB x, const char *kw);
// A TEXT of the n characters at s; the empty and one-character texts are the shared ones.
ALGEB textfrom(const char *s, size_t n);
