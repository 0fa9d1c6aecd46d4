// Compressed objects: trees of numbers, texts, lists, sets and structures packed into a
// stream of 4-bit codes that the collector never traces, and rebuilt on demand.
#include "compress.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "Lumbra.h"

ALGEB *StructureNames = 0;
WORD StructureLengths[MAXSTRUCTURENAMES];
int TotStructureNames = 0;

int Compress_hits = 0, Compress_misses = 0, Compress_empty = 0;

// The names live in an EXPSEQ of their own so that one root keeps them all.
static ALGEB StructureTable = 0;

static const char Corrupted[] = "corrputed compressed structure";

// ---------------------------------------------------------------------------
// Writing: one nibble per byte of the buffer.

static inline void putnib(int v, unsigned char *buf, int *pos) {
    if (*pos >= MAXCOMPRSTRLEN) userror("object too long to compress");
    buf[(*pos)++] = (unsigned char)(v & 15);
}

// The n nibbles of v, most significant first.
static void putbits(uint64_t v, int n, unsigned char *buf, int *pos) {
    for (int k = n - 1; k >= 0; k--)
        putnib((int)(v >> (4 * k)), buf, pos);
}

// The narrowest integer token that holds v; negative values never use the 4-bit form.
static void putint(WORD v, unsigned char *buf, int *pos) {
    if (v >= 0 && v <= 15) {
        putnib(POSINT_4_BIT, buf, pos);
        putnib((int)v, buf, pos);
        return;
    }
    static const struct {
        int code, nibbles;
    } forms[] = {{INT_8_BIT, 2},  {INT_12_BIT, 3}, {INT_16_BIT, 4},
                 {INT_20_BIT, 5}, {INT_24_BIT, 6}, {INT_32_BIT, 8}};
    for (auto f : forms) {
        WORD half = (WORD)1 << (4 * f.nibbles - 1);
        if (v >= -half && v < half) {
            putnib(f.code, buf, pos);
            putbits((uint64_t)v, f.nibbles, buf, pos);
            return;
        }
    }
    notimpl("compress: integer wider than 32 bits");
}

void compressd(double d, unsigned char *buf, int *pos) {
    if (d == std::floor(d) && std::fabs(d) < 2147483648.0) {
        putint((WORD)d, buf, pos);
        return;
    }
    int e = 0;
    if (std::isfinite(d)) std::frexp(d, &e);
    float f = (float)d;
    if (std::isfinite(d) && e >= -126 && e <= 128 && (double)f == d) {
        uint32_t u;
        memcpy(&u, &f, sizeof u);
        putnib(FLOAT_32_BIT, buf, pos);
        putbits(u, 8, buf, pos);
        return;
    }
    putnib(DOUBLE_64_BIT, buf, pos);
    putbits(DoubleBits(d), 16, buf, pos);
}

// The index of the pair (function part, length), added when new.
static int structureindex(ALGEB f, WORD L) {
    for (int i = 0; i < TotStructureNames; i++)
        if (StructureNames[i] == f && StructureLengths[i] == L) return i;
    if (TotStructureNames == MAXSTRUCTURENAMES) userror("too many structure names for compress");
    if (StructureTable == 0) {
        StructureTable = Newl1(MAXSTRUCTURENAMES + 1, EXPSEQ);
        GcRoot(&StructureTable);
        StructureNames = (ALGEB *)(StructureTable + 1);
    }
    StructureNames[TotStructureNames] = f;
    StructureLengths[TotStructureNames] = L;
    return TotStructureNames++;
}

void compressR(ALGEB s, unsigned char *buf, int *pos) {
    stackcheck();
    if (IMMINT(s)) {
        putint(IMMVAL(s), buf, pos);
        return;
    }
    WORD L = LENGTH2(s);
    switch (CASE_ID2(s)) {
    case NUMBER_CASE: {
        double d = NUMVAL(s);
        if (d == std::floor(d) && d >= -2147483648.0 && d <= 2147483647.0)
            putint((WORD)d, buf, pos);
        else
            compressd(d, buf, pos);
        return;
    }
    case EXPSEQ_CASE:
        for (WORD i = 1; i < L; i++)
            compressR(A(s[i]), buf, pos);
        return;
    case LIST_CASE:
    case SET_CASE: {
        ALGEB e = A(s[1]);
        putnib(ID2(s) == LIST ? START_LIST : START_SET, buf, pos);
        putint(LENGTH(e) - 1, buf, pos);
        for (WORD i = 1; i < LENGTH(e); i++)
            compressR(A(e[i]), buf, pos);
        return;
    }
    case LISTNUM_CASE: {
        WORD n = LISTNUMLEN(s);
        putnib(START_LISTNUM, buf, pos);
        putint(n, buf, pos);
        for (WORD i = 0; i < n; i++)
            compressd(LISTNUMDATA(s)[i], buf, pos);
        return;
    }
    case TEXT_CASE: {
        const unsigned char *t = (const unsigned char *)STR(s)->t;
        putnib(START_TEXT, buf, pos);
        for (WORD i = 0; i < STR(s)->length; i++)
            putbits(t[i], 2, buf, pos);
        putbits(0, 2, buf, pos);
        return;
    }
    case FUNCTION_CASE: {
        int k = structureindex(A(s[1]), L);
        putnib(START_OBJECT, buf, pos);
        putbits((uint64_t)k, 2, buf, pos);
        for (WORD i = 2; i < L; i++)
            compressR(A(s[i]), buf, pos);
        return;
    }
    default: userror2(s, "this part cannot be compressed");
    }
}

ALGEB compress(ALGEB s) {
    if (is(s, COMPRESSED)) return s;
    static unsigned char buf[MAXCOMPRSTRLEN];
    int n = 0;
    compressR(s, buf, &n);
    if (n % 2 != 0) putnib(0, buf, &n);
    ALGEB r = Newl1(n > 0 ? (n - 1) / 16 + 2 : 2, COMPRESSED);
    unsigned char *bytes = (unsigned char *)(r + 1);
    for (int i = 0; i < n; i += 2)
        bytes[i / 2] = (unsigned char)(buf[i] << 4 | buf[i + 1]);
    return r;
}

// ---------------------------------------------------------------------------
// Reading the packed nibbles, the first of each byte in its high half.

static inline int getnib(const unsigned char *bytes, WORD *pos, WORD end) {
    if (*pos >= end) userror(Corrupted);
    WORD i = (*pos)++;
    return i % 2 == 0 ? bytes[i / 2] >> 4 : bytes[i / 2] & 15;
}

static uint64_t getbits(int n, const unsigned char *bytes, WORD *pos, WORD end) {
    uint64_t v = 0;
    for (int k = 0; k < n; k++)
        v = v << 4 | (uint64_t)getnib(bytes, pos, end);
    return v;
}

// The integer of a token of code 5..11 whose code has been read; false for other codes.
static bool getint(int code, const unsigned char *bytes, WORD *pos, WORD end, WORD *v) {
    if (code == POSINT_4_BIT) {
        *v = getnib(bytes, pos, end);
        return true;
    }
    static const int widths[] = {2, 3, 4, 5, 6, 8}; // codes 6..11
    if (code < INT_8_BIT || code > INT_32_BIT) return false;
    int n = widths[code - INT_8_BIT];
    uint64_t u = getbits(n, bytes, pos, end);
    uint64_t sign = (uint64_t)1 << (4 * n - 1);
    *v = (WORD)(u ^ sign) - (WORD)sign; // sign extension from 4n bits
    return true;
}

// The value of a token of code 14 or 15 whose code has been read; false for other codes.
static bool getreal(int code, const unsigned char *bytes, WORD *pos, WORD end, double *d) {
    if (code == FLOAT_32_BIT) {
        uint32_t u = (uint32_t)getbits(8, bytes, pos, end);
        float f;
        memcpy(&f, &u, sizeof f);
        *d = f;
        return true;
    }
    if (code == DOUBLE_64_BIT) {
        *d = BitsDouble(getbits(16, bytes, pos, end));
        return true;
    }
    return false;
}

// A numeric token as a double.
static double getdouble(const unsigned char *bytes, WORD *pos, WORD end) {
    int code = getnib(bytes, pos, end);
    WORD v;
    double d;
    if (getint(code, bytes, pos, end, &v)) return (double)v;
    if (getreal(code, bytes, pos, end, &d)) return d;
    userror(Corrupted);
}

// A count of elements; each element needs at least two nibbles.
static WORD getcount(const unsigned char *bytes, WORD *pos, WORD end) {
    ALGEB c = decompressR(bytes, pos, end);
    if (!numeric(c)) userror(Corrupted);
    WORD n = IMMINT(c) ? IMMVAL(c) : (WORD)std::lrint(NUMVAL(c));
    if (n < 0 || n > (end - *pos) / 2) userror(Corrupted);
    return n;
}

static ALGEB gettext(const unsigned char *bytes, WORD *pos, WORD end) {
    constexpr int MAXTEXT = 10001; // bytes searched for the terminating 0
    static char t[MAXTEXT + 1];
    int n = 0;
    for (;;) {
        if (n == MAXTEXT) userror("string too long");
        int c = (int)getbits(2, bytes, pos, end);
        if (c == 0) break;
        t[n++] = (char)c;
    }
    t[n] = 0;
    return CreateString(t);
}

ALGEB decompressR(const unsigned char *bytes, WORD *pos, WORD end) {
    stackcheck();
    int code = getnib(bytes, pos, end);
    WORD v;
    double d;
    if (getint(code, bytes, pos, end, &v)) return Newint(v);
    if (getreal(code, bytes, pos, end, &d)) return NewNumber(d);
    switch (code) {
    case START_LIST:
    case START_SET: {
        WORD n = getcount(bytes, pos, end);
        ALGEB e = n == 0 ? null : Newl1(n + 1, EXPSEQ);
        for (WORD i = 1; i <= n; i++)
            e[i] = W(decompressR(bytes, pos, end));
        return New2(code == START_LIST ? LIST : SET, e);
    }
    case START_LISTNUM: {
        WORD n = getcount(bytes, pos, end);
        ALGEB r = Newl1(n + 1, LISTNUM);
        for (WORD i = 0; i < n; i++)
            LISTNUMDATA(r)[i] = getdouble(bytes, pos, end);
        return r;
    }
    case START_OBJECT: {
        int k = (int)getbits(2, bytes, pos, end);
        if (k >= TotStructureNames) userror(Corrupted);
        WORD L = StructureLengths[k];
        ALGEB r = Newl2(L, FUNCTION, StructureNames[k]);
        for (WORD i = 2; i < L; i++)
            r[i] = W(decompressR(bytes, pos, end));
        return r;
    }
    case START_TEXT: return gettext(bytes, pos, end);
    default: userror(Corrupted); // the reserved widths
    }
}

// ---------------------------------------------------------------------------
// The decompression cache, direct-mapped on the object's address. Every collection empties
// it, since the addresses it holds may be reused afterwards.

static ALGEB Compressed_Cache[COMPRESS_CACHE];
static ALGEB Compress_Cache[COMPRESS_CACHE];
static bool cacheused = false;

static void compresscacheclear() {
    if (cacheused) {
        memset(Compressed_Cache, 0, sizeof Compressed_Cache);
        memset(Compress_Cache, 0, sizeof Compress_Cache);
        cacheused = false;
    }
    int lookups = Compress_empty + Compress_misses;
    if (lookups > 0 && printgcstatus && !optquiet) {
        char msg[200];
        snprintf(msg, sizeof msg, "decompress cache: %d hits, %d new, %d misses, %.2f h/d",
                 Compress_hits, Compress_empty, Compress_misses, (double)Compress_hits / lookups);
        prpart(msg);
        mendline();
        Compress_hits = Compress_misses = Compress_empty = 0;
    }
}

ALGEB decompress(ALGEB s) {
    if (!is(s, COMPRESSED)) return s;
    static bool registered = false;
    if (!registered) {
        GcCacheCleaner(compresscacheclear);
        registered = true;
    }
    WORD slot = (W(s) / BYTES_PER_ALGEB) % COMPRESS_CACHE;
    if (Compressed_Cache[slot] == s) {
        Compress_hits++;
        // The value may come from a finished statement's generation.
        return updategen(Compress_Cache[slot]);
    }
    if (Compressed_Cache[slot] != 0)
        Compress_misses++;
    else
        Compress_empty++;
    WORD pos = 0;
    ALGEB r = decompressR((const unsigned char *)(s + 1), &pos, (LENGTH2(s) - 1) * 16);
    Compressed_Cache[slot] = s;
    Compress_Cache[slot] = r;
    cacheused = true;
    return r;
}
