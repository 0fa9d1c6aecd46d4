// Pairwise alignment by dynamic programming: scores in every mode, the aligned strings and the
// entry points of the language.
#include "DynProgr.h"

#include <algorithm>
#include <cfloat>

#include "Lumbra.h"
#include "SetOption.h"

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
