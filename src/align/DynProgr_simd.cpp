// The vectorised local scorers: one striped kernel, compiled once per instruction set.
//
// The second sequence is laid out striped (Farrar): with L lanes and seg = ceil(l2 / L)
// vectors, column j lives in lane j / seg of vector j % seg, so one row of s1 is a pass over
// seg vectors in which the diagonal and vertical-gap terms are independent per lane; the
// horizontal gaps that cross from one lane to the next are fixed by a second, usually short,
// pass (the lazy F loop). Integer cells keep the score 0 at the bottom of the type, so the
// saturating additions clamp local scores at 0 by themselves.

#include "DynProgr_simd.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#ifndef LUMBRA_DYNPROGR_SIMD_ONCE
#define LUMBRA_DYNPROGR_SIMD_ONCE

namespace lumbra_simd {

// Everything a kernel reads; cells of type T, the profile already built for its lane count.
template <typename T>
struct Kernel {
    const uint8_t *s1;
    int l1, l2, seg;
    const T *prof; // dim blocks of seg * L cells
    T *rows[3];    // previous, current and best row, in striped order
    T *e;          // vertical gaps for the next row
    T open, ext, openext, zero, low;
    bool track;  // find the best cell (double cells), else only the best score
    double goal; // with track: stop at the first cell reaching it
    // With track: abandon after the first row i (1-based) whose best so far is below reach[i].
    const double *reach;
    int block; // rows between checks of saturation and of stop
    const volatile int *stop;
};

struct KernelEnd {
    double best;
    int row, col; // 0-based, with track
    bool interrupted, abandoned;
};

// x * f rounded up, exactly: the product is formed with one rounding, and fma tells whether
// that rounding went down.
inline double ScaleUp(double x, double f) {
    double r = std::ceil(x * f);
    if (std::fma(x, f, -r) > 0) r += 1;
    return r;
}

// best / f rounded up, with best counted from the bottom of the cell.
inline double Unscale(double best, double lowest, double f) {
    if (best == HUGE_VAL) return DBL_MAX;
    const double s = best - lowest;
    double q = s / f;
    if (std::fma(q, f, -s) < 0) q = std::nextafter(q, HUGE_VAL);
    return q;
}

// An integer run's scaled table, its scaled gap costs and its factor.
struct RunScale {
    const double *scaled;
    double open, ext, f;
};

inline char *AlignUp(void *p) {
    uintptr_t u = (uintptr_t)p;
    return (char *)((u + 63) & ~(uintptr_t)63);
}

} // namespace lumbra_simd

#endif

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "DynProgr_simd.cpp"
#include <hwy/foreach_target.h>
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace lumbra_simd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Moves every lane up by one (across the whole vector) and puts the top lane of fill into
// lane 0. Within 128 bits one byte shift does it; wider vectors first bring the block below
// each block next to it.
template <class D, class V>
HWY_INLINE V ShiftIn(D d, V v, V fill) {
    using T = hn::TFromD<D>;
    [[maybe_unused]] constexpr int k = 16 - (int)sizeof(T);
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
    const hn::Repartition<uint64_t, D> du;
    const auto below = hn::Vec512<uint64_t>{
        _mm512_alignr_epi64(hn::BitCast(du, v).raw, hn::BitCast(du, fill).raw, 6)};
    return hn::CombineShiftRightBytes<k>(d, v, hn::BitCast(d, below));
#elif HWY_TARGET == HWY_AVX2
    return hn::CombineShiftRightBytes<k>(d, v, hn::ConcatLowerLower(d, v, fill));
#elif HWY_TARGET == HWY_SCALAR
    (void)d;
    (void)v;
    return fill;
#else
    return hn::CombineShiftRightBytes<k>(d, v, fill);
#endif
}

// Additions that clamp at the ends of integer cells; floating cells need no clamping.
template <class V>
HWY_INLINE V Plus(V a, V b) {
    if constexpr (hwy::IsFloat<hn::TFromV<V>>())
        return hn::Add(a, b);
    else
        return hn::SaturatedAdd(a, b);
}

// The largest lane; integer cells need it only once per block of rows.
template <class D, class V>
HWY_INLINE hn::TFromD<D> Largest(D d, V v) {
    using T = hn::TFromD<D>;
    if constexpr (sizeof(T) >= 2) {
        return hn::GetLane(hn::MaxOfLanes(d, v));
    } else {
        HWY_ALIGN T x[hn::MaxLanes(d)];
        hn::Store(v, d, x);
        T m = x[0];
        for (size_t i = 1; i < hn::Lanes(d); i++)
            m = x[i] > m ? x[i] : m;
        return m;
    }
}

// One striped pass over all rows of s1. Without Clamp (floating cells only), cells are not
// raised to 0: the recurrence of an alignment that starts at the edge of the table.
template <class D, bool Clamp = true>
HWY_NOINLINE KernelEnd Striped(D d, const Kernel<hn::TFromD<D>> &k) {
    using T = hn::TFromD<D>;
    const size_t L = hn::Lanes(d);
    const int seg = k.seg;
    const size_t stride = (size_t)seg * L;
    const auto vOpen = hn::Set(d, k.open), vExt = hn::Set(d, k.ext);
    const auto vOpenExt = hn::Set(d, k.openext);
    const auto vLazyExt = hn::Set(d, std::max(k.open, k.ext));
    const auto vZero = hn::Set(d, k.zero), vLow = hn::Set(d, k.low);
    T *prev = k.rows[0], *cur = k.rows[1], *bestrow = nullptr;
    T *e = k.e;
    for (size_t x = 0; x < stride; x++) {
        prev[x] = k.zero;
        e[x] = k.low;
    }
    KernelEnd r{-HUGE_VAL, 0, 0, false, false};
    T best = k.low;
    bool any = false;
    auto vMax = vZero;
    for (int i = 0; i < k.l1; i++) {
        const T *p = k.prof + (size_t)k.s1[i] * stride;
        auto vF = vLow;
        auto vH = ShiftIn(d, hn::Load(d, prev + (seg - 1) * L), vZero);
        auto vRow = vZero;
        for (int j = 0; j < seg; j++) {
            vH = Plus(vH, hn::Load(d, p + j * L));
            const auto vE = hn::Load(d, e + j * L);
            vH = hn::Max(vH, vE);
            if constexpr (hwy::IsFloat<T>() && Clamp) vH = hn::Max(vH, vZero);
            // The next horizontal gap is max(F + ext, H + open) with H = max(this, F), that
            // is max(F + max(ext, open), this + open): only one addition and one maximum
            // stay on the chain from F to F.
            const auto vW = Plus(vH, vOpen);
            vH = hn::Max(vH, vF);
            vRow = hn::Max(vRow, vH);
            hn::Store(vH, d, cur + j * L);
            hn::Store(hn::Max(Plus(vE, vExt), Plus(vH, vOpen)), d, e + j * L);
            vF = hn::Max(Plus(vF, vLazyExt), vW);
            vH = hn::Load(d, prev + j * L);
        }
        // Horizontal gaps that run from the end of one lane into the next, until no lane can
        // raise a cell or the gaps the first pass saw.
        vF = ShiftIn(d, vF, vLow);
        int j = 0;
        for (;;) {
            vH = hn::Load(d, cur + j * L);
            if (hn::AllFalse(d, hn::Gt(vF, Plus(vH, vOpenExt)))) break;
            vH = hn::Max(vH, vF);
            vRow = hn::Max(vRow, vH);
            hn::Store(vH, d, cur + j * L);
            hn::Store(hn::Max(hn::Load(d, e + j * L), Plus(vH, vOpen)), d, e + j * L);
            // Gaps opened here from unchanged cells were counted by the first pass; from a
            // cell the gap raised, opening again costs FixedDel instead of IncDel.
            vF = Plus(vF, vLazyExt);
            if (++j == seg) {
                j = 0;
                vF = ShiftIn(d, vF, vLow);
            }
        }
        if (k.track) {
            const T m = Largest(d, vRow);
            if (!any || m > best) {
                any = true;
                best = m;
                r.row = i;
                bestrow = cur;
                if ((double)m >= k.goal) break;
            }
            if (k.reach != nullptr && (double)best < k.reach[i + 1]) {
                r.abandoned = true;
                return r;
            }
        } else {
            vMax = hn::Max(vMax, vRow);
        }
        // The row just written is read by the next one; the best row is kept aside.
        T *next = k.rows[0];
        for (T *c : k.rows)
            if (c != cur && c != bestrow) next = c;
        prev = cur;
        cur = next;
        if ((i + 1) % k.block == 0) {
            if constexpr (!hwy::IsFloat<T>()) {
                if (Largest(d, vMax) == hwy::HighestValue<T>()) {
                    r.best = HUGE_VAL;
                    return r;
                }
            }
            if (k.stop != nullptr && *k.stop) {
                r.interrupted = true;
                return r;
            }
        }
    }
    if (!k.track) {
        r.best = Largest(d, vMax);
        if constexpr (!hwy::IsFloat<T>())
            if (r.best == (double)hwy::HighestValue<T>()) r.best = HUGE_VAL;
        return r;
    }
    // The first column of the best row that holds the best score, or reaches the goal.
    const T want = best;
    const bool togoal = (double)best >= k.goal;
    r.col = -1;
    for (int c = 0; c < k.l2 && r.col < 0; c++) {
        const T v = bestrow[(size_t)(c % seg) * L + (size_t)(c / seg)];
        if (togoal ? (double)v >= k.goal : v == want) {
            r.col = c;
            r.best = v;
        }
    }
    return r;
}

// The striped profile: for every symbol c, cell (j, lane) holds the score of c against
// column lane * seg + j, or the pad value beyond the end of s2. The scores are converted once
// into a table with one more column for the pad, and s2 is laid out striped once, so that the
// profile is a plain gather.
template <typename T, typename Conv>
void BuildProfile(T *prof, T *table, uint8_t *striped, const uint8_t *s2, int l2, int seg, size_t L,
                  int dim, T pad, const Conv &score) {
    const size_t stride = (size_t)seg * L;
    for (int c = 0; c < dim; c++) {
        for (int x = 0; x < dim; x++)
            table[c * (dim + 1) + x] = score(c, x);
        table[c * (dim + 1) + dim] = pad;
    }
    for (size_t j = 0; j < (size_t)seg; j++)
        for (size_t lane = 0; lane < L; lane++) {
            const size_t col = lane * (size_t)seg + j;
            striped[j * L + lane] = col < (size_t)l2 ? s2[col] : (uint8_t)dim;
        }
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
    // Integer cells: one permutation looks up 32 cells in a table of up to 64 entries.
    if constexpr (!hwy::IsFloat<T>()) {
        if (dim + 1 <= 64 && stride % 32 == 0) {
            for (int c = 0; c < dim; c++) {
                HWY_ALIGN int16_t row[64] = {};
                for (int x = 0; x <= dim; x++)
                    row[x] = table[c * (dim + 1) + x];
                const __m512i lo = _mm512_load_si512(row), hi = _mm512_load_si512(row + 32);
                T *p = prof + (size_t)c * stride;
                for (size_t x = 0; x < stride; x += 32) {
                    const __m512i idx =
                        _mm512_cvtepu8_epi16(_mm256_loadu_si256((const __m256i *)(striped + x)));
                    const __m512i v = _mm512_permutex2var_epi16(lo, idx, hi);
                    if constexpr (sizeof(T) == 2)
                        _mm512_storeu_si512(p + x, v);
                    else
                        _mm256_storeu_si256((__m256i *)(p + x), _mm512_cvtepi16_epi8(v));
                }
            }
            return;
        }
    }
#endif
    for (int c = 0; c < dim; c++) {
        const T *row = table + c * (dim + 1);
        T *p = prof + (size_t)c * stride;
        for (size_t x = 0; x < stride; x++)
            p[x] = row[striped[x]];
    }
}

// Carves the profile, its table and the rows from the working storage and builds the profile.
template <class D, typename Conv>
void PrepareStriped(D d, Kernel<hn::TFromD<D>> &k, const uint8_t *s2, int dim, void *work,
                    const Conv &score) {
    using T = hn::TFromD<D>;
    const size_t L = hn::Lanes(d);
    k.seg = (int)((k.l2 + L - 1) / L);
    const size_t stride = (size_t)k.seg * L;
    T *base = (T *)AlignUp(work);
    T *prof = base;
    base += (size_t)dim * stride;
    for (T *&row : k.rows) {
        row = base;
        base += stride;
    }
    k.e = base;
    base += stride;
    T *table = base;
    uint8_t *striped = (uint8_t *)(table + (size_t)dim * (dim + 1));
    BuildProfile(prof, table, striped, s2, k.l2, k.seg, L, dim, k.low, score);
    k.prof = prof;
}

template <class D, typename Conv>
KernelEnd RunStriped(D d, Kernel<hn::TFromD<D>> k, const uint8_t *s2, int dim, void *work,
                     const Conv &score) {
    PrepareStriped(d, k, s2, dim, work, score);
    return Striped(d, k);
}

// The double kernel of both exact passes: cells keep their track, the run stops at the goal.
static Kernel<double> DoubleKernel(const uint8_t *s1, int l1, int l2, double open, double ext,
                                   double goal, const volatile int *stop) {
    Kernel<double> k{};
    k.s1 = s1;
    k.l1 = l1;
    k.l2 = l2;
    k.open = open;
    k.ext = ext;
    k.openext = std::min(0.0, open - ext);
    k.zero = 0;
    k.low = -HUGE_VAL;
    k.track = true;
    k.goal = goal;
    k.block = 64;
    k.stop = stop;
    return k;
}

KernelEnd StripedDouble(const uint8_t *s1, int l1, const uint8_t *s2, int l2, const double *simi,
                        int dim, double open, double ext, double goal, const double *reach,
                        void *work, const volatile int *stop) {
    const hn::ScalableTag<double> d;
    Kernel<double> k = DoubleKernel(s1, l1, l2, open, ext, goal, stop);
    k.reach = reach;
    return RunStriped(d, k, s2, dim, work, [&](int c, int x) { return simi[c * dim + x]; });
}

// Double cells without the clamp at 0, stopped at the first cell reaching goal. Gaps that
// start at the edge are left out (the vertical and horizontal gaps begin at minus infinity).
KernelEnd StripedEdge(const uint8_t *s1, int l1, const uint8_t *s2, int l2, const double *simi,
                      int dim, double open, double ext, double goal, void *work,
                      const volatile int *stop) {
    const hn::ScalableTag<double> d;
    Kernel<double> k = DoubleKernel(s1, l1, l2, open, ext, goal, stop);
    PrepareStriped(d, k, s2, dim, work, [&](int c, int x) { return simi[c * dim + x]; });
    return Striped<decltype(d), false>(d, k);
}

KernelEnd StripedFloat(const uint8_t *s1, int l1, const uint8_t *s2, int l2, const double *simi,
                       int dim, double open, double ext, void *work, const volatile int *stop) {
    const hn::ScalableTag<float> d;
    Kernel<float> k{};
    k.s1 = s1;
    k.l1 = l1;
    k.l2 = l2;
    k.open = (float)open;
    k.ext = (float)ext;
    k.openext = std::min(0.0f, k.open - k.ext);
    k.zero = 0;
    k.low = -HUGE_VALF;
    k.goal = HUGE_VAL;
    k.block = 128;
    k.stop = stop;
    return RunStriped(d, k, s2, dim, work, [&](int c, int x) { return (float)simi[c * dim + x]; });
}

// Integer cells hold f times the score, rounded up, less the bias -lowest; the caller has
// scaled the table and checked that every scaled score fits. Scores and costs below the
// cells' range are clamped to its bottom, which only raises the result.
template <typename T>
Kernel<T> IntKernel(double open, double ext, int block, const volatile int *stop) {
    const double lo = hwy::LowestValue<T>();
    Kernel<T> k{};
    k.open = (T)std::max(lo, open);
    k.ext = (T)std::max(lo, ext);
    k.openext = (T)std::max(lo, std::min(0.0, (double)k.open - (double)k.ext));
    k.zero = k.low = hwy::LowestValue<T>();
    k.goal = HUGE_VAL;
    k.block = block;
    k.stop = stop;
    return k;
}

template <typename T>
auto IntScore(const double *scaled, int dim) {
    return [=](int c, int x) {
        return (T)std::max((double)hwy::LowestValue<T>(), scaled[c * dim + x]);
    };
}

template <typename T>
KernelEnd StripedInt(const uint8_t *s1, int l1, const uint8_t *s2, int l2, const double *scaled,
                     int dim, double open, double ext, int block, void *work,
                     const volatile int *stop) {
    const hn::ScalableTag<T> d;
    Kernel<T> k = IntKernel<T>(open, ext, block, stop);
    k.s1 = s1;
    k.l1 = l1;
    k.l2 = l2;
    return RunStriped(d, k, s2, dim, work, IntScore<T>(scaled, dim));
}

KernelEnd StripedShort(const uint8_t *s1, int l1, const uint8_t *s2, int l2, const double *scaled,
                       int dim, double open, double ext, void *work, const volatile int *stop) {
    return StripedInt<int16_t>(s1, l1, s2, l2, scaled, dim, open, ext, 2032, work, stop);
}

KernelEnd StripedByte(const uint8_t *s1, int l1, const uint8_t *s2, int l2, const double *scaled,
                      int dim, double open, double ext, void *work, const volatile int *stop) {
    return StripedInt<int8_t>(s1, l1, s2, l2, scaled, dim, open, ext, 3056, work, stop);
}

// A run of first sequences against one s2, whose profiles are built once: the 8-bit cells
// first, and the 16-bit cells for the sequences whose 8-bit bound reaches the goal (mostly
// those that saturate the 8-bit cells). Each stage's work begins at the offset its size gives.
bool StripedBoundRun(const uint8_t *s2, int l2, const RunScale &byte, const RunScale &word, int dim,
                     double goal, const BoundFeed &feed, void *work, size_t bytework,
                     const volatile int *stop) {
    const hn::ScalableTag<int8_t> d8;
    const hn::ScalableTag<int16_t> d16;
    Kernel<int8_t> k8 = IntKernel<int8_t>(byte.open, byte.ext, 3056, stop);
    Kernel<int16_t> k16 = IntKernel<int16_t>(word.open, word.ext, 2032, stop);
    k8.l2 = k16.l2 = l2;
    PrepareStriped(d8, k8, s2, dim, work, IntScore<int8_t>(byte.scaled, dim));
    PrepareStriped(d16, k16, s2, dim, (char *)work + bytework, IntScore<int16_t>(word.scaled, dim));
    for (;;) {
        int l1 = 0;
        const uint8_t *s1 = feed.next(feed.ctx, &l1);
        if (s1 == nullptr) return true;
        double b = 0;
        if (l1 > 0) {
            k8.s1 = s1;
            k8.l1 = l1;
            const KernelEnd e = Striped(d8, k8);
            if (e.interrupted) return false;
            b = Unscale(e.best, hwy::LowestValue<int8_t>(), byte.f);
        }
        if (b >= goal) {
            k16.s1 = s1;
            k16.l1 = l1;
            const KernelEnd e = Striped(d16, k16);
            if (e.interrupted) return false;
            b = Unscale(e.best, hwy::LowestValue<int16_t>(), word.f);
        }
        feed.bound(feed.ctx, b);
    }
}

size_t LanesOf(LocalCell cell) {
    switch (cell) {
    case LocalCell::Double: return hn::Lanes(hn::ScalableTag<double>());
    case LocalCell::Float: return hn::Lanes(hn::ScalableTag<float>());
    case LocalCell::Short: return hn::Lanes(hn::ScalableTag<int16_t>());
    case LocalCell::Byte: return hn::Lanes(hn::ScalableTag<int8_t>());
    }
    return 1;
}

} // namespace HWY_NAMESPACE
} // namespace lumbra_simd
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lumbra_simd {
HWY_EXPORT(StripedDouble);
HWY_EXPORT(StripedEdge);
HWY_EXPORT(StripedFloat);
HWY_EXPORT(StripedShort);
HWY_EXPORT(StripedByte);
HWY_EXPORT(StripedBoundRun);
HWY_EXPORT(LanesOf);
} // namespace lumbra_simd

using namespace lumbra_simd;

// The last table scaled for integer cells, per thread: a search scores many pairs with one
// matrix, and scaling every score anew would cost as much as aligning two short sequences.
struct ScaledTable {
    std::vector<double> simi, scaled;
    double f = 0, largest = 0;
};

static const ScaledTable &Scaled(const DPScoring &sc, double f) {
    thread_local ScaledTable t;
    const size_t n = (size_t)sc.dim * sc.dim;
    if (t.f == f && t.simi.size() == n && !memcmp(t.simi.data(), sc.simi, n * sizeof(double)))
        return t;
    t.simi.assign(sc.simi, sc.simi + n);
    t.scaled.resize(n);
    t.f = f;
    t.largest = -HUGE_VAL;
    for (size_t x = 0; x < n; x++) {
        t.scaled[x] = ScaleUp(sc.simi[x], f);
        t.largest = std::max(t.largest, t.scaled[x]);
    }
    return t;
}

// An integer scorer's factor, or 0 when its cells cannot hold some scaled score of the table.
static double IntFactor(LocalCell cell, const DPScoring &sc, double bound) {
    const double top = cell == LocalCell::Short ? 65535 : 255;
    const double cellmax = cell == LocalCell::Short ? 32767 : 127;
    if (!(bound > 0)) return 0;
    const double f = top / bound;
    if (!std::isfinite(f) || Scaled(sc, f).largest > cellmax) return 0;
    return f;
}

size_t LocalWorkBytes(LocalCell cell, int l2, const DPScoring &sc, double bound) {
    if ((cell == LocalCell::Short || cell == LocalCell::Byte) && IntFactor(cell, sc, bound) == 0)
        cell = LocalCell::Double;
    const size_t lanes = HWY_DYNAMIC_DISPATCH(LanesOf)(cell);
    const size_t size = cell == LocalCell::Double  ? 8
                        : cell == LocalCell::Float ? 4
                        : cell == LocalCell::Short ? 2
                                                   : 1;
    const size_t stride = (l2 + lanes - 1) / lanes * lanes;
    return (size_t)(sc.dim + 4) * stride * size + (size_t)sc.dim * (sc.dim + 1) * size + stride +
           64;
}

LocalEnd LocalScoreStriped(LocalCell cell, const uint8_t *s1, int l1, const uint8_t *s2, int l2,
                           const DPScoring &sc, double goal, double bound, void *work,
                           const volatile int *stop) {
    KernelEnd k{};
    double f = 0;
    if (l1 < 1 || l2 < 1) return {0, 0, 0, false};
    switch (cell) {
    case LocalCell::Double:
        k = HWY_DYNAMIC_DISPATCH(StripedDouble)(s1, l1, s2, l2, sc.simi, sc.dim, sc.FixedDel,
                                                sc.IncDel, goal, nullptr, work, stop);
        return {k.best, k.row + 1, k.col + 1, k.interrupted};
    case LocalCell::Float:
        k = HWY_DYNAMIC_DISPATCH(StripedFloat)(s1, l1, s2, l2, sc.simi, sc.dim, sc.FixedDel,
                                               sc.IncDel, work, stop);
        return {k.best, 0, 0, k.interrupted};
    case LocalCell::Short:
        f = IntFactor(cell, sc, bound);
        if (f == 0) break;
        k = HWY_DYNAMIC_DISPATCH(StripedShort)(s1, l1, s2, l2, Scaled(sc, f).scaled.data(), sc.dim,
                                               ScaleUp(sc.FixedDel, f), ScaleUp(sc.IncDel, f), work,
                                               stop);
        return {Unscale(k.best, -32768, f), 0, 0, k.interrupted};
    case LocalCell::Byte:
        f = IntFactor(cell, sc, bound);
        if (f == 0) break;
        k = HWY_DYNAMIC_DISPATCH(StripedByte)(s1, l1, s2, l2, Scaled(sc, f).scaled.data(), sc.dim,
                                              ScaleUp(sc.FixedDel, f), ScaleUp(sc.IncDel, f), work,
                                              stop);
        return {Unscale(k.best, -128, f), 0, 0, k.interrupted};
    }
    // Exact instead, with the same meaning of the result.
    LocalEnd r = LocalScoreStriped(LocalCell::Double, s1, l1, s2, l2, sc, HUGE_VAL, 0, work, stop);
    if (r.score >= bound) r.score = DBL_MAX;
    r.max1 = r.max2 = 0;
    return r;
}

LocalEnd LocalScoreReaching(const uint8_t *s1, int l1, const uint8_t *s2, int l2,
                            const DPScoring &sc, const double *reach, void *work,
                            const volatile int *stop) {
    const KernelEnd k = HWY_DYNAMIC_DISPATCH(StripedDouble)(
        s1, l1, s2, l2, sc.simi, sc.dim, sc.FixedDel, sc.IncDel, HUGE_VAL, reach, work, stop);
    if (k.abandoned) return {-HUGE_VAL, 0, 0, false};
    return {k.best, k.row + 1, k.col + 1, k.interrupted};
}

LocalEnd LocalScoreFromEdge(const uint8_t *s1, int l1, const uint8_t *s2, int l2,
                            const DPScoring &sc, double goal, void *work,
                            const volatile int *stop) {
    const KernelEnd k = HWY_DYNAMIC_DISPATCH(StripedEdge)(s1, l1, s2, l2, sc.simi, sc.dim,
                                                          sc.FixedDel, sc.IncDel, goal, work, stop);
    return {k.best, k.row + 1, k.col + 1, k.interrupted};
}

// The bound of a run's integer cells (top 65535 or 255): at least the goal, so that only
// entries that may reach it saturate, and at least about twice every score and gap cost in
// size, so that each fits in a signed cell without being clamped (a clamped cost still gives an
// upper bound, but a loose one).
static double RunBound(const DPScoring &sc, double goal, double top) {
    const double cellmax = (top - 1) / 2;
    double largest = std::max(std::fabs(sc.FixedDel), std::fabs(sc.IncDel));
    for (int x = 0; x < sc.dim * sc.dim; x++)
        largest = std::max(largest, std::fabs(sc.simi[x]));
    double bound = std::max(goal, largest * top / (cellmax - 1));
    while (Scaled(sc, top / bound).largest > cellmax)
        bound *= 1.0009765625;
    return bound;
}

size_t LocalBoundsWorkBytes(int l2, const DPScoring &sc, double goal) {
    return LocalWorkBytes(LocalCell::Byte, l2, sc, RunBound(sc, goal, 255)) +
           LocalWorkBytes(LocalCell::Short, l2, sc, RunBound(sc, goal, 65535));
}

bool LocalBounds(const uint8_t *s2, int l2, const DPScoring &sc, double goal, const BoundFeed &feed,
                 void *work, const volatile int *stop) {
    const double f = 65535 / RunBound(sc, goal, 65535);
    if (!(f > 0 && std::isfinite(f))) {
        // Scores beyond any scale: nothing is ruled out.
        int l1 = 0;
        while (feed.next(feed.ctx, &l1) != nullptr) {
            if (stop != nullptr && *stop) return false;
            feed.bound(feed.ctx, DBL_MAX);
        }
        return true;
    }
    // Both scaled tables are needed at once, and Scaled keeps one.
    const std::vector<double> word = Scaled(sc, f).scaled;
    const double bound8 = RunBound(sc, goal, 255), f8 = 255 / bound8;
    const std::vector<double> byte = Scaled(sc, f8).scaled;
    return HWY_DYNAMIC_DISPATCH(StripedBoundRun)(
        s2, l2, {byte.data(), ScaleUp(sc.FixedDel, f8), ScaleUp(sc.IncDel, f8), f8},
        {word.data(), ScaleUp(sc.FixedDel, f), ScaleUp(sc.IncDel, f), f}, sc.dim, goal, feed, work,
        LocalWorkBytes(LocalCell::Byte, l2, sc, bound8), stop);
}

std::vector<int64_t> LocalScorerTargets() {
    std::vector<int64_t> t = hwy::SupportedAndGeneratedTargets();
    return t;
}

void LocalScorerForce(int64_t target) {
    hwy::SetSupportedTargetsForTest(target);
    hwy::GetChosenTarget().Update(hwy::SupportedTargets());
}

const char *LocalScorerTargetName(int64_t target) { return hwy::TargetName(target); }

int64_t LocalScorerTarget() {
    const int64_t t = hwy::SupportedTargets() & HWY_TARGETS;
    return t & -t;
}
#endif
