// The built-ins of sequence databases: arguments unpacked and checked for the routines of src/db.
#include "dbbuiltins.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "LoadFile.h"
#include "builtins.h"
#include "Lumbra.h"
#include "Repeats.h"
#include "SearchText.h"
#include "builtins.h"
#include "miscfuncs.h"
#include "sets.h"

database *DbArgument(ALGEB t, WORD i) {
    if (LENGTH(t) > i) {
        ALGEB d = A(t[i]);
        if (!is(d, DNAFILE)) userror("DB must be assigned a database");
        return (database *)d;
    }
    database *df = CurrentDb();
    if (df == 0) userror("DB must be assigned a database");
    return df;
}

// A view of the characters [from, to) of the database text.
static ALGEB dbview(const database *df, UWORD from, UWORD to) {
    if (to <= from) return OneChar[0];
    ALGEB r = Newl1(3, TEXT);
    r[1] = (WORD)(to - from);
    r[2] = W(df->string + from);
    return r;
}

static std::string chars(ALGEB x) {
    if (ID2(x) == NAME) return NAMETEXT(x);
    return std::string(STR(x)->t, (size_t)STR(x)->length);
}

static bool insidetext(const database *df, ALGEB x) {
    if (!is(x, TEXT)) return false;
    const char *t = STR(x)->t;
    return t >= df->string && t <= df->string + df->TotChars &&
           (UWORD)STR(x)->length <= df->TotChars - (UWORD)(t - df->string);
}

ALGEB ReadDbBuiltin(ALGEB fname, ALGEB t) {
    serverrefuses("cannot do ReadDb as a server");
    std::string name = chars(A(t[1]));
    return ReadDb(name.c_str());
}

ALGEB GetOffsetBuiltin(ALGEB fname, ALGEB t) {
    if (LENGTH(t) < 2) counterror(fname, LENGTH(t) - 1);
    database *df = DbArgument(t, 2);
    ALGEB x = A(t[1]);
    if (x == (ALGEB)df) return cons0;
    if (!insidetext(df, x)) userror("the text is not inside the database");
    return Newint((WORD)(STR(x)->t - df->string));
}

ALGEB GetEntryNumberBuiltin(ALGEB fname, ALGEB t) {
    if (LENGTH(t) < 2) counterror(fname, LENGTH(t) - 1);
    database *df = DbArgument(t, 2);
    ALGEB x = A(t[1]);
    UWORD pos;
    if (is(x, NAME)) userror("invalid first argument for GetEntryNumber");
    if (!DbPosition(df, x, &pos)) userror("invalid first argument for GetEntryNumber");
    if (consneg(x)) return cons0;
    return Newint((WORD)GetEntryNumber(df, pos));
}

ALGEB SeqFileToDbBuiltin(ALGEB fname, ALGEB t) {
    serverrefuses("cannot do SeqFileToDb as a server");
    if (LENGTH(t) != 3) counterror(fname, LENGTH(t) - 1);
    std::string format = chars(A(t[2]));
    SeqFormat f;
    if (format == "FASTA" || format == "fasta")
        f = SeqFormat::Fasta;
    else if (format == "UniProt" || format == "SwissProt" || format == "EMBL")
        f = SeqFormat::UniProt;
    else
        userror("the format must be FASTA or UniProt");
    char path[4096];
    expandname(chars(A(t[1])).c_str(), path, sizeof path);
    return SeqFileToDb(path, f);
}

// The entry whose tag has the value: its text after <tag> is the value, ended by ';' or '<'.
static UWORD entrywithtag(const database *df, ALGEB call) {
    ALGEB tag = A(call[1]), value = A(call[2]);
    if (!textual(value)) userror2(call, "is not an entry of the database");
    std::string key = "<" + std::string(NAMETEXT(tag)) + ">" + chars(value);
    const char *s = df->string, *end = s + df->TotChars;
    while (s < end) {
        const char *hit = (const char *)memmem(s, (size_t)(end - s), key.data(), key.size());
        if (hit == 0) break;
        const char *after = hit + key.size();
        if (after < end && (*after == ';' || *after == '<')) {
            UWORD k = GetEntryNumber(df, (UWORD)(hit - df->string));
            if (k > 0) return k;
        }
        s = hit + 1;
    }
    userror2(call, "is not an entry of the database");
}

ALGEB DbPartBuiltin(ALGEB fname, ALGEB t) {
    if (LENGTH(t) != 3) counterror(fname, LENGTH(t) - 1);
    database *df = CurrentDb();
    if (df == 0) userror("DB must be assigned a database");
    ALGEB x = A(t[1]);
    std::string part = chars(A(t[2]));
    UWORD k = 0;
    if (numeric(x)) {
        if (!integer(x)) userror("invalid argument");
        double d = IMMINT(x) ? (double)IMMVAL(x) : NUMVAL(x);
        if (d < 1 || d > (double)df->TotEntries) userror("Entry number out of range");
        k = (UWORD)d;
    } else if (insidetext(df, x)) {
        k = GetEntryNumber(df, (UWORD)(STR(x)->t - df->string));
        if (k == 0) userror("the text is not inside an entry");
    } else if (ID2(x) == FUNCTION && LENGTH2(x) == 3 && is(A(x[1]), NAME)) {
        k = entrywithtag(df, x);
    } else if (textual(x) && part != "E" && part != "SEQ") {
        // A tag's value from outside the database stands for the entry that has it.
        return New3(FUNCTION, naminstall(part.c_str()), x);
    } else {
        userror2(x, "is not an entry of the database");
    }
    UWORD from, to;
    if (part == "E") {
        DbEntryBounds(df, k, &from, &to);
        return dbview(df, from, to);
    }
    if (!DbTagBounds(df, k, part.c_str(), &from, &to)) {
        if (part != "SEQ") return OneChar[0];
        char msg[80];
        snprintf(msg, sizeof msg, "%lu", (unsigned long)k);
        userror2(naminstall(msg), "Entry without a SEQ, database format error");
    }
    // A stretch of the sequence stays what it is, so that Match keeps its place.
    if (part == "SEQ" && insidetext(df, x) && STR(x)->t >= df->string + from &&
        STR(x)->t + STR(x)->length <= df->string + to)
        return x;
    return dbview(df, from, to);
}

// ---------------------------------------------------------------------------
// Text search, repeats and frequent strings.

// The characters of a text argument; a database stands for its whole text, which a mapped file
// does not end with a zero.
static Chars searched(ALGEB x) {
    if (ID2(x) == DNAFILE) {
        const database *df = (const database *)x;
        return {df->string, (size_t)df->TotChars};
    }
    return textof(x);
}

// A whole-number argument; beyond 2^53 in size it stands for 2^53, which no count reaches.
static WORD wholearg(ALGEB fname, ALGEB x) {
    if (!integer(x)) kinderror(fname);
    if (IMMINT(x)) return IMMVAL(x);
    return (WORD)std::clamp(NUMVAL(x), -9007199254740992.0, 9007199254740992.0);
}

ALGEB CaseSearchStringBuiltin(ALGEB fname, ALGEB t) {
    Chars p = searched(A(t[1])), s = searched(A(t[2]));
    return Newint(CaseSearchString(p.s, (WORD)p.n, s.s, (WORD)s.n));
}

ALGEB SearchStringBuiltin(ALGEB fname, ALGEB t) {
    Chars p = searched(A(t[1])), s = searched(A(t[2]));
    return Newint(SearchString(p.s, (WORD)p.n, s.s, (WORD)s.n));
}

ALGEB SearchSeqDbBuiltin(ALGEB fname, ALGEB t) { return SearchSeqDb(A(t[1])); }

static ALGEB approxsearch(ALGEB fname, ALGEB t, bool indels) {
    Chars p = searched(A(t[1])), s = searched(A(t[2]));
    WORD k = wholearg(fname, A(t[3]));
    // Beyond the limit the size of k does not matter for the message.
    k = std::max<WORD>(std::min<WORD>(k, 1000), -1);
    return Newint(ApproxSearchString(p.s, (WORD)p.n, s.s, (WORD)s.n, (int)k, indels));
}

ALGEB ApproxSearchStringBuiltin(ALGEB fname, ALGEB t) { return approxsearch(fname, t, false); }

ALGEB ApproxSearchStringIndelsBuiltin(ALGEB fname, ALGEB t) { return approxsearch(fname, t, true); }

ALGEB SearchTagBuiltin(ALGEB fname, ALGEB t) {
    ALGEB x = A(t[2]);
    Chars tag = searched(A(t[1])), s = searched(x);
    // A view could not keep a name's characters alive.
    return SearchTag(tag.s, (WORD)tag.n, s.s, (WORD)s.n, ID2(x) == NAME);
}

ALGEB MatchRegexBuiltin(ALGEB fname, ALGEB t) {
    Chars p = searched(A(t[1])), s = searched(A(t[2]));
    return MatchRegex(p.s, (WORD)p.n, s.s, (WORD)s.n);
}

ALGEB FindLongestRepBuiltin(ALGEB fname, ALGEB t) {
    WORD n = LENGTH(t) - 1;
    if (n < 1) counterror(fname, n);
    WORD len = n >= 2 ? wholearg(fname, A(t[2])) : 0;
    WORD bonus = n >= 3 ? wholearg(fname, A(t[3])) : 0;
    return FindLongestRep((const database *)A(t[1]), len, bonus);
}

ALGEB GetMostFrequentGramsBuiltin(ALGEB fname, ALGEB t) {
    GetMostFrequentGrams(wholearg(fname, A(t[1])), wholearg(fname, A(t[2])));
    return null;
}
