// Indexing and assignment into lists, texts, sequences, structures and matches (tables.cpp has
// the tables).
#include "selector.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "Dayhoff.h"
#include "LoadFile.h"
#include "Lumbra.h"
#include "eval.h"
#include "evalfunc.h"
#include "sets.h"
#include "type.h"

// The position of index k among n items, a negative k counted from the end; 0 when outside.
static WORD position(WORD k, WORD n) {
    if (k < 0) k += n + 1;
    return k >= 1 && k <= n ? k : 0;
}

// The bounds of a range selector over n items; lo > hi means an empty selection.
static void rangebounds(ALGEB r, WORD n, WORD &lo, WORD &hi) {
    ALGEB a = A(r[1]), b = A(r[2]);
    if (!IMMINT(a) || !IMMINT(b)) userror2(r, "range selectors must be integers");
    lo = IMMVAL(a);
    hi = IMMVAL(b);
    if (lo < 0) lo += n + 1;
    if (hi < 0) hi += n + 1;
    if (lo > hi) return;
    if (lo < 1 || hi > n) userror("range selector out of bounds");
}

// Items lo..hi of w[1], w[2], ...: a new sequence, or the item itself when unwrap and lo = hi.
static ALGEB subseq(const WORD *w, WORD lo, WORD hi, bool unwrap) {
    if (lo > hi) return null;
    if (unwrap && lo == hi) return A(w[lo]);
    ALGEB r = Newl1(hi - lo + 2, EXPSEQ);
    memcpy(r + 1, w + lo, (size_t)(hi - lo + 1) * sizeof(WORD));
    return r;
}

// An index into a text: an immediate, or an integral NUMBER that fits 32 bits.
static bool textindex(ALGEB x, WORD &k) {
    if (IMMINT(x)) {
        k = IMMVAL(x);
        return true;
    }
    if (ID2(x) != NUMBER) return false;
    double d = NUMVAL(x);
    if (d != std::rint(d) || std::fabs(d) > 2147483647.0) return false;
    k = (WORD)d;
    return true;
}

static bool onechars(const char *p) { return p >= OneChars && p < OneChars + 256; }

static ALGEB textsel(ALGEB s, ALGEB sel, bool last, ALGEB val) {
    WORD len = (WORD)STR(s)->length;
    char *chars = STR(s)->t;
    if (is(sel, RANGE)) {
        if (val != 0) userror("cannot assign to a range");
        WORD lo, hi;
        if (!textindex(A(sel[1]), lo) || !textindex(A(sel[2]), hi))
            userror2(sel, "range selectors must be suitable integers");
        if (lo < 0) lo += len + 1;
        if (hi < 0) hi += len + 1;
        if (lo > hi) return OneChar[0];
        if (lo < 1 || hi > len) userror("range selector out of bounds");
        // A view onto the same characters: no copy.
        ALGEB r = Newl1(3, TEXT);
        r[1] = hi - lo + 1;
        r[2] = W(chars + lo - 1);
        return r;
    }
    WORD k;
    if (!last || !textindex(sel, k) || (k = position(k, len)) == 0)
        userror("cannot apply selector on object");
    if (LENGTH2(s) == 3 && !onechars(chars) && FindTextHead(chars) == 0)
        userror("cannot apply selector on object");
    if (val == 0) return OneChar[(unsigned char)chars[k - 1]];
    char c;
    if (is(val, NAME) && strlen(NAMETEXT(val)) == 1)
        c = NAMETEXT(val)[0];
    else if (is(val, TEXT) && STR(val)->length == 1)
        c = STR(val)->t[0];
    else
        userror("can only assign a character");
    if (onechars(chars)) userror("cannot assign to single characters");
    if (InMappedText(chars)) userror("cannot assign to the characters of a mapped file");
    // In place: every text sharing these characters sees the change.
    chars[k - 1] = c;
    return val;
}

static ALGEB listnumsel(ALGEB s, ALGEB sel, bool last, ALGEB val) {
    WORD n = LISTNUMLEN(s);
    if (IMMINT(sel)) {
        WORD k = position(IMMVAL(sel), n);
        if (k == 0) userror("array selector out of bounds");
        if (!last) userror("cannot apply selector on object");
        if (val == 0) return NewNumber(LISTNUMDATA(s)[k - 1]);
        if (numeric(val)) {
            LISTNUMDATA(s)[k - 1] = DBL(val);
            return val;
        }
        LISTNUMtoLIST(s);
        A(s[1])[k] = W(val);
        return val;
    }
    if (ID2(sel) != RANGE) userror("array selector must be a range or an integer");
    if (val != 0) userror("cannot assign to a range");
    WORD lo, hi;
    rangebounds(sel, n, lo, hi);
    if (lo > hi) return EmptyList;
    ALGEB r = Newl1(hi - lo + 2, LISTNUM);
    memcpy(LISTNUMDATA(r), LISTNUMDATA(s) + lo - 1, (size_t)(hi - lo + 1) * sizeof(double));
    return r;
}

// ---------------------------------------------------------------------------
// Structures

// The procedure assigned to a structure's function name, library stubs loaded; 0 when none.
static ALGEB constructor(ALGEB F) {
    if (!is(F, NAME) || F[1] == 0) return 0;
    ALGEB v = A(F[1]);
    if (isstub(v)) {
        eval(v);
        v = A(F[1]);
    }
    return v != 0 && is(v, PROC) ? v : 0;
}

// The parameter names of a constructor are the field names; p is 1-based, 0 when absent.
static ALGEB paramname(ALGEB proc, WORD p) {
    ALGEB x = A(A(proc[PROC_PARAMS])[p]);
    if (is(x, COLON)) x = A(x[1]);
    return x;
}

static WORD fieldposition(ALGEB proc, ALGEB sel) {
    ALGEB params = A(proc[PROC_PARAMS]);
    for (WORD p = 1; p < LENGTH2(params); p++) {
        ALGEB x = paramname(proc, p);
        if (x == sel) return p;
        if (!is(x, NAME) || ID2(sel) != TEXT) continue;
        UWORD n = (UWORD)STR(sel)->length;
        if (strlen(NAMETEXT(x)) == n && memcmp(NAMETEXT(x), STR(sel)->t, n) == 0) return p;
    }
    return 0;
}

// The structure's own select method, called with (s, sel) or (s, sel, val); false when none.
static bool polyselect(ALGEB s, ALGEB sel, ALGEB val, ALGEB &result) {
    ALGEB m = PolymorphicFunction(s, "select");
    if (m == 0) return false;
    ALGEB args = val != 0 ? New4(EXPSEQ, s, sel, val) : New3(EXPSEQ, s, sel);
    result = evalfunc(valuenv(m), args, m);
    return true;
}

static void normalize(ALGEB s, ALGEB proc) {
    if (proc == 0 || !hasoption(proc, ININNormalizeOnAssign)) return;
    WORD L = LENGTH2(s);
    ALGEB args = Newl1(L - 1, EXPSEQ);
    memcpy(args + 1, s + 2, (size_t)(L - 2) * sizeof(WORD));
    ALGEB r = evalfunc(proc, args, A(s[1]));
    if (!is(r, FUNCTION) || LENGTH2(r) != L)
        userror("normalization after assignment to selection returns an incompatible structure");
    memcpy(s + 1, r + 1, (size_t)(L - 1) * sizeof(WORD));
}

// Continues a selection from the value x found for selector i.
static ALGEB further(ALGEB x, ALGEB t, int i, ALGEB val) {
    if (i == LENGTH2(t) - 1) return val != 0 ? val : x;
    return selector(x, t, i + 1, val);
}

static ALGEB structsel(ALGEB s, ALGEB t, int i, ALGEB val) {
    ALGEB sel = A(t[i]);
    bool last = i == LENGTH2(t) - 1;
    ALGEB store = last ? val : 0;
    ALGEB F = A(s[1]);
    WORD nargs = LENGTH2(s) - 2;
    ALGEB proc = constructor(F);
    ALGEB r;
    bool number = numeric(sel);
    if (number || ID2(sel) == RANGE) {
        if (proc != 0 && hasoption(proc, ININNoIndexing)) {
            if (F == ININtable) return further(TableSel(s, sel, store), t, i, val);
            if (!polyselect(s, sel, store, r))
                userror("indexing/selecting from a structure which has option NoIndexing");
            return further(r, t, i, val);
        }
        if (!number) {
            if (val != 0) userror("cannot assign to a range");
            WORD lo, hi;
            rangebounds(sel, nargs, lo, hi);
            return further(subseq(s + 1, lo, hi, true), t, i, 0);
        }
        WORD k = position(IMMINT(sel) ? IMMVAL(sel) : (WORD)lrint(NUMVAL(sel)), nargs);
        if (k == 0) userror("array selector out of bounds");
        if (val == 0) return further(A(s[k + 1]), t, i, 0);
        if (last)
            s[k + 1] = W(val);
        else
            selector(A(s[k + 1]), t, i + 1, val);
        normalize(s, proc);
        return val;
    }
    if (!is(F, NAME)) userror2(sel, "is not a valid field selector for a structure");
    if (F == ININtable) return further(TableSel(s, sel, store), t, i, val);
    WORD p = proc != 0 && textual(sel) ? fieldposition(proc, sel) : 0;
    if (p != 0) {
        if (p > nargs) userror("selector out of bounds");
        if (val == 0) return further(A(s[p + 1]), t, i, 0);
        if (last) {
            ALGEB x = A(A(proc[PROC_PARAMS])[p]);
            if (is(x, COLON) && !type(val, A(x[2])))
                userror("assigning an entry with incorrect type");
            s[p + 1] = W(val);
        } else
            selector(A(s[p + 1]), t, i + 1, val);
        normalize(s, proc);
        return val;
    }
    if (polyselect(s, sel, store, r)) return further(r, t, i, val);
    bool isparam = false;
    if (proc != 0 && ID2(sel) == NAME)
        for (WORD q = 1; q < LENGTH2(A(proc[PROC_PARAMS])) && !isparam; q++)
            isparam = Equal(sel, paramname(proc, q), 0);
    char msg[MAX_NAME_LENGTH + 80];
    snprintf(msg, sizeof msg,
             isparam ? "is protected and cannot be used as a selector for a %s structure"
                     : "is not a valid field selector for a %s structure",
             NAMETEXT(F));
    userror2(sel, msg);
}

// ---------------------------------------------------------------------------

ALGEB selector(ALGEB s, ALGEB t, int i, ALGEB val) {
    for (;; i++) {
        WORD n = LENGTH2(t);
        if (i >= n) {
            if (i > n) notimpl("selector: assertion I");
            // Only empty sequences were left to select with: nothing to assign into.
            if (val != 0) userror("improper op or subscript selector");
            return s;
        }
        ALGEB sel = A(t[i]);
        if (is(sel, EXPSEQ)) {
            // Only the selectors still to apply are spliced; they then start at index 1.
            ALGEB rest = Newl1(n - i + 1, EXPSEQ);
            memcpy(rest + 1, t + i, (size_t)(n - i) * sizeof(WORD));
            t = FlattenExpseq(rest, 0);
            i = 0;
            continue;
        }
        bool last = i == n - 1;
        ALGEB store = last ? val : 0;
        if (IMMINT(s)) userror("cannot apply selector on object");
        switch (CASE_ID2(s)) {
        case NAME_CASE: {
            if (val != 0) userror("cannot modify names (only strings, lists, structures)");
            if (last && IMMINT(sel)) {
                WORD k = IMMVAL(sel);
                if (k < 1 || k > (WORD)strlen(NAMETEXT(s)))
                    userror("cannot apply selector on object");
                return OneChar[(unsigned char)NAMETEXT(s)[k - 1]];
            }
            s = CreateString(NAMETEXT(s));
            i--; // the same selector, now on the text
            break;
        }
        case SUM_CASE:
        case PROD_CASE:
        case POWER_CASE:
        case CATENATE_CASE:
        case COLON_CASE:
        case RANGE_CASE:
        case EQUATION_CASE:
        case INEQUAT_CASE:
        case LESSEQ_CASE:
        case LESSTHAN_CASE:
        case AND_CASE:
        case NOT_CASE:
        case OR_CASE:
        case EXPSEQ_CASE: {
            WORD nops = LENGTH2(s) - 1;
            if (!IMMINT(sel)) {
                if (ID2(s) != EXPSEQ) userror("selector must be an integer");
                if (ID2(sel) != RANGE) userror("selector must be a range or an integer");
                if (val != 0) userror("cannot assign to a range");
                WORD lo, hi;
                rangebounds(sel, nops, lo, hi);
                s = subseq(s, lo, hi, true);
                break;
            }
            WORD k = position(IMMVAL(sel), nops);
            if (k == 0) userror("selector out of bounds");
            if (store != 0) {
                NoteStore(s, k);
                s[k] = W(store);
                return store;
            }
            s = A(s[k]);
            break;
        }
        case LIST_CASE:
        case SET_CASE: {
            ALGEB seq = A(s[1]);
            WORD nel = LENGTH2(seq) - 1;
            if (IMMINT(sel)) {
                WORD k = position(IMMVAL(sel), nel);
                if (k == 0) userror("array selector out of bounds");
                if (store != 0) {
                    NoteStore(seq, k);
                    seq[k] = W(store);
                    return store;
                }
                s = A(seq[k]);
                break;
            }
            if (ID2(sel) != RANGE) userror("array selector must be a range or an integer");
            if (val != 0) userror("cannot assign to a range");
            WORD lo, hi;
            rangebounds(sel, nel, lo, hi);
            if (ID2(s) == SET)
                s = subseq(seq, lo, hi, true);
            else
                s = lo > hi ? EmptyList : New2(LIST, subseq(seq, lo, hi, false));
            break;
        }
        // Both refuse a pending assignment unless this is the last selector.
        case LISTNUM_CASE:
            s = listnumsel(s, sel, last, val);
            if (val != 0) return val;
            break;
        case TEXT_CASE:
            s = textsel(s, sel, last, val);
            if (val != 0) return val;
            break;
        case FUNCTION_CASE: return structsel(s, t, i, val);
        case MATCH_CASE: return MatchSel(s, t, i, val);
        case DNAFILE_CASE: return DBSel(s, t, i, val);
        case DAYMATRIX_CASE: return DayMatrixSel(s, t, i, val);
        default: userror("cannot apply selector on object");
        }
    }
}

// ---------------------------------------------------------------------------

ALGEB MatchSel(ALGEB m, ALGEB t, int i, ALGEB val) {
    static const char *const fields[] = {"Sim",     "Offset1",   "Offset2",    "Length1",
                                         "Length2", "PamNumber", "PamVariance"};
    ALGEB sel = A(t[i]);
    bool last = i == LENGTH2(t) - 1;
    int f = 0;
    if (numeric(sel)) {
        if (integer(sel) && DBL(sel) >= 1 && DBL(sel) <= 7) f = (int)DBL(sel);
    } else if (ID2(sel) == NAME) {
        for (int k = 0; k < 7 && f == 0; k++)
            if (strcmp(NAMETEXT(sel), fields[k]) == 0) f = k + 1;
    } else if (ID2(sel) == TEXT) {
        UWORD n = (UWORD)STR(sel)->length;
        for (int k = 0; k < 7 && f == 0; k++)
            if (strlen(fields[k]) == n && memcmp(STR(sel)->t, fields[k], n) == 0) f = k + 1;
    }
    if (f == 0) userror("invalid selector for Match");
    Match *mt = (Match *)m;
    if (val == 0 || !last) {
        ALGEB r = 0;
        switch (f) {
        case 1: r = NewNumber(mt->Sim); break;
        case 2: r = Newint(mt->Offset1); break;
        case 3: r = Newint(mt->Offset2); break;
        case 4: r = Newint(mt->Length1); break;
        case 5: r = Newint(mt->Length2); break;
        case 6: r = NewNumber(mt->PamNumber); break;
        case 7: r = NewNumber(mt->PamVariance); break;
        }
        return last ? r : selector(r, t, i + 1, val);
    }
    if (!numeric(val)) userror("must assign a numeric in a Match");
    if (f >= 2 && f <= 5 && !IMMINT(val)) userror("must assign an integer in a Match");
    switch (f) {
    case 1: mt->Sim = DBL(val); break;
    case 2: mt->Offset1 = IMMVAL(val); break;
    case 3: mt->Offset2 = IMMVAL(val); break;
    case 4: mt->Length1 = (INT)IMMVAL(val); break;
    case 5: mt->Length2 = (INT)IMMVAL(val); break;
    case 6: mt->PamNumber = (float)DBL(val); break;
    case 7: mt->PamVariance = (float)DBL(val); break;
    }
    return val;
}

ALGEB LISTNUMtoLIST(ALGEB s) {
    WORD L = LENGTH2(s);
    // An empty LISTNUM has no word to hold the element sequence.
    ASSERT(L >= 2);
    WORD n = LISTNUMLEN(s);
    ALGEB seq = Newl1(n + 1, EXPSEQ);
    for (WORD k = 1; k <= n; k++)
        seq[k] = W(NewNumber(LISTNUMDATA(s)[k - 1]));
    s[0] = (s[0] & MASKGC) | LIST | 2;
    s[1] = W(seq);
    release(s + 2, L - 2);
    return s;
}
