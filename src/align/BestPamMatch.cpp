// PAM distance estimation: the distance at which an alignment scores best under a list of
// Dayhoff matrices, its maximum-likelihood refinement and the variance of the estimate.
//
// The aligned pairs and gaps are counted once; the score under any matrix is then a sum over
// the counts, so the search over matrices never aligns again. A score is 10 log10 of a
// likelihood ratio, so the matrix of best score is near the maximum-likelihood distance; the
// refinement works on the likelihood itself, over a continuous distance.
#include "BestPamMatch.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "Dayhoff.h"
#include "Lumbra.h"
#include "builtins.h"
#include "evalstat.h"
#include "matrix.h"

namespace {

constexpr WORD MAXCOLUMNS = 120009;
constexpr int MAXGAPS = 10000;

struct Counters {
    int *inds; // Simi indices of the counted pairs
    int ninds;
    int delF, delI;
    int *delL; // gap lengths in order, then 0
};

DayMatrix *matrixof(ALGEB dms, WORD k) { return (DayMatrix *)A(dms[k]); }

// One pass over the columns.
Counters Count(const char *a, const char *b, WORD n, DayMatrix *dm) {
    Counters c{};
    WorkingStorage(n + 1, int, c.inds);
    WorkingStorage(std::min<WORD>(n, MAXGAPS) + 1, int, c.delL);
    enum class Gap { None, In1, In2 } open = Gap::None;
    int len = 0, ngaps = 0;
    auto close = [&] {
        if (open == Gap::None) return;
        if (ngaps == MAXGAPS) userror("too many deletions for EstimatePam");
        c.delL[ngaps++] = len;
        open = Gap::None;
    };
    const bool skipX = dm->Mapping == 0;
    for (WORD i = 0; i < n; i++) {
        const bool ga = a[i] == '_', gb = b[i] == '_';
        if (ga && gb) continue;
        if (!ga && !gb) {
            if (!(skipX && (a[i] == 'X' || b[i] == 'X'))) {
                const int x = MapSymbol((unsigned char)a[i], dm);
                c.inds[c.ninds++] = x * dm->dim + MapSymbol((unsigned char)b[i], dm);
            }
            close();
            continue;
        }
        const Gap here = ga ? Gap::In1 : Gap::In2;
        if (open == here) {
            c.delI++;
            len++;
        } else {
            close();
            open = here;
            len = 1;
            c.delF++;
        }
    }
    close();
    c.delL[ngaps] = 0;
    return c;
}

double ComputeScore(WORD k, const Counters &c, ALGEB dms) {
    DayMatrix *m = matrixof(dms, k);
    double s = 0;
    if (!HasDelCost(m)) {
        s = c.delF * m->FixedDel + c.delI * m->IncDel;
    } else {
        for (int i = 0; c.delL[i] != 0; i++)
            s += DeletionCost(c.delL[i], m);
    }
    for (int i = 0; i < c.ninds; i++)
        s += m->Simi[c.inds[i]];
    return s;
}

// The index of the matrix of highest score, from sample points x (ascending matrix indices,
// repeats allowed) with their scores f: intervals are halved near the best point until
// neighbouring points are adjacent matrices; a dip between two rises splits the search.
WORD FindMaxPamR(std::vector<WORD> x, std::vector<double> f, double *best, const Counters &c,
                 ALGEB dms) {
    constexpr size_t MAXPOINTS = 7;
    for (;;) {
        const size_t n = x.size();
        if (n <= 1) break;
        bool adjacent = true;
        for (size_t k = 1; k < n && adjacent; k++)
            adjacent = x[k] - x[k - 1] < 2;
        if (adjacent) break;
        if (n >= MAXPOINTS) {
            size_t k = 1;
            while (k + 1 < n && !(f[k - 1] > f[k] && f[k + 1] > f[k]))
                k++;
            if (k + 1 < n) {
                double right, left;
                const WORD r = FindMaxPamR({x.begin() + (long)k, x.end()},
                                           {f.begin() + (long)k, f.end()}, &right, c, dms);
                const WORD l = FindMaxPamR({x.begin(), x.begin() + (long)k + 1},
                                           {f.begin(), f.begin() + (long)k + 1}, &left, c, dms);
                *best = left > right ? left : right;
                return left > right ? l : r;
            }
            size_t j = 0;
            for (size_t i = 1; i < n; i++)
                if (f[i] > f[j]) j = i;
            if (x[j] - x[0] <= x[n - 1] - x[j]) {
                x.pop_back();
                f.pop_back();
            } else {
                x.erase(x.begin());
                f.erase(f.begin());
            }
            continue;
        }
        size_t m = 1;
        for (size_t k = 2; k < n; k++)
            if (x[k] - x[k - 1] > x[m] - x[m - 1]) m = k;
        const WORD mid = (x[m - 1] + x[m]) / 2;
        x.insert(x.begin() + (long)m, mid);
        f.insert(f.begin() + (long)m, ComputeScore(mid, c, dms));
    }
    size_t j = 0;
    for (size_t i = 1; i < x.size(); i++)
        if (f[i] > f[j]) j = i;
    *best = f[j];
    return x[j];
}

// The log-PAM1 matrix of the first matrix, n x n: n is the matrices' dimension, or 20 beside
// 21-dimensional matrices, whose last symbol (X) has no rates.
double *RateMatrix(DayMatrix *dm, WORD *n) {
    ALGEB L = dm->logPAM1;
    const WORD rows = !IMMINT(L) && L != 0 && ID2(L) == LIST ? LENGTH2(A(L[1])) - 1 : 0;
    if (rows < 1 || (rows != dm->dim && !(rows == 20 && dm->dim == 21)))
        userror("logPAM1 and DMS dimensions do not agree");
    double *r;
    WorkingStorage(rows * rows, double, r);
    ListToArray(L, r, rows, rows);
    *n = rows;
    return r;
}

// The index of a Simi pair in the rate matrix, -1 for a pair with a symbol it does not have.
int RateIndex(int p, int dim, WORD n) {
    if (n == (WORD)dim) return p;
    const int i = p / dim, j = p % dim;
    return i < (int)n && j < (int)n ? p - i : -1;
}

void SetName(const char *name, double v) { assign(naminstall(name), NewNumber(v), 0); }

ALGEB Result(double sim, double pam, double var) {
    return New2(LIST, New4(EXPSEQ, NewNumber(sim), NewNumber(pam), NewNumber(var)));
}

// The best matrix is the first: a closed form for small distances, from the rates and their
// powers (an expansion of the likelihood in the distance).
ALGEB SmallDistance(const Counters &c, ALGEB dms, double sim) {
    DayMatrix *first = matrixof(dms, 1);
    WORD n;
    const double *L = RateMatrix(first, &n);
    double *L2, *L3;
    WorkingStorage(n * n, double, L2);
    WorkingStorage(n * n, double, L3);
    mmul(L, L, L2, n);
    mmul(L, L2, L3, n);
    double g = 0.7434 * c.delF, a = 0, b = 0;
    for (int k = 0; k < c.ninds; k++) {
        const int p = RateIndex(c.inds[k], first->dim, n);
        if (p < 0 || L[p] == 0) continue;
        const double l = L[p];
        if (p % (n + 1) != 0) {
            g += 1;
            a += L2[p] / (2 * l);
            b += (L3[p] / 6 - L2[p] * L2[p] / (8 * l)) / l;
        } else {
            a += l;
            b += (L2[p] - l * l) / 2;
        }
    }
    const double D = (3 * g + 2) * b + 2 * a * a + g * g * b;
    double E = first->PamNumber, V = E * E;
    if (a != 0 && D != 0) {
        E = -(1 + g) * ((5 * g + 6) * b + 2 * a * a + g * g * b) / a / D;
        V = (4 * a * a * a * a + ((4 * g * g + 24 * g + 32) * a * a +
                                  (28 * g + 12 + (g * g + 8 * g + 23) * g * g) * b) *
                                     b) /
            (a * a) * (1 + g) / (D * D);
    }
    SetName("ExpectedPamDistance", E);
    SetName("MLPamDistance", 0);
    return Result(sim, first->PamNumber, V);
}

// The variance at the largest distance of the list, where the likelihood need not have a
// maximum: that of a distance read from the fraction of differing pairs, 19/20 (1 - (94/95)^d)
// for twenty equally likely symbols each changing 1% of the time per PAM.
double BoundaryVariance(double d, int pairs) {
    constexpr double keep = 0.9894736842105263, lnkeep = -0.010582109330536972;
    if (pairs <= 0) return d * d;
    const double r = std::pow(keep, d);
    const double q = 19.0 / 20 * (1 - r);
    const double slope = -19.0 / 20 * r * lnkeep;
    return q * (1 - q) / (pairs * slope * slope);
}

// Gaps that cost linearly in log PAM: Newton's method on the likelihood over the distance.
ALGEB MaximumLikelihood(const Counters &c, ALGEB dms, WORD b, double sim) {
    const WORD nm = LENGTH(dms) - 1;
    if (nm < 5) userror("not enough Dayhoff matrices to compute PAM-variance");
    auto pam = [&](WORD k) { return matrixof(dms, k)->PamNumber; };
    auto fixed = [&](WORD k) { return matrixof(dms, k)->FixedDel; };
    // FixedDel = slope log10(PAM) + constant: the slope from the first matrix and the last
    // whose FixedDel is below -1, checked on the middle one.
    WORD last = 0;
    for (WORD k = nm; k >= 2 && last == 0; k--)
        if (fixed(k) < -1) last = k;
    if (last == 0) last = 2;
    const double slope = (fixed(last) - fixed(1)) / (std::log10(pam(last)) - std::log10(pam(1)));
    const WORD mid = (nm + 1) / 2;
    const double off =
        fixed(mid) - (fixed(1) + slope * (std::log10(pam(mid)) - std::log10(pam(1))));
    if (!std::isfinite(slope) || !(std::fabs(off) <= 1e-8 * std::fabs(fixed(mid) - fixed(1))))
        userror("deletion cost is not logarithmic on pam distance");

    WORD n;
    DayMatrix *first = matrixof(dms, 1);
    const double *L = RateMatrix(first, &n);
    double *dL, *M, *M1, *M2, *w1, *w2;
    for (double **p : {&dL, &M, &M1, &M2, &w1, &w2})
        WorkingStorage(n * n, double, *p);
    // In natural logarithms a score is a tenth of it times ln 10, so the gap openings add
    // delF slope / 10 ln d to the log-likelihood.
    const double gaps = c.delF * slope / 10;
    const double top = pam(nm);
    double d = pam(b), var = 0;
    for (int iter = 1;; iter++) {
        if (iter > 10) userror("failure to compute PAM by ML (likely to be a problem with DMS)");
        for (WORD k = 0; k < n * n; k++)
            dL[k] = d * L[k];
        mexp(dL, w1, w2, M, n);
        mmul(L, M, M1, n);
        mmul(L, M1, M2, n);
        double f1 = gaps / d, f2 = -gaps / (d * d);
        int pairs = 0;
        for (int k = 0; k < c.ninds; k++) {
            const int p = RateIndex(c.inds[k], first->dim, n);
            if (p < 0 || !(M[p] > 0)) continue;
            const double r1 = M1[p] / M[p];
            f1 += r1;
            f2 += M2[p] / M[p] - r1 * r1;
            pairs++;
        }
        if (!(f2 < 0)) {
            if (d < top) userror("ComputeVariance by ML found a minimum not a maximum");
            var = BoundaryVariance(d, pairs);
            break;
        }
        const double cap = (25 + d) * 0.04;
        double step = std::fmax(-cap, std::fmin(cap, -f1 / f2));
        if (d + step > top) step = top - d;
        if (d + step <= 0) step = -d / 2;
        d += step;
        if (std::fabs(step) < 1e-8 * d) {
            var = -1 / f2;
            break;
        }
    }
    if (d < pam(b - 1) || d > pam(std::min<WORD>(b + 1, nm)))
        userror("ComputeVariance by ML, internal conflict, probably bad DMS, or DayMatrix cannot "
                "be derived from rate matrix (logPAM1), or stop codons may be present in the "
                "sequences");
    SetName("MLPamDistance", d);
    for (WORD k = b > 2 ? b - 2 : 1; k <= std::min<WORD>(b + 2, nm); k++)
        if (ComputeScore(k, c, dms) > sim) userror("maximum likelihood Distance not correct");
    return Result(sim, pam(b), var);
}

// x solving the 4 x 4 system a x = y, by elimination with partial pivoting.
void Solve4(double a[4][4], double y[4], double x[4]) {
    for (int k = 0; k < 4; k++) {
        int p = k;
        for (int i = k + 1; i < 4; i++)
            if (std::fabs(a[i][k]) > std::fabs(a[p][k])) p = i;
        std::swap(a[k], a[p]);
        std::swap(y[k], y[p]);
        for (int i = k + 1; i < 4; i++) {
            const double m = a[i][k] / a[k][k];
            for (int j = k; j < 4; j++)
                a[i][j] -= m * a[k][j];
            y[i] -= m * y[k];
        }
    }
    for (int k = 3; k >= 0; k--) {
        double s = y[k];
        for (int j = k + 1; j < 4; j++)
            s -= a[k][j] * x[j];
        x[k] = s / a[k][k];
    }
}

// Gap costs from a procedure: the score as a polynomial of degree 4 in the distance through
// five matrices around the best, and the maximum of that polynomial.
ALGEB ConvexFit(const Counters &c, ALGEB dms, WORD b, double sim) {
    const WORD nm = LENGTH(dms) - 1;
    if (nm < 5) userror("not enough Dayhoff matrices to compute PAM-variance");
    auto pam = [&](WORD k) { return matrixof(dms, k)->PamNumber; };
    const WORD mid = b == 2 ? 3 : b >= nm - 1 ? nm - 2 : b;
    const double y0 = ComputeScore(mid, c, dms);
    double a[4][4], y[4], co[4];
    for (int r = 0, k = -2; k <= 2; k++) {
        if (k == 0) continue;
        const double x = pam(mid + k) - pam(mid);
        for (int j = 0; j < 4; j++)
            a[r][j] = std::pow(x, j + 1);
        y[r++] = ComputeScore(mid + k, c, dms) - y0;
    }
    Solve4(a, y, co);
    auto d1 = [&](double x) {
        return co[0] + 2 * co[1] * x + 3 * co[2] * x * x + 4 * co[3] * x * x * x;
    };
    auto d2 = [&](double x) { return 2 * co[1] + 6 * co[2] * x + 12 * co[3] * x * x; };
    const double xl = pam(mid - 2) - pam(mid), xr = pam(mid + 2) - pam(mid);
    if (!(d1(xl) > 0)) userror("ComputeVarianceML1: left derivative not positive");
    if (!(d1(xr) < 0)) {
        if (b != nm) userror("ComputeVarianceML1: right derivative not negative");
        SetName("MLPamDistance", pam(b));
        return Result(sim, pam(b), pam(b) * pam(b));
    }
    double x = 0;
    bool converged = false;
    for (int iter = 0; iter < 10 && !converged; iter++) {
        const double step = -d1(x) / d2(x);
        x += step;
        converged = step * step <= std::fabs(x) * 2.220446049250313e-16;
    }
    if (!converged) userror("ComputeVarianceML1: newton did not converge");
    if ((x > xr && b != nm - 1) || (x < xl && b != 2))
        userror("ComputeVarianceML1: incorrect initial approximation");
    SetName("MLPamDistance", pam(mid) + x);
    return Result(sim, pam(b), -1 / d2(x));
}

} // namespace

ALGEB EstimatePam(ALGEB s1, ALGEB s2, ALGEB DMS) {
    const Chars a = textof(s1), b = textof(s2);
    if (a.n != b.n) userror("s1 and s2 must have the same length");
    if (a.n == 0) return Result(0, 250, 62500);
    if (a.n > MAXCOLUMNS) userror("molecular sequence too long");
    ALGEB dms = !is(DMS, LIST) ? 0 : A(DMS[1]);
    bool ok = dms != 0 && LENGTH(dms) > 1;
    for (WORD k = 1; ok && k < LENGTH(dms); k++)
        ok = daymatrix(A(dms[k])) != nullptr && matrixof(dms, k)->dim == matrixof(dms, 1)->dim;
    if (!ok) userror2(DMS, "is not a list of Dayhoff matrices");
    const WORD nm = LENGTH(dms) - 1;

    WorkingScope scope;
    const Counters c = Count(a.s, b.s, (WORD)a.n, matrixof(dms, 1));
    std::vector<WORD> x(22);
    std::vector<double> f(22);
    for (WORD k = 0; k < 22; k++) {
        x[k] = (nm - 1) * k / 21 + 1;
        f[k] = ComputeScore(x[k], c, dms);
    }
    double sim;
    const WORD best = FindMaxPamR(x, f, &sim, c, dms);
    if (best == 1) return SmallDistance(c, dms, sim);
    if (!HasDelCost(matrixof(dms, 1))) return MaximumLikelihood(c, dms, best, sim);
    return ConvexFit(c, dms, best, sim);
}
