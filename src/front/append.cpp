// Growing sequences by one element: small objects are enlarged, long ones keep spare room
// behind them so that runs of appends rarely copy.
#include "Lumbra.h"
#include "eval.h"
#include "selector.h"
#include "sets.h"

// The last object grown with spare room behind it, by address. The spare words form a
// GARBAGE block with tag 0, so the heap stays tiled and a collection reclaims them; every
// collection therefore empties the cache.
constexpr WORD APLSIZE = 65536;
static ALGEB apl[APLSIZE];
static bool aplused = false;

static inline WORD APLHASH(ALGEB s) { return (W(s) >> 5) & (APLSIZE - 1); }

static void aplclear() {
    if (!aplused) return;
    memset(apl, 0, sizeof apl);
    aplused = false;
}

static void aplremember(ALGEB s) {
    static bool registered = false;
    if (!registered) {
        GcCacheCleaner(aplclear);
        registered = true;
    }
    apl[APLHASH(s)] = s;
    aplused = true;
}

// A released object may not keep its entry: its address will hold something else.
static void aplforget(ALGEB s) {
    if (apl[APLHASH(s)] == s) apl[APLHASH(s)] = 0;
}

// Stores a after the last word of s when s has spare room recorded in the cache. A spare
// block header is exactly GARBAGE with its length (tag 0, upper bits clear), which no free-list
// link or tagged object can be mistaken for.
static bool growinplace(ALGEB s, ALGEB a) {
    if (apl[APLHASH(s)] != s) return false;
    WORD L = LENGTH2(s), h = s[L];
    if ((h & ~MASKLEN) != GARBAGE) return false;
    WORD k = h & MASKLEN;
    if (k == 0 || L <= 2 * k) return false;
    s[L] = W(a);
    StoreLEN(s, L + 1);
    if (k > 1)
        s[L + 1] = (k - 1) | GARBAGE;
    else
        aplforget(s);
    return true;
}

// Words added when an object of L words must move: about 40% more, so that the copies of a
// long run of appends cost linear time in all.
static WORD extrawords(WORD L) {
    if (L >= MAXOBJLEN) userror("cannot append, structure too long");
    WORD extra = 2 + ((2 * L / 5) & ~(WORD)1);
    return L + extra > MAXOBJLEN ? MAXOBJLEN - L : extra;
}

// r has just received its new last word at r[L]; the remaining extra words become spare room.
static ALGEB leavespare(ALGEB r, WORD L, WORD extra) {
    if (extra > 1) {
        StoreLEN(r, L + 1);
        r[L + 1] = (extra - 1) | GARBAGE;
        aplremember(r);
    }
    return r;
}

ALGEB Append2(ALGEB s, ALGEB a) {
    WORD L = LENGTH2(s);
    if (L <= 6) {
        aplforget(s);
        ALGEB r = enlarge(s, 1);
        r[L] = W(a);
        return r;
    }
    if (growinplace(s, a)) return s;
    WORD extra = extrawords(L);
    aplforget(s);
    ALGEB r = enlarge(s, extra);
    r[L] = W(a);
    return leavespare(r, L, extra);
}

ALGEB AppendND(ALGEB s, ALGEB a) {
    WORD L = LENGTH2(s);
    if (L > 10 && growinplace(s, a)) return s;
    WORD extra = L <= 10 ? 1 : extrawords(L);
    ALGEB r = Newl1(L + extra, ID2(s));
    memcpy(r + 1, s + 1, (size_t)(L - 1) * sizeof(WORD));
    r[L] = W(a);
    return leavespare(r, L, extra);
}

ALGEB append(ALGEB s, ALGEB t) {
    if (is(t, EXPSEQ)) {
        for (WORD i = 1; i < LENGTH2(t); i++)
            s = append(s, A(t[i]));
        return s;
    }
    switch (CASE_ID(s)) {
    case LISTNUM_CASE: {
        if (numeric(t)) {
            double d = DBL(t);
            WORD bits;
            memcpy(&bits, &d, sizeof bits);
            if (LISTNUMLEN(s) >= 11) return AppendND(s, A(bits));
            WORD L = LENGTH2(s);
            ALGEB r = Newl1(L + 1, LISTNUM);
            memcpy(r + 1, s + 1, (size_t)(L - 1) * sizeof(WORD));
            r[L] = bits;
            return r;
        }
        LISTNUMtoLIST(s);
        return append(s, t);
    }
    case LIST_CASE: {
        ALGEB e = A(s[1]);
        if (LENGTH2(e) < 11) return New2(LIST, AppendND(e, t));
        s[1] = W(AppendND(e, t));
        return s;
    }
    case SET_CASE: {
        if (SetHas(s, t)) return s;
        ALGEB e = A(s[1]);
        if (LENGTH2(e) < 11) return SetNormal(New2(SET, AppendND(e, t)));
        // The set grows in place: it may be a table's bucket.
        if (entryshaped(A(e[1]))) TableEdits++;
        s[1] = W(AppendND(e, t));
        return SetNormal(s);
    }
    case FUNCTION_CASE: return AppendND(s, t);
    default: userror("invalid arguments to append");
    }
}
