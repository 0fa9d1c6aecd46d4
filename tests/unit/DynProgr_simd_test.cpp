// The vectorised local scorers against the scalar recurrence, on every instruction set this
// processor has.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>
#include <vector>

#include "DynProgr.h"

namespace {

// A symmetric score table with values on a grid of 2^-bits, like a Dayhoff matrix's.
struct Table {
    int dim;
    std::vector<double> simi;
    DPScoring sc;
};

double OnGrid(double x, int bits) { return std::scalbn(std::rint(std::scalbn(x, bits)), -bits); }

Table RandomTable(std::mt19937 &rng, int dim, int bits) {
    Table t{dim, std::vector<double>((size_t)dim * dim), {}};
    std::uniform_real_distribution<double> off(-6, 4), diag(2, 15);
    for (int a = 0; a < dim; a++)
        for (int b = 0; b <= a; b++)
            t.simi[a * dim + b] = t.simi[b * dim + a] = OnGrid(a == b ? diag(rng) : off(rng), bits);
    std::uniform_real_distribution<double> open(-25, -6), ext(-3, -0.3);
    t.sc = {t.simi.data(), dim, OnGrid(open(rng), bits), OnGrid(ext(rng), bits)};
    return t;
}

// Unrelated sequences, or a copy of the first with substitutions and indels, so that long
// alignments with gaps, and so the lazy pass across lanes, are common.
void RandomPair(std::mt19937 &rng, int dim, int maxlen, std::vector<uint8_t> &a,
                std::vector<uint8_t> &b) {
    std::uniform_int_distribution<int> len(1, maxlen), sym(0, dim - 1), pct(0, 99);
    a.resize(len(rng));
    for (auto &c : a)
        c = (uint8_t)sym(rng);
    if (pct(rng) < 50) {
        b.resize(len(rng));
        for (auto &c : b)
            c = (uint8_t)sym(rng);
        return;
    }
    b.clear();
    for (uint8_t c : a) {
        int r = pct(rng);
        if (r < 6) continue;
        b.push_back(r < 20 ? (uint8_t)sym(rng) : c);
        while (pct(rng) < 5)
            b.push_back((uint8_t)sym(rng));
    }
    if (b.empty()) b.push_back((uint8_t)sym(rng));
}

struct Scalar {
    double score;
    int max1, max2;
};

Scalar ScalarLocal(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b,
                   const DPScoring &sc, double goal) {
    std::vector<double> S(b.size() + 1), V(b.size() + 1);
    std::vector<int> from(b.size() + 1);
    DPPass pass;
    pass.goal = goal;
    Scalar r{};
    r.score = DynProgScoreSS(a.data(), (int)a.size(), b.data(), (int)b.size(), sc, pass, &r.max1,
                             &r.max2, {S.data(), V.data(), from.data()});
    return r;
}

LocalEnd Striped(LocalCell cell, const std::vector<uint8_t> &a, const std::vector<uint8_t> &b,
                 const DPScoring &sc, double goal, double bound) {
    std::vector<char> work(LocalWorkBytes(cell, (int)b.size(), sc, bound));
    return LocalScoreStriped(cell, a.data(), (int)a.size(), b.data(), (int)b.size(), sc, goal,
                             bound, work.data(), nullptr);
}

// Runs f once for every instruction set, forced in turn, then lets the processor choose again.
template <typename F>
void OnEveryTarget(F f) {
    std::vector<int64_t> targets = LocalScorerTargets();
    ASSERT_FALSE(targets.empty());
    for (int64_t t : targets) {
        LocalScorerForce(t);
        ASSERT_EQ(LocalScorerTarget(), t);
        SCOPED_TRACE(LocalScorerTargetName(t));
        f();
    }
    LocalScorerForce(0);
}

TEST(LocalScorers, DoubleEqualsScalarBitForBit) {
    OnEveryTarget([] {
        std::mt19937 rng(15);
        for (int n = 0; n < 10000; n++) {
            Table t = RandomTable(rng, n % 5 == 0 ? 64 : 21, 30);
            std::vector<uint8_t> a, b;
            RandomPair(rng, t.dim, n % 50 == 0 ? 400 : 90, a, b);
            // Every tenth pair stops at a goal, at the first cell that reaches it.
            Scalar whole = ScalarLocal(a, b, t.sc, DBL_MAX);
            double goal = n % 10 == 0 ? std::floor(whole.score / 2) : DBL_MAX;
            Scalar s = goal == DBL_MAX ? whole : ScalarLocal(a, b, t.sc, goal);
            LocalEnd v = Striped(LocalCell::Double, a, b, t.sc, goal, 0);
            ASSERT_EQ(DoubleBits(v.score), DoubleBits(s.score)) << "pair " << n;
            ASSERT_EQ(v.max1, s.max1) << "pair " << n;
            ASSERT_EQ(v.max2, s.max2) << "pair " << n;
        }
    });
}

// Integer cells round every score up: never below the exact score, above it by at most one
// unit of 1/f per step of the path, and saturated exactly when the estimate reaches the bound.
TEST(LocalScorers, IntegerCellsAreUpperEstimates) {
    OnEveryTarget([] {
        std::mt19937 rng(16);
        for (int n = 0; n < 1000; n++) {
            Table t = RandomTable(rng, 21, 30);
            std::vector<uint8_t> a, b;
            RandomPair(rng, t.dim, n % 100 == 0 ? 3500 : 120, a, b);
            const double exact = ScalarLocal(a, b, t.sc, DBL_MAX).score;
            const double steps = (double)(a.size() + b.size());
            for (LocalCell cell : {LocalCell::Short, LocalCell::Byte}) {
                const double top = cell == LocalCell::Short ? 65535 : 255;
                const double bound = n % 3 == 0 ? 85 : 400;
                const double r = Striped(cell, a, b, t.sc, DBL_MAX, bound).score;
                ASSERT_GE(r, exact) << "pair " << n;
                if (exact >= bound) {
                    ASSERT_EQ(r, DBL_MAX) << "pair " << n;
                }
                if (r != DBL_MAX) {
                    ASSERT_LE(r, exact + steps * bound / top) << "pair " << n;
                } else {
                    ASSERT_GE(exact + steps * bound / top, bound) << "pair " << n;
                }
            }
        }
    });
}

TEST(LocalScorers, FloatCellsAreCloseAndEdgeCasesHold) {
    OnEveryTarget([] {
        std::mt19937 rng(17);
        for (int n = 0; n < 1000; n++) {
            Table t = RandomTable(rng, 21, 30);
            std::vector<uint8_t> a, b;
            RandomPair(rng, t.dim, 200, a, b);
            const double exact = ScalarLocal(a, b, t.sc, DBL_MAX).score;
            ASSERT_NEAR(Striped(LocalCell::Float, a, b, t.sc, DBL_MAX, 0).score, exact,
                        1e-5 * (1 + exact));
        }
        // Nothing scores above zero: the best is 0, in the first cell.
        std::vector<double> neg(4, -1.0);
        DPScoring sc{neg.data(), 2, -5, -1};
        std::vector<uint8_t> a{0, 1, 0}, b{1, 1};
        for (LocalCell cell : {LocalCell::Double, LocalCell::Float, LocalCell::Short}) {
            LocalEnd r = Striped(cell, a, b, sc, DBL_MAX, 85);
            EXPECT_EQ(r.score, 0);
        }
        EXPECT_EQ(Striped(LocalCell::Double, a, b, sc, DBL_MAX, 0).max1, 1);
        // A score too large for a byte cell is computed exactly, with the bound still applied.
        std::vector<double> big{200, -1, -1, 1};
        DPScoring bs{big.data(), 2, -5, -1};
        EXPECT_EQ(Striped(LocalCell::Byte, a, a, bs, DBL_MAX, 85).score, DBL_MAX);
        EXPECT_EQ(Striped(LocalCell::Byte, b, b, bs, DBL_MAX, 85).score, 2);
    });
}

} // namespace
