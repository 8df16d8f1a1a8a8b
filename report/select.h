// Exact order statistics of many doubles without sorting them and without
// holding them: the values are walked in passes (over an array, or produced
// again on each pass, such as the differences of two rasters read again),
// and the value of any rank is found among the few values near it, or else
// by narrowing down its bit pattern, 16 bits per pass.
#ifndef KARVEL_REPORT_SELECT_H
#define KARVEL_REPORT_SELECT_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "brackets.h"

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

// A range of values as a view sees them, and what a walk found of it.
struct Interval {
    Seen seen;
    double center;  // for Seen::off_center
    double lo, hi;  // lo <= hi
};
struct IntervalCounts {
    size_t below = 0, at_lo = 0, at_hi = 0;  // values below lo, equal to lo, equal to hi
    std::vector<double> inside;              // the values strictly between lo and hi, as seen
    bool overflow = false;                   // more of them than were kept
};

// Counts the values of a walk against intervals, keeping at most `cap`
// values inside each. The values are taken `lanes` at a time (see
// kernels/dispatch.h): the counts are the same every way.
class IntervalWalk {
public:
    IntervalWalk(std::vector<Interval> intervals, size_t cap, size_t lanes = 0);
    void add(const double *values, size_t count);
    const Interval &interval(size_t k) const { return iv_[k]; }
    const IntervalCounts &counts(size_t k) const { return counts_[k]; }

private:
    // Intervals first .. first + m − 1.
    void walk(size_t first, size_t m, const double *v, size_t len);
    std::vector<Interval> iv_;
    std::vector<IntervalCounts> counts_;
    size_t cap_, lanes_;
    std::vector<BracketFlag> flagged_;  // a block's groups, room reused from block to block
};

// The ranks of queries found during one walk of n values that the caller
// makes, bracketed by a sample taken before it. Without a sample large
// enough (n < 4·kRankSample, or fewer than 1024 values) nothing is walked
// and every rank is missed.
class RankSearch {
public:
    RankSearch(size_t n, const std::vector<double> &sample, const std::vector<RankQuery> &queries);
    bool walking() const { return walk_ != nullptr; }
    void add(const double *values, size_t count) {
        if (walk_) walk_->add(values, count);
    }
    // After the walk: each query's value; the queries whose rank the walk
    // did not settle are listed in `missed` (their values unset).
    std::vector<double> resolve(std::vector<size_t> &missed) const { return resolve(queries_, missed); }
    // The same for the queries as they are once the walk has counted the
    // values: those given, with their ranks among the values walked (n was
    // only an estimate of how many there would be).
    std::vector<double> resolve(const std::vector<RankQuery> &queries, std::vector<size_t> &missed) const;

private:
    std::vector<RankQuery> queries_;
    std::vector<size_t> slot_;  // each query's interval
    std::unique_ptr<IntervalWalk> walk_;
};

// The median of |v − m|, m being the median of the same values, found
// during the one walk that also finds m (by a RankSearch), from a sample
// taken before it.
class MadSearch {
public:
    MadSearch(size_t n, const std::vector<double> &sample);
    bool walking() const { return walk_ != nullptr; }
    void add(const double *values, size_t count) {
        if (walk_) walk_->add(values, count);
    }
    // With the exact median m: true and the median of |v − m| in `mad`, or
    // false when the walk did not settle it (the values must be walked again).
    bool resolve(double m, double &mad) const { return resolve(m, n_, mad); }
    // The same for the n values walked (when the n given was an estimate).
    bool resolve(double m, size_t n, double &mad) const;

private:
    size_t n_;
    std::unique_ptr<IntervalWalk> walk_;
};

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
