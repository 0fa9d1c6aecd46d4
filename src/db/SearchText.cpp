// Text search: exact search in either case, tag contents, prefix search in the Pat index,
// approximate search by a lazily built automaton with a cache of answers, and POSIX regular
// expressions.
#include "SearchText.h"

#include <regex.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "LoadFile.h"
#include "Lumbra.h"
#include "builtins.h"
#include "eval.h"

// ---------------------------------------------------------------------------
// Exact search.

namespace {

constexpr std::array<unsigned char, 256> MakeFold() {
    std::array<unsigned char, 256> f{};
    for (int c = 0; c < 256; c++)
        f[c] = (unsigned char)(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return f;
}
// Letters folded to lower case; other characters, those above 127 too, stand for themselves.
constexpr std::array<unsigned char, 256> Fold = MakeFold();

} // namespace

// The vector search (SearchText_simd.cpp) is used for texts of every length: at 16 characters it
// already takes a fifth of the time of Horspool's skip loop, whose table alone costs more.
WORD CaseSearchString(const char *pat, WORD m, const char *text, WORD n) {
    return m == 0 ? 0 : VectorSearch(pat, m, text, n, false);
}

WORD SearchString(const char *pat, WORD m, const char *text, WORD n) {
    return m == 0 ? 0 : VectorSearch(pat, m, text, n, true);
}

ALGEB SearchTag(const char *tag, WORD taglen, const char *s, WORD n, bool copy) {
    if (taglen > 250) userror("SGML tag too long to search");
    char open[256] = "<", close[256] = "</";
    memcpy(open + 1, tag, (size_t)taglen);
    memcpy(close + 2, tag, (size_t)taglen);
    open[taglen + 1] = close[taglen + 2] = '>';
    WORD a = CaseSearchString(open, taglen + 2, s, n);
    if (a < 0) return OneChar[0];
    const WORD from = a + taglen + 2;
    WORD len = CaseSearchString(close, taglen + 3, s + from, n - from);
    if (len < 2 || copy) return textfrom(s + from, (size_t)std::max<WORD>(len, 0));
    ALGEB r = Newl1(3, TEXT);
    r[1] = len;
    r[2] = W(s + from);
    return r;
}

// ---------------------------------------------------------------------------
// Prefix search in the Pat index.

// The suffix at text offset off against s[0..m-1], over at most m characters; a suffix that ends
// early counts below.
static int prefixcmp(const database *df, UWORD off, const char *s, WORD m) {
    UWORD avail = df->TotChars - off;
    size_t l = avail < (UWORD)m ? (size_t)avail : (size_t)m;
    int c = memcmp(df->string + off, s, l);
    if (c != 0 || l == (size_t)m) return c;
    return -1;
}

void SearchPepDFR(const database *df, const char *s, WORD m, WORD *first, WORD *last) {
    auto cmp = [&](WORD i) { return prefixcmp(df, DB_GetPat(df, (UWORD)i), s, m); };
    WORD lo = -1, hi = (WORD)df->TotAA;
    while (hi - lo >= 2) {
        WORD mid = lo + (hi - lo) / 2;
        int c = cmp(mid);
        if (c < 0) {
            lo = mid;
        } else if (c > 0) {
            hi = mid;
        } else {
            // The first equal suffix lies in (lo, mid], the last in [mid, hi).
            WORD a = lo, b = mid;
            while (b - a >= 2) {
                WORD x = a + (b - a) / 2;
                (cmp(x) < 0 ? a : b) = x;
            }
            *first = b;
            a = mid, b = hi;
            while (b - a >= 2) {
                WORD x = a + (b - a) / 2;
                (cmp(x) > 0 ? b : a) = x;
            }
            *last = a;
            return;
        }
    }
    *first = hi;
    *last = lo;
}

ALGEB SearchSeqDb(ALGEB x) {
    ALGEB patentry = naminstall("PatEntry");
    eval(patentry);
    database *df = CurrentDb();
    if (df == 0) userror("DB must be assigned a database");
    if (!DB_HasPat(df)) userror("the database has no Pat index");
    ALGEB a = x, b = x;
    if (is(x, RANGE)) a = A(x[1]), b = A(x[2]);
    if (!textual(a) || !textual(b)) userror("invalid argument");
    auto chars = [](ALGEB t, WORD *m) {
        if (ID2(t) == NAME) return *m = (WORD)strlen(NAMETEXT(t)), (const char *)NAMETEXT(t);
        return *m = STR(t)->length, (const char *)STR(t)->t;
    };
    WORD m, first, last, f2, l2;
    const char *s = chars(a, &m);
    SearchPepDFR(df, s, m, &first, &last);
    if (b != a) {
        s = chars(b, &m);
        SearchPepDFR(df, s, m, &f2, &l2);
        last = l2;
    }
    return New3(FUNCTION, patentry, New3(RANGE, Newint(first + 1), Newint(last + 1)));
}

// ---------------------------------------------------------------------------
// Approximate search.
//
// The scan is a deterministic automaton built while it runs. A state is a column of the dynamic
// programming, the errors of every pattern prefix against the text read so far, capped at k + 1;
// only the cells up to the last one of at most k are kept, the others all being k + 1. States
// live in a store of 16-bit words, found by a hash of their cells, and each keeps its
// transitions by character class, so a column seen before costs one look-up. A full store is
// emptied and filled again with the states of the text that follows.

namespace {

constexpr int TOTHASHSPACE = 40000; // words of the state store
constexpr int HASHMAXENT = 5003;    // slots of the hash table, a prime
constexpr int MAXSTATES = HASHMAXENT * 4 / 5;
constexpr uint16_t NOSTATE = 0xFFFF;
constexpr WORD MAXPATTERN = 999;

struct Automaton {
    int m, k, nclass;
    bool indels;
    uint8_t cls[256];             // the class of every character, 0 for those not in the pattern
    uint8_t pcls[MAXPATTERN + 1]; // the class of pattern position i, from 1
    // A state at s: store[s] the number of cells kept, store[s + 1 ..] a transition (a state's
    // offset, or NOSTATE) for every class, then the cells, one byte each.
    uint16_t store[TOTHASHSPACE];
    int used, nstates;
    uint16_t slot[HASHMAXENT];
    uint8_t col[MAXPATTERN + 2]; // a column being made, from cell 1
};
Automaton au;

void clearstates() {
    au.used = 0;
    au.nstates = 0;
    std::fill(au.slot, au.slot + HASHMAXENT, NOSTATE);
}

int statewords(int len) { return 1 + au.nclass + (len + 1) / 2; }

const uint8_t *cells(int s) { return (const uint8_t *)&au.store[s + 1 + au.nclass] - 1; }

// The state of the column au.col[1..len], made when new; NOSTATE when the store is full.
uint16_t findstate(int len) {
    uint64_t h = (uint64_t)len;
    for (int i = 1; i <= len; i++)
        h = 3 * h + au.col[i];
    WORD at = (WORD)(h % HASHMAXENT), step = (WORD)(h % (HASHMAXENT - 1)) + 1;
    for (;; at = (at + step) % HASHMAXENT) {
        uint16_t s = au.slot[at];
        if (s == NOSTATE) break;
        if (au.store[s] == len && memcmp(cells(s) + 1, au.col + 1, (size_t)len) == 0) return s;
    }
    if (au.nstates >= MAXSTATES || au.used + statewords(len) > TOTHASHSPACE) return NOSTATE;
    uint16_t s = (uint16_t)au.used;
    au.used += statewords(len);
    au.nstates++;
    au.slot[at] = s;
    au.store[s] = (uint16_t)len;
    std::fill(au.store + s + 1, au.store + s + 1 + au.nclass, NOSTATE);
    memcpy((uint8_t *)cells(s) + 1, au.col + 1, (size_t)len);
    return s;
}

// The column after a character of class c from the column old[1..len] (old[0] is 0: an
// occurrence may start anywhere), into au.col; the number of cells kept.
int nextcolumn(const uint8_t *old, int len, int c) {
    const int k = au.k, cap = k + 1, m = au.m;
    int kept = 0;
    if (!au.indels) {
        const int top = std::min(len + 1, m);
        for (int i = 1; i <= top; i++) {
            int d = (i == 1 ? 0 : old[i - 1]) + (au.pcls[i] != c);
            au.col[i] = (uint8_t)std::min(d, cap);
            if (d <= k) kept = i;
        }
        return kept;
    }
    int left = 0;
    for (int i = 1; i <= m; i++) {
        int diag = i == 1 ? 0 : i - 1 <= len ? old[i - 1] : cap;
        int up = i <= len ? old[i] : cap;
        int d = std::min({left + 1, diag + (au.pcls[i] != c), up + 1, cap});
        au.col[i] = (uint8_t)d;
        if (d <= k) kept = i;
        left = d;
        // Beyond the old cells a cell below the cap can only come from its left neighbour.
        if (i > len && d == cap) break;
    }
    return kept;
}

// Reads count characters from p on, from the state of no text read; the number
// of characters read up to and with the one where the pattern ends with at most k errors, or -1.
// Dir is 1 forwards, -1 backwards.
template <int Dir>
WORD Scan(const unsigned char *p, WORD count) {
    clearstates();
    int len = 0;
    if (au.indels)
        for (int i = 1; i <= std::min(au.k, au.m); i++)
            au.col[i] = (uint8_t)i, len = i;
    uint16_t s = findstate(len);
    const uint8_t *cls = au.cls;
    for (WORD i = 0; i < count;) {
        const WORD stop = std::min(count, i + ((WORD)1 << 16));
        while (i < stop) {
            const unsigned char ch = p[Dir * i];
            uint16_t t = au.store[s + 1 + cls[ch]];
            if (t == NOSTATE) {
                int kept = nextcolumn(cells(s), au.store[s], cls[ch]);
                if (kept == au.m) return i + 1;
                t = findstate(kept);
                if (t == NOSTATE) {
                    clearstates();
                    t = findstate(kept);
                } else {
                    au.store[s + 1 + cls[ch]] = t;
                }
            }
            s = t;
            i++;
        }
        if (InterruptNow) lumbra_jump(Main);
    }
    return -1;
}

// Answers of earlier searches. A text is known by its length and a hash of its characters, not
// by its object, which may be changed in place or collected and its place reused.
constexpr int NCACHE = 20;
struct CacheEntry {
    uint64_t hpat3, hpat131, htext;
    WORD textlen;
    int k;
    WORD i;
    bool indels;
    UWORD time; // 0: empty
    WORD m;
    unsigned char pat[MAXPATTERN];
};
CacheEntry ATSCache[NCACHE];
UWORD LRUtime;

uint64_t texthash(const unsigned char *s, WORD n) {
    // Four independent lanes keep the multiplier busy.
    constexpr uint64_t K = 0x9E3779B97F4A7C15ULL;
    uint64_t h[4] = {1, 2, 3, 4};
    WORD i = 0;
    for (; i + 32 <= n; i += 32)
        for (int l = 0; l < 4; l++) {
            uint64_t w;
            memcpy(&w, s + i + 8 * l, 8);
            h[l] = (h[l] ^ w) * K;
            h[l] ^= h[l] >> 29;
        }
    uint64_t r = (uint64_t)n;
    for (; i < n; i++)
        r = (r ^ s[i]) * K;
    for (uint64_t x : h)
        r = (r ^ x) * K ^ (r >> 31);
    return r;
}

} // namespace

WORD ApproxSearchString(const char *pattern, WORD m, const char *text, WORD n, int k, bool indels) {
    if (k < 1) userror("maximum number of errors should be positive");
    if (k > 254) userror("number of allowed errors is too large");
    if (m > MAXPATTERN) userror("pattern too long");
    if (!indels && m > n) return -1;
    if (m <= k) return 0;
    if (n < m - k) return -1;

    const unsigned char *pat = (const unsigned char *)pattern, *txt = (const unsigned char *)text;
    unsigned char folded[MAXPATTERN];
    uint64_t h3 = 0, h131 = 0;
    for (WORD i = 0; i < m; i++) {
        folded[i] = Fold[pat[i]];
        h3 = 3 * h3 + folded[i];
        h131 = 131 * h131 + folded[i];
    }
    const uint64_t ht = texthash(txt, n);
    auto same = [&](const CacheEntry &e) {
        return e.time != 0 && e.hpat3 == h3 && e.hpat131 == h131 && e.m == m &&
               e.indels == indels && e.textlen == n && e.htext == ht &&
               memcmp(e.pat, folded, (size_t)m) == 0;
    };
    // The answer with the fewest errors not below k: more errors never match later, so it is
    // where the scan may begin.
    CacheEntry *best = 0;
    for (CacheEntry &e : ATSCache)
        if (same(e) && e.k >= k && (best == 0 || e.k < best->k)) best = &e;
    WORD from = 0;
    if (best != 0) {
        if (best->k == k || best->i < 0) {
            if (best->k == k) best->time = ++LRUtime;
            return best->i;
        }
        from = best->i;
    }

    au.m = (int)m;
    au.k = k;
    au.indels = indels;
    std::fill(au.cls, au.cls + 256, 0);
    int nclass = 1;
    for (WORD i = 0; i < m; i++) {
        unsigned char c = folded[i];
        if (au.cls[c] == 0) {
            au.cls[c] = (uint8_t)nclass++;
            if (c >= 'a' && c <= 'z') au.cls[c - 'a' + 'A'] = au.cls[c];
        }
    }
    au.nclass = nclass;
    for (WORD i = 0; i < m; i++)
        au.pcls[i + 1] = au.cls[folded[i]];
    WORD answer = -1;
    WORD len = Scan<1>(txt + from, n - from);
    if (len >= 0) {
        const WORD end = from + len - 1;
        if (!indels) {
            answer = end - m + 1;
        } else {
            // The start: the same search backwards from the end with the pattern reversed.
            std::reverse(au.pcls + 1, au.pcls + m + 1);
            WORD back = Scan<-1>(txt + end, end + 1);
            ASSERT(back > 0);
            answer = end - back + 1;
        }
    }

    CacheEntry *e = &ATSCache[0];
    for (CacheEntry &c : ATSCache)
        if (c.time < e->time) e = &c;
    *e = CacheEntry{h3, h131, ht, n, k, answer, indels, ++LRUtime, m, {}};
    memcpy(e->pat, folded, (size_t)m);
    return answer;
}

// ---------------------------------------------------------------------------
// Regular expressions.

ALGEB MatchRegex(const char *pat, WORD m, const char *text, WORD n) {
    constexpr int NSLOTS = 24;
    regmatch_t slots[NSLOTS];
    regex_t re;
    const std::string p(pat, (size_t)m);
#if defined(__SANITIZE_ADDRESS__)
    const std::string terminated(text, (size_t)n);
    text = terminated.c_str();
#endif
    int rc = regcomp(&re, p.c_str(), REG_EXTENDED | REG_NEWLINE);
    if (rc == 0) {
        // The text's end is given, so it needs no terminating zero (AddressSanitizer's
        // interceptor of regexec measures it with strlen all the same: the sanitized build
        // searches a terminated copy, made above).
        slots[0].rm_so = 0;
        slots[0].rm_eo = (regoff_t)n;
        rc = regexec(&re, text, NSLOTS, slots, REG_STARTEND);
        regfree(&re);
        if (rc == REG_NOMATCH) return EmptyList;
    }
    if (rc != 0) {
        char msg[520] = "regex: ";
        regerror(rc, &re, msg + 7, 501);
        userror(msg);
    }
    int found = 0;
    for (const regmatch_t &s : slots)
        found += s.rm_so >= 0;
    ALGEB seq = Newl1(found + 1, EXPSEQ);
    int j = 1;
    for (const regmatch_t &s : slots)
        if (s.rm_so >= 0) seq[j++] = W(textfrom(text + s.rm_so, (size_t)(s.rm_eo - s.rm_so)));
    return New2(LIST, seq);
}
