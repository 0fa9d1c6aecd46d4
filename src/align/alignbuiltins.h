// The built-ins of sequence alignment: their arguments unpacked for the native routines.
#pragma once

#include "All.h"

// Alphabets (100-105, 170-175): codes count from 1 here.
ALGEB AToIntBuiltin(ALGEB a);
ALGEB IntToABuiltin(ALGEB k);
ALGEB AAAToIntBuiltin(ALGEB fname, ALGEB a);
ALGEB IntToAAABuiltin(ALGEB k);
ALGEB AminoToIntBuiltin(ALGEB a);
ALGEB IntToAminoBuiltin(ALGEB k);
ALGEB BToIntBuiltin(ALGEB a);
ALGEB IntToBBuiltin(ALGEB k);
ALGEB BBBToIntBuiltin(ALGEB fname, ALGEB a);
ALGEB IntToBBBBuiltin(ALGEB k);
ALGEB BaseToIntBuiltin(ALGEB a);
ALGEB IntToBaseBuiltin(ALGEB k);
// CodonToInt(a, b, c) or CodonToInt('abc') (66).
ALGEB CodonToIntBuiltin(ALGEB fname, ALGEB t);
ALGEB antiparallelBuiltin(ALGEB nuc);

// Dayhoff matrices: from counts (152), from a log-PAM1 matrix (165), the one nearest a PAM
// distance in a list (164).
ALGEB CreateOrigDayMatrixCountsBuiltin(ALGEB mutations, ALGEB counts, ALGEB pam);
ALGEB CreateOrigDayMatrixRatesBuiltin(ALGEB logpam1, ALGEB pam);
ALGEB SearchDayMatrixBuiltin(ALGEB pam, ALGEB dms);

// Pairwise alignment: Match (55), DynProgStrings (85), DynProgScore (260), DynProgBoth (269).
ALGEB MatchBuiltin(ALGEB fname, ALGEB t);
ALGEB DynProgStringsBuiltin(ALGEB fname, ALGEB t);
ALGEB DynProgScoreBuiltin(ALGEB t);
ALGEB DynProgBothBuiltin(ALGEB t);

// PAM distances and the database scan: EstimatePam (215), AlignOneAll (314).
ALGEB EstimatePamBuiltin(ALGEB t);
ALGEB AlignOneAllBuiltin(ALGEB fname, ALGEB t);
