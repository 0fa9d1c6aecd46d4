// Unique names and the remember table, both hash tables of the same construction.
#pragma once

#include "All.h"

constexpr int NAMETSIZE = 997;
constexpr int REMEMBERTSIZE = 59999;
constexpr int MAXHASHLEN = 200;

extern ALGEB nametab, remembertab;

// A key of 0 ends the used part of a bucket, so the hash 0 is kept as 1;
// whoever walks a bucket compares its keys with hashkey(h).
inline UINT hashkey(UINT h) { return h != 0 ? h : 1; }

UINT hashstring(const char *s);
ALGEB *search(UINT h, ALGEB tab);
ALGEB *hashinsert(UINT h, ALGEB value, ALGEB tab);
ALGEB *srchname(const char *s);
ALGEB naminstall(const char *s);
UINT hashalg(ALGEB s);
UINT hashdouble(double d);

// Start-up: both tables, then the kernel and type names in their fixed order.
void InitHashTables();
void InstallNames();
