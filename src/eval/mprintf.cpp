// Formatted output: the format is walked here and each conversion handed to the platform.
#include "mprintf.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "Lumbra.h"
#include "eval.h"
#include "evalfunc.h"

// Formats come from the user; each call passes exactly the argument its one conversion needs.
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"

static const char *textof(ALGEB s) { return ID2(s) == NAME ? NAMETEXT(s) : STR(s)->t; }
static size_t lengthof(ALGEB s) {
    return ID2(s) == NAME ? strlen(NAMETEXT(s)) : (size_t)STR(s)->length;
}

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
    size_t n = lengthof(m);
    if (k + n >= (size_t)MAXSSIZE) n = MAXSSIZE - 1 - k;
    memcpy(out + k, textof(m), n);
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

void mprintf(ALGEB t) {
    ALGEB fmt = A(t[1]);
    const char *f = textof(fmt);
    size_t flen = lengthof(fmt);
    WORD nargs = LENGTH2(t) - 1, next = 2;
    PrintfBuffers b;
    char *seg = b.seg, *out = b.out;
    size_t sl = 0, i = 0;
    // Room for the longest conversion still to come keeps every store inside the buffer.
    auto full = [&] { return sl + 8 >= (size_t)MAXSSIZE; };
    while (i < flen) {
        if (full()) return;
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
        size_t pct = sl;
        seg[sl++] = '%';
        long prec = -1, width = 0;
        bool left = false;
        while (i < flen && f[i] != 0 && strchr("+- #", f[i]) && !full()) {
            left = left || f[i] == '-';
            seg[sl++] = f[i++];
        }
        while (i < flen && f[i] >= '0' && f[i] <= '9' && !full()) {
            width = width < 10000000 ? 10 * width + (f[i] - '0') : width;
            seg[sl++] = f[i++];
        }
        if (i < flen && f[i] == '.' && !full()) {
            seg[sl++] = f[i++];
            prec = 0;
            while (i < flen && f[i] >= '0' && f[i] <= '9' && !full()) {
                prec = prec < 10000000 ? 10 * prec + (f[i] - '0') : prec;
                seg[sl++] = f[i++];
            }
        }
        if (i < flen && f[i] == '*') userror("printf cannot work with variable fields");
        if (full()) return;
        bool longmod = i < flen && f[i] == 'l';
        if (longmod) i++;
        if (i >= flen) {
            // An unfinished conversion at the end is printed as it stands.
            prordinary(seg, pct);
            prpartn(seg + pct, sl - pct);
            if (longmod) prpart("l");
            return;
        }
        char conv = f[i++];
        if (!strchr("dioxXueEfgGaAsc", conv) || conv == 0)
            userror("invalid formatting command in printf");
        if (next > nargs) userror("not enough arguments for printf");
        ALGEB arg = A(t[next++]);
        seg[sl++] = conv;
        seg[sl] = 0;
        switch (conv) {
        case 'd':
        case 'i':
        case 'o':
        case 'x':
        case 'X':
        case 'u':
            if (integer(arg)) {
                double v = IMMINT(arg) ? (double)IMMVAL(arg) : NUMVAL(arg);
                if (std::fabs(v) > 2147483647.0) {
                    printlarge(seg, arg);
                    break;
                }
                prformatted(out, snprintf(out, MAXSSIZE, seg, (int)v));
            } else if (PrintfPolymorphic(out, seg, arg)) {
                prpart(out);
            } else {
                userror("(s)printf expects an integer");
            }
            break;
        case 'e':
        case 'E':
        case 'f':
        case 'g':
        case 'G':
            if (numeric(arg)) {
                double v = IMMINT(arg) ? (double)IMMVAL(arg) : NUMVAL(arg);
                prformatted(out, snprintf(out, MAXSSIZE, seg, v));
            } else if (PrintfPolymorphic(out, seg, arg)) {
                prpart(out);
            } else {
                userror("(s)printf expects a number");
            }
            break;
        case 'a':
        case 'A': {
            prordinary(seg, pct);
            struct Escaped {
                int saved = EscapedStrings;
                ~Escaped() { EscapedStrings = saved; }
            } keep;
            if (conv == 'A') EscapedStrings = 1;
            lineprint(arg, 0);
            break;
        }
        case 's':
        case 'c': {
            if (!textual(arg)) {
                if (!PrintfPolymorphic(out, seg, arg)) userror("(s)printf expects a string");
                prpart(out);
                break;
            }
            const char *s = textof(arg);
            size_t len = lengthof(arg);
            if (len == 0) {
                prordinary(seg, pct);
                break;
            }
            if (conv == 'c') {
                prformatted(out, snprintf(out, MAXSSIZE, seg, s[0]));
                break;
            }
            // Texts need not end in a NUL: the precision bounds what the platform reads.
            size_t shown = prec >= 0 && (size_t)prec < len ? (size_t)prec : len;
            if (pct + (size_t)width + shown + 1 >= (size_t)MAXSSIZE) {
                prordinary(seg, pct);
                for (long pad = width - (long)shown; pad > 0 && !left; pad--)
                    prpart(" ");
                prpartn(s, shown);
                for (long pad = width - (long)shown; pad > 0 && left; pad--)
                    prpart(" ");
                break;
            }
            seg[sl - 1] = 0;
            if (prec < 0) {
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
            break;
        }
        }
        sl = 0;
    }
    if (sl > 0) prordinary(seg, sl);
}
