// Formatted output: the format is walked here and each conversion handed to the platform.
#include "mprintf.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "Lumbra.h"
#include "eval.h"
#include "evalfunc.h"
#include "sets.h"

// Formats come from the user; each call passes exactly the argument its one conversion needs.
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"

// The ordinary text of a segment, "%%" reduced to "%".
static void prordinary(const char *seg, size_t n) {
    size_t from = 0;
    for (size_t i = 0; i < n; i++) {
        if (seg[i] == '%' && i + 1 < n && seg[i + 1] == '%') {
            prpartn(seg + from, i + 1 - from);
            from = ++i + 1;
        }
    }
    prpartn(seg + from, n - from);
}

int PrintfPolymorphic(char *out, const char *segment, ALGEB arg) {
    const char *pct = segment;
    while (*pct != 0 && !(pct[0] == '%' && pct[1] != '%'))
        pct += pct[0] == '%' ? 2 : 1;
    ALGEB m = BinaryPolymorphic(naminstall("printf"), CreateString(pct), arg);
    if (m == 0 || !textual(m)) return 0;
    size_t k = 0;
    for (const char *s = segment; s < pct; s++) {
        out[k++] = *s;
        if (s[0] == '%' && s[1] == '%') s++;
    }
    Chars c = textof(m);
    size_t n = c.n;
    if (k + n >= (size_t)MAXSSIZE) n = MAXSSIZE - 1 - k;
    memcpy(out + k, c.s, n);
    out[k + n] = 0;
    return 1;
}

// The two buffers; a printf reached from a method inside printf gets its own.
struct PrintfBuffers {
    static inline char seg0[MAXSSIZE], out0[MAXSSIZE];
    static inline int depth = 0;
    std::unique_ptr<char[]> own;
    char *seg, *out;
    PrintfBuffers() {
        if (depth++ == 0) {
            seg = seg0, out = out0;
        } else {
            own.reset(new char[2 * MAXSSIZE]);
            seg = own.get(), out = own.get() + MAXSSIZE;
        }
    }
    ~PrintfBuffers() { depth--; }
    PrintfBuffers(const PrintfBuffers &) = delete;
    PrintfBuffers &operator=(const PrintfBuffers &) = delete;
};

// Prints what snprintf left in out, however much it wanted to write.
static void prformatted(const char *out, int n) {
    if (n < 0) return;
    prpartn(out, (size_t)n < (size_t)MAXSSIZE ? (size_t)n : (size_t)MAXSSIZE - 1);
}

// An integral number beyond the platform's integers goes to the library.
static void printlarge(const char *seg, ALGEB arg) {
    ALGEB r = evalsysf("printf_larged", New3(EXPSEQ, CreateString(seg), arg));
    if (!is(r, TEXT)) userror("printf_larged failed, should return a string");
    prpartn(STR(r)->t, STR(r)->length);
}

// One conversion: where its '%' stands in the segment, its flags, width and precision (-1
// when none is written), and the conversion character.
struct Conversion {
    size_t pct = 0;
    long prec = -1, width = 0;
    bool left = false, longmod = false;
    char conv = 0;
};

enum class Reading { Ready, Full, Unfinished };

// Copies the conversion that follows the '%' before f[i] into seg[sl..], moving i and sl past
// it; seg ends in a NUL when it is Ready. Full: the segment has no room left for it.
// Unfinished: the format ends inside it.
static Reading readconversion(const char *f, size_t flen, size_t &i, char *seg, size_t &sl,
                              Conversion &cv) {
    // Room for the longest conversion still to come keeps every store inside the buffer.
    auto full = [&] { return sl + 8 >= (size_t)MAXSSIZE; };
    cv = Conversion{};
    cv.pct = sl;
    seg[sl++] = '%';
    while (i < flen && f[i] != 0 && strchr("+- #", f[i]) && !full()) {
        cv.left = cv.left || f[i] == '-';
        seg[sl++] = f[i++];
    }
    while (i < flen && f[i] >= '0' && f[i] <= '9' && !full()) {
        cv.width = cv.width < 10000000 ? 10 * cv.width + (f[i] - '0') : cv.width;
        seg[sl++] = f[i++];
    }
    if (i < flen && f[i] == '.' && !full()) {
        seg[sl++] = f[i++];
        cv.prec = 0;
        while (i < flen && f[i] >= '0' && f[i] <= '9' && !full()) {
            cv.prec = cv.prec < 10000000 ? 10 * cv.prec + (f[i] - '0') : cv.prec;
            seg[sl++] = f[i++];
        }
    }
    if (i < flen && f[i] == '*') userror("printf cannot work with variable fields");
    if (full()) return Reading::Full;
    cv.longmod = i < flen && f[i] == 'l';
    if (cv.longmod) i++;
    if (i >= flen) return Reading::Unfinished;
    cv.conv = f[i++];
    if (!strchr("dioxXueEfgGaAsc", cv.conv) || cv.conv == 0)
        userror("invalid formatting command in printf");
    seg[sl++] = cv.conv;
    seg[sl] = 0;
    return Reading::Ready;
}

// d, i, o, x, X and u: an integer.
static void printinteger(const char *seg, char *out, ALGEB arg) {
    if (integer(arg)) {
        double v = IMMINT(arg) ? (double)IMMVAL(arg) : NUMVAL(arg);
        if (std::fabs(v) > 2147483647.0)
            printlarge(seg, arg);
        else
            prformatted(out, snprintf(out, MAXSSIZE, seg, (int)v));
    } else if (PrintfPolymorphic(out, seg, arg)) {
        prpart(out);
    } else {
        userror("(s)printf expects an integer");
    }
}

// e, E, f, g and G: a number.
static void printreal(const char *seg, char *out, ALGEB arg) {
    if (numeric(arg)) {
        double v = IMMINT(arg) ? (double)IMMVAL(arg) : NUMVAL(arg);
        prformatted(out, snprintf(out, MAXSSIZE, seg, v));
    } else if (PrintfPolymorphic(out, seg, arg)) {
        prpart(out);
    } else {
        userror("(s)printf expects a number");
    }
}

// a and A: any object as the printer shows it, A with its strings escaped.
static void printobject(const char *seg, const Conversion &cv, ALGEB arg) {
    prordinary(seg, cv.pct);
    struct Escaped {
        int saved = EscapedStrings;
        ~Escaped() { EscapedStrings = saved; }
    } keep;
    if (cv.conv == 'A') EscapedStrings = 1;
    lineprint(arg, 0);
}

// s and c: a text, or its first character. seg holds sl characters.
static void printtext(char *seg, size_t sl, char *out, const Conversion &cv, ALGEB arg) {
    if (!textual(arg)) {
        if (!PrintfPolymorphic(out, seg, arg)) userror("(s)printf expects a string");
        prpart(out);
        return;
    }
    Chars c = textof(arg);
    const char *s = c.s;
    size_t len = c.n, pct = cv.pct;
    if (len == 0) {
        prordinary(seg, pct);
        return;
    }
    if (cv.conv == 'c') {
        prformatted(out, snprintf(out, MAXSSIZE, seg, s[0]));
        return;
    }
    // Texts need not end in a NUL: the precision bounds what the platform reads.
    size_t shown = cv.prec >= 0 && (size_t)cv.prec < len ? (size_t)cv.prec : len;
    if (pct + (size_t)cv.width + shown + 1 >= (size_t)MAXSSIZE) {
        prordinary(seg, pct);
        for (long pad = cv.width - (long)shown; pad > 0 && !cv.left; pad--)
            prpart(" ");
        prpartn(s, shown);
        for (long pad = cv.width - (long)shown; pad > 0 && cv.left; pad--)
            prpart(" ");
        return;
    }
    seg[sl - 1] = 0;
    if (cv.prec < 0) {
        size_t k = strlen(seg);
        seg[k] = '.';
        seg[k + 1] = '*';
        seg[k + 2] = 's';
        seg[k + 3] = 0;
    } else {
        // The written precision is replaced by the one bounded by the length.
        char *dot = strrchr(seg + pct, '.');
        dot[1] = '*';
        dot[2] = 's';
        dot[3] = 0;
    }
    prformatted(out, snprintf(out, MAXSSIZE, seg, (int)shown, s));
}

// The ordinary text of the format gathers in seg with the conversion that follows it, and
// each conversion prints the whole segment.
void mprintf(ALGEB t) {
    Chars fc = textof(A(t[1]));
    const char *f = fc.s;
    size_t flen = fc.n;
    WORD nargs = LENGTH2(t) - 1, next = 2;
    PrintfBuffers b;
    char *seg = b.seg, *out = b.out;
    size_t sl = 0, i = 0;
    while (i < flen) {
        if (sl + 8 >= (size_t)MAXSSIZE) return;
        char ch = f[i++];
        if (ch != '%') {
            seg[sl++] = ch;
            continue;
        }
        if (i < flen && f[i] == '%') {
            seg[sl++] = '%';
            seg[sl++] = '%';
            i++;
            continue;
        }
        Conversion cv;
        switch (readconversion(f, flen, i, seg, sl, cv)) {
        case Reading::Full: return;
        case Reading::Unfinished:
            // An unfinished conversion at the end is printed as it stands.
            prordinary(seg, cv.pct);
            prpartn(seg + cv.pct, sl - cv.pct);
            if (cv.longmod) prpart("l");
            return;
        case Reading::Ready: break;
        }
        if (next > nargs) userror("not enough arguments for printf");
        ALGEB arg = A(t[next++]);
        switch (cv.conv) {
        case 'd':
        case 'i':
        case 'o':
        case 'x':
        case 'X':
        case 'u': printinteger(seg, out, arg); break;
        case 'e':
        case 'E':
        case 'f':
        case 'g':
        case 'G': printreal(seg, out, arg); break;
        case 'a':
        case 'A': printobject(seg, cv, arg); break;
        case 's':
        case 'c': printtext(seg, sl, out, cv, arg); break;
        }
        sl = 0;
    }
    if (sl > 0) prordinary(seg, sl);
}
