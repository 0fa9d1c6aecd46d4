// Element-wise evaluation: calls, sums, products and powers of lists act at every
// position, packed lists of doubles staying packed where the arithmetic allows.
#include "zip.h"

#include "Lumbra.h"
#include "eval.h"
#include "evald.h"
#include "sets.h"

namespace {

// A zipped operand of a sum, product or power.
enum class Kind { Number, Packed, Elements, Scalar };

struct Operand {
    Kind kind;
    ALGEB v; // Elements: the EXPSEQ of a list's or set's elements
};

} // namespace

[[noreturn]] static void inconsistent() { userror("zip: inconsistent dimensions"); }

// Packed lists meet only numbers and lists; anything symbolic has no double to go in.
[[noreturn]] static void unpackable() { userror("zip: not implemented yet 2"); }

static bool listoperand(ALGEB x) { return is(x, LIST) || is(x, SET) || is(x, LISTNUM); }

// An operand that the caller will overwrite (own) gets a copy of its list.
static Operand classify(ALGEB z, bool own) {
    if (numeric(z)) return {Kind::Number, z};
    if (is(z, LISTNUM)) return {Kind::Packed, own ? copyalg(z) : z};
    if (is(z, LIST) || is(z, SET)) return {Kind::Elements, own ? copyalg(A(z[1])) : A(z[1])};
    return {Kind::Scalar, z};
}

static WORD count(const Operand &o) {
    return o.kind == Kind::Packed ? LISTNUMLEN(o.v) : LENGTH2(o.v) - 1;
}

static void samecount(const Operand &a, const Operand &b) {
    if (count(a) != count(b)) inconsistent();
}

static ALGEB result(const Operand &a) { return a.kind == Kind::Elements ? New2(LIST, a.v) : a.v; }

// The value of a two-operand node of type op.
static ALGEB node(WORD op, ALGEB a, ALGEB b) { return eval(New3(op, a, b)); }

static double apply(WORD op, double x, double y) { return op == SUM ? x + y : x * y; }

// ---------------------------------------------------------------------------
// Calls and indexed names

// The i-th element of a list argument, or the argument itself, shared by every position.
static ALGEB element(ALGEB a, WORD i) {
    if (is(a, LISTNUM)) return NewNumber(LISTNUMDATA(a)[i - 1]);
    if (is(a, LIST) || is(a, SET)) return A(A(a[1])[i]);
    return a;
}

static ALGEB zipcall(ALGEB x) {
    WORD kind = ID2(x), n = LENGTH2(x) - 2;
    ALGEB head = A(x[1]);
    if (n == 0) return eval(New2(kind, head));
    ALGEB args = ExpseqFromFun(x);
    for (WORD j = 1; j <= n; j++)
        args[j] = W(zip(A(args[j])));
    WORD m = -1;
    for (WORD j = 1; j <= n; j++) {
        if (!listoperand(A(args[j]))) continue;
        WORD c = arraylen(A(args[j]));
        if (m >= 0 && c != m) inconsistent();
        m = c;
    }
    if (m < 0) {
        ALGEB call = Newl2(n + 2, kind, head);
        for (WORD j = 1; j <= n; j++)
            call[j + 1] = args[j];
        return eval(call);
    }
    if (m == 0) return EmptyList;
    ALGEB r = Newl1(m + 1, EXPSEQ);
    for (WORD i = 1; i <= m; i++) {
        ALGEB call = Newl2(n + 2, kind, head);
        for (WORD j = 1; j <= n; j++)
            call[j + 1] = W(element(A(args[j]), i));
        r[i] = W(eval(call));
    }
    return New2(LIST, r);
}

// ---------------------------------------------------------------------------
// Sums and products: a left fold, the accumulator a being owned and changed in place.

static Operand combine(WORD op, Operand a, const Operand &f) {
    switch (a.kind) {
    case Kind::Number:
    case Kind::Scalar:
        if (f.kind == Kind::Packed) {
            if (a.kind == Kind::Scalar) unpackable();
            ALGEB r = copyalg(f.v);
            double x = DBL(a.v), *g = LISTNUMDATA(r);
            for (WORD i = LISTNUMLEN(r) - 1; i >= 0; i--)
                g[i] = apply(op, x, g[i]);
            return {Kind::Packed, r};
        }
        if (f.kind == Kind::Elements) {
            ALGEB r = copyalg(f.v);
            for (WORD i = LENGTH2(r) - 1; i >= 1; i--)
                r[i] = W(node(op, a.v, A(r[i])));
            return {Kind::Elements, r};
        }
        return classify(node(op, a.v, f.v), true);
    case Kind::Packed: {
        double *d = LISTNUMDATA(a.v);
        WORD n = LISTNUMLEN(a.v);
        switch (f.kind) {
        case Kind::Number: {
            double y = DBL(f.v);
            for (WORD i = n - 1; i >= 0; i--)
                d[i] = apply(op, d[i], y);
            return a;
        }
        case Kind::Packed: {
            samecount(a, f);
            double *g = LISTNUMDATA(f.v);
            for (WORD i = n - 1; i >= 0; i--)
                d[i] = apply(op, d[i], g[i]);
            return a;
        }
        case Kind::Elements: {
            samecount(a, f);
            ALGEB r = copyalg(f.v);
            for (WORD i = n; i >= 1; i--)
                r[i] = W(node(op, NewNumber(d[i - 1]), A(r[i])));
            return {Kind::Elements, r};
        }
        case Kind::Scalar: unpackable();
        }
        break;
    }
    case Kind::Elements: {
        ALGEB e = a.v;
        WORD n = LENGTH2(e) - 1;
        if (f.kind == Kind::Packed || f.kind == Kind::Elements) samecount(a, f);
        for (WORD i = n; i >= 1; i--) {
            ALGEB b = f.kind == Kind::Packed     ? NewNumber(LISTNUMDATA(f.v)[i - 1])
                      : f.kind == Kind::Elements ? A(f.v[i])
                                                 : f.v;
            e[i] = W(node(op, A(e[i]), b));
        }
        return a;
    }
    }
    notimpl("zip: combine");
}

static ALGEB zipfold(ALGEB x) {
    WORD op = ID2(x);
    if (LENGTH2(x) < 2) return eval(x);
    Operand a = classify(zip(A(x[1])), true);
    for (WORD k = 2; k < LENGTH2(x); k++)
        a = combine(op, a, classify(zip(A(x[k])), false));
    return result(a);
}

// ---------------------------------------------------------------------------
// Powers

// The double of an exponent or base that meets a packed list.
static double packednumber(ALGEB v) {
    double d = evald(v);
    if (NaN(d)) unpackable();
    return d;
}

static ALGEB zippower(ALGEB x) {
    Operand b = classify(zip(A(x[1])), true);
    Operand e = classify(zip(A(x[2])), false);
    switch (b.kind) {
    case Kind::Packed: {
        double *d = LISTNUMDATA(b.v);
        WORD n = LISTNUMLEN(b.v);
        if (e.kind == Kind::Packed) {
            samecount(b, e);
            for (WORD i = n - 1; i >= 0; i--)
                d[i] = smpow(d[i], LISTNUMDATA(e.v)[i]);
        } else if (e.kind == Kind::Elements) {
            samecount(b, e);
            for (WORD i = n - 1; i >= 0; i--)
                d[i] = smpow(d[i], packednumber(A(e.v[i + 1])));
        } else {
            double s = packednumber(e.v);
            for (WORD i = n - 1; i >= 0; i--) {
                if (s == -1) {
                    if (d[i] == 0) userror("division by zero");
                    d[i] = 1 / d[i];
                } else if (s == 2) {
                    d[i] = d[i] * d[i];
                } else {
                    d[i] = smpow(d[i], s);
                }
            }
        }
        return b.v;
    }
    case Kind::Elements: {
        ALGEB r = b.v;
        if (e.kind == Kind::Packed || e.kind == Kind::Elements) samecount(b, e);
        for (WORD i = LENGTH2(r) - 1; i >= 1; i--) {
            if (e.kind == Kind::Elements) {
                r[i] = W(node(POWER, A(r[i]), A(e.v[i])));
            } else if (e.kind == Kind::Packed) {
                double y = LISTNUMDATA(e.v)[i - 1], v = evald(A(r[i]));
                // A symbolic element keeps its power unevaluated rather than failing.
                r[i] = W(NaN(v) ? node(POWER, A(r[i]), NewNumber(y)) : NewNumber(smpow(v, y)));
            } else {
                r[i] = W(node(POWER, A(r[i]), e.v));
            }
        }
        return New2(LIST, r);
    }
    default:
        if (e.kind == Kind::Elements) {
            ALGEB r = copyalg(e.v);
            for (WORD i = LENGTH2(r) - 1; i >= 1; i--)
                r[i] = W(node(POWER, b.v, A(r[i])));
            return New2(LIST, r);
        }
        if (e.kind == Kind::Packed) {
            double s = packednumber(b.v);
            ALGEB r = copyalg(e.v);
            double *g = LISTNUMDATA(r);
            for (WORD i = LISTNUMLEN(r) - 1; i >= 0; i--)
                g[i] = smpow(s, g[i]);
            return r;
        }
        ALGEB v = node(POWER, b.v, A(x[2]));
        return is(v, EXPSEQ) ? New2(LIST, v) : v;
    }
}

// ---------------------------------------------------------------------------

ALGEB zip(ALGEB x) {
    if (IMMINT(x)) return x;
    stackcheck();
    switch (CASE_ID2(x)) {
    case NUMBER_CASE:
    case LISTNUM_CASE: return x;
    case NAME_CASE:
    case COLON_CASE:
    case LIST_CASE:
    case LOCAL_CASE:
    case PARAM_CASE:
    case RANGE_CASE:
    case SET_CASE: return eval(x);
    case FUNCTION_CASE:
    case TABLEREF_CASE: return zipcall(x);
    case POWER_CASE: return zippower(x);
    case PROD_CASE:
    case SUM_CASE: return zipfold(x);
    default: userror("zip: not implemented yet");
    }
}
