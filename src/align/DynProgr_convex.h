// Alignment with convex gap costs (a DelCost procedure): scores by candidate stacks, aligned
// strings by traceback.
#pragma once

#include "All.h"
#include "DynProgr.h"

constexpr int STACK_POOL_CHUNK_ELEMENTS = 1021;
constexpr long HIRSCHBERG_BUFFER_SIZE = 1000000;

// The score of a (Local or Global) alignment of a against b where a gap of k positions costs
// c[k] (c[0] = 0, c convex: c[k] - 2 c[k-1] + c[k-2] >= 0), c given up to max(la, lb) + 1.
// Local alignments report their end cell and stop at the first cell reaching goal. With table,
// the (la + 1) x (lb + 1) scores are kept there, row by row.
double ConvexScore(const uint8_t *a, int la, const uint8_t *b, int lb, const DPScoring &sc,
                   const double *c, DPMode mode, double goal, int *m1, int *m2, double *table);

// [score, r1, r2] as DynProgScore gives it, for a matrix with a DelCost procedure.
ALGEB DynProgScore_Convex(const char *c1, WORD l1, const char *c2, WORD l2, DayMatrix *dm,
                          DPMode mode);
// [score, aligned1, aligned2]: the global alignment of the two stretches, written with the
// one-letter codes of the matrix indices.
ALGEB DynProgStrings_Convex(const char *c1, WORD l1, const char *c2, WORD l2, double score,
                            DayMatrix *dm, bool noself);
// DynProgBoth(seq1, seq2, dm [, Local or Global]): [score, r1, r2, aligned1, aligned2].
ALGEB DynProgBoth(ALGEB t);
