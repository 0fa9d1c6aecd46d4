// Sums with compensation, powers, and the boxed values of the floating-point evaluator.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "evald.h"
#include "testkit.h"

namespace {

using namespace testkit;

class EvaldTest : public KernelTest {};

TEST_F(EvaldTest, SumKeepsLowOrderBits) {
    const struct {
        std::vector<double> terms;
        double sum;
    } cases[] = {
        {{0, 1e16, 1, -1e16}, 1.0},                    // plainly summed, the 1 is lost
        {{0, 0.1, 0.2, -0.3}, 2.7755575615628914e-17}, // the exact sum of the three doubles
        {{0, 1, 1e100, 1, -1e100}, 2.0},
        {{0}, 0.0},
    };
    for (auto c : cases)
        EXPECT_EQ(evaldSUM(c.terms.data(), (int)c.terms.size()), c.sum) << c.terms[1];
    double big[] = {0, DBL_MAX, DBL_MAX};
    EXPECT_EQ(ErrorOf([&] { evaldSUM(big, 3); }), "unable to represent result");
    // The error value wins before any term is looked at, even a text that cannot shift.
    double t[] = {0, MakeNaN(CreateString("abc")), 1.5, NaNerror};
    EXPECT_TRUE(isNaNerror(evaldSUM(t, 4)));
    // 1e16 + 1 - 1e16 as written: the sum is compensated.
    EXPECT_EQ(evald(New4(SUM, Num(1e16), cons1, Num(-1e16))), 1.0);
}

TEST_F(EvaldTest, TextShiftKeepsTheCharacters) {
    ALGEB s = CreateString("hello world");
    double t[] = {0, MakeNaN(s), 4, 2};
    double r = evaldSUM(t, 4);
    ASSERT_TRUE(NaN(r));
    ALGEB v = NaNtoALGEB(r);
    EXPECT_EQ(Text(v), "world");
    EXPECT_EQ(STR(v)->t, STR(s)->t + 6);
    // Back again within the containing text.
    double back[] = {0, -3, r};
    EXPECT_EQ(Text(NaNtoALGEB(evaldSUM(back, 3))), "lo world");
}

TEST_F(EvaldTest, SymbolicSumsAndProducts) {
    ALGEB x = naminstall("evald_test_x"), y = naminstall("evald_test_y");
    double t[] = {0, 2, MakeNaN(x), 1};
    ALGEB s = NaNtoALGEB(evaldSUM(t, 4));
    ASSERT_TRUE(IDLENGTH(s, SUM, 3)); // the numbers gather into one term, last
    EXPECT_EQ(A(s[1]), x);
    EXPECT_TRUE(Eq(A(s[2]), 3));
    double cancel[] = {0, MakeNaN(x), 1, -1};
    EXPECT_EQ(NaNtoALGEB(evaldSUM(cancel, 4)), x);
    double two[] = {0, MakeNaN(x), MakeNaN(y)};
    EXPECT_EQ(DumpTree(NaNtoALGEB(evaldSUM(two, 3))), "SUM(evald_test_x,evald_test_y)");
    // An unassigned name stays: 2*x is returned as the product it is.
    ALGEB p = New3(PROD, MKIMM(2), x);
    EXPECT_EQ(NaNtoALGEB(evald(p)), p);
    // [1, 2, 3]^2 is the squared norm.
    ALGEB seq = New4(EXPSEQ, MKIMM(1), MKIMM(2), MKIMM(3));
    EXPECT_EQ(evald(New3(POWER, New2(LIST, seq), MKIMM(2))), 14.0);
}

// The powers transcript has the other special exponents and the refusals.
TEST_F(EvaldTest, Powers) {
    EXPECT_EQ(ErrorOf([] { smpow(0, -0.5); }), "division by zero");
    const double cases[][3] = {
        {-2, -1, -0.5}, {-2, -2, 0.25}, {-3, 2, 9}, {0, 2, 0}, {10, 3, 1000}};
    for (auto &c : cases)
        EXPECT_EQ(smpow(c[0], c[1]), c[2]) << c[0] << "^" << c[1];
}

TEST_F(EvaldTest, MaxMin) {
    ALGEB v = Packed({3, -7, 5});
    EXPECT_EQ(maxmin(1, MakeNaN(v)), 5);
    EXPECT_EQ(maxmin(2, MakeNaN(v)), -7);
    EXPECT_EQ(maxmin(1, MakeNaN(Newl1(1, LISTNUM))), -DBL_MAX);
    EXPECT_EQ(maxmin(2, MakeNaN(EmptyList)), DBL_MAX);
}

} // namespace
