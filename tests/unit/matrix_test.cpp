// Packing of lists, the order of compensated sums, array products, the matrix exponential
// against an eigen-decomposition of its own, and transposition.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>

#include "eigenref.h"
#include "matrix.h"
#include "testkit.h"

namespace {

using namespace testkit;

class MatrixTest : public QuietKernelTest {};

// The rows of a row-major array as a LIST of LIST rows of NUMBER objects (nothing packed).
ALGEB Unpacked(const Dense &a, WORD m, WORD n) {
    ALGEB rows = Newl1(m + 1, EXPSEQ);
    for (WORD i = 0; i < m; i++) {
        ALGEB row = Newl1(n + 1, EXPSEQ);
        for (WORD j = 0; j < n; j++)
            row[j + 1] = W(NewNumber(a[i * n + j]));
        rows[i + 1] = W(New2(LIST, row));
    }
    return New2(LIST, rows);
}
Dense ToDense(ALGEB x, WORD m, WORD n) {
    Dense a(m * n);
    ListToArray(x, a.data(), m, n);
    return a;
}
ALGEB Elem(ALGEB list, WORD i) { return A(A(list[1])[i + 1]); }
double MaxDiff(const Dense &a, const Dense &b) {
    double m = 0;
    for (size_t k = 0; k < a.size(); k++)
        m = std::fmax(m, std::fabs(a[k] - b[k]));
    return m;
}
Rates ReversibleRates(int n, unsigned seed, bool tridiagonal) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(0.2, 1.0);
    Rates r{n, std::vector<double>(n), Dense(n * n, 0)};
    double tot = 0;
    for (double &p : r.pi)
        tot += (p = u(gen));
    for (double &p : r.pi)
        p /= tot;
    for (int i = 0; i < n; i++)
        for (int j = i + 1; j < n; j++) {
            if (tridiagonal && j != i + 1) continue;
            double x = u(gen) * (tridiagonal ? 5 : 1);
            r.Q[i * n + j] = x * r.pi[j];
            r.Q[j * n + i] = x * r.pi[i];
        }
    for (int i = 0; i < n; i++) {
        double s = 0;
        for (int j = 0; j < n; j++)
            if (j != i) s += r.Q[i * n + j];
        r.Q[i * n + i] = -s;
    }
    return r;
}

Dense Mexp(Dense a, int n) {
    Dense w1(n * n), w2(n * n), R(n * n);
    mexp(a.data(), w1.data(), w2.data(), R.data(), n);
    return R;
}

int NonZeros(const Dense &a) {
    int k = 0;
    for (double x : a)
        k += x != 0;
    return k;
}

// ---------------------------------------------------------------------------

TEST_F(MatrixTest, PackingListsOfNumbers) {
    ALGEB v = LISTtoLISTNUM(List({MKIMM(1), NewNumber(2.5)}));
    ASSERT_EQ(ID(v), LISTNUM);
    ASSERT_EQ(LISTNUMLEN(v), 2);
    EXPECT_EQ(LISTNUMDATA(v)[0], 1);
    EXPECT_EQ(LISTNUMDATA(v)[1], 2.5);

    ALGEB p = Packed({1, 2}), q = Packed({3});
    ALGEB rows = List({p, q});
    EXPECT_EQ(LISTtoLISTNUM(rows), rows); // already packed: the same object

    ALGEB unpacked = List({MKIMM(7), MKIMM(8)});
    ALGEB mixed = List({unpacked, q});
    ALGEB m = LISTtoLISTNUM(mixed);
    ASSERT_NE(m, mixed); // a copy: the argument keeps its rows
    EXPECT_EQ(Elem(mixed, 0), unpacked);
    ASSERT_EQ(ID(Elem(m, 0)), LISTNUM);
    EXPECT_EQ(LISTNUMDATA(Elem(m, 0))[1], 8);
    EXPECT_EQ(Elem(m, 1), q);

    ALGEB sym = List({MKIMM(1), naminstall("x")});
    EXPECT_EQ(LISTtoLISTNUM(sym), sym);
    ALGEB rowsandscalars = List({p, MKIMM(1)});
    EXPECT_EQ(LISTtoLISTNUM(rowsandscalars), rowsandscalars);
    EXPECT_EQ(LISTtoLISTNUM(p), p);
    EXPECT_EQ(LISTtoLISTNUM(EmptyList), EmptyList);
}

// [1, -2^100, -1, -2^-55, 2^100] sums to -2^-55 from the first term to the last, but to 0
// from the last to the first (and to 0 without compensation in either order), so each
// routine's order shows.
const double Big = std::ldexp(1, 100), Tiny = std::ldexp(1, -55);
const std::vector<double> Forward = {1, -Big, -1, -Tiny, Big};
const std::vector<double> Backward = {Big, -Tiny, -1, -Big, 1};

TEST_F(MatrixTest, InnerProductsRunForwardAndMatrixProductsBackward) {
    ALGEB ones = Packed({1, 1, 1, 1, 1});
    ALGEB r = mamul_vv(Packed(Forward), ones);
    ASSERT_EQ(ID(r), NUMBER);
    EXPECT_EQ(DBL(r), -Tiny);
    // The same through unpacked elements.
    ALGEB f = List({MKIMM(1), NewNumber(-Big), MKIMM(-1), NewNumber(-Tiny), NewNumber(Big)});
    EXPECT_EQ(DBL(mamul_vv(f, ones)), -Tiny);
    EXPECT_EQ(mamul_vv(EmptyList, EmptyList), cons0);
    // Matrix times vector: along each row from its last entry.
    ALGEB mv = mamul_vv(List({Packed(Backward), Packed(Forward)}), ones);
    ASSERT_EQ(ID(mv), LISTNUM);
    EXPECT_EQ(LISTNUMDATA(mv)[0], -Tiny);
    EXPECT_EQ(LISTNUMDATA(mv)[1], 0);
    // Vector times matrix: down each column from the last row.
    ALGEB col = List({Packed({Backward[0], 1}), Packed({Backward[1], 1}), Packed({Backward[2], 1}),
                      Packed({Backward[3], 1}), Packed({Backward[4], 1})});
    ALGEB vm = mamul_vv(ones, col);
    ASSERT_EQ(ID(vm), LISTNUM);
    EXPECT_EQ(LISTNUMDATA(vm)[0], -Tiny);
    EXPECT_EQ(LISTNUMDATA(vm)[1], 5);
}

TEST_F(MatrixTest, MmulOrderDependsOnTheOrder) {
    for (int n : {30, 31}) {
        // Up to 30 the entries are summed forward, from 31 on backward.
        const std::vector<double> &v = n == 30 ? Forward : Backward;
        Dense a(n * n, 0), b(n * n, 1), c(n * n);
        for (int k = 0; k < 5; k++)
            a[k] = v[k];
        mmul(a.data(), b.data(), c.data(), n);
        EXPECT_EQ(c[0], -Tiny) << n;
        EXPECT_EQ(c[n - 1], -Tiny) << n;
        EXPECT_EQ(c[n], 0) << n;
    }
}

TEST_F(MatrixTest, ExpOfRateMatricesAgainstEigenDecomposition) {
    // 20: dense with the forward products; 40 full: dense with column buffers;
    // 40 tridiagonal: 118 non-zeros, the sparse way.
    struct Case {
        int n;
        bool tridiagonal;
    };
    for (Case c : {Case{20, false}, Case{40, false}, Case{40, true}}) {
        Rates r = ReversibleRates(c.n, 17 + c.n, c.tridiagonal);
        if (c.tridiagonal) {
            ASSERT_LE(NonZeros(r.Q), 9 * c.n);
        }
        Dense E = Mexp(r.Q, c.n), ref = ExpByEigen(r);
        EXPECT_LT(MaxDiff(E, ref), 1e-12) << c.n << (c.tridiagonal ? " sparse" : " dense");
        for (int i = 0; i < c.n; i++) { // rows of a transition matrix sum to 1
            double s = 0;
            for (int j = 0; j < c.n; j++)
                s += E[i * c.n + j];
            EXPECT_NEAR(s, 1, 1e-13);
        }
    }
}

// The matrices transcript has symbolic, empty and higher-order matrices.
TEST_F(MatrixTest, Transpose) {
    ALGEB t = transpose(Unpacked({1, 2, 3, 4, 5, 6}, 2, 3));
    EXPECT_EQ(ToDense(t, 3, 2), (Dense{1, 4, 2, 5, 3, 6}));
    EXPECT_EQ(ID(Elem(t, 0)), LISTNUM);
    EXPECT_EQ(ErrorOf([&] { transpose(List({MKIMM(1)})); }), "invalid arguments to transpose");
    EXPECT_EQ(ErrorOf([&] {
                  transpose(List({Packed({1, 2}), Packed({1})}));
              }),
              "invalid arguments to transpose");
}

} // namespace
