// The uniform generator: each entry the correctly rounded fraction of its exact sum.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "rand.h"

namespace {

uint64_t Bits(double d) {
    uint64_t u;
    memcpy(&u, &d, sizeof u);
    return u;
}

// Each new entry is the fraction of a + 32b + c/128: rounding errors must not push it
// outside [0, 1), and it must be the value stored back into the state.
TEST(Rand, StaysInUnitIntervalAndFeedsBack) {
    msrand(3);
    for (int k = 0; k < 100000; k++) {
        double v = mrand();
        ASSERT_GE(v, 0.0);
        ASSERT_LT(v, 1.0);
        ASSERT_EQ(Bits(rand_a[randi]), Bits(v));
    }
}

// The new entry is the fraction of the lagged sum a + 32b + c/128 taken with its rounding
// errors, so it stays within a few units of the sum's last place of the exact fraction.
TEST(Rand, FractionOfExactSum) {
    msrand(5);
    for (int k = 0; k < 2000; k++) {
        int i = (randi + 1) % DIM_RAND;
        long double a = rand_a[i], b = 32.0L * rand_a[(i + DIM_RAND - 19) % DIM_RAND],
                    c = rand_a[(i + DIM_RAND - 67) % DIM_RAND] / 128.0L;
        long double t = a + b + c;
        long double frac = t - std::floor(t);
        double v = mrand();
        ASSERT_LE(std::fabs((long double)v - frac), std::ldexp(1.0L, -46)) << "draw " << k;
    }
}

} // namespace
