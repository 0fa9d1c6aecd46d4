// The vectorised exact search of SearchText, compiled once per instruction set: a block of
// starting positions at a time, those where the pattern's first and last characters both match
// are checked in full.

#include "SearchText.h"

#include <cstring>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "SearchText_simd.cpp"
#include <hwy/foreach_target.h>
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace lumbra_search {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

HWY_INLINE uint8_t Lower(uint8_t c) { return c >= 'A' && c <= 'Z' ? (uint8_t)(c - 'A' + 'a') : c; }
HWY_INLINE uint8_t Upper(uint8_t c) { return c >= 'a' && c <= 'z' ? (uint8_t)(c - 'a' + 'A') : c; }

// Whether the pattern stands at `at`, whose first and last characters are known to match.
template <bool Folded>
HWY_INLINE bool Occurs(const uint8_t *pat, WORD m, const uint8_t *at) {
    if (m <= 2) return true;
    if (!Folded) return memcmp(pat + 1, at + 1, (size_t)(m - 2)) == 0;
    for (WORD j = 1; j < m - 1; j++)
        if (Lower(pat[j]) != Lower(at[j])) return false;
    return true;
}

template <bool Folded>
HWY_INLINE WORD Find(const uint8_t *pat, WORD m, const uint8_t *text, WORD n) {
    const hn::ScalableTag<uint8_t> d;
    const WORD lanes = (WORD)hn::Lanes(d);
    // Without folding both forms of a character are the character itself.
    auto form = [](uint8_t c, bool up) { return !Folded ? c : up ? Upper(c) : Lower(c); };
    const auto first = hn::Set(d, form(pat[0], false)), First = hn::Set(d, form(pat[0], true));
    const auto last = hn::Set(d, form(pat[m - 1], false)),
               Last = hn::Set(d, form(pat[m - 1], true));
    const WORD top = n - m; // the last possible start
    WORD i = 0;
    // A block of starts i .. i + lanes - 1 reads the text up to i + lanes - 1 + m - 1 <= n - 1.
    for (; i + lanes - 1 <= top; i += lanes) {
        const auto a = hn::LoadU(d, text + i), b = hn::LoadU(d, text + i + m - 1);
        const auto hit = hn::And(hn::Or(hn::Eq(a, first), hn::Eq(a, First)),
                                 hn::Or(hn::Eq(b, last), hn::Eq(b, Last)));
        if (hn::AllFalse(d, hit)) continue;
        uint64_t bits[HWY_MAX_BYTES / 64 + 1] = {};
        hn::StoreMaskBits(d, hit, (uint8_t *)bits);
        for (WORD w = 0; w * 64 < lanes; w++)
            for (uint64_t b64 = bits[w]; b64 != 0; b64 &= b64 - 1) {
                const WORD s = i + w * 64 + __builtin_ctzll(b64);
                if (Occurs<Folded>(pat, m, text + s)) return s;
            }
    }
    for (; i <= top; i++) {
        const bool ends =
            Folded ? Lower(text[i]) == Lower(pat[0]) && Lower(text[i + m - 1]) == Lower(pat[m - 1])
                   : text[i] == pat[0] && text[i + m - 1] == pat[m - 1];
        if (ends && Occurs<Folded>(pat, m, text + i)) return i;
    }
    return -1;
}

WORD FindExact(const uint8_t *pat, WORD m, const uint8_t *text, WORD n) {
    return Find<false>(pat, m, text, n);
}
WORD FindFolded(const uint8_t *pat, WORD m, const uint8_t *text, WORD n) {
    return Find<true>(pat, m, text, n);
}

} // namespace HWY_NAMESPACE
} // namespace lumbra_search
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lumbra_search {
HWY_EXPORT(FindExact);
HWY_EXPORT(FindFolded);
} // namespace lumbra_search

WORD VectorSearch(const char *pat, WORD m, const char *text, WORD n, bool folded) {
    const uint8_t *p = (const uint8_t *)pat, *t = (const uint8_t *)text;
    return folded ? HWY_DYNAMIC_DISPATCH(lumbra_search::FindFolded)(p, m, t, n)
                  : HWY_DYNAMIC_DISPATCH(lumbra_search::FindExact)(p, m, t, n);
}

std::vector<int64_t> SearchTargets() { return hwy::SupportedAndGeneratedTargets(); }

void SearchForce(int64_t target) {
    hwy::SetSupportedTargetsForTest(target);
    hwy::GetChosenTarget().Update(hwy::SupportedTargets());
}
#endif
