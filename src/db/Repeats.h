// Repeats and frequent strings of the sequences of a database, read from its Pat index.
#pragma once

#include "All.h"

// A character that may stand in a sequence: one with an amino-acid code, or U.
bool IsSeqChar(unsigned char c);

// len = 0: the longest repeat, a MATCH of the first neighbouring pair of Pat entries that shares
// it (the empty list when no two suffixes share a character); its length is printed. len >= 3:
// the LIST of every pair of sequence suffixes that shares at least len characters, less bonus
// when both share them up to the ends of their sequences, grouped by the later Pat entry. Pairs
// that repeat one character further left are left out.
ALGEB FindLongestRep(const database *df, WORD len, WORD bonus);

// Prints the n strings of at least k sequence characters that occur most often in the database
// of DB, the most frequent last, with their counts.
void GetMostFrequentGrams(WORD n, WORD k);

// Of the occurrences at Pat entries lo..hi of df, which all begin with the same k characters, the
// number that remain when those overlapping an earlier one in the text are not counted.
WORD compute_maxk(const database *df, WORD lo, WORD hi, WORD k);
