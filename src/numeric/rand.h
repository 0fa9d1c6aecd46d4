// The random-number generator shared by every built-in that draws numbers.
#pragma once

constexpr int DIM_RAND = 128;

extern double rand_a[DIM_RAND]; // the state, each entry in [0, 1)
extern int randi;               // the entry produced last
extern double Normal_Rand_2;    // the spare normal deviate, 0.0 when there is none

void msrand(int seed);
double mrand();
double Normal_Rand();
