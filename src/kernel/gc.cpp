// The collector: generations protect what running code holds; marking and sweeping reclaim the
// rest between statements.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>

#include "Lumbra.h"

// Generation 1 is open from the start; tag 0 (free blocks) is never protected.
INT genc[NGEN] = {0, 999999};
INT gene[NGEN] = {0, 999999};
int gcgen = 1;
WORD genpat = (WORD)1 << ShiftGC;
WORD markpat = 0;
int printgcstatus = 1;
double incrgc = INCRGC, nextgc = INCRGC;
INT incrgen = 67688;
double nextgcgen = 67688;
int GenLeastAlloc = 0;
int totgcs = 0;
UWORD remem_clock = 0;
int gcstress = 0;

constexpr WORD MARK254 = (WORD)254 << ShiftGC;
constexpr WORD MARK255 = (WORD)255 << ShiftGC;

// Roots that components other than the kernel keep in their own variables.
static ALGEB *extraroots[64];
static int nextraroots = 0;

void GcRoot(ALGEB *p) {
    if (nextraroots == (int)(sizeof extraroots / sizeof extraroots[0])) notimpl("GcRoot");
    extraroots[nextraroots++] = p;
}

static void (*cachecleaners[16])();
static int ncachecleaners = 0;

void GcCacheCleaner(void (*f)()) {
    if (ncachecleaners == (int)(sizeof cachecleaners / sizeof cachecleaners[0]))
        notimpl("GcCacheCleaner");
    cachecleaners[ncachecleaners++] = f;
}

static inline bool dead(ALGEB p) { return p != 0 && !IMMINT(p) && genc[GcTag(p)] == 0; }

static void (*weakcaches[8])();
static int nweakcaches = 0;

void GcWeakCache(void (*f)()) {
    if (nweakcaches == (int)(sizeof weakcaches / sizeof weakcaches[0])) notimpl("GcWeakCache");
    weakcaches[nweakcaches++] = f;
}

bool GcDead(ALGEB p) { return dead(p); }

// ---------------------------------------------------------------------------
// Marking, with a stack of its own so that deep structures cannot exhaust the machine stack.

static ALGEB *markstack = 0;
static size_t marktop = 0, markcap = 0;

static void markpush(ALGEB s) {
    if (s == 0 || IMMINT(s)) return;
    if (marktop == markcap) {
        markcap = markcap == 0 ? 4096 : 2 * markcap;
        markstack = (ALGEB *)realloc(markstack, markcap * sizeof(ALGEB));
        if (markstack == 0) notimpl("ran out of memory");
    }
    markstack[marktop++] = s;
}

static bool outsideheap(ALGEB s) { return (UWORD)s < lostorage || (UWORD)s >= historage; }

static void markstring(const char *s) {
    if (s >= OneChars && s <= OneChars + 256) return;
    ALGEB t = FindTextHead(s);
    if (t == 0) {
        printf("(UINT)s=%lu, lostorage=%lu, cond=%d\n", (unsigned long)(UWORD)s,
               (unsigned long)lostorage, (UWORD)s >= lostorage);
        printf("(UINT)s=%lu, historage=%lu, cond=%d\n", (unsigned long)(UWORD)s,
               (unsigned long)historage, (UWORD)s < historage);
        printf("s=%.40s, s=%ld\n", s, (long)(UWORD)s);
        notimpl("gc-14");
    }
    markpush(t);
}

static database *currentdb() {
    ALGEB db = A(ININDB[1]);
    if (db == 0 || !is(db, DNAFILE)) return 0;
    return (database *)db;
}

static void markloop() {
    while (marktop > 0) {
        ALGEB s = markstack[--marktop];
        for (;;) { // follows the last reference of each object without pushing it
            if (s == 0 || IMMINT(s)) break;
            WORD t = (s[0] & MASKID) >> ShiftID;
            if (outsideheap(s) || t < FIRST_CASE || t > LAST_CASE) {
                printf("lostorage=%ld, s=%ld, historage=%ld\n", (long)lostorage, (long)W(s),
                       (long)historage);
                notimpl("gc-5");
            }
            if (genc[GcTag(s)] != 0 || t == GARBAGE_CASE) break;
            s[0] = (s[0] & COMPLGC) | markpat;
            WORD L = LENGTH2(s);
            switch (t) {
            case NAME_CASE: s = A(s[1]); continue;
            case LOCAL_CASE:
                if (L != 3) break;
                s = A(s[2]);
                continue;
            case HASH_CASE:
                for (WORD k = 1; k + 1 < L && s[k] != 0; k += 2)
                    markpush(A(s[k + 1]));
                break;
            case HASHTAB_CASE:
                if (s != nametab && s != remembertab) notimpl("gc-11");
                for (WORD k = 1; k < L; k++)
                    markpush(A(s[k]));
                break;
            case TEXT_CASE:
                if (L == 3) {
                    ASSERT(s[1] >= 0);
                    if (s[1] != 0) markstring(STR(s)->t + s[1]);
                } else {
                    ASSERT(A(s[2]) == s + 3 && A(s[L - 1]) == s && s[1] >= 0);
                }
                break;
            case DNAFILE_CASE: {
                database *d = (database *)s;
                markpush(d->type);
                markpush(d->EntryObj);
                markpush(d->PatObj);
                s = d->TextObj;
                continue;
            }
            case DAYMATRIX_CASE:
                for (int k = 1; k <= 4; k++)
                    markpush(A(s[k]));
                s = A(s[5]);
                continue;
            case MATCH_CASE: {
                database *d = currentdb();
                if (d == 0 || d->string == 0) break;
                Match *m = (Match *)s;
                markpush(FindTextHead(d->string + m->Offset1));
                s = FindTextHead(d->string + m->Offset2);
                continue;
            }
            case NUMBER_CASE:
            case PARAM_CASE:
            case LISTNUM_CASE:
            case SYSTEM_CASE:
            case COMPRESSED_CASE:
            case UNSPECIFIED_CASE: break;
            default:
                if (L < 2) break;
                for (WORD k = 1; k < L - 1; k++)
                    markpush(A(s[k]));
                s = A(s[L - 1]);
                continue;
            }
            break;
        }
    }
}

void mark(ALGEB s) {
    markpush(s);
    markloop();
}

// ---------------------------------------------------------------------------
// Tables

void compacttable(ALGEB tab, int n) {
    for (int i = 1; i <= n; i++) {
        ALGEB b = A(tab[i]);
        if (b == 0) continue;
        WORD L = LENGTH2(b);
        WORD last = -1; // key index of the last used pair
        for (WORD k = 1; k + 1 < L && b[k] != 0; k += 2)
            last = k;
        for (WORD k = 1; k <= last;) {
            if (dead(A(b[k + 1]))) {
                b[k] = b[last];
                b[k + 1] = b[last + 1];
                b[last] = 0;
                b[last + 1] = 0;
                last -= 2;
            } else {
                k += 2;
            }
        }
    }
}

// Remembered results are weak: an entry whose procedure or argument died goes, and so does
// every 31st entry visited whose result nothing else holds.
static void weakenremember() {
    int empty = 0, longest = 0, visited = 0, kept = 0;
    WORD n = LENGTH2(remembertab);
    for (WORD i = 1; i < n; i++) {
        ALGEB b = A(remembertab[i]);
        if (b == 0) {
            empty++;
            continue;
        }
        WORD L = LENGTH2(b);
        if (L / 2 > longest) longest = (int)(L / 2);
        WORD w = 1;
        for (WORD k = 1; k + 1 < L && b[k] != 0; k += 2) {
            remem_clock++;
            visited++;
            ALGEB e = A(b[k + 1]);
            bool drop = remem_clock % 31 == 0 && dead(A(e[1]));
            for (WORD j = 2; !drop && j < LENGTH2(e); j++)
                drop = dead(A(e[j]));
            if (drop) continue;
            mark(A(e[1]));
            b[w] = b[k];
            b[w + 1] = b[k + 1];
            w += 2;
            kept++;
        }
        for (WORD k = w; k < L; k++)
            b[k] = 0;
    }
    ALGEB plev = A(ININprintlevel[1]);
    if (IMMINT(plev) && IMMVAL(plev) > 4 && empty < n - 1)
        printf("remember: %d empty, %d longest, %d tot, %d preserv\n", empty, longest, visited,
               kept);
}

// ---------------------------------------------------------------------------
// The collection

// Every free block becomes a dead GARBAGE object, so that the sweep sees a tiled heap.
static void freeblockstogarbage() {
    auto todead = [](ALGEB p, WORD len) {
        while (len > MAXOBJLEN) {
            p[0] = MAXOBJLEN | GARBAGE;
            p += MAXOBJLEN;
            len -= MAXOBJLEN;
        }
        p[0] = len | GARBAGE;
    };
    for (int l = 1; l < NINDIVLISTS; l++) {
        for (ALGEB p = freelist[l]; p != 0;) {
            ALGEB next = A(p[0]);
            todead(p, l);
            p = next;
        }
    }
    for (int c = NINDIVLISTS; c < NFREELISTS; c++) {
        for (ALGEB node = freelist[c]; node != 0;) {
            ALGEB nextnode = A(node[2]);
            WORD len = node[1];
            for (ALGEB p = A(node[0]); p != 0;) {
                ALGEB next = A(p[0]);
                todead(p, len);
                p = next;
            }
            todead(node, len);
            node = nextnode;
        }
    }
    memset(freelist, 0, sizeof freelist);
}

static void badheader(ALGEB t) {
    printf("t: t=%ld, t[0]=%lx, t[1]=%ld, ID(t)=%ld, LENGTH(t)=%ld\n", (long)W(t), (long)t[0],
           (long)t[1], (long)CASE_ID2(t), (long)LENGTH2(t));
    notimpl("gc-2");
}

template <class F>
static void eachobject(F f) {
    for (ALGEB r = allstorage; r != 0; r = A(r[0])) {
        ALGEB end = r + r[1];
        for (ALGEB p = r + 2; p < end;) {
            WORD t = CASE_ID2(p), L = LENGTH2(p);
            if (t < FIRST_CASE || t > LAST_CASE || L < 1 || p + L > end) badheader(p);
            f(p, L, end);
            p += L;
        }
    }
}

static void markroots() {
    ALGEB fixed[] = {null, EmptyList, EmptySet, ModuleNull, parsestat, prompt};
    for (ALGEB x : fixed)
        mark(x);
    for (int i = 0; i < 256; i++)
        mark(OneChar[i]);
    for (int i = 0; i < MAXININnames; i++)
        mark(ininame[i]);
    for (int i = 0; i < NumMonster; i++)
        mark(Monster[i]);
    for (int i = 0; i < TYNAMESIZE; i++)
        mark(tyname[i]);
    for (int i = 0; i < nextraroots; i++)
        mark(*extraroots[i]);
    for (WORD *ctx = Environment->ctx; ctx != 0; ctx = (WORD *)ctx[CTX_LINK])
        for (int k = CTX_LOCALS; k < LumbraStackSize; k++)
            mark(A(ctx[k]));
    for (int i = 1; i <= NAMETSIZE; i++) {
        ALGEB b = A(nametab[i]);
        if (b == 0) continue;
        for (WORD k = 1; k + 1 < LENGTH2(b) && b[k] != 0; k += 2) {
            ALGEB nm = A(b[k + 1]);
            if (nm[1] != 0) mark(nm);
        }
    }
}

static void gcmessage() {
    char buf[100];
    double bytes = (double)totalmem * BYTES_PER_ALGEB;
    if (bytes < 1048576.0)
        snprintf(buf, sizeof buf, "bytes alloc=%.2fKb, time=%4.3f", bytes / 1024, cptime());
    else if (bytes >= 1073741824.0)
        snprintf(buf, sizeof buf, "bytes alloc=%.3fGb, time=%4.3f", bytes / 1073741824.0, cptime());
    else
        snprintf(buf, sizeof buf, "bytes alloc=%.2fMb, time=%4.3f", bytes / 1048576.0, cptime());
    prpart(buf);
    mendline();
}

static void setincrgen() { incrgen = (INT)(3 * incrgc / (2.0 * (MAXGEN - gcgen))) + 1; }

// Marks alternate between two patterns, so the marks of the last collection need no clearing:
// they simply stop counting as live.
static void flipmarkpattern() {
    if (markpat != MARK254) {
        markpat = MARK254;
        genc[254] = 1;
        genc[255] = 0;
    } else {
        markpat = MARK255;
        genc[255] = 1;
        genc[254] = 0;
    }
}

// The new number of every live generation: neighbours with the same bounds become one, and so
// does the generation chosen at the last collection (GenLeastAlloc) with the one before it.
static void planrenumbering(int renum[NGEN]) {
    int i1 = 0, j = 0;
    for (int g = 1; g <= gcgen; g++) {
        if (genc[g] == 0) continue;
        if (g == GenLeastAlloc && i1 != 0) {
            renum[g] = renum[i1];
            genc[g] = genc[i1] = std::min(genc[g], genc[i1]);
            gene[g] = gene[i1] = std::min(gene[g], gene[i1]);
        } else if (j > 0 && genc[g] == genc[i1] && gene[g] == gene[i1]) {
            renum[g] = j;
        } else {
            renum[g] = ++j;
            i1 = g;
        }
    }
    GenLeastAlloc = 0;
}

// Objects of protected generations are live whatever holds them, and so are SYSTEM objects.
// The generation tag is cleared while such an object is marked so that mark does not stop at it.
static void markprotected() {
    eachobject([](ALGEB p, WORD, ALGEB) {
        int tag = GcTag(p);
        if (CASE_ID2(p) == SYSTEM_CASE) {
            mark(p);
        } else if (tag >= 1 && tag <= MAXGEN && genc[tag] != 0) {
            WORD h = p[0];
            p[0] = h & COMPLGC;
            mark(p);
            p[0] = h;
        }
    });
}

// The name table and the remember table hold their entries weakly.
static void weakentables() {
    compacttable(nametab, NAMETSIZE);
    mark(nametab);
    weakenremember();
    mark(remembertab);
}

// Mapped database texts that died are given back to the system.
static void unmapdead() {
    for (int i = 0; i < MAXMAPPED; i++) {
        if (Mapped[i] == 0 || !dead(Mapped[i])) continue;
        if (munmap(STR(Mapped[i])->t, (size_t)STR(Mapped[i])->length + 1) != 0)
            terminate("unmapping failed");
        Mapped[i] = 0;
    }
}

// Runs of dead words go back as single blocks; survivors take their new generation numbers,
// and live[g] counts the words of new generation g.
static void sweep(const int renum[NGEN], double live[NGEN]) {
    // The counts stay in registers across the calls of release: added up in memory they made
    // a chain of dependent stores through the whole heap.
    WORD returned = 0, freed = 0;
    ALGEB run = 0;
    WORD runlen = 0;
    auto closerun = [&]() {
        if (runlen > 0) {
            release(run, runlen);
            freed += runlen;
        }
        run = 0;
        runlen = 0;
    };
    for (ALGEB r = allstorage; r != 0; r = A(r[0])) {
        ALGEB end = r + r[1];
        for (ALGEB p = r + 2; p < end;) {
            WORD L = LENGTH2(p);
            int tag = GcTag(p);
            if (L < 1 || p + L > end) badheader(p);
            if (genc[tag] == 0) {
                if (CASE_ID2(p) != GARBAGE_CASE) returned += L;
                if (runlen == 0) run = p;
                runlen += L;
            } else {
                closerun();
                if (tag <= gcgen) {
                    p[0] = (p[0] & COMPLGC) | ((WORD)renum[tag] << ShiftGC);
                    live[renum[tag]] += (double)L;
                }
            }
            p += L;
        }
        closerun();
    }
    wret = (double)returned;
    totalfree = (double)freed;
}

// The generation bounds move to their new numbers. Near the limit of generations, the one
// with the least live storage is chosen to merge into its neighbour at the next collection.
static void adoptrenumbering(const int renum[NGEN], const double live[NGEN]) {
    int newgen = renum[gcgen];
    if (newgen > 128) {
        int best = 2;
        for (int g = 3; g < newgen; g++)
            if (live[g] < live[best]) best = g;
        GenLeastAlloc = best;
    }
    INT nc[NGEN] = {0}, ne[NGEN] = {0};
    for (int g = 1; g <= gcgen; g++) {
        if (genc[g] == 0) continue;
        nc[renum[g]] = genc[g];
        ne[renum[g]] = gene[g];
    }
    for (int g = 1; g <= MAXGEN; g++) {
        genc[g] = nc[g];
        gene[g] = ne[g];
    }
    if (newgen > MAXGEN || newgen < 1) notimpl("gc-0");
    gcgen = newgen;
    genpat = (WORD)gcgen << ShiftGC;
    setincrgen();
}

void gc() {
    if (WSHead != 0) notimpl("gc-6");
    prtprof(1, "gc", (int)ENVevlstlev);

    flipmarkpattern();
    int renum[NGEN] = {0};
    planrenumbering(renum);
    for (int i = 0; i < ncachecleaners; i++)
        cachecleaners[i]();

    markroots();
    freeblockstogarbage();
    markprotected();
    weakentables();
    for (int i = 0; i < nweakcaches; i++)
        weakcaches[i]();

    // Text heads found before may lie in storage that is about to go.
    nTextHeads = 0;
    unmapdead();

    static double live[NGEN];
    for (double &v : live)
        v = 0;
    sweep(renum, live);
    adoptrenumbering(renum, live);
    totgcs++;

    if ((double)totalmem > 2 * incrgc && std::fmod(incrgc, 4096.0) == 1396.0) {
        incrgc = 4096.0 * std::ceil((double)totalmem / 8192.0) + 1396.0;
        setincrgen();
    }
    if (printgcstatus && !optquiet) gcmessage();
    prtprof(0, "gc", (int)ENVevlstlev);
}

// ---------------------------------------------------------------------------
// Bookkeeping after each statement

void GcAfterStatementWork(WORD L) {
    if (gene[gcgen] > L) {
        gene[gcgen] = (INT)L;
        for (int g = gcgen - 1; g >= 1; g--) {
            if (L <= genc[g] || L == 2) genc[g] = 0;
            if (L >= gene[g]) break;
            gene[g] = (INT)L;
        }
    }
    if (cused > nextgcgen) {
        if (gcgen + 1 > MAXGEN) notimpl("gc-7");
        gcgen++;
        genc[gcgen] = gene[gcgen] = 999999;
        genpat = (WORD)gcgen << ShiftGC;
        nextgcgen = cused + incrgen;
    }
    // The stress mode stops short of deep recursions, where a collection per statement would
    // make the run quadratic.
    if ((cused > nextgc || (gcstress && L <= 256)) && WSHead == 0) {
        gc();
        nextgc = cused + incrgc;
        nextgcgen = cused + incrgen;
    }
}

ALGEB updategen(ALGEB s) {
    if (IMMINT(s)) return s;
    int tag = GcTag(s);
    if (tag >= 1 && tag <= MAXGEN && genc[tag] != 0 && genc[tag] <= ENVevlstlev) return s;
    if (genc[gcgen] > ENVevlstlev) genc[gcgen] = (INT)ENVevlstlev;
    s[0] = (s[0] & COMPLGC) | genpat;
    return s;
}

int64_t HeapSignature() {
    uint64_t h = 0;
    for (ALGEB r = allstorage; r != 0; r = A(r[0]))
        for (WORD k = 2; k < r[1]; k++)
            h = 131 * h + (uint64_t)r[k];
    return (int64_t)h;
}
