// Alignment with convex gap costs (a DelCost procedure): scores by candidate stacks, aligned
// strings by traceback.
//
// With convex costs an origin of a gap that opened later is better for short distances and
// worse for long ones, so along a row (or a column) the best origin of every later position
// is found on a stack: the newest origin on top, each element the best up to its index `upto`.
// A new origin pops the elements it beats over their whole range and takes over the next one
// up to the crossing, which bisection finds because the difference of two origins is monotone.
#include "DynProgr_convex.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Dayhoff.h"
#include "Lumbra.h"
#include "SetOption.h"

namespace {

struct stack_element_ {
    double score;
    int start, upto;
    stack_element_ *next;
};

// Elements come from chunks of working storage and go back to a free list.
struct Pool {
    stack_element_ *free = nullptr;
    stack_element_ *get() {
        if (free == nullptr) {
            stack_element_ *chunk;
            WorkingStorage(STACK_POOL_CHUNK_ELEMENTS, stack_element_, chunk);
            for (int k = 0; k < STACK_POOL_CHUNK_ELEMENTS; k++)
                put(&chunk[k]);
        }
        stack_element_ *e = free;
        free = e->next;
        return e;
    }
    void put(stack_element_ *e) {
        e->next = free;
        free = e;
    }
};

struct Candidates {
    stack_element_ *top = nullptr;
};

inline double value(const stack_element_ *e, int p, const double *c) {
    return e->score + c[p - e->start];
}

// The best gap ending at p: the top once the elements whose range ended are dropped.
double best(Candidates &L, int p, const double *c, Pool &pool) {
    while (L.top != nullptr && L.top->upto < p) {
        stack_element_ *e = L.top;
        L.top = e->next;
        pool.put(e);
    }
    return L.top != nullptr ? value(L.top, p, c) : (double)MINUSINF;
}

// The largest index x in [lo, hi) at which the origin (k, s) is at least as good as e, given
// that it is at lo and is not at hi.
int DynProgr_convex_bisect(int lo, int hi, int k, double s, const stack_element_ *e,
                           const double *c) {
    while (hi - lo > 1) {
        const int mid = lo + (hi - lo) / 2;
        if (s + c[mid - k] >= value(e, mid, c))
            lo = mid;
        else
            hi = mid;
    }
    return lo;
}

// A new origin k with score s for the positions k + 1 .. last.
void push(Candidates &L, int k, double s, int last, const double *c, Pool &pool) {
    if (k >= last) return;
    int upto = last;
    while (L.top != nullptr) {
        stack_element_ *t = L.top;
        if (s + c[t->upto - k] >= value(t, t->upto, c)) {
            upto = t->upto;
            L.top = t->next;
            pool.put(t);
            continue;
        }
        if (s + c[1] < value(t, k + 1, c)) return;
        upto = DynProgr_convex_bisect(k + 1, t->upto, k, s, t, c);
        break;
    }
    stack_element_ *e = pool.get();
    *e = {s, k, upto, L.top};
    L.top = e;
}

} // namespace

double ConvexScore(const uint8_t *a, int la, const uint8_t *b, int lb, const DPScoring &sc,
                   const double *c, DPMode mode, double goal, int *m1, int *m2, double *table) {
    WorkingScope scope;
    const bool local = mode == DPMode::Local;
    Pool pool;
    Candidates *cols;
    double *prev, *cur;
    WorkingStorage(lb + 1, Candidates, cols);
    WorkingStorage(lb + 1, double, prev);
    WorkingStorage(lb + 1, double, cur);
    for (int j = 0; j <= lb; j++) {
        cols[j] = Candidates();
        prev[j] = local || j == 0 ? 0 : c[j];
        push(cols[j], 0, prev[j], la, c, pool);
    }
    if (table != nullptr) std::copy(prev, prev + lb + 1, table);
    double bestscore = MINUSINF;
    int b1 = 0, b2 = 0;
    for (int i = 1; i <= la; i++) {
        const double *sim = sc.simi + (size_t)a[i - 1] * sc.dim;
        Candidates row;
        cur[0] = local ? 0 : c[i];
        push(row, 0, cur[0], lb, c, pool);
        bool reached = false;
        for (int j = 1; j <= lb; j++) {
            const double V = best(cols[j], i, c, pool), H = best(row, j, c, pool);
            const double D = prev[j - 1] + sim[b[j - 1]];
            double s = V > std::max(H, D) ? V : H > D ? H : D;
            if (local && s < 0) s = 0;
            cur[j] = s;
            push(row, j, s, lb, c, pool);
            push(cols[j], i, s, la, c, pool);
            if (local && s > bestscore) {
                bestscore = s;
                b1 = i;
                b2 = j;
                if (s >= goal) {
                    totcells += j;
                    reached = true;
                    break;
                }
            }
        }
        // The row's stack goes back to the pool with the row.
        while (row.top != nullptr) {
            stack_element_ *e = row.top;
            row.top = e->next;
            pool.put(e);
        }
        if (reached) break;
        totcells += lb;
        if (table != nullptr) std::copy(cur, cur + lb + 1, table + (size_t)i * (lb + 1));
        std::swap(prev, cur);
        if (InterruptNow) lumbra_jump(Main);
    }
    if (!local) {
        bestscore = prev[lb];
        b1 = la;
        b2 = lb;
        if (la == 0) bestscore = c[lb];
    }
    *m1 = b1;
    *m2 = b2;
    return bestscore;
}

// ---------------------------------------------------------------------------
// The language's side.

namespace {

// The gap costs of lengths 0 .. n.
double *gapcosts(WORD n, DayMatrix *dm) {
    double *c;
    WorkingStorage(n + 1, double, c);
    c[0] = 0;
    for (WORD k = 1; k <= n; k++)
        c[k] = DeletionCost(k, dm);
    return c;
}

struct Region {
    double score;
    int a1, b1, a2, b2; // 1-based, inclusive
};

// The local region, or the whole of both for Global.
Region convexregion(const uint8_t *x1, int l1, const uint8_t *x2, int l2, const DPScoring &sc,
                    const double *c, DPMode mode) {
    int m1 = 0, m2 = 0;
    const double s = ConvexScore(x1, l1, x2, l2, sc, c, mode, HUGE_VAL, &m1, &m2, nullptr);
    if (mode == DPMode::Global) return {s, 1, l1, 1, l2};
    if (s <= 0) return {0, 1, 0, 1, 0};
    WorkingScope scope;
    int e1 = 0, e2 = 0;
    const double r = ConvexScore(ReversedIndices(x1, m1), m1, ReversedIndices(x2, m2), m2, sc, c,
                                 DPMode::Local, s, &e1, &e2, nullptr);
    if (r != s) notimpl("reverse score differs");
    return {s, m1 + 1 - e1, m1, m2 + 1 - e2, m2};
}

// The aligned strings of a global alignment by traceback through the whole score table.
ALGEB traceback(const uint8_t *x1, int l1, const uint8_t *x2, int l2, const DPScoring &sc,
                const double *c, double *score) {
    if ((double)(l1 + 1) * (l2 + 1) > 25.0 * HIRSCHBERG_BUFFER_SIZE)
        userror("alignment too long for gap costs of a DelCost procedure");
    WorkingScope scope;
    double *T;
    WorkingStorage((size_t)(l1 + 1) * (l2 + 1), double, T);
    int m1, m2;
    *score = ConvexScore(x1, l1, x2, l2, sc, c, DPMode::Global, HUGE_VAL, &m1, &m2, T);
    const int w = l2 + 1;
    char *o1, *o2;
    WorkingStorage(l1 + l2 + 1, char, o1);
    WorkingStorage(l1 + l2 + 1, char, o2);
    int n = 0, i = l1, j = l2;
    while (i > 0 || j > 0) {
        const double s = T[(size_t)i * w + j];
        if (i > 0 && j > 0 &&
            s == T[(size_t)(i - 1) * w + j - 1] + sc.simi[x1[i - 1] * sc.dim + x2[j - 1]]) {
            o1[n] = IntToA(x1[--i]);
            o2[n++] = IntToA(x2[--j]);
            continue;
        }
        int k = -1;
        for (int q = j - 1; q >= 0 && k < 0; q--)
            if (s == T[(size_t)i * w + q] + c[j - q]) k = q;
        if (k >= 0) {
            while (j > k) {
                o1[n] = '_';
                o2[n++] = IntToA(x2[--j]);
            }
            continue;
        }
        for (int q = i - 1; q >= 0 && k < 0; q--)
            if (s == T[(size_t)q * w + j] + c[i - q]) k = q;
        if (k < 0) notimpl("should not happen");
        while (i > k) {
            o1[n] = IntToA(x1[--i]);
            o2[n++] = '_';
        }
    }
    std::reverse(o1, o1 + n);
    std::reverse(o2, o2 + n);
    ALGEB a1 = NewText((UWORD)n);
    memcpy(STR(a1)->t, o1, (size_t)n);
    ALGEB a2 = NewText((UWORD)n);
    memcpy(STR(a2)->t, o2, (size_t)n);
    return New3(EXPSEQ, a1, a2);
}

ALGEB rangeof(int a, int b) { return New3(RANGE, Newint(a), Newint(b)); }

} // namespace

ALGEB DynProgScore_Convex(const char *c1, WORD l1, const char *c2, WORD l2, DayMatrix *dm,
                          DPMode mode) {
    WorkingScope scope;
    const uint8_t *x1 = SeqIndices(c1, l1, dm), *x2 = SeqIndices(c2, l2, dm);
    const double *c = gapcosts(std::max(l1, l2) + 1, dm);
    const DPScoring sc{dm->Simi, dm->dim, 0, 0};
    const Region r = convexregion(x1, (int)l1, x2, (int)l2, sc, c, mode);
    return New2(LIST, New4(EXPSEQ, NewNumber(r.score), rangeof(r.a1, r.b1), rangeof(r.a2, r.b2)));
}

ALGEB DynProgStrings_Convex(const char *c1, WORD l1, const char *c2, WORD l2, double score,
                            DayMatrix *dm, bool noself) {
    if (l1 > MAXSEQLEN - 1 || l2 > MAXSEQLEN - 1) userror("Alignment too long to compute");
    WorkingScope scope;
    const uint8_t *x1 = SeqIndices(c1, l1, dm), *x2 = SeqIndices(c2, l2, dm);
    const double *c = gapcosts(std::max(l1, l2) + 1, dm);
    const DPScoring sc{dm->Simi, dm->dim, 0, 0};
    double s = 0;
    ALGEB strings = traceback(x1, (int)l1, x2, (int)l2, sc, c, &s);
    if (std::fabs(s - score) > 5e-5 && ENVprintlevel > 0)
        fprintf(stderr,
                "Warning: DynProgStrings could not reach score %.12g, reached %.12g instead\n",
                score, s);
    return New2(LIST, New4(EXPSEQ, NewNumber(s), A(strings[1]), A(strings[2])));
}

ALGEB DynProgBoth(ALGEB t) {
    const WORD n = LENGTH(t) - 1;
    if (n < 3 || n > 4 || !textual(A(t[1])) || !textual(A(t[2])) || daymatrix(A(t[3])) == nullptr)
        userror("invalid arguments for DynProgBoth");
    DayMatrix *dm = daymatrix(A(t[3]));
    if (!HasDelCost(dm)) userror("not available for affine gaps");
    DPMode mode = DPMode::Local;
    if (n == 4) {
        ALGEB m = A(t[4]);
        if (EqualText(m, "Global") && textual(m) && (ID2(m) == NAME || STR(m)->length == 6))
            mode = DPMode::Global;
        else if (textual(m) && (ID2(m) == NAME ? !strcmp(NAMETEXT(m), "Local")
                                               : STR(m)->length == 5 && EqualText(m, "Local")))
            mode = DPMode::Local;
        else if (textual(m) && (EqualText(m, "CFE") || EqualText(m, "Shake")))
            userror("alignment mode not supported");
        else
            userror2(m, "is an invalid or inconsistent modifier");
    }
    const char *c1, *c2;
    WORD l1, l2;
    auto chars = [](ALGEB x, const char **s, WORD *len) {
        if (ID2(x) == TEXT) {
            *s = STR(x)->t;
            *len = STR(x)->length;
        } else {
            *s = NAMETEXT(x);
            *len = (WORD)strlen(*s);
        }
    };
    chars(A(t[1]), &c1, &l1);
    chars(A(t[2]), &c2, &l2);
    if (l1 > MAXSEQLEN) userror("sequence 1 is too long");
    if (l2 > MAXSEQLEN) userror("sequence 2 is too long");
    WorkingScope scope;
    const uint8_t *x1 = SeqIndices(c1, l1, dm), *x2 = SeqIndices(c2, l2, dm);
    const double *c = gapcosts(std::max(l1, l2) + 1, dm);
    const DPScoring sc{dm->Simi, dm->dim, 0, 0};
    const Region r = convexregion(x1, (int)l1, x2, (int)l2, sc, c, mode);
    double s = 0;
    ALGEB strings =
        traceback(x1 + r.a1 - 1, r.b1 - r.a1 + 1, x2 + r.a2 - 1, r.b2 - r.a2 + 1, sc, c, &s);
    if (s != r.score) notimpl("DynProgString score differs");
    return New2(LIST, New6(EXPSEQ, NewNumber(r.score), rangeof(r.a1, r.b1), rangeof(r.a2, r.b2),
                           A(strings[1]), A(strings[2])));
}
