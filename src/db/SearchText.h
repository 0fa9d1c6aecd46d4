// Searching texts and the database: exact, by tag, by prefix in the Pat index, approximate and by
// regular expression.
#pragma once

#include <cstdint>
#include <vector>

#include "All.h"

// The 0-based position of the first occurrence of pat[0..m-1] in text[0..n-1], -1 when there is
// none, 0 for an empty pattern. SearchString compares letters without regard to case.
WORD CaseSearchString(const char *pat, WORD m, const char *text, WORD n);
WORD SearchString(const char *pat, WORD m, const char *text, WORD n);

// The search both make, by vectors of the widest kind the processor has (SearchText_simd.cpp),
// for a pattern of at least one character; with folded, letters in either case. The kinds
// compiled and usable here, and forcing one of them (0: the best again), are for the tests.
WORD VectorSearch(const char *pat, WORD m, const char *text, WORD n, bool folded);
std::vector<int64_t> SearchTargets();
void SearchForce(int64_t target);

// The content of the first <tag>..</tag> of text[0..n-1], the empty text when either tag is
// missing: a view into the text, or with copy a copy of its characters.
ALGEB SearchTag(const char *tag, WORD taglen, const char *text, WORD n, bool copy);

// The 0-based positions first..last of the Pat index whose suffixes begin with s[0..m-1]; when
// none does, last = first - 1 and first is where such a suffix would stand.
void SearchPepDFR(const database *df, const char *s, WORD m, WORD *first, WORD *last);
// SearchSeqDb(text) or SearchSeqDb(a..b): the unevaluated call PatEntry(first..last), 1-based.
ALGEB SearchSeqDb(ALGEB x);

// The 0-based start of the first occurrence of pat in text with at most k errors, -1 when none.
// Errors are substitutions, with indels also insertions and deletions; letters match in either
// case. Of the occurrences that end first, the one that starts last is given.
WORD ApproxSearchString(const char *pat, WORD m, const char *text, WORD n, int k, bool indels);

// The first match of the POSIX extended regular expression pat in text (lines matched apart): a
// LIST of the whole match and the groups that took part, the empty list when there is none.
ALGEB MatchRegex(const char *pat, WORD m, const char *text, WORD n);
