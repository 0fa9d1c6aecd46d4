// Library procedures with option builtin reach native code here, by number.
#pragma once

#include <cstddef>
#include <string>

#include "All.h"
#include "builtinlist.h"

// Special forms get the call object with its arguments unevaluated; the others get the
// evaluated, flattened arguments t.
ALGEB evalbuiltin(ALGEB proc, ALGEB fname, ALGEB call, ALGEB t);
// The built-in number of a procedure with option builtin.
int builtinnumber(ALGEB proc);
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

inline ALGEB boolname(bool b) {
    return b ? ININtrue : ININfalse;
}

struct Chars {
    const char *s;
    size_t n;
};

// The characters of a text argument (a NAME, a TEXT or, through toCharptr, a database).
Chars textof(ALGEB x);
std::string cstring(ALGEB x);
// "integer": an immediate, or a NUMBER rounded to the nearest.
long intarg(ALGEB x);
// A keyword is a NAME spelled exactly so, or a TEXT that is a beginning of it.
bool iskeyword(ALGEB x, const char *kw);
// A TEXT of the n characters at s; the empty and one-character texts are the shared ones.
ALGEB textfrom(const char *s, size_t n);
