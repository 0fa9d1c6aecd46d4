// The lexer: reads lines of the current input unit, resolves escapes and groups characters
// into the tokens of the grammar.
#include "yylex.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "Lumbra.h"
#include "cmdedit.h"

int currch = '\n';
int ReadingComment = 0;
int ReadingString = 0;
int yyeof = 0;
int echo = 1;
char estr[MAX_NAME_LENGTH + 2];

// Thrown by newch2 at the end of the unit; yylex turns it into EOFSY.
struct EndOfUnit {};

// The physical line read last was a comment that goes on in the next line.
static int CommentGoesOn = 0;

static int iswhite(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
static int isdigitch(int c) { return c >= '0' && c <= '9'; }
static int isletter(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }

// The prompt as a C string; its length is kept well below the line buffer.
static const char *prompttext() {
    static char buf[256];
    buf[0] = 0;
    if (prompt == 0 || IMMINT(prompt)) return buf;
    if (ID2(prompt) == NAME) {
        snprintf(buf, sizeof buf, "%s", NAMETEXT(prompt));
    } else if (ID2(prompt) == TEXT) {
        size_t n = (size_t)STR(prompt)->length;
        if (n > sizeof buf - 1) n = sizeof buf - 1;
        memcpy(buf, STR(prompt)->t, n);
        buf[n] = 0;
    }
    return buf;
}

char *firstnonblank(char *s) {
    while (*s != 0 && (unsigned char)*s <= ' ')
        s++;
    return s;
}
const char *firstnonblank(const char *s) { return firstnonblank(const_cast<char *>(s)); }

int shouldecho() {
    if (Type_input != 0 || optquiet || echo == 0) return 0;
    int d = r_unit0;
    int notterminal = !(isatty(fileno(stdin)) && isatty(fileno(stdout)));
    switch (echo) {
    case 1: return d == 0 && notterminal;
    case 2: return notterminal;
    case 3: return d > 0;
    case 4: return 1;
    default: return d < echo - 3;
    }
}

// A help request, "?topic", becomes a call of help; the topic is cut at 89 characters.
void converthelp(char *line) {
    char s[IBUFFLEN];
    size_t n = 0;
    for (const char *p = line; *p != 0 && n < sizeof s - 1; p++)
        if (!iswhite((unsigned char)*p)) s[n++] = *p;
    s[n] = 0;
    if (strcmp(s, "?;") == 0 || strcmp(s, "?:") == 0) {
        strcpy(line, "help(';');\n");
        return;
    }
    if (n > 0 && (s[n - 1] == ':' || s[n - 1] == ';')) s[--n] = 0;
    if (strcmp(s, "?") == 0 || strcmp(s, "??") == 0) {
        strcpy(line, "help();\n");
        return;
    }
    if (strcmp(s, "?'") == 0) {
        strcpy(line, "help(quote);\n");
        return;
    }
    if (strcmp(s, "?,") == 0) {
        strcpy(line, "help(',');\n");
        return;
    }
    size_t m = 0;
    for (size_t i = 0; i < n; i++)
        if (s[i] != '\'') s[m++] = s[i];
    s[m] = 0;
    if (s[0] == '?' && s[1] == '"') {
        strcpy(line, "help(ditto);\n");
        return;
    }
    char topic[90];
    const char *from = s[0] == '?' ? s + 1 : s;
    size_t len = strlen(from);
    if (len > sizeof topic - 1) len = sizeof topic - 1;
    memcpy(topic, from, len);
    topic[len] = 0;
    std::string out = "help('";
    bool argstart = true;
    for (const char *p = topic; *p != 0; p++) {
        switch (*p) {
        case '[':
        case ',':
        case '/':
            out += "','";
            argstart = true;
            break;
        case ']': break;
        case '.':
            if (argstart) out += '.';
            break;
        default: out += *p; argstart = false;
        }
    }
    out += "');\n";
    strcpy(line, out.c_str());
}

// Reads from the unit's source into dst (capacity cap, prompt shown first on a terminal);
// false when nothing could be read. A string unit has no source beyond its buffer. Standard
// input and the terminal are read through the line editor.
static bool readsourceline(char *dst, int cap, const char *ptext) {
    if (Type_input == 2 || R_unit == nullptr) return false;
    if (Type_input == 0 && Reading_tty()) {
        if (Writing_tty() && !optquiet && ptext[0] != 0)
            return ReadLineFromCmdEdit(dst, cap - (int)strlen(ptext), ptext) != 0;
        return ReadLineFromCmdEdit(dst, cap, "") != 0;
    }
    if (Type_input == 0 && r_unit0 == 0)
        return ReadLineFromCmdEdit(dst, cap - (int)strlen(ptext), "") != 0;
    return fgets(dst, cap - (int)strlen(ptext), R_unit) != nullptr;
}

// At the end of input the buffer keeps the last line, which an error report shows: a reader
// that found nothing may still have cleared its first character.
static bool readsource(char *dst, int cap, const char *ptext) {
    char first = dst[0];
    if (readsourceline(dst, cap, ptext)) return true;
    dst[0] = first;
    return false;
}

// End of input between lines ends the unit; within a line it completes the line.
static void endofinput(char *at) {
    if (currch == '\n') throw EndOfUnit{};
    strcpy(at, "\n");
}

static void echoline(const char *ptext, const char *line) {
    fputs(ptext, stdout);
    fputs(line, stdout);
    size_t n = strlen(line);
    if (n == 0 || line[n - 1] != '\n') putchar('\n');
}

// Reads the next line into the buffer, consuming comment lines and shell escapes on the way.
static void readline() {
    const char *ptext = prompttext();
    for (;;) {
        if (Type_input == 2) {
            Ibuffl = 0;
            endofinput(Ibuff);
        } else {
            Ibuff = read_units[r_unit0].ibuff_area;
            if (!readsource(Ibuff, IBUFFLEN - 1, ptext)) endofinput(Ibuff);
        }
        if (!CommentGoesOn && *firstnonblank(Ibuff) == '?') converthelp(Ibuff);
        Ibuffl = (int)strlen(Ibuff);
        if (Ibuffl > 0 && Ibuff[Ibuffl - 1] == '\n') Yyline++;
        if (!CommentGoesOn) {
            char *bang = firstnonblank(Ibuff);
            if (*bang == '!') {
                fflush(stdout);
                if (optserver) {
                    fputs("Cannot escape as a server\n", stdout);
                } else {
                    [[maybe_unused]] int status = system(bang + 1);
                    fputs("!\n", stdout);
                }
                continue;
            }
        }
        if (CommentGoesOn || (Ibuff[0] == '#' && !ReadingString)) {
            if ((Ibuffl == 0 || Ibuff[Ibuffl - 1] != '\n') && Ibuffl < IBUFFLEN - 4 &&
                readsource(Ibuff + Ibuffl, IBUFFLEN - 3 - Ibuffl, "")) {
                Ibuffl = (int)strlen(Ibuff);
                if (Ibuffl > 0 && Ibuff[Ibuffl - 1] == '\n') Yyline++;
            }
            if (Ibuffl == 0 || Ibuff[Ibuffl - 1] != '\n') {
                Ibuff[Ibuffl++] = '\n';
                Ibuff[Ibuffl] = 0;
                CommentGoesOn = 1;
            } else {
                CommentGoesOn = Ibuffl >= 2 && Ibuff[Ibuffl - 2] == '\\';
            }
            if (shouldecho() && strcmp(Ibuff, "\n") != 0) {
                if (Ibuff[0] != '#') putchar('#');
                fputs(Ibuff, stdout);
            }
            continue;
        }
        if (shouldecho()) echoline(ptext, Ibuff);
        Icharno = -1;
        return;
    }
}

// The current character is the last of a piece of a long line: keep the 20 characters
// ending here for error reports and read the next piece after them.
static void readpiece() {
    if (Icharno > 19) {
        memmove(Ibuff, Ibuff + Icharno - 19, 20);
        Icharno = 19;
    }
    char *at = Ibuff + Icharno + 1;
    const char *ptext = prompttext();
    if (!readsource(at, IBUFFLEN - 21, Type_input == 0 && Reading_tty() ? "" : ptext))
        endofinput(at);
    Ibuffl = (int)strlen(Ibuff);
    if (Ibuffl > 0 && Ibuff[Ibuffl - 1] == '\n') Yyline++;
    if (shouldecho()) echoline(ptext, at);
}

int newch2() {
    if (Nextch2 == NOREADAHEAD) readline();
    Icharno++;
    if (Icharno < 0 || Icharno >= Ibuffl) {
        closeinput();
        userror("invalid characters in input");
    }
    int c = (unsigned char)Ibuff[Icharno];
    if (Icharno + 1 < Ibuffl) {
        Nextch2 = (unsigned char)Ibuff[Icharno + 1];
    } else if (c == '\n') {
        Nextch2 = NOREADAHEAD;
    } else {
        readpiece();
        Nextch2 = Icharno + 1 < Ibuffl ? (unsigned char)Ibuff[Icharno + 1] : 0;
    }
    return c;
}

void closeinput() {
    Rclose();
    if (r_unit0 < 0) return;
    int next = Icharno + 1;
    Nextch2 = next >= 0 && next < Ibuffl ? (unsigned char)Ibuff[next] : NOREADAHEAD;
}

// The lookahead read last in each unit, when it was one plain character of the buffer.
// Pushing or popping a unit drops the lexer's lookahead; this lets the unit that becomes
// current again give that character back, so no input is lost.
struct Lookahead {
    int valid, pos, len, ch;
};
static Lookahead lookahead[MAX_FILES];

static void giveback() {
    if (r_unit0 < 0) return;
    Lookahead &la = lookahead[r_unit0];
    if (la.valid && Icharno == la.pos && Ibuffl == la.len && la.pos < Ibuffl &&
        (unsigned char)Ibuff[la.pos] == la.ch) {
        Icharno = la.pos - 1;
        Nextch2 = la.ch;
    }
    la.valid = 0;
}

// A raw character with the escape it starts resolved.
static int resolve(int c) {
    while (c == '\\' && !ReadingComment) {
        int d = newch2();
        switch (d) {
        case 'a': return 7;
        case 'b': return 8;
        case 'f': return 12;
        case 'n': return 10;
        case 'r': return 13;
        case 't': return 9;
        case 'v': return 11;
        case '\n': c = newch2(); continue;
        default:
            if (d >= '0' && d <= '7') {
                int v = d - '0';
                while (Nextch2 >= '0' && Nextch2 <= '7' && v * 8 + (Nextch2 - '0') <= 255)
                    v = v * 8 + (newch2() - '0');
                return v;
            }
            return d;
        }
    }
    return c;
}

int newch() {
    if (nextch == NOREADAHEAD) {
        giveback();
        nextch = resolve(newch2());
    }
    currch = nextch;
    int unit = r_unit0, before = Icharno, fresh = Nextch2 == NOREADAHEAD;
    int c = newch2();
    lookahead[unit].valid = 0;
    if (!fresh && unit == r_unit0 && Icharno == before + 1 && c != '\\')
        lookahead[unit] = {1, Icharno, Ibuffl, c};
    nextch = resolve(c);
    return currch;
}

// ---------------------------------------------------------------------------
// Decimal conversion. Exact: the digits are held as a big integer and the double is
// rounded once, to nearest with ties to even.

namespace {

// A natural number in base 2^32, least significant limb first, no leading zero limbs.
typedef std::vector<uint32_t> Big;

void mulsmall(Big &a, uint32_t m, uint32_t add) {
    uint64_t carry = add;
    for (uint32_t &x : a) {
        uint64_t t = (uint64_t)x * m + carry;
        x = (uint32_t)t;
        carry = t >> 32;
    }
    if (carry != 0) a.push_back((uint32_t)carry);
}

void mulpow5(Big &a, int p) {
    for (; p >= 13; p -= 13)
        mulsmall(a, 1220703125u, 0); // 5^13
    uint32_t m = 1;
    while (p-- > 0)
        m *= 5;
    if (m > 1) mulsmall(a, m, 0);
}

int bitlen(const Big &a) {
    if (a.empty()) return 0;
    return 32 * (int)(a.size() - 1) + 32 - __builtin_clz(a.back());
}

Big shl(const Big &a, int s) {
    Big r((size_t)(s / 32), 0);
    int bits = s % 32;
    uint32_t carry = 0;
    for (uint32_t x : a) {
        r.push_back(bits == 0 ? x : (x << bits) | carry);
        carry = bits == 0 ? 0 : x >> (32 - bits);
    }
    if (carry != 0) r.push_back(carry);
    return r;
}

void shr1(Big &a) {
    for (size_t i = 0; i < a.size(); i++)
        a[i] = (a[i] >> 1) | (i + 1 < a.size() ? a[i + 1] << 31 : 0);
    if (!a.empty() && a.back() == 0) a.pop_back();
}

int cmp(const Big &a, const Big &b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (size_t i = a.size(); i-- > 0;)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

// a -= b, where a >= b.
void sub(Big &a, const Big &b) {
    int64_t borrow = 0;
    for (size_t i = 0; i < a.size(); i++) {
        int64_t t = (int64_t)a[i] - borrow - (i < b.size() ? (int64_t)b[i] : 0);
        borrow = t < 0;
        a[i] = (uint32_t)(t + (borrow << 32));
    }
    while (!a.empty() && a.back() == 0)
        a.pop_back();
}

// Bit i of a.
int bit(const Big &a, int i) { return (a[(size_t)i / 32] >> (i % 32)) & 1; }

// (q + sticky) * 2^e2, q with bit 63 set, rounded to a double (subnormal results included).
double roundbits(uint64_t q, int e2, bool sticky) {
    int lead = 63 + e2;
    int drop = 11;
    if (lead < -1022) drop += -1022 - lead;
    if (drop > 64) return 0.0;
    uint64_t m, rem, half;
    if (drop == 64) {
        m = 0;
        rem = q;
        half = (uint64_t)1 << 63;
    } else {
        m = q >> drop;
        rem = q & (((uint64_t)1 << drop) - 1);
        half = (uint64_t)1 << (drop - 1);
    }
    if (rem > half || (rem == half && (sticky || (m & 1) != 0))) m++;
    return ldexp((double)m, e2 + drop);
}

// The digits d[0..k-1] (no leading zero) times 10^e.
double decimaltodouble(const char *d, int k, int e) {
    while (k > 0 && d[k - 1] == '0') {
        k--;
        e++;
    }
    if (k == 0) return 0.0;
    static const double exact10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                     1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                     1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (k <= 15 && e >= -22 && e <= 22) {
        // Both operands are exact, so one rounding gives the nearest double.
        double m = 0;
        for (int i = 0; i < k; i++)
            m = 10 * m + (d[i] - '0');
        return e >= 0 ? m * exact10[e] : m / exact10[-e];
    }
    Big n;
    for (int i = 0; i < k;) {
        int len = k - i < 9 ? k - i : 9;
        uint32_t chunk = 0, scale = 1;
        for (int j = 0; j < len; j++) {
            chunk = chunk * 10 + (uint32_t)(d[i + j] - '0');
            scale *= 10;
        }
        mulsmall(n, scale, chunk);
        if (n.empty() && chunk != 0) n.push_back(chunk);
        i += len;
    }
    if (e >= 0) {
        // n * 10^e = (n * 5^e) * 2^e: the top 64 bits and whether anything below is set.
        mulpow5(n, e);
        int len = bitlen(n);
        if (len <= 64) {
            uint64_t q = 0;
            for (int i = len - 1; i >= 0; i--)
                q = q << 1 | (uint64_t)bit(n, i);
            return roundbits(q << (64 - len), e - (64 - len), false);
        }
        uint64_t q = 0;
        for (int i = len - 1; i >= len - 64; i--)
            q = q << 1 | (uint64_t)bit(n, i);
        bool sticky = false;
        for (int i = len - 65; i >= 0 && !sticky; i--)
            sticky = bit(n, i) != 0;
        return roundbits(q, e + len - 64, sticky);
    }
    // n / 10^p = (n / 5^p) * 2^-p: 64 bits of the quotient by long division, and the remainder.
    int p = -e;
    Big den{1};
    mulpow5(den, p);
    int t = bitlen(n) - bitlen(den); // 2^t <= n/den < 2^(t+1), or one less
    if (t >= 0 ? cmp(n, shl(den, t)) < 0 : cmp(shl(n, -t), den) < 0) t--;
    int sh = 63 - t;
    Big r = sh >= 0 ? shl(n, sh) : n;
    Big s = shl(sh < 0 ? shl(den, -sh) : den, 63);
    uint64_t q = 0;
    for (int i = 63; i >= 0; i--) {
        if (cmp(r, s) >= 0) {
            sub(r, s);
            q |= (uint64_t)1 << i;
        }
        shr1(s);
    }
    return roundbits(q, -sh - p, !r.empty());
}

constexpr int POW10LOW = -323, POW10HIGH = 308;
double pow10table[POW10HIGH - POW10LOW + 1];
bool pow10ready = false;

} // namespace

void InitPow10() {
    for (int k = POW10LOW; k <= POW10HIGH; k++)
        pow10table[k - POW10LOW] = decimaltodouble("1", 1, k);
    pow10ready = true;
}

double Pow10(int k) {
    if (k < POW10LOW) return 0.0;
    if (k > POW10HIGH) return HUGE_VAL;
    if (!pow10ready) InitPow10();
    return pow10table[k - POW10LOW];
}

double string2double(const char *digits, int n) {
    int k = (int)strlen(digits);
    if (k == n && k <= 14) {
        double x = 0;
        for (int i = 0; i < k; i++)
            x = 10 * x + (digits[i] - '0');
        return x;
    }
    while (k > 0 && *digits == '0') {
        digits++;
        k--;
        n--;
    }
    if (k == 0) return 0.0;
    if (n < -307 || n > 309) userror("numeric too large/small");
    return decimaltodouble(digits, k, n - k);
}

// ---------------------------------------------------------------------------
// Tokens

struct Keyword {
    const char *text;
    int token;
};

constexpr int MAXKW = 62;
static constexpr Keyword keyword[MAXKW / 2] = {
    {"and", ANDSY},
    {"by", BY},
    {"description", DESCRSY},
    {"do", DO},
    {"done", QUIT},
    {"elif", ELIF},
    {"else", ELSE},
    {"end", END},
    {"external", EXTERNALSY},
    {"fi", FI},
    {"for", FORSY},
    {"from", FROM},
    {"global", GLOBALSY},
    {"if", IFSY},
    {"in", INSY},
    {"intersect", PRODUCTSY},
    {"local", LOCALSY},
    {"minus", SUMSY},
    {"module", MODULESY},
    {"not", NOTSY},
    {"od", OD},
    {"option", OPTIONSY},
    {"options", OPTIONSY},
    {"or", ORSY},
    {"proc", PROCSY},
    {"quit", QUIT},
    {"stop", QUIT},
    {"then", THEN},
    {"to", TO},
    {"union", SUMSY},
    {"while", WHILE},
};

static int keywordtoken(const char *s) {
    int lo = -1, hi = MAXKW / 2 - 1;
    while (hi - lo > 1) {
        int mid = (lo + hi) / 2;
        if (strcmp(s, keyword[mid].text) <= 0)
            hi = mid;
        else
            lo = mid;
    }
    return strcmp(s, keyword[hi].text) == 0 ? keyword[hi].token : SYMBOL;
}

// Significant digits kept of a number. Every halfway point between two doubles has fewer,
// so the digits dropped beyond these only matter as "something non-zero follows".
constexpr int MAXDIGITS = 800;

static int lexnumber(int c) {
    static char digits[MAXDIGITS + 2];
    int k = 0, n = 0, point = 0, sticky = 0;
    for (;;) {
        if (c == '.') {
            if (nextch == '.') {
                nextch = FAKEELLIPSIS;
                break;
            }
            if (point) userror("multiple dots in decimal number");
            point = 1;
        } else if (c == '0' && k == 0) {
            if (point) n--;
        } else {
            if (!point) n++;
            if (k < MAXDIGITS)
                digits[k++] = (char)c;
            else if (c != '0')
                sticky = 1;
        }
        if (nextch == 'e' || nextch == 'E') {
            newch();
            int sign = 1, exp = 0;
            if (nextch == '-' || nextch == '+') sign = newch() == '-' ? -1 : 1;
            while (isdigitch(nextch)) {
                int d = newch() - '0';
                if (exp < 100000) exp = exp * 10 + d;
            }
            n += sign * exp;
            break;
        }
        if (!isdigitch(nextch) && nextch != '.') break;
        c = newch();
    }
    if (sticky) digits[k++] = '1';
    digits[k] = 0;
    yylval = NewNumber(string2double(digits, n));
    return NATURAL;
}

static int lexstring() {
    ReadingString = 1;
    std::string s;
    for (;;) {
        int c = newch();
        if (c == '\'') {
            if (nextch != '\'') break;
            newch();
        }
        s += (char)c;
    }
    ReadingString = 0;
    if (s.size() <= 1) {
        yylval = OneChar[s.empty() ? 0 : (unsigned char)s[0]];
    } else {
        yylval = NewText(s.size());
        memcpy(STR(yylval)->t, s.data(), s.size());
    }
    return TEXTSY;
}

static int lexname(int c) {
    int len = 0;
    estr[len++] = (char)c;
    while (isletter(nextch) || isdigitch(nextch)) {
        if (len >= MAX_NAME_LENGTH - 1)
            userror("symbol too long, if it is a string, enclose it in quotes (')");
        estr[len++] = (char)newch();
    }
    estr[len] = 0;
    yylval = naminstall(estr);
    return len == 1 ? SYMBOL : keywordtoken(estr);
}

static int lextoken() {
    ReadingString = ReadingComment = 0;
    int c;
    for (;;) {
        c = newch();
        if (iswhite(c)) continue;
        if (c != '#') break;
        ReadingComment = 1;
        while (newch() != '\n') {
        }
        ReadingComment = 0;
        // The lookahead was read inside the comment, unresolved.
        nextch = resolve(nextch);
    }
    if (c == FAKEELLIPSIS) {
        while (nextch == '.')
            newch();
        return ELLIPSIS;
    }
    if (isdigitch(c) || (c == '.' && isdigitch(nextch))) return lexnumber(c);
    if (isletter(c)) return lexname(c);
    if (c == '"') {
        int n = 1;
        while (n < 3 && nextch == '"') {
            newch();
            n++;
        }
        yylval = ininame[n - 1];
        return SYMBOL;
    }
    if (c == '\'') return lexstring();
    yylval = A(W(c));
    switch (c) {
    case '*':
        if (nextch != '*') return PRODSY;
        newch();
        yylval = A(W('^'));
        return POWSY;
    case '.':
        if (nextch != '.') return DOTSY;
        while (nextch == '.')
            newch();
        return ELLIPSIS;
    case '<':
        if (nextch == '=') {
            newch();
            yylval = A(LESSEQ);
            return RELOP;
        }
        if (nextch == '>') {
            newch();
            yylval = A(INEQUAT);
            return RELOP;
        }
        return LESSTSY;
    case '>':
        if (nextch != '=') return GREATSY;
        newch();
        yylval = A(-LESSEQ);
        return RELOP;
    case '-':
        if (nextch != '>') return MINUSSY;
        newch();
        return OPERSY;
    case ':':
        if (nextch != '=') return COLONSY;
        newch();
        return ASSIGNSY;
    case ',': return COMMASY;
    case '/': return DIVIDESY;
    case '=': return EQSY;
    case '!': return EXCLSY;
    case '{': return LBRACESY;
    case '[': return LBRACKSY;
    case '(': return LPARSY;
    case '+': return PLUSSY;
    case '^': return POWSY;
    case '}': return RBRACESY;
    case ']': return RBRACKSY;
    case ')': return RPARSY;
    case ';': return SEMICSY;
    case '|': return VERTBARSY;
    // A NUL (from the escape \0) would read as the end of the parser's input.
    case 0: return YYUNDEF;
    default: return c;
    }
}

int yylex() {
    yyeof = 0;
    try {
        return lextoken();
    } catch (const EndOfUnit &) {
        // Whatever token was being read is abandoned with the unit.
        ReadingString = ReadingComment = 0;
        CommentGoesOn = 0;
        nextch = NOREADAHEAD;
        currch = '\n';
        if (r_unit0 >= 0) lookahead[r_unit0].valid = 0;
        yyeof = 1;
        return EOFSY;
    }
}
