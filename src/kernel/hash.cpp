// The name table that makes names unique, the hash tables it is built on, and hashalg.
#include "hash.h"

#include <cmath>

#include "eval.h"
#include "gc.h"
#include "lineprint.h"
#include "mdebug.h"
#include "storman.h"

ALGEB nametab, remembertab;
ALGEB ininame[MAXININnames];
ALGEB tyname[TYNAMESIZE];

static constexpr UINT TEXTMULT = 1664525; // identifiers
static constexpr UINT ALGMULT = 131;      // objects
static constexpr int NSAMPLES = 15;       // elements of a long object that take part

UINT hashstring(const char *s) {
    UINT r = 1;
    for (; *s != 0; s++)
        r = r * TEXTMULT + (UINT)(INT)(signed char)*s;
    return r;
}

// Hashes are unsigned, so the bucket index needs no sign correction.
static ALGEB *bucket_slot(UINT h, ALGEB tab) {
    UWORD nbuckets = (UWORD)LENGTH2(tab) - 1;
    return (ALGEB *)&tab[h % nbuckets + 1];
}

static void tag_like(ALGEB bucket, ALGEB tab) {
    bucket[0] = (bucket[0] & COMPLGC) | (tab[0] & MASKGC);
}

ALGEB *search(UINT h, ALGEB tab) {
    ALGEB bucket = *bucket_slot(h, tab);
    if (bucket == 0) return (ALGEB *)NOTFOUND;
    WORD key = hashkey(h);
    for (WORD i = 1; bucket[i] != 0; i += 2)
        if (bucket[i] == key) return (ALGEB *)&bucket[i];
    return (ALGEB *)NOTFOUND;
}

ALGEB *hashinsert(UINT h, ALGEB value, ALGEB tab) {
    ALGEB *slot = bucket_slot(h, tab);
    WORD key = hashkey(h);
    ALGEB bucket = *slot;
    if (bucket == 0) {
        bucket = Newl3(7, HASH, A(key), value);
        tag_like(bucket, tab);
        *slot = bucket;
        return (ALGEB *)&bucket[1];
    }
    WORD L = LENGTH2(bucket);
    if (bucket[L - 4] != 0) {
        bucket = enlarge(bucket, 2 * (L / 10 + 5));
        tag_like(bucket, tab);
        *slot = bucket;
        L = LENGTH2(bucket);
    }
    // Used pairs are contiguous, so the first empty key is found by bisection
    // over the key words (odd indices); the last pair is never reached.
    WORD lo = -1, hi = L - 2;
    while (hi - lo > 2) {
        WORD mid = ((lo + hi) / 2) | 1;
        if (bucket[mid] == 0)
            hi = mid;
        else
            lo = mid;
    }
    bucket[hi] = key;
    bucket[hi + 1] = W(value);
    return (ALGEB *)&bucket[hi];
}

ALGEB *srchname(const char *s) {
    UINT h = hashstring(s);
    ALGEB *p = search(h, nametab);
    if (p == (ALGEB *)NOTFOUND) return p;
    WORD key = hashkey(h);
    for (; p[0] != 0; p += 2)
        if (W(p[0]) == key && strcmp(NAMETEXT(p[1]), s) == 0) return p;
    return (ALGEB *)NOTFOUND;
}

ALGEB naminstall(const char *s) {
    ALGEB *p = srchname(s);
    if (p != (ALGEB *)NOTFOUND) return p[1];
    size_t n = strlen(s);
    if (n >= MAX_NAME_LENGTH) userror("name too long");
    ALGEB name = Newl1((WORD)(n / 8 + 3), NAME);
    memcpy(NAMETEXT(name), s, n + 1);
    hashinsert(hashstring(s), name, nametab);
    return name;
}

UINT hashdouble(double d) {
    double v = 2 * d + 1;
    double x = nearbyint((v - floor(v)) * 1054729.0 + v);
    double r = fmod(x, 2147483647.0);
    // Only a LISTNUM can hold an infinity or a NaN; give them a fixed hash.
    if (!std::isfinite(r)) return 0x7FF00001;
    return (UINT)(INT)r;
}

static UINT texthash(const char *t, WORD n) {
    UINT h = (UINT)n + (UINT)TEXT;
    WORD m = n < MAXHASHLEN ? n : MAXHASHLEN;
    for (WORD i = 0; i < m; i++)
        h = h * ALGMULT + (UINT)(INT)(signed char)t[i];
    return hashkey(h);
}

// Words that hold raw numbers rather than handles; they are hashed as they are.
static bool rawword(WORD code, WORD i) {
    switch (code) {
    case LOCAL_CASE:
    case PARAM_CASE: return i == 1;
    case HASH_CASE: return (i & 1) != 0;
    case GARBAGE_CASE:
    case SYSTEM_CASE:
    case COMPRESSED_CASE:
    case UNSPECIFIED_CASE: return true;
    default: return false;
    }
}

static UINT hashobj(ALGEB s, int &budget);

// Optional fields and empty buckets hold the null address.
static UINT fieldhash(ALGEB x, int &budget) { return x == 0 ? 0 : hashobj(x, budget); }

static UINT elemhash(ALGEB s, WORD code, WORD i, int &budget) {
    return rawword(code, i) ? (UINT)s[i] : fieldhash(A(s[i]), budget);
}

// Each object looks at no more than 15 of its parts, and the whole walk at no more than
// HASHNODES structures: beyond, a structure counts by its kind and length alone. So a hash
// costs bounded time, and a structure that contains itself still has one.
static constexpr int HASHNODES = 256;

UINT hashalg(ALGEB s) {
    int budget = HASHNODES;
    return hashobj(s, budget);
}

static UINT hashobj(ALGEB s, int &budget) {
    if (IMMINT(s)) return (UINT)W(s);
    WORD code = CASE_ID2(s);
    WORD L = LENGTH2(s);
    UINT h;
    switch (code) {
    case NUMBER_CASE: return hashdouble(NUMVAL(s));
    case TEXT_CASE: return texthash(STR(s)->t, STR(s)->length);
    case NAME_CASE: return texthash(NAMETEXT(s), (WORD)strlen(NAMETEXT(s)));
    case LISTNUM_CASE: {
        // Our LISTNUM keeps its m = L-1 doubles from word 1 without a filler.
        // Up to 15 doubles all take part; a longer list is sampled at the data
        // indices (k*m)/16, k = 1..15, counted from 0, so index 0 is skipped.
        WORD m = LISTNUMLEN(s);
        const double *x = LISTNUMDATA(s);
        h = (UINT)m + (UINT)EXPSEQ;
        if (m > NSAMPLES)
            for (WORD k = 1; k <= NSAMPLES; k++)
                h = h * ALGMULT + hashdouble(x[(k * m) / 16]);
        else
            for (WORD i = 0; i < m; i++)
                h = h * ALGMULT + hashdouble(x[i]);
        return hashkey(h + 755499270u);
    }
    case DNAFILE_CASE: {
        const database *db = (const database *)s;
        h = (UINT)DNAFILE;
        for (size_t i = 0; i < sizeof db->FileName && db->FileName[i] != 0; i++)
            h = h * ALGMULT + (UINT)(INT)(signed char)db->FileName[i];
        return h;
    }
    case DAYMATRIX_CASE: {
        const DayMatrix *dm = (const DayMatrix *)s;
        h = fieldhash(dm->type, budget) + 0x5A100000u;
        if (dm->Mapping != 0) h = hashobj(dm->Mapping, budget) + ALGMULT * h;
        h = ALGMULT * h + fieldhash(dm->logPAM1, budget);
        h = ALGMULT * h + hashdouble(dm->PamNumber);
        return hashkey(h);
    }
    case MATCH_CASE: {
        const Match *m = (const Match *)s;
        h = ((UINT)m->Offset1 + 0x5C1C0000u) * ALGMULT + (UINT)m->Offset2;
        h = ALGMULT * h + hashdouble(m->PamNumber);
        h = ALGMULT * h + (UINT)m->Length1;
        h = ALGMULT * h + (UINT)m->Length2;
        return hashkey(h);
    }
    default:
        h = (UINT)(s[0] & (MASKID | MASKLEN));
        if (budget <= 0) return hashkey(h);
        budget--;
        if (L > NSAMPLES)
            for (WORD k = 1; k <= NSAMPLES; k++)
                h = h * ALGMULT + elemhash(s, code, (k * L) / 16, budget);
        else
            for (WORD i = 1; i < L; i++)
                h = h * ALGMULT + elemhash(s, code, i, budget);
        return hashkey(h);
    }
}

// ---------------------------------------------------------------------------
// The remember table: entries (result, procedure, arguments...) under the hash of the
// procedure's address and the arguments.

static constexpr UINT REMEMBERMULT = 131;

static ALGEB rememberproc(ALGEB f) {
    if (isditto(f)) return dittovalue(f);
    ALGEB v = A(f[1]);
    return v != 0 && v != f ? v : 0;
}

static bool sameentry(ALGEB entry, ALGEB proc, ALGEB args, WORD n) {
    if (A(entry[2]) != proc || LENGTH2(entry) != n + 3) return false;
    for (WORD i = 1; i <= n; i++)
        if (!Equal(A(args[i]), A(entry[i + 2]), 0)) return false;
    return true;
}

// Raises the evaluation level of the current environment record for a scope.
struct RememberLevel {
    EnvRecord *env = Environment;
    RememberLevel() { env->evlstlev++; }
    ~RememberLevel() { env->evlstlev--; }
};

ALGEB remember(ALGEB f, ALGEB args) {
    if (f == 0 && args == 0) {
        // The buckets stay, emptied, so the table keeps its shape.
        for (WORD i = 1; i < LENGTH2(remembertab); i++) {
            ALGEB b = A(remembertab[i]);
            if (b != 0) memset(b + 1, 0, (size_t)(LENGTH2(b) - 1) * sizeof(WORD));
        }
        return null;
    }
    if (!is(f, NAME)) userror2(f, "remember-ing should be on a function name");
    ALGEB proc = rememberproc(f);
    if (proc == 0 || !is(proc, PROC)) userror2(f, "is not assigned a procedure for remember-ing");
    WORD n = LENGTH2(args) - 1;
    UINT h = (UINT)W(proc);
    for (WORD i = 1; i <= n; i++)
        h = h * REMEMBERMULT + hashalg(A(args[i]));

    ALGEB *p = search(h, remembertab);
    if (p != (ALGEB *)NOTFOUND) {
        WORD key = hashkey(h);
        for (; p[0] != 0; p += 2) {
            if (W(p[0]) != key || !sameentry(p[1], proc, args, n)) continue;
            ALGEB result = A(p[1][1]);
            WORD lev = ENVevlstlev;
            if (!(lev + 14 >= 4 * ENVprintlevel && lev > DebugLevel)) {
                prpart("remembered ");
                lineprint(f, 0);
                prpart("(...) = ");
                lineprint(result, 0);
                mendline();
            }
            return updategen(result);
        }
    }

    // The arguments ride in anonymous holders so that they are not evaluated again.
    ALGEB call = Newl2(n + 2, FUNCTION, f);
    for (WORD i = 1; i <= n; i++)
        call[i + 1] = W(Newl2(3, NAME, A(args[i])));
    ALGEB result;
    {
        RememberLevel up;
        result = eval(call);
    }
    ALGEB entry = Newl3(n + 3, EXPSEQ, result, proc);
    for (WORD i = 1; i <= n; i++)
        entry[i + 2] = args[i];
    // A special form may hand back its unevaluated call; then the holders live on in it.
    if (!hasoption(proc, ININbuiltin)) {
        for (WORD i = 1; i <= n; i++)
            release(A(call[i + 1]), 3);
        release(call, n + 2);
    }
    hashinsert(h, entry, remembertab);
    return result;
}

void InitHashTables() {
    nametab = Newl1(NAMETSIZE + 1, HASHTAB);
    remembertab = Newl1(REMEMBERTSIZE + 1, HASHTAB);
}

void InstallNames() {
    for (int i = 0; i < MAXININnames; i++)
        ininame[i] = naminstall(ininame_text[i]);
    for (int i = 0; i < TYNAMESIZE; i++)
        tyname[i] = naminstall(tyname_text[i]);
}
