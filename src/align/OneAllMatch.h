// One sequence against a whole database: a Match for every entry whose best local alignment
// with it reaches a goal.
#pragma once

#include "All.h"

// How a scan runs. Every plan gives the same list: the prefilter only skips entries whose
// upper bound stays below the goal, and threads only split the entries among themselves.
struct ScanPlan {
    int threads = 1;
    bool prefilter = true;
};

// s is an entry number of F or a sequence (NAME or TEXT); entries first..last are scanned
// (cut to the database, and to those after s when s is an entry). The result is the LIST of
// MATCH objects in entry order.
ALGEB AlignOneAll(ALGEB s, const database *F, DayMatrix *Dm, double goal, WORD first, WORD last,
                  const ScanPlan &plan);
