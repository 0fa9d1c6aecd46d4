// Sorting the Pat index: text offsets ordered by the suffixes that start at them.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <divsufsort.h>
#include <divsufsort64.h>

#include "LoadFile.h"
#include "Lumbra.h"

// The order is the lexicographic order of the suffixes by unsigned character code, the end of
// the text below every character. Two different suffixes differ at the latest where the shorter
// one ends, so the order is total and both sorting paths give exactly the same index.

namespace {

constexpr UWORD SMALLRANGE = 20; // ranges of at most this many entries are sorted by insertion

// The character of the suffix at off at depth d, 1 + its code, or 0 at the end of the text.
inline int charat(const unsigned char *t, UWORD n, UWORD off, UWORD d) {
    UWORD p = off + d;
    return p < n ? t[p] + 1 : 0;
}

// Whether the suffix at a goes before the one at b; both agree in their first d characters
// and neither ended before depth d.
inline bool suffixbefore(const unsigned char *t, UWORD n, UWORD a, UWORD b, UWORD d) {
    UWORD la = n - (a + d), lb = n - (b + d);
    int c = memcmp(t + a + d, t + b + d, la < lb ? la : lb);
    if (c != 0) return c < 0;
    return la < lb;
}

template <class T>
void insertionsort(const unsigned char *t, UWORD n, T *pat, UWORD lo, UWORD hi, UWORD d) {
    for (UWORD j = lo + 1; j < hi; j++) {
        T x = pat[j];
        UWORD a = lo, b = j; // the place of x is in [a, b]
        while (a < b) {
            UWORD mid = a + (b - a) / 2;
            if (suffixbefore(t, n, x, pat[mid], d))
                b = mid;
            else
                a = mid + 1;
        }
        if (a < j) {
            memmove(pat + a + 1, pat + a, (size_t)(j - a) * sizeof(T));
            pat[a] = x;
        }
    }
}

struct Range {
    UWORD lo, hi, d; // entries [lo, hi), agreeing in their first d characters
};

template <class T>
void multikey(const char *text, UWORD n, T *pat, UWORD m) {
    const unsigned char *t = (const unsigned char *)text;
    std::vector<Range> todo;
    todo.push_back({0, m, 0});
    UWORD polled = 0;
    while (!todo.empty()) {
        Range r = todo.back();
        todo.pop_back();
        UWORD lo = r.lo, hi = r.hi, d = r.d;
        while (hi - lo > SMALLRANGE) {
            if ((polled += hi - lo) > (1u << 22)) {
                polled = 0;
                if (InterruptNow) lumbra_jump(Main);
            }
            // The pivot is the median of seven characters spread over the range.
            int s[7];
            UWORD step = (hi - 1 - lo) / 6;
            for (int k = 0; k < 7; k++) {
                int c = charat(t, n, pat[lo + k * step], d);
                int i = k;
                for (; i > 0 && s[i - 1] > c; i--)
                    s[i] = s[i - 1];
                s[i] = c;
            }
            int pivot = s[3];
            // Three ways: [lo, lt) below, [lt, gt) equal, [gt, hi) above the pivot.
            UWORD lt = lo, i = lo, gt = hi;
            while (i < gt) {
                int c = charat(t, n, pat[i], d);
                if (c < pivot) {
                    T x = pat[i];
                    pat[i++] = pat[lt];
                    pat[lt++] = x;
                } else if (c > pivot) {
                    T x = pat[i];
                    pat[i] = pat[--gt];
                    pat[gt] = x;
                } else {
                    i++;
                }
            }
            ASSERT(lt >= lo && gt <= hi && lt <= gt);
            // Only one suffix can end at a given depth, so an equal part at the end is single.
            if (gt - lt >= 2 && pivot != 0) todo.push_back({lt, gt, d + 1});
            if (hi - gt >= 2) todo.push_back({gt, hi, d});
            hi = lt;
        }
        if (hi - lo >= 2) insertionsort(t, n, pat, lo, hi, d);
    }
}

template <class T, class SA>
bool keepsorted(const SA *sa, UWORD n, const uint64_t *keep, T *pat, UWORD m) {
    UWORD j = 0;
    for (UWORD i = 0; i < n; i++) {
        UWORD p = (UWORD)sa[i];
        if ((keep[p >> 6] >> (p & 63)) & 1) {
            if (j == m) return false;
            pat[j++] = (T)p;
        }
    }
    return j == m;
}

template <class T>
bool suffixarray(const char *text, UWORD n, const uint64_t *keep, T *pat, UWORD m) {
    const sauchar_t *t = (const sauchar_t *)text;
    if (n < (UWORD)INT32_MAX) {
        std::unique_ptr<saidx_t, decltype(&free)> sa((saidx_t *)malloc(n * sizeof(saidx_t)), &free);
        if (!sa || divsufsort(t, sa.get(), (saidx_t)n) != 0) return false;
        return keepsorted(sa.get(), n, keep, pat, m);
    }
    std::unique_ptr<saidx64_t, decltype(&free)> sa((saidx64_t *)malloc(n * sizeof(saidx64_t)),
                                                   &free);
    if (!sa || divsufsort64(t, sa.get(), (saidx64_t)n) != 0) return false;
    return keepsorted(sa.get(), n, keep, pat, m);
}

} // namespace

void PatSortMultikey(const char *text, UWORD n, UINT *pat, UWORD m) { multikey(text, n, pat, m); }
void PatSortMultikey(const char *text, UWORD n, UWORD *pat, UWORD m) { multikey(text, n, pat, m); }
bool PatSortSuffixArray(const char *text, UWORD n, const uint64_t *keep, UINT *pat, UWORD m) {
    return suffixarray(text, n, keep, pat, m);
}
bool PatSortSuffixArray(const char *text, UWORD n, const uint64_t *keep, UWORD *pat, UWORD m) {
    return suffixarray(text, n, keep, pat, m);
}
