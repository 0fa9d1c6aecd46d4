// Procedure invocation: activations, typed and optional parameters, traps and tracebacks.
#pragma once

#include "All.h"

extern ALGEB OptParamMatch;

ALGEB evalfunc(ALGEB r, ALGEB t, ALGEB functname);
ALGEB traperror(ALGEB expr);
ALGEB evalsysf(const char *fn, ALGEB s);
ALGEB evalname(ALGEB s);
ALGEB FlattenExpseq(ALGEB t, WORD rlt);
