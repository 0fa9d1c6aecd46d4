// Repeated stretches of sequence: the longest one, or every one of at least a given length, found
// between entries of the Pat index.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "Dayhoff.h"
#include "LoadFile.h"
#include "Lumbra.h"
#include "Repeats.h"

bool IsSeqChar(unsigned char c) { return ChartoPos[c] >= 0 || c == 'U'; }

namespace {

constexpr WORD NOLIMIT = INT64_MAX;

struct Seqs {
    const unsigned char *s;
    UWORD n;
    const database *df;
    UWORD pat(WORD i) const { return DB_GetPat(df, (UWORD)i); }
    // The character before a suffix, 256 for the suffix at the start of the text.
    int before(UWORD off) const { return off > 0 ? s[off - 1] : 256; }
    // Whether the suffixes at p and q repeat one character further to the left.
    bool leftextendable(UWORD p, UWORD q) const {
        return p > 0 && q > 0 && s[p - 1] == s[q - 1] && IsSeqChar(s[p - 1]);
    }
};

struct Prefix {
    WORD len;  // characters in common
    bool ends; // both reach a "<" there: the repeat runs to the ends of two sequences
};

// The common prefix of the suffixes at p (the earlier Pat entry) and q (the later one), of which
// the first `from` characters are known to agree, counted up to limit characters; the "<" where
// both sequences end is not counted. A later entry that sorts below the earlier stops the work:
// the index does not belong to this text.
Prefix commonprefix(const Seqs &t, UWORD p, UWORD q, WORD from, WORD limit) {
    const unsigned char *x = t.s + p, *y = t.s + q;
    const WORD room = (WORD)(t.n - std::max(p, q));
    const WORD top = std::min(limit, room);
    WORD l = from;
    while (l < top && x[l] == y[l] && x[l] != '<')
        l++;
    if (l == limit) return {l, false};
    // The end of the text counts below every character.
    const unsigned a = p + (UWORD)l < t.n ? x[l] : 0, b = q + (UWORD)l < t.n ? y[l] : 0;
    if (a == b) return {l, a == '<'};
    if (a != '<' && a > b) userror("Pat index out of order");
    return {l, false};
}

ALGEB repeat(UWORD p, UWORD q, WORD len) {
    ALGEB r = Newl1(NrALGEBs(1, Match), MATCH);
    Match *m = (Match *)r;
    m->Offset1 = (WORD)p;
    m->Offset2 = (WORD)q;
    m->Length1 = m->Length2 = (INT)len;
    return r;
}

void poll(WORD i) {
    if ((i & 0xFFFF) == 0 && InterruptNow) lumbra_jump(Main);
}

ALGEB longest(const Seqs &t) {
    WORD best = 0, at = 0;
    for (WORD i = 1; i < (WORD)t.df->TotAA; i++) {
        poll(i);
        UWORD p = t.pat(i - 1), q = t.pat(i);
        if (t.leftextendable(p, q)) continue;
        WORD l = commonprefix(t, p, q, 0, NOLIMIT).len;
        if (l > best) best = l, at = i;
    }
    printf("The longest repetition is %d chars long\n", (int)best);
    if (best == 0) return EmptyList;
    return repeat(t.pat(at - 1), t.pat(at), best);
}

struct Rep {
    UWORD p, q;
    WORD len;
};

// Every repeat of at least len characters. Entries whose suffixes share len characters (or end
// their sequences together within the bonus) form blocks of neighbours in the Pat index, and
// every pair inside a block qualifies; the pairs that are not left-extendable are reported. A
// walk down the block leaps over a run of entries preceded by the later entry's own character,
// so that long runs of one residue cost nothing per pair left out.
ALGEB allrepeats(const Seqs &t, WORD len, WORD bonus) {
    std::vector<Rep> reps;
    // leap[j - start]: the last entry of the block before j whose preceding character differs
    // from that of j, or start - 1.
    std::vector<WORD> leap;
    WORD start = 0;
    const WORD known = std::max<WORD>(0, len - bonus);
    for (WORD i = 1; i < (WORD)t.df->TotAA; i++) {
        poll(i);
        const UWORD q = t.pat(i);
        Prefix a = commonprefix(t, t.pat(i - 1), q, 0, len);
        if (a.len < len && !(a.ends && a.len + bonus >= len)) {
            start = i;
            leap.assign(1, start - 1);
            continue;
        }
        if (leap.empty()) leap.assign(1, start - 1);
        const int c = t.before(q);
        leap.push_back(t.before(t.pat(i - 1)) != c ? i - 1 : leap.back());
        const bool skips = c < 256 && IsSeqChar((unsigned char)c);
        for (WORD j = i - 1; j >= start;) {
            const UWORD p = t.pat(j);
            if (skips && t.before(p) == c) {
                j = leap[(size_t)(j - start)];
                continue;
            }
            reps.push_back({p, q, commonprefix(t, p, q, known, NOLIMIT).len});
            if (reps.size() >= (size_t)MAXOBJLEN - 1)
                userror("too many repeats for one list, ask for longer ones");
            j--;
        }
    }
    ALGEB seq = Newl1((WORD)reps.size() + 1, EXPSEQ);
    for (size_t k = 0; k < reps.size(); k++)
        seq[k + 1] = W(repeat(reps[k].p, reps[k].q, reps[k].len));
    return New2(LIST, seq);
}

} // namespace

ALGEB FindLongestRep(const database *df, WORD len, WORD bonus) {
    if (len != 0 && len < 3) userror("length too short for FindLongestRep");
    if (bonus < 0) userror("the bonus of FindLongestRep must not be negative");
    if (!DB_HasPat(df)) userror("the database has no Pat index");
    const Seqs t{(const unsigned char *)df->string, df->TotChars, df};
    if (len == 0) {
        if (df->TotAA < 2) {
            printf("The longest repetition is 0 chars long\n");
            return EmptyList;
        }
        return longest(t);
    }
    if (df->TotAA < 2) return EmptyList;
    return allrepeats(t, len, bonus);
}
