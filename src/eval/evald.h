// Arithmetic: sums, products, powers and numeric functions evaluated as doubles.
#pragma once

#include "All.h"

// The argument table of the last call of a numeric function: entries 1 .. evald_lt - 1.
// Valid until the next call of evald.
extern double *evald_t;
extern int evald_lt;

// The value of s, a boxed object (MakeNaN) or NaNerror.
double evald(ALGEB s);
// The sum of t[1] .. t[lt - 1], boxed terms allowed.
double evaldSUM(double *t, int lt);
// The sum s of the terms t[1] .. that evald gave for its operands, as evald finishes it.
double sumofterms(ALGEB s, double *t);
// v, the value of s, as a double.
double evaldvalue(ALGEB v, ALGEB s);
double smpow(double d, double dr);
// var is a NAME or LOCAL, or 0 with lohi a count; otherwise lohi is a RANGE of numbers,
// a SET, LIST or LISTNUM.
ALGEB evalseq(ALGEB e, ALGEB var, ALGEB lohi);
ALGEB evalsum(ALGEB e, ALGEB var, ALGEB lohi);
ALGEB evalprod(ALGEB e, ALGEB var, ALGEB lohi);
// code 1: maximum, 2: minimum of a number or of the numbers in a boxed collection.
double maxmin(int code, double p);
// s indexed by the selectors t[i] .. t[lt - 1] of the TABLEREF t.
double selectd(ALGEB s, ALGEB t, int lt, int i);
ALGEB subtract(ALGEB a, ALGEB b);
