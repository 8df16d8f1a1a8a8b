// The counts' vector forms are written once in Highway and compiled for
// each instruction set it has (this file is read again for each one).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "brackets.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "brackets.h"
#include "dispatch.h"

HWY_BEFORE_NAMESPACE();
namespace karvel_brackets {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// One added to each lane of count where m holds: a masked addition where
// masks have registers of their own, else the mask's all-ones (−1)
// subtracted.
template <class DI, class VI, class M>
HWY_INLINE VI CountWhere(DI di, VI count, M m) {
#if HWY_TARGET <= HWY_AVX3
    return hn::IfThenElse(hn::RebindMask(di, m), hn::Add(count, hn::Set(di, 1)), count);
#else
    return hn::Sub(count, hn::VecFromMask(di, hn::RebindMask(di, m)));
#endif
}

// The values taken a vector at a time against m brackets, the counts in
// registers. They take no branch, for whether a value lies below a bracket
// is as unforeseeable as a coin for the median; a group with a value inside
// some bracket is flagged with its lanes inside each. Returns where the
// values left to the plain loop begin.
template <size_t m>
HWY_INLINE size_t CountLanes(const Bracket *bk, const double *v, size_t n, BracketCounts *counts,
                             BracketFlag *flagged, size_t *n_flagged) {
    const hn::ScalableTag<double> d;
    const hn::RebindToSigned<decltype(d)> di;
    using V = hn::Vec<decltype(d)>;
    using VI = hn::Vec<decltype(di)>;
    const size_t L = hn::Lanes(d);
    V lo[m], hi[m], c[m];
    VI mask[m], b[m], al[m], ah[m];
    for (size_t q = 0; q < m; q++) {
        lo[q] = hn::Set(d, bk[q].lo);
        hi[q] = hn::Set(d, bk[q].hi);
        c[q] = hn::Set(d, bk[q].center);
        // The sign bit kept, or cleared.
        mask[q] = hn::Set(di, bk[q].magnitude ? int64_t(0x7fffffffffffffffLL) : int64_t(-1));
        b[q] = al[q] = ah[q] = hn::Zero(di);
    }
    // Inside bracket q: between its ends, as it sees x.
    auto seen = [&](V x, size_t q) { return hn::BitCast(d, hn::And(hn::BitCast(di, hn::Sub(x, c[q])), mask[q])); };
    auto inside = [&](V w, size_t q) { return hn::And(hn::Gt(w, lo[q]), hn::Lt(w, hi[q])); };
    size_t i = 0, f = *n_flagged;
    for (; i + L <= n; i += L) {
        const V x = hn::LoadU(d, v + i);
        auto any = hn::FirstN(d, 0);
#pragma GCC unroll 4
        for (size_t q = 0; q < m; q++) {
            const V w = seen(x, q);
            b[q] = CountWhere(di, b[q], hn::Lt(w, lo[q]));
            al[q] = CountWhere(di, al[q], hn::Eq(w, lo[q]));
            ah[q] = CountWhere(di, ah[q], hn::Eq(w, hi[q]));
            any = hn::Or(any, inside(w, q));
        }
        // Which lanes, taken again only for a group that has some.
        if (HWY_UNLIKELY(!hn::AllFalse(d, any))) {
            uint32_t bits = 0;
            for (size_t q = 0; q < m; q++) {
                uint8_t lanes_in[8] = {};
                hn::StoreMaskBits(d, inside(seen(x, q), q), lanes_in);
                bits |= uint32_t(lanes_in[0]) << (8 * q);
            }
            flagged[f++] = {i, bits};
        }
    }
    for (size_t q = 0; q < m; q++) {
        HWY_ALIGN int64_t lb[hn::MaxLanes(di)], ll[hn::MaxLanes(di)], lh[hn::MaxLanes(di)];
        hn::Store(b[q], di, lb);
        hn::Store(al[q], di, ll);
        hn::Store(ah[q], di, lh);
        for (size_t k = 0; k < L; k++) {
            counts[q].below += size_t(lb[k]);
            counts[q].at_lo += size_t(ll[k]);
            counts[q].at_hi += size_t(lh[k]);
        }
    }
    *n_flagged = f;
    return i;
}

size_t Count1(const Bracket *b, const double *v, size_t n, BracketCounts *c, BracketFlag *f, size_t *nf) {
    return CountLanes<1>(b, v, n, c, f, nf);
}
size_t Count2(const Bracket *b, const double *v, size_t n, BracketCounts *c, BracketFlag *f, size_t *nf) {
    return CountLanes<2>(b, v, n, c, f, nf);
}
size_t Count3(const Bracket *b, const double *v, size_t n, BracketCounts *c, BracketFlag *f, size_t *nf) {
    return CountLanes<3>(b, v, n, c, f, nf);
}
size_t Count4(const Bracket *b, const double *v, size_t n, BracketCounts *c, BracketFlag *f, size_t *nf) {
    return CountLanes<4>(b, v, n, c, f, nf);
}

}  // namespace HWY_NAMESPACE
}  // namespace karvel_brackets
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include <cmath>

namespace karvel_brackets {
HWY_EXPORT(Count1);
HWY_EXPORT(Count2);
HWY_EXPORT(Count3);
HWY_EXPORT(Count4);
}  // namespace karvel_brackets

double seen_by(const Bracket &b, double v) {
    const double w = v - b.center;
    return b.magnitude ? std::fabs(w) : w;
}

size_t count_brackets(const Bracket *b, size_t m, const double *v, size_t n, BracketCounts *counts,
                      BracketFlag *flagged, size_t lanes) {
    using namespace karvel_brackets;
    const auto form = m == 1 ? KARVEL_HWY_FORM(Count1, lanes)
                      : m == 2 ? KARVEL_HWY_FORM(Count2, lanes)
                      : m == 3 ? KARVEL_HWY_FORM(Count3, lanes)
                               : KARVEL_HWY_FORM(Count4, lanes);
    size_t n_flagged = 0;
    const size_t from = form ? form(b, v, n, counts, flagged, &n_flagged) : 0;
    // The plain loop: what the counts are.
    for (size_t i = from; i < n; i++) {
        uint32_t bits = 0;
        for (size_t q = 0; q < m; q++) {
            const double w = seen_by(b[q], v[i]);
            counts[q].below += w < b[q].lo;
            counts[q].at_lo += w == b[q].lo;
            counts[q].at_hi += w == b[q].hi;
            if (w > b[q].lo && w < b[q].hi) bits |= uint32_t(1) << (8 * q);
        }
        if (bits != 0) flagged[n_flagged++] = {i, bits};
    }
    return n_flagged;
}
#endif
