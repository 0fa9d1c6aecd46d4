// Pairwise alignment by dynamic programming: scores in every mode, the aligned strings and the
// entry points of the language.
#pragma once

#include <cstdint>

#include "All.h"
#include "DynProgr_simd.h"

// Alignment modes. CFEright (leading gaps cost, trailing gaps free) is the reverse pass of CFE.
enum class DPMode { Local = 1, Global = 2, CFE = 3, Shake = 4, CFEright = 5 };

// The rows a score pass leaves behind, each of l2 + 1 entries: the scores of the last row, its
// vertical gaps and the row at which each column's vertical gap was opened.
struct DPRows {
    double *S;
    double *V;
    int *from;
};

// One score pass of s1 (rows) against s2 (columns), both as matrix indices. Reports the score
// and its end cell (1-based) and stops at the first recorded maximum that reaches goal. With
// minlen > 0 (mode Shake) only cells with both indices at least minlen count. With noself the
// diagonal of cells whose column minus row is selfdiag is forbidden (the same character of
// the same text). rows must hold l2 + 1 entries each.
struct DPPass {
    DPMode mode = DPMode::Local;
    double goal = 1.7976931348623157e308;
    int minlen = 0;
    bool noself = false;
    long selfdiag = 0;
};
double DynProgScoreSS(const uint8_t *s1, int l1, const uint8_t *s2, int l2, const DPScoring &sc,
                      const DPPass &pass, int *max1, int *max2, DPRows rows);

// The local score by the vectorised scorers (cells Double, Float, Short, Byte), counted in
// TotalDPCells; an interrupt unwinds to the main loop. Working storage comes from the heap.
double DynProgScoreLocal(const uint8_t *s1, int l1, const uint8_t *s2, int l2, const DPScoring &sc,
                         LocalCell cell, double goal, double bound, int *max1, int *max2);

// The matrix indices of n characters (DayMatrix dm), in working storage; gaps ('_') are
// refused. ReversedIndices: x[0 .. n-1] backwards, in working storage.
uint8_t *SeqIndices(const char *s, WORD n, DayMatrix *dm);
uint8_t *ReversedIndices(const uint8_t *x, int n);

// DynProgScore(seq1, seq2, dm [, modifiers]): t is the argument sequence.
ALGEB DynProgScore(ALGEB t);
// The aligned strings of a Match m under the matrix dm (NoSelf when asked), or of an
// Alignment(seq1, seq2, score, dm, ...) structure al (m is 0 then).
ALGEB DynProgStrings(ALGEB m, ALGEB dm, ALGEB al, bool noself);
