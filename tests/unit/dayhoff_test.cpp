// Dayhoff matrices from the bundled models against an eigen-decomposition of their rates, the
// rounding and gap costs of assembled matrices, the caches across collections, the codon
// table, and the model files against the published data they were written from.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "Dayhoff.h"
#include "eigenref.h"
#include "eval.h"
#include "matrix.h"
#include "testkit.h"

namespace {

using namespace testkit;

class DayhoffTest : public QuietKernelTest {};

std::string ReadFile(const std::string &path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::vector<double> Numbers(ALGEB list) {
    std::vector<double> v;
    ALGEB s = A(list[1]);
    for (WORD k = 1; k < LENGTH2(s); k++)
        v.push_back(DBL(A(s[k])));
    return v;
}

// A bundled model as the language reads it: S[i][j] for j < i, and the frequencies.
struct Model {
    std::vector<std::vector<double>> S;
    std::vector<double> f;
};

Model LoadModel(const std::string &name) {
    std::string text = ReadFile(std::string(LUMBRA_LIBDIR) + "/models/" + name);
    EXPECT_FALSE(text.empty()) << name;
    ALGEB data = eval(Parse(text));
    Model m;
    ALGEB rows = A(A(A(data[1])[1])[1]);
    m.S.push_back({});
    for (WORD i = 1; i < LENGTH2(rows); i++)
        m.S.push_back(Numbers(A(rows[i])));
    m.f = Numbers(A(A(data[1])[2]));
    return m;
}

// The counts form of a model: A[i][j] = S[i][j] f[i] f[j], rows of the lower triangle.
ALGEB Mutations(const Model &m) {
    ALGEB rows = Newl1((WORD)m.f.size() + 1, EXPSEQ);
    for (size_t i = 0; i < m.f.size(); i++) {
        std::vector<double> row(i + 1, 0);
        for (size_t j = 0; j < i; j++)
            row[j] = m.S[i][j] * m.f[i] * m.f[j];
        rows[i + 1] = W(Packed(row));
    }
    return New2(LIST, rows);
}

// exp(t L) by the eigen-decomposition; L[i][j] is the rate of j to i, f its equilibrium.
Dense ExpOfRates(const Dense &L, const std::vector<double> &f, double t) {
    int n = (int)f.size();
    Rates r{n, f, Dense(n * n)};
    for (int k = 0; k < n * n; k++) // rows of Q are the rates out of a symbol
        r.Q[k] = t * L[k % n * n + k / n];
    Dense E = ExpByEigen<long double>(r), T(n * n);
    for (int k = 0; k < n * n; k++)
        T[k] = E[k % n * n + k / n];
    return T;
}

bool MultipleOfUlp(double x, int bits) {
    double y = std::scalbn(x, bits);
    return y == std::rint(y);
}

TEST_F(DayhoffTest, BundledModelsAgainstEigenDecomposition) {
    const int n = 20;
    for (const char *name : {"LG", "WAG", "JTT"}) {
        SCOPED_TRACE(name);
        Model m = LoadModel(name);
        ASSERT_EQ(m.f.size(), 20u);
        ALGEB dms = CreateOrigDayMatrix(Mutations(m), Packed(m.f), New3(RANGE, I(1), I(250)));
        std::vector<double> f(NorFre, NorFre + n);
        Dense L(n * n);
        ListToArray(LastLogPAM1, L.data(), n, n);

        // PAM 1: stochastic columns, detailed balance, 1 % of the residues changed.
        Dense P = ExpOfRates(L, f, 1);
        double changed = 0;
        for (int j = 0; j < n; j++) {
            double col = 0;
            for (int i = 0; i < n; i++) {
                col += P[i * n + j];
                EXPECT_NEAR(P[i * n + j] * f[j], P[j * n + i] * f[i], 1e-15 * P[i * n + j] * f[j]);
            }
            EXPECT_NEAR(col, 1, 1e-15);
            changed += f[j] * (1 - P[j * n + j]);
        }
        EXPECT_GE(changed, 0.0098);
        EXPECT_LE(changed, 0.0101);

        // PAM 250, reached by 249 products: within one rounding step of the reference scores.
        ALGEB seq = A(dms[1]);
        ASSERT_EQ(LENGTH2(seq), 251);
        DayMatrix *dm = (DayMatrix *)A(seq[250]);
        EXPECT_EQ(dm->PamNumber, 250);
        ASSERT_EQ(dm->dim, 21);
        Dense P250 = ExpOfRates(L, f, 250);
        double maxs = 0;
        for (int i = 0; i < 21; i++)
            for (int j = 0; j < 21; j++) {
                double s = DMScore(dm, i, j);
                EXPECT_EQ(s, DMScore(dm, j, i));
                EXPECT_TRUE(MultipleOfUlp(s, dm->bits)) << i << " " << j;
                maxs = std::fmax(maxs, s);
                if (i == 20 || j == 20) {
                    EXPECT_EQ(s, 0);
                    continue;
                }
                double r = 10 * std::log10(P250[i * n + j] / f[i]);
                EXPECT_LE(std::fabs(s - r), std::scalbn(1.0, -dm->bits)) << i << " " << j;
            }
        EXPECT_EQ(dm->MaxSim, maxs);
        EXPECT_EQ(dm->bits, std::ilogb(0x1p53 / (2.0 * MAXSEQLEN * maxs)));
        for (double x : {dm->FixedDel, dm->IncDel, dm->StopSimil})
            EXPECT_TRUE(MultipleOfUlp(x, dm->bits)) << x;
        EXPECT_EQ(((DayMatrix *)A(seq[1]))->PamNumber, 1);
    }
}

TEST_F(DayhoffTest, AssembledScoresBitsAndGapCosts) {
    // Two symbols in detailed balance.
    double f2[] = {2.0 / 3, 1.0 / 3}, mp2[] = {0.9, 0.2, 0.1, 0.8};
    DayMatrix *dm = (DayMatrix *)AssembleDayMatrix(100, f2, mp2, 2, 2, null);
    EXPECT_EQ(dm->bits, std::ilogb(0x1p53 / (2.0 * MAXSEQLEN * 10 * std::log10(2.4))));
    EXPECT_NEAR(DMScore(dm, 0, 1), 10 * std::log10(0.3), std::scalbn(1.0, -dm->bits));
    EXPECT_EQ(DMScore(dm, 0, 1), DMScore(dm, 1, 0));
    EXPECT_TRUE(ISNULL(dm->DelCost) && ISNULL(dm->DelCostArray));
    // Affine gaps, then a procedure: tabled up to DELCOSTARRAYSIZE, called beyond.
    EXPECT_EQ(DeletionCost(0, dm), 0);
    EXPECT_EQ(DeletionCost(1, dm), dm->FixedDel);
    EXPECT_EQ(DeletionCost(11, dm), RoundDM(dm->FixedDel + 10 * dm->IncDel, dm));
    DayMatrixSel((ALGEB)dm, Seq({N("DelCost")}), 1, eval(Parse("proc(k, pam) -pam/10 - k/4 end")));
    EXPECT_EQ(DeletionCost(3, dm), RoundDM(-10.75, dm));
    EXPECT_EQ(DeletionCost(1000, dm), RoundDM(-260, dm));
    EXPECT_EQ(DeletionCost(1500, dm), RoundDM(-385, dm));
    // A mutation probability 0 scores -50; when no score reaches 1, 35 bits.
    mp2[1] = 0;
    EXPECT_EQ(DMScore((DayMatrix *)AssembleDayMatrix(100, f2, mp2, 2, 2, null), 0, 1), -50);
    double half[] = {0.5, 0.5}, even[] = {0.5, 0.5, 0.5, 0.5};
    EXPECT_EQ(((DayMatrix *)AssembleDayMatrix(9, half, even, 2, 2, null))->bits, 35);
}

TEST_F(DayhoffTest, CachesSurviveCollectionsAndAreReused) {
    ALGEB mut = List({Packed({0}), Packed({3, 0}), Packed({1, 2, 0})});
    ALGEB counts = Packed({10, 20, 30});
    ALGEB keep = N("DayhoffTestKeep");
    keep[1] = W(List({mut, counts}));
    CreateOrigDayMatrix(mut, counts, I(7));
    ALGEB logpam = LastLogPAM1;
    EXPECT_EQ(A(ININlogPAM1[1]), logpam);
    // Only the cache holds the log-PAM1 matrix now.
    ININlogPAM1[1] = 0;
    keep[1] = 0;
    Collect();
    EXPECT_FALSE(IsFree(logpam));
    EXPECT_FALSE(IsFree(mut));
    EXPECT_FALSE(IsFree(counts));

    // Same objects and logPAM1 as left, also after a call that failed: the log-PAM1 matrix
    // is taken, not computed again, and gives the same scores.
    ININlogPAM1[1] = W(logpam);
    EXPECT_EQ(ErrorOf([&] {
                  CreateOrigDayMatrix(mut, Packed({4, 5, 0}), I(7));
              }),
              "non-positive frequecies");
    DayMatrix *a = (DayMatrix *)CreateOrigDayMatrix(mut, counts, I(7));
    EXPECT_EQ(a->logPAM1, logpam);
    EXPECT_EQ(A(ININlogPAM1[1]), logpam);
    // Equal counts in another object: computed again, to the same scores.
    DayMatrix *b = (DayMatrix *)CreateOrigDayMatrix(mut, Packed({10, 20, 30}), I(7));
    EXPECT_NE(b->logPAM1, logpam);
    for (int k = 0; k < 9; k++)
        EXPECT_EQ(a->Simi[k], b->Simi[k]);
    ININlogPAM1[1] = 0;
}

// The third base may be unknown where all four give one amino acid; U reads as T.
TEST_F(DayhoffTest, CodonsOfFourfoldFamiliesNeedNoThirdBase) {
    const char *dna = "ACGT", *rna = "ACGU";
    for (int b1 = 0; b1 < 4; b1++)
        for (int b2 = 0; b2 < 4; b2++) {
            std::set<int> family;
            for (int b3 = 0; b3 < 4; b3++) {
                family.insert(CodonToInt(dna[b1], dna[b2], dna[b3]));
                EXPECT_EQ(CodonToInt(rna[b1], rna[b2], rna[b3]),
                          CodonToInt(dna[b1], dna[b2], dna[b3]));
            }
            EXPECT_EQ(CodonToInt(dna[b1], dna[b2], 'X'),
                      family.size() == 1 ? *family.begin() : AMINO_X)
                << dna[b1] << dna[b2];
        }
}

// The published numbers, in paml's order and spelling, against our files in our order.
TEST_F(DayhoffTest, ModelFilesHoldThePublishedNumbers) {
    const std::string dir = "/usr/lib/paml/data/dat/";
    if (ReadFile(dir + "lg.dat").empty()) GTEST_SKIP() << "paml is not installed";
    const char *files[][2] = {{"LG", "lg.dat"}, {"WAG", "wag.dat"}, {"JTT", "jones.dat"}};
    for (auto &c : files) {
        SCOPED_TRACE(c[0]);
        std::istringstream in(ReadFile(dir + c[1]));
        std::vector<double> nums;
        std::vector<int> order; // our code of paml's k-th amino acid
        for (std::string line; std::getline(in, line) && order.empty();) {
            std::istringstream words(line);
            const std::vector<std::string> w{std::istream_iterator<std::string>(words), {}};
            if (w.size() == 20 && w[0] == "Ala" && w[1] == "Arg")
                for (const std::string &a : w)
                    order.push_back(AAAToInt(a.data(), a.size()));
            else if (nums.size() < 210 && line.rfind("//", 0) != 0)
                for (const std::string &x : w)
                    nums.push_back(std::strtod(x.c_str(), nullptr));
        }
        ASSERT_EQ(order.size(), 20u);
        ASSERT_GE(nums.size(), 210u);
        Model m = LoadModel(c[0]);
        int k = 0;
        for (int i = 1; i < 20; i++)
            for (int j = 0; j < i; j++, k++) {
                int a = std::max(order[i], order[j]), b = std::min(order[i], order[j]);
                EXPECT_EQ(m.S[a][b], nums[k]) << i << " " << j;
            }
        for (int i = 0; i < 20; i++)
            EXPECT_EQ(m.f[order[i]], nums[190 + i]);
    }
}

} // namespace
