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
#include <utility>
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
    // Values strictly between lo and hi, increasing, all different: the
    // values inside are also counted in the bins they part (see
    // IntervalCounts::bins), so that a rank among more of them than are
    // kept is still placed.
    std::vector<double> edges = {};
};
struct IntervalCounts {
    size_t below = 0, at_lo = 0, at_hi = 0;  // values below lo, equal to lo, equal to hi
    std::vector<double> inside;              // the values strictly between lo and hi, as seen
    bool overflow = false;                   // more of them than were kept (inside then emptied)
    // The values inside by bin: bins[2i] those between edges[i − 1] (or
    // lo) and edges[i] (or hi, i being the number of edges), both left
    // out; bins[2i + 1] those equal to edges[i].
    std::vector<size_t> bins;
};

// A rank among the values strictly inside an interval (the values to keep
// in one more walk).
struct Narrowed {
    Interval within;  // lo and hi already counted, no edges
    size_t rank;      // 1-based, among the values strictly between within.lo and within.hi
};

// The value of the `rank`th value inside an interval whose walk overflowed,
// from its bins: true and the value where the rank falls on an edge, else
// false and where it lies (a bin between two edges) in `narrowed`.
bool rank_in_bins(const Interval &iv, const IntervalCounts &c, size_t rank, double &value, Narrowed &narrowed);

// Counts the values of a walk against intervals, keeping at most `cap`
// values inside each: beyond it, only their counts by bin. The values are
// taken `lanes` at a time (see kernels/dispatch.h): the counts are the
// same every way.
class IntervalWalk {
public:
    IntervalWalk(std::vector<Interval> intervals, size_t cap, size_t lanes = 0);
    void add(const double *values, size_t count);
    size_t size() const { return iv_.size(); }
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

// What the searches below share. Sample places on each side of a rank's
// place: four standard deviations of where the rank falls in a sample of
// S values, at most 2·√S (1024 for the full sample, whose brackets then
// hold about 0.8 % of the values each; more of a class's smaller sample).
size_t sample_reach(size_t S);
// The ends of the bracket of a rank among n values, from the sorted sample.
std::pair<double, double> sample_bracket(const std::vector<double> &sorted, size_t n, size_t rank, size_t reach);
// Whether n values and a sample of S can be searched during a walk.
bool sampled(size_t n, size_t S);
// The different values of a sorted sample strictly between lo and hi.
std::vector<double> edges_within(const std::vector<double> &sorted, double lo, double hi);
// The values a walk found strictly inside an interval.
size_t inside_count(const IntervalCounts &c);

// The values a search holds inside its intervals by default, all of them
// together (8 bytes each): its share of the report's memory.
constexpr size_t kSearchHeld = size_t(1) << 20;

// The ranks of queries found during one walk of n values that the caller
// makes, bracketed by a sample taken before it, holding at most `held`
// values. Without a sample large enough (n < 4·kRankSample, or fewer than
// 1024 values) nothing is walked and every rank is missed. A rank whose
// bracket held more values than its share is placed among the sample's
// values inside it, and found in one more walk (again()) that keeps the
// few values between the two it fell between.
class RankSearch {
public:
    RankSearch(size_t n, const std::vector<double> &sample, const std::vector<RankQuery> &queries,
               size_t held = kSearchHeld);
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
    // After the walk: plans one more walk for the queries the walk placed
    // between two values of the sample; true when there are any. Their
    // values then come from resolve() once the walk is made through again().
    bool plan_again(const std::vector<RankQuery> &queries);
    void again(const double *values, size_t count) {
        if (again_) again_->add(values, count);
    }
    // After the walk: query r's value lies in [lo, hi] (lo == hi: known);
    // false when the walk did not place it.
    bool bounds(const std::vector<RankQuery> &queries, size_t r, double &lo, double &hi) const;

private:
    // What the first walk found of query r: 0 missed, 1 the value, 2 narrowed.
    int first(const RankQuery &q, size_t r, double &value, Narrowed &narrowed) const;
    std::vector<RankQuery> queries_;
    std::vector<size_t> slot_;  // each query's interval
    std::unique_ptr<IntervalWalk> walk_;
    size_t cap_ = 0;  // values held inside each interval, at most
    std::vector<size_t> again_slot_, again_rank_;  // each query's interval of the walk again (npos: none)
    std::unique_ptr<IntervalWalk> again_;
};

// The median of |v − m|, m being the median of the same values, found
// during the one walk that also finds m (by a RankSearch), from a sample
// taken before it, holding at most `held` values. Where the values near
// its rank were too many to hold, they are counted in bins between values
// of the sample; one more walk (again()) keeps those of the bins the rank
// may lie in.
class MadSearch {
public:
    MadSearch(size_t n, const std::vector<double> &sample, size_t held = kSearchHeld);
    ~MadSearch();
    bool walking() const { return walk_ != nullptr; }
    void add(const double *values, size_t count) {
        if (walk_) walk_->add(values, count);
    }
    // With the exact median m: true and the median of |v − m| in `mad`, or
    // false when the walk did not settle it (the values must be walked again).
    bool resolve(double m, double &mad) const { return resolve(m, n_, mad); }
    // The same for the n values walked (when the n given was an estimate).
    bool resolve(double m, size_t n, double &mad) const;
    // After the walk, the median known to lie in [m_lo, m_hi]: plans one
    // more walk keeping the values the rank may lie among; true when it is
    // needed, after which resolve() draws on it.
    bool plan_again(double m_lo, double m_hi, size_t n);
    void again(const double *values, size_t count);

private:
    struct Spans;
    size_t n_;
    size_t cap_;
    std::unique_ptr<IntervalWalk> walk_;
    std::unique_ptr<Spans> again_;
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
