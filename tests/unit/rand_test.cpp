// The uniform generator must reproduce its sequence bit for bit; normal deviates come in pairs.
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

TEST(Rand, FirstNumbersAfterSeedingWithOne) {
    msrand(1);
    EXPECT_EQ(mrand(), 0.37396497170630028);
    EXPECT_EQ(mrand(), 0.23559317458420992);
    EXPECT_EQ(mrand(), 0.041069089904340217);
}

TEST(Rand, SeedFillsStateWithCongruentialSequence) {
    msrand(12345);
    uint32_t x = 12345;
    for (int j = 0; j < DIM_RAND; j++) {
        x = (x * 65539u + 1u) & 0x7fffffffu;
        ASSERT_EQ(rand_a[j], std::ldexp((double)x, -31)) << "entry " << j;
    }
    EXPECT_EQ(randi, DIM_RAND - 1);
}

TEST(Rand, NegativeSeedAndSmallestSeed) {
    msrand(77);
    double a[300];
    for (double &v : a)
        v = mrand();
    msrand(-77);
    for (double v : a)
        ASSERT_EQ(Bits(mrand()), Bits(v));
    // |INT_MIN| wraps to itself in 32 bits; the state must still be valid fractions.
    msrand(INT32_MIN);
    for (double v : rand_a) {
        ASSERT_GE(v, 0.0);
        ASSERT_LT(v, 1.0);
    }
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

TEST(Rand, NormalDeviatesComeInPairs) {
    msrand(1);
    Normal_Rand_2 = 0.0;
    double first = Normal_Rand();
    int after_first = randi;
    EXPECT_NE(Normal_Rand_2, 0.0);
    double second = Normal_Rand();
    EXPECT_EQ(randi, after_first); // the spare draws nothing
    EXPECT_EQ(Normal_Rand_2, 0.0);
    EXPECT_EQ((after_first + 1) % 2, 0); // an accepted pair used an even number of draws
    // The pair is (x2 f, x1 f) of the accepted uniform pair.
    msrand(1);
    double x1, x2, w;
    do {
        x1 = 2 * mrand() - 1;
        x2 = 2 * mrand() - 1;
        w = x1 * x1 + x2 * x2;
    } while (w > 1);
    double f = std::sqrt(-2 * std::log(w) / w);
    EXPECT_EQ(first, x2 * f);
    EXPECT_EQ(second, x1 * f);
}

} // namespace
