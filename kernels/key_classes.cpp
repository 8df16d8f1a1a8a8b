// The forms are written by hand for each width: written once in Highway
// (1.0.3, without masked comparisons), the AVX-512 form took 15 % longer.
#include "key_classes.h"

#include <cstring>
#include <immintrin.h>

#include "dispatch.h"

namespace {

// The classes' edges, and how a key near its class's bounds is classed.
struct Near {
    const ClassKeys &keys;
    NearKeyClass classed;
    const void *context;
    size_t k = keys.at_least.size() - 1;  // classes
    const double *at_least = keys.at_least.data(), *low = keys.near_low.data(), *high = keys.near_high.data();
};

// Each form classes the keys in whole groups of its lanes and returns
// where the keys left to the plain loop begin.
using Form = size_t (*)(const double *key, size_t n, const Near &near, int32_t *out);

// Class c (-1: none) of key v, or its class by `near` when it lies within
// a hair of c's bounds.
inline int32_t class_near(const Near &near, double v, long long c) {
    if (c >= 0 && (v <= near.low[size_t(c)] || v >= near.high[size_t(c)])) [[unlikely]]
        return near.classed(v, near.context);
    return int32_t(c);
}

// Each form counts the inner edges passed without a branch; a key outside
// the edges (or not a number) is in no class.

// The plain loop, from key `from` on: what the classes are.
void classes_plain(const double *key, size_t from, size_t n, const Near &near, int32_t *out) {
    const double lo = near.at_least[0], hi = near.keys.at_most;
    for (size_t j = from; j < n; j++) {
        const double v = key[j];
        long long c = 0;
        for (size_t m = 1; m < near.k; m++) c += v >= near.at_least[m];
        out[j] = class_near(near, v, v >= lo && v <= hi ? c : -1);
    }
}

size_t classes_one(const double *, size_t, const Near &, int32_t *) { return 0; }

// Two keys at a time (GCC vector extensions), each then looked at near its
// class's bounds.
size_t classes_sse2(const double *key, size_t n, const Near &near, int32_t *out) {
    typedef double d2 __attribute__((vector_size(16)));
    typedef long long m2 __attribute__((vector_size(16)));
    const size_t k = near.k;
    const double *at_least = near.at_least;
    const double lo = at_least[0], hi = near.keys.at_most;
    size_t j = 0;
    for (; j + 2 <= n; j += 2) {
        d2 v;
        std::memcpy(&v, key + j, sizeof v);
        m2 passed = {0, 0};
        for (size_t m = 1; m < k; m++) passed -= v >= at_least[m];
        const m2 inside = (v >= lo) & (v <= hi);
        const m2 c = (passed & inside) | ~inside;  // -1 outside
        out[j] = class_near(near, v[0], c[0]);
        out[j + 1] = class_near(near, v[1], c[1]);
    }
    return j;
}

// Four keys at a time in AVX2, and eight in AVX-512: the bounds of each
// key's class are chosen lane by lane, so that only a group with a key
// near them is looked at key by key.
[[gnu::target("avx2")]] size_t classes_avx2(const double *key, size_t n, const Near &near, int32_t *out) {
    const size_t k = near.k;
    const double *at_least = near.at_least, *low = near.low, *high = near.high;
    const __m256d lo = _mm256_set1_pd(at_least[0]), hi = _mm256_set1_pd(near.keys.at_most);
    const __m256i none = _mm256_set1_epi64x(-1), evens = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
    size_t j = 0;
    for (; j + 4 <= n; j += 4) {
        const __m256d v = _mm256_loadu_pd(key + j);
        __m256i c = _mm256_setzero_si256();
        for (size_t m = 1; m < k; m++)
            c = _mm256_sub_epi64(c, _mm256_castpd_si256(_mm256_cmp_pd(v, _mm256_set1_pd(at_least[m]), _CMP_GE_OQ)));
        __m256d near_low = _mm256_set1_pd(low[0]), near_high = _mm256_set1_pd(high[0]);
        for (size_t m = 1; m < k; m++) {
            const __m256d is = _mm256_castsi256_pd(_mm256_cmpeq_epi64(c, _mm256_set1_epi64x((long long)m)));
            near_low = _mm256_blendv_pd(near_low, _mm256_set1_pd(low[m]), is);
            near_high = _mm256_blendv_pd(near_high, _mm256_set1_pd(high[m]), is);
        }
        const __m256d inside = _mm256_and_pd(_mm256_cmp_pd(v, lo, _CMP_GE_OQ), _mm256_cmp_pd(v, hi, _CMP_LE_OQ));
        const __m256d close = _mm256_and_pd(
            inside, _mm256_or_pd(_mm256_cmp_pd(v, near_low, _CMP_LE_OQ), _mm256_cmp_pd(v, near_high, _CMP_GE_OQ)));
        c = _mm256_castpd_si256(_mm256_blendv_pd(_mm256_castsi256_pd(none), _mm256_castsi256_pd(c), inside));
        if (_mm256_movemask_pd(close) != 0) [[unlikely]] {
            alignas(32) long long cl[4];
            alignas(32) double vl[4];
            _mm256_store_si256(reinterpret_cast<__m256i *>(cl), c);
            _mm256_store_pd(vl, v);
            for (size_t l = 0; l < 4; l++) out[j + l] = class_near(near, vl[l], cl[l]);
        } else {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + j),
                             _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(c, evens)));
        }
    }
    return j;
}

[[gnu::target("avx512f")]] size_t classes_avx512(const double *key, size_t n, const Near &near, int32_t *out) {
    const size_t k = near.k;
    const double *at_least = near.at_least, *low = near.low, *high = near.high;
    const __m512d lo = _mm512_set1_pd(at_least[0]), hi = _mm512_set1_pd(near.keys.at_most);
    const __m512i one = _mm512_set1_epi64(1), none = _mm512_set1_epi64(-1);
    size_t j = 0;
    for (; j + 8 <= n; j += 8) {
        const __m512d v = _mm512_loadu_pd(key + j);
        __m512i c = _mm512_setzero_si512();
        for (size_t m = 1; m < k; m++)
            c = _mm512_mask_add_epi64(c, _mm512_cmp_pd_mask(v, _mm512_set1_pd(at_least[m]), _CMP_GE_OQ), c, one);
        __m512d near_low = _mm512_set1_pd(low[0]), near_high = _mm512_set1_pd(high[0]);
        for (size_t m = 1; m < k; m++) {
            const __mmask8 is = _mm512_cmpeq_epi64_mask(c, _mm512_set1_epi64((long long)m));
            near_low = _mm512_mask_mov_pd(near_low, is, _mm512_set1_pd(low[m]));
            near_high = _mm512_mask_mov_pd(near_high, is, _mm512_set1_pd(high[m]));
        }
        const __mmask8 inside = _mm512_mask_cmp_pd_mask(_mm512_cmp_pd_mask(v, lo, _CMP_GE_OQ), v, hi, _CMP_LE_OQ);
        const __mmask8 close = __mmask8(
            inside & (_mm512_cmp_pd_mask(v, near_low, _CMP_LE_OQ) | _mm512_cmp_pd_mask(v, near_high, _CMP_GE_OQ)));
        c = _mm512_mask_mov_epi64(none, inside, c);
        if (close != 0) [[unlikely]] {
            alignas(64) long long cl[8];
            alignas(64) double vl[8];
            _mm512_store_si512(cl, c);
            _mm512_store_pd(vl, v);
            for (size_t l = 0; l < 8; l++) out[j + l] = class_near(near, vl[l], cl[l]);
        } else {
            _mm512_mask_cvtepi64_storeu_epi32(out + j, __mmask8(0xff), c);
        }
    }
    return j;
}

}  // namespace

void classes_of_keys(const double *key, size_t n, const ClassKeys &keys, NearKeyClass near, const void *context,
                     int32_t *out, size_t lanes) {
    const Near by = {keys, near, context};
    const size_t from = form_for<Form>(lanes, classes_one, classes_sse2, classes_avx2, classes_avx512)(key, n, by, out);
    classes_plain(key, from, n, by, out);
}
