#include "bins.h"

#include <emmintrin.h>

#include "dispatch.h"

namespace {

// What a form is given: the values (y only for the density), the bins, and
// where their indices go. Each form bins every value, a vector form leaving
// those after its last whole group to the plain loop.
struct Job {
    const double *x, *y;
    size_t n;
    double lo, hi, scale;
    int bins;
    int32_t *index;
};
using Form = void (*)(const Job &job);

void diff_plain(const Job &job, size_t from) {
    const double *v = job.x, lo = job.lo, hi = job.hi, scale = job.scale, last = job.bins - 1;
    const int bins = job.bins;
    int32_t *index = job.index;
    for (size_t i = from; i < job.n; i++) index[i] = v[i] >= lo && v[i] <= hi ? clamped_bin(v[i], lo, scale, last) : bins;
}

void density_plain(const Job &job, size_t from) {
    const double *x = job.x, *y = job.y, lo = job.lo, scale = job.scale, last = job.bins - 1;
    const int bins = job.bins;
    int32_t *index = job.index;
    for (size_t i = from; i < job.n; i++)
        index[i] = clamped_bin(y[i], lo, scale, last) * bins + clamped_bin(x[i], lo, scale, last);
}

void diff_one(const Job &job) { diff_plain(job, 0); }
void density_one(const Job &job) { density_plain(job, 0); }

// clamped_bin of two values at once (SSE2), as doubles: the maximum of not
// a number and 0 is 0 there too.
inline __m128d clamped_bins2(__m128d v, __m128d lo, __m128d scale, __m128d last) {
    const __m128d p = _mm_mul_pd(_mm_sub_pd(v, lo), scale);
    return _mm_cvtepi32_pd(_mm_cvttpd_epi32(_mm_min_pd(_mm_max_pd(p, _mm_setzero_pd()), last)));
}

// Two values at a time (SSE2): outside [lo, hi], the bin (a whole number)
// moves to the extra one by adding their difference, exactly.
void diff_sse2(const Job &job) {
    const __m128d lo2 = _mm_set1_pd(job.lo), hi2 = _mm_set1_pd(job.hi), scale2 = _mm_set1_pd(job.scale);
    const __m128d last2 = _mm_set1_pd(double(job.bins - 1)), extra2 = _mm_set1_pd(double(job.bins));
    size_t i = 0;
    for (; i + 2 <= job.n; i += 2) {
        const __m128d v = _mm_loadu_pd(job.x + i);
        const __m128d in = _mm_and_pd(_mm_cmpge_pd(v, lo2), _mm_cmple_pd(v, hi2));
        const __m128d bin = clamped_bins2(v, lo2, scale2, last2);
        const __m128d k = _mm_add_pd(bin, _mm_andnot_pd(in, _mm_sub_pd(extra2, bin)));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(job.index + i), _mm_cvttpd_epi32(k));
    }
    diff_plain(job, i);
}

// Two positions at a time (SSE2): the index, a whole number below 2^31, is
// formed exactly in doubles.
void density_sse2(const Job &job) {
    const __m128d lo2 = _mm_set1_pd(job.lo), scale2 = _mm_set1_pd(job.scale);
    const __m128d last2 = _mm_set1_pd(double(job.bins - 1)), bins2 = _mm_set1_pd(double(job.bins));
    size_t i = 0;
    for (; i + 2 <= job.n; i += 2) {
        const __m128d by = clamped_bins2(_mm_loadu_pd(job.y + i), lo2, scale2, last2);
        const __m128d k = _mm_add_pd(_mm_mul_pd(by, bins2), clamped_bins2(_mm_loadu_pd(job.x + i), lo2, scale2, last2));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(job.index + i), _mm_cvttpd_epi32(k));
    }
    density_plain(job, i);
}

}  // namespace

void diff_bins(const double *v, size_t n, double lo, double hi, double scale, int bins, int32_t *index, size_t lanes) {
    form_for<Form>(lanes, diff_one, diff_sse2, diff_sse2, diff_sse2)({v, nullptr, n, lo, hi, scale, bins, index});
}

void density_bins(const double *x, const double *y, size_t n, double lo, double scale, int bins, int32_t *index,
                  size_t lanes) {
    form_for<Form>(lanes, density_one, density_sse2, density_sse2, density_sse2)({x, y, n, lo, 0, scale, bins, index});
}
