// The collector: generations, marking, sweeping and the bookkeeping after each statement.
#pragma once

#include "All.h"
#include "storman.h"

constexpr int MAXGEN = 253;         // allocation generations are 1..253; 254 and 255 mark
constexpr double INCRGC = 11552116; // words between collections, in automatic mode
extern INT genc[NGEN];              // lowest evaluation level that allocated; 0 when condemned
extern INT gene[NGEN];              // lowest level of a statement finished since it opened
extern int gcgen;                   // the current generation
extern WORD genpat;                 // gcgen shifted into the tag field
extern WORD markpat;
extern int printgcstatus;
extern double incrgc, nextgc, nextgcgen;
extern INT incrgen;
extern int GenLeastAlloc;
extern int totgcs;
extern UWORD remem_clock;
extern int gcstress; // collect after every statement (LUMBRA_GCSTRESS=1)

inline INT &MARKED(ALGEB s) { return genc[GcTag(s)]; }

void gc();
void mark(ALGEB s);
void compacttable(ALGEB tab, int n);
// Run by statement execution after a statement that ran at evaluation level L. Most
// statements close no generation, open none and call for no collection: that is told inline.
void GcAfterStatementWork(WORD L);
inline void GcAfterStatement(WORD L) {
    if (gene[gcgen] > L || cused > nextgcgen || cused > nextgc || gcstress) GcAfterStatementWork(L);
}
ALGEB updategen(ALGEB s);
int64_t HeapSignature();
// A variable outside the kernel that holds an object the collector must keep.
void GcRoot(ALGEB *p);
// A cache that every collection empties.
void GcCacheCleaner(void (*f)());
// A cache keyed by objects: f runs once marking is done and drops the keys that GcDead says
// are about to be reclaimed.
void GcWeakCache(void (*f)());
bool GcDead(ALGEB p);
