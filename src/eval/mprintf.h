// Formatted output and input: the routines behind printf, sprintf and sscanf.
#pragma once

#include "All.h"

constexpr int MAXSSIZE = 140000; // a format segment, and one formatted piece

// Prints the arguments t[2], ... under the format t[1] (a NAME or TEXT) through prpart, so
// that output goes to w_unit or, while PrintToString is set, into the string buffer.
// The caller checks that t has a format and switches BreakLongLines off around the call.
void mprintf(ALGEB t);
// Formats arg with a polymorphic printf method: out (MAXSSIZE characters) receives the
// ordinary text of segment before its "%" and the method's text. 1 when a method did it.
int PrintfPolymorphic(char *out, const char *segment, ALGEB arg);
// The LIST of the values that the pattern converts from the string (both NAME or TEXT).
ALGEB msscanf(ALGEB string, ALGEB pattern);
