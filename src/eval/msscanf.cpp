// Formatted input: the pattern is rewritten for the platform's sscanf into typed slots.
#include <cstdio>
#include <cstring>

#include "Lumbra.h"
#include "mprintf.h"
#include "sets.h"

#pragma GCC diagnostic ignored "-Wformat-nonliteral"

constexpr int NCONV = 15;
constexpr int GAP = MAX_NAME_LENGTH / 8 + 1; // doubles in one slot
constexpr int MAXSTRINGSLOT = GAP * 8 - 1;   // characters a string slot holds
constexpr double SENTINEL = 0.0012499990874843751;
constexpr int SCANBUF = 10000;

enum SlotKind { FullInt = 2, Double = 3, String = 5, Character = 6 };

// The characters of the string handed to the platform, terminated by a NUL. A long text in
// the heap is terminated in place for the scan; everything else is copied.
struct ScanString {
    const char *s;
    char *patched = 0;
    char saved = 0;
    char buf[SCANBUF];
    explicit ScanString(ALGEB x) {
        if (ID2(x) == NAME) {
            s = NAMETEXT(x);
            return;
        }
        const char *t = STR(x)->t;
        size_t n = (size_t)STR(x)->length;
        if (n < (size_t)SCANBUF) {
            memcpy(buf, t, n);
            buf[n] = 0;
            s = buf;
            return;
        }
        UWORD end = (UWORD)(t + n);
        ALGEB head = FindTextHead(t);
        bool inheap = end >= lostorage && end < historage;
        bool readable = head != 0 && end < (UWORD)(STR(head)->t + STR(head)->length);
        if (inheap && (readable || t[n] == 0)) {
            s = t;
            if (t[n] != 0) {
                patched = const_cast<char *>(t + n);
                saved = *patched;
                *patched = 0;
            }
            return;
        }
        if (readable && t[n] == 0) {
            s = t;
            return;
        }
        userror("string too long for sprintf");
    }
    ~ScanString() {
        if (patched != 0) *patched = saved;
    }
    ScanString(const ScanString &) = delete;
    ScanString &operator=(const ScanString &) = delete;
};

// The pattern as the platform's sscanf reads it, and the kind of each slot it fills.
struct ScanPattern {
    // A conversion gains at most a length modifier or a bounded width: 499 characters
    // grow to well under 1024.
    char pat[1024];
    SlotKind kind[NCONV];
    int nslots = 0;
};

// Rewrites the conversion that follows the '%' before p[i] into pat[k..], moving i and k past
// it, so that every value lands in a slot of known kind. suppress: it assigns nothing (%*).
static SlotKind readconversion(const char *p, size_t plen, size_t &i, char *pat, size_t &k,
                               bool &suppress) {
    suppress = i < plen && p[i] == '*';
    if (suppress) pat[k++] = p[i++];
    long width = 0;
    size_t wstart = k;
    while (i < plen && p[i] >= '0' && p[i] <= '9') {
        width = width < 100000 ? 10 * width + (p[i] - '0') : width;
        pat[k++] = p[i++];
    }
    while (i < plen && (p[i] == 'h' || p[i] == 'l'))
        i++;
    char conv = i < plen ? p[i++] : 0;
    // Strings must fit their slot: a missing or larger width is bounded.
    auto boundwidth = [&] {
        if (width == 0 || width > MAXSTRINGSLOT) {
            k = wstart;
            k += (size_t)snprintf(pat + k, 8, "%d", MAXSTRINGSLOT);
        }
    };
    switch (conv) {
    case 'd':
    case 'i':
    case 'o':
    case 'u':
    case 'x':
    case 'X':
    case 'n':
        pat[k++] = 'l';
        pat[k++] = conv;
        return FullInt;
    case 'D':
    case 'O':
    case 'U':
        pat[k++] = 'l';
        pat[k++] = (char)(conv - 'A' + 'a');
        return FullInt;
    case 'p': pat[k++] = conv; return FullInt;
    case 'e':
    case 'f':
    case 'g':
        pat[k++] = 'l';
        pat[k++] = conv;
        return Double;
    case 's':
        if (!suppress) boundwidth();
        pat[k++] = conv;
        return String;
    case 'c':
        if (!suppress && width > MAXSTRINGSLOT) boundwidth();
        pat[k++] = conv;
        return Character;
    case '[': {
        if (!suppress) boundwidth();
        pat[k++] = '[';
        size_t start = i;
        if (i < plen && p[i] == '^') i++;
        if (i < plen && p[i] == ']') i++;
        while (i < plen && p[i] != ']')
            i++;
        if (i >= plen) userror("unclosed [] format in sscanf");
        i++;
        memcpy(pat + k, p + start, i - start);
        k += i - start;
        return String;
    }
    default: userror("invalid conversion format in sscanf");
    }
}

static void readpattern(ALGEB pattern, ScanPattern &sp) {
    Chars pc = textof(pattern);
    const char *p = pc.s;
    size_t plen = pc.n;
    if (plen > 499) userror("sscanf: pattern too long");
    char *pat = sp.pat;
    size_t k = 0;
    for (size_t i = 0; i < plen;) {
        char ch = p[i++];
        pat[k++] = ch;
        if (ch != '%') continue;
        if (i < plen && p[i] == '%') {
            pat[k++] = p[i++];
            continue;
        }
        bool suppress;
        SlotKind kd = readconversion(p, plen, i, pat, k, suppress);
        if (suppress) continue;
        if (sp.nslots == NCONV) userror("sscanf allows no more than 15 conversions");
        sp.kind[sp.nslots++] = kd;
    }
    pat[k] = 0;
}

// The object for what the platform left in one slot.
static ALGEB slotvalue(SlotKind kd, const double *slot) {
    switch (kd) {
    case FullInt: {
        long x;
        memcpy(&x, slot, sizeof x);
        return Newint((WORD)x);
    }
    case Double: return NewNumber(slot[0]);
    case String: return CreateString((const char *)slot);
    case Character: return OneChar[*(const unsigned char *)slot];
    }
    notimpl("msscanf:2");
}

ALGEB msscanf(ALGEB string, ALGEB pattern) {
    ScanPattern sp;
    readpattern(pattern, sp);
    const int nslots = sp.nslots;
    double slots[NCONV][GAP];
    for (int j = 0; j < nslots; j++)
        slots[j][0] = SENTINEL;
    int got;
    {
        ScanString str(string);
        got = sscanf(str.s, sp.pat, slots[0], slots[1], slots[2], slots[3], slots[4], slots[5],
                     slots[6], slots[7], slots[8], slots[9], slots[10], slots[11], slots[12],
                     slots[13], slots[14]);
    }
    if (got > nslots) notimpl("msscanf:1");
    // A scan that stopped early leaves the sentinel in the slots it did not reach.
    int n = nslots;
    if (got < nslots)
        while (n > 0 && slots[n - 1][0] == SENTINEL)
            n--;
    if (n == 0) return EmptyList;
    ALGEB seq = Newl1(n + 1, EXPSEQ);
    for (int j = 0; j < n; j++)
        seq[j + 1] = W(slotvalue(sp.kind[j], slots[j]));
    return New2(LIST, seq);
}
