// Special functions: the inverse complementary error function.
#include "various.h"

#include <cmath>
#include <cstdio>

#include "Lumbra.h"

constexpr double SQRTPI_2 = 0.886226925452758; // sqrt(pi)/2, the inverse slope factor

double erfcinv(double x) {
    if (x <= 0 || x >= 2) {
        char msg[80];
        snprintf(msg, sizeof msg, "%.10g is an invalid argument for erfcinv", x);
        userror(msg);
    }
    if (x > 1) return -erfcinv(2 - x);
    if (x == 1) return 0;
    const double eps = 2.220446049250313e-15;
    // Newton on erfc for small x, on erf near 1 where erfc loses its digits.
    bool tail = x <= 0.5;
    double y = tail ? std::sqrt(-std::log(x)) * 1.0119745245338942 - 0.3752583873142778
                    : (-0.895331231642739 * x + 0.8965827182282738) /
                          (0.2256177979115885 * x + 0.8307866515663086);
    auto step = [&](double y) {
        return tail ? (std::erfc(y) - x) * SQRTPI_2 * std::exp(y * y)
                    : (std::erf(y) - (1 - x)) * -SQRTPI_2 * std::exp(y * y);
    };
    if (std::fabs(y) * eps >= 1) return y;
    double s = step(y);
    for (int k = 1;; k++) {
        if (k >= 11) printf("x=%.15g, inc=%g, y=%.15g\n", x, s, y);
        y += s;
        if (std::fabs(s) <= std::fabs(y) * eps) return y;
        if (k >= 20) notimpl("erfcinv");
        s = step(y);
    }
}
