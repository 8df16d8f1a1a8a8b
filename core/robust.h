// Robust statistics of differences: the median and the NMAD.
#ifndef KARVEL_ROBUST_H
#define KARVEL_ROBUST_H

#include <vector>

// The NMAD is this times the median absolute deviation from the median:
// for normally distributed values, an estimate of their standard deviation.
constexpr double kNmadScale = 1.4826;

// The median of v, which is reordered: the middle value, or the mean of the
// two middle values of an even count. v is not empty.
double median_of(std::vector<double> &v);

// The NMAD of values about `center` (their median): each value of v becomes
// its distance from center, reordered. v is not empty.
double nmad_about(std::vector<double> &v, double center);

#endif
