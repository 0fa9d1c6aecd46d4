// Turns a parsed procedure into its executable form.
#pragma once

#include "All.h"

ALGEB simplfnc(ALGEB s, ALGEB currproc, ALGEB lex);
ALGEB DetermLocals(ALGEB body, ALGEB locals, ALGEB globals, ALGEB params);
ALGEB InsertName(ALGEB t, ALGEB locals, ALGEB globals, ALGEB params);
ALGEB ProcessOptParams(ALGEB proc);
