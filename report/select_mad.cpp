// The median of |v − m| during the walk that finds m (MadSearch, select.h).
#include <algorithm>
#include <cmath>
#include <limits>

#include "select.h"

namespace {

// Values known to lie in [lo, hi] (lo == hi: all equal to it), count of them.
struct Span {
    double lo, hi;
    size_t count;
};

// How far the values of a span lie from a median known to lie in
// [m_lo, m_hi], at least and at most (subtraction rounds monotonically, and
// |v − m| is m − v below m).
std::pair<double, double> distances(const Span &s, double m_lo, double m_hi) {
    if (s.hi <= m_lo) return {m_lo - s.hi, m_hi - s.lo};
    if (s.lo >= m_hi) return {s.lo - m_hi, s.hi - m_lo};
    return {0.0, std::max(m_hi - s.lo, s.hi - m_lo)};
}

// The rank-th smallest of the weighted values `v` (sorted here) and the
// values `one` (sorted, one each).
double weighted_rank(std::vector<std::pair<double, size_t>> &v, const std::vector<double> &one, size_t rank) {
    std::sort(v.begin(), v.end());
    size_t seen = 0, i = 0, j = 0;
    while (i < v.size() || j < one.size()) {
        double w = 0;
        if (j == one.size() || (i < v.size() && v[i].first <= one[j])) {
            w = v[i].first;
            seen += v[i++].second;
        } else {
            w = one[j++];
            seen++;
        }
        if (seen >= rank) return w;
    }
    return std::numeric_limits<double>::infinity();
}

// Where the rank-th distance lies: at least the rank-th of the spans'
// least distances, at most the rank-th of their greatest; `exact`, the
// distances of the values known one by one, sorted.
std::pair<double, double> rank_range(const std::vector<Span> &spans, const std::vector<double> &exact, double m_lo,
                                     double m_hi, size_t rank) {
    std::vector<std::pair<double, size_t>> least, most;
    for (const Span &s : spans) {
        if (s.count == 0) continue;
        const auto [a, b] = distances(s, m_lo, m_hi);
        least.push_back({a, s.count});
        most.push_back({b, s.count});
    }
    return {weighted_rank(least, exact, rank), weighted_rank(most, exact, rank)};
}

// The ranks of the median of n distances.
std::vector<size_t> middle_ranks(size_t n) {
    if (n % 2 == 1) return {n / 2 + 1};
    return {n / 2, n / 2 + 1};
}

}  // namespace

// The values the walk again keeps: spans of those found by the first
// walk, each the values strictly between its ends.
struct MadSearch::Spans {
    std::vector<size_t> which;  // the spans (as all_spans lists them) walked again
    std::vector<size_t> count;  // how many values the first walk counted in each
    std::unique_ptr<IntervalWalk> walk;
};

MadSearch::~MadSearch() = default;

// The median m of the values lies in [m_lo, m_hi] and the median of
// |v − m| about t, in [t_lo, t_hi], both guessed from the sample. The
// values at distance t_lo to t_hi from any such m lie in [A, B] below it
// and [C, D] above it (A = m_lo − t_hi, B = m_hi − t_lo, C = m_lo + t_lo,
// D = m_hi + t_hi): the walk keeps those (or, beyond its share, counts
// them in bins between the sample's values) and counts the rest, the
// values nearer m (between B and C) and farther (below A, above D). With
// m known after the walk, each group of values lies within known
// distances of it, enough to rank them when the guesses held.
MadSearch::MadSearch(size_t n, const std::vector<double> &raw_sample, size_t held) : n_(n), cap_(held) {
    const size_t S = raw_sample.size();
    if (!sampled(n, S)) return;
    const size_t reach = sample_reach(S);
    std::vector<double> sample(raw_sample);
    std::sort(sample.begin(), sample.end());
    const auto m_lo = sample_bracket(sample, n, (n + 1) / 2, reach).first;
    const auto m_hi = sample_bracket(sample, n, n / 2 + 1, reach).second;
    const double m_mid = sample[(S - 1) / 2];
    std::vector<double> distance(S);
    for (size_t i = 0; i < S; i++) distance[i] = std::fabs(sample[i] - m_mid);
    std::sort(distance.begin(), distance.end());
    // The distances are guessed about a guessed median: twice the reach,
    // and room for four times as many values as a rank's bracket.
    const auto t_lo = sample_bracket(distance, n, (n + 1) / 2, 2 * reach).first;
    const auto t_hi = sample_bracket(distance, n, n / 2 + 1, 2 * reach).second;
    if (!(t_lo > m_hi - m_lo)) return;  // no values nearer m than the kept ones: walk again
    const double a = m_lo - t_hi, b = m_hi - t_lo, c = m_lo + t_lo, d = m_hi + t_hi;
    walk_ = std::make_unique<IntervalWalk>(std::vector<Interval>{{Seen::as_is, 0.0, a, b, edges_within(sample, a, b)},
                                                                 {Seen::as_is, 0.0, c, d, edges_within(sample, c, d)}},
                                           std::max<size_t>(1, held / 2));
}

namespace {

// The values of an interval: at its ends, and those inside by bin; with
// `kept`, the values kept one by one go there instead, their bins left
// empty (the spans are the same, in the same order, either way).
void interval_spans(const Interval &iv, const IntervalCounts &c, std::vector<Span> &out, std::vector<double> *kept) {
    out.push_back({iv.lo, iv.lo, c.at_lo});
    const bool one_by_one = kept && !c.overflow;
    if (one_by_one) kept->insert(kept->end(), c.inside.begin(), c.inside.end());
    const std::vector<double> &e = iv.edges;
    for (size_t i = 0; i < c.bins.size(); i++) {
        const size_t count = one_by_one ? 0 : c.bins[i];
        if (i % 2) out.push_back({e[i / 2], e[i / 2], count});
        else out.push_back({i == 0 ? iv.lo : e[i / 2 - 1], i / 2 < e.size() ? e[i / 2] : iv.hi, count});
    }
    if (iv.lo < iv.hi) out.push_back({iv.hi, iv.hi, c.at_hi});
}

// Every value walked, in spans: below A, [A, B], between B and C, [C, D],
// above D. False where the counts do not add up (the two intervals
// overlapping, or n not the values walked).
bool all_spans(const IntervalWalk &w, size_t n, std::vector<Span> &s, std::vector<double> *kept) {
    const Interval &below = w.interval(0), &above = w.interval(1);
    const IntervalCounts &lc = w.counts(0), &uc = w.counts(1);
    const double inf = std::numeric_limits<double>::infinity();
    const size_t lower = lc.below + lc.at_lo + inside_count(lc) + (below.lo < below.hi ? lc.at_hi : 0);
    const size_t upper = uc.below + uc.at_lo + inside_count(uc) + (above.lo < above.hi ? uc.at_hi : 0);
    if (uc.below < lower || n < upper || !(below.hi < above.lo)) return false;
    s.clear();
    s.push_back({-inf, below.lo, lc.below});
    interval_spans(below, lc, s, kept);
    s.push_back({below.hi, above.lo, uc.below - lower});
    interval_spans(above, uc, s, kept);
    s.push_back({above.hi, inf, n - upper});
    return true;
}

}  // namespace

bool MadSearch::plan_again(double m_lo, double m_hi, size_t n) {
    if (!walk_ || !std::isfinite(m_lo) || !std::isfinite(m_hi) || n == 0 || again_) return false;
    // Only where the values near the rank were too many to keep: the
    // others are ranked of the values kept, or walked for otherwise.
    if (!walk_->counts(0).overflow && !walk_->counts(1).overflow) return false;
    std::vector<Span> spans;
    if (!all_spans(*walk_, n, spans, nullptr)) return false;
    // The spans the median's ranks may lie in, where they are not known.
    std::vector<bool> wanted(spans.size(), false);
    for (size_t rank : middle_ranks(n)) {
        const auto [t_lo, t_hi] = rank_range(spans, {}, m_lo, m_hi, rank);
        if (t_lo == t_hi) continue;
        for (size_t i = 0; i < spans.size(); i++) {
            const auto [a, b] = distances(spans[i], m_lo, m_hi);
            if (spans[i].lo < spans[i].hi && spans[i].count > 0 && a <= t_hi && b >= t_lo) wanted[i] = true;
        }
    }
    auto plan = std::make_unique<Spans>();
    std::vector<Interval> iv;
    size_t total = 0;
    for (size_t i = 0; i < spans.size(); i++)
        if (wanted[i]) {
            plan->which.push_back(i);
            plan->count.push_back(spans[i].count);
            iv.push_back({Seen::as_is, 0.0, spans[i].lo, spans[i].hi});
            total += spans[i].count;
        }
    // Nothing to keep, or more than the search may hold: walked otherwise.
    if (iv.empty() || total > cap_) return false;
    plan->walk = std::make_unique<IntervalWalk>(std::move(iv), cap_);
    again_ = std::move(plan);
    return true;
}

void MadSearch::again(const double *values, size_t count) {
    if (again_) again_->walk->add(values, count);
}

bool MadSearch::resolve(double m, size_t n_walked, double &mad) const {
    if (!walk_ || !std::isfinite(m) || n_walked == 0) return false;
    // The values kept one by one, and those the walk again kept where it
    // found as many as the first walk counted: their distances, exact.
    std::vector<Span> spans;
    std::vector<double> exact;
    if (!all_spans(*walk_, n_walked, spans, &exact)) return false;
    for (double &v : exact) v = std::fabs(v - m);
    if (again_) {
        for (size_t k = 0; k < again_->which.size(); k++) {
            const IntervalCounts &c = again_->walk->counts(k);
            Span &s = spans[again_->which[k]];
            // Not where its values were kept already, nor unless all came.
            if (s.count == 0 || c.overflow || c.inside.size() != again_->count[k]) continue;
            s.count = 0;
            for (double v : c.inside) exact.push_back(std::fabs(v - m));
        }
    }
    std::sort(exact.begin(), exact.end());
    std::vector<double> at;
    for (size_t rank : middle_ranks(n_walked)) {
        const auto [t_lo, t_hi] = rank_range(spans, exact, m, m, rank);
        if (t_lo != t_hi) return false;
        at.push_back(t_lo);
    }
    mad = at.size() == 1 ? at[0] : (at[0] + at[1]) / 2.0;
    return true;
}
