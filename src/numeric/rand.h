// The random-number generator shared by every built-in that draws numbers.
#pragma once

void msrand(int seed);
double mrand();
double Normal_Rand();
