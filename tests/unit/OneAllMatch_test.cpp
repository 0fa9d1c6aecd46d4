// The database scan: the prefiltered, threaded scan against the plain scalar scan on random
// databases, matrices and goals, on every instruction set; the 16-bit bounds of a run.
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

// Runs f once for every instruction set, then lets the processor choose again.
template <typename F>
void OnEveryTarget(F f) {
    for (int64_t t : LocalScorerTargets()) {
        LocalScorerForce(t);
        SCOPED_TRACE(LocalScorerTargetName(t));
        f();
    }
    LocalScorerForce(0);
}

const char Letters[] = "ARNDCQEGHILKMFPSTWYVX";

std::string RandomSeq(std::mt19937 &rng, int n) {
    std::string s;
    for (int i = 0; i < n; i++)
        s += Letters[rng() % 21];
    return s;
}

// A copy with substitutions and indels.
std::string Mutated(std::mt19937 &rng, const std::string &a) {
    std::string b;
    for (char c : a) {
        const unsigned r = rng() % 100;
        if (r < 5) continue;
        b += r < 25 ? Letters[rng() % 21] : c;
        while (rng() % 100 < 4)
            b += Letters[rng() % 21];
    }
    return b;
}

class ScanTest : public QuietKernelTest {
  protected:
    ~ScanTest() override { Collect(); }

    // A 21-symbol matrix on a grid of 2^-30, not symmetric, with off-diagonal scores that
    // sometimes beat the diagonal (so that ShouldReach abandons entries that reach the goal).
    DayMatrix *RandomMatrix(std::mt19937 &rng) {
        ALGEB x = Newl1(DayMatrixWords(21), DAYMATRIX);
        DayMatrix *dm = (DayMatrix *)x;
        dm->dim = 21;
        dm->bits = 30;
        dm->DelCost = dm->DelCostArray = null;
        for (int c = 0; c < 256; c++)
            dm->charmap[c] = -1;
        std::uniform_real_distribution<double> off(-6, rng() % 2 ? 4 : 9), diag(2, 15);
        for (int a = 0; a < 21; a++)
            for (int b = 0; b < 21; b++)
                dm->Simi[a * 21 + b] = OnGrid(a == b ? diag(rng) : off(rng), 30);
        std::uniform_real_distribution<double> open(-25, -6), ext(-3, -0.3);
        dm->FixedDel = OnGrid(open(rng), 30);
        dm->IncDel = OnGrid(ext(rng), 30);
        dm->PamNumber = 100;
        keep.push_back(x);
        return dm;
    }

    // Entries of random sequences and of copies of a few ancestors; some sequences empty.
    const database *RandomDb(std::mt19937 &rng, int entries) {
        std::vector<std::string> ancestors;
        for (int k = 0; k < 3; k++)
            ancestors.push_back(RandomSeq(rng, 20 + (int)(rng() % 300)));
        std::string text;
        for (int e = 0; e < entries; e++) {
            const unsigned r = rng() % 10;
            const std::string s = r < 5   ? Mutated(rng, ancestors[rng() % 3])
                                  : r < 9 ? RandomSeq(rng, (int)(rng() % 400))
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

void ExpectSameMatches(ALGEB want, ALGEB got) {
    ASSERT_EQ(LENGTH(A(want[1])), LENGTH(A(got[1])));
    for (WORD k = 1; k < LENGTH(A(want[1])); k++) {
        const Match *a = (const Match *)A(A(want[1])[k]), *b = (const Match *)A(A(got[1])[k]);
        EXPECT_EQ(a->Sim, b->Sim) << "match " << k;
        EXPECT_EQ(a->Offset1, b->Offset1) << "match " << k;
        EXPECT_EQ(a->Offset2, b->Offset2) << "match " << k;
        EXPECT_EQ(a->Length1, b->Length1) << "match " << k;
        EXPECT_EQ(a->Length2, b->Length2) << "match " << k;
    }
}

TEST_F(ScanTest, EveryPlanGivesTheListOfThePlainScan) {
    std::mt19937 rng(16);
    int hits = 0, rounds = 0;
    OnEveryTarget([&] {
        for (int round = 0; round < 6; round++, rounds++) {
            DayMatrix *dm = RandomMatrix(rng);
            const database *df = RandomDb(rng, 20 + (int)(rng() % 40));
            const WORD n = (WORD)df->TotEntries;
            // The query: an entry, or a text of the database's letters (X included).
            ALGEB s = round % 3 == 0 ? Str(Mutated(rng, RandomSeq(rng, 200)))
                                     : I(1 + (WORD)(rng() % (n / 2)));
            const WORD first = rng() % 4 == 0 ? (WORD)(rng() % n) : 1;
            const WORD last = rng() % 4 == 0 ? first + (WORD)(rng() % n) : 2147483647;
            // Goals from low, where many entries pass the bound, to where only copies do.
            const double goal = 10 + (double)(rng() % 150);
            ALGEB plain = AlignOneAll(s, df, dm, goal, first, last, {1, false});
            hits += (int)LENGTH(A(plain[1])) - 1;
            // Each match is the best local alignment of its entry, at least the goal.
            for (WORD k = 1; k < LENGTH(A(plain[1])); k++) {
                const Match *m = (const Match *)A(A(plain[1])[k]);
                EXPECT_GE(m->Sim, goal);
            }
            for (ScanPlan plan :
                 {ScanPlan{1, true}, ScanPlan{2, true}, ScanPlan{3, false}, ScanPlan{4, true}}) {
                SCOPED_TRACE(testing::Message() << "round " << round << ", " << plan.threads
                                                << " threads, prefilter " << plan.prefilter);
                ExpectSameMatches(plain, AlignOneAll(s, df, dm, goal, first, last, plan));
            }
        }
    });
    // The random cases must have reported matches, and not every entry.
    EXPECT_GT(hits, rounds);
}

// The score of a reported entry is its exact local score, the start and end found by the
// reverse pass are those of an alignment with that score; an entry that reaches the goal
// only after rows whose best stays below ShouldReach is left out.
TEST_F(ScanTest, MatchesAreTheBestLocalAlignments) {
    std::mt19937 rng(17);
    for (int round = 0; round < 20; round++) {
        DayMatrix *dm = RandomMatrix(rng);
        const database *df = RandomDb(rng, 30);
        const double goal = 10 + (double)(rng() % 60);
        ALGEB r = AlignOneAll(I(1), df, dm, goal, 1, 2147483647, {2, true});
        const DPScoring sc{dm->Simi, 21, dm->FixedDel, dm->IncDel};
        for (WORD k = 1; k < LENGTH(A(r[1])); k++) {
            const Match *m = (const Match *)A(A(r[1])[k]);
            std::vector<uint8_t> a, b;
            for (INT i = 0; i < m->Length2; i++)
                a.push_back((uint8_t)ChartoPos[(unsigned char)df->string[m->Offset2 + i]]);
            for (INT j = 0; j < m->Length1; j++)
                b.push_back((uint8_t)ChartoPos[(unsigned char)df->string[m->Offset1 + j]]);
            std::vector<double> S(b.size() + 1), V(b.size() + 1);
            std::vector<int> from(b.size() + 1);
            DPPass global;
            global.mode = DPMode::Global;
            int m1, m2;
            const double g = DynProgScoreSS(a.data(), (int)a.size(), b.data(), (int)b.size(), sc,
                                            global, &m1, &m2, {S.data(), V.data(), from.data()});
            EXPECT_EQ(g, m->Sim) << "round " << round << ", match " << k;
        }
    }
}

TEST_F(ScanTest, AnInterruptEndsTheScanOnEveryThread) {
    std::mt19937 rng(18);
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
                if (next == exacts.size()) {
                    std::vector<double> S(q.size() + 1), V(q.size() + 1);
                    std::vector<int> from(q.size() + 1);
                    int m1, m2;
                    exacts.push_back(s.empty()
                                         ? 0
                                         : DynProgScoreSS(s.data(), (int)s.size(), q.data(),
                                                          (int)q.size(), sc, DPPass{}, &m1, &m2,
                                                          {S.data(), V.data(), from.data()}));
                }
                const double exact = exacts[next++];
                // One unit of 1/f a step, f = top / bound, the bound twice the largest score or
                // cost.
                const bool small = feed.bounds[k] < goal;
                (small ? below : above)++;
                const double slack =
                    (double)(s.size() + q.size()) *
                    (small ? std::max(goal, 24.3) / 255 : std::max(goal, 24.01) / 65535);
                ASSERT_GE(feed.bounds[k], exact) << "round " << round << ", sequence " << k;
                if (feed.bounds[k] != DBL_MAX) {
                    ASSERT_LE(feed.bounds[k], exact + slack) << "round " << round;
                } else {
                    ASSERT_GE(exact + slack, goal) << "round " << round;
                }
            }
        }
    });
    EXPECT_GT(below, 100);
    EXPECT_GT(above, 100);
}

} // namespace
