// Heap regions and free lists; every object of the language is carved from here.
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>

#include "Lumbra.h"

ALGEB allstorage = 0;
UWORD lostorage = UINTPTR_MAX, historage = 0;
WORD totalmem = 0;
double cused = 0, totalfree = 0, wret = 0;
ALGEB freelist[NFREELISTS];
ALGEB Monster[MAXMonster];
int NumMonster = 0;
ALGEB Mapped[MAXMAPPED];
ALGEB TextHeads[MAXTextHeads];
int nTextHeads = 0;
ALGEB WSHead = 0;
// Counts full returns of working storage, so that a scope can tell whether its mark survived.
UWORD WSEpoch = 0;

const char UnableToRepresent[] = "unable to represent result";

// Upper bounds of the size classes 26..56; class 57 takes all longer blocks.
static constexpr WORD ClassBound[] = {32,    42,    55,    72,    94,    122,   159,   207,
                                      269,   350,   455,   592,   770,   1001,  1301,  1691,
                                      2198,  2857,  3714,  4828,  6276,  8159,  10607, 13789,
                                      17926, 23304, 30295, 39384, 51199, 66559, 86527};
static_assert(sizeof ClassBound / sizeof ClassBound[0] == NFREELISTS - NINDIVLISTS - 1);

int storgrp(WORD l) {
    int lo = 0, hi = (int)(sizeof ClassBound / sizeof ClassBound[0]);
    while (lo < hi) { // first bound above l
        int mid = (lo + hi) / 2;
        if (ClassBound[mid] > l)
            hi = mid;
        else
            lo = mid + 1;
    }
    return NINDIVLISTS + lo;
}

static void widen(UWORD lo, UWORD hi) {
    if (lo < lostorage) lostorage = lo;
    if (hi > historage) historage = hi;
}

// Bit c is set when class list c may hold blocks, so that a request skips the empty classes
// above its own; a list filled behind our back is still found by the full scan before a new
// region is taken.
static uint64_t classmask = 0;
static_assert(NFREELISTS <= 64);

// Bit m is set when exact list m may hold blocks: a small request whose own list is empty
// looks only at the lists of its multiples that may, in ascending order, instead of reading a
// dozen empty ones. A bit found stale is cleared.
static uint32_t exactmask = 0;
static_assert(NINDIVLISTS <= 32);

static constexpr auto multiples = [] {
    std::array<uint32_t, NINDIVLISTS> t{};
    for (int n = 1; n < NINDIVLISTS; n++)
        for (int m = 2 * n; m < NINDIVLISTS; m += n)
            t[n] |= (uint32_t)1 << m;
    return t;
}();

// Pushes a free block on its list: an exact list up to 25 words, else its class list,
// which keeps one node per length (word 1) in ascending order (word 2) with a chain (word 0).
void release(ALGEB p, WORD len) {
    if (len < 1) return;
    if (len < NINDIVLISTS) {
        p[0] = W(freelist[len]);
        freelist[len] = p;
        exactmask |= (uint32_t)1 << len;
        return;
    }
    p[1] = len;
    int cls = storgrp(len);
    classmask |= (uint64_t)1 << cls;
    ALGEB *link = &freelist[cls];
    ALGEB node = *link;
    while (node != 0 && node[1] < len) {
        link = (ALGEB *)&node[2];
        node = *link;
    }
    if (node != 0 && node[1] == len) {
        p[0] = node[0];
        node[0] = W(p);
    } else {
        p[0] = 0;
        p[2] = W(node);
        *link = p;
    }
}

void Dispose(ALGEB p) { release(p, LENGTH(p)); }

// The block that small requests are carved from when their exact list is empty: one pointer
// bump each, where giving the rest of a broken-up block back to its size class would walk that
// class's sorted list on every refill. Every collection gives it back first (tailtofreelists).
ALGEB tail = 0;
WORD taillen = 0;

static void tailtofreelists() {
    if (taillen > 0) release(tail, taillen);
    tail = 0;
    taillen = 0;
}

// Makes the block p of L words the new tail, the old one given back.
static void newtail(ALGEB p, WORD L) {
    static bool registered = false;
    if (!registered) {
        GcCacheCleaner(tailtofreelists);
        registered = true;
    }
    tailtofreelists();
    tail = p;
    taillen = L;
}

// The first n words of the block p (its length in p[1]); the rest goes back. A rest longer than
// the tail becomes the tail, so that runs of small requests stay on the bump path.
ALGEB breakup(ALGEB p, WORD n) {
    WORD rest = p[1] - n;
    if (rest >= NINDIVLISTS && rest > taillen)
        newtail(p + n, rest);
    else
        release(p + n, rest);
    return p;
}

#if defined(__SANITIZE_ADDRESS__)
// The sanitized build, too, answers a request for more memory than there is with an error: its
// allocator would otherwise stop the program.
extern "C" const char *__asan_default_options() { return "allocator_may_return_null=1"; }
#endif

void *HugeCarve(HugeArena &a, size_t bytes) {
    if (a.next == 0 || (size_t)(a.end - a.next) < bytes) {
        size_t len = bytes > a.reserve ? bytes : a.reserve;
        void *m = mmap(0, len, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                       -1, 0);
        if (m == MAP_FAILED) return 0;
        madvise(m, len, MADV_HUGEPAGE);
        a.next = (char *)m;
        a.end = a.next + len;
    }
    void *p = a.next;
    a.next += bytes;
    return p;
}

// Regions of the usual size are carved one after the other from large reservations: the heap
// between two collections is touched for the first time as fast as it is allocated, and a
// fault per 4 KiB page cost as much as the work itself. Without a reservation (a limit on the
// address space) regions come from malloc.
constexpr size_t ARENABYTES = (size_t)64 << 20;
static HugeArena regions{ARENABYTES};

static void *regionmemory(size_t bytes) {
    if (bytes > ARENABYTES / 8) return malloc(bytes);
    void *p = HugeCarve(regions, bytes);
    return p != 0 ? p : malloc(bytes);
}

static ALGEB newregion(WORD n) {
    WORD size = n <= 33333 ? CHUNK : n + 2;
    ALGEB p = (ALGEB)regionmemory((size_t)size * sizeof(WORD));
    // Nothing has changed yet: the statement that asked for too much fails, the session goes on.
    if (p == 0) userror("ran out of memory");
    // Regions come from the system allocator anywhere in a 64-bit address space, so they can
    // never grow into the interpreter's stack; the stack guard alone watches the depth.
    widen((UWORD)p, (UWORD)(p + size));
    totalmem += size;
    ALGEB block;
    if (allstorage != 0 && allstorage + allstorage[1] == p) {
        allstorage[1] += size;
        block = p;
        block[1] = size;
    } else {
        p[0] = W(allstorage);
        p[1] = size;
        allstorage = p;
        block = p + 2;
        block[1] = size - 2;
    }
    return breakup(block, n);
}

// The first block of at least n words in class list cls, taken off the list; 0 when none.
static inline ALGEB fromclass(int cls, WORD n) {
    ALGEB *link = &freelist[cls];
    for (ALGEB node = *link; node != 0; link = (ALGEB *)&node[2], node = *link) {
        WORD len = node[1];
        if (len < n) continue;
        ALGEB p;
        if (node[0] != 0) {
            p = A(node[0]);
            node[0] = p[0];
            p[1] = len;
        } else {
            *link = A(node[2]);
            p = node;
        }
        if (freelist[cls] == 0) classmask &= ~((uint64_t)1 << cls);
        return len == n ? p : breakup(p, n);
    }
    if (freelist[cls] == 0)
        classmask &= ~((uint64_t)1 << cls);
    else
        classmask |= (uint64_t)1 << cls;
    return 0;
}

ALGEB get_space(WORD n) {
    cused += n;
    if (genc[gcgen] > ENVevlstlev) genc[gcgen] = (INT)ENVevlstlev;
    int cls;
    if (n < NINDIVLISTS) {
        if (n < 1) notimpl("get_space");
        ALGEB p = freelist[n];
        if (p != 0) {
            freelist[n] = A(p[0]);
            return p;
        }
        for (uint32_t m = exactmask & multiples[n]; m != 0; m &= m - 1) {
            int k = __builtin_ctz(m);
            p = freelist[k];
            if (p == 0) {
                exactmask &= ~((uint32_t)1 << k);
                continue;
            }
            freelist[k] = A(p[0]);
            p[1] = k;
            return breakup(p, n);
        }
        if (taillen >= n) {
            p = tail;
            tail += n;
            taillen -= n;
            return p;
        }
        cls = NINDIVLISTS;
    } else {
        if (n > MAXOBJLEN) userror("object too large");
        cls = storgrp(n);
    }
    for (uint64_t m = classmask & (~(uint64_t)0 << cls); m != 0; m &= m - 1)
        if (ALGEB p = fromclass(__builtin_ctzll(m), n)) return p;
    for (; cls < NFREELISTS; cls++)
        if (ALGEB p = fromclass(cls, n)) return p;
    if (taillen >= n) {
        ALGEB p = tail;
        tail += n;
        taillen -= n;
        return p;
    }
    return newregion(n);
}

ALGEB get_double_space(WORD n) {
    // Words are 8 bytes wide, so every block already starts on a double boundary.
    return get_space(n);
}

// ---------------------------------------------------------------------------
// Constructors

ALGEB Newl1(WORD l, WORD type) {
    ALGEB p = get_space(l);
    p[0] = l | type | genpat;
    // Most objects are short: stores beat a call of memset.
    switch (l) {
    case 6: p[5] = 0; [[fallthrough]];
    case 5: p[4] = 0; [[fallthrough]];
    case 4: p[3] = 0; [[fallthrough]];
    case 3: p[2] = 0; [[fallthrough]];
    case 2: p[1] = 0; [[fallthrough]];
    case 1: break;
    default: memset(p + 1, 0, (size_t)(l - 1) * sizeof(WORD));
    }
    return p;
}

ALGEB Newl2(WORD l, WORD type, ALGEB a) {
    ALGEB p = Newl1(l, type);
    p[1] = W(a);
    return p;
}

ALGEB Newl3(WORD l, WORD type, ALGEB a, ALGEB b) {
    ALGEB p = Newl1(l, type);
    p[1] = W(a);
    p[2] = W(b);
    return p;
}

static inline ALGEB newhead(WORD l, WORD type) {
    ALGEB p = get_space(l);
    p[0] = l | type | genpat;
    return p;
}

// newhead for a request of fewer than NINDIVLISTS words, with the two common ways of get_space
// inline: its own list, or the tail when no list of its multiples may hold a block.
static inline ALGEB smallhead(WORD l, WORD type) {
    ALGEB p = freelist[l];
    if (p != 0) {
        freelist[l] = A(p[0]);
    } else if ((exactmask & multiples[l]) == 0 && taillen >= l) {
        p = tail;
        tail += l;
        taillen -= l;
    } else {
        return newhead(l, type);
    }
    cused += l;
    if (genc[gcgen] > ENVevlstlev) genc[gcgen] = (INT)ENVevlstlev;
    p[0] = l | type | genpat;
    return p;
}

// An object of the given type whose words are a..., in order.
template <class... Words>
static inline ALGEB newwith(WORD type, Words... a) {
    ALGEB p = newhead((WORD)sizeof...(a) + 1, type);
    WORD i = 1;
    ((p[i++] = W(a)), ...);
    return p;
}

ALGEB New1(WORD type) { return newhead(1, type); }
ALGEB New2(WORD type, ALGEB a1) { return newwith(type, a1); }
ALGEB New3(WORD type, ALGEB a1, ALGEB a2) { return newwith(type, a1, a2); }
ALGEB New4(WORD type, ALGEB a1, ALGEB a2, ALGEB a3) { return newwith(type, a1, a2, a3); }
ALGEB New5(WORD type, ALGEB a1, ALGEB a2, ALGEB a3, ALGEB a4) {
    return newwith(type, a1, a2, a3, a4);
}
ALGEB New6(WORD type, ALGEB a1, ALGEB a2, ALGEB a3, ALGEB a4, ALGEB a5) {
    return newwith(type, a1, a2, a3, a4, a5);
}
ALGEB New7(WORD type, ALGEB a1, ALGEB a2, ALGEB a3, ALGEB a4, ALGEB a5, ALGEB a6) {
    return newwith(type, a1, a2, a3, a4, a5, a6);
}
ALGEB New8(WORD type, ALGEB a1, ALGEB a2, ALGEB a3, ALGEB a4, ALGEB a5, ALGEB a6, ALGEB a7) {
    return newwith(type, a1, a2, a3, a4, a5, a6, a7);
}
ALGEB New9(WORD type, ALGEB a1, ALGEB a2, ALGEB a3, ALGEB a4, ALGEB a5, ALGEB a6, ALGEB a7,
           ALGEB a8) {
    return newwith(type, a1, a2, a3, a4, a5, a6, a7, a8);
}
ALGEB New10(WORD type, ALGEB a1, ALGEB a2, ALGEB a3, ALGEB a4, ALGEB a5, ALGEB a6, ALGEB a7,
            ALGEB a8, ALGEB a9) {
    return newwith(type, a1, a2, a3, a4, a5, a6, a7, a8, a9);
}

// ---------------------------------------------------------------------------
// Numbers

ALGEB Newint(WORD x) {
    if (x >= -(1 << 30) && x <= (1 << 30) - 1) return MKIMM(x);
    ALGEB r = newhead(2, NUMBER);
    ((Number *)r)->N = (double)x;
    return r;
}

ALGEB NewNumberObject(double d) {
    if (std::isnan(d) || std::isinf(d)) userror(UnableToRepresent);
    ALGEB r = smallhead(2, NUMBER);
    ((Number *)r)->N = d;
    return r;
}

double DBL(ALGEB x) {
    if (IMMINT(x)) return (double)IMMVAL(x);
    if (ID2(x) == NUMBER) return NUMVAL(x);
    userror2(x, "cannot be converted to a number");
}

bool integer(ALGEB x) {
    if (IMMINT(x)) return true;
    if (ID2(x) != NUMBER) return false;
    double d = NUMVAL(x);
    return d == std::rint(d);
}

// Out-of-range values give INT_MIN, as the hardware conversion does.
INT intvalue(ALGEB x) {
    if (IMMINT(x)) return (INT)IMMVAL(x);
    double d = std::rint(NUMVAL(x));
    if (!(d >= (double)INT_MIN && d <= (double)INT_MAX)) return INT_MIN;
    return (INT)d;
}

bool EqualText(ALGEB a, const char *s) {
    if (IMMINT(a)) return false;
    if (ID2(a) == NAME) return strcmp(NAMETEXT(a), s) == 0;
    if (ID2(a) != TEXT) return false;
    return strncmp(STR(a)->t, s, (size_t)STR(a)->length) == 0;
}

// ---------------------------------------------------------------------------
// Copies

static inline bool inlinetext(ALGEB s) { return ID2(s) == TEXT && LENGTH2(s) > 3; }

ALGEB copyalg(ALGEB s) {
    if (s == 0 || IMMINT(s)) return s;
    WORD L = LENGTH2(s);
    ALGEB r = get_space(L);
    memcpy(r, s, (size_t)L * sizeof(WORD));
    r[0] = (s[0] & COMPLGC) | genpat;
    if (inlinetext(s)) {
        r[2] = W(r + 3);
        r[L - 1] = W(r);
    }
    return r;
}

ALGEB copy(ALGEB s, int depth) {
    if (s == 0 || IMMINT(s)) return s;
    if (ID2(s) == EXPSEQ) depth++;
    if (depth < 1) return s;
    switch (CASE_ID2(s)) {
    case NUMBER_CASE:
    case NAME_CASE:
    case TABLEREF_CASE:
    case LOCAL_CASE:
    case PARAM_CASE:
    case COMPRESSED_CASE: return s;
    // Objects whose words are not all handles are copied flat.
    case LISTNUM_CASE:
    case DNAFILE_CASE:
    case DAYMATRIX_CASE:
    case MATCH_CASE:
    case HASH_CASE:
    case HASHTAB_CASE:
    case SYSTEM_CASE:
    case UNSPECIFIED_CASE: return copyalg(s);
    case TEXT_CASE: {
        if (LENGTH2(s) > 3) return copyalg(s);
        UWORD n = (UWORD)STR(s)->length;
        if (n == 0) return OneChar[0];
        ALGEB r = NewText(n);
        memcpy(STR(r)->t, STR(s)->t, n);
        return r;
    }
    default: {
        stackcheck();
        ALGEB r = copyalg(s);
        for (WORD i = 1; i < LENGTH2(r); i++)
            r[i] = W(copy(A(r[i]), depth - 1));
        return r;
    }
    }
}

ALGEB enlarge(ALGEB s, WORD k) {
    if (k == 0) return s;
    WORD L = LENGTH2(s);
    if (L + k > MAXOBJLEN) userror("object too large");
    ALGEB r = get_space(L + k);
    memcpy(r, s, (size_t)L * sizeof(WORD));
    r[0] = (L + k) | ID2(s) | genpat;
    memset(r + L, 0, (size_t)k * sizeof(WORD));
    release(s, L);
    return r;
}

// ---------------------------------------------------------------------------
// Texts

ALGEB NewText(UWORD n) {
    if (n / 8 < (UWORD)(MAXOBJLEN - 4)) {
        WORD L = (WORD)(n / 8) + 5;
        ALGEB r = Newl1(L, TEXT);
        r[1] = (WORD)n;
        r[2] = W(r + 3);
        r[L - 1] = W(r);
        return r;
    }
    // Too long for the heap: a buffer of its own, never freed, with a view onto it.
    if (NumMonster >= MAXMonster) userror("Too many monstrous string allocations");
    UWORD words = n / 8 + 2;
    ALGEB buf = (ALGEB)malloc(words * sizeof(WORD));
    if (buf == 0) userror("ran out of memory");
    widen((UWORD)buf, (UWORD)(buf + words));
    buf[n / 8] = 0;
    ALGEB r = Newl1(3, TEXT);
    r[1] = (WORD)n;
    r[2] = W(buf);
    buf[words - 1] = W(r);
    Monster[NumMonster++] = r;
    return r;
}

ALGEB CreateString(const char *s) {
    size_t n = strlen(s);
    if (n == 0) return OneChar[0];
    if (n == 1) return OneChar[(unsigned char)s[0]];
    ALGEB r = NewText(n);
    memcpy(STR(r)->t, s, n);
    return r;
}

static int freemappedslot() {
    int slot = 0;
    while (slot < MAXMAPPED && Mapped[slot] != 0)
        slot++;
    return slot;
}

// A mapping covers one byte more than its text, so that the address just past the text, which
// marks a view ending there, lies in this mapping and never at the start of another one.
ALGEB NewMapped(int fd, UWORD len) {
    int slot = freemappedslot();
    if (slot == MAXMAPPED) terminate("Too many mapped files");
    void *m = mmap(0, len + 1, PROT_READ, MAP_PRIVATE, fd, 0);
    if (m == MAP_FAILED) {
        char msg[80];
        snprintf(msg, sizeof msg, "File mapping failed, error %d", errno);
        terminate(msg);
    }
    ALGEB r = Newl1(3, TEXT);
    r[1] = (WORD)len;
    r[2] = W(m);
    Mapped[slot] = r;
    return r;
}

ALGEB NewMappedRegion(void *m, UWORD len) {
    int slot = freemappedslot();
    if (slot == MAXMAPPED) {
        munmap(m, len + 1);
        userror("Too many mapped files");
    }
    ALGEB r = Newl1(3, TEXT);
    r[1] = (WORD)len;
    r[2] = W(m);
    Mapped[slot] = r;
    return r;
}

static bool inside(const char *s, ALGEB text) {
    const char *t = STR(text)->t;
    return s >= t && s <= t + STR(text)->length;
}

bool InMappedText(const char *s) {
    for (int i = 0; i < MAXMAPPED; i++)
        if (Mapped[i] != 0 && inside(s, Mapped[i])) return true;
    return false;
}

static bool inheaprange(const void *p) { return (UWORD)p >= lostorage && (UWORD)p < historage; }

ALGEB FindTextHead(const char *s) {
    if (s >= OneChars && s < OneChars + 256) return OneChar[(unsigned char)(s - OneChars)];
    for (int i = 0; i < MAXMAPPED; i++)
        if (Mapped[i] != 0 && inside(s, Mapped[i])) return Mapped[i];
    // Large texts are looked at before the inline test, which reads the words before s.
    for (int i = 0; i < NumMonster; i++)
        if (inside(s, Monster[i])) return Monster[i];
    ALGEB w = (ALGEB)((UWORD)s & ~(UWORD)7);
    if (inheaprange(w - 3) && inheaprange(w) && w[-1] == W(w) && ID2(w - 3) == TEXT &&
        LENGTH2(w - 3) > 3)
        return w - 3;
    ALGEB db = ININDB != 0 ? A(ININDB[1]) : 0;
    const char *start = s;
    if (db != 0 && is(db, DNAFILE)) {
        database *d = (database *)db;
        if (s >= d->string && s <= d->string + d->TotChars) s = d->string + d->TotChars;
    }
    for (int i = 0; i < nTextHeads; i++) {
        ALGEB r = TextHeads[i];
        ASSERT(ID(r) == TEXT);
        const char *t = STR(r)->t;
        if (start > t && start < t + STR(r)->length) {
            if (i > 0) {
                TextHeads[i] = TextHeads[i - 1];
                TextHeads[i - 1] = r;
            }
            return r;
        }
    }
    const char *end = s;
    while (*end != 0)
        end++;
    ALGEB back = (ALGEB)((UWORD)end & ~(UWORD)7) + 1;
    if (!inheaprange(back)) return 0;
    ALGEB r = A(*back);
    if (IMMINT(r) || !inheaprange(r) || ID2(r) != TEXT) return 0;
    const char *t = STR(r)->t;
    if (t + STR(r)->length != end || t > start) return 0;
    if (end - start >= 501) {
        if (nTextHeads < MAXTextHeads)
            TextHeads[nTextHeads++] = r;
        else
            TextHeads[MAXTextHeads - 1] = r;
    }
    return r;
}

// ---------------------------------------------------------------------------
// Products

// Numeric parts multiply into one coefficient; the other factors keep their order, a's first.
ALGEB NewProd(ALGEB a, ALGEB b) {
    double coef = 1.0;
    WORD nfact = 0;
    ALGEB ops[2] = {a, b};
    for (ALGEB x : ops) {
        if (numeric(x))
            coef *= DBL(x);
        else if (ID2(x) == PROD) {
            for (WORD i = 1; i < LENGTH2(x); i++) {
                if (numeric(A(x[i])))
                    coef *= DBL(A(x[i]));
                else
                    nfact++;
            }
        } else
            nfact++;
    }
    if (nfact == 0) return NewNumber(coef);
    ALGEB c = coef != 1.0 ? NewNumber(coef) : 0;
    WORD len = nfact + (c != 0) + 1;
    if (len == 2 && c == 0) { // a single factor stands for itself
        for (ALGEB x : ops) {
            if (numeric(x)) continue;
            if (ID2(x) != PROD) return x;
            for (WORD i = 1; i < LENGTH2(x); i++)
                if (!numeric(A(x[i]))) return A(x[i]);
        }
    }
    ALGEB r = Newl1(len, PROD);
    WORD k = 1;
    if (c != 0) r[k++] = W(c);
    for (ALGEB x : ops) {
        if (numeric(x)) continue;
        if (ID2(x) != PROD) {
            r[k++] = W(x);
            continue;
        }
        for (WORD i = 1; i < LENGTH2(x); i++)
            if (!numeric(A(x[i]))) r[k++] = x[i];
    }
    return r;
}

// ---------------------------------------------------------------------------
// Working storage

static WORD wscheckword(ALGEB p) {
    return (WORD)((UWORD)p[1] + (UWORD)p[2] + (UWORD)p[3] + (UWORD)WSHASH3);
}

static WORD wslength(ALGEB p) {
    return ID2(p) == GARBAGE4K ? LENGTH2(p) * (4096 / BYTES_PER_ALGEB) : LENGTH2(p);
}

void *WSAlloc(UWORD nbytes, const char *file, int line) {
    WORD w = ((WORD)nbytes - 1) / 8 + 8;
    ALGEB p;
    if (nbytes > ((UWORD)1 << 60)) userror("storage chunk too large to allocate");
    if (w < MAXOBJLEN) {
        p = get_space(w);
        p[0] = w | GARBAGE | genpat;
    } else {
        UWORD pages = ((UWORD)w * 8 - 1) / 4096 + 1;
        if (pages > (UWORD)MAXOBJLEN) userror("storage chunk too large to allocate");
        p = (ALGEB)aligned_alloc(4096, pages * 4096);
        if (p == 0) userror("the system is unable to allocate more storage");
        p[0] = (WORD)pages | GARBAGE4K;
        w = (WORD)pages * (4096 / BYTES_PER_ALGEB);
    }
    p[1] = W(WSHead);
    p[2] = W(file);
    p[3] = line;
    p[4] = wscheckword(p);
    p[5] = WSHASH1;
    p[w - 1] = WSHASH2;
    WSHead = p;
    return p + 6;
}

// Which check a block fails: 0 none, 1 check word, 2 trailing guard, 3 guard word, 4 type.
static int wsfault(ALGEB p) {
    if (p[4] != wscheckword(p)) return 1;
    if (p[wslength(p) - 1] != WSHASH2) return 2;
    if (p[5] != WSHASH1) return 3;
    if (ID2(p) != GARBAGE && ID2(p) != GARBAGE4K) return 4;
    return 0;
}

void WSCheck(const char *file, int line, ALGEB relevant) {
    for (ALGEB p = WSHead; p != 0; p = A(p[1])) {
        int fault = wsfault(p);
        if (fault == 0) continue;
        WORD L = wslength(p);
        if (fault == 1) {
            printf("word before -1 corrupted to: %ld==%lx\n", (long)p[4], (long)p[4]);
            printf("WorkingStorage called possibly at line %ld\n", (long)p[3]);
        } else {
            if (fault == 2)
                printf("word beyond +1 corrupted to: %ld==%lx\n", (long)p[L - 1], (long)p[L - 1]);
            else if (fault == 3)
                printf("header corrupted to: %ld==%lx\n", (long)p[5], (long)p[5]);
            else
                printf("header corrupted to %lx\n", (long)p[0]);
            printf("Requested about %d bytes\n", (int)(8 * L - 56));
            printf("Working storage allocated in %s at line %ld is faulty\n", (const char *)p[2],
                   (long)p[3]);
        }
        if (relevant != 0) {
            fflush(stdout);
            printf("relevant ALGEB (%ld): ", (long)W(relevant));
            fflush(stdout);
            FILE *saved = w_unit;
            w_unit = stdout;
            int savedbreak = BreakLongLines;
            BreakLongLines = 0;
            lineprint(relevant, 0);
            BreakLongLines = savedbreak;
            mendline();
            w_unit = saved;
        }
        printf("WSCheck called from %s at line %d\n", file, line);
        printf("cannot continue, storage corrupted\n");
        fflush(stdout);
        notimpl("WSCheck");
    }
}

// Verifies and frees the newest block.
static void wsreturnone() {
    ALGEB p = WSHead;
    int fault = wsfault(p);
    WORD L = wslength(p);
    if (fault != 0) {
        if (fault == 1) {
            printf("word before -2 corrupted to: %ld\n", (long)p[4]);
            printf("WorkingStorage called possibly at line %ld\n", (long)p[3]);
        } else {
            if (fault == 2)
                printf("word beyond +1 corrupted to: %ld\n", (long)p[L - 1]);
            else if (fault == 3)
                printf("header corrupted to: %ld\n", (long)p[5]);
            else
                printf("header corrupted to %lx\n", (long)p[0]);
            printf("Requested about %d bytes\n", (int)(8 * L - 56));
            printf("Working storage allocated in %s at line %ld is faulty\n", (const char *)p[2],
                   (long)p[3]);
        }
        printf("cannot continue, storage corrupted\n");
        fflush(stdout);
        notimpl("WSReturn");
    }
    WSHead = A(p[1]);
    if (ID2(p) == GARBAGE) {
        release(p, L);
        cused -= (double)((7 * L) / 8);
    } else {
        free(p);
    }
}

void WSReturn() {
    while (WSHead != 0)
        wsreturnone();
    WSEpoch++;
}

// A full return since the mark was taken means the mark itself is gone.
void WSReturnTo(ALGEB mark, UWORD epoch) {
    if (epoch != WSEpoch) {
        WSReturn();
        return;
    }
    while (WSHead != 0 && WSHead != mark)
        wsreturnone();
}
