// Exact order statistics of a large array of doubles without sorting it and
// without a copy: the value of any rank is found by narrowing down its bit
// pattern, 16 bits per pass over the array.
#ifndef KARVEL_REPORT_SELECT_H
#define KARVEL_REPORT_SELECT_H

#include <cstddef>
#include <vector>

// How each element is seen when ranked.
enum class Seen {
    as_is,       // v
    magnitude,   // |v|
    off_center,  // |v − center|
};

// A rank sought among the values as seen.
struct RankQuery {
    Seen seen;
    double center;  // for Seen::off_center
    size_t rank;    // 1-based, 1 ≤ rank ≤ n
};

// The value of each query's rank, all found in the same passes.
std::vector<double> select_ranks(const double *v, size_t n, const std::vector<RankQuery> &queries);

// Returns, for each 1-based rank in `ranks` (1 ≤ rank ≤ n), the value of that
// rank among the n values as seen. Not-a-number must not occur.
std::vector<double> select_ranks(const double *v, size_t n, Seen seen, double center,
                                 const std::vector<size_t> &ranks);

// The nearest-rank percentile p (0 < p ≤ 100, a whole number) of n values:
// the rank ⌈p·n/100⌉.
size_t nearest_rank(unsigned p, size_t n);

// The median of the values as seen: the middle value, or the mean of the two
// middle values of an even count.
double median(const double *v, size_t n, Seen seen, double center);

#endif
