// Arithmetic in doubles: sums, products, powers, numeric built-ins, numeric selection and
// the loops of sum, product and seq. Values that are not numbers travel boxed in NaNs.
#include "evald.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <vector>

#include "Lumbra.h"
#include "builtins.h"
#include "zip.h"
#include "eval.h"
#include "matrix.h"
#include "rand.h"
#include "selector.h"
#include "various.h"

constexpr int NUMFRAME = 500; // argument doubles a numeric call may take without more room
// Terms and arguments kept in the frame; more go to the heap. Small frames keep the recursion
// through sums and calls shallow.
constexpr int SUMFRAME = 8;
constexpr int CALLFRAME = 14;

static double evald_last[NUMFRAME + 1];
double *evald_t = evald_last;
int evald_lt = 0;

// ---------------------------------------------------------------------------
// Boxes and numbers

static inline double box(ALGEB a) { return MakeNaN(a); }
static inline ALGEB unbox(double d) { return NaNtoALGEB(d); }
static inline double num(ALGEB x) { return IMMINT(x) ? (double)IMMVAL(x) : NUMVAL(x); }
// A NaN made by arithmetic may carry the box pattern with a payload of 0; flipping its
// sign keeps it from being read as an object.
static inline double arith(double d) { return d == d || !NaN(d) ? d : -d; }
// A method's or a loop's result: numbers as doubles, everything else boxed.
static inline double value(ALGEB x) { return numeric(x) ? num(x) : box(x); }
// The object of a table entry: numbers become NUMBER objects.
static inline ALGEB object(double d) { return NaN(d) ? unbox(d) : NewNumber(d); }
// Objects that may stay unevaluated in a sum, product or power when no method applies.
static inline bool symbolic(ALGEB x) { return algebraic(x); }
// r has the same kind and words as s: keep the evaluated object itself.
static ALGEB unchanged(ALGEB r, ALGEB s) {
    if (IMMINT(r) || (r[0] & (MASKID | MASKLEN)) != (s[0] & (MASKID | MASKLEN))) return r;
    for (WORD i = 1; i < LENGTH2(s); i++)
        if (r[i] != s[i]) return r;
    return s;
}

// Compensated accumulation: the rounding error of each addition is kept in c.
static inline void addcomp(double &s, double &c, double x) {
    double u = s + x;
    if (std::fabs(s) > std::fabs(x))
        c += x - (u - s);
    else
        c += s - (u - x);
    s = u;
}

// ---------------------------------------------------------------------------
// Sums

// A sum in progress: numbers accumulate with compensation; an object term waits in acc
// until the next term or the end combines it through plus, or it stays symbolic.
struct SumState {
    double s = 0, c = 0;
    bool nums = false; // numeric terms were seen
    ALGEB acc = 0;     // the non-numeric part
    ALGEB vec = 0;     // an array sum
    ALGEB text = 0;    // a text to shift by the numeric part
};

// The symbolic sum of a and b, nested sums flattened.
static ALGEB symsum(ALGEB a, ALGEB b) {
    WORD na = is(a, SUM) ? LENGTH2(a) - 1 : 1;
    WORD nb = is(b, SUM) ? LENGTH2(b) - 1 : 1;
    ALGEB r = Newl1(na + nb + 1, SUM);
    if (na == 1 && !is(a, SUM))
        r[1] = W(a);
    else
        for (WORD i = 1; i <= na; i++)
            r[i] = a[i];
    if (nb == 1 && !is(b, SUM))
        r[na + 1] = W(b);
    else
        for (WORD i = 1; i <= nb; i++)
            r[na + i] = b[i];
    return r;
}

static void sumnumber(SumState &z, double x) {
    if (z.vec != 0) userror("mixed terms in sum");
    addcomp(z.s, z.c, x);
    z.nums = true;
    if (std::fabs(z.s) > DBL_MAX) userror(UnableToRepresent);
}

static void sumobject(SumState &z, ALGEB o) {
    if (numeric(o)) {
        sumnumber(z, num(o));
        return;
    }
    if (isarray(o)) {
        if (z.nums || z.acc != 0 || z.text != 0) userror("mixed terms in sum");
        z.vec = z.vec == 0 ? o : AddArrays(z.vec, o);
        return;
    }
    if (z.vec != 0) userror("mixed terms in sum");
    if (ID2(o) == TEXT || z.text != 0) {
        if (z.text != 0 || z.acc != 0) userror("invalid addition of text");
        z.text = o;
        return;
    }
    ALGEB m;
    if (z.acc == 0) {
        if (!z.nums) {
            z.acc = o;
            return;
        }
        m = BinaryPolymorphic(ININplus, NewNumber(z.s + z.c), o);
        if (m != 0) z.s = z.c = 0, z.nums = false;
    } else {
        m = BinaryPolymorphic(ININplus, z.acc, o);
        if (m != 0) z.acc = 0;
    }
    if (m != 0) {
        if (numeric(m))
            sumnumber(z, num(m));
        else
            z.acc = m;
        return;
    }
    if (!symbolic(o) || (z.acc != 0 && !symbolic(z.acc)))
        userror2(o, "unevaluated terms in sum or polymorphic plus not defined");
    z.acc = z.acc == 0 ? o : symsum(z.acc, o);
}

// The text t with its start moved by k characters, its end kept: the start may move
// back only within the text that holds its characters.
static ALGEB textshift(ALGEB t, double k) {
    if (k != std::floor(k)) userror("cannot shift string by a fraction");
    const char *start = STR(t)->t;
    const char *end = start + STR(t)->length;
    const char *lo = start;
    ALGEB head = FindTextHead(start);
    if (head != 0 && STR(head)->t <= start) lo = STR(head)->t;
    if (k < (double)(lo - start) || k > (double)(end - start))
        userror("string shifted out of allowable bounds");
    const char *ns = start + (WORD)k;
    if (ns == end) return OneChar[0];
    ALGEB r = Newl1(3, TEXT);
    r[1] = end - ns;
    r[2] = W(ns);
    return r;
}

static double sumend(SumState &z) {
    if (z.vec != 0) return box(z.vec);
    double total = z.s + z.c;
    if (z.text != 0) return box(textshift(z.text, total));
    if (z.acc == 0) return arith(total);
    if (!z.nums) return value(z.acc);
    ALGEB m = BinaryPolymorphic(ININplus, z.acc, NewNumber(total));
    if (m != 0) return value(m);
    if (!symbolic(z.acc))
        userror2(z.acc, "unevaluated terms in sum or polymorphic plus not defined");
    return total == 0 ? box(z.acc) : box(symsum(z.acc, NewNumber(total)));
}

double evaldSUM(double *t, int lt) {
    for (int i = 1; i < lt; i++)
        if (isNaNerror(t[i])) return NaNerror;
    SumState z;
    for (int i = 1; i < lt; i++) {
        if (NaN(t[i]))
            sumobject(z, unbox(t[i]));
        else
            sumnumber(z, t[i]);
    }
    return sumend(z);
}

// ---------------------------------------------------------------------------
// Products

// A product in progress: numbers multiply r; a vector and an object wait for the next
// factor of their kind or for the end.
struct ProdState {
    double r = 1;
    ALGEB pending = 0;
    ALGEB vec = 0;
};

static void prodfactor(ProdState &p, ALGEB o);

static void prodvector(ProdState &p, ALGEB v) {
    if (p.vec == 0) {
        p.vec = v;
        return;
    }
    ALGEB a = p.vec;
    p.vec = 0;
    if (ID2(a) == LISTNUM && ID2(v) == LISTNUM && LISTNUMLEN(a) != LISTNUMLEN(v))
        userror("product of unequal length vectors");
    prodfactor(p, mamul_vv(a, v));
}

static void prodfactor(ProdState &p, ALGEB o) {
    if (numeric(o)) {
        p.r *= num(o);
        return;
    }
    if (isarray(o)) {
        prodvector(p, LISTtoLISTNUM(o));
        return;
    }
    if (p.pending == 0) {
        p.pending = o;
        return;
    }
    ALGEB m = BinaryPolymorphic(ININtimes, p.pending, o);
    if (m == 0) {
        if (!symbolic(p.pending) || !symbolic(o))
            userror("invalid term in product, or polymorphic times not defined");
        p.pending = NewProd(p.pending, o);
        return;
    }
    p.pending = 0;
    prodfactor(p, m);
}

static double prodend(ProdState &p) {
    if (p.vec != 0) {
        ALGEB v = p.vec;
        if (p.r != 1) v = mamul_sv(p.r, v);
        if (p.pending != 0) v = mamul_sv(box(p.pending), v);
        return box(v);
    }
    if (p.pending == 0) return arith(p.r);
    if (p.r == 1) return value(p.pending);
    ALGEB m = BinaryPolymorphic(ININtimes, NewNumber(p.r), p.pending);
    if (m != 0) return value(m);
    if (!symbolic(p.pending)) userror("invalid term in product, or polymorphic times not defined");
    if (p.r == 0) return 0;
    return box(NewProd(NewNumber(p.r), p.pending));
}

static double evaldprod(ALGEB s) {
    WORD L = LENGTH2(s);
    if (L < 2) return 1;
    ProdState p;
    for (WORD i = 1; i < L; i++) {
        ALGEB f = A(s[i]);
        if (is(f, POWER) && Eq(A(f[2]), -1)) {
            double b = evald(A(f[1]));
            if (isNaNerror(b)) return NaNerror;
            if (!NaN(b)) {
                if (b == 0) userror("division by zero");
                p.r /= b;
                continue;
            }
            ALGEB o = unbox(b);
            ALGEB inv = BinaryPolymorphic(ININpower, o, consm1);
            if (inv == 0) {
                if (!symbolic(o)) userror("cannot compute inverse");
                inv = o == A(f[1]) ? f : New3(POWER, o, consm1);
            }
            prodfactor(p, inv);
            continue;
        }
        double d = evald(f);
        if (isNaNerror(d)) return NaNerror;
        if (NaN(d))
            prodfactor(p, unbox(d));
        else
            p.r *= d;
    }
    if (p.pending == 0 && p.vec == 0) return arith(p.r);
    double r = prodend(p);
    return NaN(r) ? box(unchanged(unbox(r), s)) : r;
}

// ---------------------------------------------------------------------------
// Powers

double smpow(double x, double y) {
    if (x == 0 && y < 0) userror("division by zero");
    if (x < 0 && y != std::floor(y)) userror("cannot compute fractional power of negative base");
    double r;
    if (y == -1)
        r = 1 / x;
    else if (y == 2)
        r = x * x;
    else if (y == -2)
        r = 1 / (x * x);
    else if (y == 0.5)
        r = std::sqrt(x);
    else if (y == -0.5)
        r = 1 / std::sqrt(x);
    else
        r = std::pow(x, y);
    return arith(r);
}

// The squared norm of a vector, summed with compensation from the last entry; false
// when o is no vector of numbers.
static bool squarednorm(ALGEB o, double &q) {
    double s = 0, c = 0;
    if (ID2(o) == LISTNUM) {
        for (WORD i = LISTNUMLEN(o) - 1; i >= 0; i--) {
            double x = LISTNUMDATA(o)[i];
            addcomp(s, c, x * x);
        }
    } else {
        ALGEB e = A(o[1]);
        WORD n = LENGTH2(e) - 1;
        if (n == 0 || !numeric(A(e[1]))) return false;
        for (WORD i = 1; i <= n; i++)
            if (!numeric(A(e[i]))) return false;
        for (WORD i = n; i >= 1; i--) {
            double x = num(A(e[i]));
            addcomp(s, c, x * x);
        }
    }
    q = s + c;
    return true;
}

static double evaldpower(ALGEB s) {
    double b = evald(A(s[1]));
    if (isNaNerror(b)) return NaNerror;
    double e = evald(A(s[2]));
    if (isNaNerror(e)) return NaNerror;
    if (e == 1) return b;
    if (e == 2 && NaN(b) && isarray(unbox(b))) {
        double q;
        if (squarednorm(unbox(b), q)) return q;
    }
    if (!NaN(b) && !NaN(e)) return smpow(b, e);
    ALGEB bo = object(b), eo = object(e);
    ALGEB m = BinaryPolymorphic(ININpower, bo, eo);
    if (m != 0) return value(m);
    if (!symbolic(bo) || !symbolic(eo)) userror("invalid term in power");
    if (bo == A(s[1]) && eo == A(s[2])) return box(s);
    return box(New3(POWER, bo, eo));
}

// ---------------------------------------------------------------------------
// Names, selections and other kinds

// The value of a name, after loading the library file that defines it.
static ALGEB namevalue(ALGEB s) {
    ALGEB v = valuenv(s);
    if (isstub(v)) {
        eval(v);
        v = valuenv(s);
    }
    return v;
}

static double evaldvar(ALGEB s) {
    ALGEB name = 0, v;
    if (ID2(s) == PARAM) {
        v = evparloc(s);
    } else {
        name = ID2(s) == LOCAL ? evparloc(s) : s;
        v = namevalue(name);
    }
    if (IMMINT(v)) return (double)IMMVAL(v);
    if (ID2(v) == NUMBER) return NUMVAL(v);
    if (v == name) return box(name);
    if (ID2(v) == PROC) return box(name != 0 && !isditto(name) ? name : v);
    return evald(v);
}

double selectd(ALGEB s, ALGEB t, int lt, int i) {
    double cur = 0; // the current selector once evaluated here
    bool have = false;
    for (; i < lt; i++) {
        if (!isarray(s)) break;
        bool last = i == lt - 1;
        if (ID2(s) == LISTNUM && !last) break;
        cur = evald(A(t[i]));
        have = true;
        if (NaN(cur)) break;
        if (cur != std::floor(cur)) userror("array selector must be an integer");
        WORD n = arraylen(s);
        double k = cur < 0 ? cur + (double)n + 1 : cur;
        if (k < 1 || k > (double)n) userror("array selector out of bounds");
        WORD j = (WORD)k;
        if (ID2(s) == LISTNUM) return LISTNUMDATA(s)[j - 1];
        ALGEB e = A(A(s[1])[j]);
        if (last) return value(e);
        s = e;
        have = false;
    }
    if (i >= lt) return value(s);
    // The general selector finishes; the selectors used so far are placeholders.
    ALGEB u = Newl1(lt, EXPSEQ);
    for (int j = 1; j < i; j++)
        u[j] = W(cons1);
    for (int j = i; j < lt; j++)
        u[j] = W(j == i && have && !isNaNerror(cur) ? unbox(cur) : eval(A(t[j])));
    return value(selector(s, u, i, 0));
}

double evaldvalue(ALGEB v, ALGEB s) {
    if (numeric(v)) return num(v);
    if (ID2(v) == ID2(s)) return box(v);
    return evald(v);
}

static double evaldother(ALGEB s) { return evaldvalue(eval(s), s); }

// ---------------------------------------------------------------------------
// Numeric built-ins

double maxmin(int code, double p) {
    if (!NaN(p)) return p;
    if (isNaNerror(p)) userror("invalid argument for max/min");
    ALGEB o = unbox(p);
    if (numeric(o)) return num(o);
    double m = code == 1 ? -DBL_MAX : DBL_MAX;
    ALGEB e = o;
    switch (CASE_ID2(o)) {
    case LISTNUM_CASE:
        for (WORD i = LISTNUMLEN(o) - 1; i >= 0; i--) {
            double v = LISTNUMDATA(o)[i];
            if (code == 1 ? v > m : v < m) m = v;
        }
        return m;
    case LIST_CASE: e = A(o[1]); [[fallthrough]];
    case EXPSEQ_CASE:
        stackcheck();
        for (WORD i = 1; i < LENGTH2(e); i++) {
            double v = maxmin(code, evald(A(e[i])));
            if (code == 1 ? v > m : v < m) m = v;
        }
        return m;
    default: userror("invalid argument for max/min");
    }
}

// Gamma of x; x! is Gamma(x + 1).
static double gammafn(double x) {
    if (x >= 171.6243769563027) userror("argument too large for factorial");
    if (x == std::floor(x)) {
        if (x <= 0) userror("singularity encountered for factorial");
        double r = 1;
        for (double k = 2; k < x; k++)
            r *= k;
        return r;
    }
    int sign;
    double lg = lgamma_r(x, &sign);
    return std::exp(lg) * sign;
}

// Normal_Rand(), Normal_Rand(m, v) or Normal_Rand(Normal(m, v)).
static double normalrand(double *t, int n, ALGEB fname) {
    if (n == 0) return Normal_Rand();
    double m, v;
    if (n == 2) {
        m = t[1], v = t[2];
        if (NaN(m) || NaN(v) || !(v >= 0))
            userror("invalid arguments for Normal_Rand with two arguments");
    } else if (n == 1) {
        if (!NaN(t[1])) userror("invalid argument for Normal_Rand with one argument");
        ALGEB o = unbox(t[1]);
        if (IMMINT(o) || !IDLENGTH(o, FUNCTION, 4) || !EqualText(A(o[1]), "Normal") ||
            !numeric(A(o[2])) || !numeric(A(o[3])) || !(num(A(o[3])) >= 0))
            userror2(o, "is an invalid argument for Normal_Rand");
        m = num(A(o[2])), v = num(A(o[3]));
    } else {
        kinderror(fname);
    }
    return m + std::sqrt(v) * Normal_Rand();
}

static double arctan(double *t, int n, ALGEB fname) {
    if (n == 1) return std::atan(t[1]);
    if (n != 2) kinderror(fname);
    double y = t[1], x = t[2];
    if (x == 0) return y == 0 ? 0 : (y > 0 ? M_PI / 2 : -M_PI / 2);
    if (x > 0) return std::atan(y / x);
    return y >= 0 ? std::atan(y / x) + M_PI : std::atan(y / x) - M_PI;
}

static double numericbuiltin(Builtin b, double *t, int n, ALGEB fname) {
    switch (b) {
    case Builtin::max:
    case Builtin::min: {
        int code = b == Builtin::max ? 1 : 2;
        double m = code == 1 ? -DBL_MAX : DBL_MAX;
        for (int i = 1; i <= n; i++) {
            double v = maxmin(code, t[i]);
            if (code == 1 ? v > m : v < m) m = v;
        }
        return m;
    }
    case Builtin::Normal_Rand: return normalrand(t, n, fname);
    default: break;
    }
    for (int i = 1; i <= n; i++)
        if (NaN(t[i])) return NaNerror;
    double x = n >= 1 ? t[1] : 0;
    switch (b) {
    case Builtin::arctan: return arctan(t, n, fname);
    case Builtin::abs: return std::fabs(x);
    case Builtin::mod:
        if (!(t[2] > 0)) kinderror(fname);
        return x - std::floor(x / t[2]) * t[2];
    case Builtin::sqrt:
        if (x < 0) kinderror(fname);
        return std::sqrt(x);
    case Builtin::round: return std::rint(x);
    case Builtin::sin: return std::sin(x);
    case Builtin::cos: return std::cos(x);
    case Builtin::tan: return std::tan(x);
    case Builtin::arcsin:
        if (x > 1 || x < -1) userror("argument out of range");
        return std::asin(x);
    case Builtin::ceil: return std::ceil(x);
    case Builtin::erf: return std::erf(x);
    case Builtin::erfc: return std::erfc(x);
    case Builtin::floor: return std::floor(x);
    case Builtin::trunc: return std::copysign(std::floor(std::fabs(x)), x);
    case Builtin::erfcinv: return erfcinv(x);
    case Builtin::scalb: {
        double y = t[2];
        if (y != std::floor(y)) return NAN;
        return std::ldexp(x, (int)std::fmax(-100000, std::fmin(100000, y)));
    }
    case Builtin::ilogb: return x == 0 ? -2098 : (double)std::ilogb(x);
    case Builtin::factorial: return gammafn(x + 1);
    case Builtin::LnGamma:
        if (x > 1.2812545499066958e305) userror("argument too large for LnGamma");
        {
            int sign;
            return lgamma_r(x, &sign);
        }
    case Builtin::Gamma: return gammafn(x);
    case Builtin::Rand: return mrand();
    default: break;
    }
    // A procedure of a user's own may declare any number.
    if ((int)b >= TYPED_FIRST) userror("a function with option builtin has an invalid number");
    userror("not a built-in function");
}

// The arguments stay readable after the call: a frame table is copied out.
static void publishargs(double *t, int lt) {
    if (lt <= NUMFRAME + 1) {
        for (int i = 1; i < lt; i++)
            evald_last[i] = t[i];
        evald_t = evald_last;
    } else {
        evald_t = t;
    }
    evald_lt = lt;
}

static double numericcall(ALGEB s, ALGEB p, ALGEB fname, int b);

static double evaldcall(ALGEB s) {
    ALGEB f = A(s[1]), fname = 0, p = 0;
    if (!IMMINT(f)) {
        switch (ID2(f)) {
        case LOCAL:
        case PARAM: f = evparloc(f); break;
        }
        if (is(f, NAME)) {
            fname = f;
            ALGEB v = namevalue(f);
            if (is(v, PROC)) p = v;
        } else if (is(f, PROC)) {
            p = f;
            fname = ININunknown;
        }
    }
    bool numericproc = p != 0 && hasoption(p, ININnumeric);
    // A procedure named by the call itself is applied at once: eval would find it again.
    if (p != 0 && !numericproc && fname == A(s[1])) return evaldvalue(applyproc(s, p, fname), s);
    int b = numericproc ? builtinnumber(p) : -1;
    if (b < 0) return evaldother(s);
    return numericcall(s, p, fname, b);
}

// A call of the numeric built-in b: its arguments in doubles, sequences spliced in.
static double numericcall(ALGEB s, ALGEB p, ALGEB fname, int b) {
    WORD L = LENGTH2(s), n = L - 2;
    WORD room = n > NUMFRAME ? n * 11 / 10 : NUMFRAME;
    double frame[CALLFRAME + 1];
    double *t = frame;
    WORD cap = CALLFRAME;
    int lt = 1;
    auto put = [&](double d) {
        if (lt > room) userror("too many parameters");
        if (lt > cap) {
            double *h = (double *)Newl1(room + 1, LISTNUM); // entries 1 .. room are its doubles
            for (int i = 1; i < lt; i++)
                h[i] = t[i];
            t = h;
            cap = room;
        }
        t[lt++] = d;
    };
    for (WORD i = 2; i < L; i++) {
        double d = evald(A(s[i]));
        if (isNaNerror(d)) {
            publishargs(t, lt);
            return NaNerror;
        }
        ALGEB o = NaN(d) ? unbox(d) : 0;
        if (o != 0 && is(o, EXPSEQ)) {
            for (WORD j = 1; j < LENGTH2(o); j++)
                put(value(A(o[j])));
            continue;
        }
        put(d);
    }
    int nargs = lt - 1;

    if ((nargs == 1 || nargs == 2) && fname != 0 && hasoption(p, ININpolymorphic) &&
        (NaN(t[1]) || (nargs == 2 && NaN(t[2])))) {
        ALGEB m = nargs == 1 ? UnaryPolymorphic(fname, object(t[1]))
                             : BinaryPolymorphic(fname, object(t[1]), object(t[2]));
        if (m != 0) {
            publishargs(t, lt);
            return value(m);
        }
    }
    if (b >= TYPED_FIRST) {
        ALGEB params = A(p[PROC_PARAMS]);
        WORD np = IMMINT(params) ? 0 : LENGTH2(params) - 1;
        if (nargs != np) counterror(fname, nargs);
        if (b >= NUMERIC_END) userror("a function with option builtin has an invalid number");
    }
    double r = numericbuiltin(Builtin(b), t, nargs, fname);
    // A zippable function of one list, met inside arithmetic, applies at every position.
    if (isNaNerror(r) && nargs == 1 && L == 3 && NaN(t[1]) && isarray(unbox(t[1])) &&
        hasoption(p, ININzippable)) {
        publishargs(t, lt);
        ALGEB f = fname != 0 && fname != ININunknown ? fname : p;
        return box(zip(New3(FUNCTION, f, unbox(t[1]))));
    }
    publishargs(t, lt);
    return isNaNerror(r) ? r : arith(r);
}

// ---------------------------------------------------------------------------
// The evaluator

static double evaldsum(ALGEB s) {
    WORD L = LENGTH2(s);
    double frame[SUMFRAME + 1];
    double *t = L <= SUMFRAME + 1 ? frame : (double *)Newl1(L, LISTNUM);
    for (WORD i = 1; i < L; i++)
        t[i] = evald(A(s[i]));
    return sumofterms(s, t);
}

double sumofterms(ALGEB s, double *t) {
    WORD L = LENGTH2(s);
    // Of two finite numbers, the compensated sum is the rounded sum, save that it never
    // gives -0.
    if (L == 3 && std::isfinite(t[1]) && std::isfinite(t[2])) {
        double r = t[1] + t[2];
        if (!std::isfinite(r)) userror(UnableToRepresent);
        return r == 0 ? 0.0 : r;
    }
    double r = evaldSUM(t, (int)L);
    return NaN(r) && !isNaNerror(r) ? box(unchanged(unbox(r), s)) : r;
}

// Everything but numbers and variables holding them; these go deeper, so they check the
// stack (a name whose value contains the name recurses here without end).
[[gnu::noinline]] static double evaldkind(ALGEB s) {
    stackcheck();
    switch (CASE_ID2(s)) {
    case NAME_CASE:
    case LOCAL_CASE:
    case PARAM_CASE: return evaldvar(s);
    case TABLEREF_CASE:
        if (LENGTH2(s) > 25) userror("too many indices");
        return selectd(eval(A(s[1])), s, (int)LENGTH2(s), 2);
    case POWER_CASE: return evaldpower(s);
    case PROD_CASE: return evaldprod(s);
    case SUM_CASE: return evaldsum(s);
    case FUNCTION_CASE: return evaldcall(s);
    case LISTNUM_CASE:
    case TEXT_CASE: return box(s);
    default: return evaldother(s);
    }
}

double evald(ALGEB s) {
    if (IMMINT(s)) return (double)IMMVAL(s);
    if (InterruptNow) lumbra_jump(Main);
    evald_lt = 0;
    WORD c = CASE_ID2(s);
    if (c == NUMBER_CASE) return NUMVAL(s);
    if (c == NAME_CASE || c == LOCAL_CASE || c == PARAM_CASE) {
        ALGEB v = quickvalue(s);
        if (v != 0 && IMMINT(v)) return (double)IMMVAL(v);
        if (v != 0 && ID2(v) == NUMBER) return NUMVAL(v);
    }
    return evaldkind(s);
}

ALGEB subtract(ALGEB a, ALGEB b) {
    if (numeric(a) && numeric(b)) return NewNumber(num(a) - num(b));
    ProdState p;
    p.r = -1;
    prodfactor(p, b);
    double t[3] = {0, value(a), prodend(p)};
    return object(evaldSUM(t, 3));
}

// ---------------------------------------------------------------------------
// sum, product and seq

// Sets the loop variable directly and raises the evaluation level for the loop;
// both are restored however the loop is left.
struct LoopScope {
    ALGEB name;
    WORD saved;
    EnvRecord *env;
    explicit LoopScope(ALGEB n) : name(n), saved(n != 0 ? n[1] : 0), env(Environment) {
        if (saved != 0) updategen(A(saved));
        env->evlstlev++;
    }
    ~LoopScope() {
        if (name != 0) name[1] = saved;
        env->evlstlev--;
    }
    LoopScope(const LoopScope &) = delete;
    LoopScope &operator=(const LoopScope &) = delete;
};

// Calls body(value of e) for every value of the iteration; the count comes first so that
// callers can size their results.
template <typename Body>
static void forvalues(ALGEB e, ALGEB var, ALGEB lohi, const char *fn, Body body) {
    if (var != 0 && is(var, LOCAL)) var = evparloc(var);
    if (var != 0 && !is(var, NAME)) {
        char msg[80];
        snprintf(msg, sizeof msg, "wrong type of parameters in call to function %s", fn);
        userror(msg);
    }
    if (var == 0) {
        double n = num(lohi);
        LoopScope loop(0);
        for (double i = 1; i <= n; i++)
            body(eval(e));
        return;
    }
    if (IMMINT(lohi) || !(ID2(lohi) == RANGE || isarray(lohi) || ID2(lohi) == SET)) {
        char msg[80];
        snprintf(msg, sizeof msg, "wrong type of parameters in call to function %s", fn);
        userror(msg);
    }
    LoopScope loop(var);
    if (ID2(lohi) == RANGE) {
        double lo = num(A(lohi[1])), hi = num(A(lohi[2]));
        for (double i = 0; lo + i <= hi; i++) {
            if (i > 0 && lo + i == lo + (i - 1)) break; // no next value in doubles
            var[1] = W(NewNumber(lo + i));
            body(eval(e));
        }
        return;
    }
    if (ID2(lohi) == LISTNUM) {
        for (WORD i = 0; i < LISTNUMLEN(lohi); i++) {
            var[1] = W(NewNumber(LISTNUMDATA(lohi)[i]));
            body(eval(e));
        }
        return;
    }
    ALGEB elems = A(lohi[1]);
    for (WORD i = 1; i < LENGTH2(elems); i++) {
        var[1] = elems[i];
        body(eval(e));
    }
}

ALGEB evalseq(ALGEB e, ALGEB var, ALGEB lohi) {
    // Values are kept in a sequence that grows by doubling; it is allocated at this level,
    // so it stays protected while the loop runs deeper.
    ALGEB vals = Newl1(9, EXPSEQ);
    WORD n = 0;
    bool nested = false;
    forvalues(e, var, lohi, "seq", [&](ALGEB v) {
        if (n + 1 >= LENGTH2(vals)) {
            WORD len = LENGTH2(vals) * 2 > MAXOBJLEN ? MAXOBJLEN : LENGTH2(vals) * 2;
            if (len <= n + 1) userror("object too large");
            ALGEB bigger = Newl1(len, EXPSEQ);
            for (WORD i = 1; i <= n; i++)
                bigger[i] = vals[i];
            vals = bigger;
        }
        vals[++n] = W(v);
        if (is(v, EXPSEQ)) nested = true;
    });
    if (n == 0) return null;
    WORD total = n;
    if (nested) {
        total = 0;
        for (WORD i = 1; i <= n; i++) {
            ALGEB v = A(vals[i]);
            total += is(v, EXPSEQ) ? LENGTH2(v) - 1 : 1;
        }
        if (total == 0) return null;
    }
    ALGEB r = Newl1(total + 1, EXPSEQ);
    WORD k = 1;
    for (WORD i = 1; i <= n; i++) {
        ALGEB v = A(vals[i]);
        if (nested && is(v, EXPSEQ))
            for (WORD j = 1; j < LENGTH2(v); j++)
                r[k++] = v[j];
        else
            r[k++] = W(v);
    }
    return r;
}

ALGEB evalsum(ALGEB e, ALGEB var, ALGEB lohi) {
    SumState z;
    bool any = false;
    forvalues(e, var, lohi, "sum", [&](ALGEB v) {
        any = true;
        sumobject(z, v);
        // Objects kept across iterations must outlive the statements that run inside.
        if (z.acc != 0) updategen(z.acc);
        if (z.vec != 0) updategen(z.vec);
        if (z.text != 0) updategen(z.text);
    });
    if (!any) return cons0;
    return object(sumend(z));
}

ALGEB evalprod(ALGEB e, ALGEB var, ALGEB lohi) {
    ProdState p;
    bool any = false;
    forvalues(e, var, lohi, "product", [&](ALGEB v) {
        any = true;
        prodfactor(p, v);
        if (p.pending != 0) updategen(p.pending);
        if (p.vec != 0) updategen(p.vec);
    });
    if (!any) return cons1;
    return object(prodend(p));
}
