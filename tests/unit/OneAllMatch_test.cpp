// The vectorised local scorers against the scalar recurrence, and the database scan built on
// them: the prefiltered, threaded scan against the plain scalar scan on random databases,
// matrices and goals, and the 16-bit bounds of a run; all on every instruction set this
// processor has.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "Dayhoff.h"
#include "DynProgr.h"
#include "LoadFile.h"
#include "OneAllMatch.h"
#include "testkit.h"

using namespace testkit;

namespace {

double OnGrid(double x, int bits) { return std::scalbn(std::rint(std::scalbn(x, bits)), -bits); }

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

// The scalar recurrence: the score and the cell where it is reached.
struct Plain {
    double score;
    int max1, max2;
};

Plain PlainScore(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b, const DPScoring &sc,
                 const DPPass &pass = {}) {
    std::vector<double> S(b.size() + 1), V(b.size() + 1);
    std::vector<int> from(b.size() + 1);
    Plain r{};
    r.score = DynProgScoreSS(a.data(), (int)a.size(), b.data(), (int)b.size(), sc, pass, &r.max1,
                             &r.max2, {S.data(), V.data(), from.data()});
    return r;
}

// A score table with values on a grid of 2^-30, like a Dayhoff matrix's.
struct Table {
    int dim;
    std::vector<double> simi;
    DPScoring sc;
};

Table RandomTable(std::mt19937 &rng, int dim, bool symmetric = true, double offmax = 4) {
    Table t{dim, std::vector<double>((size_t)dim * dim), {}};
    std::uniform_real_distribution<double> off(-6, offmax), diag(2, 15), open(-25, -6),
        ext(-3, -0.3);
    for (int a = 0; a < dim; a++)
        for (int b = 0; b < dim; b++)
            t.simi[a * dim + b] = symmetric && b < a ? t.simi[b * dim + a]
                                                     : OnGrid(a == b ? diag(rng) : off(rng), 30);
    t.sc = {t.simi.data(), dim, OnGrid(open(rng), 30), OnGrid(ext(rng), 30)};
    return t;
}

int Draw(std::mt19937 &rng, int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}

std::vector<uint8_t> RandomCodes(std::mt19937 &rng, int dim, int n) {
    std::vector<uint8_t> a(n);
    for (auto &c : a)
        c = (uint8_t)Draw(rng, 0, dim - 1);
    return a;
}

// A copy with substitutions and indels, so that long alignments with gaps, and so the lazy pass
// across lanes, are common.
std::vector<uint8_t> Mutated(std::mt19937 &rng, int dim, const std::vector<uint8_t> &a) {
    std::vector<uint8_t> b;
    for (uint8_t c : a) {
        const int r = Draw(rng, 0, 99);
        if (r < 6) continue;
        b.push_back(r < 20 ? (uint8_t)Draw(rng, 0, dim - 1) : c);
        while (Draw(rng, 0, 99) < 5)
            b.push_back((uint8_t)Draw(rng, 0, dim - 1));
    }
    return b;
}

// Unrelated sequences, or a sequence and a copy of it.
void RandomPair(std::mt19937 &rng, int dim, int maxlen, std::vector<uint8_t> &a,
                std::vector<uint8_t> &b) {
    a = RandomCodes(rng, dim, Draw(rng, 1, maxlen));
    b = Draw(rng, 0, 99) < 50 ? RandomCodes(rng, dim, Draw(rng, 1, maxlen)) : Mutated(rng, dim, a);
    if (b.empty()) b.push_back((uint8_t)Draw(rng, 0, dim - 1));
}

LocalEnd Striped(LocalCell cell, const std::vector<uint8_t> &a, const std::vector<uint8_t> &b,
                 const DPScoring &sc, double goal, double bound) {
    std::vector<char> work(LocalWorkBytes(cell, (int)b.size(), sc, bound));
    return LocalScoreStriped(cell, a.data(), (int)a.size(), b.data(), (int)b.size(), sc, goal,
                             bound, work.data(), nullptr);
}

TEST(LocalScorers, DoubleEqualsScalarBitForBit) {
    OnEveryTarget([] {
        std::mt19937 rng(15);
        for (int n = 0; n < 10000; n++) {
            Table t = RandomTable(rng, n % 5 == 0 ? 64 : 21);
            std::vector<uint8_t> a, b;
            RandomPair(rng, t.dim, n % 50 == 0 ? 400 : 90, a, b);
            // Every tenth pair stops at a goal, at the first cell that reaches it.
            DPPass pass;
            if (n % 10 == 0) pass.goal = std::floor(PlainScore(a, b, t.sc).score / 2);
            Plain s = PlainScore(a, b, t.sc, pass);
            LocalEnd v = Striped(LocalCell::Double, a, b, t.sc, pass.goal, 0);
            ASSERT_EQ(DoubleBits(v.score), DoubleBits(s.score)) << "pair " << n;
            ASSERT_EQ(v.max1, s.max1) << "pair " << n;
            ASSERT_EQ(v.max2, s.max2) << "pair " << n;
        }
    });
}

// Integer cells round every score up: never below the exact score, above it by at most one
// unit of 1/f per step of the path, and saturated exactly when the estimate reaches the bound.
// Float cells are close.
TEST(LocalScorers, OtherCellsEstimateTheScore) {
    OnEveryTarget([] {
        std::mt19937 rng(16);
        for (int n = 0; n < 1000; n++) {
            Table t = RandomTable(rng, 21);
            std::vector<uint8_t> a, b;
            RandomPair(rng, t.dim, n % 100 == 0 ? 3500 : 120, a, b);
            const double exact = PlainScore(a, b, t.sc).score;
            const double steps = (double)(a.size() + b.size());
            ASSERT_NEAR(Striped(LocalCell::Float, a, b, t.sc, DBL_MAX, 0).score, exact,
                        1e-5 * (1 + exact));
            for (LocalCell cell : {LocalCell::Short, LocalCell::Byte}) {
                const double top = cell == LocalCell::Short ? 65535 : 255;
                const double bound = n % 3 == 0 ? 85 : 400;
                const double r = Striped(cell, a, b, t.sc, DBL_MAX, bound).score;
                ASSERT_GE(r, exact) << "pair " << n;
                ASSERT_TRUE(exact < bound || r == DBL_MAX) << "pair " << n;
                // Saturated, the estimate was at least the bound.
                ASSERT_LE(r != DBL_MAX ? r : bound, exact + steps * bound / top) << "pair " << n;
            }
        }
        // Nothing scores above zero: the best is 0, in the first cell.
        std::vector<double> neg(4, -1.0), big{200, -1, -1, 1};
        DPScoring sc{neg.data(), 2, -5, -1}, bs{big.data(), 2, -5, -1};
        std::vector<uint8_t> a{0, 1, 0}, b{1, 1};
        for (LocalCell cell : {LocalCell::Double, LocalCell::Float, LocalCell::Short})
            EXPECT_EQ(Striped(cell, a, b, sc, DBL_MAX, 85).score, 0);
        EXPECT_EQ(Striped(LocalCell::Double, a, b, sc, DBL_MAX, 0).max1, 1);
        // A score too large for a byte cell is computed exactly, with the bound still applied.
        EXPECT_EQ(Striped(LocalCell::Byte, a, a, bs, DBL_MAX, 85).score, DBL_MAX);
        EXPECT_EQ(Striped(LocalCell::Byte, b, b, bs, DBL_MAX, 85).score, 2);
    });
}

std::string Letters(const std::vector<uint8_t> &x) {
    std::string s;
    for (uint8_t c : x)
        s += "ARNDCQEGHILKMFPSTWYVX"[c];
    return s;
}

class ScanTest : public QuietKernelTest {
  protected:
    ~ScanTest() override { Collect(); }

    // A 21-symbol matrix, not symmetric, with off-diagonal scores that sometimes beat the
    // diagonal (so that ShouldReach abandons entries that reach the goal).
    DayMatrix *RandomMatrix(std::mt19937 &rng) {
        const Table t = RandomTable(rng, 21, false, rng() % 2 ? 4 : 9);
        ALGEB x = Newl1(DayMatrixWords(21), DAYMATRIX);
        DayMatrix *dm = (DayMatrix *)x;
        dm->dim = 21;
        dm->bits = 30;
        dm->DelCost = dm->DelCostArray = null;
        std::fill(dm->charmap, dm->charmap + 256, -1);
        std::copy(t.simi.begin(), t.simi.end(), dm->Simi);
        dm->FixedDel = t.sc.FixedDel;
        dm->IncDel = t.sc.IncDel;
        dm->PamNumber = 100;
        keep.push_back(x);
        return dm;
    }

    // Entries of random sequences and of copies of a few ancestors; some sequences empty.
    const database *RandomDb(std::mt19937 &rng, int entries) {
        std::vector<std::vector<uint8_t>> ancestors;
        for (int k = 0; k < 3; k++)
            ancestors.push_back(RandomCodes(rng, 21, 20 + Draw(rng, 0, 299)));
        std::string text;
        for (int e = 0; e < entries; e++) {
            const unsigned r = rng() % 10;
            const std::string s = r < 5   ? Letters(Mutated(rng, 21, ancestors[rng() % 3]))
                                  : r < 9 ? Letters(RandomCodes(rng, 21, Draw(rng, 0, 399)))
                                          : "";
            text += "<E><ID>E" + std::to_string(e) + "</ID><SEQ>" + s + "</SEQ></E>\n";
        }
        ALGEB rec = Newl1(NrALGEBs(1, database), DNAFILE);
        database *df = (database *)rec;
        df->TextObj = Str(text);
        df->string = STR(df->TextObj)->t;
        df->TotChars = text.size();
        UnitCapture quiet;
        PreProInput(df->string, df->TotChars, df, false);
        keep.push_back(rec);
        return df;
    }

    std::vector<ALGEB> keep;
};

const Match *MatchAt(ALGEB list, WORD k) { return (const Match *)A(A(list[1])[k]); }

TEST_F(ScanTest, EveryPlanGivesTheListOfThePlainScan) {
    std::mt19937 rng(16);
    int hits = 0, rounds = 0;
    OnEveryTarget([&] {
        for (int round = 0; round < 6; round++, rounds++) {
            DayMatrix *dm = RandomMatrix(rng);
            const database *df = RandomDb(rng, 20 + (int)(rng() % 40));
            const WORD n = (WORD)df->TotEntries;
            // The query: an entry, or a text of the database's letters (X included).
            ALGEB s = round % 3 == 0 ? Str(Letters(Mutated(rng, 21, RandomCodes(rng, 21, 200))))
                                     : I(1 + (WORD)(rng() % (n / 2)));
            const WORD first = rng() % 4 == 0 ? (WORD)(rng() % n) : 1;
            const WORD last = rng() % 4 == 0 ? first + (WORD)(rng() % n) : 2147483647;
            // Goals from low, where many entries pass the bound, to where only copies do.
            const double goal = 10 + (double)(rng() % 150);
            ALGEB plain = AlignOneAll(s, df, dm, goal, first, last, {1, false});
            const WORD count = LENGTH(A(plain[1]));
            hits += (int)count - 1;
            for (WORD k = 1; k < count; k++)
                EXPECT_GE(MatchAt(plain, k)->Sim, goal);
            for (ScanPlan plan :
                 {ScanPlan{1, true}, ScanPlan{2, true}, ScanPlan{3, false}, ScanPlan{4, true}}) {
                SCOPED_TRACE(testing::Message() << "round " << round << ", " << plan.threads
                                                << " threads, prefilter " << plan.prefilter);
                ALGEB got = AlignOneAll(s, df, dm, goal, first, last, plan);
                ASSERT_EQ(LENGTH(A(got[1])), count);
                for (WORD k = 1; k < count; k++) {
                    const Match *a = MatchAt(plain, k), *b = MatchAt(got, k);
                    EXPECT_TRUE(a->Sim == b->Sim && a->Offset1 == b->Offset1 &&
                                a->Offset2 == b->Offset2 && a->Length1 == b->Length1 &&
                                a->Length2 == b->Length2)
                        << "match " << k;
                }
            }
        }
    });
    // The random cases must have reported matches, and not every entry.
    EXPECT_GT(hits, rounds);
}

// The score of a reported entry is its exact local score, the start and end found by the
// reverse pass are those of an alignment with that score; an entry that reaches the goal
// only after rows whose best stays below ShouldReach is left out. An interrupt ends the scan
// on every thread.
TEST_F(ScanTest, MatchesAreTheBestLocalAlignments) {
    std::mt19937 rng(17);
    auto codes = [](const database *df, WORD off, INT len) {
        std::vector<uint8_t> x;
        for (INT i = 0; i < len; i++)
            x.push_back((uint8_t)ChartoPos[(unsigned char)df->string[off + i]]);
        return x;
    };
    DPPass global;
    global.mode = DPMode::Global;
    for (int round = 0; round < 20; round++) {
        DayMatrix *dm = RandomMatrix(rng);
        const database *df = RandomDb(rng, 30);
        ALGEB r = AlignOneAll(I(1), df, dm, 10 + (double)(rng() % 60), 1, 2147483647, {2, true});
        const DPScoring sc{dm->Simi, 21, dm->FixedDel, dm->IncDel};
        for (WORD k = 1; k < LENGTH(A(r[1])); k++) {
            const Match *m = MatchAt(r, k);
            EXPECT_EQ(PlainScore(codes(df, m->Offset2, m->Length2),
                                 codes(df, m->Offset1, m->Length1), sc, global)
                          .score,
                      m->Sim)
                << "round " << round << ", match " << k;
        }
    }
    DayMatrix *dm = RandomMatrix(rng);
    const database *df = RandomDb(rng, 40);
    InterruptNow = 1;
    for (ScanPlan plan : {ScanPlan{1, false}, ScanPlan{3, true}}) {
        try {
            AlignOneAll(I(1), df, dm, 20, 1, 2147483647, plan);
            ADD_FAILURE() << "the scan was not interrupted";
        } catch (const Unwind &u) {
            EXPECT_EQ(u.code, Main);
        }
    }
    InterruptNow = 0;
}

// The bounds of a run are never below the exact local score, and above it by at most the
// rounding of each step of the path: no score or gap cost is clamped to fit the cells. Those
// below the goal may come from the 8-bit cells, the others from the 16-bit cells.
TEST(ScanBounds, AreUpperBoundsOnEveryTarget) {
    int below = 0, above = 0;
    std::vector<double> exacts; // the same for every target, so computed once
    OnEveryTarget([&] {
        size_t next = 0;
        std::mt19937 rng(19);
        for (int round = 0; round < 50; round++) {
            std::vector<double> simi(21 * 21);
            for (double &x : simi)
                x = OnGrid(std::uniform_real_distribution<double>(-6, 12)(rng), 30);
            const DPScoring sc{simi.data(), 21, OnGrid(-11.75, 30), OnGrid(-1.5, 30)};
            std::vector<uint8_t> q(1 + rng() % 300);
            for (uint8_t &c : q)
                c = (uint8_t)(rng() % 21);
            std::vector<std::vector<uint8_t>> run(30);
            for (auto &s : run) {
                s.resize(rng() % 2 ? rng() % 400 : q.size());
                for (size_t i = 0; i < s.size(); i++)
                    s[i] = i < q.size() && rng() % 3 ? q[i] : (uint8_t)(rng() % 21);
            }
            struct Feed {
                std::vector<std::vector<uint8_t>> *run;
                size_t next = 0;
                std::vector<double> bounds;
            } feed{&run, 0, {}};
            BoundFeed f{[](void *ctx, int *l) -> const uint8_t * {
                            Feed &x = *(Feed *)ctx;
                            if (x.next == x.run->size()) return nullptr;
                            auto &s = (*x.run)[x.next++];
                            *l = (int)s.size();
                            static const uint8_t none = 0;
                            return s.empty() ? &none : s.data();
                        },
                        [](void *ctx, double b) { ((Feed *)ctx)->bounds.push_back(b); }, &feed};
            const double goal = 10 + (double)(rng() % 200);
            std::vector<char> work(LocalBoundsWorkBytes((int)q.size(), sc, goal));
            ASSERT_TRUE(LocalBounds(q.data(), (int)q.size(), sc, goal, f, work.data(), nullptr));
            ASSERT_EQ(feed.bounds.size(), run.size());
            for (size_t k = 0; k < run.size(); k++) {
                const auto &s = run[k];
                if (next == exacts.size())
                    exacts.push_back(s.empty() ? 0 : PlainScore(s, q, sc).score);
                const double exact = exacts[next++], bound = feed.bounds[k];
                // One unit of 1/f a step, f = top / bound, the bound twice the largest score or
                // cost.
                const bool small = bound < goal;
                (small ? below : above)++;
                const double slack =
                    (double)(s.size() + q.size()) *
                    (small ? std::max(goal, 24.3) / 255 : std::max(goal, 24.01) / 65535);
                ASSERT_GE(bound, exact) << "round " << round << ", sequence " << k;
                ASSERT_LE(bound != DBL_MAX ? bound : goal, exact + slack) << "round " << round;
            }
        }
    });
    EXPECT_GT(below, 100);
    EXPECT_GT(above, 100);
}

} // namespace
