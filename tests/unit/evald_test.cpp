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
    double t1[] = {0, 1e16, 1, -1e16};
    EXPECT_EQ(evaldSUM(t1, 4), 1.0); // plainly summed, the 1 is lost
    double t2[] = {0, 0.1, 0.2, -0.3};
    EXPECT_EQ(evaldSUM(t2, 4), 2.7755575615628914e-17); // the exact sum of the three doubles
    double t3[] = {0, 1, 1e100, 1, -1e100};
    EXPECT_EQ(evaldSUM(t3, 5), 2.0);
    double empty[] = {0};
    EXPECT_EQ(evaldSUM(empty, 1), 0.0);
}

TEST_F(EvaldTest, SumOverflowAndErrorValue) {
    double big[] = {0, DBL_MAX, DBL_MAX};
    EXPECT_EQ(ErrorOf([&] { evaldSUM(big, 3); }), "unable to represent result");
    // The error value wins before any term is looked at, even a text that cannot shift.
    double t[] = {0, MakeNaN(CreateString("abc")), 1.5, NaNerror};
    EXPECT_TRUE(isNaNerror(evaldSUM(t, 4)));
}

TEST_F(EvaldTest, SumOfVectorsAndMixedTerms) {
    ALGEB a = Newl1(3, LISTNUM), b = Newl1(3, LISTNUM);
    LISTNUMDATA(a)[0] = 1, LISTNUMDATA(a)[1] = 2;
    LISTNUMDATA(b)[0] = 10, LISTNUMDATA(b)[1] = 20;
    double t[] = {0, MakeNaN(a), MakeNaN(b)};
    double r = evaldSUM(t, 3);
    ASSERT_TRUE(NaN(r));
    ALGEB v = NaNtoALGEB(r);
    ASSERT_EQ(ID(v), LISTNUM);
    EXPECT_EQ(LISTNUMDATA(v)[0], 11);
    EXPECT_EQ(LISTNUMDATA(v)[1], 22);
    double m1[] = {0, MakeNaN(a), 1};
    EXPECT_EQ(ErrorOf([&] { evaldSUM(m1, 3); }), "mixed terms in sum");
    double m2[] = {0, 1, MakeNaN(a)};
    EXPECT_EQ(ErrorOf([&] { evaldSUM(m2, 3); }), "mixed terms in sum");
    ALGEB c = Newl1(4, LISTNUM);
    double m3[] = {0, MakeNaN(a), MakeNaN(c)};
    EXPECT_EQ(ErrorOf([&] { evaldSUM(m3, 3); }), "different length arrays in sum");
}

TEST_F(EvaldTest, TextShift) {
    ALGEB s = CreateString("hello world");
    double t[] = {0, MakeNaN(s), 4, 2};
    double r = evaldSUM(t, 4);
    ASSERT_TRUE(NaN(r));
    ALGEB v = NaNtoALGEB(r);
    ASSERT_EQ(ID(v), TEXT);
    EXPECT_EQ(std::string(STR(v)->t, STR(v)->length), "world");
    EXPECT_EQ(STR(v)->t, STR(s)->t + 6); // the same characters, not a copy
    // Back again within the containing text.
    double back[] = {0, -3, r};
    ALGEB w = NaNtoALGEB(evaldSUM(back, 3));
    EXPECT_EQ(std::string(STR(w)->t, STR(w)->length), "lo world");
    double before[] = {0, MakeNaN(s), -1};
    EXPECT_EQ(ErrorOf([&] { evaldSUM(before, 3); }), "string shifted out of allowable bounds");
    double after[] = {0, MakeNaN(s), 12};
    EXPECT_EQ(ErrorOf([&] { evaldSUM(after, 3); }), "string shifted out of allowable bounds");
    double frac[] = {0, MakeNaN(s), 0.5};
    EXPECT_EQ(ErrorOf([&] { evaldSUM(frac, 3); }), "cannot shift string by a fraction");
    double two[] = {0, MakeNaN(s), MakeNaN(s)};
    EXPECT_EQ(ErrorOf([&] { evaldSUM(two, 3); }), "invalid addition of text");
}

TEST_F(EvaldTest, SymbolicSums) {
    ALGEB x = naminstall("evald_test_x"), y = naminstall("evald_test_y");
    double t[] = {0, 2, MakeNaN(x), 1};
    double r = evaldSUM(t, 4);
    ASSERT_TRUE(NaN(r));
    ALGEB s = NaNtoALGEB(r);
    ASSERT_TRUE(IDLENGTH(s, SUM, 3)); // the numbers gather into one term, last
    EXPECT_EQ(A(s[1]), x);
    EXPECT_TRUE(Eq(A(s[2]), 3));
    double cancel[] = {0, MakeNaN(x), 1, -1};
    EXPECT_EQ(NaNtoALGEB(evaldSUM(cancel, 4)), x);
    double two[] = {0, MakeNaN(x), MakeNaN(y)};
    ALGEB u = NaNtoALGEB(evaldSUM(two, 3));
    ASSERT_TRUE(IDLENGTH(u, SUM, 3));
    EXPECT_EQ(A(u[1]), x);
    EXPECT_EQ(A(u[2]), y);
    double set[] = {0, MakeNaN(EmptySet), 1};
    EXPECT_EQ(ErrorOf([&] { evaldSUM(set, 3); }),
              "unevaluated terms in sum or polymorphic plus not defined");
}

TEST_F(EvaldTest, Powers) {
    EXPECT_EQ(ErrorOf([] { smpow(0, -1); }), "division by zero");
    EXPECT_EQ(ErrorOf([] { smpow(0, -0.5); }), "division by zero");
    EXPECT_EQ(ErrorOf([] { smpow(-8, 1.0 / 3); }),
              "cannot compute fractional power of negative base");
    EXPECT_EQ(smpow(-8, 3), -512);
    EXPECT_EQ(smpow(-2, -1), -0.5);
    EXPECT_EQ(smpow(-2, -2), 0.25);
    EXPECT_EQ(smpow(0, 0), 1);
    EXPECT_EQ(smpow(0, 2), 0);
    EXPECT_EQ(smpow(2, 0.5), std::sqrt(2.0));
    EXPECT_EQ(smpow(4, -0.5), 0.5);
    EXPECT_EQ(smpow(10, 3), 1000);
}

TEST_F(EvaldTest, EvaluatesArithmeticObjects) {
    // 1e16 + 1 - 1e16 as written: the sum is compensated.
    ALGEB s = New4(SUM, Num(1e16), cons1, Num(-1e16));
    EXPECT_EQ(evald(s), 1.0);
    // [1, 2, 3]^2 is the squared norm.
    ALGEB seq = New4(EXPSEQ, MKIMM(1), MKIMM(2), MKIMM(3));
    EXPECT_EQ(evald(New3(POWER, New2(LIST, seq), MKIMM(2))), 14.0);
    // 6 / (2 * 1.5)
    ALGEB q = New3(PROD, MKIMM(6), New3(POWER, New3(PROD, MKIMM(2), Num(1.5)), consm1));
    EXPECT_EQ(evald(q), 2.0);
    EXPECT_EQ(ErrorOf([] { evald(New3(PROD, MKIMM(1), New3(POWER, cons0, consm1))); }),
              "division by zero");
    // An unassigned name stays: 2*x is returned as the product it is.
    ALGEB x = naminstall("evald_test_z");
    ALGEB p = New3(PROD, MKIMM(2), x);
    EXPECT_EQ(NaNtoALGEB(evald(p)), p);
    ALGEB sx = New3(SUM, x, cons1);
    EXPECT_EQ(NaNtoALGEB(evald(sx)), sx);
}

TEST_F(EvaldTest, MaxMin) {
    ALGEB v = Newl1(4, LISTNUM);
    LISTNUMDATA(v)[0] = 3, LISTNUMDATA(v)[1] = -7, LISTNUMDATA(v)[2] = 5;
    EXPECT_EQ(maxmin(1, MakeNaN(v)), 5);
    EXPECT_EQ(maxmin(2, MakeNaN(v)), -7);
    EXPECT_EQ(maxmin(1, 2.5), 2.5);
    EXPECT_EQ(maxmin(1, MakeNaN(Newl1(1, LISTNUM))), -DBL_MAX);
    EXPECT_EQ(maxmin(2, MakeNaN(EmptyList)), DBL_MAX);
    ALGEB nested = New2(LIST, New3(EXPSEQ, MKIMM(4), New2(LIST, New2(EXPSEQ, MKIMM(9)))));
    EXPECT_EQ(maxmin(1, MakeNaN(nested)), 9);
    EXPECT_EQ(ErrorOf([] { maxmin(1, MakeNaN(naminstall("evald_test_w"))); }),
              "invalid argument for max/min");
}

} // namespace
