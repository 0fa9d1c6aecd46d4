// Conversions of objects to character strings, names and machine integers.
#include "Lumbra.h"
#include "sets.h"

char GlobalString[GLOBALSTRINGSIZE];

const char *toCharptr(ALGEB s) {
    if (!IMMINT(s)) switch (CASE_ID2(s)) {
        case TEXT_CASE: return STR(s)->t;
        case NAME_CASE: return NAMETEXT(s);
        case DNAFILE_CASE: return ((database *)s)->string;
        }
    userror("cannot convert to character string");
}

// Whether the byte after the characters of a text view may be read: not past the table of
// one-character texts, nor past the end of a mapped file.
static bool endreadable(ALGEB s) {
    const char *end = STR(s)->t + STR(s)->length;
    if (end >= OneChars && end <= OneChars + 256) return false;
    for (ALGEB m : Mapped)
        if (m != 0 && end == STR(m)->t + STR(m)->length) return false;
    return true;
}

const char *toCharptrU(ALGEB s) {
    const char *t = toCharptr(s);
    if (ID2(s) != TEXT) return t;
    UWORD n = (UWORD)STR(s)->length;
    if ((LENGTH2(s) > 3 || endreadable(s)) && t[n] == 0) return t;
    if (n > GLOBALSTRINGSIZE - 1) userror2(s, "string too long to handle substrings appropriately");
    memcpy(GlobalString, t, n);
    GlobalString[n] = 0;
    return GlobalString;
}

ALGEB toNAME(ALGEB s) {
    if (is(s, NAME)) return s;
    if (!is(s, TEXT)) userror("unable to convert to a name");
    UWORD n = (UWORD)STR(s)->length;
    if (n >= MAX_NAME_LENGTH) userror("string too long to convert to a name");
    char buf[MAX_NAME_LENGTH];
    memcpy(buf, STR(s)->t, n);
    buf[n] = 0;
    return naminstall(buf);
}

INT toInteger(ALGEB s) {
    if (IMMINT(s)) return (INT)IMMVAL(s);
    if (ID2(s) != NUMBER || !integer(s)) userror("cannot convert to integer");
    double d = std::trunc(NUMVAL(s));
    if (std::fabs(d) >= 2147483648.0) userror("integer too large in context");
    return (INT)d;
}
