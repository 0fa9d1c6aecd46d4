// Turns a parsed procedure into its executable form.
#pragma once

#include "All.h"

ALGEB simplfnc(ALGEB s, ALGEB currproc, ALGEB lex);
ALGEB DetermLocals(ALGEB body, ALGEB locals, ALGEB globals, ALGEB params);
ALGEB InsertName(ALGEB t, ALGEB locals, ALGEB globals, ALGEB params);
ALGEB ProcessOptParams(ALGEB proc);

// A PROC that simplfnc has not converted yet: its locals word still holds the parsed
// declarations (locals, globals).
inline bool isunconverted(ALGEB proc) {
    ALGEB d = A(proc[PROC_LOCALS]);
    return d != 0 && IDLENGTH(d, EXPSEQ, 3) && is(A(d[1]), EXPSEQ);
}
