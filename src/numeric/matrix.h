// Vectors and matrices: lists of numbers and lists of rows, packed or not; their sums and
// products, matrix functions and linear algebra.
#pragma once

#include "All.h"

// Packing: a LIST of numbers becomes a LISTNUM, a list of arrays is packed row by row;
// anything else is returned as it is.
ALGEB LISTtoLISTNUM(ALGEB a);
// The m x n matrix x (rows LIST or LISTNUM) into a row-major array.
void ListToArray(ALGEB x, double *array, WORD m, WORD n);
// A LIST of m LISTNUM rows of n values.
ALGEB NewMatrix(const double *array, WORD m, WORD n);

// Arithmetic that the evaluator hands over when lists take part.
ALGEB AddArrays(ALGEB a, ALGEB b);
// s is a number or a boxed object (MakeNaN).
ALGEB mamul_sv(double s, ALGEB b);
ALGEB mamul_vv(ALGEB a, ALGEB b);

// Row-major n x n arrays. mmul: C := A.B (C apart from A and B).
void mmul(const double *A, const double *B, double *C, WORD n);
// R := exp(A); A is overwritten, work1 and work2 are n x n scratch arrays.
void mexp(double *A, double *work1, double *work2, double *R, WORD n);

// Matrix objects.
ALGEB maexp(ALGEB x);
ALGEB mlog(ALGEB x);
ALGEB transpose(ALGEB a);
ALGEB GaussElim(ALGEB A, ALGEB b);
ALGEB matrix_inverse(ALGEB A);
ALGEB Cholesky(ALGEB A);
// t: (matrix) or (matrix, name); the name receives the eigenvectors as columns.
ALGEB Eigenvalues(ALGEB t);
