// The canonical order of objects, the set operations built on it, and sorting of lists.
#include "sets.h"

#include <utility>
#include <vector>

#include "Lumbra.h"
#include "eval.h"
#include "evalfunc.h"
#include "selector.h"

// ---------------------------------------------------------------------------
// Canonical order: numbers, then names and texts, then lists, then other structures by type.

static int sign(WORD d) { return d < 0 ? -1 : d > 0 ? 1 : 0; }

static int listcomp(ALGEB a, ALGEB b) {
    if (ID2(a) == LIST && ID2(b) == LIST) {
        ALGEB ea = A(a[1]), eb = A(b[1]);
        WORD na = LENGTH2(ea), nb = LENGTH2(eb);
        for (WORD i = 1; i < na && i < nb; i++) {
            int c = SetComp(A(ea[i]), A(eb[i]));
            if (c != 0) return c;
        }
        return sign(na - nb);
    }
    if (ID2(a) == LISTNUM && ID2(b) == LISTNUM) {
        WORD na = LISTNUMLEN(a), nb = LISTNUMLEN(b);
        double *da = LISTNUMDATA(a), *db = LISTNUMDATA(b);
        for (WORD i = 0; i < na && i < nb; i++) {
            if (da[i] < db[i]) return -1;
            if (da[i] > db[i]) return 1;
        }
        return sign(na - nb);
    }
    // A LIST against a LISTNUM: element by element as numbers; a non-number is larger.
    int flip = 1;
    if (ID2(a) == LISTNUM) {
        std::swap(a, b);
        flip = -1;
    }
    ALGEB ea = A(a[1]);
    WORD na = LENGTH2(ea) - 1, nb = LISTNUMLEN(b);
    double *db = LISTNUMDATA(b);
    for (WORD i = 0; i < na && i < nb; i++) {
        ALGEB x = A(ea[i + 1]);
        if (!numeric(x)) return flip;
        double d = DBL(x);
        if (d < db[i]) return -flip;
        if (d > db[i]) return flip;
    }
    return flip * sign(na - nb);
}

int SetComp(ALGEB a, ALGEB b) {
    // Immediate integers order as their handles do.
    if (IMMINT(a) && IMMINT(b)) return a == b ? 0 : W(a) < W(b) ? -1 : 1;
    if (Equal(a, b, 0)) return 0;

    bool an = numeric(a), bn = numeric(b);
    if (an || bn) {
        if (!bn) return -1;
        if (!an) return 1;
        return DBL(a) > DBL(b) ? 1 : -1;
    }
    if (textual(a)) {
        if (!textual(b)) return -1;
        return CompareAny(LESSTHAN, a, b) ? -1 : 1;
    }
    if (textual(b)) return 1;

    bool al = isarray(a), bl = isarray(b);
    if (al || bl) {
        if (!bl) return -1;
        if (!al) return 1;
        stackcheck();
        return listcomp(a, b);
    }

    WORD ta = CASE_ID2(a), tb = CASE_ID2(b);
    if (ta != tb) return ta < tb ? -1 : 1;
    if (ta < TABLEREF_CASE || ta > SET_CASE)
        userror("sets with other structures not implemented yet");
    stackcheck();
    WORD la = LENGTH2(a), lb = LENGTH2(b);
    for (WORD i = 1; i < la && i < lb; i++) {
        int c;
        if (ta == LOCAL_CASE || ta == PARAM_CASE) // raw index words, not handles
            c = i == 1 ? sign(a[1] - b[1]) : SetComp(A(a[i]), A(b[i]));
        else
            c = SetComp(A(a[i]), A(b[i]));
        if (c != 0) return c;
    }
    if (la != lb) return la < lb ? -1 : 1;
    notimpl("SetComp");
}

// Shell sort with the gaps n, then (5g-1)/11 down to 1 (1 as soon as g < 5); each pass is an
// insertion sort over elements g apart.
template <class Greater>
static void ShellSort(WORD n, Greater greater, ALGEB e) {
    for (WORD g = n; g > 1;) {
        g = g < 5 ? 1 : (5 * g - 1) / 11;
        for (WORD i = g + 1; i <= n; i++) {
            WORD x = e[i], j = i;
            for (; j > g && greater(e[j - g], x); j -= g)
                e[j] = e[j - g];
            e[j] = x;
        }
    }
}

ALGEB SetNormal(ALGEB s) {
    ALGEB e = A(s[1]);
    WORD n = LENGTH2(e) - 1;
    if (n < 2) return s;
    ShellSort(
        n, [](WORD x, WORD y) { return SetComp(A(x), A(y)) > 0; }, e);
    WORD k = 1;
    for (WORD i = 2; i <= n; i++)
        if (!Equal(A(e[k]), A(e[i]), 0)) e[++k] = e[i];
    if (k < n) {
        release(e + k + 1, n - k);
        StoreLEN(e, k + 1);
    }
    return s;
}

// ---------------------------------------------------------------------------
// Set operations. Sets are sorted and free of duplicates, so they combine by merging.

bool IsUniverse(ALGEB t) { return IDLENGTH(t, FUNCTION, 2) && A(t[1]) == ININintersect; }

static WORD nargs(ALGEB t) { return LENGTH2(t) - 1; }

static ALGEB elems(ALGEB s) { return A(s[1]); }
static WORD nelems(ALGEB s) { return LENGTH2(A(s[1])) - 1; }

static ALGEB newseq(const std::vector<ALGEB> &v) {
    ALGEB r = Newl1((WORD)v.size() + 1, EXPSEQ);
    for (size_t i = 0; i < v.size(); i++)
        r[i + 1] = W(v[i]);
    return r;
}

static ALGEB newset(const std::vector<ALGEB> &v) {
    return v.empty() ? EmptySet : New2(SET, newseq(v));
}

static bool isset(ALGEB x) { return is(x, SET); }

static double numof(ALGEB x) { return IMMINT(x) ? (double)IMMVAL(x) : NUMVAL(x); }

// The union of sets of numbers by merging them: numbers are totally ordered, so merging gives
// what sorting the elements together would. 0 when an element is no number, a set is out of
// order (an assignment into it can do that), or two equal numbers are different objects, of
// which sorting might keep either.
static ALGEB numericunion(ALGEB t, WORD total) {
    WORD n = nargs(t);
    for (WORD i = 1; i <= n; i++) {
        ALGEB e = elems(A(t[i]));
        for (WORD j = 1; j < LENGTH2(e); j++)
            if (!numeric(A(e[j])) || (j > 1 && !(numof(A(e[j - 1])) < numof(A(e[j]))))) return 0;
    }
    std::vector<ALGEB> acc, merged;
    acc.reserve((size_t)total);
    merged.reserve((size_t)total);
    for (WORD i = 1; i <= n; i++) {
        ALGEB e = elems(A(t[i]));
        WORD ne = LENGTH2(e);
        merged.clear();
        size_t a = 0;
        WORD j = 1;
        while (a < acc.size() && j < ne) {
            ALGEB x = acc[a], y = A(e[j]);
            double dx = numof(x), dy = numof(y);
            if (dx < dy) {
                merged.push_back(x);
                a++;
            } else if (dx > dy) {
                merged.push_back(y);
                j++;
            } else {
                if (x != y) return 0;
                merged.push_back(x);
                a++;
                j++;
            }
        }
        merged.insert(merged.end(), acc.begin() + (std::ptrdiff_t)a, acc.end());
        for (; j < ne; j++)
            merged.push_back(A(e[j]));
        std::swap(acc, merged);
    }
    return New2(SET, newseq(acc));
}

ALGEB SetUnion(ALGEB t) {
    WORD n = nargs(t);
    if (n == 0) return EmptySet;
    if (n == 1) return A(t[1]);
    bool allsets = true;
    for (WORD i = 1; i <= n && allsets; i++) {
        if (IsUniverse(A(t[i]))) return A(t[i]);
        allsets = isset(A(t[i]));
    }
    if (allsets) {
        WORD total = 0;
        for (WORD i = 1; i <= n; i++)
            total += nelems(A(t[i]));
        if (total + 1 > MAXOBJLEN) userror("object too large");
        if (ALGEB r = numericunion(t, total)) return r;
        ALGEB seq = Newl1(total + 1, EXPSEQ);
        WORD k = 1;
        for (WORD i = 1; i <= n; i++) {
            ALGEB e = elems(A(t[i]));
            for (WORD j = 1; j < LENGTH2(e); j++)
                seq[k++] = e[j];
        }
        return SetNormal(New2(SET, seq));
    }
    ALGEB fn = naminstall("union");
    ALGEB r = A(t[1]);
    for (WORD i = 2; i <= n; i++) {
        r = BinaryPolymorphic(fn, r, A(t[i]));
        if (r == 0) userror("invalid arguments in union");
    }
    return r;
}

static ALGEB intersect2(ALGEB a, ALGEB b) {
    if (IsUniverse(a)) return b;
    if (IsUniverse(b)) return a;
    ALGEB ea = elems(a), eb = elems(b);
    WORD na = LENGTH2(ea), nb = LENGTH2(eb);
    std::vector<ALGEB> r;
    for (WORD i = 1, j = 1; i < na && j < nb;) {
        int c = SetComp(A(ea[i]), A(eb[j]));
        if (c > 0)
            j++;
        else if (c < 0)
            i++;
        else {
            r.push_back(A(ea[i]));
            i++;
            j++;
        }
    }
    return newset(r);
}

ALGEB SetIntersect(ALGEB t) {
    WORD n = nargs(t);
    if (n == 0) return New2(FUNCTION, ININintersect);
    if (n == 1) return A(t[1]);
    bool allsets = true;
    for (WORD i = 1; i <= n; i++)
        allsets = allsets && (isset(A(t[i])) || IsUniverse(A(t[i])));
    ALGEB r = A(t[1]);
    if (allsets) {
        for (WORD i = 2; i <= n; i++)
            r = intersect2(r, A(t[i]));
        return r;
    }
    for (WORD i = 2; i <= n; i++) {
        r = BinaryPolymorphic(ININintersect, r, A(t[i]));
        if (r == 0) userror("invalid arguments in intersect");
    }
    return r;
}

static bool setlike(ALGEB x) { return isset(x) || IsUniverse(x); }

ALGEB SetMinus(ALGEB t) {
    if (nargs(t) != 2) userror("minus uses two arguments");
    ALGEB a = A(t[1]), b = A(t[2]);
    if (!setlike(a) || !setlike(b)) userror("invalid arguments in minus");
    if ((isset(a) && nelems(a) == 0) || (isset(b) && nelems(b) == 0)) return a;
    if (IsUniverse(b)) return EmptySet;
    if (IsUniverse(a)) userror("cannot represent set difference");
    ALGEB ea = elems(a), eb = elems(b);
    WORD na = LENGTH2(ea), nb = LENGTH2(eb), i = 1, j = 1;
    std::vector<ALGEB> r;
    while (i < na && j < nb) {
        int c = SetComp(A(ea[i]), A(eb[j]));
        if (c == 0) {
            i++;
            j++;
        } else if (c < 0) {
            r.push_back(A(ea[i++]));
        } else {
            j++;
        }
    }
    for (; i < na; i++)
        r.push_back(A(ea[i]));
    return newset(r);
}

ALGEB SetSubset(ALGEB t) {
    if (nargs(t) != 2) userror("invalid number of arguments");
    ALGEB a = A(t[1]), b = A(t[2]);
    if (!setlike(a) || !setlike(b)) userror("invalid arguments in subset");
    if (IsUniverse(b)) return ININtrue;
    if (IsUniverse(a)) return ININfalse;
    ALGEB ea = elems(a), eb = elems(b);
    WORD na = LENGTH2(ea), nb = LENGTH2(eb), j = 1;
    for (WORD i = 1; i < na; i++) {
        int c = 1;
        while (j < nb && (c = SetComp(A(ea[i]), A(eb[j]))) > 0)
            j++;
        if (c != 0) return ININfalse;
        j++;
    }
    return ININtrue;
}

// ---------------------------------------------------------------------------
// Sorting: a merge sort over links, so that elements never move until the result is built.

namespace {

enum class SortMode { Function, Numeric, Textual, Canonical };

struct SortRun {
    SortMode mode;
    ALGEB f; // the comparison function as given
    ALGEB e; // the element sequence
    std::vector<WORD> next;
};

} // namespace

// A ditto name gives its last result, a name its value.
static ALGEB functionvalue(ALGEB f) { return is(f, NAME) ? valuenv(f) : f; }

// Whether a may stay in front of b.
static bool mergeCompare(SortRun &r, ALGEB a, ALGEB b) {
    switch (r.mode) {
    case SortMode::Numeric: return DBL(b) >= DBL(a);
    case SortMode::Textual: return CompareAny(LESSEQ, a, b);
    case SortMode::Canonical: return SetComp(b, a) > 0;
    case SortMode::Function: break;
    }
    ALGEB p = functionvalue(r.f);
    if (!is(p, PROC)) userror("sort: 2nd argument must be a boolean valued function");
    ALGEB v = eval(New4(FUNCTION, r.f, a, b));
    if (v == ININtrue) return true;
    if (v == ININfalse) return false;
    userror("sort: 2nd argument must be a boolean valued function");
}

// Sorts the n elements linked from head; returns the new head and sets *tail to the last one,
// whose link is 0.
static WORD mergeSort(SortRun &r, WORD head, WORD n, WORD *tail) {
    std::vector<WORD> &next = r.next;
    if (n == 1) {
        next[head] = 0;
        *tail = head;
        return head;
    }
    if (n == 2) {
        WORD second = next[head];
        if (mergeCompare(r, A(r.e[head]), A(r.e[second]))) {
            next[second] = 0;
            *tail = second;
            return head;
        }
        next[second] = head;
        next[head] = 0;
        *tail = head;
        return second;
    }
    WORD n1 = n / 2, p = head;
    for (WORD i = 1; i < n1; i++)
        p = next[p];
    WORD h2 = next[p], t1, t2;
    WORD a = mergeSort(r, head, n1, &t1);
    WORD b = mergeSort(r, h2, n - n1, &t2);
    if (mergeCompare(r, A(r.e[t1]), A(r.e[b]))) {
        next[t1] = b;
        *tail = t2;
        return a;
    }
    WORD first = 0, last = 0;
    auto take = [&](WORD k) {
        if (last == 0)
            first = k;
        else
            next[last] = k;
        last = k;
    };
    while (a != 0 && b != 0) {
        if (mergeCompare(r, A(r.e[a]), A(r.e[b]))) {
            WORD k = a;
            a = next[a];
            take(k);
        } else {
            WORD k = b;
            b = next[b];
            take(k);
        }
    }
    if (a != 0) {
        next[last] = a;
        *tail = t1;
    } else {
        next[last] = b;
        *tail = t2;
    }
    return first;
}

static void sortdoubles(double *d, WORD n) {
    for (WORD g = n; g > 1;) {
        g = g < 5 ? 1 : (5 * g - 1) / 11;
        for (WORD i = g; i < n; i++) {
            double x = d[i];
            WORD j = i;
            for (; j >= g && d[j - g] > x; j -= g)
                d[j] = d[j - g];
            d[j] = x;
        }
    }
}

ALGEB LumbraSort(ALGEB t) {
    WORD n = nargs(t);
    if (n == 2) {
        ALGEB p = functionvalue(A(t[2]));
        if (is(p, PROC) && LENGTH(A(p[PROC_PARAMS])) == 2) return evalsysf("sort_1arg", copyalg(t));
    }
    if (n < 1 || n > 2 || IMMINT(A(t[1]))) userror("invalid arguments to sort");
    ALGEB l = A(t[1]);
    if (ID2(l) == LISTNUM) {
        if (n == 1) {
            ALGEB r = copyalg(l);
            sortdoubles(LISTNUMDATA(r), LISTNUMLEN(r));
            return r;
        }
        LISTNUMtoLIST(l);
    }
    if (ID2(l) != LIST) userror("invalid arguments to sort");
    ALGEB e = A(l[1]);
    WORD m = LENGTH2(e) - 1;
    if (m < 2) return New2(LIST, e);

    SortRun r{SortMode::Canonical, 0, e, std::vector<WORD>(m + 1)};
    if (n == 2) {
        r.mode = SortMode::Function;
        r.f = A(t[2]);
    } else {
        bool allnum = true, alltext = true;
        for (WORD i = 1; i <= m; i++) {
            allnum = allnum && numeric(A(e[i]));
            alltext = alltext && textual(A(e[i]));
        }
        r.mode = allnum ? SortMode::Numeric : alltext ? SortMode::Textual : SortMode::Canonical;
    }
    for (WORD i = 1; i <= m; i++)
        r.next[i] = i < m ? i + 1 : 0;
    WORD tail;
    WORD k = mergeSort(r, 1, m, &tail);
    ALGEB seq = Newl1(m + 1, EXPSEQ);
    for (WORD i = 1; k != 0; k = r.next[k])
        seq[i++] = e[k];
    return New2(LIST, seq);
}
