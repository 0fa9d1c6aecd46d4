// Special functions of the numerical library.
#pragma once

// The y with erfc(y) = x, for 0 < x < 2.
double erfcinv(double x);
