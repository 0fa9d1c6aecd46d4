// Canonical order and sets, sorting, operands, appending, queries and conversions.
#pragma once

#include "All.h"

// Where toCharptrU copies a text that is not followed by a NUL; the next call overwrites it.
constexpr int GLOBALSTRINGSIZE = 10000;
extern char GlobalString[GLOBALSTRINGSIZE];

int SetComp(ALGEB a, ALGEB b);

// Bisection over the sorted elements seq[1..] of a set. order(e) says where the wanted element
// lies: below e (negative), at e (0) or above it (positive). The index where it is, or where it
// would go, with found telling which.
template <class Order>
WORD SetBisect(ALGEB seq, Order order, bool &found) {
    WORD lo = 1, hi = LENGTH2(seq) - 1;
    found = false;
    while (lo <= hi) {
        WORD mid = (lo + hi) / 2;
        int c = order(A(seq[mid]));
        if (c == 0) {
            found = true;
            return mid;
        }
        if (c < 0)
            hi = mid - 1;
        else
            lo = mid + 1;
    }
    return lo;
}

// Whether x is an element of the SET s.
inline bool SetHas(ALGEB s, ALGEB x) {
    auto order = [x](ALGEB e) { return -SetComp(e, x); };
    bool found;
    SetBisect(A(s[1]), order, found);
    return found;
}
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

struct Chars {
    const char *s;
    size_t n;
};

// The characters of a text: a NAME, a TEXT or, through toCharptr, a database's whole text.
inline Chars textof(ALGEB x) {
    if (is(x, TEXT)) return {STR(x)->t, (size_t)STR(x)->length};
    if (is(x, NAME)) return {NAMETEXT(x), strlen(NAMETEXT(x))};
    const char *s = toCharptr(x);
    return {s, strlen(s)};
}
ALGEB toNAME(ALGEB s);
INT toInteger(ALGEB s);
