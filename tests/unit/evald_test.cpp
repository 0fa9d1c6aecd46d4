// Sums with compensation, powers, and the boxed values of the floating-point evaluator.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "evald.h"
#include "testkit.h"

namespace {

using namespace testkit;

class EvaldTest : public KernelTest {};

// The arithmetic transcript has the compensated and the symbolic sums of three terms or more.
TEST_F(EvaldTest, Sums) {
    double zero[] = {0}, big[] = {0, DBL_MAX, DBL_MAX};
    EXPECT_EQ(evaldSUM(zero, 1), 0.0);
    EXPECT_EQ(ErrorOf([&] { evaldSUM(big, 3); }), "unable to represent result");
    // The error value wins before any term is looked at, even a text that cannot shift.
    double t[] = {0, MakeNaN(CreateString("abc")), 1.5, NaNerror};
    EXPECT_TRUE(isNaNerror(evaldSUM(t, 4)));
    ALGEB x = naminstall("evald_test_x");
    double cancel[] = {0, MakeNaN(x), 1, -1};
    EXPECT_EQ(NaNtoALGEB(evaldSUM(cancel, 4)), x);
    // An unassigned name stays: 2*x is returned as the product it is.
    ALGEB p = New3(PROD, MKIMM(2), x);
    EXPECT_EQ(NaNtoALGEB(evald(p)), p);
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
