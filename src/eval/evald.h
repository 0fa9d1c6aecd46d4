// Arithmetic: sums, products, powers and numeric functions evaluated as doubles.
#pragma once

#include "All.h"

// The argument table left behind by the last call of a numeric function.
extern ALGEB evald_t[];
extern int evald_lt;

// The value of s, a boxed object (MakeNaN) or NaNerror.
double evald(ALGEB s);
double evaldSUM(double *t, int lt);
double smpow(double d, double dr);
ALGEB evalseq(ALGEB e, ALGEB var, ALGEB lohi);
ALGEB evalsum(ALGEB e, ALGEB var, ALGEB lohi);
ALGEB evalprod(ALGEB e, ALGEB var, ALGEB lohi);
double maxmin(int code, double p);
double selectd(ALGEB s, ALGEB *t, int lt, int i);
ALGEB subtract(ALGEB a, ALGEB b);
