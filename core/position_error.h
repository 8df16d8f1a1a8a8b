// The error of a position against the fitted line, and its histogram bin.
//
// The residual pass and the histogram pass both take every error from here,
// so that each error is the same value in both. The work goes two positions
// at a time (GCC vector extensions: SSE2 on x86-64, plain code elsewhere);
// each lane is computed exactly as a lone double would be, so the results
// are those of one position at a time.
#ifndef KARVEL_POSITION_ERROR_H
#define KARVEL_POSITION_ERROR_H

#include <climits>
#include <cstddef>

typedef double double2 __attribute__((vector_size(16)));
typedef long long mask2 __attribute__((vector_size(16)));  // all ones or all zeros per lane
typedef int int2 __attribute__((vector_size(8)));

// The estimate of y on the fitted line, x·B1 + B0, and the absolute error of
// y against it, |y − estimate|, of two positions.
inline void pair_errors(double2 x, double2 y, double B1, double B0, double2 &Y_estim, double2 &err) {
    Y_estim = x * B1 + B0;
    err = (double2)((mask2)(y - Y_estim) & 0x7fffffffffffffffLL);  // clears the sign bit
}

// The same for a single position.
inline double position_error(double x, double y, double B1, double B0, double &Y_estim) {
    double2 est, err;
    pair_errors(double2{x, x}, double2{y, y}, B1, B0, est, err);
    Y_estim = est[0];
    return err[0];
}

// The whole part of ten times each of two errors, formed exactly, for
// 0 ≤ e and 10·e < 2^31. When 10·e rounded, p, is not a whole number, no
// whole number lies between p and the exact 10·e (it would be a nearer
// double), so they share their whole part. When p is one, the exact product
// may lie just below it: then 10·e = 8·e + 2·e, both exact, and the
// rounding error of their sum, recovered exactly, tells on which side of p
// it lies.
inline int2 pair_tenths(double2 e) {
    const double2 p = e * 10.0;
    const int2 whole = __builtin_convertvector(p, int2);  // truncation: the whole part of p ≥ 0
    const double2 lost = 2.0 * e - (p - 8.0 * e);
    const mask2 below = (__builtin_convertvector(whole, double2) == p) & (lost < 0.0);
    return whole + __builtin_convertvector(below, int2);  // a true lane is -1
}

// The whole part of ten times e, formed exactly: an error stored as the
// double nearest to 0.3, which lies just below 0.3, gives 2. Values whose
// tenfold reaches 2^31, and not-a-number, give the largest long long.
inline long long tenths(double e) {
    if (!(e * 10.0 < 2147483648.0)) return LLONG_MAX;
    return pair_tenths(double2{e, 0.0})[0];
}

// The residual and histogram passes walk each line in blocks of this many
// positions.
constexpr int kBlock = 512;

// Estimates and errors of n ≤ kBlock positions (pair_errors, two at a time).
void position_errors(const double *x, const double *y, int n, double B1, double B0, double *Y_estim, double *err);

// The largest error whose bin (tenths) is below bins, for 1 ≤ bins < 2^31:
// the errors of a histogram of that many bins are those at most this.
double largest_error_below_bin(long long bins);

// Histograms of up to this many bins are counted in kCountWays interleaved
// copies (position j into copy j % kCountWays), added up by the caller: with
// one copy every count waits for the previous one whenever neighbouring
// positions fall into the same bin.
constexpr int kCountWays = 4;
constexpr int kInterleaveUpTo = 1 << 16;

// Counts the errors of n positions against the line B1·x + B0 in bins of one
// tenth of the unit: each error at most max_err adds one to its bin in copy
// j % ways (1 or kCountWays) of the histogram, the copies `stride` counts
// apart; every bin of such an error must be below stride. Returns how many
// errors are finite and larger than max_err: those go uncounted, as do
// errors that are not finite.
template <typename Count>
long long count_tenths(const double *x, const double *y, int n, double B1, double B0, double max_err, Count *counts,
                       size_t stride, int ways);

#endif
