// The bins of histograms: the signed differences' (report/charts.h) and the
// density of (first, second) (report/rows.h), and their counting.
#ifndef KARVEL_KERNELS_BINS_H
#define KARVEL_KERNELS_BINS_H

#include <algorithm>
#include <cstddef>
#include <cstdint>

// The bin of v among bins of width 1/scale from lo: the floor of
// (v − lo)·scale, 0 below 0 (and for not a number), `last` beyond it.
inline int32_t clamped_bin(double v, double lo, double scale, double last) {
    return int32_t(std::min(std::max(0.0, (v - lo) * scale), last));
}

// The bins of n values over [lo, hi], `bins` of width 1/scale from lo:
// clamped_bin's, and `bins` (one past the last) for a value outside
// [lo, hi] or not a number. The values are taken `lanes` at a time (see
// kernels/dispatch.h): the bins are the same every way.
void diff_bins(const double *v, size_t n, double lo, double hi, double scale, int bins, int32_t *index,
               size_t lanes = 0);

// The cells of n positions in the density of (x, y), bins × bins cells
// over the same bins on both axes: clamped_bin(y)·bins + clamped_bin(x),
// with `bins` − 1 the last; the values are finite. Taken `lanes` at a
// time, as diff_bins.
void density_bins(const double *x, const double *y, size_t n, double lo, double scale, int bins, int32_t *index,
                  size_t lanes = 0);

// The values at a time of the form of diff_bins and density_bins for
// `asked` lanes (see kernels/dispatch.h): 1 for the plain loop.
size_t bin_lanes(size_t asked);

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

#endif
