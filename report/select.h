// Exact order statistics of many doubles without sorting them and without
// holding them: the values are walked in passes (over an array, or produced
// again on each pass, such as the differences of two rasters read again),
// and the value of any rank is found among the few values near it, or else
// by narrowing down its bit pattern, 16 bits per pass.
#ifndef KARVEL_REPORT_SELECT_H
#define KARVEL_REPORT_SELECT_H

#include <cstddef>
#include <functional>
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

// The values walked once: each call hands every one of the same n values, in
// the same order, to `take`, a block at a time.
using ValueBlock = std::function<void(const double *values, size_t count)>;
using ValueStream = std::function<void(const ValueBlock &take)>;

// The sample of the values that brackets the ranks: about this many values
// taken at a regular spacing (every max(1, n / kRankSample)-th value).
constexpr size_t kRankSample = 262144;

// The value of each query's rank, all found in the same passes. The sample
// (values of the stream, any of them: it only guides where to look) decides
// how few values are kept; the result is exact whatever it holds.
std::vector<double> select_ranks(const ValueStream &values, size_t n, const std::vector<double> &sample,
                                 const std::vector<RankQuery> &queries);

// The same over an array.
std::vector<double> select_ranks(const double *v, size_t n, const std::vector<RankQuery> &queries);

// −0 and +0 are one value: where both meet at a rank, either may be returned.

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
double median(const ValueStream &values, size_t n, const std::vector<double> &sample, Seen seen, double center);

#endif
