// Indexing: lists, texts, tables, structures and records, read and assigned.
#pragma once

#include "All.h"

// val 0 reads; otherwise val is stored and returned.
ALGEB selector(ALGEB s, ALGEB t, int i, ALGEB val);
ALGEB TableSel(ALGEB s, ALGEB key, ALGEB val);
ALGEB MatchSel(ALGEB m, ALGEB t, int i, ALGEB val);
ALGEB LISTNUMtoLIST(ALGEB s);

// A table keeps an index beside its buckets (tables.cpp) and trusts them until something other
// than TableSel changes them in place. Stores that could be such a change are counted here:
// over a set (a bucket) or an entry [key, [values]], or over the key of one.
extern UWORD TableEdits;
inline bool entryshaped(ALGEB x) {
    return is(x, LIST) && IDLENGTH(A(x[1]), EXPSEQ, 3) && is(A(A(x[1])[2]), LIST);
}
// Before seq[k] is overwritten in place.
inline void NoteStore(ALGEB seq, WORD k) {
    ALGEB old = A(seq[k]);
    if (is(old, SET) || entryshaped(old) ||
        (k == 1 && IDLENGTH(seq, EXPSEQ, 3) && is(A(seq[2]), LIST)))
        TableEdits++;
}
