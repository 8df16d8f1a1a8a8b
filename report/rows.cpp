#include "rows.h"

#include <algorithm>
#include <cmath>

// Cloned for the wider vectors of the processors that have them: the same
// operations on every value, so the same rows.
[[gnu::target_clones("avx512f", "avx2", "default")]] void line_rows(const double *__restrict x,
                                                                  const double *__restrict y, int cols, double b0,
                                                                  double b1, double *__restrict d,
                                                                  double *__restrict e, float *__restrict d_float,
                                                                  float *__restrict e_float) {
    for (int j = 0; j < cols; j++) {
        d[j] = y[j] - x[j];
        e[j] = y[j] - (x[j] * b1 + b0);
        d_float[j] = float(d[j]);
        e_float[j] = float(e[j]);
    }
}

void blank_left_out(const unsigned char *__restrict keep, int cols, float *__restrict a, float *__restrict b) {
    for (int j = 0; j < cols; j++) {
        if (keep[j]) continue;
        a[j] = NAN;
        b[j] = NAN;
    }
}

void density_line(const double *__restrict x, const double *__restrict y, int cols, double lo, double scale, int bins,
                  int32_t *__restrict index, uint32_t *__restrict counts) {
    const double last = bins - 1;
    int j = 0;
#ifdef __SSE2__
    // Two positions at a time: the index, a whole number below 2^31, is
    // formed exactly in doubles.
    const __m128d lo2 = _mm_set1_pd(lo), scale2 = _mm_set1_pd(scale), last2 = _mm_set1_pd(last);
    const __m128d bins2 = _mm_set1_pd(double(bins));
    for (; j + 2 <= cols; j += 2) {
        const __m128d by = clamped_bins2(_mm_loadu_pd(y + j), lo2, scale2, last2);
        const __m128d k = _mm_add_pd(_mm_mul_pd(by, bins2), clamped_bins2(_mm_loadu_pd(x + j), lo2, scale2, last2));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(index + j), _mm_cvttpd_epi32(k));
    }
#endif
    for (; j < cols; j++) index[j] = clamped_bin(y[j], lo, scale, last) * bins + clamped_bin(x[j], lo, scale, last);
    count_bins(index, size_t(cols > 0 ? cols : 0), counts, size_t(bins) * size_t(bins));
}
