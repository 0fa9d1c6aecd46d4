// Alignment scores and ranges of every mode against the enumeration of all alignments of short
// pairs, and convex gap costs against the plain cubic recurrence.
#include "testkit.h"

#include <algorithm>
#include <cfloat>
#include <random>
#include <string>
#include <vector>

#include "Dayhoff.h"
#include "DynProgr.h"
#include "DynProgr_convex.h"

namespace {

using namespace testkit;

class DynProgrTest : public QuietKernelTest {};

const int Dim = 21;

// A matrix on a grid of 2^-10 whose few symbols make ties common.
ALGEB SmallMatrix(std::mt19937 &rng) {
    ALGEB x = Newl1(DayMatrixWords(Dim), DAYMATRIX);
    DayMatrix *dm = (DayMatrix *)x;
    dm->type = dm->logPAM1 = dm->DelCost = dm->DelCostArray = null;
    dm->Mapping = 0;
    dm->dim = Dim;
    dm->bits = 10;
    for (auto &c : dm->charmap)
        c = -1;
    std::uniform_int_distribution<int> off(-6, 3), diag(2, 8);
    for (int a = 0; a < Dim; a++)
        for (int b = 0; b <= a; b++)
            dm->Simi[a * Dim + b] = dm->Simi[b * Dim + a] = a == b ? diag(rng) : off(rng) / 2.0;
    dm->FixedDel = -std::uniform_int_distribution<int>(4, 12)(rng) / 2.0;
    dm->IncDel = -std::uniform_int_distribution<int>(1, 4)(rng) / 4.0;
    dm->PamNumber = 250;
    return x;
}

// The best score of every alignment of a and b, column by column (gap = 1: the last column
// was a gap in b, 2: a gap in a), each one written out.
double Whole(const DayMatrix *dm, const std::string &a, const std::string &b, size_t i = 0,
             size_t j = 0, int gap = 0) {
    if (i == a.size() && j == b.size()) return 0;
    double best = -HUGE_VAL;
    if (i < a.size() && j < b.size())
        best = std::max(
            best, dm->Simi[ChartoPos[(unsigned char)a[i]] * Dim + ChartoPos[(unsigned char)b[j]]] +
                      Whole(dm, a, b, i + 1, j + 1, 0));
    if (i < a.size())
        best =
            std::max(best, (gap == 1 ? dm->IncDel : dm->FixedDel) + Whole(dm, a, b, i + 1, j, 1));
    if (j < b.size())
        best =
            std::max(best, (gap == 2 ? dm->IncDel : dm->FixedDel) + Whole(dm, a, b, i, j + 1, 2));
    return best;
}

// The best alignment of the pieces a[i1..j1] and b[i2..j2], counted from 1.
double Piece(const DayMatrix *dm, const std::string &a, int i1, int j1, const std::string &b,
             int i2, int j2) {
    return Whole(dm, a.substr(i1 - 1, j1 - i1 + 1), b.substr(i2 - 1, j2 - i2 + 1));
}

// The score and the ranges [from1, to1, from2, to2] that DynProgScore gives in a mode.
std::pair<double, std::vector<WORD>> Align(ALGEB dm, const std::string &a, const std::string &b,
                                           const char *mode) {
    ALGEB s = A(DynProgScore(Seq({Str(a), Str(b), dm, N(mode)}))[1]);
    std::vector<WORD> r;
    for (int k = 2; k < 4; k++)
        r.insert(r.end(), {IMMVAL(A(A(s[k])[1])), IMMVAL(A(A(s[k])[2]))});
    return {DBL(A(s[1])), r};
}

std::vector<uint8_t> Codes(const std::string &s) {
    std::vector<uint8_t> x;
    for (char ch : s)
        x.push_back((uint8_t)ChartoPos[(unsigned char)ch]);
    return x;
}

std::string RandomSeq(std::mt19937 &rng, int maxlen) {
    std::string s(std::uniform_int_distribution<int>(1, maxlen)(rng), 'A');
    for (auto &c : s)
        c = "ARND"[std::uniform_int_distribution<int>(0, 3)(rng)];
    return s;
}

TEST_F(DynProgrTest, ModesEqualTheEnumerationOfAllAlignments) {
    std::mt19937 rng(42);
    for (int n = 0; n < 300; n++) {
        ALGEB x = SmallMatrix(rng);
        const DayMatrix *dm = (DayMatrix *)x;
        const std::string a = RandomSeq(rng, 5), b = RandomSeq(rng, 5);
        SCOPED_TRACE(a + " " + b);
        const int la = (int)a.size(), lb = (int)b.size();

        EXPECT_EQ(Align(x, a, b, "Global"),
                  std::make_pair(Whole(dm, a, b), std::vector<WORD>({1, la, 1, lb})));

        // Local: the best pair of substrings; it ends at the first cell in row-major order
        // where a best one ends, and starts as late as possible.
        double best = 0;
        for (int i1 = 1; i1 <= la; i1++)
            for (int j1 = i1; j1 <= la; j1++)
                for (int i2 = 1; i2 <= lb; i2++)
                    for (int j2 = i2; j2 <= lb; j2++)
                        best = std::max(best, Piece(dm, a, i1, j1, b, i2, j2));
        std::vector<WORD> range = {1, 0, 1, 0};
        for (int j1 = 1; j1 <= la && best > 0 && range[1] == 0; j1++)
            for (int j2 = 1; j2 <= lb && range[1] == 0; j2++)
                for (int i1 = 1; i1 <= j1; i1++)
                    for (int i2 = 1; i2 <= j2; i2++)
                        if (Piece(dm, a, i1, j1, b, i2, j2) == best) range = {i1, j1, i2, j2};
        EXPECT_EQ(Align(x, a, b, "Local"), std::make_pair(best, range));

        // Cost-free ends: one sequence may lose a prefix and one a suffix for nothing.
        double cfe = -HUGE_VAL;
        for (int p = 0; p < la + lb - 1; p++)
            for (int q = 0; q < la + lb - 1; q++) {
                const int i1 = p < la ? p + 1 : 1, i2 = p < la ? 1 : p - la + 2;
                const int j1 = q < la ? la - q : la, j2 = q < la ? lb : lb - (q - la + 1);
                if (i1 > j1 || i2 > j2) continue;
                cfe = std::max(cfe, Piece(dm, a, i1, j1, b, i2, j2));
            }
        auto [score, r] = Align(x, a, b, "CFE");
        EXPECT_EQ(score, cfe);
        EXPECT_EQ(Piece(dm, a, r[0], r[1], b, r[2], r[3]), cfe);

        // The anchored pass of Shake: the best pair of prefixes of at least minlen.
        const int minlen = std::uniform_int_distribution<int>(0, std::min(la, lb))(rng);
        double shake = -HUGE_VAL;
        for (int j1 = std::max(1, minlen); j1 <= la; j1++)
            for (int j2 = std::max(1, minlen); j2 <= lb; j2++)
                shake = std::max(shake, Piece(dm, a, 1, j1, b, 1, j2));
        std::vector<double> S(lb + 1), V(lb + 1);
        std::vector<int> from(lb + 1);
        const std::vector<uint8_t> xa = Codes(a), xb = Codes(b);
        DPPass pass;
        pass.mode = DPMode::Shake;
        pass.minlen = minlen;
        int m1, m2;
        const DPScoring sc{dm->Simi, Dim, dm->FixedDel, dm->IncDel};
        EXPECT_EQ(DynProgScoreSS(xa.data(), la, xb.data(), lb, sc, pass, &m1, &m2,
                                 {S.data(), V.data(), from.data()}),
                  shake);
        EXPECT_EQ(Piece(dm, a, 1, m1, b, 1, m2), shake);
    }
}

// Convex costs: the candidate stacks against the recurrence that tries every gap length.
TEST_F(DynProgrTest, ConvexGapsEqualTheCubicRecurrence) {
    std::mt19937 rng(7);
    for (int n = 0; n < 500; n++) {
        ALGEB x = SmallMatrix(rng);
        const DayMatrix *dm = (DayMatrix *)x;
        const std::string a = RandomSeq(rng, 40), b = RandomSeq(rng, 40);
        const int la = (int)a.size(), lb = (int)b.size(), top = std::max(la, lb) + 1;
        // c[k] = -(o + e k^p) with p < 1 (integral steps keep the sums exact): convex.
        std::vector<double> c(top + 1);
        const double o = std::uniform_int_distribution<int>(2, 10)(rng);
        const double p = std::uniform_real_distribution<double>(0.2, 1.0)(rng);
        for (int k = 1; k <= top; k++)
            c[k] = -std::rint(64 * (o + 2 * std::pow(k, p))) / 64;
        const std::vector<uint8_t> xa = Codes(a), xb = Codes(b);
        const DPScoring sc{dm->Simi, Dim, 0, 0};
        for (DPMode mode : {DPMode::Local, DPMode::Global}) {
            const bool local = mode == DPMode::Local;
            std::vector<std::vector<double>> S(la + 1, std::vector<double>(lb + 1));
            double best = local ? 0 : -HUGE_VAL;
            for (int i = 0; i <= la; i++)
                for (int j = 0; j <= lb; j++) {
                    if (i == 0 || j == 0) {
                        S[i][j] = local ? 0 : c[i + j];
                        continue;
                    }
                    double s = S[i - 1][j - 1] + dm->Simi[xa[i - 1] * Dim + xb[j - 1]];
                    for (int k = 0; k < i; k++)
                        s = std::max(s, S[k][j] + c[i - k]);
                    for (int k = 0; k < j; k++)
                        s = std::max(s, S[i][k] + c[j - k]);
                    S[i][j] = local ? std::max(s, 0.0) : s;
                    best = std::max(best, S[i][j]);
                }
            if (!local) best = S[la][lb];
            int m1, m2;
            EXPECT_EQ(ConvexScore(xa.data(), la, xb.data(), lb, sc, c.data(), mode, HUGE_VAL, &m1,
                                  &m2, nullptr),
                      best)
                << a << " " << b;
        }
    }
}

} // namespace
