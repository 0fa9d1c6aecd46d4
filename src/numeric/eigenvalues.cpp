// Eigenvalues and eigenvectors of symmetric matrices: balancing, Householder reduction to
// tridiagonal form and the implicit QL method.
#include <cfloat>
#include <cmath>
#include <cstdio>

#include "Lumbra.h"
#include "matrix.h"
#include "type.h"

constexpr WORD STACKORDER = 70;
constexpr WORD MAXORDER = 2000;
constexpr int MAXQLITER = 30; // QL iterations allowed for one eigenvalue

// Scales rows and columns by powers of 2 (exact) until each row and its column have
// comparable norms: D^-1 a D, the factors of D in scale.
static void evalf_EigensR_balance(double *a, WORD n, double *scale) {
    const double radix = 2, sqrdx = radix * radix;
    for (WORD i = 0; i < n; i++)
        scale[i] = 1;
    for (bool done = false; !done;) {
        done = true;
        for (WORD i = 0; i < n; i++) {
            double c = 0, r = 0;
            for (WORD j = 0; j < n; j++)
                if (j != i) {
                    c += std::fabs(a[j * n + i]);
                    r += std::fabs(a[i * n + j]);
                }
            if (c == 0 || r == 0) continue;
            double g = r / radix, f = 1, s = c + r;
            while (c < g) {
                f *= radix;
                c *= sqrdx;
            }
            g = r * radix;
            while (c > g) {
                f /= radix;
                c /= sqrdx;
            }
            if ((c + r) / f < 0.95 * s) {
                done = false;
                scale[i] *= f;
                for (WORD j = 0; j < n; j++) {
                    a[i * n + j] /= f;
                    a[j * n + i] *= f;
                }
            }
        }
    }
}

// Householder reduction of the symmetric V to tridiagonal form: diagonal d, subdiagonal
// e[1..n-1]; V is left holding the orthogonal transformation.
static void evalf_EigensR_tred2(double *V, WORD n, double *d, double *e) {
    for (WORD j = 0; j < n; j++)
        d[j] = V[(n - 1) * n + j];
    for (WORD i = n - 1; i > 0; i--) {
        double scale = 0, h = 0;
        for (WORD k = 0; k < i; k++)
            scale += std::fabs(d[k]);
        if (scale == 0) {
            e[i] = d[i - 1];
            for (WORD j = 0; j < i; j++) {
                d[j] = V[(i - 1) * n + j];
                V[i * n + j] = 0;
                V[j * n + i] = 0;
            }
        } else {
            for (WORD k = 0; k < i; k++) {
                d[k] /= scale;
                h += d[k] * d[k];
            }
            double f = d[i - 1], g = std::sqrt(h);
            if (f > 0) g = -g;
            e[i] = scale * g;
            h -= f * g;
            d[i - 1] = f - g;
            for (WORD j = 0; j < i; j++)
                e[j] = 0;
            for (WORD j = 0; j < i; j++) {
                f = d[j];
                V[j * n + i] = f;
                g = e[j] + V[j * n + j] * f;
                for (WORD k = j + 1; k <= i - 1; k++) {
                    g += V[k * n + j] * d[k];
                    e[k] += V[k * n + j] * f;
                }
                e[j] = g;
            }
            f = 0;
            for (WORD j = 0; j < i; j++) {
                e[j] /= h;
                f += e[j] * d[j];
            }
            double hh = f / (h + h);
            for (WORD j = 0; j < i; j++)
                e[j] -= hh * d[j];
            for (WORD j = 0; j < i; j++) {
                f = d[j];
                g = e[j];
                for (WORD k = j; k <= i - 1; k++)
                    V[k * n + j] -= f * e[k] + g * d[k];
                d[j] = V[(i - 1) * n + j];
                V[i * n + j] = 0;
            }
        }
        d[i] = h;
    }
    // Accumulate the transformations.
    for (WORD i = 0; i < n - 1; i++) {
        V[(n - 1) * n + i] = V[i * n + i];
        V[i * n + i] = 1;
        double h = d[i + 1];
        if (h != 0) {
            for (WORD k = 0; k <= i; k++)
                d[k] = V[k * n + i + 1] / h;
            for (WORD j = 0; j <= i; j++) {
                double g = 0;
                for (WORD k = 0; k <= i; k++)
                    g += V[k * n + i + 1] * V[k * n + j];
                for (WORD k = 0; k <= i; k++)
                    V[k * n + j] -= g * d[k];
            }
        }
        for (WORD k = 0; k <= i; k++)
            V[k * n + i + 1] = 0;
    }
    for (WORD j = 0; j < n; j++) {
        d[j] = V[(n - 1) * n + j];
        V[(n - 1) * n + j] = 0;
    }
    V[(n - 1) * n + n - 1] = 1;
    e[0] = 0;
}

// Implicit QL on the tridiagonal (d, e), rotating the columns of V along: d becomes the
// eigenvalues in ascending order, column k of V the eigenvector of d[k].
static void evalf_EigensR_tql2(double *V, WORD n, double *d, double *e) {
    for (WORD i = 1; i < n; i++)
        e[i - 1] = e[i];
    e[n - 1] = 0;
    double f = 0, tst1 = 0;
    const double eps = DBL_EPSILON;
    for (WORD l = 0; l < n; l++) {
        tst1 = std::fmax(tst1, std::fabs(d[l]) + std::fabs(e[l]));
        WORD m = l;
        while (m < n - 1 && std::fabs(e[m]) > eps * tst1)
            m++;
        if (m > l) {
            int iter = 0;
            do {
                if (++iter > MAXQLITER) userror("bad matrix condition: does not converge");
                if (InterruptNow) lumbra_jump(Main);
                double g = d[l];
                double p = (d[l + 1] - g) / (2 * e[l]);
                double r = std::hypot(p, 1.0);
                if (p < 0) r = -r;
                d[l] = e[l] / (p + r);
                d[l + 1] = e[l] * (p + r);
                double dl1 = d[l + 1];
                double h = g - d[l];
                for (WORD i = l + 2; i < n; i++)
                    d[i] -= h;
                f += h;
                p = d[m];
                double c = 1, c2 = 1, c3 = 1, el1 = e[l + 1], s = 0, s2 = 0;
                for (WORD i = m - 1; i >= l; i--) {
                    c3 = c2;
                    c2 = c;
                    s2 = s;
                    g = c * e[i];
                    h = c * p;
                    r = std::hypot(p, e[i]);
                    e[i + 1] = s * r;
                    s = e[i] / r;
                    c = p / r;
                    p = c * d[i] - s * g;
                    d[i + 1] = h + s * (c * g + s * d[i]);
                    for (WORD k = 0; k < n; k++) {
                        h = V[k * n + i + 1];
                        V[k * n + i + 1] = s * V[k * n + i] + c * h;
                        V[k * n + i] = c * V[k * n + i] - s * h;
                    }
                }
                p = -s * s2 * c3 * el1 * e[l] / dl1;
                e[l] = s * p;
                d[l] = c * p;
            } while (std::fabs(e[l]) > eps * tst1);
        }
        d[l] += f;
        e[l] = 0;
    }
    for (WORD i = 0; i < n - 1; i++) {
        WORD k = i;
        double p = d[i];
        for (WORD j = i + 1; j < n; j++)
            if (d[j] < p) k = j, p = d[j];
        if (k == i) continue;
        d[k] = d[i];
        d[i] = p;
        for (WORD j = 0; j < n; j++) {
            double t = V[j * n + i];
            V[j * n + i] = V[j * n + k];
            V[j * n + k] = t;
        }
    }
}

// Eigenvectors of the balanced matrix back to those of the original.
static void evalf_EigensR_balback(double *V, WORD n, const double *scale) {
    for (WORD i = 0; i < n; i++)
        for (WORD j = 0; j < n; j++)
            V[i * n + j] *= scale[i];
}

static ALGEB eigen(ALGEB t) {
    WORD nargs = LENGTH(t) - 1;
    if (nargs < 1 || nargs > 2 || !type_matrix(A(t[1]), ININnumeric) ||
        (nargs == 2 && !is(A(t[2]), NAME)))
        userror("invalid arguments");
    ALGEB mat = A(t[1]), name = nargs == 2 ? A(t[2]) : 0;
    WORD n = LENGTH2(A(mat[1])) - 1;
    if (n > MAXORDER) userror("matrix too large to be solved");
    if (n == 0) {
        if (name != 0) name[1] = W(EmptyList);
        return EmptyList;
    }

    WorkingScope scope;
    double small[STACKORDER * STACKORDER + 3 * STACKORDER];
    double *V = small;
    if (n > STACKORDER) WorkingStorage(n * n + 3 * n, double, V);
    double *d = V + n * n, *e = d + n, *scale = e + n;
    ListToArray(mat, V, n, n);
    for (WORD i = 0; i < n; i++)
        for (WORD j = i + 1; j < n; j++) {
            double aij = V[i * n + j], aji = V[j * n + i];
            if (std::fabs(aij - aji) > 1e-14 * std::fabs(aij)) {
                if (ENVprintlevel >= 2) {
                    char line[200];
                    snprintf(line, sizeof line, "[%d,%d]=%.16g, [%d,%d]=%.16g, dif=%g", (int)i + 1,
                             (int)j + 1, aij, (int)j + 1, (int)i + 1, aji, aij - aji);
                    prpart(line);
                    mendline();
                }
                userror("input matrix must be symmetric");
            }
        }
    evalf_EigensR_balance(V, n, scale);
    evalf_EigensR_tred2(V, n, d, e);
    evalf_EigensR_tql2(V, n, d, e);
    ALGEB r = Newl1(n + 1, LISTNUM);
    for (WORD i = 0; i < n; i++)
        LISTNUMDATA(r)[i] = d[i];
    if (name != 0) {
        evalf_EigensR_balback(V, n, scale);
        name[1] = W(NewMatrix(V, n, n));
    }
    return r;
}

ALGEB Eigenvalues(ALGEB t) {
    prtprof(1, "Eigenvalues", (int)ENVevlstlev);
    ALGEB r = eigen(t);
    prtprof(0, "Eigenvalues", (int)ENVevlstlev);
    return r;
}
