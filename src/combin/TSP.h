// Short closed tours through the points of a symmetric distance matrix: what others may call.
#pragma once

#include "All.h"

constexpr int MAXN = 2500;      // points of the largest instance
constexpr int TOTBEST = 980000; // tour entries of the pool, in all

// t: (distances, iterations, tour, tour, ...), all but the first optional. The LIST of the
// point numbers of the best tour found.
ALGEB ComputeCubicTSP(ALGEB t);
// The same search with the four-edge reconnection among the moves.
ALGEB ComputeQuarticTSP(ALGEB t);

// Set by ComputeQuarticTSP for the one search it runs; every search clears it on its way out.
extern int TSP4Switch;
// Moves accepted by the last local optimisation.
extern long TSPit;
// Processor seconds of each move and stage in the last search.
extern double TimeCut2Paste, TimeCut3Paste, TimeCut4Paste, TimeTwoTwoNeighbours, TimeReorder7Seq,
    TimeGraft1into4, TimeGraft2into4, TimeQuilt, TimeVerifyPermutation, TimePostOptimization;
