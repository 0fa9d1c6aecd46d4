// Generations of the collector: the state every allocation and every statement touches.
#pragma once

#include "All.h"

constexpr int MAXGEN = 253; // allocation generations are 1..253; 254 and 255 mark
extern INT genc[NGEN];      // lowest evaluation level that allocated; 0 when condemned
extern INT gene[NGEN];      // lowest level of a statement finished since it opened
extern int gcgen;           // the current generation
extern WORD genpat;         // gcgen shifted into the tag field
extern WORD markpat;
extern int printgcstatus;

inline INT &MARKED(ALGEB s) { return genc[GcTag(s)]; }
