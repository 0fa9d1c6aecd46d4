// Vectors and matrices: packing lists of numbers, array sums and products, the matrix
// exponential and logarithm, and transposition.
#include "matrix.h"

#include <cfloat>
#include <cmath>
#include <cstdio>

#include "Lumbra.h"
#include "eval.h"
#include "evald.h"

// ---------------------------------------------------------------------------
// Objects and numbers

// Element i (from 0) of a LIST.
static inline ALGEB elem(ALGEB x, WORD i) { return A(A(x[1])[i + 1]); }
static inline double num(ALGEB x) { return IMMINT(x) ? (double)IMMVAL(x) : NUMVAL(x); }
// Element i of an array as a double: numbers as they are, other objects boxed.
static inline double elemd(ALGEB x, WORD i) {
    if (ID2(x) == LISTNUM) return LISTNUMDATA(x)[i];
    ALGEB e = elem(x, i);
    return numeric(e) ? num(e) : MakeNaN(e);
}
// A double as an object: boxed objects come out of their box.
static inline ALGEB object(double d) { return NaN(d) ? NaNtoALGEB(d) : NewNumber(d); }
// Objects that may be left as a symbolic sum or product when no method applies.
static inline bool symbolic(ALGEB x) { return algebraic(x) && !isarray(x); }

// Every element of the LIST x is an array (and there is one at least).
static bool allarrays(ALGEB x) {
    if (ID2(x) != LIST) return false;
    WORD n = arraylen(x);
    for (WORD i = 0; i < n; i++)
        if (!isarray(elem(x, i))) return false;
    return n > 0;
}
// No element of the array x is an array: a vector of scalars.
static bool allscalars(ALGEB x) {
    if (ID2(x) == LISTNUM) return true;
    WORD n = arraylen(x);
    for (WORD i = 0; i < n; i++)
        if (isarray(elem(x, i))) return false;
    return true;
}
static bool allpacked(ALGEB x) {
    WORD n = arraylen(x);
    for (WORD i = 0; i < n; i++) {
        ALGEB r = elem(x, i);
        if (!is(r, LISTNUM)) return false;
    }
    return true;
}

static ALGEB newlist(WORD n) { return n == 0 ? EmptyList : New2(LIST, Newl1(n + 1, EXPSEQ)); }
static inline void setelem(ALGEB list, WORD i, ALGEB v) { A(list[1])[i + 1] = W(v); }

// Compensated accumulation: c keeps what each addition to s loses.
static inline void compadd(double &s, double &c, double t) {
    double u = s + t;
    c += std::fabs(s) > std::fabs(t) ? t - (u - s) : s - (u - t);
    s = u;
}
static inline double compresult(double s, double c) {
    double r = s + c;
    if (!(std::fabs(r) <= DBL_MAX)) userror(UnableToRepresent);
    return r;
}
static inline double checked(double v) {
    if (!(std::fabs(v) <= DBL_MAX)) userror(UnableToRepresent);
    return v;
}

// ---------------------------------------------------------------------------
// Conversions

ALGEB LISTtoLISTNUM(ALGEB a) {
    ASSERT(isarray(a));
    if (ID2(a) == LISTNUM) return a;
    stackcheck();
    WORD n = arraylen(a);
    // An empty list stays a LIST: there is nothing to pack.
    if (n == 0) return a;
    bool nums = true, packed = true, arrays = true;
    for (WORD i = 0; i < n; i++) {
        ALGEB x = elem(a, i);
        if (!numeric(x)) nums = false;
        if (!is(x, LISTNUM)) packed = false;
        if (!isarray(x)) arrays = false;
    }
    if (nums) {
        ALGEB r = Newl1(n + 1, LISTNUM);
        for (WORD i = 0; i < n; i++)
            LISTNUMDATA(r)[i] = num(elem(a, i));
        return r;
    }
    if (packed || !arrays) return a;
    ALGEB r = newlist(n);
    for (WORD i = 0; i < n; i++)
        setelem(r, i, LISTtoLISTNUM(elem(a, i)));
    return r;
}

void ListToArray(ALGEB x, double *array, WORD m, WORD n) {
    if (!is(x, LIST) || arraylen(x) != m) userror("unable to convert to an array");
    for (WORD i = 0; i < m; i++) {
        ALGEB r = elem(x, i);
        if (!isarray(r) || arraylen(r) != n) userror("unable to convert to an array");
        double *row = array + i * n;
        if (ID2(r) == LISTNUM) {
            for (WORD j = 0; j < n; j++)
                row[j] = LISTNUMDATA(r)[j];
            continue;
        }
        for (WORD j = 0; j < n; j++) {
            ALGEB e = elem(r, j);
            if (!numeric(e)) userror("unable to convert to an array");
            row[j] = num(e);
        }
    }
}

ALGEB NewMatrix(const double *array, WORD m, WORD n) {
    ALGEB r = newlist(m);
    for (WORD i = 0; i < m; i++) {
        ALGEB row = EmptyList;
        if (n > 0) {
            row = Newl1(n + 1, LISTNUM);
            for (WORD j = 0; j < n; j++)
                LISTNUMDATA(row)[j] = checked(array[i * n + j]);
        }
        setelem(r, i, row);
    }
    return r;
}

// ---------------------------------------------------------------------------
// Sums

ALGEB AddArrays(ALGEB a, ALGEB b) {
    stackcheck();
    if (isarray(a) && isarray(b)) {
        a = LISTtoLISTNUM(a);
        b = LISTtoLISTNUM(b);
        WORD n = arraylen(a);
        if (arraylen(b) != n) userror("different length arrays in sum");
        if (ID2(a) == LISTNUM && ID2(b) == LISTNUM) {
            ALGEB r = Newl1(n + 1, LISTNUM);
            for (WORD i = n - 1; i >= 0; i--)
                LISTNUMDATA(r)[i] = checked(LISTNUMDATA(a)[i] + LISTNUMDATA(b)[i]);
            return r;
        }
        ALGEB r = newlist(n);
        for (WORD i = 0; i < n; i++) {
            ALGEB v;
            if (ID2(a) == LIST && ID2(b) == LIST)
                v = AddArrays(elem(a, i), elem(b, i));
            else if (ID2(a) == LIST)
                v = AddArrays(elem(a, i), NewNumber(LISTNUMDATA(b)[i]));
            else
                v = AddArrays(elem(b, i), NewNumber(LISTNUMDATA(a)[i]));
            setelem(r, i, v);
        }
        return r;
    }
    if (numeric(a) && numeric(b)) return NewNumber(num(a) + num(b));
    ALGEB m = BinaryPolymorphic(ININplus, a, b);
    if (m != 0) return m;
    // Unassigned names and other formulas stay a symbolic sum.
    if (symbolic(a) && symbolic(b)) {
        double t[3] = {0, MakeNaN(a), MakeNaN(b)};
        return object(evaldSUM(t, 3));
    }
    userror("invalid terms in array sum");
}

// ---------------------------------------------------------------------------
// Products

// The product of the number or boxed object s and the scalar x, for mamul_sv.
static ALGEB scalartimes(double s, ALGEB x) {
    if (!NaN(s) && numeric(x)) return NewNumber(checked(s * num(x)));
    ALGEB so = object(s);
    ALGEB m = BinaryPolymorphic(ININtimes, so, x);
    if (m == 0 && symbolic(so) && symbolic(x)) m = NewProd(so, x);
    if (m == 0)
        userror(NaN(s) ? "invalid term in scalar-vector product"
                       : "mixed matrix entries in product");
    return m;
}

ALGEB mamul_sv(double s, ALGEB b) {
    stackcheck();
    if (!isarray(b)) userror("invalid term in scalar-vector product");
    if (ID2(b) == LIST && arraylen(b) > 0 && numeric(elem(b, 0))) b = LISTtoLISTNUM(b);
    WORD n = arraylen(b);
    if (!NaN(s) && ID2(b) == LISTNUM) {
        ALGEB r = Newl1(n + 1, LISTNUM);
        for (WORD i = 0; i < n; i++)
            LISTNUMDATA(r)[i] = checked(s * LISTNUMDATA(b)[i]);
        return r;
    }
    ALGEB r = newlist(n);
    for (WORD i = 0; i < n; i++) {
        if (ID2(b) == LISTNUM) {
            setelem(r, i, scalartimes(s, NewNumber(LISTNUMDATA(b)[i])));
            continue;
        }
        ALGEB x = elem(b, i);
        setelem(r, i, isarray(x) ? mamul_sv(s, x) : scalartimes(s, x));
    }
    return r;
}

// Partial results that are objects are summed by the evaluator, a batch at a time; entry 1
// carries what the batches before gave.
constexpr int SUMBATCH = 24;
struct ObjectSum {
    double t[SUMBATCH + 2];
    int lt = 1;
};
static void objectsum_add(ObjectSum &z, double x) {
    if (z.lt == SUMBATCH + 1) {
        z.t[1] = evaldSUM(z.t, z.lt);
        z.lt = 2;
    }
    z.t[z.lt++] = x;
}

// The inner product of two vectors of equal length.
static ALGEB innerproduct(ALGEB a, ALGEB b) {
    WORD n = arraylen(a);
    if (arraylen(b) != n) userror("unequal length vectors for inner product");
    double s = 0, c = 0;
    if (ID2(a) == LISTNUM && ID2(b) == LISTNUM) {
        for (WORD i = 0; i < n; i++)
            compadd(s, c, LISTNUMDATA(a)[i] * LISTNUMDATA(b)[i]);
        return NewNumber(compresult(s, c));
    }
    ObjectSum rest;
    for (WORD i = 0; i < n; i++) {
        double x = elemd(a, i), y = elemd(b, i);
        if (!NaN(x) && !NaN(y)) {
            compadd(s, c, x * y);
            continue;
        }
        ALGEB xo = object(x), yo = object(y);
        ALGEB m = BinaryPolymorphic(ININtimes, xo, yo);
        if (m == 0 && symbolic(xo) && symbolic(yo)) m = NewProd(xo, yo);
        if (m == 0) userror("vector product contains extraneous terms");
        if (numeric(m))
            compadd(s, c, num(m));
        else
            objectsum_add(rest, MakeNaN(m));
    }
    double total = compresult(s, c);
    if (rest.lt == 1) return NewNumber(total);
    objectsum_add(rest, total);
    return object(evaldSUM(rest.t, rest.lt));
}

// Vector times a matrix of LISTNUM rows; columns from the last, rows from the last.
static ALGEB vectormatrix(ALGEB a, ALGEB b) {
    WORD m = arraylen(b);
    if (m != LISTNUMLEN(a)) userror("unequal length vectors for inner product");
    WORD w = LISTNUMLEN(elem(b, 0));
    for (WORD i = 0; i < m; i++) {
        ALGEB row = elem(b, i);
        if (!is(row, LISTNUM)) userror("matrix of mixed rows");
        if (LISTNUMLEN(row) != w) userror("matrix of mixed widths");
    }
    ALGEB r = Newl1(w + 1, LISTNUM);
    for (WORD j = w - 1; j >= 0; j--) {
        double s = 0, c = 0;
        for (WORD i = m - 1; i >= 0; i--)
            compadd(s, c, LISTNUMDATA(a)[i] * LISTNUMDATA(elem(b, i))[j]);
        LISTNUMDATA(r)[j] = compresult(s, c);
    }
    return r;
}

// A matrix of LISTNUM rows times a vector; each row product from the last entry.
static ALGEB matrixvector(ALGEB a, ALGEB b) {
    WORD m = arraylen(a), n = LISTNUMLEN(b);
    for (WORD i = 0; i < m; i++)
        if (LISTNUMLEN(elem(a, i)) != n) userror("unequal length vectors for inner product");
    ALGEB r = Newl1(m + 1, LISTNUM);
    for (WORD i = 0; i < m; i++) {
        double *row = LISTNUMDATA(elem(a, i));
        double s = 0, c = 0;
        for (WORD j = n - 1; j >= 0; j--)
            compadd(s, c, row[j] * LISTNUMDATA(b)[j]);
        LISTNUMDATA(r)[i] = compresult(s, c);
    }
    return r;
}

// A vector of scalars times a matrix: the rows scaled by the entries and summed.
static ALGEB combinerows(ALGEB a, ALGEB b) {
    WORD m = arraylen(b);
    if (m != arraylen(a)) userror("unequal length vectors for inner product");
    ObjectSum z;
    for (WORD i = 0; i < m; i++)
        objectsum_add(z, MakeNaN(mamul_sv(elemd(a, i), elem(b, i))));
    return object(evaldSUM(z.t, z.lt));
}

ALGEB mamul_vv(ALGEB a, ALGEB b) {
    if (!isarray(a) || !isarray(b)) notimpl("Mamul_vv");
    stackcheck();
    bool bfirstpacked = ID2(b) == LIST && arraylen(b) > 0 && is(elem(b, 0), LISTNUM);
    if (ID2(a) == LISTNUM && bfirstpacked) return vectormatrix(a, b);
    if (allarrays(a)) {
        if (ID2(b) == LISTNUM && allpacked(a)) return matrixvector(a, b);
        WORD m = arraylen(a);
        ALGEB r = newlist(m);
        for (WORD i = 0; i < m; i++)
            setelem(r, i, mamul_vv(elem(a, i), b));
        return r;
    }
    bool bmatrix = allarrays(b);
    if (allscalars(a)) return bmatrix ? combinerows(a, b) : innerproduct(a, b);
    // a mixes scalars and arrays.
    if (bmatrix) return transpose(mamul_vv(transpose(b), a));
    return innerproduct(a, b);
}

// ---------------------------------------------------------------------------
// Products and functions of square arrays

void mmul(const double *A, const double *B, double *C, WORD n) {
    if (n >= 31 && n <= 10000) {
        // A column of B in a row of its own keeps the inner loop on contiguous doubles.
        static double col[10008];
        for (WORD j = 0; j < n; j++) {
            if (InterruptNow) lumbra_jump(Main);
            for (WORD k = 0; k < n; k++)
                col[k] = B[k * n + j];
            for (WORD i = 0; i < n; i++) {
                const double *row = A + i * n;
                double s = 0, c = 0;
                for (WORD k = n - 1; k >= 0; k--)
                    compadd(s, c, row[k] * col[k]);
                C[i * n + j] = compresult(s, c);
            }
        }
        return;
    }
    for (WORD i = 0; i < n; i++) {
        if (InterruptNow) lumbra_jump(Main);
        for (WORD j = 0; j < n; j++) {
            double s = 0, c = 0;
            for (WORD k = 0; k < n; k++)
                compadd(s, c, A[i * n + k] * B[k * n + j]);
            C[i * n + j] = compresult(s, c);
        }
    }
}

// A non-zero entry of a sparse matrix.
struct SparseEntry {
    double v;
    WORD i, j;
};

// P := S.T for the sparse S (entries in row order) and the dense T.
static void sparsemul(const SparseEntry *S, WORD nz, const double *T, double *P, WORD n) {
    WORD k = 0;
    for (WORD i = 0; i < n; i++) {
        WORD first = k;
        while (k < nz && S[k].i == i)
            k++;
        for (WORD col = 0; col < n; col++) {
            double s = 0, c = 0;
            for (WORD e = first; e < k; e++)
                compadd(s, c, S[e].v * T[S[e].j * n + col]);
            P[i * n + col] = compresult(s, c);
        }
    }
}

static double maxabs(const double *X, WORD nn) {
    double m = 0;
    for (WORD k = 0; k < nn; k++)
        if (std::fabs(X[k]) > m) m = std::fabs(X[k]);
    return m;
}

static void addidentity(double *X, WORD n) {
    for (WORD i = 0; i < n; i++)
        X[i * n + i] += 1;
}

static int scaling(double nu) {
    int s = std::isnan(nu) || nu == 0 ? 0 : std::ilogb(nu);
    if (s < 0) s = 0;
    if (s > 1022) userror("cannot compute exp of a matrix");
    return s;
}

void mexp(double *A, double *work1, double *work2, double *R, WORD n) {
    WORD nn = n * n, nz = 0;
    double nu = 0;
    bool nan = false;
    for (WORD i = 0; i < n; i++) {
        double rs = 0;
        for (WORD j = 0; j < n; j++) {
            rs += std::fabs(A[i * n + j]);
            if (A[i * n + j] != 0) nz++;
        }
        if (std::isnan(rs)) nan = true;
        if (rs > nu) nu = rs;
    }
    if (nan) userror("matrix too ill-conditioned");
    bool sparse = n >= 31 && nz <= 9 * n;
    // The series runs on A / 2^s, small enough to converge in a few terms; s squarings
    // undo the scaling. The sparse series takes more terms to spare dense products.
    int s = scaling(sparse ? nu : 200 * nu);
    for (WORD k = 0; k < nn; k++)
        A[k] = std::ldexp(A[k], -s);

    // Taylor series of exp(A) - I, the terms from the second on; A itself comes last.
    double *T = work1, *P = work2, *E = R;
    SparseEntry *S = 0;
    WorkingScope scope;
    if (sparse) {
        WorkingStorage(nz > 0 ? nz : 1, SparseEntry, S);
        WORD k = 0;
        for (WORD i = 0; i < n; i++)
            for (WORD j = 0; j < n; j++)
                if (A[i * n + j] != 0) S[k++] = {A[i * n + j], i, j};
    }
    for (WORD k = 0; k < nn; k++) {
        T[k] = A[k];
        E[k] = 0;
    }
    for (int k = 2;; k++) {
        if (InterruptNow) lumbra_jump(Main);
        if (sparse)
            sparsemul(S, nz, T, P, n);
        else
            mmul(A, T, P, n);
        for (WORD e = 0; e < nn; e++) {
            T[e] = P[e] / k;
            E[e] += T[e];
        }
        if (maxabs(T, nn) <= 0.01 * (k + 1) * DBL_EPSILON) break;
    }
    for (WORD k = 0; k < nn; k++)
        E[k] += A[k];

    // Squaring. While E = exp - I is small, (E + I)^2 - I = E.E + 2E keeps its digits;
    // once a diagonal entry is no longer small, the identity joins E for good.
    bool whole = false;
    for (int step = 0; step < s; step++) {
        if (InterruptNow) lumbra_jump(Main);
        if (!whole) {
            for (WORD i = 0; i < n && !whole; i++)
                if (E[i * n + i] > 0.5 || E[i * n + i] < -0.5) whole = true;
            if (whole) addidentity(E, n);
        }
        mmul(E, E, work1, n);
        for (WORD k = 0; k < nn; k++)
            E[k] = whole ? work1[k] : work1[k] + 2 * E[k];
    }
    if (!whole) addidentity(E, n);
}

// The square matrix x as a new n x n array of working storage.
static double *squarearray(ALGEB x, WORD &n) {
    if (!is(x, LIST)) notimpl("maexp");
    n = arraylen(x);
    double *a;
    WorkingStorage(n > 0 ? n * n : 1, double, a);
    ListToArray(x, a, n, n);
    return a;
}

ALGEB maexp(ALGEB x) {
    WorkingScope scope;
    WORD n;
    double *a = squarearray(x, n);
    if (n == 0) return EmptyList;
    double *w1, *w2, *r;
    WorkingStorage(n * n, double, w1);
    WorkingStorage(n * n, double, w2);
    WorkingStorage(n * n, double, r);
    mexp(a, w1, w2, r, n);
    return NewMatrix(r, n, n);
}

// Terms beyond this many mean a spectrum on the unit circle: the series will not converge.
constexpr int MAXLOGTERMS = 100000;

ALGEB mlog(ALGEB x) {
    WorkingScope scope;
    WORD n;
    double *a = squarearray(x, n);
    if (n == 0) return EmptyList;
    WORD nn = n * n;
    // Gershgorin bounds of the spectrum.
    double U = 0, L = DBL_MAX;
    for (WORD i = 0; i < n; i++) {
        double d = a[i * n + i], r = 0;
        for (WORD j = 0; j < n; j++)
            if (j != i) r += std::fabs(a[i * n + j]);
        if (d + r > U) U = d + r;
        if (d - r < L) L = d - r;
    }
    if (-L >= U) userror("Cannot compute log of matrix");
    double scale = 0;
    if (L > 0)
        scale = 2 / (U + L);
    else
        for (WORD i = 0; i < n; i++)
            if (a[i * n + i] > 0 && 0.1 / a[i * n + i] > scale) scale = 0.1 / a[i * n + i];

    // log(A) = log(I + X) - log(scale) I with X = scale A - I, by the series of log(I + X).
    double *X, *T, *P, *S;
    WorkingStorage(nn, double, X);
    WorkingStorage(nn, double, T);
    WorkingStorage(nn, double, P);
    WorkingStorage(nn, double, S);
    for (WORD k = 0; k < nn; k++) {
        X[k] = scale * a[k];
        S[k] = 0;
    }
    for (WORD i = 0; i < n; i++)
        X[i * n + i] -= 1;
    for (WORD k = 0; k < nn; k++)
        T[k] = X[k];
    for (int k = 2;; k++) {
        if (InterruptNow) lumbra_jump(Main);
        mmul(X, T, P, n);
        double big = 0;
        for (WORD e = 0; e < nn; e++) {
            T[e] = -P[e];
            S[e] += T[e] / k;
            if (std::fabs(T[e]) > big) big = std::fabs(T[e]);
        }
        if ((k > 30 && big >= 1) || k > MAXLOGTERMS) userror("Cannot compute log of matrix");
        if (big <= DBL_EPSILON * (k + 1) * 0.1) break;
    }
    double lx = std::log(scale);
    for (WORD k = 0; k < nn; k++)
        S[k] += X[k];
    for (WORD i = 0; i < n; i++)
        S[i * n + i] -= lx;
    return NewMatrix(S, n, n);
}

// ---------------------------------------------------------------------------
// Transposition

ALGEB transpose(ALGEB a) {
    if (!is(a, LIST)) userror("invalid arguments to transpose");
    WORD m = arraylen(a);
    if (m == 0) return a;
    if (!isarray(elem(a, 0))) userror("invalid arguments to transpose");
    WORD n = arraylen(elem(a, 0));
    bool nums = true, arrays = true;
    for (WORD i = 0; i < m; i++) {
        ALGEB row = elem(a, i);
        if (!isarray(row)) notimpl("transpose");
        if (arraylen(row) != n) userror("invalid arguments to transpose");
        if (ID2(row) == LISTNUM) {
            arrays = false;
            continue;
        }
        for (WORD j = 0; j < n; j++) {
            ALGEB e = elem(row, j);
            if (!numeric(e)) nums = false;
            if (!isarray(e)) arrays = false;
        }
    }
    if (n == 0) return EmptyList;
    if (arrays) userror("transposition of higher-order matrices not implemented");
    ALGEB r = newlist(n);
    for (WORD j = 0; j < n; j++) {
        ALGEB col;
        if (nums) {
            col = Newl1(m + 1, LISTNUM);
            for (WORD i = 0; i < m; i++)
                LISTNUMDATA(col)[i] = elemd(elem(a, i), j);
        } else {
            col = newlist(m);
            for (WORD i = 0; i < m; i++) {
                ALGEB row = elem(a, i);
                setelem(col, i,
                        ID2(row) == LISTNUM ? NewNumber(LISTNUMDATA(row)[j]) : elem(row, j));
            }
        }
        setelem(r, j, col);
    }
    return r;
}
