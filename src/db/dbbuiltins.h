// The built-ins of sequence databases: their arguments unpacked for the routines of src/db.
#pragma once

#include "All.h"

// Each takes the name it was called by and the evaluated arguments t, typed by the dispatch.
ALGEB ReadDbBuiltin(ALGEB fname, ALGEB t);         // 151 ReadDb(filename)
ALGEB GetOffsetBuiltin(ALGEB fname, ALGEB t);      // 309 GetOffset(text [, database])
ALGEB GetEntryNumberBuiltin(ALGEB fname, ALGEB t); // 311 GetEntryNumber(x [, database])
ALGEB SeqFileToDbBuiltin(ALGEB fname, ALGEB t);    // 312 SeqFileToDb(filename, format)
ALGEB DbPartBuiltin(ALGEB fname, ALGEB t);         // 313 DbPart(x, part)

// Text search (SearchText), repeats and frequent strings (Repeats.h).
ALGEB CaseSearchStringBuiltin(ALGEB fname, ALGEB t);         // 156 CaseSearchString(pat, text)
ALGEB GetMostFrequentGramsBuiltin(ALGEB fname, ALGEB t);     // 160 GetMostFrequentGrams(n, k)
ALGEB SearchStringBuiltin(ALGEB fname, ALGEB t);             // 166 SearchString(pat, text)
ALGEB SearchSeqDbBuiltin(ALGEB fname, ALGEB t);              // 176 SearchSeqDb(text or range)
ALGEB ApproxSearchStringIndelsBuiltin(ALGEB fname, ALGEB t); // 183 (pat, text, k)
ALGEB SearchTagBuiltin(ALGEB fname, ALGEB t);                // 190 SearchTag(tag, text)
ALGEB ApproxSearchStringBuiltin(ALGEB fname, ALGEB t);       // 197 (pat, text, k)
ALGEB MatchRegexBuiltin(ALGEB fname, ALGEB t);               // 248 MatchRegex(pattern, text)
ALGEB FindLongestRepBuiltin(ALGEB fname, ALGEB t); // 300 FindLongestRep(db [, len [, bonus]])
