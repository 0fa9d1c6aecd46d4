// The printer: any object rendered as linear text in the language's own syntax.
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "LoadFile.h"
#include "Lumbra.h"
#include "compress.h"
#include "eval.h"
#include "simplfnc.h"

int lline = 0;
int scrnwidth = 80;
int BreakLongLines = 1;
char *PrintToString = 0;
int PrintToi = 0;
int EscapedStrings = 0;
ALGEB procprint = 0;
char gstr[400];

// Appending stops this far short of the capacity so that "..." and a NUL still fit.
constexpr WORD PRINTBUFLIMIT = PRINTBUFSIZE - 3;
constexpr UWORD MAXPRINTSTRING = 1400000;
static const char UnablePrint[] = "----unable to print----";

static constexpr std::array<signed char, 64> levels = [] {
    std::array<signed char, 64> t{};
    for (WORD c : {NAME_CASE, LIST_CASE, LOCAL_CASE, PARAM_CASE, PROC_CASE, LISTNUM_CASE, SET_CASE})
        t[c] = PREC_NAME;
    for (WORD c : {NUMBER_CASE, TABLEREF_CASE, FUNCTION_CASE, TEXT_CASE, DNAFILE_CASE,
                   DAYMATRIX_CASE, MATCH_CASE, COMPRESSED_CASE})
        t[c] = PREC_ATOM;
    t[POWER_CASE] = PREC_POWER;
    t[PROD_CASE] = PREC_PROD;
    t[SUM_CASE] = PREC_SUM;
    t[RANGE_CASE] = PREC_RANGE;
    t[CATENATE_CASE] = PREC_CATENATE;
    for (WORD c : {EQUATION_CASE, INEQUAT_CASE, LESSEQ_CASE, LESSTHAN_CASE})
        t[c] = PREC_RELATION;
    t[NOT_CASE] = PREC_NOT;
    t[AND_CASE] = PREC_AND;
    t[OR_CASE] = PREC_OR;
    t[COLON_CASE] = PREC_COLON;
    return t;
}();

int typelevel(WORD type) { return levels[(type >> ShiftID) & 63]; }

// ---------------------------------------------------------------------------
// Output pieces.

static FILE *outunit() { return w_unit ? w_unit : stdout; }

void prpartn(const char *s, size_t n) {
    if (n == 0) return;
    if (PrintToString) {
        if (PrintToString == (char *)1) return;
        if ((WORD)PrintToi + (WORD)n < PRINTBUFLIMIT) {
            memcpy(PrintToString + PrintToi, s, n);
            PrintToi += (int)n;
        } else {
            memcpy(PrintToString + PrintToi, "...", 3);
            PrintToi += 3;
            PrintToString[PrintToi] = 0;
            PrintToString = (char *)1;
            return;
        }
        PrintToString[PrintToi] = 0;
        return;
    }
    FILE *f = outunit();
    WORD w = scrnwidth, len = (WORD)n, col = lline;
    if (!BreakLongLines || col + len <= w) {
        fwrite(s, 1, n, f);
        col += len;
    } else if (col + len == w + 1 && s[n - 1] == ' ') {
        // The blank would end the line anyway.
        fwrite(s, 1, n - 1, f);
        col += len - 1;
    } else if (len <= w) {
        fputc('\n', f);
        fwrite(s, 1, n, f);
        col = len;
    } else {
        if (col >= w - 1) {
            fputc('\n', f);
            col = 0;
        }
        for (size_t i = 0; i < n; i++) {
            if (col >= w - 1 && i + 1 < n) {
                fputs("\\\n", f);
                col = 0;
            }
            fputc(s[i], f);
            col = s[i] == '\n' ? 0 : col + 1;
        }
    }
    lline = s[n - 1] == '\n' ? 0 : (int)col;
}

void prpart(const char *s) { prpartn(s, strlen(s)); }

void mendline() {
    FILE *f = outunit();
    fputc('\n', f);
    fflush(f);
    lline = 0;
}

void printint(WORD i) {
    char b[32];
    snprintf(b, sizeof b, "%ld", (long)i);
    prpart(b);
}

// ---------------------------------------------------------------------------
// Numbers.

// A user's format is handed to the platform, so it may hold only "%%" and at
// most one conversion of a double: flags, width, precision, "l", aAeEfFgG.
static bool doubleformat(const std::string &f) {
    int conversions = 0;
    for (size_t i = 0; i < f.size(); i++) {
        if (f[i] != '%') continue;
        if (++i < f.size() && f[i] == '%') continue;
        while (i < f.size() && strchr("+- #0", f[i]))
            i++;
        while (i < f.size() && f[i] >= '0' && f[i] <= '9')
            i++;
        if (i < f.size() && f[i] == '.') {
            i++;
            while (i < f.size() && f[i] >= '0' && f[i] <= '9')
                i++;
        }
        if (i < f.size() && f[i] == 'l') i++;
        if (i >= f.size() || !strchr("aAeEfFgG", f[i])) return false;
        conversions++;
    }
    return conversions <= 1;
}

void sprintnum(double x) {
    std::string user;
    const char *fmt = 0;
    ALGEB nf = A(ININNumberFormat[1]);
    if (nf && textual(nf)) {
        if (ID2(nf) == NAME)
            user = NAMETEXT(nf);
        else
            user.assign(STR(nf)->t, STR(nf)->length);
        if (doubleformat(user)) fmt = user.c_str();
    }
    if (!fmt) {
        if (x == std::nearbyint(x))
            fmt = x >= -1e22 && x <= 1e22 ? "%1.0f" : "%.17g";
        else if (std::fabs(x) > 0.1)
            fmt = "%5.4f";
        else if (std::fabs(x) > 0.0001)
            fmt = "%9.8f";
        else
            fmt = "%6.5g";
    }
    int n = snprintf(gstr, sizeof gstr, fmt, x);
    if (n < 0 || n >= (int)sizeof gstr) {
        PrintToString = 0;
        userror("buffer not large enough for printing number");
    }
}

// ---------------------------------------------------------------------------
// Names and strings.

static bool isletter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

int NeedsQuotes(const char *s) {
    if (!*s) return 1;
    if (!strcmp(s, "minus") || !strcmp(s, "union") || !strcmp(s, "intersect")) return 1;
    if (!strcmp(s, "\"") || !strcmp(s, "\"\"") || !strcmp(s, "\"\"\"")) return 0;
    if (!isletter(s[0])) return 1;
    for (s++; *s; s++)
        if (!isletter(*s) && !(*s >= '0' && *s <= '9')) return 1;
    return 0;
}

void prquotes(const char *s) {
    if (!NeedsQuotes(s)) {
        prpart(s);
        return;
    }
    std::string q = "'";
    for (; *s; s++) {
        if (*s == '\'') q += '\'';
        q += *s;
    }
    q += '\'';
    prpartn(q.data(), q.size());
}

// The characters in quotes, escaped so that they read back as the same text.
static void prescaped(const char *s, UWORD n) {
    std::string e = "'";
    for (UWORD i = 0; i < n; i++) {
        unsigned char c = (unsigned char)s[i];
        switch (c) {
        case '\'': e += "''"; break;
        case '\\': e += "\\\\"; break;
        case '\a': e += "\\a"; break;
        case '\b': e += "\\b"; break;
        case '\f': e += "\\f"; break;
        case '\n': e += "\\n"; break;
        case '\r': e += "\\r"; break;
        case '\t': e += "\\t"; break;
        case '\v': e += "\\v"; break;
        default:
            if (c >= ' ' && c < 127) {
                e += (char)c;
            } else {
                char oct[8];
                snprintf(oct, sizeof oct, "\\%03o", c);
                e += oct;
            }
        }
        if (e.size() > MAXPRINTSTRING - 1) userror("string too long to print");
    }
    e += '\'';
    if (e.size() > MAXPRINTSTRING - 1) userror("string too long to print");
    prpartn(e.data(), e.size());
}

void prstring(ALGEB x) {
    const char *s = STR(x)->t;
    UWORD n = (UWORD)STR(x)->length;
    if (!EscapedStrings) {
        if (n > MAXPRINTSTRING) userror("string too long to print");
        prpartn(s, n);
        return;
    }
    prescaped(s, n);
}

// The characters of a NAME or TEXT.
static void prchars(ALGEB x) {
    if (x && textual(x)) {
        if (ID2(x) == NAME)
            prpart(NAMETEXT(x));
        else
            prpartn(STR(x)->t, STR(x)->length);
    } else {
        lineprint(x, 0);
    }
}

static void prrange(UWORD first, UWORD last) {
    printint((WORD)first);
    prpart("..");
    printint((WORD)last);
}

// In the escaped rendering a text inside the current database prints as an expression on DB,
// so that it reads back as the same characters of the same database.
static bool prdbtext(ALGEB x) {
    DbTextPlace f = DbPlaceOf(x);
    switch (f.kind) {
    case DbTextPlace::Outside:
    case DbTextPlace::Plain: return false;
    case DbTextPlace::Whole: prpart("DB[string]"); return true;
    case DbTextPlace::Range:
        prpart("DB[string,");
        prrange(f.first, f.last);
        prpart("]");
        return true;
    case DbTextPlace::Sequence:
    case DbTextPlace::Entry:
        prpart(f.kind == DbTextPlace::Sequence ? "Sequence(" : "Entry(");
        prpart(f.tag);
        prpart("(");
        prescaped(f.value, f.valuelen);
        prpart("))");
        if (f.first != 0) {
            prpart("[");
            prrange(f.first, f.last);
            prpart("]");
        }
        return true;
    }
    return false;
}

static void prtext(ALGEB x) {
    if (EscapedStrings) {
        if (!prdbtext(x)) prstring(x);
        return;
    }
    const char *s = STR(x)->t;
    UWORD n = (UWORD)STR(x)->length;
    if (n > 199) {
        prpartn(s, 50);
        prpart(" ..(");
        printint((WORD)n);
        prpart(").. ");
        prpartn(s + n - 11, 11);
    } else {
        prstring(x);
    }
}

// ---------------------------------------------------------------------------
// Helpers for sequences and procedures.

static const char *seqsep() { return EscapedStrings ? "," : ", "; }
static bool isempty(ALGEB x) { return x == 0 || ISNULL(x); }

// Words from..L-1 of x, each at level 0.
static void prwords(ALGEB x, WORD from, const char *sep) {
    for (WORD i = from; i < LENGTH(x); i++) {
        if (i > from) prpart(sep);
        lineprint(A(x[i]), 0);
    }
}

void prlist(ALGEB x, const char *sep) { prwords(x, 1, sep); }

// The elements of a container's sequence; anything else alone.
static void prelements(ALGEB s, const char *sep) {
    if (s && is(s, EXPSEQ))
        prlist(s, sep);
    else
        lineprint(s, 0);
}

void prinpar(ALGEB x) {
    prpart("(");
    lineprint(x, 0);
    prpart(")");
}

int prtneg(ALGEB x, int level) {
    if (!x) return 0;
    if (numeric(x)) return consneg(x) && level <= PREC_ATOM;
    return ID2(x) == PROD && LENGTH2(x) > 1 && consneg(A(x[1])) && level <= PREC_PROD;
}

// The declared locals, before and after conversion.
static ALGEB proclocals(ALGEB p) {
    return isunconverted(p) ? A(A(p[PROC_LOCALS])[1]) : A(p[PROC_LOCALS]);
}

static ALGEB localname(ALGEB p, WORD k) {
    if (!p || !is(p, PROC)) return 0;
    ALGEB locs = proclocals(p);
    if (!locs || !is(locs, EXPSEQ) || k < 1 || k >= LENGTH2(locs)) return 0;
    return A(locs[k]);
}

static WORD count(ALGEB s) { return is(s, EXPSEQ) ? LENGTH2(s) - 1 : 1; }

// Inside a procedure being printed its locals and parameters print by name.
struct ProcPrintScope {
    ALGEB saved;
    explicit ProcPrintScope(ALGEB p) : saved(procprint) { procprint = p; }
    ~ProcPrintScope() { procprint = saved; }
    ProcPrintScope(const ProcPrintScope &) = delete;
    ProcPrintScope &operator=(const ProcPrintScope &) = delete;
};

static void prproc(ALGEB x) {
    ProcPrintScope scope(x);
    ALGEB params = A(x[PROC_PARAMS]), opts = A(x[PROC_OPTIONS]);
    const char *sep = seqsep();
    if (hasoption(x, ININarrow)) {
        if (IDLENGTH(params, EXPSEQ, 2))
            lineprint(A(params[1]), 0);
        else
            prinpar(params);
        prpart(" -> ");
        lineprint(A(x[PROC_BODY]), 0);
        return;
    }
    prpart("proc (");
    prelements(params, sep);
    if (LENGTH2(x) > PROC_OPTIONAL) {
        ALGEB opt = A(x[PROC_OPTIONAL]);
        prpart(" ; ");
        if (!isunconverted(x)) {
            // The executable form keeps (declaration, default, slot) triples.
            for (WORD i = 1; i < LENGTH(opt); i += 3) {
                if (i > 1) prpart(sep);
                lineprint(A(opt[i]), 0);
            }
        } else {
            prelements(opt, sep);
        }
    }
    prpart(") ");
    ALGEB rtype = A(x[PROC_RESULT]), locs = proclocals(x), descr = A(x[PROC_DESCRIPTION]);
    if (!isempty(rtype)) {
        prpart("-> ");
        lineprint(rtype, 0);
        prpart("; ");
    }
    if (!isempty(locs)) {
        prpart("local ");
        prelements(locs, sep);
        prpart("; ");
    }
    if (!isempty(opts)) {
        prpart(count(opts) == 1 ? "option " : "options ");
        prelements(opts, sep);
        prpart("; ");
    }
    if (!isempty(descr)) {
        prpart("description ");
        lineprint(descr, 0);
        prpart("; ");
    }
    lineprint(A(x[PROC_BODY]), 0);
    prpart(" end");
}

// ---------------------------------------------------------------------------
// Records.

static ALGEB namevalue(const char *s) {
    ALGEB *p = srchname(s);
    if (p == (ALGEB *)NOTFOUND) return 0;
    return A(p[1][1]);
}

static bool samepam(ALGEB y, double pam) {
    return y && is(y, DAYMATRIX) && std::fabs(((DayMatrix *)y)->PamNumber - pam) < 1e-5 * pam;
}

static void prdaymatrix(ALGEB x) {
    DayMatrix *dm = (DayMatrix *)x;
    char b[512];
    if (EscapedStrings) {
        // Name the matrix by the expression that finds it again.
        ALGEB v = namevalue("DM");
        if (samepam(v, dm->PamNumber)) {
            prpart("DM");
            return;
        }
        v = namevalue("DMS");
        if (v && is(v, LIST)) {
            ALGEB s = A(v[1]);
            for (WORD i = 1; i < LENGTH(s); i++) {
                ALGEB e = A(s[i]);
                if (!e || !is(e, DAYMATRIX)) break;
                if (samepam(e, dm->PamNumber)) {
                    snprintf(b, sizeof b, "DMS[%ld]", (long)i);
                    prpart(b);
                    return;
                }
            }
        }
        snprintf(b, sizeof b, "DayMatrix(%.7g)", dm->PamNumber);
        prpart(b);
        return;
    }
    prpart("DayMatrix(");
    prchars(dm->type);
    snprintf(b, sizeof b, ", pam=%g,", dm->PamNumber);
    prpart(b);
    snprintf(b, sizeof b, " Sim: max=%4.3f,", dm->MaxSim);
    prpart(b);
    double mn = 0;
    for (WORD i = 0; i < (WORD)dm->dim * dm->dim; i++)
        if (i == 0 || dm->Simi[i] < mn) mn = dm->Simi[i];
    snprintf(b, sizeof b, " min=%4.3f,", mn);
    prpart(b);
    if (dm->Mapping) {
        prpart(" Mapping=");
        lineprint(dm->Mapping, 0);
        prpart(",");
    }
    if (dm->dim != 21) {
        snprintf(b, sizeof b, " dim=%d,", dm->dim);
        prpart(b);
    }
    if (isempty(dm->DelCost)) {
        snprintf(b, sizeof b, " del=%4.3f%+4.3f*(k-1))", dm->FixedDel, dm->IncDel);
        prpart(b);
    } else {
        prpart(" del=");
        lineprint(dm->DelCost, 0);
        prpart(")");
    }
}

static void prmatch(ALGEB x) {
    Match *m = (Match *)x;
    char b[1024];
    long o1 = (long)m->Offset1, o2 = (long)m->Offset2;
    double pam = m->PamNumber, var = m->PamVariance;
    if (m->Sim == 0 && m->Length1 == 0 && m->Length2 == 0 && pam == 0 && var == 0)
        snprintf(b, sizeof b, "Match(%ld,%ld)", o1, o2);
    else if (m->Sim == 0 && pam == 0 && var == 0)
        snprintf(b, sizeof b, "Match(0,%ld,%ld,%d,%d)", o1, o2, m->Length1, m->Length2);
    else if (m->Sim == 0 && var == 0)
        snprintf(b, sizeof b, "Match(0,%ld,%ld,%d,%d,%g)", o1, o2, m->Length1, m->Length2, pam);
    else if (var == 0)
        snprintf(b, sizeof b, "Match(%3.1f,%ld,%ld,%d,%d,%g)", m->Sim, o1, o2, m->Length1,
                 m->Length2, pam);
    else
        snprintf(b, sizeof b, "Match(%3.1f,%ld,%ld,%d,%d,%g,%g)", m->Sim, o1, o2, m->Length1,
                 m->Length2, pam, var);
    prpart(b);
}

static void prdnafile(ALGEB x) {
    database *df = (database *)x;
    prchars(df->type);
    prpart(" file(");
    prpartn(df->FileName, strnlen(df->FileName, sizeof df->FileName));
    prpart("(");
    printint((WORD)df->TotChars);
    prpart("), ");
    if (df->PatSwap == PAT_EMPTY) prpart("no index, ");
    printint((WORD)df->TotEntries);
    prpart(" entries, ");
    printint((WORD)df->TotAA);
    ALGEB t = df->type;
    bool peptide =
        t && textual(t) &&
        (ID2(t) == NAME ? NAMETEXT(t)[0] == 'P' : STR(t)->length > 0 && STR(t)->t[0] == 'P');
    prpart(peptide ? " aminoacids)" : " bases)");
}

// The library's lprint method for x, called with printlevel 0 so that its own statements
// stay quiet, gets the first chance at FUNCTION and DNAFILE objects.
static bool polyprint(ALGEB x) {
    if (procprint) return false;
    struct Quiet {
        ALGEB saved = A(ININprintlevel[1]);
        Quiet() { ININprintlevel[1] = W(MKIMM(0)); }
        ~Quiet() { ININprintlevel[1] = W(saved); }
    } quiet;
    return UnaryPolymorphic(naminstall("lprint"), x) != 0;
}

static void prhashtab(ALGEB x) {
    bool first = true;
    prpart("[");
    for (WORD i = 1; i < LENGTH2(x); i++) {
        ALGEB b = A(x[i]);
        if (!b) continue;
        for (WORD j = 1; j + 1 < LENGTH(b) && b[j] != 0; j += 2) {
            if (!first) prpart(",");
            first = false;
            prpart("(");
            printint(b[j]);
            prpart(")");
            prpart("=");
            lineprint(A(b[j + 1]), 0);
        }
    }
    prpart("]");
}

// ---------------------------------------------------------------------------
// Expressions.

static void binop(ALGEB x, int level, int own, const char *op) {
    if (level == own) {
        prinpar(x);
        return;
    }
    lineprint(A(x[1]), own);
    prpart(op);
    lineprint(A(x[2]), own);
}

static void prpower(ALGEB x, int level) {
    lineprint(A(x[1]), PREC_POWER);
    prpart("^");
    if (prtneg(A(x[2]), level))
        prinpar(A(x[2]));
    else
        lineprint(A(x[2]), PREC_POWER);
}

// A factor to the power -1 prints as a divisor.
static void prprod(ALGEB x) {
    lineprint(A(x[1]), PREC_PROD);
    for (WORD i = 2; i < LENGTH2(x); i++) {
        ALGEB f = A(x[i]);
        if (ID(f) == POWER && Eq(A(f[2]), -1)) {
            prpart("/");
            lineprint(A(f[1]), PREC_POWER);
        } else {
            prpart("*");
            lineprint(f, PREC_PROD);
        }
    }
}

static void prsum(ALGEB x) {
    lineprint(A(x[1]), numeric(A(x[1])) ? 0 : PREC_SUM);
    for (WORD i = 2; i < LENGTH2(x); i++) {
        // A negative term brings its own minus sign.
        if (prtneg(A(x[i]), PREC_SUM)) {
            lineprint(A(x[i]), 0);
        } else {
            prpart("+");
            lineprint(A(x[i]), PREC_SUM);
        }
    }
}

static void prfunction(ALGEB x) {
    if (!procprint && polyprint(x)) return;
    if (A(x[1]) == ININabs && LENGTH2(x) == 3) {
        prpart("|");
        lineprint(A(x[2]), 0);
        prpart("|");
        return;
    }
    lineprint(A(x[1]), PREC_NAME);
    prpart("(");
    prwords(x, 2, ",");
    prpart(")");
}

static void prlistnum(ALGEB x) {
    prpart("[");
    for (WORD i = 0; i < LISTNUMLEN(x); i++) {
        if (i > 0) prpart(seqsep());
        sprintnum(LISTNUMDATA(x)[i]);
        prpart(gstr);
    }
    prpart("]");
}

// A local of the procedure being printed, or (three words) of the procedure in word 2.
static void prlocal(ALGEB x) {
    WORD k = LENGTH2(x) == 3 ? -x[1] : x[1];
    ALGEB n = LENGTH2(x) == 3 ? localname(A(x[2]), k) : localname(procprint, k);
    if (n) {
        lineprint(n, 0);
        return;
    }
    prpart("loc[");
    printint(k);
    prpart("]");
}

static void prparam(ALGEB x) {
    WORD k = x[1];
    if (k == -1) {
        prpart("args");
    } else if (k == 0) {
        prpart("nargs");
    } else if (k == -2) {
        prpart("procname");
    } else {
        ALGEB ps = procprint ? A(procprint[PROC_PARAMS]) : 0;
        if (k > 0 && ps && is(ps, EXPSEQ) && k < LENGTH2(ps)) {
            ALGEB p = A(ps[k]);
            lineprint(is(p, COLON) ? A(p[1]) : p, 0);
        } else {
            prpart("args[");
            printint(k);
            prpart("]");
        }
    }
}

// ---------------------------------------------------------------------------
// Statements.

// for v in e ... (5 words) or for v from a by b to c ... (7 words); the clauses that hold
// their defaults (from 1, by 1, no bound, while true) are left out.
static void prfor(ALGEB x) {
    WORD L = LENGTH2(x);
    if (L != 5 && L != 7) {
        prpart(UnablePrint);
        return;
    }
    if (!isempty(A(x[1]))) {
        prpart("for ");
        lineprint(A(x[1]), 0);
    }
    if (L == 5) {
        prpart(" in ");
        lineprint(A(x[2]), 0);
    } else {
        if (!Eq(A(x[2]), 1)) {
            prpart(" from ");
            lineprint(A(x[2]), 0);
        }
        if (!Eq(A(x[3]), 1)) {
            prpart(" by ");
            lineprint(A(x[3]), 0);
        }
        if (!isempty(A(x[4]))) {
            prpart(" to ");
            lineprint(A(x[4]), 0);
        }
    }
    if (A(x[L - 2]) != ININtrue) {
        prpart(" while ");
        lineprint(A(x[L - 2]), 0);
    }
    prpart(" do ");
    lineprint(A(x[L - 1]), 0);
    prpart(" od");
}

// Condition and branch pairs, then the else branch when the length is even.
static void prif(ALGEB x) {
    WORD L = LENGTH2(x);
    for (WORD i = 1; i + 1 < L; i += 2) {
        prpart(i == 1 ? "if " : " elif ");
        lineprint(A(x[i]), 0);
        prpart(" then ");
        lineprint(A(x[i + 1]), 0);
    }
    if (L % 2 == 0) {
        prpart(" else ");
        lineprint(A(x[L - 1]), 0);
    }
    prpart(" fi");
}

// ---------------------------------------------------------------------------

void lineprint(ALGEB x, int level) {
    if (x == 0) return;
    WORD c = CASE_ID(x);
    if (c == STOP_CASE) {
        prpart("quit");
        return;
    }
    if (c != NUMBER_CASE && c != LISTNUM_CASE && LENGTH(x) < 2) return;
    // A very deep object, or one that contains itself, ends in an error, not in a crash.
    stackcheck();
    int own = typelevel(ID(x));
    if (level > own) {
        prinpar(x);
        return;
    }
    switch (c) {
    case NUMBER_CASE:
        sprintnum(IMMINT(x) ? (double)IMMVAL(x) : NUMVAL(x));
        prpart(gstr);
        break;
    case NAME_CASE:
        if (procprint)
            prquotes(NAMETEXT(x));
        else
            prpart(NAMETEXT(x));
        break;
    case TABLEREF_CASE:
        lineprint(A(x[1]), own);
        prpart("[");
        prwords(x, 2, ",");
        prpart("]");
        break;
    case CATENATE_CASE: binop(x, level, own, "."); break;
    case COLON_CASE: binop(x, level, own, ":"); break;
    case EQUATION_CASE: binop(x, level, own, " = "); break;
    case INEQUAT_CASE: binop(x, level, own, " <> "); break;
    case LESSEQ_CASE: binop(x, level, own, " <= "); break;
    case LESSTHAN_CASE: binop(x, level, own, " < "); break;
    case RANGE_CASE: binop(x, level, own, ".."); break;
    case AND_CASE:
    case OR_CASE:
        lineprint(A(x[1]), own);
        prpart(c == AND_CASE ? " and " : " or ");
        lineprint(A(x[2]), own);
        break;
    case NOT_CASE:
        prpart("not ");
        lineprint(A(x[1]), own);
        break;
    case POWER_CASE: prpower(x, level); break;
    case PROD_CASE: prprod(x); break;
    case SUM_CASE: prsum(x); break;
    case FUNCTION_CASE: prfunction(x); break;
    case EXPSEQ_CASE:
        if (LENGTH2(x) == 2)
            lineprint(A(x[1]), level);
        else
            prlist(x, seqsep());
        break;
    case LIST_CASE:
        prpart("[");
        prelements(A(x[1]), seqsep());
        prpart("]");
        break;
    case SET_CASE:
        prpart("{");
        prelements(A(x[1]), ",");
        prpart("}");
        break;
    case LISTNUM_CASE: prlistnum(x); break;
    case LOCAL_CASE: prlocal(x); break;
    case PARAM_CASE: prparam(x); break;
    case PROC_CASE: prproc(x); break;
    case ASSIGN_CASE: prlist(x, " := "); break;
    case FOR_CASE: prfor(x); break;
    case IF_CASE: prif(x); break;
    case STATSEQ_CASE: prlist(x, "; "); break;
    case HASHTAB_CASE: prhashtab(x); break;
    case TEXT_CASE: prtext(x); break;
    case DNAFILE_CASE:
        if (!procprint && polyprint(x)) break;
        prdnafile(x);
        break;
    case DAYMATRIX_CASE: prdaymatrix(x); break;
    case MATCH_CASE: prmatch(x); break;
    case COMPRESSED_CASE: lineprint(decompress(x), level); break;
    default: prpart(UnablePrint); break;
    }
}

int PrintIntoBuffer(ALGEB x, char *buf) {
    PrintIntoString into(buf);
    lineprint(x, 0);
    return PrintToi;
}
