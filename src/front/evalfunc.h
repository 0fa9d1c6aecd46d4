// Procedure invocation: activations, typed and optional parameters, traps and tracebacks.
#pragma once

#include "All.h"

// The value a type test chose for an optional parameter (set by type, read here).
extern ALGEB OptParamMatch;

// Calls the procedure r with the evaluated arguments t (an EXPSEQ) under the name functname.
ALGEB evalfunc(ALGEB r, ALGEB t, ALGEB functname);
ALGEB traperror(ALGEB expr);
ALGEB evalsysf(const char *fn, ALGEB s);
ALGEB evalname(ALGEB s);
// t with its EXPSEQ elements spliced in. rlt 0 (or too little room) gives a new object;
// otherwise t is a scratch buffer of rlt words that the caller owns and is rewritten there.
ALGEB FlattenExpseq(ALGEB t, WORD rlt);

// The suffix of an ordinal number: "st", "nd", "rd" or "th" (so 11th and 21th).
const char *ordinal(WORD i);
// Prints "f expects a 2nd argument, x:type, found: value" for the typed parameter param.
void prwrongargument(ALGEB functname, WORD i, ALGEB param, ALGEB arg);
