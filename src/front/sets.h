// Canonical order and sets, sorting, operands, appending, queries and conversions.
#pragma once

#include "All.h"

// Where toCharptrU copies a text that is not followed by a NUL; the next call overwrites it.
constexpr int GLOBALSTRINGSIZE = 10000;
extern char GlobalString[GLOBALSTRINGSIZE];

int SetComp(ALGEB a, ALGEB b);
ALGEB SetNormal(ALGEB s);
ALGEB SetUnion(ALGEB t);
ALGEB SetIntersect(ALGEB t);
ALGEB SetMinus(ALGEB t);
ALGEB SetSubset(ALGEB t);
bool IsUniverse(ALGEB t);
ALGEB LumbraSort(ALGEB t);
WORD numterms(ALGEB x);
ALGEB op1(WORD i, ALGEB x);
ALGEB op(WORD lo, WORD hi, ALGEB x);
ALGEB ExpseqFromFun(ALGEB f);
WORD member(ALGEB s, ALGEB x);
int hasid(ALGEB s, WORD type); // type as in the header, e.g. PROC
int has(ALGEB s, ALGEB a);
WORD length(ALGEB x);
WORD size(ALGEB x);
ALGEB Append2(ALGEB s, ALGEB a);
ALGEB AppendND(ALGEB s, ALGEB a);
ALGEB append(ALGEB s, ALGEB t);
const char *toCharptr(ALGEB s);
const char *toCharptrU(ALGEB s);
ALGEB toNAME(ALGEB s);
INT toInteger(ALGEB s);
