// Heap regions, free lists, texts, copies and working storage: what other components may call.
#pragma once

#include "All.h"

constexpr int NINDIVLISTS = 26; // exact lists 1..25; entry 0 unused
constexpr int NFREELISTS = 58;  // then 32 size classes, 26..57
constexpr WORD CHUNK = 100000;  // words in a fresh region
constexpr int MAXMonster = 100;
constexpr int MAXMAPPED = 256;
constexpr int MAXTextHeads = 10;

extern ALGEB allstorage;           // newest region first; word 0 links, word 1 is the size
extern UWORD lostorage, historage; // range ever covered by regions and large texts
extern WORD totalmem;              // words obtained from the system
extern double cused;               // allocation clock in words
extern double totalfree, wret;     // statistics of the last sweep
extern ALGEB freelist[NFREELISTS];
extern ALGEB Monster[MAXMonster];
extern int NumMonster;
extern ALGEB Mapped[MAXMAPPED];
extern ALGEB TextHeads[MAXTextHeads];
extern int nTextHeads;
extern ALGEB WSHead; // newest outstanding working-storage block, 0 when none

int storgrp(WORD l);
ALGEB get_space(WORD n);
ALGEB get_double_space(WORD n);
void release(ALGEB p, WORD len);
void Dispose(ALGEB p);
ALGEB breakup(ALGEB p, WORD n);
// The free block that small requests are carved from when their exact list is empty.
extern ALGEB tail;
extern WORD taillen;

// Memory carved one request after the other from reservations of `reserve` bytes (of the
// request itself when larger) that the kernel may back with huge pages; never given back.
// HugeCarve gives 0 when no reservation can be had.
struct HugeArena {
    size_t reserve;
    char *next = 0, *end = 0;
};
void *HugeCarve(HugeArena &a, size_t bytes);

ALGEB Newl1(WORD l, WORD type);
ALGEB Newl2(WORD l, WORD type, ALGEB a);
ALGEB Newl3(WORD l, WORD type, ALGEB a, ALGEB b);
ALGEB New1(WORD type);
ALGEB New2(WORD type, ALGEB a1);
ALGEB New3(WORD type, ALGEB a1, ALGEB a2);
ALGEB New4(WORD type, ALGEB a1, ALGEB a2, ALGEB a3);
ALGEB New5(WORD type, ALGEB a1, ALGEB a2, ALGEB a3, ALGEB a4);
ALGEB New6(WORD type, ALGEB a1, ALGEB a2, ALGEB a3, ALGEB a4, ALGEB a5);
ALGEB New7(WORD type, ALGEB a1, ALGEB a2, ALGEB a3, ALGEB a4, ALGEB a5, ALGEB a6);
ALGEB New8(WORD type, ALGEB a1, ALGEB a2, ALGEB a3, ALGEB a4, ALGEB a5, ALGEB a6, ALGEB a7);
ALGEB New9(WORD type, ALGEB a1, ALGEB a2, ALGEB a3, ALGEB a4, ALGEB a5, ALGEB a6, ALGEB a7,
           ALGEB a8);
ALGEB New10(WORD type, ALGEB a1, ALGEB a2, ALGEB a3, ALGEB a4, ALGEB a5, ALGEB a6, ALGEB a7,
            ALGEB a8, ALGEB a9);

ALGEB copyalg(ALGEB s);
ALGEB copy(ALGEB s, int depth);
ALGEB enlarge(ALGEB s, WORD k);

ALGEB NewText(UWORD n);
ALGEB CreateString(const char *s);
ALGEB NewMapped(int fd, UWORD len);
// A view registered as the owner of a mapping of at least len + 1 bytes made by the caller;
// the collector unmaps it when the view dies.
ALGEB NewMappedRegion(void *m, UWORD len);
// Whether s lies in a mapped file or region, which cannot be written.
bool InMappedText(const char *s);
ALGEB FindTextHead(const char *s);
ALGEB NewProd(ALGEB a, ALGEB b);

// Working storage: guarded byte buffers for native routines, returned in one sweep.
constexpr WORD WSHASH1 = (WORD)(INT)0xEBDE74CB;
constexpr WORD WSHASH2 = (WORD)(INT)0xB2D5C3E1;
constexpr WORD WSHASH3 = (WORD)(INT)0x83633C23;

void *WSAlloc(UWORD nbytes, const char *file, int line);
void WSCheck(const char *file, int line, ALGEB relevant);
void WSReturn();
extern UWORD WSEpoch; // counts full returns
// Returns the blocks allocated after mark (WSHead when WSEpoch was epoch), newest first.
void WSReturnTo(ALGEB mark, UWORD epoch);

#define WorkingStorage(n, T, var) ((var) = (T *)WSAlloc((UWORD)(n) * sizeof(T), __FILE__, __LINE__))

// Returns, when a scope is left, the working storage taken inside it.
struct WorkingScope {
    ALGEB mark;
    UWORD epoch;
    WorkingScope() : mark(WSHead), epoch(WSEpoch) {}
    ~WorkingScope() { WSReturnTo(mark, epoch); }
    WorkingScope(const WorkingScope &) = delete;
    WorkingScope &operator=(const WorkingScope &) = delete;
};
