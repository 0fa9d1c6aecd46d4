// Match objects: the constructor that checks its arguments against the database in DB.
#pragma once

#include "All.h"

// Match(Seq1, Seq2), Match(Sim, Seq1, Seq2 [, Length1, Length2 [, PamNumber [, PamVariance]]]):
// t is the argument sequence. Sequences are offsets into the text of DB, or whatever the
// library's Sequence turns into a text inside it.
ALGEB MatchCons(ALGEB t);
