// Linear systems, inverses and Cholesky factors of matrices of numbers.
#include <cfloat>
#include <cmath>

#include "Lumbra.h"
#include "matrix.h"

// Systems up to this order keep their work arrays on the stack.
constexpr WORD STACKORDER = 70;
constexpr WORD MAXORDER = 2000;

// Room for k doubles: the stack buffer when the order is small, else working storage
// (returned by the caller's WorkingScope).
static double *workarray(double *onstack, WORD n, WORD k) {
    if (n <= STACKORDER) return onstack;
    double *p;
    WorkingStorage(k, double, p);
    return p;
}

static void swaprows(double *a, WORD n, WORD r1, WORD r2) {
    for (WORD j = 0; j < n; j++) {
        double t = a[r1 * n + j];
        a[r1 * n + j] = a[r2 * n + j];
        a[r2 * n + j] = t;
    }
}

// The row from k down whose entry in column k is largest in magnitude.
static WORD pivotrow(const double *a, WORD n, WORD k) {
    WORD p = k;
    for (WORD i = k + 1; i < n; i++)
        if (std::fabs(a[i * n + k]) > std::fabs(a[p * n + k])) p = i;
    return p;
}

static ALGEB solve(ALGEB mat, ALGEB b) {
    WORD n = arraylen(mat);
    if (n > MAXORDER) userror("dimension too large for GaussElim");
    if (!isarray(b)) userror("GaussElim: invalid rhs");
    if (n == 0 && arraylen(b) == 0) return EmptyList;
    b = LISTtoLISTNUM(b);
    if (ID2(b) != LISTNUM) userror("GaussElim: invalid rhs");
    if (LISTNUMLEN(b) != n) userror("GaussElim: incorrect dimensions");

    WorkingScope scope;
    double small[2 * STACKORDER * STACKORDER + 2 * STACKORDER];
    double *work = workarray(small, n, 2 * n * n + 2 * n);
    double *a = work, *a0 = work + n * n, *rhs = work + 2 * n * n, *x = rhs + n;
    ListToArray(mat, a, n, n);
    for (WORD k = 0; k < n * n; k++)
        a0[k] = a[k];
    const double *b0 = LISTNUMDATA(b);
    for (WORD i = 0; i < n; i++)
        rhs[i] = b0[i];

    for (WORD k = 0; k < n; k++) {
        if (InterruptNow) lumbra_jump(Main);
        WORD p = pivotrow(a, n, k);
        if (a[p * n + k] == 0) userror("GaussElim: matrix is singular");
        if (p != k) {
            swaprows(a, n, p, k);
            double t = rhs[p];
            rhs[p] = rhs[k];
            rhs[k] = t;
        }
        double piv = a[k * n + k];
        for (WORD i = k + 1; i < n; i++) {
            double f = a[i * n + k] / piv;
            if (f == 0) continue;
            for (WORD j = k + 1; j < n; j++)
                a[i * n + j] -= f * a[k * n + j];
            a[i * n + k] = 0;
            rhs[i] -= f * rhs[k];
        }
    }
    for (WORD i = n - 1; i >= 0; i--) {
        double s = rhs[i];
        for (WORD j = i + 1; j < n; j++)
            s -= a[i * n + j] * x[j];
        x[i] = s / a[i * n + i];
    }

    // The solution must reproduce b to within what the rounding of each row's sum allows.
    double tol = 2.220446049250313e-14 * (double)n * (double)n * (double)n;
    for (WORD i = 0; i < n; i++) {
        if (!std::isfinite(x[i])) userror("GaussElim: matrix too ill-conditioned");
        double s = 0, peak = 0;
        for (WORD j = 0; j < n; j++) {
            s += a0[i * n + j] * x[j];
            if (std::fabs(s) > peak) peak = std::fabs(s);
        }
        double d = std::fabs(b0[i] - s);
        if (peak != 0 && b0[i] != 0 && d / peak > tol)
            userror("GaussElim: matrix too ill-conditioned");
    }
    ALGEB r = Newl1(n + 1, LISTNUM);
    for (WORD i = 0; i < n; i++)
        LISTNUMDATA(r)[i] = x[i];
    return r;
}

ALGEB GaussElim(ALGEB mat, ALGEB b) {
    prtprof(1, "GaussElim", (int)ENVevlstlev);
    ALGEB r = solve(mat, b);
    prtprof(0, "GaussElim", (int)ENVevlstlev);
    return r;
}

ALGEB matrix_inverse(ALGEB mat) {
    WORD n = arraylen(mat);
    if (n > MAXORDER) userror("dimension too large for matrix inverse");
    if (n == 0) return EmptyList;
    WorkingScope scope;
    double small[2 * STACKORDER * STACKORDER];
    double *work = workarray(small, n, 2 * n * n);
    double *a = work, *inv = work + n * n;
    ListToArray(mat, a, n, n);
    for (WORD i = 0; i < n; i++)
        for (WORD j = 0; j < n; j++)
            inv[i * n + j] = i == j ? 1 : 0;
    // Gauss-Jordan: the operations that turn A into I turn I into the inverse.
    for (WORD k = 0; k < n; k++) {
        if (InterruptNow) lumbra_jump(Main);
        WORD p = pivotrow(a, n, k);
        if (a[p * n + k] == 0) userror("matrix_inverse: matrix is singular");
        if (p != k) {
            swaprows(a, n, p, k);
            swaprows(inv, n, p, k);
        }
        double piv = a[k * n + k];
        for (WORD j = 0; j < n; j++) {
            a[k * n + j] /= piv;
            inv[k * n + j] /= piv;
        }
        for (WORD i = 0; i < n; i++) {
            double f = a[i * n + k];
            if (i == k || f == 0) continue;
            for (WORD j = 0; j < n; j++) {
                a[i * n + j] -= f * a[k * n + j];
                inv[i * n + j] -= f * inv[k * n + j];
            }
        }
    }
    return NewMatrix(inv, n, n);
}

ALGEB Cholesky(ALGEB mat) {
    WORD n = arraylen(mat);
    if (n == 0) return EmptyList;
    if (ID2(mat) == LIST) {
        ALGEB first = A(A(mat[1])[1]);
        if (isarray(first) && arraylen(first) != n) userror("matrix must be square");
    }
    WorkingScope scope;
    double *a, *R;
    WorkingStorage(n * n, double, a);
    WorkingStorage(n * n, double, R);
    ListToArray(mat, a, n, n);
    for (WORD i = 0; i < n; i++)
        for (WORD j = i + 1; j < n; j++)
            if (a[i * n + j] != a[j * n + i]) userror("matrix is not symmetric");
    for (WORD k = 0; k < n * n; k++)
        R[k] = 0;
    if (n <= 2) {
        if (!(a[0] > 0)) userror("matrix is not positive definite");
        R[0] = std::sqrt(a[0]);
        if (n == 2) {
            R[2] = a[2] / R[0];
            double d = a[3] - R[2] * R[2];
            if (!(d > 0)) userror("matrix is not positive definite");
            R[3] = std::sqrt(d);
        }
        return NewMatrix(R, n, n);
    }
    for (WORD j = 0; j < n; j++) {
        double d = a[j * n + j];
        for (WORD k = 0; k < j; k++)
            d -= R[j * n + k] * R[j * n + k];
        if (!(d > 0)) userror("matrix is not positive definite");
        double r = std::sqrt(d);
        R[j * n + j] = r;
        for (WORD i = j + 1; i < n; i++) {
            double s = a[i * n + j];
            for (WORD k = 0; k < j; k++)
                s -= R[i * n + k] * R[j * n + k];
            R[i * n + j] = s / r;
        }
    }
    return NewMatrix(R, n, n);
}
