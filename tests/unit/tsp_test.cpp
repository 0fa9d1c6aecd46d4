// Tours: exact optima of small instances, local optimality of the heuristic tours, the same
// tour for the same seed, initial tours, interrupts and the argument errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
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

// The tour that f finds, checked to be a permutation of 1..n.
std::vector<int> Tour(ALGEB (*f)(ALGEB), std::initializer_list<ALGEB> args, int n) {
    ALGEB r = f(Seq(args));
    std::vector<int> t;
    for (WORD k = 1; r != EmptyList && k < LENGTH(A(r[1])); k++)
        t.push_back((int)IMMVAL(A(A(r[1])[k])));
    std::vector<int> all(n);
    std::iota(all.begin(), all.end(), 1);
    EXPECT_TRUE(std::is_permutation(t.begin(), t.end(), all.begin(), all.end())) << n;
    return t;
}

double Cost(const Dense &d, const std::vector<int> &t) {
    double c = 0;
    for (size_t k = 0; k < t.size(); k++)
        c += d[t[k] - 1][t[(k + 1) % t.size()] - 1];
    return c;
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
    std::vector<std::vector<double>> f((size_t)1 << m, std::vector<double>(m, HUGE_VAL));
    for (int j = 0; j < m; j++)
        f[(size_t)1 << j][j] = d[0][j + 1];
    for (size_t S = 1; S < f.size(); S++)
        for (int j = 0; j < m; j++)
            for (int k = 0; k < m && (S >> j & 1); k++)
                if (!(S >> k & 1))
                    f[S | (size_t)1 << k][k] =
                        std::min(f[S | (size_t)1 << k][k], f[S][j] + d[j + 1][k + 1]);
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
                double ways[4] = {D(i, j + 1) + D(k, i + 1) + D(j, k + 1),
                                  D(i, k) + D(i + 1, j + 1) + D(j, k + 1),
                                  D(i, j + 1) + D(j, k) + D(i + 1, k + 1),
                                  D(i, j) + D(k, i + 1) + D(j + 1, k + 1)};
                ASSERT_LE(D(i, i + 1) + D(j, j + 1) + D(k, k + 1) -
                              *std::min_element(ways, ways + 4),
                          tol)
                    << "3-opt at " << i << ", " << j << ", " << k;
            }
        }
}

TEST_F(TspTest, SmallInstancesAreSolvedExactly) {
    for (int n = 3; n < 12; n++)
        for (unsigned seed = 1; seed <= 3; seed++) {
            Dense d = Instance(n, seed * 100 + n, seed != 2);
            std::vector<int> t = Tour(ComputeCubicTSP, {Matrix(d)}, n);
            EXPECT_NEAR(Cost(d, t), Optimum(d), 1e-12) << "n " << n << ", seed " << seed;
            EXPECT_EQ(Tour(ComputeQuarticTSP, {Matrix(d), I(2)}, n), t);
        }
}

// With the matrix alone the answer is the nearest-neighbour tour after the moves, which
// leave no improvement of their kinds behind.
TEST_F(TspTest, HeuristicToursAreLocallyOptimal) {
    for (int n : {12, 13, 40, 120})
        for (bool metric : {true, false}) {
            Dense d = Instance(n, (unsigned)n, metric);
            for (auto f : {ComputeCubicTSP, ComputeQuarticTSP})
                ExpectLocallyOptimal(d, Tour(f, {Matrix(d)}, n));
            EXPECT_EQ(TSP4Switch, 0);
        }
    // Twelve points go through the heuristics, which find the optimum here as well.
    Dense d = Instance(12, 5, true);
    EXPECT_NEAR(Cost(d, Tour(ComputeCubicTSP, {Matrix(d), I(5)}, 12)), Optimum(d), 1e-12);
}

// More iterations keep the best tour found, and a given tour only gets better; the same seed
// gives the same tour (the transcript tries ComputeQuarticTSP). Ties everywhere, zero
// distances and distances whose sums overflow: the search ends. So does one interrupted.
TEST_F(TspTest, IterationsSeedsGivenToursAndDegenerateDistances) {
    Dense d = Instance(80, 3, true);
    std::vector<int> nn = Tour(ComputeCubicTSP, {Matrix(d)}, 80);
    msrand(1);
    std::vector<int> many = Tour(ComputeCubicTSP, {Matrix(d), I(12)}, 80);
    EXPECT_LE(Cost(d, many), Cost(d, nn) * 1.03);
    msrand(1);
    EXPECT_EQ(Tour(ComputeCubicTSP, {Matrix(d), Num(12.0)}, 80), many);
    ALGEB given = Newl1(81, EXPSEQ);
    for (int k = 0; k < 80; k++)
        given[k + 1] = W(I(many[(k + 7) % 80]));
    std::vector<int> again = Tour(ComputeCubicTSP, {Matrix(d), I(1), New2(LIST, given)}, 80);
    EXPECT_LE(Cost(d, again), Cost(d, many) + 1e-12);
    for (double v : {0.0, 1.0, 1e308})
        for (auto f : {ComputeCubicTSP, ComputeQuarticTSP})
            Tour(f, {Matrix(Dense(30, std::vector<double>(30, v))), I(3)}, 30);
    InterruptNow = 1;
    Tour(ComputeQuarticTSP, {Matrix(Instance(200, 4, true)), I(1000000)}, 200);
    InterruptNow = 0;
    EXPECT_EQ(TSP4Switch, 0);
}

TEST_F(TspTest, ArgumentErrors) {
    ALGEB M = Matrix(Instance(12, 1, true));
    const char *dims = "incorrect dimensions distance matrix for ComputeTSP",
               *perm = "VerifyPermutation failed (parameter input permutation): ";
    struct Case {
        ALGEB args;
        std::string msg;
    } cases[] = {
        {Seq({}), "invalid arguments for ComputeTSP"},
        {Seq({I(3)}), "dimension too large for ComputeTSP"},
        {Seq({N("x")}), dims},
        {Seq({Packed({1, 2})}), dims},
        {Seq({List({List({I(0), N("x")}), Packed({1, 0})})}), dims},
        {Seq({Matrix({{0, -1, 2}, {-1, 0, 1}, {2, 1, 0}})}),
         "ComputeTSP: negative distances are not allowed"},
        {Seq({M, N("many")}), "ComputeTSP: the number of iterations must be a positive integer"},
        {Seq({M, I(2), Packed({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12.5})}),
         "ComputeCubicTSP, extra arguments must be integer permutations"},
        {Seq({M, I(2), Packed({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0})}),
         std::string(perm) + "P[12]=0<1"},
        {Seq({M, I(2), Packed({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 13, 12})}),
         std::string(perm) + "P[11]=13>12"},
    };
    for (const Case &c : cases)
        for (auto f : {ComputeCubicTSP, ComputeQuarticTSP}) {
            EXPECT_EQ(ErrorOf([&] { f(c.args); }), c.msg);
            EXPECT_EQ(TSP4Switch, 0);
        }
}

} // namespace
