// Procedure bodies in a native form, made once per procedure and run without deciding again at
// every statement what each part of the body is.
#pragma once

#include "All.h"

struct CNode;

// The native form of the body of the executable procedure r, made at its first call and kept
// beside it until the collector frees r; 0 when the body is to be interpreted.
const CNode *compiledbody(ALGEB r);
// What evalstat(s, 1) gives for the statement s that n stands for.
ALGEB runstat(const CNode *n);
// What evalbool gives for the condition that n stands for.
int runbool(const CNode *n);
