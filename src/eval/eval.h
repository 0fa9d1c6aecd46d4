// Evaluation of objects in the current activation, equality, ordering and polymorphic dispatch.
#pragma once

#include "All.h"

ALGEB eval(ALGEB s);
int evalbool(ALGEB s);
int Equal(ALGEB r, ALGEB p, int sequal);
// id is LESSEQ or LESSTHAN.
int CompareAny(WORD id, ALGEB r, ALGEB p);
ALGEB evparloc(ALGEB s);
ALGEB EvalLexicalName(ALGEB s);
// The value of a name, parameter or local in the current activation.
ALGEB valuenv(ALGEB s);
int nametype(ALGEB s);
// The class name of an object for polymorphic dispatch, or 0.
ALGEB type1(ALGEB s);
// The following return 0 when no method exists.
ALGEB PolymorphicFunction(ALGEB a, const char *method);
ALGEB UnaryPolymorphic(ALGEB fn, ALGEB a);
ALGEB BinaryPolymorphic(ALGEB fn, ALGEB a, ALGEB b);
ALGEB CallPolymorphic(ALGEB t, ALGEB functname);
// Whether a procedure has an option (a name).
int hasoption(ALGEB proc, ALGEB option);
// The cached or newly computed result of f(args); remember(0, 0) empties the table.
ALGEB remember(ALGEB f, ALGEB args);
