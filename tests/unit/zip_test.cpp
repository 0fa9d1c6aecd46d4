// Element-wise evaluation: packed lists of doubles take fast paths that must give the same
// numbers as lists of number objects, and must leave their operands alone.
#include <gtest/gtest.h>

#include "testkit.h"
#include "zip.h"

namespace {

using namespace testkit;

// The operands stay assigned to a and b only for the test.
class ZipTest : public KernelTest {
  protected:
    void TearDown() override {
        naminstall("a")[1] = 0;
        naminstall("b")[1] = 0;
    }
};

const std::vector<double> A1 = {0.1, -2.5, 1e16, 3, 7.25e-3};
const std::vector<double> B1 = {0.2, 4, 1, -0.3, 1.5};

ALGEB Plain(const std::vector<double> &v) {
    ALGEB s = Newl1((WORD)v.size() + 1, EXPSEQ);
    for (size_t i = 0; i < v.size(); i++)
        s[i + 1] = W(NewNumber(v[i]));
    return New2(LIST, s);
}

// The names a and b hold the operands; the expression is parsed as a user would type it.
ALGEB Zip(const char *expr, ALGEB a, ALGEB b) {
    naminstall("a")[1] = W(a);
    naminstall("b")[1] = W(b);
    return zip(Parse(expr));
}

std::vector<double> Doubles(ALGEB x) {
    std::vector<double> r;
    if (ID(x) == LISTNUM) {
        for (WORD i = 0; i < LISTNUMLEN(x); i++)
            r.push_back(LISTNUMDATA(x)[i]);
    } else {
        EXPECT_EQ(ID(x), LIST);
        ALGEB s = A(x[1]);
        for (WORD i = 1; i < LENGTH(s); i++)
            r.push_back(DBL(A(s[i])));
    }
    return r;
}

TEST_F(ZipTest, PackedArithmeticMatchesListsOfNumbers) {
    const char *exprs[] = {
        "a + b",   "a * b",   "a - b",   "b + a",     "a / b", "3 * a",
        "a * 3",   "a + 0.7", "0.7 + a", "2 * a - b", "a ^ 2", "a ^ (-1)",
        "a ^ 0.5", "a ^ 3",   "b ^ a",   "2 ^ b",     "a ^ b", "a * b * a + b * 3"};
    std::vector<double> pos = {0.1, 2.5, 1e16, 3, 7.25e-3}; // roots need positive bases
    for (const char *e : exprs) {
        const std::vector<double> &av = strstr(e, "0.5") || strstr(e, "b ^ a") ? pos : A1;
        ALGEB pa = Packed(av), pb = Packed(B1), la = Plain(av), lb = Plain(B1);
        ALGEB fast = Zip(e, pa, pb);
        ALGEB slow = Zip(e, la, lb);
        EXPECT_EQ(ID(fast), LISTNUM) << e;
        EXPECT_EQ(ID(slow), LIST) << e;
        EXPECT_EQ(Doubles(fast), Doubles(slow)) << e;
        // A packed list meets a list position by position.
        EXPECT_EQ(Doubles(Zip(e, Packed(av), Plain(B1))), Doubles(slow)) << e;
        // The operands are copied before anything is written.
        for (auto [x, v] : {std::pair{pa, av}, {pb, B1}, {la, av}, {lb, B1}})
            EXPECT_EQ(Doubles(x), v) << e;
    }
}

// A packed list with a list of the same count gives a list, but a packed list for a power.
TEST_F(ZipTest, PackedWithList) {
    EXPECT_EQ(ID(Zip("a + b", Packed(A1), Plain(B1))), LIST);
    EXPECT_EQ(ID(Zip("a ^ b", Packed(A1), Plain(B1))), LISTNUM);
}

// The zip transcript calls with lists of number objects; a packed list is taken apart too.
TEST_F(ZipTest, CallsAtEveryPosition) {
    EXPECT_EQ(Printed(Zip("f(a, b, 7)", Packed({1.5, 2}), Plain({3, 4}))),
              "[f(1.5000,3,7), f(2,4,7)]");
}

} // namespace
