// The forms are written by hand for each width: written once in Highway
// (1.0.3, without masked comparisons or masked additions), the AVX-512 form
// took 20 to 30 % longer.
#include "brackets.h"

#include <cmath>
#include <cstring>
#include <immintrin.h>

#include "dispatch.h"

double seen_by(const Bracket &b, double v) {
    const double w = v - b.center;
    return b.magnitude ? std::fabs(w) : w;
}

namespace {

// Each form counts the values of a block against m brackets and returns
// how many groups it flagged; a vector form leaves the values after its
// last whole group to the plain loop.
using Form = size_t (*)(const Bracket *b, const double *v, size_t n, BracketCounts *counts, BracketFlag *flagged);

// The plain loop, from value `from` on, its flags after the n_flagged
// already listed: what the counts are.
template <size_t m>
size_t count_plain(const Bracket *b, const double *v, size_t from, size_t n, BracketCounts *counts,
                   BracketFlag *flagged, size_t n_flagged) {
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

template <size_t m>
size_t count_one(const Bracket *b, const double *v, size_t n, BracketCounts *counts, BracketFlag *flagged) {
    return count_plain<m>(b, v, 0, n, counts, flagged, 0);
}

// A bracket's view as the vectors take it: the centre subtracted, then the
// sign bit masked (kept, or cleared).
inline long long sign_mask(const Bracket &b) { return b.magnitude ? 0x7fffffffffffffffLL : -1LL; }

template <size_t W>
struct Lanes;
template <>
struct Lanes<2> {
    typedef double dv __attribute__((vector_size(16)));
    typedef long long mv __attribute__((vector_size(16)));
};
template <>
struct Lanes<4> {
    typedef double dv __attribute__((vector_size(32)));
    typedef long long mv __attribute__((vector_size(32)));
};

// W values at a time (two or four, in GCC's vector extensions), the counts
// in registers. They take no branch, for whether a value lies below a
// bracket is as unforeseeable as a coin for the median; a group with a
// value inside some bracket is flagged with its lanes inside each.
template <size_t m, size_t W>
[[gnu::always_inline]] inline size_t count_lanes(const Bracket *bk, const double *v, size_t n, BracketCounts *counts,
                                                 BracketFlag *flagged) {
    using dv = typename Lanes<W>::dv;
    using mv = typename Lanes<W>::mv;
    dv lo[m], hi[m], c[m];
    mv mask[m], b[m], al[m], ah[m];
    for (size_t q = 0; q < m; q++)
        for (size_t k = 0; k < W; k++) {
            lo[q][k] = bk[q].lo;
            hi[q][k] = bk[q].hi;
            c[q][k] = bk[q].center;
            mask[q][k] = sign_mask(bk[q]);
            b[q][k] = al[q][k] = ah[q][k] = 0;
        }
    size_t i = 0, n_flagged = 0;
    for (; i + W <= n; i += W) {
        dv x;
        std::memcpy(&x, v + i, sizeof x);
        mv in[m], any = {};
#pragma GCC unroll 4
        for (size_t q = 0; q < m; q++) {
            const dv w = (dv)((mv)(x - c[q]) & mask[q]);
            b[q] -= (mv)(w < lo[q]);
            al[q] -= (mv)(w == lo[q]);
            ah[q] -= (mv)(w == hi[q]);
            in[q] = (mv)(w > lo[q]) & (mv)(w < hi[q]);
            any |= in[q];
        }
        long long some = 0;
        for (size_t k = 0; k < W; k++) some |= any[k];
        if (some != 0) [[unlikely]] {
            uint32_t bits = 0;
            for (size_t q = 0; q < m; q++)
                for (size_t k = 0; k < W; k++)
                    if (in[q][k]) bits |= uint32_t(1) << (8 * q + k);
            flagged[n_flagged++] = {i, bits};
        }
    }
    for (size_t q = 0; q < m; q++)
        for (size_t k = 0; k < W; k++) {
            counts[q].below += size_t(b[q][k]);
            counts[q].at_lo += size_t(al[q][k]);
            counts[q].at_hi += size_t(ah[q][k]);
        }
    return count_plain<m>(bk, v, i, n, counts, flagged, n_flagged);
}

template <size_t m>
size_t count_sse2(const Bracket *b, const double *v, size_t n, BracketCounts *counts, BracketFlag *flagged) {
    return count_lanes<m, 2>(b, v, n, counts, flagged);
}

template <size_t m>
[[gnu::target("avx2")]] size_t count_avx2(const Bracket *b, const double *v, size_t n, BracketCounts *counts,
                                          BracketFlag *flagged) {
    return count_lanes<m, 4>(b, v, n, counts, flagged);
}

// Eight values at a time in AVX-512, each comparison into a mask register
// and each count a masked addition.
template <size_t m>
[[gnu::target("avx512f")]] size_t count_avx512(const Bracket *bk, const double *v, size_t n, BracketCounts *counts,
                                               BracketFlag *flagged) {
    __m512d lo[m], hi[m], c[m];
    __m512i mask[m], b[m], al[m], ah[m];
    const __m512i one = _mm512_set1_epi64(1);
    for (size_t q = 0; q < m; q++) {
        lo[q] = _mm512_set1_pd(bk[q].lo);
        hi[q] = _mm512_set1_pd(bk[q].hi);
        c[q] = _mm512_set1_pd(bk[q].center);
        mask[q] = _mm512_set1_epi64(sign_mask(bk[q]));
        b[q] = al[q] = ah[q] = _mm512_setzero_si512();
    }
    size_t i = 0, n_flagged = 0;
    for (; i + 8 <= n; i += 8) {
        const __m512d x = _mm512_loadu_pd(v + i);
        __mmask8 in[m], any = 0;
#pragma GCC unroll 4
        for (size_t q = 0; q < m; q++) {
            const __m512d w =
                _mm512_castsi512_pd(_mm512_and_epi64(_mm512_castpd_si512(_mm512_sub_pd(x, c[q])), mask[q]));
            b[q] = _mm512_mask_add_epi64(b[q], _mm512_cmp_pd_mask(w, lo[q], _CMP_LT_OQ), b[q], one);
            al[q] = _mm512_mask_add_epi64(al[q], _mm512_cmp_pd_mask(w, lo[q], _CMP_EQ_OQ), al[q], one);
            ah[q] = _mm512_mask_add_epi64(ah[q], _mm512_cmp_pd_mask(w, hi[q], _CMP_EQ_OQ), ah[q], one);
            in[q] = _mm512_mask_cmp_pd_mask(_mm512_cmp_pd_mask(w, lo[q], _CMP_GT_OQ), w, hi[q], _CMP_LT_OQ);
            any = __mmask8(any | in[q]);
        }
        if (any != 0) [[unlikely]] {
            uint32_t bits = 0;
            for (size_t q = 0; q < m; q++) bits |= uint32_t(in[q]) << (8 * q);
            flagged[n_flagged++] = {i, bits};
        }
    }
    for (size_t q = 0; q < m; q++) {
        alignas(64) long long lb[8], ll[8], lh[8];
        _mm512_store_si512(lb, b[q]);
        _mm512_store_si512(ll, al[q]);
        _mm512_store_si512(lh, ah[q]);
        for (size_t k = 0; k < 8; k++) {
            counts[q].below += size_t(lb[k]);
            counts[q].at_lo += size_t(ll[k]);
            counts[q].at_hi += size_t(lh[k]);
        }
    }
    return count_plain<m>(bk, v, i, n, counts, flagged, n_flagged);
}

template <size_t m>
Form form_of(size_t lanes) {
    return form_for<Form>(lanes, count_one<m>, count_sse2<m>, count_avx2<m>, count_avx512<m>);
}

}  // namespace

size_t bracket_flags_room(size_t n, size_t lanes) {
    const size_t l = lanes_taken(lanes);
    return n / l + l;
}

size_t count_brackets(const Bracket *b, size_t m, const double *v, size_t n, BracketCounts *counts,
                      BracketFlag *flagged, size_t lanes) {
    switch (m) {
        case 1: return form_of<1>(lanes)(b, v, n, counts, flagged);
        case 2: return form_of<2>(lanes)(b, v, n, counts, flagged);
        case 3: return form_of<3>(lanes)(b, v, n, counts, flagged);
        default: return form_of<4>(lanes)(b, v, n, counts, flagged);
    }
}
