// One sequence against a whole database: the scan that returns a Match for every entry whose
// best local alignment with the sequence reaches a goal, on as many threads as it may use.
//
// Every entry's result is the one of the plain pass: a scalar local alignment, query positions
// as rows, abandoned after any row whose best stays below ShouldReach of that row. The scan
// with the prefilter gets the same results more cheaply:
//
//  1. the 8-bit striped score, and where it reaches the goal the 16-bit one, is an upper bound
//     of the exact local score. Each score and gap cost is scaled by f and rounded up; integer
//     sums and maxima along the recurrence are exact; every operation of the recurrence (sum,
//     maximum, clamp at 0) is monotone, so by induction every cell holds at least f times its
//     exact value. The saturating additions only raise results: at the bottom of the cell they
//     clamp at what stands for 0, where the exact local cell is clamped too (and the vertical
//     and horizontal gaps, started there instead of at minus infinity, are only larger); when
//     any cell reaches the top, the result is the largest double. Unscaling divides by f
//     rounding up. So a bound below the goal means an exact score below the goal, and such an
//     entry, which the plain pass would not report, is skipped.
//  2. the forward pass of the other entries is the double striped scorer's, with the same
//     rows and the same ShouldReach test after each (see AlignEntry).
//
// Workers compute plain hits; the MATCH objects are made on the main thread, in entry order, so
// the list never depends on the thread count.
#include "OneAllMatch.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "Dayhoff.h"
#include "DynProgr_simd.h"
#include "LoadFile.h"
#include "Lumbra.h"
#include "builtins.h"

namespace {

// Why an entry ended the scan; the reason of the earliest such entry is raised afterwards.
enum class Fault { None, NoSeq, BadSymbol, AboveBest, Unreached, NoMemory };

struct Hit {
    UWORD entry;
    double sim;
    UWORD off1, off2;
    int len1, len2;
};

// What every worker reads, and the two counters they share.
struct Scan {
    const database *df;
    const uint8_t *q;  // the query as matrix indices
    const uint8_t *rq; // and reversed
    int lA;
    UWORD qoff;          // offset of the query's first character in the text
    const double *reach; // ShouldReach[0 .. lA]
    const int16_t *code; // matrix index of each byte of a sequence, -1 for none
    DPScoring sc;        // Simi[query][entry], as the plain pass reads it
    DPScoring across;    // its transpose, for the striped scorers that take the entry as rows
    double goal;
    bool prefilter;
    UWORD to; // the last entry
    UWORD chunk;
    std::atomic<UWORD> next;   // the first entry not yet handed out
    std::atomic<UWORD> faulty; // the earliest entry with a fault, to + 1 while there is none
    const volatile int *stop;
};

struct Worker {
    Scan *scan;
    uint8_t *b;                  // the entry in hand as matrix indices
    uint8_t *rb;                 // and reversed
    double *S, *V;               // rows of MAXSEQLEN + 1
    void *boundwork;             // for the integer bounds
    std::vector<char> exactwork; // for the double striped scorer, grown to the longest entry
    UWORD cur = 0, end = 0;
    UWORD entry = 0, seqoff = 0;
    int lB = 0;
    std::vector<Hit> hits;
    Fault fault = Fault::None;
    UWORD faultentry = 0;
    unsigned char faultchar = 0;
    double faultbest = 0;
};

// The sequence of entry k: the characters with an amino-acid code after the entry's first
// <SEQ>, at most MAXSEQLEN of them; false when the entry has no <SEQ>.
bool EntrySequence(const database *df, UWORD k, UWORD *off, UWORD *len) {
    const UWORD a = DB_GetEntryOffset(df, k - 1), z = DB_GetEntryOffset(df, k);
    const char *t = df->string;
    const void *p = memmem(t + a, (size_t)(z - a), "<SEQ>", 5);
    if (p == nullptr) return false;
    const UWORD s = (UWORD)((const char *)p - t) + 5;
    UWORD e = s;
    while (e < z && e - s < (UWORD)MAXSEQLEN && ChartoPos[(unsigned char)t[e]] >= 0)
        e++;
    *off = s;
    *len = e - s;
    return true;
}

struct End {
    double best;
    int imax, jmax;
};

// The plain pass: query positions (q) as rows, entry positions (b) as columns; false when
// the best after some row stays below what that row should reach.
bool PlainPass(const uint8_t *q, int lA, const uint8_t *b, int lB, const DPScoring &sc,
               const double *reach, double *S, double *V, End *end) {
    const double d = sc.FixedDel, e = sc.IncDel, de = d - e;
    for (int j = 0; j <= lB; j++) {
        S[j] = 0;
        V[j] = MINUSINF;
    }
    double best = 0;
    int imax = 0, jmax = 0;
    for (int i = 1; i <= lA; i++) {
        const double *sim = sc.simi + (size_t)q[i - 1] * sc.dim;
        double diag = 0, left = 0, H = MINUSINF;
        for (int j = 1; j <= lB; j++) {
            const double up = S[j];
            V[j] = up + de <= V[j] ? V[j] + e : up + d;
            H = H >= left + de ? H + e : left + d;
            double s = diag + sim[b[j - 1]];
            if (H > s) s = H;
            if (V[j] > s) s = V[j];
            if (s < 0) s = 0;
            diag = up;
            S[j] = s;
            left = s;
            if (s > best) {
                best = s;
                imax = i;
                jmax = j;
            }
        }
        if (best < reach[i]) return false;
    }
    // An empty query has no row to fail, and reaches nothing.
    if (best < reach[lA]) return false;
    *end = {best, imax, jmax};
    return true;
}

// The start of the alignment that ends at (imax, jmax) with score best: the recurrence run
// backwards from there without the clamp at 0, to the first cell in row order that reaches
// best, (*i0, *j0) counted from the end.
Fault ReversePass(const uint8_t *q, int imax, const uint8_t *b, int jmax, const DPScoring &sc,
                  double best, double *S, double *V, int *i0, int *j0) {
    const double d = sc.FixedDel, e = sc.IncDel, de = d - e;
    for (int j = 0; j <= jmax; j++) {
        S[j] = 0;
        V[j] = MINUSINF;
    }
    for (int i = 1; i <= imax; i++) {
        const double *sim = sc.simi + (size_t)q[imax - i] * sc.dim;
        double diag = 0, left = 0, H = MINUSINF;
        for (int j = 1; j <= jmax; j++) {
            const double up = S[j];
            V[j] = up + de <= V[j] ? V[j] + e : up + d;
            H = H >= left + de ? H + e : left + d;
            double s = diag + sim[b[jmax - j]];
            if (H > s) s = H;
            if (V[j] > s) s = V[j];
            diag = up;
            S[j] = s;
            left = s;
            if (s > best) return Fault::AboveBest;
            if (s >= best) {
                *i0 = i;
                *j0 = j;
                return Fault::None;
            }
        }
    }
    return Fault::Unreached;
}

// Records a fault at entry k; a worker meets its entries in increasing order, so its first
// fault is its earliest, and no later entry matters any more.
void Fail(Worker &w, UWORD k, Fault f) {
    w.fault = f;
    w.faultentry = k;
    UWORD cur = w.scan->faulty.load();
    while (k < cur && !w.scan->faulty.compare_exchange_weak(cur, k)) {
    }
}

// The next entry of this worker's share as matrix indices in b; false when there is none.
bool NextEntry(Worker &w) {
    Scan &sc = *w.scan;
    const char *t = sc.df->string;
    for (;;) {
        if (*sc.stop || w.fault != Fault::None) return false;
        if (w.cur >= w.end) {
            const UWORD k = sc.next.fetch_add(sc.chunk);
            if (k > sc.to) return false;
            w.cur = k;
            w.end = std::min(sc.to + 1, k + sc.chunk);
        }
        const UWORD k = w.cur++;
        if (k > sc.faulty.load(std::memory_order_relaxed)) return false;
        UWORD off, len;
        if (!EntrySequence(sc.df, k, &off, &len)) {
            Fail(w, k, Fault::NoSeq);
            return false;
        }
        for (UWORD i = 0; i < len; i++) {
            const int c = sc.code[(unsigned char)t[off + i]];
            if (c < 0) {
                w.faultchar = (unsigned char)t[off + i];
                Fail(w, k, Fault::BadSymbol);
                return false;
            }
            w.b[i] = (uint8_t)c;
        }
        w.entry = k;
        w.seqoff = off;
        w.lB = (int)len;
        return true;
    }
}

// The forward pass of the entry in hand, the plain one or the double striped scorer's, whose
// cells, row maxima and first best cell equal the plain pass's (all scores are multiples of
// 2^-bits, so every sum is exact) and which is abandoned after the same rows; and, when the
// entry is reported, where its alignment starts, by the reverse pass of the same kind.
void AlignEntry(Worker &w, bool striped) {
    const Scan &sc = *w.scan;
    End r;
    if (striped) {
        const size_t bytes = LocalWorkBytes(LocalCell::Double, w.lB, sc.sc, 0);
        try {
            if (w.exactwork.size() < bytes) w.exactwork.resize(bytes);
        } catch (const std::bad_alloc &) {
            Fail(w, w.entry, Fault::NoMemory);
            return;
        }
        const LocalEnd x = LocalScoreReaching(sc.q, sc.lA, w.b, w.lB, sc.sc, sc.reach,
                                              w.exactwork.data(), sc.stop);
        if (x.interrupted || x.score == -HUGE_VAL) return;
        r = {x.score, x.max1, x.max2};
    } else if (!PlainPass(sc.q, sc.lA, w.b, w.lB, sc.sc, sc.reach, w.S, w.V, &r)) {
        return;
    }
    int i0 = 0, j0 = 0;
    Fault f = Fault::None;
    if (striped) {
        // The reverse pass by the double striped scorer on the reversed prefixes. It leaves out
        // the gaps that start at the edge, which the plain reverse pass lets in; that changes
        // neither which cell first reaches best nor its score, since a path that starts with
        // such a gap and reaches best would, without the gap, be an alignment above best.
        for (int j = 0; j < w.lB; j++)
            w.rb[j] = w.b[w.lB - 1 - j];
        const LocalEnd x =
            LocalScoreFromEdge(sc.rq + (sc.lA - r.imax), r.imax, w.rb + (w.lB - r.jmax), r.jmax,
                               sc.sc, r.best, w.exactwork.data(), sc.stop);
        if (x.interrupted) return;
        f = x.score > r.best ? Fault::AboveBest : x.score < r.best ? Fault::Unreached : Fault::None;
        i0 = x.max1;
        j0 = x.max2;
    } else {
        f = ReversePass(sc.q, r.imax, w.b, r.jmax, sc.sc, r.best, w.S, w.V, &i0, &j0);
    }
    if (f != Fault::None) {
        w.faultbest = r.best;
        Fail(w, w.entry, f);
        return;
    }
    try {
        w.hits.push_back({w.entry, r.best, w.seqoff + (UWORD)(r.jmax - j0),
                          sc.qoff + (UWORD)(r.imax - i0), j0, i0});
    } catch (const std::bad_alloc &) {
        Fail(w, w.entry, Fault::NoMemory);
    }
}

const uint8_t *FeedNext(void *ctx, int *l1) {
    Worker &w = *(Worker *)ctx;
    if (!NextEntry(w)) return nullptr;
    *l1 = w.lB;
    return w.b;
}

void FeedBound(void *ctx, double bound) {
    Worker &w = *(Worker *)ctx;
    if (bound >= w.scan->goal) AlignEntry(w, true);
}

void RunWorker(Worker *w) {
    const Scan &sc = *w->scan;
    if (sc.prefilter) {
        LocalBounds(sc.q, sc.lA, sc.across, sc.goal, {FeedNext, FeedBound, w}, w->boundwork,
                    sc.stop);
    } else {
        while (NextEntry(*w))
            AlignEntry(*w, false);
    }
}

// Every worker is joined however the scan is left.
struct Joined {
    std::vector<std::thread> &threads;
    ~Joined() {
        for (std::thread &t : threads)
            if (t.joinable()) t.join();
    }
};

[[noreturn]] void Raise(const Worker &w, const database *df, DayMatrix *Dm, UWORD qoff) {
    switch (w.fault) {
    case Fault::NoSeq:
        userror2(Newint((WORD)w.faultentry), "Entry without a SEQ, database format error");
    case Fault::BadSymbol: MapSymbol(w.faultchar, Dm); break;
    case Fault::AboveBest: userror("AlignOneAll: should not happen");
    case Fault::Unreached: {
        UWORD off = 0, len = 0;
        EntrySequence(df, w.faultentry, &off, &len);
        printf("off1=%ld, off2=%ld, Mimaxjmax=%g\n", (long)off, (long)qoff, w.faultbest);
        userror("AlignOneAll: Assertion failed");
    }
    case Fault::NoMemory: userror("the system is unable to allocate more storage");
    case Fault::None: break;
    }
    notimpl("AlignOneAll: a fault without its reason");
}

} // namespace

ALGEB AlignOneAll(ALGEB s, const database *F, DayMatrix *Dm, double goal, WORD first, WORD last,
                  const ScanPlan &plan) {
    if (!(goal >= 10 && goal <= 10000)) userror("goal outside reasonable values");
    WorkingScope scope;
    const char *text = F->string;

    // The query.
    const char *qs;
    UWORD ql, from;
    if (numeric(s)) {
        const double e = std::rint(DBL(s));
        if (!(e >= 1 && e <= (double)F->TotEntries)) userror("Entry number out of range");
        UWORD off;
        if (!EntrySequence(F, (UWORD)e, &off, &ql))
            userror2(Newint((WORD)e), "Entry without a SEQ, database format error");
        qs = text + off;
        from = (UWORD)e + 1;
    } else {
        const Chars c = textof(s);
        if (c.n < 3) userror("given sequence is too short");
        for (size_t i = 0; i < c.n; i++)
            if (ChartoPos[(unsigned char)c.s[i]] < 0)
                userror("invalid characters in given sequence");
        qs = c.s;
        ql = std::min((UWORD)c.n, (UWORD)MAXSEQLEN);
        from = 1;
    }
    const int lA = (int)ql;
    uint8_t *q;
    WorkingStorage(lA + 1, uint8_t, q);
    for (int i = 0; i < lA; i++)
        q[i] = (uint8_t)MapSymbol((unsigned char)qs[i], Dm);
    uint8_t *rq;
    WorkingStorage(lA + 1, uint8_t, rq);
    for (int i = 0; i < lA; i++)
        rq[i] = q[lA - 1 - i];
    from = std::max(from, (UWORD)std::max(first, (WORD)1));
    const UWORD to = std::min((UWORD)std::max(last, (WORD)0), F->TotEntries);

    // What each row of the query should reach: the goal, less the most the rows after it can
    // add, each its character's score against itself.
    const int dim = Dm->dim;
    double *reach;
    WorkingStorage(lA + 1, double, reach);
    reach[lA] = goal;
    for (int i = lA; i >= 1; i--)
        reach[i - 1] = reach[i] - Dm->Simi[q[i - 1] * dim + q[i - 1]];

    // A Mapping procedure is language code, which only this thread may run: every character
    // of the entries is mapped here first, in the order of the scan, so that its failures and
    // its calls are those of a scan in one thread.
    if (Dm->Mapping != 0) {
        for (UWORD k = from; k <= to; k++) {
            if (InterruptNow) lumbra_jump(Main);
            UWORD off, len;
            if (!EntrySequence(F, k, &off, &len)) break;
            for (UWORD i = 0; i < len; i++)
                if (Dm->charmap[(unsigned char)text[off + i]] < 0)
                    MapSymbol((unsigned char)text[off + i], Dm);
        }
    }
    int16_t *code;
    WorkingStorage(256, int16_t, code);
    for (int c = 0; c < 256; c++) {
        const int k = ChartoPos[c] < 0 ? -1 : Dm->Mapping == 0 ? ChartoPos[c] : Dm->charmap[c];
        code[c] = (int16_t)(k >= 0 && k < dim ? k : -1);
    }
    double *transposed;
    WorkingStorage((size_t)dim * dim, double, transposed);
    for (int a = 0; a < dim; a++)
        for (int b = 0; b < dim; b++)
            transposed[b * dim + a] = Dm->Simi[a * dim + b];

    std::vector<Worker> workers;
    if (from <= to) {
        const UWORD entries = to - from + 1;
        int n = std::max(plan.threads, 1);
        const UWORD chunk = std::clamp<UWORD>(entries / ((UWORD)n * 16), 1, 64);
        n = (int)std::min<UWORD>((UWORD)n, (entries + chunk - 1) / chunk);
        Scan scan;
        scan.df = F;
        scan.q = q;
        scan.rq = rq;
        scan.lA = lA;
        scan.qoff = (UWORD)(qs - text);
        scan.reach = reach;
        scan.code = code;
        scan.sc = {Dm->Simi, dim, Dm->FixedDel, Dm->IncDel};
        scan.across = {transposed, dim, Dm->FixedDel, Dm->IncDel};
        scan.goal = goal;
        scan.prefilter = plan.prefilter && lA > 0;
        scan.to = to;
        scan.chunk = chunk;
        scan.next = from;
        scan.faulty = to + 1;
        scan.stop = &InterruptNow;
        const size_t boundbytes = scan.prefilter ? LocalBoundsWorkBytes(lA, scan.across, goal) : 0;
        workers.resize((size_t)n);
        for (Worker &w : workers) {
            w.scan = &scan;
            WorkingStorage(MAXSEQLEN + 1, uint8_t, w.b);
            WorkingStorage(MAXSEQLEN + 1, uint8_t, w.rb);
            WorkingStorage(MAXSEQLEN + 1, double, w.S);
            WorkingStorage(MAXSEQLEN + 1, double, w.V);
            WorkingStorage(boundbytes, char, w.boundwork);
        }
        {
            std::vector<std::thread> threads;
            Joined joined{threads};
            for (size_t k = 1; k < workers.size(); k++) {
                try {
                    threads.emplace_back(RunWorker, &workers[k]);
                } catch (const std::system_error &) {
                    break; // the workers that did start share all the entries
                }
            }
            RunWorker(&workers[0]);
        }
        if (InterruptNow) lumbra_jump(Main);
        const UWORD faulty = scan.faulty.load();
        for (const Worker &w : workers)
            if (w.fault != Fault::None && w.faultentry == faulty) Raise(w, F, Dm, scan.qoff);
    }

    // The matches, in entry order.
    size_t count = 0;
    for (const Worker &w : workers)
        count += w.hits.size();
    if (count == 0) return New2(LIST, Newl1(1, EXPSEQ));
    std::vector<Hit> hits;
    hits.reserve(count);
    for (Worker &w : workers) {
        hits.insert(hits.end(), w.hits.begin(), w.hits.end());
        std::vector<Hit>().swap(w.hits);
    }
    std::sort(hits.begin(), hits.end(),
              [](const Hit &a, const Hit &b) { return a.entry < b.entry; });
    if (count + 1 > (size_t)MAXOBJLEN) userror("object too large");
    ALGEB list = Newl1((WORD)count + 1, EXPSEQ);
    for (size_t k = 0; k < count; k++) {
        ALGEB m = Newl1(NrALGEBs(1, Match), MATCH);
        Match *x = (Match *)m;
        x->Sim = hits[k].sim;
        x->Offset1 = (WORD)hits[k].off1;
        x->Offset2 = (WORD)hits[k].off2;
        x->Length1 = hits[k].len1;
        x->Length2 = hits[k].len2;
        x->PamNumber = (float)Dm->PamNumber;
        x->PamVariance = 0;
        list[k + 1] = W(m);
    }
    return New2(LIST, list);
}
