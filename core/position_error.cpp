#include "position_error.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

void position_errors(const double *x, const double *y, int n, double B1, double B0, double *Y_estim, double *err) {
    int j = 0;
    for (; j + 2 <= n; j += 2) {
        double2 xv, yv, est, e;
        std::memcpy(&xv, x + j, sizeof xv);
        std::memcpy(&yv, y + j, sizeof yv);
        pair_errors(xv, yv, B1, B0, est, e);
        std::memcpy(Y_estim + j, &est, sizeof est);
        std::memcpy(err + j, &e, sizeof e);
    }
    if (j < n) err[j] = position_error(x[j], y[j], B1, B0, Y_estim[j]);
}

double largest_error_below_bin(long long bins) {
    double e = double(bins) / 10.0;
    while (e > 0.0 && tenths(e) >= bins) e = std::nextafter(e, 0.0);
    for (double up = std::nextafter(e, DBL_MAX); tenths(up) < bins; up = std::nextafter(e, DBL_MAX)) e = up;
    return e;
}

template <typename Count>
long long count_tenths(const double *x, const double *y, int n, double B1, double B0, double max_err, Count *counts,
                       size_t stride, int ways) {
    static_assert(kBlock % kCountWays == 0, "every block starts at copy 0");
    alignas(16) double estimates[kBlock], errors[kBlock];
    alignas(16) int bins[kBlock];
    Count *copy[kCountWays];
    for (int w = 0; w < kCountWays; w++) copy[w] = counts + size_t(w % ways) * stride;
    mask2 past{0, 0};  // minus the count of finite errors beyond max_err, per lane
    for (int start = 0; start < n; start += kBlock) {
        const int m = std::min(kBlock, n - start);
        position_errors(x + start, y + start, m, B1, B0, estimates, errors);
        if (m % 2) errors[m] = 0.0;  // an odd block's last pair: m < kBlock, so errors[m] exists
        // The bins first, two at a time, then the counts.
        for (int j = 0; j < m; j += 2) {
            double2 e;
            std::memcpy(&e, errors + j, sizeof e);
            const mask2 in = e <= max_err;
            past += (e > max_err) & (e <= DBL_MAX);
            const int2 whole = pair_tenths((double2)((mask2)e & in));  // 0 where not counted
            std::memcpy(bins + j, &whole, sizeof whole);
        }
        int j = 0;
        for (; j + kCountWays <= m; j += kCountWays)
            for (int w = 0; w < kCountWays; w++)
                if (errors[j + w] <= max_err) copy[w][bins[j + w]]++;
        for (; j < m; j++)
            if (errors[j] <= max_err) copy[j % kCountWays][bins[j]]++;
    }
    return -(past[0] + past[1]);
}

template long long count_tenths<int>(const double *, const double *, int, double, double, double, int *, size_t, int);
template long long count_tenths<long long>(const double *, const double *, int, double, double, double, long long *,
                                           size_t, int);
