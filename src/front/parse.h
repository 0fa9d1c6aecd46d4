// The parser: statements of the current input unit, or of a string, as trees.
#pragma once

#include "All.h"

extern int prtflag; // 1 after a statement ended by ";", 0 after ":"
// parsestat, the statement parsed last, is declared in main.h.

// Parses one statement of the current input unit into parsestat: 0 when one was accepted.
int yyparse();
void yyerror(const char *msg);

// One statement of the current input unit for the read-evaluate loop: its tree, STOP for
// quit, the empty EXPSEQ for an empty or skipped statement, and CONTROL(1) at the end of
// the unit (close it with closeinput() and read on).
ALGEB ReadStatement();

// Parses all of s[0..ls-1] (a final ";" is implied): one statement, a STATSEQ of several,
// or 0 when there is none. Syntax errors are user errors.
ALGEB LumbraParse(const char *s, int ls);

void closeinput();
