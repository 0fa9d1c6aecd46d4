// Tours: exact optima of small instances, local optimality of the heuristic tours, the same
// tour for the same seed, initial tours, interrupts and every argument error.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "TSP.h"
#include "rand.h"
#include "testkit.h"

namespace {

using namespace testkit;

typedef std::vector<std::vector<double>> Dense;

class TspTest : public QuietKernelTest {};

ALGEB Matrix(const Dense &d) {
    ALGEB rows = Newl1((WORD)d.size() + 1, EXPSEQ);
    for (size_t i = 0; i < d.size(); i++)
        rows[i + 1] = W(Packed(d[i]));
    return New2(LIST, rows);
}

std::vector<int> Tour(ALGEB r) {
    std::vector<int> t;
    if (r == EmptyList) return t;
    ALGEB e = A(r[1]);
    for (WORD k = 1; k < LENGTH(e); k++)
        t.push_back((int)IMMVAL(A(e[k])));
    return t;
}

double Cost(const Dense &d, const std::vector<int> &t) {
    double c = 0;
    for (size_t k = 0; k < t.size(); k++)
        c += d[t[k] - 1][t[(k + 1) % t.size()] - 1];
    return c;
}

bool IsPermutation(std::vector<int> t, int n) {
    std::sort(t.begin(), t.end());
    for (int k = 0; k < n; k++)
        if ((int)t.size() != n || t[k] != k + 1) return false;
    return true;
}

// Points in the unit square, or (metric = false) independent random distances, some of them
// equal.
Dense Instance(int n, unsigned seed, bool metric) {
    std::mt19937 g(seed);
    std::uniform_real_distribution<double> u(0, 1);
    std::vector<double> x(n), y(n);
    for (int i = 0; i < n; i++)
        x[i] = u(g), y[i] = u(g);
    Dense d(n, std::vector<double>(n, 0));
    for (int i = 0; i < n; i++)
        for (int j = i + 1; j < n; j++)
            d[i][j] = d[j][i] = metric ? std::hypot(x[i] - x[j], y[i] - y[j]) : (double)(g() % 20);
    return d;
}

// The shortest tour by dynamic programming over the sets of visited points.
double Optimum(const Dense &d) {
    int n = (int)d.size(), m = n - 1;
    std::vector<double> best((size_t)1 << m, 0);
    std::vector<std::vector<double>> f((size_t)1 << m, std::vector<double>(m, HUGE_VAL));
    for (int j = 0; j < m; j++)
        f[(size_t)1 << j][j] = d[0][j + 1];
    for (size_t S = 1; S < f.size(); S++)
        for (int j = 0; j < m; j++) {
            if (!(S >> j & 1) || f[S][j] == HUGE_VAL) continue;
            for (int k = 0; k < m; k++) {
                if (S >> k & 1) continue;
                f[S | (size_t)1 << k][k] =
                    std::min(f[S | (size_t)1 << k][k], f[S][j] + d[j + 1][k + 1]);
            }
        }
    double c = HUGE_VAL;
    for (int j = 0; j < m; j++)
        c = std::min(c, f.back()[j] + d[j + 1][0]);
    return c;
}

// No 2-opt move and no way of rejoining three cut edges shortens the tour.
void ExpectLocallyOptimal(const Dense &d, const std::vector<int> &t) {
    int n = (int)t.size();
    auto D = [&](int i, int j) { return d[t[i % n] - 1][t[j % n] - 1]; };
    double tol = 1e-9 * Cost(d, t);
    for (int i = 0; i < n; i++)
        for (int j = i + 1; j < n; j++) {
            if (j >= i + 2 && !(i == 0 && j == n - 1)) {
                ASSERT_LE(D(i, i + 1) + D(j, j + 1) - D(i, j) - D(i + 1, j + 1), tol)
                    << "2-opt at " << i << ", " << j;
            }
            for (int k = j + 1; k < n; k++) {
                double old = D(i, i + 1) + D(j, j + 1) + D(k, k + 1);
                double ways[4] = {D(i, j + 1) + D(k, i + 1) + D(j, k + 1),
                                  D(i, k) + D(i + 1, j + 1) + D(j, k + 1),
                                  D(i, j + 1) + D(j, k) + D(i + 1, k + 1),
                                  D(i, j) + D(k, i + 1) + D(j + 1, k + 1)};
                ASSERT_LE(old - *std::min_element(ways, ways + 4), tol)
                    << "3-opt at " << i << ", " << j << ", " << k;
            }
        }
}

ALGEB Search(ALGEB (*f)(ALGEB), std::initializer_list<ALGEB> args) { return f(Seq(args)); }

TEST_F(TspTest, TinyInstancesAreInOrder) {
    EXPECT_EQ(Tour(Search(ComputeCubicTSP, {EmptyList})), std::vector<int>{});
    EXPECT_EQ(Tour(Search(ComputeCubicTSP, {Matrix({{0}})})), std::vector<int>{1});
    Dense d3 = {{0, 5, 1}, {5, 0, 2}, {1, 2, 0}};
    EXPECT_EQ(Tour(Search(ComputeCubicTSP, {Matrix(d3), I(3)})), (std::vector<int>{1, 2, 3}));
}

TEST_F(TspTest, SmallInstancesAreSolvedExactly) {
    for (int n = 4; n < 12; n++)
        for (unsigned seed = 1; seed <= 3; seed++) {
            Dense d = Instance(n, seed * 100 + n, seed != 2);
            std::vector<int> t = Tour(Search(ComputeCubicTSP, {Matrix(d)}));
            ASSERT_TRUE(IsPermutation(t, n));
            EXPECT_NEAR(Cost(d, t), Optimum(d), 1e-12) << "n " << n << ", seed " << seed;
            EXPECT_EQ(Tour(Search(ComputeQuarticTSP, {Matrix(d), I(2)})), t);
        }
}

// With the matrix alone the answer is the nearest-neighbour tour after the moves, which
// leave no improvement of their kinds behind.
TEST_F(TspTest, HeuristicToursAreLocallyOptimal) {
    for (int n : {12, 13, 40, 120})
        for (bool metric : {true, false}) {
            Dense d = Instance(n, (unsigned)n, metric);
            for (auto f : {ComputeCubicTSP, ComputeQuarticTSP}) {
                std::vector<int> t = Tour(Search(f, {Matrix(d)}));
                ASSERT_TRUE(IsPermutation(t, n));
                ExpectLocallyOptimal(d, t);
            }
            EXPECT_EQ(TSP4Switch, 0);
        }
    // Twelve points go through the heuristics, which find the optimum here as well.
    Dense d = Instance(12, 5, true);
    EXPECT_NEAR(Cost(d, Tour(Search(ComputeCubicTSP, {Matrix(d), I(5)}))), Optimum(d), 1e-12);
}

TEST_F(TspTest, SameSeedSameTour) {
    Dense d = Instance(60, 9, true);
    for (auto f : {ComputeCubicTSP, ComputeQuarticTSP}) {
        msrand(11);
        std::vector<int> a = Tour(Search(f, {Matrix(d), I(6)}));
        double next = mrand();
        msrand(11);
        std::vector<int> b = Tour(Search(f, {Matrix(d), Num(6.0)}));
        EXPECT_EQ(a, b);
        EXPECT_EQ(mrand(), next);
        EXPECT_TRUE(IsPermutation(a, 60));
    }
}

// More iterations keep the best tour found, and a given tour only gets better.
TEST_F(TspTest, PoolKeepsTheBestTour) {
    Dense d = Instance(80, 3, true);
    std::vector<int> nn = Tour(Search(ComputeCubicTSP, {Matrix(d)}));
    msrand(1);
    std::vector<int> many = Tour(Search(ComputeCubicTSP, {Matrix(d), I(12)}));
    EXPECT_LE(Cost(d, many), Cost(d, nn) * 1.03);
    ALGEB given = Newl1(81, EXPSEQ);
    for (int k = 0; k < 80; k++)
        given[k + 1] = W(I(many[(k + 7) % 80]));
    std::vector<int> again = Tour(Search(ComputeCubicTSP, {Matrix(d), I(1), New2(LIST, given)}));
    EXPECT_LE(Cost(d, again), Cost(d, many) + 1e-12);
}

// Ties everywhere, zero distances and distances whose sums overflow: the search ends.
TEST_F(TspTest, DegenerateDistancesEnd) {
    for (double v : {0.0, 1.0, 1e308}) {
        Dense d(30, std::vector<double>(30, v));
        for (auto f : {ComputeCubicTSP, ComputeQuarticTSP})
            EXPECT_TRUE(IsPermutation(Tour(Search(f, {Matrix(d), I(3)})), 30)) << v;
    }
}

TEST_F(TspTest, InterruptReturnsTheBestSoFar) {
    Dense d = Instance(200, 4, true);
    InterruptNow = 1;
    std::vector<int> t = Tour(Search(ComputeQuarticTSP, {Matrix(d), I(1000000)}));
    InterruptNow = 0;
    EXPECT_TRUE(IsPermutation(t, 200));
    EXPECT_EQ(TSP4Switch, 0);
}

TEST_F(TspTest, ArgumentErrors) {
    Dense d = Instance(12, 1, true);
    ALGEB M = Matrix(d);
    Dense asym = {{0, 1}, {1.0000001, 0}};
    Dense neg = {{0, -1, 2}, {-1, 0, 1}, {2, 1, 0}};
    ALGEB big = Newl1(MAXN + 2, EXPSEQ);
    for (int i = 1; i <= MAXN + 1; i++)
        big[i] = W(Packed({0}));
    auto tour = [](std::initializer_list<double> v) { return Packed(v); };
    struct Case {
        ALGEB args;
        const char *msg;
    } cases[] = {
        {Seq({}), "invalid arguments for ComputeTSP"},
        {Seq({I(3)}), "dimension too large for ComputeTSP"},
        {Seq({New2(LIST, big)}), "dimension too large for ComputeTSP"},
        {Seq({N("x")}), "incorrect dimensions distance matrix for ComputeTSP"},
        {Seq({Packed({1, 2})}), "incorrect dimensions distance matrix for ComputeTSP"},
        {Seq({List({List({I(0), N("x")}), Packed({1, 0})})}),
         "incorrect dimensions distance matrix for ComputeTSP"},
        {Seq({Matrix({{0, 1}, {1}})}), "incorrect dimensions distance matrix for ComputeTSP"},
        {Seq({Matrix(asym)}), "ComputeTSP: distance matrix is not symmetric"},
        {Seq({Matrix(neg)}), "ComputeTSP: negative distances are not allowed"},
        {Seq({M, I(0)}), "ComputeTSP: the number of iterations must be a positive integer"},
        {Seq({M, N("many")}), "ComputeTSP: the number of iterations must be a positive integer"},
        {Seq({M, I(2), tour({1, 2, 3})}),
         "ComputeCubicTSP, extra arguments must be integer permutations"},
        {Seq({M, I(2), tour({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12.5})}),
         "ComputeCubicTSP, extra arguments must be integer permutations"},
        {Seq({M, I(2), tour({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 11})}),
         "VerifyPermutation failed (parameter input permutation): Count[11]=2 <> 1"},
        {Seq({M, I(2), tour({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0})}),
         "VerifyPermutation failed (parameter input permutation): P[12]=0<1"},
        {Seq({M, I(2), tour({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 13, 12})}),
         "VerifyPermutation failed (parameter input permutation): P[11]=13>12"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ErrorOf([&] { ComputeCubicTSP(c.args); }), c.msg);
        EXPECT_EQ(ErrorOf([&] { ComputeQuarticTSP(c.args); }), c.msg);
        EXPECT_EQ(TSP4Switch, 0);
    }
}

} // namespace
