// Pairwise alignment by dynamic programming: scores in every mode, the aligned strings and the
// entry points of the language.
#include "DynProgr.h"

#include <algorithm>
#include <cfloat>
#include <cstdio>
#include <cstring>

#include "Dayhoff.h"
#include "LoadFile.h"
#include "DynProgr_convex.h"
#include "Lumbra.h"
#include "SetOption.h"
#include "eval.h"
#include "evalfunc.h"

// ---------------------------------------------------------------------------
// The scalar recurrence of every mode.

double DynProgScoreSS(const uint8_t *s1, int l1, const uint8_t *s2, int l2, const DPScoring &sc,
                      const DPPass &pass, int *max1, int *max2, DPRows rows) {
    const double d = sc.FixedDel, e = sc.IncDel;
    const DPMode mode = pass.mode;
    const bool local = mode == DPMode::Local;
    const bool freeedge = local || mode == DPMode::CFE;
    const bool everycell = local || mode == DPMode::Shake;
    const bool lastcells = mode == DPMode::CFE || mode == DPMode::CFEright;
    const int minlen = pass.minlen;
    double *S = rows.S, *V = rows.V;
    int *from = rows.from;
    S[0] = 0;
    V[0] = MINUSINF;
    from[0] = 0;
    for (int j = 1; j <= l2; j++) {
        V[j] = MINUSINF;
        from[j] = 0;
        S[j] = freeedge ? 0 : j == 1 ? d : S[j - 1] + e;
    }
    double best = MINUSINF, edge = 0;
    int b1 = 0, b2 = 0;
    // Records a cell whose score beats the best; true when the goal is reached.
    auto record = [&](double s, int i, int j) {
        if (!(s > best)) return false;
        best = s;
        b1 = i;
        b2 = j;
        return best >= pass.goal;
    };
    int i = 1;
    for (; i <= l1; i++) {
        const double *sim = sc.simi + (size_t)s1[i - 1] * sc.dim;
        edge = freeedge ? 0 : i == 1 ? d : edge + e;
        double diag = S[0], left = edge, H = MINUSINF;
        S[0] = edge;
        const long self = pass.noself ? pass.selfdiag + i : -1;
        bool reached = false;
        for (int j = 1; j <= l2; j++) {
            const double up = S[j];
            double v = V[j] + e;
            if (up + d > v) {
                v = up + d;
                from[j] = i;
            }
            V[j] = v;
            H = std::max(H + e, left + d);
            const double D = j == self ? (double)MINUSINF : diag + sim[s2[j - 1]];
            double s = v > std::max(H, D) ? v : H > D ? H : D;
            if (local && s < 0) s = 0;
            S[j] = s;
            diag = up;
            left = s;
            if (everycell && i >= minlen && j >= minlen && record(s, i, j)) {
                totcells += j;
                reached = true;
                break;
            }
        }
        if (reached) break;
        totcells += l2;
        if (lastcells && record(S[l2], i, l2)) break;
        if (InterruptNow) lumbra_jump(Main);
    }
    if (i > l1) {
        if (lastcells)
            for (int j = 1; j <= l2; j++)
                if (record(S[j], l1, j)) break;
        if (mode == DPMode::Global) {
            best = S[l2];
            b1 = l1;
            b2 = l2;
        }
    }
    *max1 = b1;
    *max2 = b2;
    return best;
}

// ---------------------------------------------------------------------------
// The vectorised local scorers over working storage.

double DynProgScoreLocal(const uint8_t *s1, int l1, const uint8_t *s2, int l2, const DPScoring &sc,
                         LocalCell cell, double goal, double bound, int *max1, int *max2) {
    WorkingScope scope;
    void *work;
    WorkingStorage(LocalWorkBytes(cell, l2, sc, bound), char, work);
    LocalEnd r = LocalScoreStriped(cell, s1, l1, s2, l2, sc, goal, bound, work, &InterruptNow);
    if (r.interrupted) lumbra_jump(Main);
    totcells += (double)(cell == LocalCell::Double && r.score >= goal ? r.max1 : l1) * l2;
    *max1 = r.max1;
    *max2 = r.max2;
    return r.score;
}

// ---------------------------------------------------------------------------
// Sequences of the language.

uint8_t *SeqIndices(const char *s, WORD n, DayMatrix *dm) {
    if (memchr(s, '_', (size_t)n) != nullptr)
        userror("underscores cannot be used in sequence alignment");
    uint8_t *x;
    WorkingStorage(n + 1, uint8_t, x);
    for (WORD i = 0; i < n; i++)
        x[i] = (uint8_t)MapSymbol((unsigned char)s[i], dm);
    return x;
}

uint8_t *ReversedIndices(const uint8_t *x, int n) {
    uint8_t *r;
    WorkingStorage(n + 1, uint8_t, r);
    for (int i = 0; i < n; i++)
        r[i] = x[n - 1 - i];
    return r;
}

namespace {

// One sequence of an alignment: its characters (which may lie in a database text, so that
// NoSelf can tell the same position of the same text) and their matrix indices.
struct DPSeq {
    const char *c;
    const uint8_t *x;
    int len;
};

// Result lists.
ALGEB range(WORD a, WORD b) { return New3(RANGE, Newint(a), Newint(b)); }

ALGEB scorelist(double score, WORD a1, WORD b1, WORD a2, WORD b2) {
    return New2(LIST, New4(EXPSEQ, NewNumber(score), range(a1, b1), range(a2, b2)));
}

ALGEB scoreonly(double score) { return New2(LIST, New2(EXPSEQ, NewNumber(score))); }

bool seqchars(ALGEB x, const char **s, WORD *n) {
    if (IMMINT(x)) return false;
    if (ID2(x) == TEXT) {
        *s = STR(x)->t;
        *n = STR(x)->length;
        return true;
    }
    if (ID2(x) == NAME) {
        *s = NAMETEXT(x);
        *n = (WORD)strlen(*s);
        return true;
    }
    return false;
}

bool probseq(ALGEB x) {
    if (!is(x, FUNCTION)) return false;
    ALGEB f = A(x[1]);
    return is(f, NAME) && (!strcmp(NAMETEXT(f), "ProbSeq") || !strcmp(NAMETEXT(f), "Sequence"));
}

DPSeq mapseq(const char *s, WORD n, DayMatrix *dm) { return {s, SeqIndices(s, n, dm), (int)n}; }

DPScoring scoring(const DayMatrix *dm) { return {dm->Simi, dm->dim, dm->FixedDel, dm->IncDel}; }

DPRows newrows(int l2) {
    DPRows r;
    WorkingStorage(l2 + 1, double, r.S);
    WorkingStorage(l2 + 1, double, r.V);
    WorkingStorage(l2 + 1, int, r.from);
    return r;
}

long diagof(const char *a, const char *b) { return (long)((intptr_t)a - (intptr_t)b); }

// A score pass: local passes without NoSelf go to the vectorised scorers.
double scorepass(const uint8_t *a, int la, const uint8_t *b, int lb, const DPScoring &sc,
                 const DPPass &pass, LocalCell cell, double bound, int *m1, int *m2) {
    if (pass.mode == DPMode::Local && !pass.noself && pass.minlen == 0 && la > 0 && lb > 0)
        return DynProgScoreLocal(a, la, b, lb, sc, cell, pass.goal, bound, m1, m2);
    WorkingScope scope;
    return DynProgScoreSS(a, la, b, lb, sc, pass, m1, m2, newrows(lb));
}

double justscorebound() {
    ALGEB v = valuenv(naminstall("JustScoreBound"));
    return numeric(v) && DBL(v) >= 0 ? DBL(v) : 85;
}

bool isname(ALGEB x, const char *s) {
    if (IMMINT(x)) return false;
    if (ID2(x) == NAME) return !strcmp(NAMETEXT(x), s);
    if (ID2(x) == TEXT)
        return (size_t)STR(x)->length == strlen(s) && !memcmp(STR(x)->t, s, strlen(s));
    return false;
}

// Codon matrices: 64 symbols mapped by CodonToCInt, three bases to a symbol.
bool codonmatrix(const DayMatrix *dm) {
    if (dm->dim != 64 || dm->Mapping == 0) return false;
    ALGEB m = dm->Mapping;
    return is(m, NAME) && !strcmp(NAMETEXT(m), "CodonToCInt");
}

// The codons of a DNA or RNA text as indices 16 b1 + 4 b2 + b3 (A C G T, U as T); a partial
// codon at the end is left out.
DPSeq codonseq(const char *s, WORD n, int which) {
    uint8_t *x;
    WorkingStorage(n / 3 + 1, uint8_t, x);
    for (WORD i = 0; i < n; i++) {
        const int b = BasetoPos[(unsigned char)s[i]];
        if (b < 0 || b == BASE_X)
            userror(which == 1 ? "Sequence1 contains non DNA/RNA codes"
                               : "Sequence2 contains non DNA/RNA codes");
    }
    for (WORD k = 0; k + 3 <= n; k += 3) {
        int v = 0;
        for (int q = 0; q < 3; q++) {
            const int b = BasetoPos[(unsigned char)s[k + q]];
            v = 4 * v + (b == 4 ? 3 : b);
        }
        x[k / 3] = (uint8_t)v;
    }
    return {s, x, (int)(n / 3)};
}

} // namespace

// ---------------------------------------------------------------------------
// DynProgScore.

// The start of a local or cost-free-ends alignment that ends at (m1, m2) with the given score:
// the reversed prefixes aligned again, stopping at the first cell that reaches it.
static void regionstart(const DPSeq &s1, const DPSeq &s2, const DPScoring &sc, DPMode mode,
                        bool noself, double score, int m1, int m2, int *a1, int *a2) {
    WorkingScope scope;
    const uint8_t *r1 = ReversedIndices(s1.x, m1), *r2 = ReversedIndices(s2.x, m2);
    DPPass pass;
    pass.mode = mode == DPMode::CFE ? DPMode::CFEright : mode;
    pass.goal = score;
    pass.noself = noself;
    pass.selfdiag = diagof(s2.c + m2, s1.c + m1);
    int e1 = 0, e2 = 0;
    const double back = scorepass(r1, m1, r2, m2, sc, pass, LocalCell::Double, 0, &e1, &e2);
    if (back < score - 3e-9) notimpl("assertion failed: reverse score below the forward score");
    *a1 = m1 + 1 - e1;
    *a2 = m2 + 1 - e2;
}

// Mode Shake: anchored at both starts, then each end moved by realigning reversed, in turn,
// until a pass gains less than 1e-10.
static ALGEB shake(const DPSeq &s1, const DPSeq &s2, const DPScoring &sc, bool noself) {
    int a1 = 1, a2 = 1, b1 = 0, b2 = 0;
    DPPass pass;
    pass.mode = DPMode::Shake;
    pass.noself = noself;
    pass.selfdiag = diagof(s1.c, s2.c);
    double score = scorepass(s1.x, s1.len, s2.x, s2.len, sc, pass, LocalCell::Double, 0, &b1, &b2);
    for (bool backwards = true;; backwards = !backwards) {
        WorkingScope scope;
        int e1 = 0, e2 = 0;
        double s;
        if (backwards) {
            const int n1 = b1, n2 = b2;
            const uint8_t *r1 = ReversedIndices(s1.x, n1), *r2 = ReversedIndices(s2.x, n2);
            pass.selfdiag = diagof(s2.c + n2, s1.c + n1);
            s = scorepass(r1, n1, r2, n2, sc, pass, LocalCell::Double, 0, &e1, &e2);
            if (!(s - score >= 1e-10)) break;
            a1 = n1 + 1 - e1;
            a2 = n2 + 1 - e2;
        } else {
            const int n1 = s1.len - a1 + 1, n2 = s2.len - a2 + 1;
            pass.selfdiag = diagof(s1.c + a1 - 1, s2.c + a2 - 1);
            s = scorepass(s1.x + a1 - 1, n1, s2.x + a2 - 1, n2, sc, pass, LocalCell::Double, 0, &e1,
                          &e2);
            if (!(s - score >= 1e-10)) break;
            b1 = a1 - 1 + e1;
            b2 = a2 - 1 + e2;
        }
        score = s;
    }
    return scorelist(score, a1, b1, a2, b2);
}

ALGEB DynProgScore(ALGEB t) {
    const WORD n = LENGTH(t) - 1;
    const char *c1 = nullptr, *c2 = nullptr;
    WORD l1 = 0, l2 = 0;
    bool ok = n == 3 || n == 4;
    if (ok) {
        ok = (seqchars(A(t[1]), &c1, &l1) || probseq(A(t[1]))) &&
             (seqchars(A(t[2]), &c2, &l2) || probseq(A(t[2]))) && daymatrix(A(t[3])) != nullptr;
    }
    if (ok && n == 4) {
        const WORD k = CASE_ID(A(t[4]));
        ok = k == SET_CASE || k == NAME_CASE || k == TEXT_CASE || k == FUNCTION_CASE;
    }
    if (!ok) userror("invalid arguments for DynProgScore");
    DayMatrix *dm = daymatrix(A(t[3]));

    DPMode mode = DPMode::Local;
    bool hasmode = false, noself = false, justscore = false;
    LocalCell cell = LocalCell::Double;
    bool jfloat = false, jshort = false, jbyte = false;
    WORD minlen = 0;
    if (n == 4) {
        ALGEB mods = A(t[4]);
        ALGEB elems = ID2(mods) == SET ? A(mods[1]) : New2(EXPSEQ, mods);
        for (WORD i = 1; i < LENGTH(elems); i++) {
            ALGEB m = A(elems[i]);
            auto setmode = [&](DPMode md) {
                if (hasmode) userror2(m, "is an invalid or inconsistent modifier");
                hasmode = true;
                mode = md;
            };
            if (is(m, FUNCTION) && LENGTH(m) == 3 &&
                (isname(A(m[1]), "MinLength") || isname(A(m[1]), "Shake"))) {
                ALGEB v = A(m[2]);
                if (!numeric(v) || DBL(v) < 1) userror("invalid MinLength value");
                minlen = (WORD)DBL(v);
                if (isname(A(m[1]), "Shake")) setmode(DPMode::Shake);
            } else if (IMMINT(m) || (ID2(m) != NAME && ID2(m) != TEXT && ID2(m) != FUNCTION)) {
                userror("modifier must be a string");
            } else if (isname(m, "Local")) {
                setmode(DPMode::Local);
            } else if (isname(m, "Global")) {
                setmode(DPMode::Global);
            } else if (isname(m, "CFE")) {
                setmode(DPMode::CFE);
            } else if (isname(m, "Shake")) {
                setmode(DPMode::Shake);
            } else if (isname(m, "JustScore")) {
                justscore = true;
            } else if (isname(m, "NoSelf")) {
                noself = true;
            } else if (isname(m, "JustScoreFloat")) {
                jfloat = true;
            } else if (isname(m, "JustScoreShort")) {
                jshort = true;
            } else if (isname(m, "JustScoreByte")) {
                jbyte = true;
            } else {
                userror2(m, "is an invalid or inconsistent modifier");
            }
        }
    }
    cell = jbyte ? LocalCell::Byte : jshort ? LocalCell::Short : jfloat ? LocalCell::Float : cell;
    justscore = justscore || jbyte || jshort || jfloat;
    if (probseq(A(t[1])) || probseq(A(t[2]))) {
        if (minlen > 0) userror("MinLength not impl for ProbSeq.");
        userror("alignment of probabilistic sequences is not available");
    }
    if (l1 > MAXSEQLEN) userror("sequence 1 is too long");
    if (l2 > MAXSEQLEN) userror("sequence 2 is too long");

    if (l1 == 0 || l2 == 0) {
        const bool free = mode == DPMode::Local || mode == DPMode::CFE;
        const double s = free ? 0 : DeletionCost(l1 + l2, dm);
        if (justscore) return scoreonly(s);
        return free ? scorelist(0, 1, 0, 1, 0) : scorelist(s, 1, l1, 1, l2);
    }
    if (HasDelCost(dm)) {
        if (mode != DPMode::Local && mode != DPMode::Global)
            userror("alignment mode not supported");
        return DynProgScore_Convex(c1, l1, c2, l2, dm, mode);
    }

    WorkingScope scope;
    DPSeq s1, s2;
    WORD unit = 1;
    if (codonmatrix(dm)) {
        if (mode != DPMode::Local && mode != DPMode::Global)
            userror("DNA/DNA alignment, only Local/Global are implemented");
        s1 = codonseq(c1, l1, 1);
        s2 = codonseq(c2, l2, 2);
        unit = 3;
    } else {
        s1 = mapseq(c1, l1, dm);
        s2 = mapseq(c2, l2, dm);
    }
    const DPScoring sc = scoring(dm);

    if (minlen > 0) {
        if (mode == DPMode::Shake) {
            if (minlen > s1.len || minlen > s2.len) userror("MinLength too large");
            DPPass pass;
            pass.mode = DPMode::Shake;
            pass.minlen = (int)minlen;
            pass.noself = noself;
            pass.selfdiag = diagof(s1.c, s2.c);
            int m1 = 0, m2 = 0;
            const double s = scorepass(s1.x, s1.len, s2.x, s2.len, sc, pass, cell, 0, &m1, &m2);
            return scorelist(s, 1, m1, 1, m2);
        }
        if (mode != DPMode::Local) userror("invalid combination of modes");
        // The library reads the procedure on first use: its value may still be the call that
        // reads it.
        ALGEB name = naminstall("DynProgScore_MinLength"), proc = valuenv(name);
        if (is(proc, FUNCTION)) proc = eval(proc);
        if (!is(proc, PROC)) userror("DynProgScore_MinLength is not available");
        return evalfunc(proc, New5(EXPSEQ, A(t[1]), A(t[2]), A(t[3]), Newint(minlen)), name);
    }
    if (mode == DPMode::Shake) return shake(s1, s2, sc, noself);

    // Codons never share a position with themselves in character units.
    noself = noself && unit == 1;
    DPPass pass;
    pass.mode = mode;
    pass.noself = noself;
    pass.selfdiag = diagof(s1.c, s2.c);
    int m1 = 0, m2 = 0;
    const double score =
        scorepass(s1.x, s1.len, s2.x, s2.len, sc, pass, cell, justscorebound(), &m1, &m2);
    if (justscore) return scoreonly(score);
    if (mode == DPMode::Global) return scorelist(score, 1, l1 - l1 % unit, 1, l2 - l2 % unit);
    if (mode == DPMode::Local && score <= 0) return scorelist(0, 1, 0, 1, 0);
    int a1 = 1, a2 = 1;
    regionstart(s1, s2, sc, mode, noself, score, m1, m2, &a1, &a2);
    return scorelist(score, unit * (a1 - 1) + 1, unit * m1, unit * (a2 - 1) + 1, unit * m2);
}

// ---------------------------------------------------------------------------
// DynProgStrings: the aligned strings of a global alignment with a known score, in linear
// space (Hirschberg's halving, with the affine gap that may cross the middle row).

namespace {

struct Strings {
    const DPScoring &sc;
    const DayMatrix *dm;
    bool noself;
    char *out1, *out2; // characters written so far: n
    int n;
    int unit; // characters of a symbol: 3 for codons
};

// One column: the symbols at a and b, or gaps where they are null.
void column(Strings &w, const char *a, const char *b) {
    for (int k = 0; k < w.unit; k++) {
        w.out1[w.n] = a != nullptr ? a[k] : '_';
        w.out2[w.n] = b != nullptr ? b[k] : '_';
        w.n++;
    }
}

double sim(const Strings &w, int a, int b) { return w.sc.simi[a * w.sc.dim + b]; }

double gapcost(const Strings &w, int k) {
    return k == 0 ? 0 : w.sc.FixedDel + (k - 1) * w.sc.IncDel;
}

// Writes a global alignment of a against b (swapped when a is shorter: then its characters
// go to the second string) that reaches target, within maxerr at the top call only.
void SprMatR(Strings &w, DPSeq a, DPSeq b, double target, double maxerr, bool swapped) {
    if (a.len < b.len) {
        SprMatR(w, b, a, target, maxerr, !swapped);
        return;
    }
    auto put = [&](const char *x, const char *y) { swapped ? column(w, y, x) : column(w, x, y); };
    const int u = w.unit;
    auto part = [&](const DPSeq &s, int from, int len) {
        return DPSeq{s.c + u * from, s.x + from, len};
    };
    if (b.len == 0) {
        if (gapcost(w, a.len) != target && RoundDM(gapcost(w, a.len), w.dm->bits) != target)
            userror("score incompatible with aligned strings");
        for (int i = 0; i < a.len; i++)
            put(a.c + u * i, nullptr);
        return;
    }
    const double d = w.sc.FixedDel, e = w.sc.IncDel;
    if (a.len == 1) {
        const bool self = w.noself && a.c == b.c;
        if (target - maxerr <= 2 * d) {
            put(a.c, nullptr);
            put(nullptr, b.c);
        } else if (!self && sim(w, a.x[0], b.x[0]) >= target - maxerr) {
            put(a.c, b.c);
        } else {
            userror("Alignment/Match has incorrect data");
        }
        return;
    }
    if (a.len == b.len && a.c != b.c) {
        double s = 0;
        for (int i = 0; i < a.len; i++)
            s += sim(w, a.x[i], b.x[i]);
        if (s >= target - maxerr) {
            for (int i = 0; i < a.len; i++)
                put(a.c + u * i, b.c + u * i);
            return;
        }
    }
    if (2 * d + (a.len + b.len - 2) * e >= target - maxerr) {
        for (int i = 0; i < a.len; i++)
            put(a.c + u * i, nullptr);
        for (int j = 0; j < b.len; j++)
            put(nullptr, b.c + u * j);
        return;
    }
    // Split a in the middle: the best crossing of the middle row, by a forward pass over the
    // first half and a pass over the reversed second half.
    const int mid = a.len / 2, l2 = b.len, rest = a.len - mid;
    WorkingScope scope;
    const DPRows f = newrows(l2), r = newrows(l2);
    DPPass pass;
    pass.mode = DPMode::Global;
    pass.noself = w.noself;
    int m1, m2;
    pass.selfdiag = diagof(a.c, b.c);
    DynProgScoreSS(a.x, mid, b.x, l2, w.sc, pass, &m1, &m2, f);
    const uint8_t *ra = ReversedIndices(a.x + mid, rest), *rb = ReversedIndices(b.x, l2);
    pass.selfdiag = diagof(b.c + u * l2, a.c + u * a.len);
    DynProgScoreSS(ra, rest, rb, l2, w.sc, pass, &m1, &m2, r);
    // Column 0 is all vertical gap.
    f.V[0] = f.S[0];
    f.from[0] = 1;
    r.V[0] = r.S[0];
    r.from[0] = 1;
    double best = -HUGE_VAL;
    int bj = 0;
    bool gap = false;
    for (int j = 0; j <= l2; j++) {
        const double m = f.S[j] + r.S[l2 - j];
        if (m > best) {
            best = m;
            bj = j;
            gap = false;
        }
        const double g = f.V[j] + r.V[l2 - j] - d + e;
        if (g > best) {
            best = g;
            bj = j;
            gap = true;
        }
    }
    if (maxerr == 0 && best != target) {
        printf("DM->bits=%d, DM->FixedDel=%.18g, DM->IncDel=%.18g\n", w.dm->bits, d, e);
        printf("maxerr=%.18g, maxs=%.18g, escore=%.18g\n", maxerr, best, target);
        notimpl("assertion failed: score not equal to target score");
    }
    if (best < target && ENVprintlevel > 0)
        fprintf(stderr,
                "Warning: DynProgStrings could not reach score %.12g, reached %.12g instead\n",
                target, best);
    const DPSeq b1 = part(b, 0, bj), b2 = part(b, bj, l2 - bj);
    if (!gap) {
        SprMatR(w, part(a, 0, mid), b1, f.S[bj], 0, swapped);
        SprMatR(w, part(a, mid, rest), b2, r.S[l2 - bj], 0, swapped);
        return;
    }
    // The gap covers a[g1 .. g2] (1-based): opened at row g1 going down, and at row g2 seen
    // from the end.
    const int g1 = f.from[bj], g2 = a.len + 1 - r.from[l2 - bj];
    const double before = f.V[bj] - d - (mid - g1) * e;
    const double after = r.V[l2 - bj] - d - (g2 - mid - 1) * e;
    SprMatR(w, part(a, 0, g1 - 1), b1, before, 0, swapped);
    for (int i = g1 - 1; i < g2; i++)
        put(a.c + u * i, nullptr);
    SprMatR(w, part(a, g2, a.len - g2), b2, after, 0, swapped);
}

// Runs of gaps in y start as far left as equal scores allow: the character before a run moves
// to the run's far end while it scores the same there, and never so far that the run joins
// another one. With NoSelf (xbase and ybase the texts, else null) no move pairs a position of
// a text with itself.
void normalise(char *x, char *y, int n, DayMatrix *dm, bool xfirst, const char *xbase,
               const char *ybase) {
    auto score = [&](char a, char b) {
        const int i = MapSymbol((unsigned char)a, dm), j = MapSymbol((unsigned char)b, dm);
        return xfirst ? dm->Simi[i * dm->dim + j] : dm->Simi[j * dm->dim + i];
    };
    // The position in its text of every character of x and y.
    int *xi, *yi;
    WorkingStorage(n + 1, int, xi);
    WorkingStorage(n + 1, int, yi);
    for (int k = 0, u = 0, v = 0; k < n; k++) {
        xi[k] = x[k] == '_' ? -1 : u++;
        yi[k] = y[k] == '_' ? -1 : v++;
    }
    auto self = [&](int xcol, int ycol) {
        return xbase != nullptr && xbase + xi[xcol] == ybase + yi[ycol];
    };
    for (int q = 0; q < n; q++) {
        if (y[q] != '_' || (q + 1 < n && y[q + 1] == '_')) continue;
        int p = q;
        while (p > 0 && y[p - 1] == '_')
            p--;
        // The run is y[p..q]; move it left while the column before it pairs two characters.
        while (p > 0 && y[p - 1] != '_' && x[p - 1] != '_' && (p < 2 || y[p - 2] != '_') &&
               !self(q, p - 1) && score(x[q], y[p - 1]) == score(x[p - 1], y[p - 1])) {
            y[q] = y[p - 1];
            yi[q] = yi[p - 1];
            y[p - 1] = '_';
            yi[p - 1] = -1;
            p--;
            q--;
        }
    }
}

// The score of the strings column by column; a codon matrix reads three characters a column.
double recomputed(const char *x, const char *y, int n, DayMatrix *dm, int unit) {
    auto index = [&](const char *p) {
        if (unit == 1) return MapSymbol((unsigned char)*p, dm);
        int v = 0;
        for (int q = 0; q < 3; q++) {
            const int b = BasetoPos[(unsigned char)p[q]];
            v = 4 * v + (b == 4 ? 3 : b);
        }
        return v;
    };
    double s = 0;
    for (int k = 0; k < n; k += unit) {
        if (x[k] == '_')
            s += k == 0 || x[k - unit] != '_' ? dm->FixedDel : dm->IncDel;
        else if (y[k] == '_')
            s += k == 0 || y[k - unit] != '_' ? dm->FixedDel : dm->IncDel;
        else
            s += dm->Simi[index(x + k) * dm->dim + index(y + k)];
    }
    return s;
}

ALGEB textof(const char *s, int n) {
    ALGEB r = NewText((UWORD)n);
    memcpy(STR(r)->t, s, (size_t)n);
    return r;
}

} // namespace

// The aligned strings of s1 against s2 for the given score.
static ALGEB alignedstrings(const char *c1, WORD l1, const char *c2, WORD l2, double score,
                            DayMatrix *dm, bool noself) {
    if (l1 > MAXSEQLEN - 1 || l2 > MAXSEQLEN - 1) userror("Alignment too long to compute");
    WorkingScope scope;
    // A codon matrix aligns whole codons, and its strings keep them whole.
    const bool codons = codonmatrix(dm);
    const DPSeq s1 = codons ? codonseq(c1, l1, 1) : mapseq(c1, l1, dm);
    const DPSeq s2 = codons ? codonseq(c2, l2, 2) : mapseq(c2, l2, dm);
    const DPScoring sc = scoring(dm);
    char *o1, *o2;
    WorkingStorage(l1 + l2 + 1, char, o1);
    WorkingStorage(l1 + l2 + 1, char, o2);
    Strings w{sc, dm, noself && !codons, o1, o2, 0, codons ? 3 : 1};
    SprMatR(w, s1, s2, score, 5e-5, false);
    if (!codons) {
        normalise(o1, o2, w.n, dm, true, noself ? c1 : nullptr, c2);
        normalise(o2, o1, w.n, dm, false, noself ? c2 : nullptr, c1);
    }
    const double s = recomputed(o1, o2, w.n, dm, w.unit);
    if (s > score + 1) {
        userror2(NewNumber(s),
                 "DynProgStrings finds a higher score, Alignment is probably erroneous");
    }
    ALGEB a1 = textof(o1, w.n);
    ALGEB a2 = textof(o2, w.n);
    return New2(LIST, New4(EXPSEQ, NewNumber(s), a1, a2));
}

ALGEB DynProgStrings(ALGEB m, ALGEB dmo, ALGEB al, bool noself) {
    if (m != 0) {
        const Match *mt = (const Match *)m;
        DayMatrix *dm = daymatrix(dmo);
        if (mt->Length1 == 0 || mt->Length2 == 0 ||
            std::fabs((double)mt->PamNumber - dm->PamNumber) > 0.5)
            userror("incomplete or incorrect Match information");
        const database *df = CurrentDb();
        if (df == nullptr) userror("DB incorrectly assigned");
        if (mt->Offset1 < 0 || mt->Offset2 < 0 || mt->Length1 < 0 || mt->Length2 < 0 ||
            (UWORD)mt->Offset1 + (UWORD)mt->Length1 > df->TotChars ||
            (UWORD)mt->Offset2 + (UWORD)mt->Length2 > df->TotChars)
            userror("incomplete or incorrect Match information");
        if (HasDelCost(dm))
            return DynProgStrings_Convex(df->string + mt->Offset1, mt->Length1,
                                         df->string + mt->Offset2, mt->Length2, mt->Sim, dm,
                                         noself);
        return alignedstrings(df->string + mt->Offset1, mt->Length1, df->string + mt->Offset2,
                              mt->Length2, mt->Sim, dm, noself);
    }
    // Alignment(seq1, seq2, score, dm, ...), the seventh component an optional set of modes.
    if (LENGTH(al) < 8) userror("missing fields in Alignment");
    DayMatrix *dm = daymatrix(A(al[5]));
    if (dm == nullptr) userror("missing Dayhoff matrix in Alignment");
    noself = false;
    if (LENGTH(al) > 8) {
        ALGEB modes = A(al[8]);
        ALGEB elems = is(modes, SET) ? A(modes[1]) : New2(EXPSEQ, modes);
        for (WORD i = 1; i < LENGTH(elems); i++) {
            ALGEB x = A(elems[i]);
            if (IMMINT(x) || (ID2(x) != NAME && ID2(x) != TEXT && ID2(x) != FUNCTION))
                userror("invalid mode in Alignment");
            noself = noself || isname(x, "NoSelf");
        }
    }
    const char *c1, *c2;
    WORD l1, l2;
    if (!seqchars(A(al[2]), &c1, &l1) || !seqchars(A(al[3]), &c2, &l2) || !numeric(A(al[4])))
        userror("missing fields in Alignment");
    if (HasDelCost(dm)) return DynProgStrings_Convex(c1, l1, c2, l2, DBL(A(al[4])), dm, noself);
    return alignedstrings(c1, l1, c2, l2, DBL(A(al[4])), dm, noself);
}
