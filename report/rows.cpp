#include "rows.h"

#include <cmath>

#include "dispatch.h"

[[KARVEL_VECTOR_CLONES]] void line_rows(const double *__restrict x, const double *__restrict y, int cols, double b0,
                                        double b1, double *__restrict d, double *__restrict e,
                                        float *__restrict d_float, float *__restrict e_float) {
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
    const size_t n = size_t(cols > 0 ? cols : 0);
    density_bins(x, y, n, lo, scale, bins, index);
    count_bins(index, n, counts, size_t(bins) * size_t(bins));
}
