// What the report makes of each line of the two rasters: the differences
// and residuals, as doubles and as the GeoTIFFs' floats, and the counts of
// the density of (first, second). Plain loops over restricted pointers, so
// that the compiler makes vector code of them.
#ifndef KARVEL_REPORT_ROWS_H
#define KARVEL_REPORT_ROWS_H

#include <algorithm>
#include <cstddef>
#include <cstdint>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// The bin of v among bins of width 1/scale from lo: the floor of
// (v − lo)·scale, 0 below 0 (and for not a number), `last` beyond it.
inline int32_t clamped_bin(double v, double lo, double scale, double last) {
    return int32_t(std::min(std::max(0.0, (v - lo) * scale), last));
}

#ifdef __SSE2__
// The same bins of two values at once (SSE2), as doubles: the minimum of
// not a number and 0 is 0 there too.
inline __m128d clamped_bins2(__m128d v, __m128d lo, __m128d scale, __m128d last) {
    const __m128d p = _mm_mul_pd(_mm_sub_pd(v, lo), scale);
    return _mm_cvtepi32_pd(_mm_cvttpd_epi32(_mm_min_pd(_mm_max_pd(p, _mm_setzero_pd()), last)));
}
#endif

// d = y − x and e = y − (x·b1 + b0), each also rounded to float.
void line_rows(const double *__restrict x, const double *__restrict y, int cols, double b0, double b1,
               double *__restrict d, double *__restrict e, float *__restrict d_float, float *__restrict e_float);

// Not a number in both rows wherever keep[j] is 0: the positions left out.
void blank_left_out(const unsigned char *__restrict keep, int cols, float *__restrict a, float *__restrict b);

// Histograms are counted in this many copies, `stride` counts apart, that
// the caller adds up: position j goes into copy j % kBinWays, so that a run
// of positions in one bin (smooth terrain gives long ones) does not wait on
// each count being stored before the next is taken.
constexpr int kBinWays = 4;

// Adds one to counts[index[j]] of copy j % kBinWays, for j < n.
template <typename Count>
inline void count_bins(const int32_t *__restrict index, size_t n, Count *__restrict counts, size_t stride) {
    Count *c1 = counts + stride, *c2 = c1 + stride, *c3 = c2 + stride;
    size_t j = 0;
    for (; j + kBinWays <= n; j += kBinWays) {
        counts[index[j]]++;
        c1[index[j + 1]]++;
        c2[index[j + 2]]++;
        c3[index[j + 3]]++;
    }
    for (; j < n; j++) counts[index[j]]++;
}

// Adds each position to counts[bin(y)·bins + bin(x)] of its copy (bins²
// counts apart), where bin(v) is the floor of (v − lo)·scale, 0 below 0 and
// bins − 1 beyond it. The values are finite. `index` holds cols ints of room.
void density_line(const double *__restrict x, const double *__restrict y, int cols, double lo, double scale, int bins,
                  int32_t *__restrict index, uint32_t *__restrict counts);

#endif
