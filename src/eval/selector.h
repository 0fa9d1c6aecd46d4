// Indexing: lists, texts, tables, structures and records, read and assigned.
#pragma once

#include "All.h"

// val 0 reads; otherwise val is stored and returned.
ALGEB selector(ALGEB s, ALGEB t, int i, ALGEB val);
ALGEB TableSel(ALGEB s, ALGEB key, ALGEB val);
ALGEB MatchSel(ALGEB m, ALGEB t, int i, ALGEB val);
ALGEB LISTNUMtoLIST(ALGEB s);
