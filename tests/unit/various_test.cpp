// The inverse complementary error function, checked against the platform's erfc.
#include <gtest/gtest.h>

#include <cmath>

#include "testkit.h"
#include "various.h"

namespace {

using namespace testkit;

class VariousTest : public KernelTest {};

// Both Newton iterations, the tail and the one near 1, and a far tail.
TEST_F(VariousTest, InvertsErfc) {
    EXPECT_NEAR(erfcinv(0.05), 1.3859038243496777, 1e-14);
    for (double x : {1e-300, 1e-10, 0.05, 0.3, 0.5, 0.7, 0.999999, 1.2, 1.9999}) {
        double y = erfcinv(x);
        EXPECT_NEAR(std::erfc(y), x, 1e-13 * x) << "x = " << x;
    }
}

} // namespace
