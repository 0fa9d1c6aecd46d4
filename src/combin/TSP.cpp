// Travelling-salesman tours: local moves, a pool of good tours recombined by quilting, and
// exact enumeration of small instances.
#include "TSP.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "Lumbra.h"
#include "matrix.h"
#include "rand.h"
#include "type.h"

int TSP4Switch = 0;
long TSPit = 0;
double TimeCut2Paste, TimeCut3Paste, TimeCut4Paste, TimeTwoTwoNeighbours, TimeReorder7Seq,
    TimeGraft1into4, TimeGraft2into4, TimeQuilt, TimeVerifyPermutation, TimePostOptimization;

namespace {

constexpr double MACHEPS = 2.220446049250313e-16;
// Near points kept per point for the reconnection searches; the rest are scanned only when
// all of these qualify.
constexpr int NEAR = 12;

typedef uint16_t Point;

// A stretch of one tour whose points, ends included, are those of a stretch of the other.
struct QuiltMatch {
    INT sig;
    int from1, from2; // first positions in P1 and P2
    bool reversed;    // P2's stretch runs from P1's last point to its first
};

// Sums along a tour taken twice round, so that every stretch is one interval.
struct TourSums {
    uint32_t *sig, *sig2; // of SIG and SIG2 over the points before each position
    long double *cost;    // of the edges before each position
};

// One search. Tours are arrays t[0..n] of the point numbers 1..n with t[n] = t[0]; a
// position is an index 0..n-1, the edge at position k joins t[k] and t[k+1].
struct Tsp {
    int n;
    const double *const *Dist; // Dist[a][b], points counted from 1
    int K;                     // near points per point
    Point *nearp;              // nearp[a*K + k]: the (k+1)-th nearest point to a, ties by number
    int *pos;                  // pos[p]: the position of p in the tour being improved
    int *count;                // n + 1 counters
    Point *scratch;            // 2n + 2 points
    double *ec;                // ec[k]: the cost of the edge at position k
    double *dp;                // 2n distances from points being moved
    int *pos2;                 // positions in the second tour of a quilt
    int *stamp, stampnow;      // marks of the points of a stretch
    Point *X1, *X2;            // the tours of a quilt, two and three times round
    TourSums sums1, sums2;
    QuiltMatch *matches; // 2n
};

inline double dist(const Tsp &s, int a, int b) { return s.Dist[a][b]; }

// A position taken round the tour; k lies in -n .. 2n-1.
inline int cyc(int k, int n) { return k >= n ? k - n : k < 0 ? k + n : k; }

// Adds the processor time of a scope to a counter.
struct Timed {
    double &counter;
    double t0;
    explicit Timed(double &c) : counter(c), t0(cptime()) {}
    ~Timed() { counter += cptime() - t0; }
    Timed(const Timed &) = delete;
    Timed &operator=(const Timed &) = delete;
};

// Stops with an internal consistency error unless t[0..n] is a closed tour through 1..n.
template <class T>
void VerifyPermutation(const T *t, int n, int *count, const char *tag) {
    Timed timed(TimeVerifyPermutation);
    char why[100] = "";
    if (t[0] != t[n]) snprintf(why, sizeof why, "P[1]=%d != P[n+1]=%d", (int)t[0], (int)t[n]);
    for (int i = 0; i <= n; i++)
        count[i] = 0;
    for (int i = 0; i < n && why[0] == 0; i++) {
        if (t[i] < 1)
            snprintf(why, sizeof why, "P[%d]=%d<1", i + 1, (int)t[i]);
        else if (t[i] > n)
            snprintf(why, sizeof why, "P[%d]=%d>%d", i + 1, (int)t[i], n);
        else
            count[t[i]]++;
    }
    for (int i = 1; i <= n && why[0] == 0; i++)
        if (count[i] != 1) snprintf(why, sizeof why, "Count[%d]=%d <> 1", i, count[i]);
    if (why[0] == 0) return;
    char msg[200];
    snprintf(msg, sizeof msg, "VerifyPermutation failed (%s): %s", tag, why);
    userror(msg);
}

inline void Verify(Tsp &s, const Point *t, const char *tag) {
    VerifyPermutation(t, s.n, s.count, tag);
}

double TourCost(const Tsp &s, const Point *t) {
    double c = 0;
    for (int k = 0; k < s.n; k++)
        c += dist(s, t[k], t[k + 1]);
    return c;
}

// The smallest improvement a move accepts: a few rounding errors of the tour's cost.
inline double Slack(const Tsp &s, const Point *t) { return s.n * MACHEPS * TourCost(s, t); }

void SetPositions(Tsp &s, const Point *t) {
    for (int k = 0; k < s.n; k++)
        s.pos[t[k]] = k;
}

void SetEdgeCosts(Tsp &s, const Point *t) {
    for (int k = 0; k < s.n; k++)
        s.ec[k] = dist(s, t[k], t[k + 1]);
}

// Reverses the stretch t[from..to], positions taken round the tour, or, when that is the
// longer part, the rest of the tour, which gives the same closed tour. Edge costs follow.
void ReverseStretch(Tsp &s, Point *t, int from, int to) {
    int n = s.n;
    int len = cyc(to - from, n) + 1;
    if (2 * len > n) {
        int f = cyc(to + 1, n);
        to = cyc(from - 1, n);
        from = f;
        len = n - len;
    }
    for (int k = 0; k < len / 2; k++)
        std::swap(t[cyc(from + k, n)], t[cyc(to - k, n)]);
    for (int k = 0; k < (len - 1) / 2; k++)
        std::swap(s.ec[cyc(from + k, n)], s.ec[cyc(to - 1 - k, n)]);
    t[n] = t[0];
    int before = cyc(from - 1, n);
    s.ec[before] = dist(s, t[before], t[before + 1]);
    s.ec[to] = dist(s, t[to], t[to + 1]);
}

// ---------------------------------------------------------------------------
// Short paths with fixed ends.

// The search of ShortOptimal. H[k] is a lower bound of the edge that leaves Q[k] in any
// order, hsum their sum over the interior points: a prefix is extended only while the budget
// left covers the cheapest possible rest.
double Reorder(const Tsp &s, int m, int *Q, double *H, double budget, double hsum, double eps) {
    if (m == 3) {
        double r = budget - dist(s, Q[0], Q[1]) - dist(s, Q[1], Q[2]);
        return r > eps ? r : -1;
    }
    if (m == 4) {
        double kept = dist(s, Q[0], Q[1]) + dist(s, Q[1], Q[2]) + dist(s, Q[2], Q[3]);
        double swapped = dist(s, Q[0], Q[2]) + dist(s, Q[2], Q[1]) + dist(s, Q[1], Q[3]);
        double r = budget - std::min(kept, swapped);
        if (!(r > eps)) return -1;
        if (swapped < kept) std::swap(Q[1], Q[2]);
        return r;
    }
    const double *D0 = s.Dist[Q[0]];
    for (int k = 1; k <= m - 2; k++) {
        double rest = budget - D0[Q[k]];
        if (!(rest - hsum > eps)) continue;
        std::swap(Q[1], Q[k]);
        std::swap(H[1], H[k]);
        double r = Reorder(s, m - 1, Q + 1, H + 1, rest, hsum - H[1], eps);
        if (r > eps) return r;
        std::swap(Q[1], Q[k]);
        std::swap(H[1], H[k]);
    }
    return -1;
}

// An order of the interior points Q[1..m-2] of a path from Q[0] to Q[m-1] whose cost is
// below budget by more than eps: the first one found is left in Q and the remaining slack
// returned; otherwise -1 and Q unchanged.
double ShortOptimal(const Tsp &s, int m, int *Q, double budget, double eps) {
    if (m < 3) notimpl("ShortOptimal, n<3");
    // Distances are never negative, and an interior point leaves for another interior point
    // or the last one.
    double H[16], hsum = 0;
    for (int k = 1; k <= m - 2; k++) {
        const double *Dk = s.Dist[Q[k]];
        double h = HUGE_VAL;
        for (int u = 1; u < m; u++)
            if (u != k) h = std::min(h, Dk[Q[u]]);
        H[k] = h;
        hsum += h;
    }
    return Reorder(s, m, Q, H, budget, hsum, eps);
}

// ---------------------------------------------------------------------------
// Reconnections: k tour edges are cut and their 2k ends joined anew.

// End 2m is the point before cut m (t[q[m]]), end 2m+1 the point after it (t[q[m]+1]).
struct Reconnection {
    int k;
    int q[4];
    int join[8]; // join[e]: the end that end e is joined to
};

// Whether the pieces form one closed tour. Walks from the end before the first cut in
// position order (the last point of the piece that wraps round position 0); when out is
// given, writes the points of the other pieces in their new order, which then fill
// positions q_min+1 .. q_max.
bool Rejoin(const Point *t, const Reconnection &r, Point *out) {
    int k = r.k, ord[4] = {0, 1, 2, 3}, rank[4];
    for (int m = 1; m < k; m++)
        for (int j = m; j > 0 && r.q[ord[j]] < r.q[ord[j - 1]]; j--)
            std::swap(ord[j], ord[j - 1]);
    for (int m = 0; m < k; m++) {
        if (m > 0 && r.q[ord[m]] == r.q[ord[m - 1]]) return false;
        rank[ord[m]] = m;
    }
    int at = 2 * ord[0], pieces = 1, w = 0;
    for (;;) {
        int e = r.join[at], c = e / 2, rk = rank[c];
        if (e % 2 == 1) {
            // The piece after cut c, run forward to the point before the next cut.
            if (rk == k - 1) break;
            int from = r.q[c] + 1, to = r.q[ord[rk + 1]];
            if (out != nullptr)
                for (int p = from; p <= to; p++)
                    out[w++] = t[p];
            at = 2 * ord[rk + 1];
        } else {
            // The piece before cut c, run backward to the point after the cut before it.
            if (rk == 0) return false;
            int from = r.q[c], to = r.q[ord[rk - 1]] + 1;
            if (out != nullptr)
                for (int p = from; p >= to; p--)
                    out[w++] = t[p];
            at = 2 * ord[rk - 1] + 1;
        }
        if (++pieces > k) return false;
    }
    return pieces == k;
}

void ApplyReconnection(Tsp &s, Point *t, const Reconnection &r) {
    Rejoin(t, r, s.scratch);
    int lo = *std::min_element(r.q, r.q + r.k) + 1, hi = *std::max_element(r.q, r.q + r.k);
    for (int p = lo; p <= hi; p++) {
        t[p] = s.scratch[p - lo];
        s.pos[t[p]] = p;
    }
}

// Calls f(b) for every point b other than a with d(a, b) < G, the near points first and
// nearest first, then the others by number, until f returns true.
template <class F>
bool Candidates(const Tsp &s, int a, double G, F f) {
    const Point *nb = s.nearp + (size_t)a * s.K;
    const double *Da = s.Dist[a];
    for (int k = 0; k < s.K; k++) {
        if (!(Da[nb[k]] < G)) return false;
        if (f((int)nb[k])) return true;
    }
    // Every point nearer than the last near point is among the near points.
    double last = Da[nb[s.K - 1]];
    for (int b = 1; b <= s.n; b++) {
        if (b == a || !(Da[b] < G) || Da[b] < last) continue;
        if (Da[b] == last && std::find(nb, nb + s.K, b) != nb + s.K) continue;
        if (f(b)) return true;
    }
    return false;
}

// Sequential search for reconnections of k edges that start by cutting the edge from t1 to
// its neighbour t2: each new edge leaves the far end of the last cut edge, and the gain summed
// so far must stay positive, which every improving reconnection allows in some order.
struct ReconnectionSearch {
    Tsp &s;
    Point *t;
    Reconnection r;
    int t1, end1;
    // Called with each valid reconnection that gains; a true result ends the search.
    bool (*found)(ReconnectionSearch &, double gain);
    double bestgain;
    Reconnection best;
    bool havebest;

    ReconnectionSearch(Tsp &s_, Point *t_, int k) : s(s_), t(t_), r(), t1(0), end1(0) {
        r.k = k;
        found = nullptr;
        bestgain = 0;
        best = r;
        havebest = false;
    }

    // The edge from point a to its neighbour on side dir (0 after, 1 before) becomes cut c:
    // the end that is a.
    int cut(int c, int a, int dir) {
        int pa = s.pos[a];
        r.q[c] = dir == 0 ? pa : cyc(pa - 1, s.n);
        return 2 * c + (dir == 0 ? 0 : 1);
    }

    bool from(int a, int dir) {
        t1 = a;
        end1 = cut(0, a, dir);
        int t2 = dir == 0 ? t[s.pos[a] + 1] : t[cyc(s.pos[a] - 1, s.n)];
        return step(1, t2, end1 ^ 1, dist(s, a, t2));
    }

    // last is the far end of cut c-1, reached with gain G (its removed edge counted).
    bool step(int c, int last, int endlast, double G) {
        int other = t[r.q[c - 1]] == last ? t[r.q[c - 1] + 1] : t[r.q[c - 1]];
        return Candidates(s, last, G, [&](int next) {
            if (next == other) return false;
            double g = G - dist(s, last, next);
            for (int dir = 0; dir < 2; dir++) {
                int endnext = cut(c, next, dir);
                bool repeated = false;
                for (int m = 0; m < c; m++)
                    repeated |= r.q[m] == r.q[c];
                if (repeated) continue;
                int far = t[r.q[c]] == next ? t[r.q[c] + 1] : t[r.q[c]];
                r.join[endlast] = endnext;
                r.join[endnext] = endlast;
                double Gn = g + dist(s, next, far);
                if (c + 1 < r.k) {
                    if (step(c + 1, far, endnext ^ 1, Gn)) return true;
                    continue;
                }
                double gain = Gn - dist(s, far, t1);
                if (!(gain > 0)) continue;
                r.join[endnext ^ 1] = end1;
                r.join[end1] = endnext ^ 1;
                if (Rejoin(t, r, nullptr) && found(*this, gain)) return true;
            }
            return false;
        });
    }
};

// The cheapest of the four ways of rejoining the pieces between three cuts, applied when it
// gains enough.
bool ApplyBest3(ReconnectionSearch &S, double) {
    Tsp &s = S.s;
    Point *t = S.t;
    int q[3] = {S.r.q[0], S.r.q[1], S.r.q[2]};
    std::sort(q, q + 3);
    int a = t[q[0]], a1 = t[q[0] + 1], b = t[q[1]], b1 = t[q[1] + 1], c = t[q[2]], c1 = t[q[2] + 1];
    double old = dist(s, a, a1) + dist(s, b, b1) + dist(s, c, c1);
    // Ends: 0 a, 1 a1, 2 b, 3 b1, 4 c, 5 c1; each way joins three pairs of them.
    static constexpr int ways[4][6] = {
        {0, 3, 4, 1, 2, 5}, {0, 4, 1, 3, 2, 5}, {0, 3, 2, 4, 1, 5}, {0, 2, 4, 1, 3, 5}};
    const int pt[6] = {a, a1, b, b1, c, c1};
    int bestway = -1;
    double best = 0;
    for (int w = 0; w < 4; w++) {
        double cost = 0;
        for (int e = 0; e < 6; e += 2)
            cost += dist(s, pt[ways[w][e]], pt[ways[w][e + 1]]);
        if (bestway < 0 || cost < best) bestway = w, best = cost;
    }
    if (!(old - best > 0) || old - best < (old + best) * 2.220446049250313e-15) return false;
    Reconnection r;
    r.k = 3;
    std::copy(q, q + 3, r.q);
    for (int e = 0; e < 6; e += 2) {
        r.join[ways[bestway][e]] = ways[bestway][e + 1];
        r.join[ways[bestway][e + 1]] = ways[bestway][e];
    }
    ApplyReconnection(s, t, r);
    return true;
}

bool KeepBest(ReconnectionSearch &S, double gain) {
    if (gain > S.bestgain) {
        S.bestgain = gain;
        S.best = S.r;
        S.havebest = true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// The moves. Each scans the whole tour, applies every improvement it finds and says whether
// there was one.

// 2-opt: the stretch between two edges is reversed when the crossing edges are shorter.
bool Cut2Paste(Tsp &s, Point *t) {
    Timed timed(TimeCut2Paste);
    int n = s.n;
    double eps = Slack(s, t);
    SetEdgeCosts(s, t);
    bool any = false;
    for (int i = 0, quiet = 0; quiet < n && !InterruptNow; i = cyc(i + 1, n)) {
        bool changed = false;
        for (int m = 2; m <= n - 2; m++) {
            int j = cyc(i + m, n);
            const double *Da = s.Dist[t[i]], *Da1 = s.Dist[t[i + 1]];
            if (s.ec[i] + s.ec[j] - Da[t[j]] - Da1[t[j + 1]] > eps) {
                ReverseStretch(s, t, cyc(i + 1, n), j);
                changed = true;
                TSPit++;
            }
        }
        quiet = changed ? 0 : quiet + 1;
        any |= changed;
    }
    Verify(s, t, "exiting Cut2Paste");
    return any;
}

// Segment exchange: three edges cut, the pieces rejoined in the cheapest of four ways.
bool Cut3Paste(Tsp &s, Point *t) {
    Timed timed(TimeCut3Paste);
    int n = s.n;
    SetPositions(s, t);
    bool any = false;
    for (int i = 0, quiet = 0; quiet < n && !InterruptNow;) {
        ReconnectionSearch S(s, t, 3);
        S.found = ApplyBest3;
        if (S.from(t[i], 0) || S.from(t[i], 1)) {
            any = true;
            quiet = 0;
            TSPit++;
            continue;
        }
        quiet++;
        i = cyc(i + 1, n);
    }
    Verify(s, t, "exiting Cut3Paste");
    return any;
}

// Four edges cut: from each start the best rejoining found is applied.
bool Cut4Paste(Tsp &s, Point *t) {
    Timed timed(TimeCut4Paste);
    int n = s.n;
    SetPositions(s, t);
    bool any = false;
    for (int i = 0; i < n && !InterruptNow; i++) {
        ReconnectionSearch S(s, t, 4);
        S.found = KeepBest;
        S.bestgain = Slack(s, t);
        S.from(t[i], 0);
        S.from(t[i], 1);
        if (S.havebest) {
            ApplyReconnection(s, t, S.best);
            any = true;
            TSPit++;
        }
    }
    Verify(s, t, "exiting Cut4Paste");
    return any;
}

// Every window of nine points is put in the best order of its seven inner points.
bool Reorder7Seq(Tsp &s, Point *t) {
    Timed timed(TimeReorder7Seq);
    int n = s.n;
    double eps = Slack(s, t);
    bool any = false;
    int Q[9];
    for (int i = 0; i < n && !InterruptNow;) {
        double budget = 0;
        for (int m = 0; m < 9; m++) {
            Q[m] = t[(i + m) % n];
            if (m > 0) budget += dist(s, Q[m - 1], Q[m]);
        }
        if (ShortOptimal(s, 9, Q, budget, eps) > eps) {
            for (int m = 1; m < 8; m++)
                t[(i + m) % n] = (Point)Q[m];
            t[n] = t[0];
            any = true;
            TSPit++;
            continue;
        }
        i++;
    }
    Verify(s, t, "exiting Reorder7Seq");
    return any;
}

// The two smallest of four numbers, added.
inline double TwoSmallest(double a, double b, double c, double d) {
    double lo1 = std::min(a, b), hi1 = std::max(a, b), lo2 = std::min(c, d), hi2 = std::max(c, d);
    return std::min(lo1, lo2) + std::min(std::max(lo1, lo2), std::min(hi1, hi2));
}

// Writes the n points of seq into the tour from position start on, round the tour.
void Rewrite(Tsp &s, Point *t, const Point *seq, int start) {
    int n = s.n;
    for (int m = 0; m < n; m++)
        t[(start + m) % n] = seq[m];
    t[n] = t[0];
}

// One point moves into a stretch of four elsewhere, which is reordered around it.
bool Graft1into4(Tsp &s, Point *t) {
    Timed timed(TimeGraft1into4);
    int n = s.n;
    double eps = Slack(s, t);
    bool any = false;
    Point *R = s.scratch, *out = s.scratch + n;
    double *ec = s.ec, *dp = s.dp;
    for (int i = 0; i < n && !InterruptNow; i++) {
        int p = t[i], prev = t[cyc(i - 1, n)], next = t[i + 1];
        double gain = dist(s, prev, p) + dist(s, p, next) - dist(s, prev, next);
        // The tour without p, from next round to prev, with its edges and distances to p.
        const double *Dp = s.Dist[p];
        for (int m = 0; m < n - 1; m++) {
            R[m] = t[(i + 1 + m) % n];
            dp[m] = Dp[R[m]];
            if (m > 0) ec[m - 1] = dist(s, R[m - 1], R[m]);
        }
        for (int st = 0; st + 3 <= n - 2; st++) {
            double budget = ec[st] + ec[st + 1] + ec[st + 2] + gain;
            // p will have two of the four as neighbours.
            if (TwoSmallest(dp[st], dp[st + 1], dp[st + 2], dp[st + 3]) >= budget - eps) continue;
            int Q[5] = {R[st], R[st + 1], R[st + 2], p, R[st + 3]};
            if (!(ShortOptimal(s, 5, Q, budget, eps) > eps)) continue;
            int w = 0;
            for (int m = 0; m <= st; m++)
                out[w++] = R[m];
            for (int m = 1; m <= 3; m++)
                out[w++] = (Point)Q[m];
            for (int m = st + 3; m <= n - 2; m++)
                out[w++] = R[m];
            Rewrite(s, t, out, i + 1);
            any = true;
            TSPit++;
            break;
        }
    }
    Verify(s, t, "exiting Graft1into4");
    return any;
}

// Two neighbouring points move together into a stretch of four elsewhere.
bool Graft2into4(Tsp &s, Point *t) {
    Timed timed(TimeGraft2into4);
    int n = s.n;
    double eps = Slack(s, t);
    bool any = false;
    Point *R = s.scratch, *out = s.scratch + n;
    double *ec = s.ec, *d1 = s.dp, *d2 = s.dp + n;
    for (int i = 0; i < n && !InterruptNow; i++) {
        int p1 = t[i], p2 = t[i + 1], prev = t[cyc(i - 1, n)], next = t[(i + 2) % n];
        double d12 = dist(s, p1, p2);
        double gain = dist(s, prev, p1) + d12 + dist(s, p2, next) - dist(s, prev, next);
        const double *D1 = s.Dist[p1], *D2 = s.Dist[p2];
        for (int m = 0; m < n - 2; m++) {
            R[m] = t[(i + 2 + m) % n];
            d1[m] = D1[R[m]];
            d2[m] = D2[R[m]];
            if (m > 0) ec[m - 1] = dist(s, R[m - 1], R[m]);
        }
        for (int st = 0; st + 3 <= n - 3; st++) {
            double budget = ec[st] + ec[st + 1] + ec[st + 2] + gain;
            // Together the pair has an edge to the stretch at each side, and either the edge
            // between them or two more edges to the stretch.
            double m1 = std::min(std::min(d1[st], d1[st + 1]), std::min(d1[st + 2], d1[st + 3]));
            double m2 = std::min(std::min(d2[st], d2[st + 1]), std::min(d2[st + 2], d2[st + 3]));
            if (m1 + m2 >= budget - eps) continue;
            double bound = std::min(m1 + d12 + m2,
                                    TwoSmallest(d1[st], d1[st + 1], d1[st + 2], d1[st + 3]) +
                                        TwoSmallest(d2[st], d2[st + 1], d2[st + 2], d2[st + 3]));
            if (bound >= budget - eps) continue;
            int Q[6] = {R[st], R[st + 1], R[st + 2], p1, p2, R[st + 3]};
            if (!(ShortOptimal(s, 6, Q, budget, eps) > eps)) continue;
            int w = 0;
            for (int m = 0; m <= st; m++)
                out[w++] = R[m];
            for (int m = 1; m <= 4; m++)
                out[w++] = (Point)Q[m];
            for (int m = st + 3; m <= n - 3; m++)
                out[w++] = R[m];
            Rewrite(s, t, out, i + 2);
            any = true;
            TSPit++;
            break;
        }
    }
    Verify(s, t, "exiting Graft2into4");
    return any;
}

// Two pairs of neighbours change places, each either way round. From the pair at i only
// exchanges that gain at i's place are looked for: the others gain at the other pair's
// place and are found from there.
bool TwoTwoNeighbours(Tsp &s, Point *t) {
    Timed timed(TimeTwoTwoNeighbours);
    int n = s.n;
    double eps = Slack(s, t);
    SetEdgeCosts(s, t);
    SetPositions(s, t);
    bool any = false;
    for (int i = 0; i < n && !InterruptNow; i++) {
        int im = cyc(i - 1, n), i1 = cyc(i + 1, n);
        int p = t[im], a1 = t[i], a2 = t[i1], q = t[(i + 2) % n];
        const double *Dp = s.Dist[p], *Dq = s.Dist[q], *D1 = s.Dist[a1], *D2 = s.Dist[a2];
        double oldA = s.ec[im] + s.ec[i1];
        double bestgain = eps;
        int bestj = -1;
        // A pair that gains here has a point nearer to p than oldA.
        Candidates(s, p, oldA, [&](int b) {
            for (int j : {s.pos[b], cyc(s.pos[b] - 1, n)}) {
                int m = cyc(j - i, n);
                if (m < 3 || m > n - 3) continue;
                int r = t[cyc(j - 1, n)], b1 = t[j], b2 = t[j + 1], s2 = t[(j + 2) % n];
                double old = oldA + s.ec[cyc(j - 1, n)] + s.ec[cyc(j + 1, n)];
                double inA = std::min(Dp[b1] + Dq[b2], Dp[b2] + Dq[b1]);
                double inB = std::min(D1[r] + D2[s2], D2[r] + D1[s2]);
                if (inA < oldA && old - (inA + inB) > bestgain)
                    bestgain = old - (inA + inB), bestj = j;
            }
            return false;
        });
        if (bestj < 0) continue;
        int j = bestj, j1 = cyc(j + 1, n);
        int r = t[cyc(j - 1, n)], b1 = t[j], b2 = t[j1], s2 = t[(j + 2) % n];
        if (Dp[b2] + Dq[b1] < Dp[b1] + Dq[b2]) std::swap(b1, b2);
        int c1 = a1, c2 = a2;
        if (D2[r] + D1[s2] < D1[r] + D2[s2]) std::swap(c1, c2);
        t[i] = (Point)b1;
        t[i1] = (Point)b2;
        t[j] = (Point)c1;
        t[j1] = (Point)c2;
        t[n] = t[0];
        for (int k : {i, i1, j, j1})
            s.pos[t[k]] = k;
        for (int k : {im, i, i1, cyc(j - 1, n), j, j1})
            s.ec[k] = dist(s, t[k], t[k + 1]);
        any = true;
        TSPit++;
    }
    Verify(s, t, "exiting TwoTwoNei");
    return any;
}

// Applies the moves, cheap ones first, until none improves the tour; a move runs again only
// after another one has changed the tour. Whether the tour changed.
bool OptimizePermut(Tsp &s, Point *t) {
    enum { R7, C2, TT, C3, G1, G2, C4, NMOVES };
    bool on[NMOVES];
    std::fill(on, on + NMOVES, true);
    bool changed = false;
    TSPit = 0;
    // A success of move m: all other moves of the inner group may improve again.
    auto succeeded = [&](int m, bool counts) {
        for (int k : {R7, C2, TT, C3, G1})
            if (k != m) on[k] = true;
        on[G2] = on[C4] = true;
        changed |= counts;
    };
    for (;;) {
        while (!InterruptNow) {
            if (on[R7]) {
                on[R7] = false;
                if (Reorder7Seq(s, t)) succeeded(R7, true);
            }
            if (on[C2] && !InterruptNow) {
                on[C2] = false;
                if (Cut2Paste(s, t)) succeeded(C2, true);
            }
            if (on[TT] && !InterruptNow) {
                on[TT] = false;
                if (TwoTwoNeighbours(s, t)) succeeded(TT, false);
            }
            if (on[C3] && !InterruptNow) {
                on[C3] = false;
                if (Cut3Paste(s, t)) succeeded(C3, true);
            }
            if (on[G1] && !InterruptNow) {
                on[G1] = false;
                if (Graft1into4(s, t)) succeeded(G1, true);
            }
            if (!(on[R7] || on[C2] || on[TT] || on[C3] || on[G1])) break;
        }
        if (InterruptNow) break;
        if (on[G2]) {
            on[G2] = false;
            if (Graft2into4(s, t)) {
                std::fill(on, on + G2, true);
                on[C4] = true;
                changed = true;
                continue;
            }
        }
        if (TSP4Switch && on[C4]) {
            on[C4] = false;
            if (Cut4Paste(s, t)) {
                std::fill(on, on + G2 + 1, true);
                changed = true;
                continue;
            }
        }
        break;
    }
    Verify(s, t, "after heuristics");
    return changed;
}

// ---------------------------------------------------------------------------
// Quilting: a stretch of one tour whose points are those of a stretch of another, between
// the same two ends, replaces it when it is cheaper.

// A point's signature; sums of them over a stretch do not depend on the order.
inline uint32_t SIG(uint32_t i) { return (1444427783u + (2082638862u + 1142423398u * i) * i) * i; }
inline uint32_t SIG2(uint32_t i) { return (1020922211u + (282392460u + 840190548u / i) / i) / i; }

void SumTour(const Tsp &s, const Point *t, TourSums &S) {
    int n = s.n;
    S.sig[0] = S.sig2[0] = 0;
    S.cost[0] = 0;
    for (int m = 0; m < 2 * n; m++) {
        int p = t[m % n], p1 = t[(m + 1) % n];
        S.sig[m + 1] = S.sig[m] + SIG((uint32_t)p);
        S.sig2[m + 1] = S.sig2[m] + SIG2((uint32_t)p);
        S.cost[m + 1] = S.cost[m] + (long double)dist(s, p, p1);
    }
}

// The cost of the w edges from position from on.
double StretchCost(const Tsp &s, const Point *t, int from, int w) {
    double c = 0;
    for (int m = 0; m < w; m++)
        c += dist(s, t[(from + m) % s.n], t[(from + m + 1) % s.n]);
    return c;
}

// Sorting by diminishing increments h := (5h - 1) / 11, ending with 1.
template <class T, class Less>
void ShellSort(T *a, int n, Less less) {
    for (int h = n; h > 1;) {
        h = std::max(1, (5 * h - 1) / 11);
        for (int i = h; i < n; i++) {
            T v = a[i];
            int j = i;
            for (; j >= h && less(v, a[j - h]); j -= h)
                a[j] = a[j - h];
            a[j] = v;
        }
    }
}

// Exchanges the first stretch, shortest first and then by signature, whose cost differs from
// its match by eps at least: 1 when P1 changed, 2 when P2 changed, 0 when none.
int Quilt(Tsp &s, Point *P1, Point *P2, double cost1, double cost2) {
    Timed timed(TimeQuilt);
    int n = s.n;
    double eps = n * MACHEPS * (cost1 + cost2);
    TourSums &A = s.sums1, &B = s.sums2;
    SumTour(s, P1, A);
    SumTour(s, P2, B);
    // X1: P1 twice round; X2: P2 three times round, so that X2[n + p - w] is the point w
    // places before position p; at[st]: where P1's st-th point stands in X2's middle copy.
    Point *X1 = s.X1, *X2 = s.X2;
    for (int m = 0; m < 3 * n; m++) {
        if (m < 2 * n) X1[m] = P1[m % n];
        X2[m] = P2[m % n];
    }
    for (int k = 0; k < n; k++)
        s.pos2[P2[k]] = k;
    int *at = s.pos;
    for (int st = 0; st < n; st++)
        at[st] = n + s.pos2[P1[st]];
    for (int L = 2; 2 * L < n && !InterruptNow; L++) {
        int w = L + 1, nm = 0;
        for (int st = 0; st < n; st++) {
            int y = X1[st + w], p = at[st];
            for (int rev = 0; rev < 2; rev++) {
                if (X2[rev == 0 ? p + w : p - w] != y) continue;
                int from2 = rev == 0 ? p - n : cyc(p - w - n, n);
                if (A.sig[st + w + 1] - A.sig[st] != B.sig[from2 + w + 1] - B.sig[from2] ||
                    A.sig2[st + w + 1] - A.sig2[st] != B.sig2[from2 + w + 1] - B.sig2[from2])
                    continue;
                long double dc =
                    (A.cost[st + w] - A.cost[st]) - (B.cost[from2 + w] - B.cost[from2]);
                if (std::fabs((double)dc) < eps / 2 || dc == 0) continue;
                s.matches[nm++] = {(INT)(A.sig[st + w + 1] - A.sig[st]), st, from2, rev == 1};
            }
        }
        if (nm == 0) continue;
        ShellSort(s.matches, nm, [](const QuiltMatch &a, const QuiltMatch &b) {
            return a.sig < b.sig || (a.sig == b.sig && a.from1 < b.from1);
        });
        for (int k = 0; k < nm; k++) {
            const QuiltMatch &M = s.matches[k];
            double c1 = StretchCost(s, P1, M.from1, w), c2 = StretchCost(s, P2, M.from2, w);
            if (!(std::fabs(c1 - c2) >= eps) || c1 == c2) continue;
            // Signatures can collide: the points must really be the same.
            s.stampnow++;
            for (int m = 0; m <= w; m++)
                s.stamp[P1[(M.from1 + m) % n]] = s.stampnow;
            bool same = true;
            for (int m = 0; m <= w && same; m++)
                same = s.stamp[P2[(M.from2 + m) % n]] == s.stampnow;
            if (!same) continue;
            // m-th point of P1's stretch and its place in P2's stretch.
            auto at2 = [&](int m) { return (M.from2 + (M.reversed ? w - m : m)) % n; };
            if (c1 < c2) {
                for (int m = 0; m <= w; m++)
                    P2[at2(m)] = P1[(M.from1 + m) % n];
                P2[n] = P2[0];
                Verify(s, P2, "after quilting P2");
                return 2;
            }
            Point *seq = s.scratch;
            for (int m = 0; m <= w; m++)
                seq[m] = P2[at2(m)];
            for (int m = 0; m <= w; m++)
                P1[(M.from1 + m) % n] = seq[m];
            P1[n] = P1[0];
            Verify(s, P1, "after quilting P1");
            return 1;
        }
    }
    return 0;
}

// Whether two tours are the same closed tour, in either direction.
bool IdenticalPermut(const Tsp &s, const Point *P1, const Point *P2) {
    int n = s.n, p = 0;
    while (P2[p] != P1[0])
        p++;
    bool fwd = true, bwd = true;
    for (int m = 1; m < n && (fwd || bwd); m++) {
        fwd = fwd && P1[m] == P2[(p + m) % n];
        bwd = bwd && P1[m] == P2[cyc(p - m, n)];
    }
    return fwd || bwd;
}

// ---------------------------------------------------------------------------
// The pool of good tours.

struct Pool {
    Point *tours; // entry e at tours + e*stride
    int stride, capacity, size;
    double *cost;
    uint16_t *flag; // 1 and 4: to be quilted; 2: to be optimised again
};

inline Point *Entry(Pool &pl, int e) { return pl.tours + (size_t)e * pl.stride; }

void MoveEntry(Tsp &s, Pool &pl, int from, int to) {
    std::copy(Entry(pl, from), Entry(pl, from) + s.n + 1, Entry(pl, to));
    pl.cost[to] = pl.cost[from];
    pl.flag[to] = pl.flag[from];
}

// A full pool gives up its most expensive entry that waits for no work.
void PoolInsert(Tsp &s, Pool &pl, const Point *t, double cost) {
    int e = -1;
    if (pl.size < pl.capacity) {
        e = pl.size++;
    } else {
        for (int f = 0; f < pl.size; f++)
            if (pl.flag[f] == 0 && (e < 0 || pl.cost[f] > pl.cost[e])) e = f;
        if (e < 0) {
            // Every entry still waits for work: only a better tour displaces the worst.
            for (int f = 0; f < pl.size; f++)
                if (e < 0 || pl.cost[f] > pl.cost[e]) e = f;
            if (!(cost < pl.cost[e])) return;
        }
    }
    std::copy(t, t + s.n + 1, Entry(pl, e));
    pl.cost[e] = cost;
    pl.flag[e] = 4;
}

void PoolMaintain(Tsp &s, Pool &pl) {
    for (int e = 0; e < pl.size && !InterruptNow; e++) {
        if (pl.flag[e] & 5) {
            pl.flag[e] &= ~5;
            for (int f = 0; f < pl.size && !InterruptNow; f++) {
                if (f == e) continue;
                int r = Quilt(s, Entry(pl, e), Entry(pl, f), pl.cost[e], pl.cost[f]);
                if (r == 1) pl.flag[e] |= 3, pl.cost[e] = TourCost(s, Entry(pl, e));
                if (r == 2) pl.flag[f] |= 3, pl.cost[f] = TourCost(s, Entry(pl, f));
                if (!IdenticalPermut(s, Entry(pl, e), Entry(pl, f))) continue;
                int last = --pl.size;
                if (f != last) MoveEntry(s, pl, last, f);
                if (e == last) e = f;
                f--;
            }
        } else if (pl.flag[e] & 2) {
            pl.flag[e] &= ~2;
            Timed timed(TimePostOptimization);
            if (OptimizePermut(s, Entry(pl, e))) pl.flag[e] |= 1;
            pl.cost[e] = TourCost(s, Entry(pl, e));
        }
    }
}

// ---------------------------------------------------------------------------
// Starting tours and small instances.

// From point 1, always on to the nearest point not visited yet; the first nearest on ties.
void NearestNeighbourTour(const Tsp &s, Point *t, int *visited) {
    int n = s.n;
    std::fill(visited, visited + n + 1, 0);
    t[0] = 1;
    visited[1] = 1;
    for (int k = 1; k < n; k++) {
        const double *D = s.Dist[t[k - 1]];
        int best = 0;
        for (int b = 1; b <= n; b++)
            if (!visited[b] && (best == 0 || D[b] < D[best])) best = b;
        t[k] = (Point)best;
        visited[best] = 1;
    }
    t[n] = t[0];
}

// Point 1 first, the others shuffled with the system's generator.
void RandomPath(int n, Point *t, Point *scratch) {
    for (int k = 1; k < n; k++)
        scratch[k] = (Point)(k + 1);
    for (int i = n - 1; i >= 1; i--) {
        int k = std::max(1, (int)std::nearbyint(i * mrand() + 0.5));
        t[i] = scratch[k];
        scratch[k] = scratch[i];
    }
    t[0] = 1;
    t[n] = t[0];
}

// Every order of the points after point 1, the last two costed both ways; the first of the
// cheapest wins. A partial tour that already costs as much as the best is not extended.
struct Enumeration {
    const Tsp &s;
    int n;
    Point path[12], best[12];
    bool used[13];
    double bestcost;

    void extend(int depth, double cost) {
        int last = path[depth - 1];
        if (depth == n - 2) {
            int x = 0, y = 0;
            for (int v = 2; v <= n; v++)
                if (!used[v]) (x == 0 ? x : y) = v;
            double c1 = cost + dist(s, last, x) + dist(s, x, y) + dist(s, y, 1);
            double c2 = cost + dist(s, last, y) + dist(s, y, x) + dist(s, x, 1);
            if (c1 < bestcost) record(x, y, c1);
            if (c2 < bestcost) record(y, x, c2);
            return;
        }
        for (int v = 2; v <= n; v++) {
            if (used[v]) continue;
            double c = cost + dist(s, last, v);
            if (!(c < bestcost)) continue;
            used[v] = true;
            path[depth] = (Point)v;
            extend(depth + 1, c);
            used[v] = false;
        }
    }
    void record(int x, int y, double c) {
        std::copy(path, path + n - 2, best);
        best[n - 2] = (Point)x;
        best[n - 1] = (Point)y;
        bestcost = c;
    }
};

void ExactTour(const Tsp &s, Point *t) {
    Enumeration E{s, s.n, {}, {}, {}, HUGE_VAL};
    E.path[0] = 1;
    E.extend(1, 0);
    std::copy(E.best, E.best + s.n, t);
    t[s.n] = t[0];
}

// ---------------------------------------------------------------------------
// Arguments.

// The matrix of t[1], packed, with its checks; n receives its order.
ALGEB DistanceMatrix(ALGEB t, int &n) {
    if (LENGTH(t) < 2) userror("invalid arguments for ComputeTSP");
    ALGEB m = A(t[1]);
    if (IMMINT(m)) userror("dimension too large for ComputeTSP");
    if (ID2(m) != LIST && ID2(m) != LISTNUM)
        userror("incorrect dimensions distance matrix for ComputeTSP");
    WORD rows = ID2(m) == LISTNUM ? LISTNUMLEN(m) : LENGTH2(A(m[1])) - 1;
    if (rows > MAXN) userror("dimension too large for ComputeTSP");
    n = (int)rows;
    if (n == 0) return m;
    m = LISTtoLISTNUM(m);
    if (ID2(m) != LIST) userror("incorrect dimensions distance matrix for ComputeTSP");
    for (int i = 1; i <= n; i++) {
        ALGEB r = A(A(m[1])[i]);
        if (!is(r, LISTNUM) || LISTNUMLEN(r) != n)
            userror("incorrect dimensions distance matrix for ComputeTSP");
    }
    auto row = [&](int i) { return LISTNUMDATA(A(A(m[1])[i + 1])); };
    for (int i = 0; i < n; i++)
        for (int j = i + 1; j < n; j++)
            if (row(i)[j] != row(j)[i]) userror("ComputeTSP: distance matrix is not symmetric");
    for (int i = 0; i < n; i++)
        for (int j = i + 1; j < n; j++)
            if (row(i)[j] < 0) userror("ComputeTSP: negative distances are not allowed");
    return m;
}

long Iterations(ALGEB x) {
    double d = numeric(x) ? DBL(x) : 0;
    long k = d > 1e18 ? LONG_MAX : d < 0 ? 0 : lrint(d);
    if (k < 1) userror("ComputeTSP: the number of iterations must be a positive integer");
    return k;
}

// An initial tour of t[k], checked, into tour (n + 1 points).
void InitialTour(ALGEB x, int n, Point *tour, int *count, int *work) {
    WORD shape[3] = {EXPSEQ | 3, W(ININinteger), W(MKIMM(n))};
    if (!type_array(x, A(shape), 2))
        userror("ComputeCubicTSP, extra arguments must be integer permutations");
    for (int k = 0; k < n; k++) {
        double v = ID2(x) == LISTNUM ? LISTNUMDATA(x)[k] : DBL(A(A(x[1])[k + 1]));
        work[k] = v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : (int)v;
    }
    work[n] = work[0];
    VerifyPermutation(work, n, count, "parameter input permutation");
    for (int k = 0; k <= n; k++)
        tour[k] = (Point)work[k];
}

ALGEB TourList(const Point *t, int n) {
    if (n == 0) return EmptyList;
    ALGEB e = Newl1(n + 1, EXPSEQ);
    for (int k = 0; k < n; k++)
        e[k + 1] = W(MKIMM(t[k]));
    return New2(LIST, e);
}

// The near points of every point, by distance and then by number.
void NearLists(Tsp &s) {
    int n = s.n;
    Point *others = s.scratch;
    for (int a = 1; a <= n; a++) {
        int m = 0;
        for (int b = 1; b <= n; b++)
            if (b != a) others[m++] = (Point)b;
        const double *Da = s.Dist[a];
        std::partial_sort(others, others + s.K, others + m, [&](Point x, Point y) {
            return Da[x] < Da[y] || (Da[x] == Da[y] && x < y);
        });
        std::copy(others, others + s.K, s.nearp + (size_t)a * s.K);
    }
}

// Clears the switch of the four-edge move on every way out of a search.
struct SwitchReset {
    ~SwitchReset() { TSP4Switch = 0; }
};

} // namespace

ALGEB ComputeCubicTSP(ALGEB t) {
    SwitchReset reset;
    for (double *c : {&TimeCut2Paste, &TimeCut3Paste, &TimeCut4Paste, &TimeTwoTwoNeighbours,
                      &TimeReorder7Seq, &TimeGraft1into4, &TimeGraft2into4, &TimeQuilt,
                      &TimeVerifyPermutation, &TimePostOptimization})
        *c = 0;
    int n;
    ALGEB m = DistanceMatrix(t, n);
    int nargs = (int)LENGTH(t) - 1;
    long iterations = nargs >= 2 ? Iterations(A(t[2])) : 1;
    bool nearest = nargs < 2;
    if (n == 0) return EmptyList;

    WorkingScope scope;
    Tsp s{};
    s.n = n;
    const double **rows;
    WorkingStorage(n + 1, const double *, rows);
    for (int i = 1; i <= n; i++)
        rows[i] = LISTNUMDATA(A(A(m[1])[i])) - 1;
    s.Dist = rows;
    WorkingStorage(n + 1, int, s.count);
    WorkingStorage(2 * n + 2, Point, s.scratch);
    Point *tour;
    WorkingStorage(n + 1, Point, tour);
    int ntours = std::max(0, nargs - 2);
    Point *initial;
    WorkingStorage((size_t)ntours * (n + 1) + 1, Point, initial);
    int *work;
    WorkingStorage(n + 1, int, work);
    for (int k = 0; k < ntours; k++)
        InitialTour(A(t[k + 3]), n, initial + (size_t)k * (n + 1), s.count, work);

    if (nearest)
        NearestNeighbourTour(s, tour, work);
    else
        RandomPath(n, tour, s.scratch);
    if (n < 4) {
        for (int k = 0; k < n; k++)
            tour[k] = (Point)(k + 1);
        return TourList(tour, n);
    }
    if (n < 12) {
        ExactTour(s, tour);
        return TourList(tour, n);
    }

    s.K = std::min(NEAR, n - 1);
    WorkingStorage((size_t)(n + 1) * s.K, Point, s.nearp);
    WorkingStorage(n + 1, int, s.pos);
    WorkingStorage(n + 1, double, s.ec);
    WorkingStorage(2 * n, double, s.dp);
    WorkingStorage(n + 1, int, s.pos2);
    WorkingStorage(n + 1, int, s.stamp);
    std::fill(s.stamp, s.stamp + n + 1, 0);
    for (TourSums *S : {&s.sums1, &s.sums2}) {
        WorkingStorage(2 * n + 1, uint32_t, S->sig);
        WorkingStorage(2 * n + 1, uint32_t, S->sig2);
        // Working storage comes 8-byte aligned; long double wants 16.
        char *raw;
        WorkingStorage((2 * n + 2) * sizeof(long double), char, raw);
        S->cost = (long double *)(((uintptr_t)raw + alignof(long double) - 1) &
                                  ~(uintptr_t)(alignof(long double) - 1));
    }
    WorkingStorage(2 * n, QuiltMatch, s.matches);
    WorkingStorage(2 * n, Point, s.X1);
    WorkingStorage(3 * n, Point, s.X2);
    NearLists(s);

    Pool pl;
    pl.stride = std::max(n + 1, 100);
    pl.capacity = TOTBEST / pl.stride;
    pl.size = 0;
    WorkingStorage(TOTBEST, Point, pl.tours);
    WorkingStorage(pl.capacity, double, pl.cost);
    WorkingStorage(pl.capacity, uint16_t, pl.flag);

    for (int k = 0; k < ntours && !InterruptNow; k++) {
        Point *p = initial + (size_t)k * (n + 1);
        OptimizePermut(s, p);
        PoolInsert(s, pl, p, TourCost(s, p));
    }
    for (bool first = true;; first = false) {
        if (!first) RandomPath(n, tour, s.scratch);
        OptimizePermut(s, tour);
        PoolInsert(s, pl, tour, TourCost(s, tour));
        PoolMaintain(s, pl);
        if (--iterations == 0 || InterruptNow) break;
    }
    // A tour that quilting changed is optimised again only in the next iteration; the answer
    // does not wait for that.
    int best;
    for (;;) {
        best = 0;
        for (int e = 1; e < pl.size; e++)
            if (pl.cost[e] < pl.cost[best]) best = e;
        if (!(pl.flag[best] & 2) || InterruptNow) break;
        pl.flag[best] &= ~2;
        OptimizePermut(s, Entry(pl, best));
        pl.cost[best] = TourCost(s, Entry(pl, best));
    }
    return TourList(Entry(pl, best), n);
}

ALGEB ComputeQuarticTSP(ALGEB t) {
    TSP4Switch = 1;
    return ComputeCubicTSP(t);
}
