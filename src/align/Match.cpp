// Match objects: the constructor that checks its arguments against the database in DB.
#include "Match.h"

#include <cmath>
#include <cstdio>

#include "LoadFile.h"
#include "Lumbra.h"
#include "eval.h"
#include "evalfunc.h"

[[noreturn]] static void badargument(int k) {
    char msg[120];
    snprintf(msg, sizeof msg,
             "%d%s argument of Match is incorrect (or could not be converted to the correct type)",
             k, ordinal(k));
    userror(msg);
}

static bool integral(ALGEB x) {
    return IMMINT(x) || (ID2(x) == NUMBER && NUMVAL(x) == std::rint(NUMVAL(x)));
}

// The offset of a sequence argument: an integer is the offset itself; anything else goes
// through the library's Sequence and must come back as a text inside the database text.
static bool seqoffset(ALGEB x, const database *df, WORD *off) {
    if (integral(x)) {
        const double d = DBL(x);
        if (!(std::fabs(d) < 4e18)) return false;
        *off = (WORD)d;
        return true;
    }
    ALGEB name = naminstall("Sequence"), proc = valuenv(name);
    if (!is(proc, PROC)) return false;
    // What Sequence cannot convert is this argument's error, not Sequence's.
    ALGEB s;
    {
        EnvSave keep;
        try {
            s = evalfunc(proc, New2(EXPSEQ, x), name);
        } catch (const Unwind &u) {
            if (u.code != Error) throw;
            Environment = keep.saved;
            ErrorLevel = 0;
            return false;
        }
    }
    if (is(s, NAME)) s = CreateString(NAMETEXT(s));
    if (!is(s, TEXT)) return false;
    const char *t = STR(s)->t;
    if (df->string == nullptr || t < df->string || t >= df->string + df->TotChars) return false;
    *off = (WORD)(t - df->string);
    return true;
}

ALGEB MatchCons(ALGEB t) {
    const WORD n = LENGTH(t) - 1;
    const database *df = CurrentDb();
    if (df == nullptr) userror("DB must be assigned before building a Match");
    if (n < 2 || n == 4 || n > 7) userror("invalid number of arguments for Match");
    ALGEB r = Newl1(NrALGEBs(1, Match), MATCH);
    Match *m = (Match *)r;
    // Positions of the arguments; the checks go from the last to the first.
    const int seq1 = n == 2 ? 1 : 2;
    if (n >= 7) {
        if (!numeric(A(t[7]))) badargument(7);
        m->PamVariance = (float)DBL(A(t[7]));
    }
    if (n >= 6) {
        if (!numeric(A(t[6]))) badargument(6);
        m->PamNumber = (float)DBL(A(t[6]));
    }
    if (n >= 5) {
        for (int k = 5; k >= 4; k--) {
            ALGEB x = A(t[k]);
            if (!integral(x) || std::fabs(DBL(x)) > 2147483647.0) badargument(k);
        }
        m->Length2 = (INT)DBL(A(t[5]));
        m->Length1 = (INT)DBL(A(t[4]));
    }
    WORD off1 = 0, off2 = 0;
    if (!seqoffset(A(t[seq1]), df, &off1)) badargument(seq1);
    if (!seqoffset(A(t[seq1 + 1]), df, &off2)) badargument(seq1 + 1);
    if (n >= 3) {
        if (!numeric(A(t[1]))) badargument(1);
        m->Sim = DBL(A(t[1]));
    }
    // The Sequence procedure may have replaced DB.
    df = CurrentDb();
    if (df == nullptr) userror("DB must be assigned before building a Match");
    if (off1 < 0 || (UWORD)off1 >= df->TotChars)
        userror("Offset1 in Match is not a correct offset, use GetOffset in Match structure");
    if (off2 < 0 || (UWORD)off2 >= df->TotChars)
        userror("Offset2 in Match is not a correct offset, use GetOffset in Match structure");
    m->Offset1 = off1;
    m->Offset2 = off2;
    return r;
}
