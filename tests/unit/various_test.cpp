// The inverse complementary error function, checked against the platform's erfc.
#include <gtest/gtest.h>

#include <cmath>

#include "testkit.h"
#include "various.h"

namespace {

using namespace testkit;

class VariousTest : public KernelTest {};

TEST_F(VariousTest, InvertsErfc) {
    EXPECT_EQ(erfcinv(1), 0);
    EXPECT_EQ(erfcinv(1.5), -erfcinv(0.5));
    EXPECT_NEAR(erfcinv(0.05), 1.3859038243496777, 1e-14);
    // Both Newton iterations, the tail and the one near 1, and a far tail.
    for (double x : {1e-300, 1e-10, 0.05, 0.3, 0.5, 0.7, 0.999999, 1.2, 1.9999}) {
        double y = erfcinv(x);
        EXPECT_NEAR(std::erfc(y), x, 1e-13 * x) << "x = " << x;
    }
}

TEST_F(VariousTest, RefusesArgumentsOutsideTheOpenInterval) {
    EXPECT_EQ(ErrorOf([] { erfcinv(0); }), "0 is an invalid argument for erfcinv");
    EXPECT_EQ(ErrorOf([] { erfcinv(2); }), "2 is an invalid argument for erfcinv");
    EXPECT_EQ(ErrorOf([] { erfcinv(-0.25); }), "-0.25 is an invalid argument for erfcinv");
}

} // namespace
