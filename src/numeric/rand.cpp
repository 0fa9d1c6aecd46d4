// Uniform random numbers from a lagged Fibonacci generator of doubles, and normal deviates.
#include "rand.h"

#include <cmath>
#include <cstdint>

double rand_a[DIM_RAND];
int randi = DIM_RAND - 1;
double Normal_Rand_2 = 0.0;

// The exact rounding error of s = p + q.
static double sumerror(double p, double q, double s) {
    return std::fabs(p) > std::fabs(q) ? q - (s - p) : p - (s - q);
}

void msrand(int seed) {
    // Unsigned arithmetic: the congruence wraps at 32 bits like the original, without overflow.
    uint32_t x = seed < 0 ? 0u - (uint32_t)seed : (uint32_t)seed;
    for (int j = 0; j < DIM_RAND; j++) {
        x = (x * 65539u + 1u) & 0x7fffffffu;
        rand_a[j] = x * 4.656612873077393e-10;
    }
    randi = DIM_RAND - 1;
}

double mrand() {
    int i = (randi + 1) % DIM_RAND;
    randi = i;
    double a = rand_a[i];
    double b = 32 * rand_a[(i + DIM_RAND - 19) % DIM_RAND];
    double c = rand_a[(i + DIM_RAND - 67) % DIM_RAND] / 128;
    // a + b + c and its fraction are carried with their rounding errors, so the new entry
    // is the correctly rounded fraction of the exact sum.
    double s1 = a + b;
    double err = sumerror(a, b, s1);
    double t = s1 + c;
    err += sumerror(s1, c, t);
    double f = -std::floor(t + err);
    double r = t + f;
    double e = err + sumerror(t, f, r);
    double u = r == 0 ? (e == 0 ? 0 : HUGE_VAL) : std::ldexp(e, 52 - std::ilogb(r));
    double result = u >= -0.5 && u <= 0.5 ? r : r + 2 * e;
    rand_a[i] = result;
    return result;
}

// Polar method: each accepted pair of uniform draws gives two deviates.
double Normal_Rand() {
    if (Normal_Rand_2 != 0.0) {
        double v = Normal_Rand_2;
        Normal_Rand_2 = 0.0;
        return v;
    }
    double x1, x2, w;
    do {
        x1 = 2 * mrand() - 1;
        x2 = 2 * mrand() - 1;
        w = x1 * x1 + x2 * x2;
    } while (w > 1);
    double f = std::sqrt(-2 * std::log(w) / w);
    Normal_Rand_2 = x1 * f;
    return x2 * f;
}
