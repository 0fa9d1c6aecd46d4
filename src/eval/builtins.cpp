// Library procedures with option builtin reach native code here, by number: the special
// forms, the argument checks and the small routines that belong to no other component.
#include "builtins.h"

#include <cctype>
#include <cerrno>
#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include <nettle/sha2.h>

#include "Lumbra.h"
#include "SetOption.h"
#include "alignbuiltins.h"
#include "FileSize.h"
#include "ServerSocket.h"
#include "TSP.h"
#include "assemble.h"
#include "cmdedit.h"
#include "compress.h"
#include "dbbuiltins.h"
#include "eval.h"
#include "evald.h"
#include "evalfunc.h"
#include "evalstat.h"
#include "ipc.h"
#include "matrix.h"
#include "miscfuncs.h"
#include "mprintf.h"
#include "parse.h"
#include "rand.h"
#include "selector.h"
#include "sets.h"
#include "simplfnc.h"
#include "type.h"
#include "zip.h"

#ifndef LUMBRA_COMPILER
#define LUMBRA_COMPILER "c++"
#endif
#ifndef LUMBRA_CXXFLAGS
#define LUMBRA_CXXFLAGS ""
#endif

// ---------------------------------------------------------------------------
// Messages shared by most built-ins.

// The name a function was called by, as text for a message.
static std::string fnametext(ALGEB fname) {
    if (fname != 0 && is(fname, NAME)) return NAMETEXT(fname);
    std::unique_ptr<char[]> buf(new char[PRINTBUFSIZE]);
    PrintIntoBuffer(fname != 0 ? fname : ININunknown, buf.get());
    return buf.get();
}

[[noreturn]] void counterror(ALGEB fname, WORD n) {
    char msg[600];
    snprintf(msg, sizeof msg, "%.500s was incorrectly called with %d arguments",
             fnametext(fname).c_str(), (int)n);
    userror(msg);
}

[[noreturn]] void kinderror(ALGEB fname) {
    char msg[600];
    snprintf(msg, sizeof msg, "wrong type of parameters in call to function %.500s",
             fnametext(fname).c_str());
    userror(msg);
}

void serverrefuses(const char *msg) {
    if (optserver) userror(msg);
}

// ---------------------------------------------------------------------------
// Arguments.

std::string cstring(ALGEB x) {
    Chars c = textof(x);
    return std::string(c.s, c.n);
}

long intarg(ALGEB x) { return IMMINT(x) ? (long)IMMVAL(x) : lrint(DBL(x)); }

ALGEB textfrom(const char *s, size_t n) {
    if (n == 0) return OneChar[0];
    if (n == 1) return OneChar[(unsigned char)s[0]];
    ALGEB r = NewText(n);
    memcpy(STR(r)->t, s, n);
    return r;
}

bool iskeyword(ALGEB x, const char *kw) {
    if (IMMINT(x)) return false;
    if (ID2(x) == NAME) return strcmp(NAMETEXT(x), kw) == 0;
    if (ID2(x) != TEXT) return false;
    size_t n = std::min((size_t)STR(x)->length, strlen(kw) + 1);
    return memcmp(STR(x)->t, kw, n) == 0;
}

// ---------------------------------------------------------------------------
// Clocks.

// time and walltime: a clock reading, or the time the arguments take.
static ALGEB timing(ALGEB call, double (*clock)(), bool allform) {
    WORD n = LENGTH(call) - 2;
    if (n == 0) return NewNumber(clock());
    if (allform && n == 1 && iskeyword(A(call[2]), "all")) return NewNumber(cptime_all());
    double t0 = clock();
    for (WORD i = 2; i < LENGTH(call); i++)
        eval(A(call[i]));
    return NewNumber(clock() - t0);
}

// ---------------------------------------------------------------------------
// Sum and product.

// Terms are added from the last to the first, with a running correction.
static double compensated(const std::vector<double> &x) {
    double s = 0, c = 0;
    for (size_t i = x.size(); i-- > 0;) {
        double t = s + x[i];
        if (std::fabs(s) > std::fabs(x[i]))
            c += x[i] - (t - s);
        else
            c += s - (t - x[i]);
        s = t;
    }
    return s + c;
}

static ALGEB represent(double d) {
    if (std::isnan(d) || std::fabs(d) > DBL_MAX) userror(UnableToRepresent);
    return NewNumber(d);
}

// An equation var = r whose r is something to iterate over, or 0.
static ALGEB iteration(ALGEB b, ALGEB *var) {
    if (!is(b, EQUATION)) return 0;
    ALGEB v = A(b[1]);
    if (IMMINT(v) || (ID2(v) != NAME && ID2(v) != LOCAL)) return 0;
    ALGEB r = eval(A(b[2]));
    if (IMMINT(r)) return 0;
    switch (ID2(r)) {
    case RANGE:
        if (!numeric(A(r[1])) || !numeric(A(r[2]))) return 0;
        break;
    case SET:
    case LIST:
    case LISTNUM: break;
    default: return 0;
    }
    *var = v;
    return r;
}

static ALGEB sumprod(ALGEB fname, ALGEB call, bool issum) {
    WORD n = LENGTH(call) - 2;
    if (n == 2) {
        ALGEB var = 0, r = iteration(A(call[3]), &var);
        if (r == 0) kinderror(fname);
        return issum ? evalsum(A(call[2]), var, r) : evalprod(A(call[2]), var, r);
    }
    if (n != 1) counterror(fname, n);
    ALGEB v = eval(A(call[2]));
    std::vector<double> x;
    if (is(v, LISTNUM)) {
        x.assign(LISTNUMDATA(v), LISTNUMDATA(v) + LISTNUMLEN(v));
    } else if (is(v, LIST)) {
        ALGEB s = A(v[1]);
        WORD m = LENGTH(s) - 1;
        if (m == 0) return issum ? cons0 : cons1;
        if (!numeric(A(s[1]))) {
            ALGEB r = A(s[1]);
            for (WORD i = 2; i <= m; i++)
                r = eval(New3(issum ? SUM : PROD, r, A(s[i])));
            return r;
        }
        for (WORD i = 1; i <= m; i++)
            x.push_back(DBL(A(s[i])));
    } else {
        kinderror(fname);
    }
    if (issum) return represent(compensated(x));
    double p = 1;
    for (size_t i = x.size(); i-- > 0;)
        p *= x[i];
    return represent(p);
}

// ---------------------------------------------------------------------------
// Reading files of statements: ReadLibrary, ReadProgram, OpenReading, ReadOffsetLine and
// ReadStatement.

// Closes the units opened above the current one when an error leaves early, and puts
// back what reading statements changes.
struct ReadingScope {
    int unit;
    int flag = prtflag;
    ALGEB stat = parsestat;
    WORD curr = Environment->ctx[CTX_STAT];
    EnvRecord *env = Environment;
    bool ofs;
    ReadingScope(int u, bool offset) : unit(u), ofs(offset) {}
    ~ReadingScope() {
        while (r_unit0 >= unit && r_unit0 > 0) {
            if (ofs && r_unit0 == unit)
                RcloseOfs();
            else
                Rclose();
        }
        prtflag = flag;
        parsestat = stat;
        env->ctx[CTX_STAT] = curr;
    }
    ReadingScope(const ReadingScope &) = delete;
    ReadingScope &operator=(const ReadingScope &) = delete;
};

static bool endofunit(ALGEB s) { return is(s, CONTROL) && Eq(A(s[1]), 1); }

// Executes the statements of the unit just opened until its end. Top-level assignments
// to names are collected in *assigned when it is given.
static ALGEB runstatements(std::vector<ALGEB> *assigned) {
    ALGEB last = null;
    int unit = r_unit0;
    for (;;) {
        ALGEB s = ReadStatement();
        if (endofunit(s)) {
            // The end of a unit that a statement of ours opened: go back to ours.
            closeinput();
            if (r_unit0 < unit) return last;
            continue;
        }
        if (assigned != 0 && is(s, ASSIGN)) {
            for (WORD i = 1; i < LENGTH(s) - 1; i++) {
                ALGEB t = A(s[i]);
                while (is(t, TABLEREF))
                    t = A(t[1]);
                if (!is(t, NAME)) continue;
                bool seen = false;
                for (ALGEB a : *assigned)
                    seen = seen || a == t;
                if (!seen) assigned->push_back(t);
            }
        }
        last = evalstat(s, 2);
        // A raw read may have met the end of our unit and closed it.
        if (r_unit0 < unit) return last;
    }
}

static ALGEB ReadLibrary(ALGEB fname, ALGEB call) {
    WORD n = LENGTH(call) - 2;
    if (n != 1 && n != 2) counterror(fname, n);
    ALGEB a = A(call[2]);
    if (!IMMINT(a) && (ID2(a) == NAME || ID2(a) == PARAM || ID2(a) == LOCAL))
        a = evparloc(a);
    else
        a = eval(a);
    ALGEB b = n == 2 ? evparloc(A(call[3])) : 0;
    if (!textual(a) || (b != 0 && !is(b, NAME))) kinderror(fname);
    ALGEB lib = A(ININlibname[1]);
    if (lib == 0 || !textual(lib)) userror("libname must be assigned a directory name");

    std::string file = cstring(a), path;
    if (optserver)
        path = ServerLibraryFile(file);
    else if (n == 2 && file[0] == '/')
        path = file;
    else
        path = cstring(lib) + "/" + file;
    if (!Ropen(path.c_str(), 0)) {
        char what[300];
        snprintf(what, sizeof what, "ReadLibrary('%.256s')", path.c_str());
        perror(what);
        userror("unable to read file to load");
    }
    ReadingScope scope(r_unit0, false);
    if (ENVprintlevel > 5) {
        prpart("ReadLibrary: ");
        prpart(file.c_str());
        mendline();
    }
    ALGEB last = runstatements(0);
    if (b != 0) return valuenv(b);
    return ID2(a) == NAME ? valuenv(a) : last;
}

static ALGEB ReadProgram(ALGEB file) {
    std::string name = cstring(file);
    if (!Ropen(name.c_str(), 0)) {
        char msg[400];
        snprintf(msg, sizeof msg, "unable to ReadProgram(%.300s)", name.c_str());
        userror(msg);
    }
    ReadingScope scope(r_unit0, false);
    std::vector<ALGEB> assigned;
    runstatements(&assigned);
    ALGEB r = Newl1((WORD)assigned.size() + 1, EXPSEQ);
    for (size_t i = 0; i < assigned.size(); i++)
        r[i + 1] = W(assigned[i]);
    return r;
}

static ALGEB ReadOffsetLine(ALGEB file, ALGEB offset) {
    std::string name = cstring(file);
    if (!RopenOfs(name.c_str(), intarg(offset))) return CreateString("EOF");
    ReadingScope scope(r_unit0, true);
    ALGEB s = ReadStatement();
    if (endofunit(s)) return CreateString("EOF");
    return evalstat(s, 2);
}

// One statement of the current input, with its own prompt.
static ALGEB ReadOneStatement(ALGEB t) {
    struct Keep {
        ALGEB p = prompt, stat = parsestat;
        int flag = prtflag;
        ~Keep() {
            prompt = p;
            parsestat = stat;
            prtflag = flag;
        }
    } keep;
    if (LENGTH(t) > 1) prompt = A(t[1]);
    ALGEB s = ReadStatement();
    prompt = keep.p;
    if (endofunit(s)) {
        closeinput();
        return CreateString("EOF");
    }
    return evalstat(s, 2);
}

// ---------------------------------------------------------------------------
// The special forms (table Form), on the unevaluated call.

static ALGEB assigned(ALGEB fname, ALGEB a) {
    switch (CASE_ID(a)) {
    case NAME_CASE:
    case TABLEREF_CASE:
    case LOCAL_CASE:
    case PARAM_CASE:
    case FUNCTION_CASE: break;
    default: kinderror(fname);
    }
    if (is(a, TABLEREF)) {
        ALGEB base = A(a[1]);
        WORD k = CASE_ID(base);
        if (k != NAME_CASE && k != LOCAL_CASE && k != PARAM_CASE && k != TABLEREF_CASE) {
            ALGEB v = eval(base);
            if (v != base) {
                a = copyalg(a);
                a[1] = W(v);
            }
        }
    }
    ALGEB r = evalname(a);
    if (is(r, NAME)) return boolname(valuenv(r) != r);
    if (is(r, TABLEREF)) {
        ALGEB v = eval(r);
        return boolname(v != r && !Equal(v, r, 0));
    }
    kinderror(fname);
}

static ALGEB fulleval(ALGEB a) {
    ALGEB v = eval(a), w = eval(v);
    if (w != v) return w;
    if (is(v, NAME)) {
        ALGEB p = valuenv(v);
        if (is(p, PROC)) return p;
    }
    return v;
}

// The call with its function part and arguments evaluated, not applied.
static ALGEB noeval(ALGEB a) {
    if (!is(a, FUNCTION)) return evparloc(a);
    ALGEB f = eval(A(a[1]));
    if (is(f, NAME)) {
        ALGEB p = valuenv(f);
        if (is(p, PROC) && IMMINT(A(p[PROC_BODY])) && IMMVAL(A(p[PROC_BODY])) < OWN_FIRST)
            return evparloc(a);
    }
    std::vector<ALGEB> args;
    bool changed = f != A(a[1]);
    for (WORD i = 2; i < LENGTH(a); i++) {
        ALGEB v = eval(A(a[i]));
        changed = changed || v != A(a[i]);
        if (is(v, EXPSEQ))
            for (WORD j = 1; j < LENGTH(v); j++)
                args.push_back(A(v[j]));
        else
            args.push_back(v);
    }
    if (!changed) return a;
    ALGEB r = Newl1((WORD)args.size() + 2, FUNCTION);
    r[1] = W(f);
    for (size_t i = 0; i < args.size(); i++)
        r[i + 2] = W(args[i]);
    return r;
}

[[noreturn]] static void doreturn(ALGEB call) {
    WORD n = LENGTH(call) - 2;
    if (n == 1) {
        funret = eval(A(call[2]));
    } else {
        ALGEB s = Newl1(n + 1, EXPSEQ);
        for (WORD i = 1; i <= n; i++)
            s[i] = call[i + 1];
        funret = eval(s);
    }
    lumbra_jump(Return);
}

static ALGEB sequence(ALGEB fname, ALGEB call) {
    ALGEB e = A(call[2]), b = A(call[3]);
    ALGEB var = 0, r = iteration(b, &var);
    if (r != 0) return evalseq(e, var, r);
    if (is(b, EQUATION)) kinderror(fname);
    ALGEB v = eval(b);
    if (!integer(v)) kinderror(fname);
    return evalseq(e, 0, v);
}

static ALGEB rememberform(ALGEB fname, ALGEB a) {
    if (iskeyword(a, "erase")) {
        remember(0, 0);
        return null;
    }
    if (!is(a, FUNCTION)) kinderror(fname);
    ALGEB args = Newl1(LENGTH(a) - 1, EXPSEQ);
    for (WORD i = 2; i < LENGTH(a); i++)
        args[i - 1] = W(eval(A(a[i])));
    ALGEB flat = FlattenExpseq(args, 0);
    return remember(eval(A(a[1])), flat);
}

static ALGEB specialform(Builtin b, ALGEB fname, ALGEB call) {
    WORD n = LENGTH(call) - 2;
    ALGEB a = n >= 1 ? A(call[2]) : 0;
    auto need = [&](WORD k) {
        if (n != k) counterror(fname, n);
    };
    switch (b) {
    case Builtin::assigned: need(1); return assigned(fname, a);
    case Builtin::traperror: need(1); return traperror(a);
    case Builtin::eval: need(1); return fulleval(a);
    case Builtin::iff: need(3); return eval(A(call[evalbool(a) ? 3 : 4]));
    case Builtin::time: return timing(call, cptime, true);
    case Builtin::noeval: need(1); return noeval(a);
    case Builtin::evalb: need(1); return boolname(evalbool(a));
    case Builtin::return_: doreturn(call);
    case Builtin::ReadLibrary: return ReadLibrary(fname, call);
    case Builtin::zip: need(1); return zip(a);
    case Builtin::sum: return sumprod(fname, call, true);
    case Builtin::walltime: return timing(call, rtime, false);
    case Builtin::seq: need(2); return sequence(fname, call);
    case Builtin::remember: need(1); return rememberform(fname, a);
    case Builtin::assert:
        need(1);
        if (!evalbool(a)) userror2(evparloc(a), "assertion failed");
        return null;
    case Builtin::product: return sumprod(fname, call, false);
    default: break;
    }
    userror("not a built-in function");
}

// ---------------------------------------------------------------------------
// Table Own: routines that check their own arguments.

// BreakLongLines is off while a format prints, whichever way the printing ends.
struct NoLineBreaks {
    NoLineBreaks() { BreakLongLines = 0; }
    ~NoLineBreaks() { BreakLongLines = 1; }
};

static void checkformat(ALGEB fname, ALGEB t) {
    if (LENGTH(t) < 2) counterror(fname, 0);
    if (!textual(A(t[1]))) kinderror(fname);
}

static ALGEB sprintfbuiltin(ALGEB t) {
    std::unique_ptr<char[]> buf(new char[PRINTBUFSIZE]);
    {
        PrintIntoString into(buf.get());
        NoLineBreaks nb;
        mprintf(t);
    }
    return CreateString(buf.get());
}

[[noreturn]] static void raiseerror(ALGEB t) {
    WORD n = LENGTH(t) - 1;
    ININlasterror[1] = W(n == 1 ? A(t[1]) : copyalg(t));
    funret = A(Environment->ctx);
    ErrorLevel = 0;
    lumbra_jump(Error);
}

static ALGEB opbuiltin(ALGEB fname, ALGEB t) {
    WORD n = LENGTH(t) - 1;
    if (n == 1) return op(1, numterms(A(t[1])), A(t[1]));
    if (n != 2) counterror(fname, n);
    ALGEB i = A(t[1]);
    if (IMMINT(i)) return op(IMMVAL(i), IMMVAL(i), A(t[2]));
    if (ID2(i) == RANGE && IMMINT(A(i[1])) && IMMINT(A(i[2])))
        return op(IMMVAL(A(i[1])), IMMVAL(A(i[2])), A(t[2]));
    kinderror(fname);
}

static ALGEB table2(Builtin b, ALGEB fname, ALGEB t) {
    WORD n = LENGTH(t) - 1;
    switch (b) {
    case Builtin::printf: {
        checkformat(fname, t);
        NoLineBreaks nb;
        mprintf(t);
        return null;
    }
    case Builtin::error: raiseerror(t);
    case Builtin::iterate: iterate(t); return null;
    case Builtin::lprint:
        lline = 0;
        BreakLongLines = 1;
        for (WORD i = 1; i <= n; i++) {
            if (i > 1) prpart(" ");
            lineprint(A(t[i]), 0);
        }
        mendline();
        return null;
    case Builtin::Match: return MatchBuiltin(fname, t);
    case Builtin::CreateArray:
        if (n < 1) counterror(fname, n);
        return CreateArray(t, 1);
    case Builtin::sort:
        if (n != 1 && n != 2) counterror(fname, n);
        return LumbraSort(t);
    case Builtin::op: return opbuiltin(fname, t);
    case Builtin::CodonToInt: return CodonToIntBuiltin(fname, t);
    case Builtin::sprintf: checkformat(fname, t); return sprintfbuiltin(t);
    case Builtin::append: {
        if (n < 1) counterror(fname, n);
        ALGEB r = A(t[1]);
        WORD k = CASE_ID(r);
        if (k != LIST_CASE && k != LISTNUM_CASE && k != FUNCTION_CASE && k != SET_CASE)
            kinderror(fname);
        for (WORD i = 2; i <= n; i++)
            r = append(r, A(t[i]));
        return r;
    }
    case Builtin::type:
        if (n == 1) {
            ALGEB c = type1(A(t[1]));
            return c != 0 ? c : null;
        }
        if (n != 2) counterror(fname, n);
        return boolname(type(A(t[1]), A(t[2])));
    case Builtin::DynProgStrings: return DynProgStringsBuiltin(fname, t);
    case Builtin::union_: return SetUnion(t);
    case Builtin::intersect: return SetIntersect(t);
    default: break;
    }
    userror("not a built-in function");
}

// ---------------------------------------------------------------------------
// Table Typed: routines whose arguments were counted and typed here.

static ALGEB memberof(ALGEB x, ALGEB s) {
    if (IMMINT(s)) userror("invalid argument for member");
    switch (CASE_ID2(s)) {
    case SET_CASE: return boolname(SetHas(s, x));
    case LISTNUM_CASE: {
        if (!numeric(x)) return ININfalse;
        double d = DBL(x);
        for (WORD i = 0; i < LISTNUMLEN(s); i++)
            if (LISTNUMDATA(s)[i] == d) return ININtrue;
        return ININfalse;
    }
    case LIST_CASE:
    case FUNCTION_CASE: {
        if (ID2(s) == FUNCTION && IsUniverse(s)) return ININtrue;
        ALGEB e = ID2(s) == LIST ? A(s[1]) : s;
        if (member(e, x)) return ININtrue;
        for (WORD i = ID2(s) == LIST ? 1 : 2; i < LENGTH(e); i++)
            if (SetComp(A(e[i]), x) == 0) return ININtrue;
        return ININfalse;
    }
    }
    userror("invalid argument for member");
}

static ALGEB searcharray(ALGEB x, ALGEB L) {
    if (ID2(L) == LISTNUM) {
        if (!numeric(x)) return cons0;
        double d = DBL(x);
        for (WORD i = 0; i < LISTNUMLEN(L); i++)
            if (LISTNUMDATA(L)[i] == d) return Newint(i + 1);
        return cons0;
    }
    ALGEB e = A(L[1]);
    for (WORD i = 1; i < LENGTH(e); i++)
        if (Equal(A(e[i]), x, 0)) return Newint(i);
    return cons0;
}

// The largest i with L[i] <= x, by bisection over [0, m + 1).
static ALGEB searchordered(ALGEB x, ALGEB L) {
    WORD lo = 0, hi = numterms(L) + 1;
    WORD sel[2] = {EXPSEQ | 2, 0};
    while (hi - lo > 1) {
        WORD mid = (lo + hi) / 2;
        sel[1] = W(MKIMM(mid));
        if (CompareAny(LESSEQ, selector(L, sel, 1, 0), x))
            lo = mid;
        else
            hi = mid;
    }
    return Newint(lo);
}

static ALGEB parsebuiltin(ALGEB s) {
    Chars c = textof(s);
    ALGEB r = LumbraParse(c.s, (int)c.n);
    if (r == 0) userror("failed to parse anything");
    if (is(r, PROC)) {
        r = simplfnc(r, 0, 0);
        if (is(r, PROC) && ismodule(r)) return evalfunc(r, null, naminstall("module"));
    }
    return r;
}

static ALGEB version() {
#if defined(__x86_64__)
    const char *arch = "x86_64";
#else
    const char *arch = "unknown";
#endif
    return New10(EXPSEQ, CreateString("Lumbra kernel"), CreateString(arch), NewNumber(Version),
                 CreateString(LUMBRA_COMPILER), CreateString(__VERSION__),
                 CreateString(LUMBRA_CXXFLAGS), CreateString(__DATE__ " " __TIME__), NewNumber(4.0),
                 CreateString("no"));
}

static ALGEB stringhash(ALGEB s) {
    Chars c = textof(s);
    uint32_t h = 0;
    for (size_t i = 0; i < c.n; i++)
        h = h * 131u + (uint32_t)(int32_t)(signed char)c.s[i];
    return Newint((INT)h);
}

static ALGEB sha512hex(ALGEB s) {
    Chars c = textof(s);
    sha512_ctx ctx;
    uint8_t digest[SHA512_DIGEST_SIZE];
    sha512_init(&ctx);
    sha512_update(&ctx, c.n, (const uint8_t *)c.s);
    sha512_digest(&ctx, sizeof digest, digest);
    char hex[2 * SHA512_DIGEST_SIZE + 1];
    for (int i = 0; i < SHA512_DIGEST_SIZE; i++)
        snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return textfrom(hex, 2 * SHA512_DIGEST_SIZE);
}

static ALGEB symbol(ALGEB s) {
    if (ID2(s) == NAME) return s;
    Chars c = textof(s);
    if (c.n > 499) userror("string too long, cannot convert to a symbol");
    char buf[501];
    memcpy(buf, c.s, c.n);
    buf[c.n] = 0;
    return naminstall(buf);
}

static ALGEB blanks(ALGEB fname, ALGEB t) {
    WORD n = LENGTH(t) - 1;
    long k = intarg(A(t[1]));
    char fill = ' ';
    if (n == 2) {
        Chars c = textof(A(t[2]));
        if (c.n != 1) kinderror(fname);
        fill = c.s[0];
    }
    if (k < 0) kinderror(fname);
    if (k <= 1) return k == 0 ? OneChar[0] : OneChar[(unsigned char)fill];
    ALGEB r = NewText((UWORD)k);
    memset(STR(r)->t, fill, (size_t)k);
    return r;
}

static ALGEB rawline(ALGEB t) {
    std::string prompt;
    if (LENGTH(t) > 1 && Type_input == 0 && Reading_tty() && Writing_tty() && !optquiet) {
        Chars c = textof(A(t[1]));
        prompt.assign(c.s, c.n);
    }
    return ReadRawLine(prompt.c_str());
}

static ALGEB table3(Builtin b, ALGEB fname, ALGEB t) {
    WORD n = LENGTH(t) - 1;
    ALGEB a = n >= 1 ? A(t[1]) : 0, a2 = n >= 2 ? A(t[2]) : 0;
    switch (b) {
    case Builtin::AToInt: return AToIntBuiltin(a);
    case Builtin::IntToA: return IntToABuiltin(a);
    case Builtin::AAAToInt: return AAAToIntBuiltin(fname, a);
    case Builtin::IntToAAA: return IntToAAABuiltin(a);
    case Builtin::AminoToInt: return AminoToIntBuiltin(a);
    case Builtin::IntToAmino: return IntToAminoBuiltin(a);
    case Builtin::OpenPipe: {
        serverrefuses("cannot do OpenPipe as a server");
        if (!Ropen(cstring(a).c_str(), 1)) {
            perror("OpenPipe");
            userror("unable to open pipe");
        }
        return null;
    }
    case Builtin::exp: {
        if (is(a, LIST)) return maexp(a);
        if (!numeric(a) || !(DBL(a) < 709.1962086421661)) kinderror(fname);
        return NewNumber(exp(DBL(a)));
    }
    case Builtin::ln: {
        if (is(a, LIST)) return mlog(a);
        if (!numeric(a) || DBL(a) <= 0) kinderror(fname);
        return NewNumber(log(DBL(a)));
    }
    case Builtin::length: return Newint(length(a));
    case Builtin::GetTextOffset: {
        Chars c = textof(a);
        ALGEB head = FindTextHead(c.s);
        if (head == 0) userror("cannot determine containing string");
        return Newint(c.s - STR(head)->t);
    }
    case Builtin::SetRand: msrand((int)intarg(a)); return null;
    case Builtin::OpenAppending:
    case Builtin::OpenWriting:
        serverrefuses("cannot do OpenAppending/OpenWriting as a server");
        OpenOutput(cstring(a).c_str(), b == Builtin::OpenAppending);
        return null;
    case Builtin::GaussElim: return GaussElim(a, a2);
    case Builtin::SearchArray: return searcharray(a, a2);
    case Builtin::StrictEqual: return boolname(Equal(a, a2, 1));
    case Builtin::CallSystem:
        serverrefuses("cannot do CallSystem as a server");
        return CallSystem(cstring(a).c_str());
    case Builtin::ReadRawFile:
        serverrefuses("cannot do ReadRawFile as a server");
        return ReadRawFile(cstring(a).c_str());
    case Builtin::Set: return SetOption(a);
    case Builtin::parse: return parsebuiltin(a);
    case Builtin::gc: nextgc = cused - 1; return null;
    case Builtin::member: return memberof(a, a2);
    case Builtin::sscanf: return msscanf(a, a2);
    case Builtin::matrix_inverse: return matrix_inverse(a);
    case Builtin::transpose: return transpose(a);
    case Builtin::Cholesky: return Cholesky(a);
    case Builtin::size: return Newint(size(a));
    case Builtin::version: return version();
    case Builtin::ObjectHash: return Newint((INT)hashalg(a));
    case Builtin::StringHash: return stringhash(a);
    case Builtin::ReadDb: return ReadDbBuiltin(fname, t);
    case Builtin::CreateOrigDayMatrixCounts:
        return CreateOrigDayMatrixCountsBuiltin(a, a2, A(t[3]));
    case Builtin::has: return boolname(has(a, a2));
    case Builtin::sha512: return sha512hex(a);
    case Builtin::IntToAscii: {
        long k = intarg(a);
        if (k < 1 || k > 255) kinderror(fname);
        return OneChar[k];
    }
    case Builtin::AsciiToInt: {
        Chars c = textof(a);
        if (c.n != 1) kinderror(fname);
        return Newint((unsigned char)c.s[0]);
    }
    case Builtin::SearchDayMatrix: return SearchDayMatrixBuiltin(a, a2);
    case Builtin::CreateOrigDayMatrixRates: return CreateOrigDayMatrixRatesBuiltin(a, a2);
    case Builtin::ProfileEnter:
    case Builtin::ProfileExit:
        if (printprofile)
            prtprof(b == Builtin::ProfileEnter, cstring(a).c_str(), (int)ENVevlstlev - 1);
        return null;
    case Builtin::BToInt: return BToIntBuiltin(a);
    case Builtin::IntToB: return IntToBBuiltin(a);
    case Builtin::BBBToInt: return BBBToIntBuiltin(fname, a);
    case Builtin::IntToBBB: return IntToBBBBuiltin(a);
    case Builtin::BaseToInt: return BaseToIntBuiltin(a);
    case Builtin::IntToBase: return IntToBaseBuiltin(a);
    case Builtin::date: return date();
    case Builtin::hostname: return hostname();
    case Builtin::SearchOrderedArray: return searchordered(a, a2);
    case Builtin::getpid: return Newint(getpid());
    case Builtin::sleep: sleep((unsigned)std::max(0L, intarg(a))); return null;
    case Builtin::ReadProgram:
        serverrefuses("Cannot ReadProgram as a server");
        return ReadProgram(a);
    case Builtin::OpenReading: {
        serverrefuses("Cannot OpenReading as a server");
        std::string name = cstring(a);
        if (!Ropen(name.c_str(), 0)) {
            char msg[400];
            snprintf(msg, sizeof msg, "unable to OpenReading(%.300s)", name.c_str());
            userror(msg);
        }
        return null;
    }
    case Builtin::ReadOffsetLine:
        serverrefuses("cannot ReadOffsetLine as a server");
        return ReadOffsetLine(a, a2);
    case Builtin::getenv: {
        const char *v = getenv(cstring(a).c_str());
        return v != 0 ? CreateString(v) : OneChar[0];
    }
    case Builtin::minus: return SetMinus(t);
    case Builtin::subset: return SetSubset(t);
    case Builtin::InputPosition: return NewNumber(R_unit != 0 ? (double)ftell(R_unit) : -1.0);
    case Builtin::ConnectTcp: return ConnectTcpBuiltin(fname, t);
    case Builtin::SendTcp: return SendTcpBuiltin(fname, t);
    case Builtin::ReceiveTcp: return ReceiveTcpBuiltin(fname, t);
    case Builtin::DisconnectTcp: return DisconnectTcpBuiltin(fname, t);
    case Builtin::antiparallel: return antiparallelBuiltin(a);
    case Builtin::lowercase: return lowercase(a);
    case Builtin::uppercase: return uppercase(a);
    case Builtin::assemble: return assemble(a);
    case Builtin::disassemble: return disassemble(a);
    case Builtin::symbol: return symbol(a);
    case Builtin::warning: {
        Chars c = textof(a);
        fprintf(stderr, "WARNING: %.*s\n", (int)c.n, c.s);
        return null;
    }
    case Builtin::setenv:
        serverrefuses("cannot do setenv as a server");
        setenv(cstring(a).c_str(), cstring(a2).c_str(), 1);
        return null;
    case Builtin::compress: return compress(a);
    case Builtin::decompress: return decompress(a);
    case Builtin::ServerSocket: return ServerSocketBuiltin(fname, t);
    case Builtin::exit: exitWithStatus((int)intarg(a));
    case Builtin::Eigenvalues: return Eigenvalues(t);
    case Builtin::ComputeCubicTSP: return ComputeCubicTSP(t);
    case Builtin::ComputeQuarticTSP: return ComputeQuarticTSP(t);
    case Builtin::DynProgScore: return DynProgScoreBuiltin(t);
    case Builtin::DynProgBoth: return DynProgBothBuiltin(t);
    case Builtin::EstimatePam: return EstimatePamBuiltin(t);
    case Builtin::AlignOneAll: return AlignOneAllBuiltin(fname, t);
    case Builtin::Blanks:
        if (n < 1) counterror(fname, n);
        return blanks(fname, t);
    case Builtin::names: return names(n >= 1 ? a : ININanything);
    case Builtin::ReadStatement: return ReadOneStatement(t);
    case Builtin::RawFileStat:
        serverrefuses("cannot do FileStat as a server");
        if (n != 1) counterror(fname, n);
        return FileStat(a);
    case Builtin::TimedCallSystem:
        serverrefuses("cannot do TimedCallSystem as a server");
        if (n < 1) counterror(fname, n);
        return TimedCallSystem(cstring(a).c_str(), n == 2 ? (int)intarg(a2) : 0);
    case Builtin::LockFile:
        serverrefuses("cannot do LockFile as a server");
        if (n < 1) counterror(fname, n);
        return LockFile(cstring(a).c_str(), n == 2 ? cstring(a2).c_str() : nullptr);
    case Builtin::CaseSearchString: return CaseSearchStringBuiltin(fname, t);
    case Builtin::GetMostFrequentGrams: return GetMostFrequentGramsBuiltin(fname, t);
    case Builtin::SearchString: return SearchStringBuiltin(fname, t);
    case Builtin::SearchSeqDb: return SearchSeqDbBuiltin(fname, t);
    case Builtin::ApproxSearchStringIndels: return ApproxSearchStringIndelsBuiltin(fname, t);
    case Builtin::SearchTag: return SearchTagBuiltin(fname, t);
    case Builtin::ApproxSearchString: return ApproxSearchStringBuiltin(fname, t);
    case Builtin::MatchRegex: return MatchRegexBuiltin(fname, t);
    case Builtin::FindLongestRep: return FindLongestRepBuiltin(fname, t);
    case Builtin::GetOffset: return GetOffsetBuiltin(fname, t);
    case Builtin::GetEntryNumber: return GetEntryNumberBuiltin(fname, t);
    case Builtin::SeqFileToDb: return SeqFileToDbBuiltin(fname, t);
    case Builtin::DbPart: return DbPartBuiltin(fname, t);
    case Builtin::StartDebugger:
        serverrefuses("cannot do StartDebugger as a server");
        DebugLevel = 1000000000;
        return null;
    case Builtin::ReadRawLine: return rawline(t);
    case Builtin::copy:
        if (n < 1) counterror(fname, n);
        return copy(a, n == 2 ? (int)intarg(a2) : 2147483647);
    default: break;
    }
    userror("a function with option builtin has an invalid number");
}

// ---------------------------------------------------------------------------
// The dispatch.

// Counts and declared types of the arguments of the Typed table; a polymorphic
// procedure may hand a call with mistyped arguments to a method, whose result is then *r.
static bool checkarguments(int b, ALGEB proc, ALGEB fname, ALGEB t, ALGEB *r) {
    ALGEB params = A(proc[PROC_PARAMS]);
    WORD p = LENGTH(params), L = LENGTH(t), n = L - 1;
    if ((L != p && b < TYPED_OPTIONAL_FIRST) || L > p) counterror(fname, n);
    for (WORD i = 1; i <= n && i < p; i++) {
        ALGEB par = A(params[i]);
        if (!is(par, COLON) || type(A(t[i]), A(par[2]))) continue;
        if (hasoption(proc, ININpolymorphic)) {
            ALGEB m = n == 1   ? UnaryPolymorphic(fname, A(t[1]))
                      : n == 2 ? BinaryPolymorphic(fname, A(t[1]), A(t[2]))
                               : 0;
            if (m != 0) {
                *r = m;
                return false;
            }
        }
        prwrongargument(fname, i, par, A(t[i]));
        mendline();
        userror("invalid arguments");
    }
    return true;
}

ALGEB evalbuiltin(ALGEB proc, ALGEB fname, ALGEB call, ALGEB t) {
    int b = builtinnumber(proc);
    if (isspecialform(b)) return specialform(Builtin(b), fname, call);
    if (b < TYPED_FIRST) {
        if (b < OWN_FIRST || b > OWN_LAST) userror("not a built-in function");
        return table2(Builtin(b), fname, t);
    }
    ALGEB r;
    if (!checkarguments(b, proc, fname, t, &r)) return r;
    if (b > TYPED_LAST) userror("a function with option builtin has an invalid number");
    return table3(Builtin(b), fname, t);
}

// ---------------------------------------------------------------------------
// Small routines of their own.

static ALGEB mapcase(ALGEB s, int (*f)(int)) {
    Chars c = textof(s);
    if (c.n == 0) return OneChar[0];
    if (c.n == 1) return OneChar[(unsigned char)f((unsigned char)c.s[0])];
    ALGEB r = NewText(c.n);
    char *d = STR(r)->t;
    for (size_t i = 0; i < c.n; i++)
        d[i] = (char)f((unsigned char)c.s[i]);
    return r;
}

ALGEB uppercase(ALGEB s) { return mapcase(s, toupper); }

ALGEB lowercase(ALGEB s) { return mapcase(s, tolower); }

// Standard input and the terminal are read through the line editor, which holds the keys typed
// ahead and shows the prompt.
ALGEB ReadRawLine(const char *prompt) {
    constexpr int RAWLINE = 100000;
    if (R_unit == 0) return CreateString("EOF");
    std::unique_ptr<char[]> buf(new char[RAWLINE]);
    bool editor = Type_input == 0 && (r_unit0 == 0 || Reading_tty());
    if (editor ? !ReadLineFromCmdEdit(buf.get(), RAWLINE, prompt)
               : fgets(buf.get(), RAWLINE, R_unit) == 0) {
        Rclose();
        return CreateString("EOF");
    }
    return textfrom(buf.get(), strlen(buf.get()));
}
