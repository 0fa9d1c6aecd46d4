// Element-wise evaluation: lists inside an expression act position by position.
#pragma once

#include "All.h"

// The value of the unevaluated expression x, with calls, sums, products and powers of
// lists (LIST, SET, LISTNUM) applied element by element.
ALGEB zip(ALGEB x);
