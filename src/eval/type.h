// Type tests: kinds, named types, structured and user-defined types.
#pragma once

#include "All.h"

int type(ALGEB s, ALGEB typ);
int type_numeric(double x, ALGEB typ);
int type_array(ALGEB s, ALGEB args, int ia);
int type_matrix(ALGEB s, ALGEB t);
WORD typesel(ALGEB typname);
int onlyconst(ALGEB s);
