// Polymorphic dispatch: a procedure named class_method takes over an operation for a class.
#include <string>

#include "Lumbra.h"
#include "eval.h"
#include "evalfunc.h"

ALGEB type1(ALGEB s) {
    if (IMMINT(s)) return ININinteger;
    switch (CASE_ID2(s)) {
    case NUMBER_CASE: return integer(s) ? ININinteger : ININfloat;
    case NAME_CASE: return ININsymbol;
    case TABLEREF_CASE: return ININselect;
    case CATENATE_CASE: return ININcatenate;
    case POWER_CASE: return ININpower;
    case PROD_CASE: return ININtimes;
    case SUM_CASE: return ININplus;
    case FUNCTION_CASE: return is(A(s[1]), NAME) ? A(s[1]) : ININstructure;
    case COLON_CASE: return ININcolon;
    case EQUATION_CASE: return ININequal;
    case INEQUAT_CASE: return ININunequal;
    case LESSEQ_CASE: return ININlessequal;
    case LESSTHAN_CASE: return ININless;
    case AND_CASE: return ININAnd;
    case NOT_CASE: return ININNot;
    case OR_CASE: return ININOr;
    case EXPSEQ_CASE: return ININexpseq;
    case LIST_CASE:
    case LISTNUM_CASE: return ININlist;
    case LOCAL_CASE: return ININLocal;
    case PARAM_CASE: return ININParam;
    case PROC_CASE: return ININprocedure;
    case RANGE_CASE: return ININrange;
    case SET_CASE: return ININset;
    case ASSIGN_CASE: return ININAssign;
    case FOR_CASE: return ININForLoop;
    case IF_CASE: return ININIfStat;
    case STATSEQ_CASE: return ININStatSeq;
    case STOP_CASE: return ININStop;
    case TEXT_CASE: return ININstring;
    case DNAFILE_CASE: return ININdatabase;
    case DAYMATRIX_CASE: return ININDayMatrix;
    case MATCH_CASE: return ININMatch;
    case COMPRESSED_CASE: return ININcompressed;
    default: return 0;
    }
}

// The text of a method name given as a name or a string; empty when it is neither.
static std::string methodtext(ALGEB fn) {
    if (is(fn, NAME)) return NAMETEXT(fn);
    if (is(fn, TEXT)) return std::string(STR(fn)->t, (size_t)STR(fn)->length);
    return std::string();
}

// The method's procedure, after loading its library file when the name is a stub.
static ALGEB methodproc(ALGEB m) {
    ALGEB v = valuenv(m);
    if (isstub(v)) {
        eval(v);
        v = valuenv(m);
    }
    return is(v, PROC) ? v : 0;
}

ALGEB PolymorphicFunction(ALGEB a, const char *method) {
    ALGEB cls = type1(a);
    if (cls == 0 || *method == 0) return 0;
    std::string name = NAMETEXT(cls);
    name += '_';
    name += method;
    // Looked up, never created: most objects have no methods.
    ALGEB *p = srchname(name.c_str());
    if (p == (ALGEB *)NOTFOUND) return 0;
    ALGEB m = p[1];
    return methodproc(m) ? m : 0;
}

ALGEB UnaryPolymorphic(ALGEB fn, ALGEB a) {
    ALGEB m = PolymorphicFunction(a, methodtext(fn).c_str());
    if (m == 0) return 0;
    ALGEB proc = methodproc(m);
    if (hasoption(proc, ININbuiltin)) return eval(New3(FUNCTION, m, a));
    return evalfunc(proc, New2(EXPSEQ, a), m);
}

ALGEB BinaryPolymorphic(ALGEB fn, ALGEB a, ALGEB b) {
    if (a == 0)
        notimpl("BinaryPolymorphic: unexpected null pointer, normally triggered by gcc compiler "
                "bug");
    std::string method = methodtext(fn);
    ALGEB m = PolymorphicFunction(a, method.c_str());
    if (m == 0 && b != 0) m = PolymorphicFunction(b, method.c_str());
    if (m == 0) return 0;
    return evalfunc(methodproc(m), b != 0 ? New3(EXPSEQ, a, b) : New2(EXPSEQ, a), m);
}

ALGEB CallPolymorphic(ALGEB t, ALGEB functname) {
    if (!is(t, EXPSEQ) || LENGTH2(t) < 2) return 0;
    ALGEB a = A(t[1]);
    ALGEB m = PolymorphicFunction(a, methodtext(functname).c_str());
    if (m != 0) return evalfunc(methodproc(m), t, m);
    // A structure of the function's own name already is the answer.
    if (is(a, FUNCTION) && A(a[1]) == functname) return a;
    return 0;
}
