// Evaluation of objects in the current activation, equality, ordering and polymorphic dispatch.
#pragma once

#include "All.h"
#include "mdebug.h"

ALGEB eval(ALGEB s);
int evalbool(ALGEB s);
int Equal(ALGEB r, ALGEB p, int sequal);
// id is LESSEQ or LESSTHAN.
int CompareAny(WORD id, ALGEB r, ALGEB p);
ALGEB evparloc(ALGEB s);
// The call s of the procedure proc, found under the name fname (ININunknown when none).
ALGEB applyproc(ALGEB s, ALGEB proc, ALGEB fname);
ALGEB EvalLexicalName(ALGEB s);
// The object of a double that evald gave; failure is the message of a failed evaluation.
ALGEB arithvalue(double d, const char *failure);
// Counts the times the NAME of a local was handed out where it could be kept (as a value, a
// target found through evparloc, a lexical reference): an activation during which it did not
// change gives its locals back whole when it ends.
extern WORD LocalsLent;
// The same for the argument sequence of an activation (`args`).
extern WORD ArgsLent;
// The NAME of local k in a locals sequence. A reference made by assemble may be evaluated
// where the activation has no such local: that is an error, not a read past the sequence.
[[noreturn]] void nosuchlocal();
inline ALGEB localof(ALGEB locals, WORD k) {
    if (k < 1 || k >= LENGTH(locals)) nosuchlocal();
    return A(locals[k]);
}
// The value of a name, parameter or local in the current activation.
ALGEB valuenv(ALGEB s);

// The value word of a variable, read without the general lookup: a global NAME other than the
// ditto names, a LOCAL of the running procedure or a PARAM among its arguments. 0 for any other
// object and for a variable without value. The hot paths take numbers from here and leave
// everything else to valuenv.
inline ALGEB quickvalue(ALGEB s) {
    WORD id = ID2(s);
    if (id == LOCAL) {
        ALGEB locals = Actvlocals;
        if (LENGTH2(s) != 2 || s[1] < 1 || s[1] >= LENGTH(locals)) return 0;
        ALGEB n = A(locals[s[1]]);
        return is(n, NAME) ? A(n[1]) : 0;
    }
    if (id == PARAM) {
        ALGEB args = Actvparams;
        WORD k = s[1];
        if (k < 1 || args == 0 || !is(args, EXPSEQ) || k >= LENGTH2(args)) return 0;
        return A(args[k]);
    }
    if (id != NAME || isditto(s)) return 0;
    return A(s[1]);
}
// The number a value word holds, an immediate or a NUMBER; false for any other and for 0.
inline bool numberat(ALGEB v, double &d) {
    if (v == 0) return false;
    if (IMMINT(v)) {
        d = (double)IMMVAL(v);
        return true;
    }
    if (ID2(v) != NUMBER) return false;
    d = NUMVAL(v);
    return true;
}
int nametype(ALGEB s);
// The class name of an object for polymorphic dispatch, or 0.
ALGEB type1(ALGEB s);
// The following return 0 when no method exists.
ALGEB PolymorphicFunction(ALGEB a, const char *method);
ALGEB UnaryPolymorphic(ALGEB fn, ALGEB a);
ALGEB BinaryPolymorphic(ALGEB fn, ALGEB a, ALGEB b);
ALGEB CallPolymorphic(ALGEB t, ALGEB functname);
// Whether a procedure has an option (a name). Most procedures have none, which is told inline.
int hasoptionscan(ALGEB proc, ALGEB option);
inline int hasoption(ALGEB proc, ALGEB option) {
    ALGEB opts = A(proc[PROC_OPTIONS]);
    if (opts == 0 || IMMINT(opts) || LENGTH2(opts) <= 1) return 0;
    return hasoptionscan(proc, option);
}
// The cached or newly computed result of f(args); remember(0, 0) empties the table.
ALGEB remember(ALGEB f, ALGEB args);
