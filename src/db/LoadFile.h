// Sequence databases: the database record's accessors, loading with the entry index (.map) and
// the Pat index (.tree), entry numbers, and the import of FASTA and UniProt files.
#pragma once

#include "All.h"

// How the record is read (the fields are in All.h):
//  - the text is df->string[0 .. TotChars - 1], not NUL-terminated (it may be a mapped file);
//  - entry k (1-based) starts at DB_GetEntryOffset(df, k - 1), the "<" of its <E>; element
//    TotEntries of the offsets is TotChars, so entry k ends before DB_GetEntryOffset(df, k);
//  - the Pat index holds the TotAA offsets of the sequence characters ordered by the text from
//    each offset on, unsigned character codes, the end of the text below every character;
//    DB_GetPat(df, i), 0 <= i < TotAA, reads it whatever its width and byte order;
//  - texts up to 4 GiB - 1 characters use the 32-bit layout (EntryOffset, PatCache); longer
//    ones the 64-bit layout (EntryOffset64, PatCache64, EntryOffset null). The .map and .tree
//    files of the 64-bit layout carry the mark SWAPMARK64 so that a reader can tell.
// Offsets, counts and entry numbers are UWORD everywhere, so users of the record never see
// which layout is in use.

constexpr UINT SWAPMARK = 0x01020304;
constexpr UWORD SWAPMARK64 = 0x0102030405060708ULL;

inline bool DB_is64(const database *df) { return df->EntryOffset == nullptr; }
inline size_t DB_sizeofEntry(const database *df) {
    return DB_is64(df) ? sizeof(UWORD) : sizeof(UINT);
}
inline size_t DB_sizeofPat(const database *df) {
    return DB_is64(df) ? sizeof(UWORD) : sizeof(UINT);
}
inline bool DB_HasPat(const database *df) {
    return df->PatSwap != PAT_EMPTY && (df->PatCache != nullptr || df->PatCache64 != nullptr);
}

// Entry offsets are kept in native order whatever the files' byte order.
inline UWORD DB_GetEntryOffset(const database *df, UWORD k) {
    return df->EntryOffset != nullptr ? df->EntryOffset[k] : df->EntryOffset64[k];
}

// A swapped 64-bit index is refused when it is loaded, so only the 32-bit one needs the flag.
inline UWORD DB_GetPat(const database *df, UWORD i) {
    if (df->PatCache64 != nullptr) return df->PatCache64[i];
    UINT v = df->PatCache[i];
    return df->PatSwap == 1 ? __builtin_bswap32(v) : v;
}

// The value of DB when it is a database, else 0.
database *CurrentDb();
// The database named by an optional argument, or DB; "DB must be assigned a database" if none.
database *DbArgument(ALGEB t, WORD i);

// The number of entries that start at or before text position pos: the 1-based number of the
// entry containing pos, 0 before the first entry.
UWORD GetEntryNumber(const database *df, UWORD pos);
// The text position of a NAME or TEXT inside df's text, or of an integer; false otherwise.
bool DbPosition(const database *df, ALGEB s, UWORD *pos);

// Bounds [from, to) inside the text: of entry k (from its <E> through its </E>), of the content
// of the first <tag>..</tag> of entry k (false when absent).
void DbEntryBounds(const database *df, UWORD k, UWORD *from, UWORD *to);
bool DbTagBounds(const database *df, UWORD k, const char *tag, UWORD *from, UWORD *to);

// ReadDb(filename): the DNAFILE object, also assigned to DB.
ALGEB ReadDb(const char *filename);

// Scans n characters of text: counts, type and the entry offsets of df, in the layout asked for.
void PreProInput(const char *text, UWORD n, database *df, bool is64);

// Texts of more characters than this use the 64-bit layout; tests lower it.
extern UWORD DbWideFrom;

// Sorting of Pat entries (strsort.cpp). Each orders m text offsets of text[0 .. n-1] by their
// suffixes; PatSortMultikey is the multikey quicksort, PatSortSuffixArray goes through a suffix
// array of the whole text (libdivsufsort) and keeps the positions for which keep[] is set.
void PatSortMultikey(const char *text, UWORD n, UINT *pat, UWORD m);
void PatSortMultikey(const char *text, UWORD n, UWORD *pat, UWORD m);
bool PatSortSuffixArray(const char *text, UWORD n, const uint64_t *keep, UINT *pat, UWORD m);
bool PatSortSuffixArray(const char *text, UWORD n, const uint64_t *keep, UWORD *pat, UWORD m);

// Conversion of a FASTA or UniProt/EMBL flat file into the tagged format, next to it; the name of
// the converted file. An up-to-date converted file is reused.
enum class SeqFormat { Fasta, UniProt };
ALGEB SeqFileToDb(const char *filename, SeqFormat f);

// The selectors of a database, DB[string], DB[Entry, k], ...
ALGEB DBSel(ALGEB s, ALGEB t, int i, ALGEB val);

// Where a text lies in the database DB holds, for its escaped rendering: the whole text
// (DB[string]), a range of it (DB[string, first..last]), a sequence or part of one
// (Sequence(tag(value))[first..last], first 0 for the whole sequence), a whole entry
// (Entry(tag(value))), or a text inside an entry that prints as a plain string.
struct DbTextPlace {
    enum Kind { Outside, Whole, Range, Sequence, Entry, Plain } kind;
    UWORD first, last;
    const char *tag; // "AC" or "ID"
    const char *value;
    UWORD valuelen;
};
DbTextPlace DbPlaceOf(ALGEB x);
