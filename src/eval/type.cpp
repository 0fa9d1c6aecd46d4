// Type tests: kinds, named types, structured types, patterns and types defined by the user.
#include "type.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "Lumbra.h"
#include "eval.h"
#include "evalfunc.h"
#include "sets.h"

// Names of structured types that are not type names; kept across collections.
static ALGEB identicalname = 0, anyfuncname = 0;

static ALGEB rootedname(ALGEB &slot, const char *s) {
    if (slot == 0) {
        slot = naminstall(s);
        GcRoot(&slot);
    }
    return slot;
}

static bool istyname(ALGEB f) {
    for (int k = 0; k < TYNAMESIZE; k++)
        if (tyname[k] == f) return true;
    return false;
}

// The printed type, cut to 100 characters, leads the message.
[[noreturn]] static void invalidtype(ALGEB typ) {
    static char buf[PRINTBUFSIZE];
    int n = PrintIntoBuffer(typ, buf);
    if (n < 0) n = 0;
    if (n > 100) {
        n = 100;
        buf[98] = buf[99] = '.';
    }
    buf[n] = 0;
    char msg[160];
    snprintf(msg, sizeof msg, "%.100s is not a valid type", buf);
    userror(msg);
}

// A number of a LISTNUM, as the value a type procedure or pattern expects.
static ALGEB boxnumber(double x) {
    if (std::isfinite(x)) return NewNumber(x);
    ALGEB r = Newl1(2, NUMBER);
    ((Number *)r)->N = x;
    return r;
}

WORD typesel(ALGEB typname) {
    if (!is(typname, NAME)) return 0;
    ALGEB t = typname;
    switch (NAMETEXT(t)[0]) {
    case 'A':
        if (t == ININAnd) return AND;
        if (t == ININAssign) return ASSIGN;
        return 0;
    case 'D':
        if (t == ININDayMatrix) return DAYMATRIX;
        return 0;
    case 'F':
        if (t == ININForLoop) return FOR;
        return 0;
    case 'I':
        if (t == ININIfStat) return IF;
        return 0;
    case 'M':
        if (t == ININMatch) return MATCH;
        return 0;
    case 'N':
        if (t == ININNot) return NOT;
        return 0;
    case 'O':
        if (t == ININOr) return OR;
        return 0;
    case 'S':
        if (t == ININStatSeq) return STATSEQ;
        if (t == ININStop) return STOP;
        return 0;
    case 'c':
        if (t == ININcatenate) return CATENATE;
        if (t == ININcolon) return COLON;
        if (t == ININcompressed) return COMPRESSED;
        return 0;
    case 'd':
        if (t == ININdatabase) return DNAFILE;
        return 0;
    case 'e':
        if (t == ININequal) return EQUATION;
        return 0;
    case 'f':
        if (t == ININfloat) return NUMBER;
        return 0;
    case 'l':
        if (t == ININless) return LESSTHAN;
        if (t == ININlessequal) return LESSEQ;
        return 0;
    case 'r':
        if (t == ININrange) return RANGE;
        return 0;
    case 's':
        if (t == ININselect) return TABLEREF;
        if (t == ININset) return SET;
        if (t == ININstructure) return FUNCTION;
        if (t == ININsymbol) return NAME;
        return 0;
    case 'u':
        if (t == ININunequal) return INEQUAT;
        return 0;
    default: return 0;
    }
}

int onlyconst(ALGEB s) {
    if (IMMINT(s)) return 1;
    stackcheck();
    WORD L = LENGTH2(s);
    switch (CASE_ID2(s)) {
    case NUMBER_CASE:
    case LISTNUM_CASE: return 1;
    case POWER_CASE: return onlyconst(A(s[1])) && onlyconst(A(s[2]));
    case PROD_CASE:
    case SUM_CASE:
        for (WORD i = 1; i < L; i++)
            if (!onlyconst(A(s[i]))) return 0;
        return 1;
    case FUNCTION_CASE:
        for (WORD i = 2; i < L; i++)
            if (!onlyconst(A(s[i]))) return 0;
        return 1;
    case LIST_CASE:
    case SET_CASE: {
        ALGEB e = A(s[1]);
        for (WORD i = 1; i < LENGTH2(e); i++)
            if (!onlyconst(A(e[i]))) return 0;
        return 1;
    }
    default: return 0;
    }
}

int type_numeric(double x, ALGEB typ) {
    if (numeric(typ)) return x == DBL(typ);
    switch (CASE_ID2(typ)) {
    case NAME_CASE:
        if (typ == ININfloat || typ == ININnumeric || typ == ININconstant || typ == ININanything)
            return 1;
        if (typ == ININinteger) return x == std::rint(x);
        if (typ == ININposint) return x == std::rint(x) && x > 0;
        if (typ == ININpositive) return x > 0;
        if (typ == ININnegative) return x < 0;
        return strcmp(NAMETEXT(typ), "nonnegative") == 0 && x >= 0;
    case TEXT_CASE: {
        UWORD n = (UWORD)STR(typ)->length;
        return n <= 11 && strncmp(STR(typ)->t, "nonnegative", n) == 0 && x >= 0;
    }
    case SET_CASE: {
        stackcheck();
        ALGEB e = A(typ[1]);
        for (WORD i = 1; i < LENGTH2(e); i++)
            if (type_numeric(x, A(e[i]))) return 1;
        return 0;
    }
    default: return 0;
    }
}

// a[1] is the element type, a[2] .. a[len-1] the dimensions; ia is the dimension to check.
static int arraytest(ALGEB s, const WORD *a, WORD len, WORD ia) {
    if (!isarray(s)) return 0;
    ALGEB t = A(a[1]);
    bool packed = ID2(s) == LISTNUM;
    WORD n = arraylen(s);
    if (len <= 2) {
        for (WORD k = 1; k <= n; k++)
            if (packed ? !type_numeric(LISTNUMDATA(s)[k - 1], t) : !type(A(A(s[1])[k]), t))
                return 0;
        return 1;
    }
    ALGEB d = A(a[ia]);
    if (!IMMINT(d)) userror("type/array test, specify integer upper limit");
    if (n != IMMVAL(d)) return 0;
    if (ia < len - 1) {
        if (packed) return 0;
        stackcheck();
        for (WORD k = 1; k <= n; k++)
            if (!arraytest(A(A(s[1])[k]), a, len, ia + 1)) return 0;
        return 1;
    }
    if (t == ININanything) return 1;
    if (!packed) {
        for (WORD k = 1; k <= n; k++)
            if (!type(A(A(s[1])[k]), t)) return 0;
        return 1;
    }
    if (t == ININfloat || t == ININnumeric || t == ININconstant) return 1;
    bool direct = t == ININinteger || t == ININposint || t == ININpositive || t == ININnegative;
    for (WORD k = 0; k < n; k++) {
        double x = LISTNUMDATA(s)[k];
        if (direct ? !type_numeric(x, t) : !type(boxnumber(x), t)) return 0;
    }
    return 1;
}

int type_array(ALGEB s, ALGEB args, int ia) { return arraytest(s, args, LENGTH2(args), ia); }

int type_matrix(ALGEB s, ALGEB t) {
    if (!is(s, LIST)) return 0;
    ALGEB rows = A(s[1]);
    WORD n = LENGTH2(rows) - 1;
    if (n == 0) return 1;
    ALGEB first = A(rows[1]);
    if (!isarray(first)) return 0;
    WORD shape[3] = {0, W(t), W(MKIMM(arraylen(first)))};
    for (WORD k = 1; k <= n; k++)
        if (!arraytest(A(rows[k]), shape, 3, 2)) return 0;
    return 1;
}

// The type names with a fixed meaning; -1 when typ is not one of them.
static int namedtype(ALGEB s, ALGEB typ) {
    if (typ == ININanything) return 1;
    if (typ == ININname) return !IMMINT(s) && (ID2(s) == NAME || ID2(s) == TABLEREF);
    if (typ == ININinteger) return integer(s);
    if (typ == ININposint) return integer(s) && DBL(s) > 0;
    if (typ == ININnumeric) return numeric(s);
    if (typ == ININpositive) return numeric(s) && DBL(s) > 0;
    if (typ == ININnegative) return numeric(s) && DBL(s) < 0;
    if (typ == ININpower) return ID(s) == POWER;
    if (typ == ININlist || typ == ININarray) return isarray(s);
    if (typ == ININconstant) return onlyconst(s);
    if (typ == ININprocedure) {
        if (ID(s) == NAME) s = valuenv(s);
        return ID(s) == PROC;
    }
    if (typ == ININstring) return ID(s) == TEXT || ID(s) == NAME || ID(s) == DNAFILE;
    if (typ == ININboolean) return s == ININtrue || s == ININfalse || boolean(s);
    if (typ == ININrelation) return relation(s);
    if (typ == ININmatrix) return type_matrix(s, ININanything);
    // The sum and product tests: a symbolic sum or product.
    if (typ == ININtimes) return ID(s) == PROD;
    if (typ == ININplus) return ID(s) == SUM;
    return -1;
}

// A type T defined by the procedure assigned to T_type.
static int usertype(ALGEB s, ALGEB typ) {
    if (isstub(A(typ[1]))) eval(A(typ[1]));
    char buf[MAX_NAME_LENGTH + 60];
    snprintf(buf, sizeof buf, "%s_type", NAMETEXT(typ));
    ALGEB *slot = srchname(buf);
    ALGEB fn = slot == (ALGEB *)NOTFOUND ? 0 : slot[1];
    ALGEB proc = fn != 0 ? A(fn[1]) : 0;
    if (isstub(proc)) {
        eval(proc);
        proc = A(fn[1]);
    }
    if (proc == 0 || !is(proc, PROC)) {
        snprintf(buf, sizeof buf, "type %s does not exist in lumbra", NAMETEXT(typ));
        userror(buf);
    }
    ALGEB r = evalfunc(proc, New2(EXPSEQ, s), fn);
    if (r == ININtrue) return 1;
    if (r == ININfalse) return 0;
    snprintf(buf, sizeof buf, "result from type %s must be a boolean", NAMETEXT(typ));
    userror(buf);
}

// Operands of s against the operands of the pattern typ, word by word.
static int sameshape(ALGEB s, ALGEB typ) {
    if (ID(s) != ID2(typ) || LENGTH2(s) != LENGTH2(typ)) return 0;
    for (WORD i = 1; i < LENGTH2(typ); i++)
        if (!type(A(s[i]), A(typ[i]))) return 0;
    return 1;
}

static int structuredtype(ALGEB s, ALGEB typ) {
    ALGEB f = A(typ[1]);
    if (!is(f, NAME)) invalidtype(typ);
    WORD k = LENGTH2(typ) - 2; // arguments of the type
    if (f == rootedname(identicalname, "identical")) {
        for (WORD i = 2; i < LENGTH2(typ); i++)
            if (Equal(s, A(typ[i]), 0)) return 1;
        return 0;
    }
    if (f == rootedname(anyfuncname, "anyfunc")) {
        if (ID(s) != FUNCTION || LENGTH2(s) != LENGTH2(typ)) return 0;
        for (WORD i = 2; i < LENGTH2(typ); i++)
            if (!type(A(s[i]), A(typ[i]))) return 0;
        return 1;
    }
    if (f == ININstructure) {
        if (k != 1 && k != 2) invalidtype(typ);
        if (ID(s) != FUNCTION) return 0;
        if (k == 2) {
            ALGEB F = A(typ[3]);
            bool ok = A(s[1]) == F;
            if (!ok && is(F, SET)) {
                ALGEB e = A(F[1]);
                for (WORD i = 1; i < LENGTH2(e) && !ok; i++)
                    ok = A(e[i]) == A(s[1]);
            }
            if (!ok) return 0;
        }
        ALGEB t = A(typ[2]);
        if (t == ININanything) return 1;
        for (WORD i = 2; i < LENGTH2(s); i++)
            if (!type(A(s[i]), t)) return 0;
        return 1;
    }
    if (f == ININmatrix) {
        if (k != 1) invalidtype(typ);
        return type_matrix(s, A(typ[2]));
    }
    if (f == ININarray) {
        if (k == 0) invalidtype(typ);
        // typ + 1 reads as the sequence (t, d1, d2, ...).
        return arraytest(s, typ + 1, LENGTH2(typ) - 1, 2);
    }
    if (f == ININlist && ID(s) == LISTNUM) {
        if (k != 1) invalidtype(typ);
        ALGEB t = A(typ[2]);
        if (t == ININfloat || t == ININnumeric || t == ININconstant || t == ININanything) return 1;
        for (WORD i = 0; i < LISTNUMLEN(s); i++)
            if (!type_numeric(LISTNUMDATA(s)[i], t)) return 0;
        return 1;
    }
    if (istyname(f)) {
        if (k != 1) invalidtype(typ);
        if (!type(s, f)) return 0;
        ALGEB t = A(typ[2]);
        WORD n = numterms(s);
        for (WORD i = 1; i <= n; i++)
            if (!type(op1(i, s), t)) return 0;
        return 1;
    }
    // A pattern: the same function with arguments of the given types.
    if (ID(s) != FUNCTION || A(s[1]) != f || LENGTH2(s) != LENGTH2(typ)) return 0;
    for (WORD i = 2; i < LENGTH2(typ); i++)
        if (!type(A(s[i]), A(typ[i]))) return 0;
    return 1;
}

int type(ALGEB s, ALGEB typ) {
    if (IMMINT(typ)) return numeric(s) && DBL(s) == (double)IMMVAL(typ);
    switch (CASE_ID2(typ)) {
    case NUMBER_CASE: return numeric(s) && DBL(s) == NUMVAL(typ);
    case NAME_CASE: {
        WORD kind = typesel(typ);
        if (kind != 0) return ID(s) == kind;
        int r = namedtype(s, typ);
        return r >= 0 ? r : usertype(s, typ);
    }
    case TEXT_CASE: return Equal(s, typ, 0);
    case SET_CASE: {
        ALGEB e = A(typ[1]);
        for (WORD i = 1; i < LENGTH2(e); i++)
            if (type(s, A(e[i]))) return 1;
        return 0;
    }
    case LIST_CASE: {
        stackcheck();
        ALGEB e = A(typ[1]);
        WORD n = LENGTH2(e) - 1;
        if (ID(s) == LISTNUM) {
            if (LISTNUMLEN(s) != n) return 0;
            for (WORD i = 1; i <= n; i++)
                if (!type_numeric(LISTNUMDATA(s)[i - 1], A(e[i]))) return 0;
            return 1;
        }
        if (ID(s) != LIST) return 0;
        return sameshape(A(s[1]), e);
    }
    case RANGE_CASE:
    case EQUATION_CASE:
    case INEQUAT_CASE:
    case LESSEQ_CASE:
    case LESSTHAN_CASE:
    case AND_CASE:
    case NOT_CASE:
    case OR_CASE:
    case EXPSEQ_CASE:
    case CATENATE_CASE: stackcheck(); return sameshape(s, typ);
    case TABLEREF_CASE:
        stackcheck();
        if (ID(s) != TABLEREF || s[1] != typ[1] || LENGTH2(s) != LENGTH2(typ)) return 0;
        for (WORD i = 2; i < LENGTH2(typ); i++)
            if (!type(A(s[i]), A(typ[i]))) return 0;
        return 1;
    case COLON_CASE:
        if (!type(s, A(typ[2]))) return 0;
        OptParamMatch = s;
        return 1;
    case FUNCTION_CASE: stackcheck(); return structuredtype(s, typ);
    default: invalidtype(typ);
    }
}
