// Tables: table([buckets], default) as the language sees it, each bucket a sorted SET of
// [key, [values]], and beside each sequence of buckets a native index from the hash of a key to
// its entry, so that finding a key does not walk its bucket.
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <unordered_map>
#include <utility>

#include "Lumbra.h"
#include "eval.h"
#include "evalfunc.h"
#include "selector.h"
#include "sets.h"

UWORD TableEdits = 0;

static ALGEB tableDefaultProcName = 0; // kept across collections

constexpr WORD TABLEBUCKETS = 13; // buckets of a table's first insertion
constexpr WORD BUCKETFULL = 40;   // entries that make a bucket trigger a rebuild
constexpr WORD MAXTABLEBUCKETS = 131070;

static bool istable(ALGEB s) {
    return IDLENGTH(s, FUNCTION, 4) && A(s[1]) == ININtable && is(A(s[2]), LIST);
}

static WORD bucketof(UINT hk, WORD nb) {
    INT h = (INT)hk;
    return (h < 0 ? -(WORD)h : (WORD)h) % nb + 1;
}

// The key of an entry [key, [values]]. A search reads only the keys: the values of the entries
// it passes stay unread (a cache miss each), and entryvalues checks the one it finds.
static ALGEB entrykey(ALGEB e) {
    ALGEB seq = !is(e, LIST) ? 0 : A(e[1]);
    if (seq == 0 || !IDLENGTH(seq, EXPSEQ, 3)) userror2(e, "invalid entry in table");
    return A(seq[1]);
}

// The LIST of values of an entry whose key entrykey has read.
static ALGEB entryvalues(ALGEB e) {
    ALGEB v = A(A(e[1])[2]);
    if (!is(v, LIST)) userror2(e, "invalid entry in table");
    return v;
}

// What a read of the entry gives: a single value by itself.
static ALGEB entryvalue(ALGEB e) {
    ALGEB vals = A(entryvalues(e)[1]);
    return IDLENGTH(vals, EXPSEQ, 2) ? A(vals[1]) : vals;
}

static ALGEB setvalues(ALGEB e, ALGEB val) {
    entryvalues(e);
    ALGEB vals = is(val, EXPSEQ) ? val : New2(EXPSEQ, val);
    A(e[1])[2] = W(New2(LIST, vals));
    return val;
}

static ALGEB bucketseq(ALGEB bucket) {
    if (!is(bucket, SET)) userror2(bucket, "invalid entry in table");
    return A(bucket[1]);
}

static ALGEB emptybuckets(WORD nb) {
    ALGEB b = Newl1(nb + 1, EXPSEQ);
    for (WORD j = 1; j <= nb; j++)
        b[j] = W(EmptySet);
    return b;
}

static ALGEB defaultvalue(ALGEB s, ALGEB key) {
    ALGEB def = A(s[3]);
    ALGEB proc = def;
    if (is(proc, NAME)) proc = valuenv(proc);
    if (!is(proc, PROC)) return def;
    if (tableDefaultProcName == 0) {
        tableDefaultProcName = naminstall("tableDefaultProc");
        GcRoot(&tableDefaultProcName);
    }
    return evalfunc(proc, New2(EXPSEQ, key), tableDefaultProcName);
}

// ---------------------------------------------------------------------------
// Plain keys: integers, texts and names, and numbers that no immediate integer can equal. Two
// of them that are Equal have the same hashalg, and comparing them runs no code of the user's
// (a structure's equal method can), so a hash finds exactly what the bisection finds.

static bool plainkey(ALGEB k) {
    if (IMMINT(k)) return true;
    WORD t = ID2(k);
    if (t == TEXT || t == NAME) return true;
    if (t != NUMBER) return false;
    double d = NUMVAL(k);
    return d != std::rint(d) || std::fabs(d) > 1073741824.0;
}

// SetComp for plain keys: numbers first by value, then texts by their characters, a proper
// prefix first.
static int keycomp(ALGEB a, ALGEB b) {
    if (IMMINT(a) && IMMINT(b)) return a == b ? 0 : W(a) < W(b) ? -1 : 1;
    bool an = numeric(a), bn = numeric(b);
    if (an || bn) {
        if (!bn) return -1;
        if (!an) return 1;
        double x = DBL(a), y = DBL(b);
        return x == y ? 0 : x > y ? 1 : -1;
    }
    Chars p = textof(a), q = textof(b);
    int c = memcmp(p.s, q.s, p.n < q.n ? p.n : q.n);
    if (c != 0) return c < 0 ? -1 : 1;
    return p.n == q.n ? 0 : p.n < q.n ? -1 : 1;
}

// ---------------------------------------------------------------------------
// Memory for indexes and for rebuilding tables: blocks of 2^k bytes from reservations that the
// kernel may back with huge pages. An index grows by doubling, always into fresh memory, and on
// 4 KiB pages every fresh page cost a fault worth many insertions. Blocks given back are kept
// by size for the next one.

static HugeArena blockarena{(size_t)256 << 20};
static void *freeblocks[64]; // by k, linked through their first word

static void *blockget(int lg) {
    if (freeblocks[lg] != 0) {
        void *p = freeblocks[lg];
        freeblocks[lg] = *(void **)p;
        return p;
    }
    size_t bytes = (size_t)1 << lg;
    void *p = HugeCarve(blockarena, bytes);
    if (p == 0) p = malloc(bytes);
    if (p == 0) userror("ran out of memory");
    return p;
}

template <class T>
struct Block {
    T *p = 0;
    int lg = 0;
    Block() = default;
    // Room for at least n items, cleared.
    explicit Block(size_t n) {
        for (lg = 8; ((size_t)1 << lg) < n * sizeof(T);)
            lg++;
        p = (T *)blockget(lg);
        memset((void *)p, 0, (size_t)1 << lg);
    }
    Block(Block &&o) noexcept : p(o.p), lg(o.lg) { o.p = 0; }
    Block &operator=(Block &&o) noexcept {
        std::swap(p, o.p);
        std::swap(lg, o.lg);
        return *this;
    }
    ~Block() {
        if (p == 0) return;
        *(void **)p = freeblocks[lg];
        freeblocks[lg] = p;
    }
    size_t size() const { return p == 0 ? 0 : ((size_t)1 << lg) / sizeof(T); }
    T &operator[](size_t i) const { return p[i]; }
};

// ---------------------------------------------------------------------------
// The index of one sequence of buckets: open addressing from the hash of a key to its entry.
// It stands for the buckets while their number and TableEdits are those it recorded; anything
// else means that they were changed in place, and the index is built again.

// A slot holds an entry and its key, so that a probe reads neither the entry nor, for integers,
// the key: the key's handle in the low 48 bits (sign-extended back, as in a boxed double),
// and above it 16 bits of the key's hash that most other keys probed on the way do not share.
struct Slot {
    UWORD tagkey;
    ALGEB entry; // 0: empty
};

static UWORD mixhash(UINT hk) { return hk * 0x9E3779B97F4A7C15ULL; }
static UWORD tagof(UWORD mix) { return mix << 48; }
static ALGEB keyof(const Slot &sl) { return A((WORD)(sl.tagkey << 16) >> 16); }

struct TableIndex {
    WORD nb = -1;
    UWORD edits = 0;
    bool usable = false; // false: the bisection answers (see buildindex)
    WORD count = 0;      // entries in slots
    WORD walked = 0;     // entries the last build looked at
    WORD waited = 0;     // accesses since the index went out of date
    Block<Slot> slots;   // a power of two of them, at most half in use
};

// By the address of the EXPSEQ of buckets, which tables sharing their buckets share too. A
// collection drops the indexes of buckets that die, whose addresses will be reused.
static std::unordered_map<ALGEB, TableIndex> indexes;
static ALGEB lastbuckets = 0;
static TableIndex *lastindex = 0;

static void pruneindexes() {
    for (auto it = indexes.begin(); it != indexes.end();)
        it = GcDead(it->first) ? indexes.erase(it) : std::next(it);
    lastbuckets = 0;
    lastindex = 0;
}

// The home slot is taken from the top bits of the mixed hash, so that slots keep their order
// when the index doubles and moving them reads and writes memory almost in sequence.
static size_t homeslot(UWORD mix, size_t size) {
    return (size_t)(mix >> (64 - __builtin_ctzll((unsigned long long)size)));
}

static void place(const Block<Slot> &slots, UINT hk, ALGEB key, ALGEB e) {
    size_t mask = slots.size() - 1;
    UWORD mix = mixhash(hk);
    size_t i = homeslot(mix, slots.size());
    while (slots[i].entry != 0)
        i = (i + 1) & mask;
    slots[i] = {tagof(mix) | ((UWORD)W(key) & NaNPAYLOAD), e};
}

static void indexadd(TableIndex &ix, UINT hk, ALGEB key, ALGEB e) {
    if (2 * (size_t)(ix.count + 1) > ix.slots.size()) {
        Block<Slot> old = std::move(ix.slots);
        ix.slots = Block<Slot>(2 * (size_t)(ix.count + 1));
        for (size_t i = 0; i < old.size(); i++) {
            if (old[i].entry == 0) continue;
            ALGEB k = keyof(old[i]);
            place(ix.slots, hashalg(k), k, old[i].entry);
        }
    }
    place(ix.slots, hk, key, e);
    ix.count++;
}

static ALGEB indexfind(const TableIndex &ix, UINT hk, ALGEB key) {
    size_t mask = ix.slots.size() - 1;
    UWORD mix = mixhash(hk), tag = tagof(mix);
    for (size_t i = homeslot(mix, ix.slots.size());; i = (i + 1) & mask) {
        const Slot &sl = ix.slots[i];
        if (sl.entry == 0) return 0;
        if ((sl.tagkey & ~NaNPAYLOAD) == tag && keycomp(key, keyof(sl)) == 0) return sl.entry;
    }
}

static void unusable(TableIndex &ix) {
    ix.usable = false;
    ix.count = 0;
    ix.slots = Block<Slot>();
}

// Indexes every entry, unless the index could answer otherwise than the bisection: a bucket or
// an entry that is not what TableSel makes, a key that is not plain, or a key out of its
// bucket or out of order (buckets changed in place).
static void buildindex(TableIndex &ix, ALGEB buckets, WORD nb) {
    ix.nb = nb;
    ix.edits = TableEdits;
    ix.waited = 0;
    ix.walked = 0;
    unusable(ix);
    WORD n = 0;
    for (WORD j = 1; j <= nb; j++) {
        ALGEB b = A(buckets[j]);
        if (!is(b, SET)) return;
        n += LENGTH2(A(b[1])) - 1;
    }
    Block<Slot> slots(2 * (size_t)n);
    for (WORD j = 1; j <= nb; j++) {
        ALGEB seq = A(A(buckets[j])[1]), prev = 0;
        for (WORD k = 1; k < LENGTH2(seq); k++) {
            ix.walked++;
            ALGEB e = A(seq[k]);
            if (!is(e, LIST) || !IDLENGTH(A(e[1]), EXPSEQ, 3)) return;
            ALGEB key = A(A(e[1])[1]);
            if (!plainkey(key) || (prev != 0 && keycomp(prev, key) >= 0)) return;
            UINT hk = hashalg(key);
            if (bucketof(hk, nb) != j) return;
            place(slots, hk, key, e);
            prev = key;
        }
    }
    ix.slots = std::move(slots);
    ix.count = n;
    ix.usable = true;
}

// The index of a sequence of buckets, up to date; 0 when the bisection must answer.
static TableIndex *indexof(ALGEB buckets, WORD nb) {
    static bool registered = false;
    if (!registered) {
        GcWeakCache(pruneindexes);
        registered = true;
    }
    TableIndex *ix = lastindex;
    if (buckets != lastbuckets) {
        ix = &indexes[buckets];
        lastbuckets = buckets;
        lastindex = ix;
    }
    if (ix->nb != nb || ix->edits != TableEdits) {
        // Building walks every entry. After a change in place the bisection answers until
        // enough accesses have passed to pay for that, so that a loop which changes some list
        // of sets at every step costs no more than it did without the index.
        if (ix->waited++ < ix->walked / 4) return 0;
        buildindex(*ix, buckets, nb);
    }
    return ix->usable ? ix : 0;
}

// A key the index does not take went into the buckets.
static void forgetindex(ALGEB buckets) {
    auto it = indexes.find(buckets);
    if (it != indexes.end() && it->second.usable) unusable(it->second);
}

// ---------------------------------------------------------------------------

struct Placed {
    ALGEB key, entry;
    WORD bucket;
};

// Places every entry again among nb buckets and returns them; the table changes only when all
// are placed. Compare is SetComp, or keycomp when every key is plain. Each entry, in the old
// order, goes by bisection among those already in its new bucket.
template <class Compare>
static ALGEB rebuild(ALGEB s, WORD nb, Compare compare) {
    ALGEB old = A(A(s[2])[1]);
    WORD n = 0;
    for (WORD j = 1; j < LENGTH2(old); j++)
        n += LENGTH2(bucketseq(A(old[j]))) - 1;
    Block<Placed> all((size_t)n), into((size_t)n);
    Block<WORD> start((size_t)nb + 1), fill((size_t)nb);
    WORD i = 0;
    for (WORD j = 1; j < LENGTH2(old); j++) {
        ALGEB seq = A(A(old[j])[1]);
        for (WORD k = 1; k < LENGTH2(seq); k++, i++) {
            ALGEB e = A(seq[k]);
            ALGEB key = entrykey(e);
            all[(size_t)i] = {key, e, bucketof(hashalg(key), nb) - 1};
            start[(size_t)all[(size_t)i].bucket + 1]++;
        }
    }
    for (WORD b = 0; b < nb; b++)
        start[(size_t)b + 1] += start[(size_t)b];
    for (i = 0; i < n; i++) {
        const Placed &p = all[(size_t)i];
        Placed *b = &into[(size_t)start[(size_t)p.bucket]];
        WORD lo = 0, hi = fill[(size_t)p.bucket]++;
        while (lo < hi) {
            WORD mid = (lo + hi) / 2;
            if (compare(p.key, b[mid].key) < 0)
                hi = mid;
            else
                lo = mid + 1;
        }
        memmove((void *)(b + lo + 1), (void *)(b + lo),
                (size_t)(fill[(size_t)p.bucket] - 1 - lo) * sizeof(Placed));
        b[lo] = p;
    }
    ALGEB nbuckets = emptybuckets(nb);
    for (WORD j = 1; j <= nb; j++) {
        WORD m = fill[(size_t)j - 1];
        if (m == 0) continue;
        ALGEB seq = Newl1(m + 1, EXPSEQ);
        const Placed *b = &into[(size_t)start[(size_t)j - 1]];
        for (WORD k = 0; k < m; k++)
            seq[k + 1] = W(b[k].entry);
        nbuckets[j] = W(New2(SET, seq));
    }
    s[2] = W(New2(LIST, nbuckets));
    return nbuckets;
}

ALGEB TableSel(ALGEB s, ALGEB key, ALGEB val) {
    if (!istable(s)) userror("The table object has not been properly defined");
    ALGEB buckets = A(A(s[2])[1]);
    WORD nb = LENGTH2(buckets) - 1;
    UINT hk = hashalg(key);
    bool plain = plainkey(key);
    TableIndex *ix = nb > 0 && plain ? indexof(buckets, nb) : 0;
    ALGEB seq = null;
    WORD j = 0, at = 1;
    bool found = false;
    if (ix != 0) {
        ALGEB e = indexfind(*ix, hk, key);
        if (val == 0) return e != 0 ? entryvalue(e) : defaultvalue(s, key);
        if (e != 0) return setvalues(e, val);
        j = bucketof(hk, nb);
        seq = A(A(buckets[j])[1]);
        // The bisection's steps depend on each other; fetching every entry, then every key
        // that is not an integer, at once overlaps their cache misses.
        for (WORD k = 1; k < LENGTH2(seq); k++)
            __builtin_prefetch(A(seq[k]));
        if (!IMMINT(key))
            for (WORD k = 1; k < LENGTH2(seq); k++)
                __builtin_prefetch(A(A(A(seq[k])[1])[1]));
        at = SetBisect(
            seq, [key](ALGEB x) { return keycomp(key, entrykey(x)); }, found);
        // Only a key whose characters were changed in place after it was stored is found here.
        if (found) return setvalues(A(seq[at]), val);
    } else {
        if (nb > 0) {
            j = bucketof(hk, nb);
            seq = bucketseq(A(buckets[j]));
            at = SetBisect(
                seq, [key](ALGEB x) { return SetComp(key, entrykey(x)); }, found);
        }
        if (val == 0) return found ? entryvalue(A(seq[at])) : defaultvalue(s, key);
        if (found) return setvalues(A(seq[at]), val);
        if (nb > 0 && !plain) forgetindex(buckets);
    }
    if (nb == 0) {
        nb = TABLEBUCKETS;
        buckets = emptybuckets(nb);
        s[2] = W(New2(LIST, buckets));
        j = bucketof(hk, nb);
    }
    ALGEB vals = is(val, EXPSEQ) ? val : New2(EXPSEQ, val);
    ALGEB entry = New2(LIST, New3(EXPSEQ, key, New2(LIST, vals)));
    WORD len = LENGTH2(seq);
    // Every word is written below: no clearing first.
    ALGEB grown = get_space(len + 1);
    grown[0] = (len + 1) | EXPSEQ | genpat;
    memcpy(grown + 1, seq + 1, (size_t)(at - 1) * sizeof(WORD));
    grown[at] = W(entry);
    memcpy(grown + at + 1, seq + at, (size_t)(len - at) * sizeof(WORD));
    // A new bucket object: empty buckets share EmptySet.
    buckets[j] = W(New2(SET, grown));
    if (ix != 0) indexadd(*ix, hk, key, entry);
    if (len != BUCKETFULL || nb >= MAXTABLEBUCKETS) return val;
    if (ix == 0) {
        rebuild(s, 2 * nb + 3, [](ALGEB a, ALGEB b) { return SetComp(a, b); });
        return val;
    }
    ALGEB nbuckets = rebuild(s, 2 * nb + 3, [](ALGEB a, ALGEB b) { return keycomp(a, b); });
    // The index finds entries by hash whatever their bucket, so it moves to the new buckets; a
    // table that still shares the old ones builds theirs again.
    TableIndex moved = std::move(*ix);
    indexes.erase(buckets);
    moved.nb = 2 * nb + 3;
    moved.walked = moved.count;
    indexes[nbuckets] = std::move(moved);
    lastbuckets = 0;
    return val;
}
