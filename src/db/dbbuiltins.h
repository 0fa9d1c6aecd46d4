// The built-ins of sequence databases: their arguments unpacked for the routines of src/db.
#pragma once

#include "All.h"

// Each takes the evaluated argument sequence t, counted and typed by the dispatch.
ALGEB ReadDbBuiltin(ALGEB t);         // 151 ReadDb(filename)
ALGEB GetOffsetBuiltin(ALGEB t);      // 309 GetOffset(text [, database])
ALGEB GetEntryNumberBuiltin(ALGEB t); // 311 GetEntryNumber(x [, database])
ALGEB SeqFileToDbBuiltin(ALGEB t);    // 312 SeqFileToDb(filename, format)
ALGEB DbPartBuiltin(ALGEB t);         // 313 DbPart(x, part)

// Text search (SearchText), repeats and frequent strings (Repeats.h).
ALGEB CaseSearchStringBuiltin(ALGEB t); // 156 CaseSearchString(pat, text)
ALGEB SearchStringBuiltin(ALGEB t);     // 166 SearchString(pat, text)
ALGEB SearchSeqDbBuiltin(ALGEB t);      // 176 SearchSeqDb(text or range)
ALGEB ApproxSearchStringBuiltin(ALGEB fname, ALGEB t, bool indels); // 197 and 183 (indels)
ALGEB SearchTagBuiltin(ALGEB t);                                    // 190 SearchTag(tag, text)
ALGEB MatchRegexBuiltin(ALGEB t);                                   // 248 MatchRegex(pattern, text)
ALGEB FindLongestRepBuiltin(ALGEB fname, ALGEB t);       // 300 FindLongestRep(db [, len [, bonus]])
ALGEB GetMostFrequentGramsBuiltin(ALGEB fname, ALGEB t); // 160 GetMostFrequentGrams(n, k)
