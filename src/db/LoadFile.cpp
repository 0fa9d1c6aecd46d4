// Loading sequence databases: the text, the entry index (.map), the Pat index (.tree), entry
// numbers, and the selectors and escaped printed forms of a database.
#include "LoadFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Lumbra.h"
#include "SetOption.h"
#include "miscfuncs.h"
#include "selector.h"

UWORD DbWideFrom = 0xFFFFFFFFULL;

database *CurrentDb() {
    ALGEB db = ININDB != 0 ? A(ININDB[1]) : 0;
    if (db == 0 || !is(db, DNAFILE)) return 0;
    return (database *)db;
}

// ---------------------------------------------------------------------------
// Messages and progress.

// A message through the printer, line by line, so that the output column stays right.
static void dbmessage(const char *fmt, ...) {
    char buf[1200];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    for (const char *p = buf; *p != 0;) {
        const char *nl = strchr(p, '\n');
        if (nl == 0) {
            prpart(p);
            break;
        }
        prpartn(p, (size_t)(nl - p));
        mendline();
        p = nl + 1;
    }
}

static bool verbose() { return ENVprintlevel > 0; }

// Loads that take more than a few seconds show how far they are on a terminal's error stream.
struct Progress {
    const char *what;
    double start = rtime(), next = 0;
    bool shown = false, tty = isatty(2) != 0;
    explicit Progress(const char *w) : what(w) {}
    void at(UWORD done, UWORD total) {
        if (!tty) return;
        double now = rtime();
        if (now - start < 3 || now < next) return;
        next = now + 0.5;
        fprintf(stderr, "\r%s: %3.0f%%", what, total > 0 ? 100.0 * (double)done / total : 100.0);
        shown = true;
    }
    void say(const char *phase) {
        if (!tty || rtime() - start < 3) return;
        fprintf(stderr, "\r%s: %-30s", what, phase);
        shown = true;
    }
    ~Progress() {
        if (shown) fprintf(stderr, "\r%60s\r", "");
    }
};

// ---------------------------------------------------------------------------
// Storage outside the heap: an anonymous mapping that grows while it is filled and becomes a
// mapped TEXT, which the collector unmaps with its last reference, when it is kept. Until then
// it is given back on every way out.

struct Region {
    char *p = nullptr;
    size_t cap = 0; // bytes mapped
    Region() = default;
    Region(const Region &) = delete;
    Region &operator=(const Region &) = delete;
    ~Region() {
        if (p != nullptr) munmap(p, cap);
    }
    // Room for n bytes and the one past them.
    void reserve(size_t n) {
        if (n + 1 <= cap) return;
        size_t want = n + 1;
        void *q = p == nullptr
                      ? mmap(0, want, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                      : mremap(p, cap, want, MREMAP_MAYMOVE);
        if (q == MAP_FAILED) userror("not enough memory for the database");
        p = (char *)q;
        cap = want;
    }
    ALGEB keep(UWORD len) {
        reserve(len);
        char *q = p;
        p = nullptr;
        if (len + 1 < cap) {
            void *r = mremap(q, cap, len + 1, 0);
            if (r != MAP_FAILED) q = (char *)r;
        }
        return NewMappedRegion(q, len);
    }
};

struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() {
        if (fd >= 0) close(fd);
    }
};

static bool newer(const struct stat &a, const struct stat &b) { // a strictly newer than b
    return a.st_mtim.tv_sec != b.st_mtim.tv_sec ? a.st_mtim.tv_sec > b.st_mtim.tv_sec
                                                : a.st_mtim.tv_nsec > b.st_mtim.tv_nsec;
}

static bool endswith(const std::string &s, const char *suffix) {
    size_t n = strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

static bool compressedname(const std::string &s) { return endswith(s, ".gz") || endswith(s, ".Z"); }

static bool textat(const char *t, UWORD n, UWORD i, const char *tag, size_t len) {
    return i + len <= n && memcmp(t + i, tag, len) == 0;
}
#define TAGAT(t, n, i, tag) textat(t, n, i, tag, sizeof(tag) - 1)

// ---------------------------------------------------------------------------
// Entry numbers.

UWORD GetEntryNumber(const database *df, UWORD pos) {
    WORD lo = -1, hi = (WORD)df->TotEntries;
    while (hi - lo >= 2) {
        WORD mid = lo + (hi - lo) / 2;
        if (DB_GetEntryOffset(df, (UWORD)mid) > pos)
            hi = mid;
        else
            lo = mid;
    }
    return (UWORD)(lo + 1);
}

bool DbPosition(const database *df, ALGEB s, UWORD *pos) {
    if (IMMINT(s)) {
        *pos = IMMVAL(s) < 0 ? 0 : (UWORD)IMMVAL(s);
        return true;
    }
    if (ID2(s) == NUMBER) {
        double d = NUMVAL(s);
        if (d != std::rint(d) || !(std::fabs(d) < 9e18)) return false;
        *pos = d < 0 ? 0 : (UWORD)d;
        return true;
    }
    if (ID2(s) != TEXT || df->string == 0) return false;
    const char *t = STR(s)->t;
    if (t < df->string || t > df->string + df->TotChars) return false;
    *pos = (UWORD)(t - df->string);
    return true;
}

// Where a string of len characters first occurs in text[from, to), or to.
static UWORD findin(const char *text, UWORD from, UWORD to, const char *s, size_t len) {
    if (to < from + len) return to;
    const void *r = memmem(text + from, (size_t)(to - from), s, len);
    return r == 0 ? to : (UWORD)((const char *)r - text);
}

void DbEntryBounds(const database *df, UWORD k, UWORD *from, UWORD *to) {
    UWORD a = DB_GetEntryOffset(df, k - 1), b = DB_GetEntryOffset(df, k);
    UWORD e = findin(df->string, a, b, "</E>", 4);
    *from = a;
    *to = e == b ? b : e + 4;
}

bool DbTagBounds(const database *df, UWORD k, const char *tag, UWORD *from, UWORD *to) {
    UWORD a, b;
    DbEntryBounds(df, k, &a, &b);
    char open[64], close[64];
    if (strlen(tag) > 50) return false;
    int no = snprintf(open, sizeof open, "<%s>", tag);
    int nc = snprintf(close, sizeof close, "</%s>", tag);
    UWORD s = findin(df->string, a, b, open, (size_t)no);
    if (s == b) return false;
    s += (UWORD)no;
    UWORD e = findin(df->string, s, b, close, (size_t)nc);
    if (e == b) return false;
    *from = s;
    *to = e;
    return true;
}

// ---------------------------------------------------------------------------
// Pre-processing: one pass over the text counts the entries and sequence characters, records
// where each entry starts and finds the kind of sequences.

namespace {

enum : unsigned char { CBAD, CNEUTRAL, CT, CU, CPEP };
enum : unsigned { TNONE, TRNA, TMIXED, TPEPTIDE };

struct CharClasses {
    unsigned char c[256] = {};
    constexpr CharClasses() {
        // The one-letter codes of the amino acids; A, C, G and X are also bases.
        for (const char *p = "RNDQEHILKMFPSWYV"; *p; p++)
            c[(unsigned char)*p] = CPEP;
        for (const char *p = "ACGX"; *p; p++)
            c[(unsigned char)*p] = CNEUTRAL;
        c['T'] = CT;
        c['U'] = CU;
    }
};
constexpr CharClasses classes;

// Entry offsets in either width, growing by half when full.
struct EntryTable {
    Region r;
    bool wide;
    UWORD n = 0, cap = 0;
    EntryTable(bool w, UWORD initial) : wide(w) { grow(initial); }
    size_t width() const { return wide ? sizeof(UWORD) : sizeof(UINT); }
    void grow(UWORD c) {
        r.reserve((size_t)c * width());
        cap = c;
    }
    void add(UWORD off) {
        if (n == cap) grow(cap + cap / 2 + 1);
        if (wide)
            ((UWORD *)r.p)[n++] = off;
        else
            ((UINT *)r.p)[n++] = (UINT)off;
    }
    // Gives the table to the record, with the final element TotChars.
    void install(database *df, UWORD totchars) {
        add(totchars);
        df->TotEntries = n - 1;
        df->MaxEntries = n;
        df->EntryObj = r.keep(n * width());
        char *p = STR(df->EntryObj)->t;
        df->EntryOffset = wide ? nullptr : (UINT *)p;
        df->EntryOffset64 = wide ? (UWORD *)p : nullptr;
    }
};

[[noreturn]] void areaoferror(const char *text, UWORD n, unsigned st, unsigned dftype, UWORD i) {
    if (lline > 0) mendline();
    dbmessage("st=%u, dftype=%u, totc=%lu, i=%lu\n", st, dftype, (unsigned long)n,
              (unsigned long)i);
    dbmessage("\narea of error:\n");
    UWORD from = i > 30 ? i - 30 : 0, to = i + 30 < n ? i + 30 : n;
    std::string area, caret;
    for (UWORD k = from; k < to; k++) {
        unsigned char c = (unsigned char)text[k];
        area += c >= ' ' && c < 127 ? (char)c : ' ';
        if (k < i) caret += ' ';
    }
    caret += '^';
    dbmessage("%s\n%s\n", area.c_str(), caret.c_str());
    dbmessage("error detected in position %lu\n", (unsigned long)i);
    userror("invalid character in input SEQ");
}

} // namespace

void PreProInput(const char *text, UWORD n, database *df, bool is64) {
    if (verbose()) dbmessage("Pre-processing input (");
    EntryTable entries(is64, n < 1500 ? 2 : n / 500);
    Progress progress("ReadDb: scanning");
    enum { BETWEEN, ENTRY, SEQ } st = BETWEEN;
    unsigned dftype = TNONE;
    UWORD totaa = 0, nseq = 0, i = 0, polled = 0;
    while (i < n) {
        if (i - polled > (1u << 24)) {
            polled = i;
            if (InterruptNow) lumbra_jump(Main);
            progress.at(i, n);
        }
        if (st != SEQ) {
            const char *lt = (const char *)memchr(text + i, '<', (size_t)(n - i));
            if (lt == 0) {
                i = n;
                break;
            }
            i = (UWORD)(lt - text);
            if (st == BETWEEN) {
                if (TAGAT(text, n, i, "<E>")) {
                    entries.add(i);
                    st = ENTRY;
                    i += 3;
                    continue;
                }
                if (TAGAT(text, n, i, "<SEQ>")) areaoferror(text, n, st, dftype, i);
            } else {
                if (TAGAT(text, n, i, "</E>")) {
                    st = BETWEEN;
                    i += 4;
                    continue;
                }
                if (TAGAT(text, n, i, "<SEQ>")) {
                    nseq++;
                    st = SEQ;
                    i += 5;
                    continue;
                }
                if (TAGAT(text, n, i, "</SEQ>")) areaoferror(text, n, st, dftype, i);
            }
            i++;
            continue;
        }
        // Inside a sequence: every character up to the closing tag is a sequence character.
        UWORD start = i;
        for (; i < n; i++) {
            unsigned char c = (unsigned char)text[i];
            switch (classes.c[c]) {
            case CNEUTRAL: continue;
            case CT:
                if (dftype == TRNA) dftype = TMIXED;
                continue;
            case CU:
                if (dftype == TNONE)
                    dftype = TRNA;
                else if (dftype == TPEPTIDE)
                    break;
                continue;
            case CPEP:
                if (dftype == TNONE)
                    dftype = TPEPTIDE;
                else if (dftype != TPEPTIDE)
                    break;
                continue;
            default:
                if (c == '<') goto closing;
                break;
            }
            totaa += i - start;
            areaoferror(text, n, st, dftype, i);
        }
    closing:
        totaa += i - start;
        if (i == n) break;
        if (TAGAT(text, n, i, "</SEQ>")) {
            st = ENTRY;
            i += 6;
        } else if (TAGAT(text, n, i, "</E>")) {
            st = BETWEEN;
            i += 4;
        } else {
            areaoferror(text, n, st, dftype, i);
        }
    }
    if (st != BETWEEN) {
        if (lline > 0) mendline();
        userror("Database terminates with a truncated entry");
    }
    const char *type = dftype == TPEPTIDE ? "Peptide"
                       : dftype == TRNA   ? "RNA"
                       : dftype == TMIXED ? "Mixed"
                                          : "DNA";
    if (verbose()) dbmessage("%s)\n", dftype == TPEPTIDE ? "peptides" : type);
    df->TotAA = totaa;
    df->type = CreateString(type);
    entries.install(df, n);
    if (verbose())
        dbmessage("%lu sequences within %lu entries considered\n", (unsigned long)nseq,
                  (unsigned long)df->TotEntries);
}

// ---------------------------------------------------------------------------
// The entry index file.

static ALGEB typetext(int c) {
    return CreateString(c == 'D' ? "DNA" : c == 'P' ? "Peptide" : c == 'R' ? "RNA" : "Mixed");
}

[[noreturn]] static void badmap() { userror("Invalid .map file"); }

// Loads name.map when it is usable; false when it is missing, empty or older than the text.
static bool loadmap(const std::string &mapname, const struct stat &dbst, database *df) {
    struct stat ms;
    if (stat(mapname.c_str(), &ms) != 0 || ms.st_size == 0 || newer(dbst, ms)) return false;
    Fd f(open(mapname.c_str(), O_RDONLY));
    if (f.fd < 0) return false;
    if (fstat(f.fd, &ms) != 0) badmap();
    UWORD size = (UWORD)ms.st_size;
    Region buf;
    buf.reserve(size);
    for (UWORD got = 0; got < size;) {
        ssize_t r = read(f.fd, buf.p + got, (size_t)(size - got));
        if (r <= 0) badmap();
        got += (UWORD)r;
    }
    UINT m32 = size >= 4 ? *(UINT *)buf.p : 0;
    UWORD m64 = size >= 8 ? *(UWORD *)buf.p : 0;
    bool wide, swap;
    if (m32 == SWAPMARK || m32 == __builtin_bswap32(SWAPMARK)) {
        wide = false;
        swap = m32 != SWAPMARK;
    } else if (m64 == SWAPMARK64 || m64 == __builtin_bswap64(SWAPMARK64)) {
        wide = true;
        swap = m64 != SWAPMARK64;
    } else {
        badmap();
    }
    size_t w = wide ? 8 : 4;
    if (size < 3 * w || (size - 3 * w) % w != 0) badmap();
    if (!wide && df->TotChars > 0xFFFFFFFFULL) badmap();
    auto word = [&](UWORD k) -> UWORD {
        if (wide) {
            UWORD v = ((UWORD *)buf.p)[k];
            return swap ? __builtin_bswap64(v) : v;
        }
        UINT v = ((UINT *)buf.p)[k];
        return swap ? __builtin_bswap32(v) : v;
    };
    UWORD nent = (size - 3 * w) / w;
    EntryTable entries(wide, nent + 1);
    UWORD prev = 0;
    for (UWORD k = 0; k < nent; k++) {
        UWORD off = word(k + 3);
        if (off >= df->TotChars || (k > 0 && off <= prev)) badmap();
        entries.add(off);
        prev = off;
    }
    // Entries must start where the index says: the first, the last and a sample between.
    const char *t = df->string;
    UWORD step = nent / 1000 + 1;
    for (UWORD k = 0; k < nent; k += k + step < nent || k + 1 == nent ? step : nent - 1 - k) {
        UWORD off = word(k + 3);
        if (!TAGAT(t, df->TotChars, off, "<E>")) badmap();
    }
    // No entry may come before the first one or after the last one.
    UWORD firstE = findin(t, 0, df->TotChars, "<E>", 3);
    if (nent == 0 ? firstE != df->TotChars : firstE != word(3)) badmap();
    if (nent > 0) {
        UWORD lastend = findin(t, word(nent + 2), df->TotChars, "</E>", 4);
        if (findin(t, lastend, df->TotChars, "<E>", 3) != df->TotChars) badmap();
    }
    df->TotAA = word(2);
    if (df->TotAA > df->TotChars) badmap();
    df->type = typetext((int)word(1));
    entries.install(df, df->TotChars);
    return true;
}

// Writes name.map; a file that cannot be written completely is removed again.
static void writemap(const std::string &mapname, const database *df) {
    if (verbose()) dbmessage("Creating file %s for mapping\n", mapname.c_str());
    FILE *f = fopen(mapname.c_str(), "w");
    if (f == 0) return;
    bool ok;
    UWORD typechar = (UWORD)(unsigned char)(textual(df->type) ? STR(df->type)->t[0] : 'M');
    if (DB_is64(df)) {
        UWORD head[3] = {SWAPMARK64, typechar, df->TotAA};
        ok = fwrite(head, sizeof head, 1, f) == 1 &&
             fwrite(df->EntryOffset64, 8, df->TotEntries, f) == df->TotEntries;
    } else {
        UINT head[3] = {SWAPMARK, (UINT)typechar, (UINT)df->TotAA};
        ok = fwrite(head, sizeof head, 1, f) == 1 &&
             fwrite(df->EntryOffset, 4, df->TotEntries, f) == df->TotEntries;
    }
    if (fclose(f) != 0) ok = false;
    if (!ok) unlink(mapname.c_str());
}

// ---------------------------------------------------------------------------
// The Pat index file. The 32-bit form is TotAA offsets without a header; the 64-bit form starts
// with the word SWAPMARK64. A new index is written under a temporary name and renamed when it
// is complete, so that an interrupted build never leaves an index that looks finished.

static UWORD treebytes(const database *df) {
    return DB_is64(df) ? 8 + 8 * df->TotAA : 4 * df->TotAA;
}

// Calls f(position) for every sequence character, in text order; the count.
template <class F>
static UWORD eachseqchar(const database *df, F f) {
    const char *t = df->string;
    UWORD n = df->TotChars, count = 0;
    for (UWORD i = 0; i < n;) {
        UWORD s = findin(t, i, n, "<SEQ>", 5);
        if (s == n) break;
        s += 5;
        const char *e = (const char *)memchr(t + s, '<', (size_t)(n - s));
        UWORD end = e == 0 ? n : (UWORD)(e - t);
        for (UWORD p = s; p < end; p++)
            f(p, count++);
        i = end;
        if (InterruptNow) lumbra_jump(Main);
    }
    return count;
}

// Which way the index is sorted: the suffix array of the whole text pays when sequences make up
// much of the text and its working array fits in memory; else the multikey quicksort of the
// sequence positions alone.
static bool usesuffixarray(const database *df) {
    const char *force = getenv("LUMBRA_PATSORT");
    if (force != 0 && strcmp(force, "multikey") == 0) return false;
    if (force != 0 && strcmp(force, "suffixarray") == 0) return true;
    UWORD n = df->TotChars;
    double need = (double)n * (n < (UWORD)INT32_MAX ? 4 : 8) + (double)df->TotAA * 8;
    double mem = (double)sysconf(_SC_PHYS_PAGES) * (double)sysconf(_SC_PAGESIZE);
    return df->TotAA >= n / 4 && need < 0.6 * mem;
}

template <class T>
static void sortpat(const database *df, T *pat) {
    UWORD m = df->TotAA;
    auto mismatch = [&](UWORD uj) {
        dbmessage("uj=%lu, df->TotAA=%lu\n", (unsigned long)uj, (unsigned long)m);
        userror("uj and df->TotAA do not match");
    };
    if (usesuffixarray(df)) {
        std::vector<uint64_t> keep((size_t)(df->TotChars / 64 + 1), 0);
        UWORD uj =
            eachseqchar(df, [&](UWORD p, UWORD) { keep[p >> 6] |= (uint64_t)1 << (p & 63); });
        if (uj != m) mismatch(uj);
        if (PatSortSuffixArray(df->string, df->TotChars, keep.data(), pat, m)) return;
    }
    UWORD uj = eachseqchar(df, [&](UWORD p, UWORD k) {
        if (k < m) pat[k] = (T)p;
    });
    if (uj != m) mismatch(uj);
    PatSortMultikey(df->string, df->TotChars, pat, m);
}

static void printsuffix(const database *df, UWORD off) {
    std::string s;
    for (UWORD k = off; k < df->TotChars && k < off + 19 && df->string[k] != '\n'; k++)
        s += df->string[k];
    prpartn(s.data(), s.size());
}

static void buildtree(const std::string &treename, database *df) {
    if (df->TotAA == 0) userror("database contains no entries");
    std::string tmp = treename + ".new" + std::to_string(getpid());
    struct Unlink {
        const std::string &name;
        bool done = false;
        ~Unlink() {
            if (!done) unlink(name.c_str());
        }
    } cleanup{tmp};
    Fd f(open(tmp.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0666));
    if (f.fd < 0) userror("cannot open Pat index file");
    UWORD bytes = treebytes(df);
    if (ftruncate(f.fd, (off_t)bytes) != 0) userror("cannot grow Pat index file");
    void *m = mmap(0, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, f.fd, 0);
    if (m == MAP_FAILED) userror("Failed to mmap Pat index");
    struct Unmap {
        void *m;
        UWORD bytes;
        ~Unmap() { munmap(m, bytes); }
    } unmap{m, bytes};
    if (verbose())
        dbmessage("Building new Pat index in file %s with %lu entries\n", treename.c_str(),
                  (unsigned long)df->TotAA);
    Progress progress("ReadDb: building the Pat index");
    progress.say("sorting");
    UWORD first, last;
    if (DB_is64(df)) {
        UWORD *pat = (UWORD *)m;
        pat[0] = SWAPMARK64;
        sortpat(df, pat + 1);
        first = pat[1];
        last = pat[df->TotAA];
    } else {
        UINT *pat = (UINT *)m;
        sortpat(df, pat);
        first = pat[0];
        last = pat[df->TotAA - 1];
    }
    if (verbose()) {
        dbmessage("Pat index with %lu entries\n sorted, from ", (unsigned long)df->TotAA);
        printsuffix(df, first);
        prpart(" to ");
        printsuffix(df, last);
        mendline();
    }
    if (rename(tmp.c_str(), treename.c_str()) != 0) userror("cannot open Pat index file");
    cleanup.done = true;
}

[[noreturn]] static void corrupttree() { userror("index file is corrupt"); }

// Maps the index read-only and checks it: its byte order, every entry inside the text, and, for
// an index built earlier, a sample of neighbours in order.
static void opentree(const std::string &treename, database *df, bool fresh) {
    Fd f(open(treename.c_str(), O_RDONLY));
    if (f.fd < 0) userror("cannot open index file");
    UWORD bytes = treebytes(df);
    struct stat st;
    if (fstat(f.fd, &st) != 0 || (UWORD)st.st_size != bytes) corrupttree();
    void *m = mmap(0, bytes + 1, PROT_READ, MAP_SHARED, f.fd, 0);
    if (m == MAP_FAILED) userror("Failed to mmap Pat index");
    df->PatObj = NewMappedRegion(m, bytes);
    df->CacheFP = -1;
    UWORD n = df->TotChars, aa = df->TotAA;
    if (DB_is64(df)) {
        UWORD mark = *(UWORD *)m;
        if (mark == __builtin_bswap64(SWAPMARK64)) userror("Fixme swap64");
        if (mark != SWAPMARK64) corrupttree();
        df->PatCache64 = (UWORD *)m + 1;
        df->PatSwap = 0;
        UWORD top = 0;
        for (UWORD i = 0; i < aa; i++)
            top = std::max(top, df->PatCache64[i]);
        if (top >= n) corrupttree();
    } else {
        UINT *pat = (UINT *)m;
        df->PatCache = pat;
        df->PatSwap = 0;
        for (UWORD i = 0; i < aa && i < 100; i++)
            if (pat[i] >= n) {
                df->PatSwap = 1;
                break;
            }
        UINT top = 0;
        if (df->PatSwap == 1)
            for (UWORD i = 0; i < aa; i++)
                top = std::max(top, __builtin_bswap32(pat[i]));
        else
            for (UWORD i = 0; i < aa; i++)
                top = std::max(top, pat[i]);
        if (top >= n) corrupttree();
    }
    if (fresh) return;
    const unsigned char *t = (const unsigned char *)df->string;
    UWORD step = aa / 1000 + 1;
    for (UWORD i = 0; i < aa; i += step) {
        UWORD a = DB_GetPat(df, i);
        if (t[a] == '<') corrupttree();
        if (i + 1 == aa) break;
        UWORD b = DB_GetPat(df, i + 1);
        UWORD la = n - a, lb = n - b, len = std::min(std::min(la, lb), (UWORD)1 << 20);
        int c = memcmp(t + a, t + b, (size_t)len);
        if (c > 0 || (c == 0 && len == std::min(la, lb) && la >= lb)) corrupttree();
    }
}

// ---------------------------------------------------------------------------
// ReadDb.

static std::string treenameof(std::string name) {
    if (endswith(name, ".gz"))
        name.resize(name.size() - 3);
    else if (endswith(name, ".Z"))
        name.resize(name.size() - 2);
    return name + ".tree";
}

static std::string shellquoted(const std::string &s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

// The whole output of zcat of the file, as a mapped text.
static ALGEB readcompressed(const std::string &name) {
    std::string cmd = "zcat " + shellquoted(name) + " 2>/dev/null";
    FILE *p = popen(cmd.c_str(), "r");
    if (p == 0) userror("cannot zcat compressed database file");
    struct Close {
        FILE *p;
        int status = -1;
        ~Close() {
            if (p != 0) pclose(p);
        }
    } pipe{p};
    Region r;
    UWORD n = 0;
    Progress progress("ReadDb: uncompressing");
    for (;;) {
        r.reserve(n + (1 << 20));
        size_t got = fread(r.p + n, 1, r.cap - 1 - n, p);
        if (got == 0) break;
        n += got;
        if (InterruptNow) lumbra_jump(Main);
        progress.say(std::to_string(n >> 20).append(" MB").c_str());
    }
    int status = pclose(p);
    pipe.p = 0;
    if (status != 0 || n == 0) userror("cannot zcat compressed database file");
    return r.keep(n);
}

// The plain file as a text: mapped, or read into memory of its own when it is small. Either
// way the text lies outside the heap, where views into it are found exactly whatever bytes it
// holds.
static ALGEB readplain(const std::string &name, UWORD size, bool map) {
    Fd f(open(name.c_str(), O_RDONLY));
    if (f.fd < 0) userror("Database file not accessible");
    struct stat st;
    if (fstat(f.fd, &st) != 0 || (UWORD)st.st_size != size)
        userror("Could not read the right number of characters; check syntax at the end of the "
                "file");
    if (map) {
        void *m = mmap(0, size + 1, PROT_READ, MAP_PRIVATE, f.fd, 0);
        if (m == MAP_FAILED) userror("Unable to open input file");
        return NewMappedRegion(m, size);
    }
    Region r;
    r.reserve(size);
    for (UWORD got = 0; got < size;) {
        ssize_t k = read(f.fd, r.p + got, (size_t)(size - got));
        if (k <= 0) {
            perror("print");
            dbmessage("i=%lu, totc=%lu nc=%ld\n", (unsigned long)got, (unsigned long)size, (long)k);
            userror("Could not read the right number of characters; check syntax at the end of "
                    "the file");
        }
        got += (UWORD)k;
    }
    return r.keep(size);
}

// The first characters of the file, uncompressed when it is compressed.
static std::string firstchars(const std::string &name, bool compressed) {
    char buf[8] = {0};
    size_t n = 0;
    if (compressed) {
        FILE *p = popen(("zcat " + shellquoted(name) + " 2>/dev/null").c_str(), "r");
        if (p == 0) return "";
        n = fread(buf, 1, 5, p);
        pclose(p);
    } else {
        FILE *f = fopen(name.c_str(), "r");
        if (f == 0) return "";
        n = fread(buf, 1, 5, f);
        fclose(f);
    }
    return std::string(buf, n);
}

// The name expanded, a symbolic link replaced by its target (one level, relative to the link).
static std::string dbname(const char *filename) {
    char expanded[4096];
    expandname(filename, expanded, sizeof expanded);
    std::string name = expanded;
    if (name.size() > 159) userror("Database name too long");
    struct stat ls;
    if (lstat(name.c_str(), &ls) == 0 && S_ISLNK(ls.st_mode)) {
        char target[4096];
        ssize_t k = readlink(name.c_str(), target, sizeof target - 1);
        if (k > 0) {
            target[k] = 0;
            size_t slash = name.rfind('/');
            if (target[0] != '/' && slash != std::string::npos)
                name = name.substr(0, slash + 1) + target;
            else
                name = target;
        }
        if (name.size() > 159) userror("Database name too long");
    }
    return name;
}

static UWORD filesize(const std::string &name, bool *exists) {
    struct stat st;
    *exists = stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    return *exists ? (UWORD)st.st_size : 0;
}

ALGEB ReadDb(const char *filename) {
    std::string name = dbname(filename);
    struct stat dbst;
    if (stat(name.c_str(), &dbst) != 0 || !S_ISREG(dbst.st_mode))
        userror("Database file not accessible");
    UWORD size = (UWORD)dbst.st_size;

    // An empty file stands for its compressed form when there is one.
    if (size < 100) {
        bool ok = false;
        if (size == 0)
            for (const char *suffix : {".Z", ".gz"}) {
                bool exists;
                UWORD s = filesize(name + suffix, &exists);
                if (exists && s > 100) {
                    name += suffix;
                    stat(name.c_str(), &dbst);
                    size = s;
                    ok = true;
                    break;
                }
            }
        if (!ok) {
            dbmessage("ReadDb: attempting to read file %s\n", name.c_str());
            userror("file does not exist or is too small");
        }
    }
    bool compressed = compressedname(name);

    // FASTA and UniProt files are converted once and the tagged form is loaded.
    std::string head = firstchars(name, compressed);
    if (!head.empty() && (head[0] == '>' || head.compare(0, 5, "ID   ") == 0)) {
        ALGEB conv =
            SeqFileToDb(name.c_str(), head[0] == '>' ? SeqFormat::Fasta : SeqFormat::UniProt);
        return ReadDb(STR(conv)->t);
    }

    database *cur = CurrentDb();
    if (cur != 0 && strcmp(cur->FileName, name.c_str()) == 0) return (ALGEB)cur;

    WORD words = NrALGEBs(sizeof(database), WORD);
    ALGEB rec = Newl1(words, DNAFILE);
    database *df = (database *)rec;
    memset((char *)df + sizeof(WORD), 0, sizeof(database) - sizeof(WORD));
    snprintf(df->FileName, sizeof df->FileName, "%s", name.c_str());
    df->CacheFP = -1;
    df->type = OneChar[0];
    df->TotChars = size;

    std::string mapname = name + ".map";
    bool fromMap = false;
    if (compressed) {
        df->TextObj = readcompressed(name);
        df->TotChars = (UWORD)STR(df->TextObj)->length;
    } else {
        bool map = size >= mapsize;
        struct stat ms;
        bool havemap = stat(mapname.c_str(), &ms) == 0 && ms.st_size > 0 && !newer(dbst, ms);
        if (!havemap && verbose())
            dbmessage("Reading %lu characters from file %s\n", (unsigned long)size, name.c_str());
        df->TextObj = readplain(name, size, map || havemap);
        df->string = STR(df->TextObj)->t;
        fromMap = havemap && loadmap(mapname, dbst, df);
    }
    df->string = STR(df->TextObj)->t;
    if (!fromMap) {
        if (df->TotChars == 0 || df->string[0] != '<')
            userror("database does not start with sgml tag");
        PreProInput(df->string, df->TotChars, df, df->TotChars > DbWideFrom);
        if (!compressed && df->TotChars >= mapsize) writemap(mapname, df);
    }

    std::string treename = treenameof(name);
    struct stat ts;
    bool fresh = false;
    if (stat(treename.c_str(), &ts) == 0) {
        if (ts.st_size == 0) {
            df->PatSwap = PAT_EMPTY;
            ININDB[1] = W(rec);
            return rec;
        }
        UWORD want = treebytes(df);
        if ((UWORD)ts.st_size != want) {
            long found = DB_is64(df) ? ((long)ts.st_size - 8) / 8 : (long)ts.st_size / 4;
            dbmessage("ReadDb: expected %lu Pat entries, found %ld\n", (unsigned long)df->TotAA,
                      found);
            userror("existing index does not match file size");
        }
        if (newer(dbst, ts)) {
            buildtree(treename, df);
            fresh = true;
        }
    } else {
        buildtree(treename, df);
        fresh = true;
    }
    opentree(treename, df, fresh);
    ININDB[1] = W(rec);
    return rec;
}

// ---------------------------------------------------------------------------
// Selectors: DB[FileName], DB[string], DB[string, k], DB[TotChars], DB[Entry, k], DB[Pat, k].

static bool fieldis(ALGEB sel, const char *f) {
    if (ID2(sel) == NAME) return strcmp(NAMETEXT(sel), f) == 0;
    size_t n = strlen(f);
    return (UWORD)STR(sel)->length == n && memcmp(STR(sel)->t, f, n) == 0;
}

// An index that may exceed the range of immediates: an integral number.
static bool bigindex(ALGEB x, WORD *k) {
    if (IMMINT(x)) return *k = IMMVAL(x), true;
    if (ID2(x) != NUMBER) return false;
    double d = NUMVAL(x);
    if (d != std::rint(d) || !(std::fabs(d) < 9e18)) return false;
    *k = (WORD)d;
    return true;
}

ALGEB DBSel(ALGEB s, ALGEB t, int i, ALGEB val) {
    database *df = (database *)s;
    ALGEB sel = A(t[i]);
    WORD n = LENGTH2(t);
    if (IMMINT(sel) || (ID2(sel) != NAME && ID2(sel) != TEXT))
        userror("invalid selector for database");
    if (val != 0) userror("cannot assign to database");
    bool last = i == n - 1;
    ALGEB next = last ? 0 : A(t[i + 1]);
    bool nextlast = i + 1 == n - 1;
    ALGEB r;
    if (fieldis(sel, "FileName")) {
        r = CreateString(df->FileName);
    } else if (fieldis(sel, "string")) {
        WORD k;
        if (nextlast && bigindex(next, &k)) {
            if (k < 1 || (UWORD)k > df->TotChars) userror("cannot apply selector on object");
            return OneChar[(unsigned char)df->string[k - 1]];
        }
        r = Newl1(3, TEXT);
        r[1] = (WORD)df->TotChars;
        r[2] = W(df->string);
        // Ranges beyond the reach of text indices are cut here; others go to the text.
        WORD lo, hi;
        if (next != 0 && is(next, RANGE) && bigindex(A(next[1]), &lo) &&
            bigindex(A(next[2]), &hi) && lo >= 1 && hi >= lo && (UWORD)hi <= df->TotChars) {
            r[1] = hi - lo + 1;
            r[2] = W(df->string + lo - 1);
            i++;
        }
    } else if (fieldis(sel, "TotChars")) {
        r = Newint((WORD)df->TotChars);
    } else if (fieldis(sel, "TotEntries")) {
        r = Newint((WORD)df->TotEntries);
    } else if (fieldis(sel, "TotAA")) {
        r = Newint((WORD)df->TotAA);
    } else if (fieldis(sel, "type")) {
        r = df->type;
    } else if (fieldis(sel, "Entry") || fieldis(sel, "entry") || fieldis(sel, "Pat")) {
        WORD k;
        if (!nextlast || !bigindex(next, &k)) userror("invalid selector for database");
        if (fieldis(sel, "Pat")) {
            if (!DB_HasPat(df)) userror("the database has no Pat index");
            if (k < 1 || (UWORD)k > df->TotAA) userror("cannot apply selector on object");
            return Newint((WORD)DB_GetPat(df, (UWORD)k - 1));
        }
        if (k < 1 || (UWORD)k > df->TotEntries + 1) userror("cannot apply selector on object");
        return Newint((WORD)DB_GetEntryOffset(df, (UWORD)k - 1));
    } else {
        userror("invalid selector for database");
    }
    return i + 1 < n ? selector(r, t, i + 1, 0) : r;
}

// ---------------------------------------------------------------------------
// Printed forms.

DbTextPlace DbPlaceOf(ALGEB x) {
    DbTextPlace f{};
    database *df = CurrentDb();
    if (df == 0 || df->string == 0) return f;
    const char *t = STR(x)->t;
    UWORD n = (UWORD)STR(x)->length;
    if (t < df->string || t >= df->string + df->TotChars) return f;
    UWORD pos = (UWORD)(t - df->string);
    if (n > df->TotChars - pos) notimpl("lineprint - bad string");
    if (pos == 0 && n == df->TotChars) {
        f.kind = DbTextPlace::Whole;
        return f;
    }
    f.kind = DbTextPlace::Range;
    f.first = pos + 1;
    f.last = pos + n;
    UWORD k = GetEntryNumber(df, pos);
    if (k == 0 || pos + n > DB_GetEntryOffset(df, k)) return f;
    ASSERT(DB_GetEntryOffset(df, k - 1) <= pos && DB_GetEntryOffset(df, k) > pos);
    UWORD a, b;
    for (const char *tag : {"AC", "ID"}) {
        if (!DbTagBounds(df, k, tag, &a, &b)) continue;
        UWORD e = a;
        while (e < b && df->string[e] != ';' && df->string[e] != '<')
            e++;
        if (e == a) continue;
        f.tag = tag;
        f.value = df->string + a;
        f.valuelen = e - a;
        break;
    }
    if (f.tag == 0) return f;
    if (DbTagBounds(df, k, "SEQ", &a, &b) && pos >= a && pos + n <= b) {
        f.kind = DbTextPlace::Sequence;
        f.first = f.last = 0;
        if (!(pos == a && n == b - a)) {
            f.first = pos - a + 1;
            f.last = pos - a + n;
        }
        return f;
    }
    DbEntryBounds(df, k, &a, &b);
    if (pos == a && n == b - a) {
        f.kind = DbTextPlace::Entry;
        f.first = f.last = 0;
        return f;
    }
    f.kind = DbTextPlace::Plain;
    return f;
}
