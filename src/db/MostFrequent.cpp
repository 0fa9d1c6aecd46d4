// The most frequent strings of a database: a walk over ranges of the Pat index that keeps the
// most frequent ranges in a heap, and their counts without overlaps.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "LoadFile.h"
#include "Lumbra.h"
#include "Repeats.h"

namespace {

// A range lo..hi of Pat entries whose suffixes all begin with the same string.
struct Range {
    WORD lo, hi;
    WORD count() const { return hi - lo + 1; }
};

// What one call works on: the database, the least length k, the capacity n of the heap and the
// heap itself, a min-heap by count in working storage, so that its root is the least frequent
// string kept.
const database *MFdb;
WORD MFto, MFmaxSize;
Range *MFheaps;
WORD MFheapsizes;

UWORD patat(WORD i) { return DB_GetPat(MFdb, (UWORD)i); }

// The character at depth d of the suffix of Pat entry i, 0 past the end of the text.
unsigned charat(WORD i, WORD d) {
    UWORD off = patat(i) + (UWORD)d;
    return off < MFdb->TotChars ? (unsigned char)MFdb->string[off] : 0;
}

// The common prefix of the suffixes of Pat entries i and j, of which the first `from` characters
// are known to agree, counted up to limit.
WORD chars_coincide(WORD i, WORD j, WORD from, WORD limit) {
    if (i < 0 || j >= (WORD)MFdb->TotAA) return -1;
    if (i == j) return 2147483647;
    const UWORD p = patat(i), q = patat(j);
    const WORD top = std::min(limit, (WORD)(MFdb->TotChars - std::max(p, q)));
    const char *x = MFdb->string + p, *y = MFdb->string + q;
    WORD l = from;
    while (l < top && x[l] == y[l])
        l++;
    return l;
}

void sink(WORD i) {
    const Range r = MFheaps[i];
    for (;;) {
        WORD c = 2 * i + 1;
        if (c >= MFheapsizes) break;
        if (c + 1 < MFheapsizes && MFheaps[c + 1].count() < MFheaps[c].count()) c++;
        if (MFheaps[c].count() >= r.count()) break;
        MFheaps[i] = MFheaps[c];
        i = c;
    }
    MFheaps[i] = r;
}

void candidate(Range r) {
    if (MFheapsizes < MFmaxSize) {
        WORD i = MFheapsizes++;
        while (i > 0 && MFheaps[(i - 1) / 2].count() > r.count()) {
            MFheaps[i] = MFheaps[(i - 1) / 2];
            i = (i - 1) / 2;
        }
        MFheaps[i] = r;
    } else if (r.count() > MFheaps[0].count()) {
        MFheaps[0] = r;
        sink(0);
    }
}

// Every range of entries that share at least k sequence characters, depth first in the order of
// the index. A range sharing fewer splits by the character after its common prefix; one that
// shares k is a candidate and not looked into further.
void install_in_heap(WORD lo, WORD hi) {
    struct Todo {
        Range r;
        WORD known; // leading characters known to agree, all of them sequence characters
    };
    std::vector<Todo> todo{{{lo, hi}, 0}};
    WORD visits = 0;
    while (!todo.empty()) {
        if ((++visits & 0xFFFF) == 0 && InterruptNow) lumbra_jump(Main);
        const Todo t = todo.back();
        todo.pop_back();
        if (t.r.lo >= t.r.hi) continue;
        const WORD c = chars_coincide(t.r.lo, t.r.hi, t.known, MFto);
        const char *s = MFdb->string + patat(t.r.lo);
        if (!std::all_of(s + t.known, s + std::min(c, MFto),
                         [](char ch) { return IsSeqChar((unsigned char)ch); }))
            continue;
        if (c >= MFto) {
            candidate(t.r);
            continue;
        }
        const size_t mark = todo.size();
        for (WORD g = t.r.lo; g <= t.r.hi;) {
            const unsigned ch = charat(g, c);
            WORD a = g, b = t.r.hi + 1;
            while (b - a >= 2) {
                WORD mid = a + (b - a) / 2;
                (charat(mid, c) == ch ? a : b) = mid;
            }
            if (ch != 0 && IsSeqChar((unsigned char)ch)) todo.push_back({{g, a}, c + 1});
            g = a + 1;
        }
        std::reverse(todo.begin() + (WORD)mark, todo.end());
    }
}

} // namespace

WORD compute_maxk(const database *df, WORD lo, WORD hi, WORD k) {
    const WORD count = hi - lo + 1;
    if (k < 2 || count < 2) return count;
    WorkingScope scope;
    // Two occurrences closer than k overlap only at a period of the string shorter than k: its
    // length less its longest border.
    const char *s = df->string + DB_GetPat(df, (UWORD)lo);
    WORD *border;
    WorkingStorage(k + 1, WORD, border);
    border[0] = -1;
    for (WORD i = 0; i < k; i++) {
        WORD b = border[i];
        while (b >= 0 && s[b] != s[i])
            b = border[b];
        border[i + 1] = b + 1;
    }
    if (border[k] == 0) return count;
    UWORD *at;
    WorkingStorage(count, UWORD, at);
    for (WORD i = 0; i < count; i++)
        at[i] = DB_GetPat(df, (UWORD)(lo + i));
    std::sort(at, at + count);
    // Taking each occurrence that does not overlap the last one taken keeps the most.
    WORD kept = 1;
    for (WORD i = 1, last = 0; i < count; i++)
        if (at[i] >= at[last] + (UWORD)k) kept++, last = i;
    return kept;
}

void GetMostFrequentGrams(WORD n, WORD k) {
    const database *df = CurrentDb();
    if (df == 0) userror("DB must be assigned a database");
    if (!DB_HasPat(df)) userror("the database has no Pat index");
    if (n < 1) userror("the number of strings must be positive");
    if (k < 1) userror("the length of the strings must be positive");
    WorkingScope scope;
    MFdb = df;
    MFto = k;
    // Candidate ranges hold two entries or more and never overlap.
    MFmaxSize = std::min(n, (WORD)(df->TotAA / 2 + 1));
    WorkingStorage(MFmaxSize, Range, MFheaps);
    MFheapsizes = 0;
    install_in_heap(0, (WORD)df->TotAA - 1);

    FILE *out = w_unit != 0 ? w_unit : stdout;
    fprintf(out, "\nThe %d most frequent strings of length %d or longer are:\n", (int)MFheapsizes,
            (int)k);
    while (MFheapsizes > 0) {
        const Range r = MFheaps[0];
        fputc('\t', out);
        printstr(df->string + patat(r.lo), (size_t)k);
        fprintf(out, " occurs %d times", (int)r.count());
        const WORD m = compute_maxk(df, r.lo, r.hi, k);
        if (m != r.count())
            fprintf(out, " (%d without overlaps)\n", (int)m);
        else
            fputc('\n', out);
        MFheaps[0] = MFheaps[--MFheapsizes];
        sink(0);
    }
    lline = 0;
}
