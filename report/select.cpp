#include "select.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

namespace {

// A key whose unsigned order is the order of the doubles (−0 before +0).
inline uint64_t key_of(double d) {
    const uint64_t b = std::bit_cast<uint64_t>(d);
    return (b >> 63) ? ~b : b | (uint64_t(1) << 63);
}

inline double value_of(uint64_t k) {
    return std::bit_cast<double>((k >> 63) ? k & ~(uint64_t(1) << 63) : ~k);
}

inline double seen_value(double v, Seen seen, double center) {
    switch (seen) {
        case Seen::magnitude: return std::fabs(v);
        case Seen::off_center: return std::fabs(v - center);
        default: return v;
    }
}

constexpr int kDigit = 16;
constexpr size_t kBuckets = size_t(1) << kDigit;

}  // namespace

namespace {

// Exact in every case: 16 bits of the rank's key per pass, four passes.
std::vector<double> select_by_bits(const ValueStream &values, Seen seen, double center,
                                   const std::vector<size_t> &ranks) {
    const size_t R = ranks.size();
    // For each rank: the key bits found so far (prefix), and the rank still
    // sought among the elements that share the prefix.
    std::vector<uint64_t> prefix(R, 0);
    std::vector<size_t> left(ranks);
    std::vector<std::vector<size_t>> count(R, std::vector<size_t>(kBuckets));
    for (int level = 0; level < 64 / kDigit; level++) {
        const int shift = 64 - kDigit * (level + 1);
        const int known = kDigit * level;  // bits of the prefix already fixed
        for (auto &c : count) std::fill(c.begin(), c.end(), 0);
        values([&](const double *v, size_t n) {
            for (size_t i = 0; i < n; i++) {
                const uint64_t k = key_of(seen_value(v[i], seen, center));
                const size_t digit = size_t(k >> shift) & (kBuckets - 1);
                for (size_t r = 0; r < R; r++)
                    if (known == 0 || (k >> (64 - known)) == (prefix[r] >> (64 - known))) count[r][digit]++;
            }
        });
        for (size_t r = 0; r < R; r++) {
            size_t b = 0;
            while (b + 1 < kBuckets && left[r] > count[r][b]) left[r] -= count[r][b++];
            prefix[r] |= uint64_t(b) << shift;
        }
    }
    std::vector<double> out(R);
    for (size_t r = 0; r < R; r++) out[r] = value_of(prefix[r]);
    return out;
}

// The sample of an array, for arrays large enough to have one.
std::vector<double> array_sample(const double *v, size_t n) {
    std::vector<double> sample;
    if (n >= 4 * kRankSample) {
        const size_t stride = n / kRankSample;
        sample.resize(kRankSample);
        for (size_t i = 0; i < kRankSample; i++) sample[i] = v[i * stride];
    }
    return sample;
}

ValueStream array_stream(const double *v, size_t n) {
    return [v, n](const ValueBlock &take) {
        if (n > 0) take(v, n);
    };
}

}  // namespace

IntervalWalk::IntervalWalk(std::vector<Interval> intervals, size_t cap, size_t lanes)
    : iv_(std::move(intervals)), counts_(iv_.size()), cap_(cap), lanes_(lanes) {
    for (size_t k = 0; k < iv_.size(); k++) counts_[k].bins.assign(2 * iv_[k].edges.size() + 1, 0);
}

// Each interval a bracket of the kernel, four at a time; the values
// inside, in the order of their positions, kept for each interval until
// there are more than it may keep, and counted by bin.
void IntervalWalk::walk(size_t first, size_t m, const double *v, size_t len) {
    Bracket b[kBracketsAtOnce];
    BracketCounts counted[kBracketsAtOnce];
    for (size_t q = 0; q < m; q++) {
        const Interval &iv = iv_[first + q];
        b[q] = {iv.seen == Seen::off_center ? iv.center : 0.0, iv.seen != Seen::as_is, iv.lo, iv.hi};
    }
    const size_t room = bracket_flags_room(len, lanes_);
    if (flagged_.size() < room) flagged_.resize(room);
    const size_t n_flagged = count_brackets(b, m, v, len, counted, flagged_.data(), lanes_);
    for (size_t f = 0; f < n_flagged; f++)
        for (uint32_t bits = flagged_[f].inside; bits != 0; bits &= bits - 1) {
            const int bit = std::countr_zero(bits);
            const size_t q = size_t(bit) / 8;
            IntervalCounts &c = counts_[first + q];
            const double s = seen_by(b[q], v[flagged_[f].at + size_t(bit) % 8]);
            const std::vector<double> &edges = iv_[first + q].edges;
            const size_t e = size_t(std::lower_bound(edges.begin(), edges.end(), s) - edges.begin());
            c.bins[2 * e + (e < edges.size() && edges[e] == s)]++;
            if (c.overflow) continue;
            if (c.inside.size() < cap_) {
                c.inside.push_back(s);
            } else {
                c.overflow = true;
                std::vector<double>().swap(c.inside);
            }
        }
    for (size_t q = 0; q < m; q++) {
        IntervalCounts &c = counts_[first + q];
        c.below += counted[q].below;
        c.at_lo += counted[q].at_lo;
        c.at_hi += counted[q].at_hi;
    }
}

void IntervalWalk::add(const double *v, size_t len) {
    for (size_t first = 0; first < iv_.size(); first += kBracketsAtOnce)
        walk(first, std::min(kBracketsAtOnce, iv_.size() - first), v, len);
}

size_t sample_reach(size_t S) {
    size_t root = size_t(std::sqrt(double(S)));
    while (root * root < S) root++;
    return std::max<size_t>(4, 2 * root);
}

std::pair<double, double> sample_bracket(const std::vector<double> &sorted, size_t n, size_t rank, size_t reach) {
    const size_t S = sorted.size();
    const size_t at = size_t(double(rank - 1) / double(n - 1) * double(S - 1));
    return {sorted[at > reach ? at - reach : 0], sorted[std::min(S - 1, at + reach)]};
}

bool sampled(size_t n, size_t S) { return n >= 4 * kRankSample && S >= 1024; }

std::vector<double> edges_within(const std::vector<double> &sorted, double lo, double hi) {
    std::vector<double> e;
    for (auto it = std::upper_bound(sorted.begin(), sorted.end(), lo); it != sorted.end() && *it < hi; ++it)
        if (e.empty() || *it != e.back()) e.push_back(*it);
    return e;
}

size_t inside_count(const IntervalCounts &c) {
    size_t total = 0;
    for (size_t b : c.bins) total += b;
    return total;
}

bool rank_in_bins(const Interval &iv, const IntervalCounts &c, size_t rank, double &value, Narrowed &narrowed) {
    const size_t E = iv.edges.size();
    narrowed.rank = 0;
    for (size_t i = 0; i < c.bins.size(); i++) {
        if (rank <= c.bins[i]) {
            if (i % 2) {
                value = iv.edges[i / 2];
                return true;
            }
            const double lo = i == 0 ? iv.lo : iv.edges[i / 2 - 1], hi = i / 2 < E ? iv.edges[i / 2] : iv.hi;
            narrowed.within = {iv.seen, iv.center, lo, hi};
            narrowed.rank = rank;
            return false;
        }
        rank -= c.bins[i];
    }
    return false;
}

namespace {

// The value of rank k (1-based, within their number) among values.
double kth(std::vector<double> values, size_t k) {
    std::nth_element(values.begin(), values.begin() + ptrdiff_t(k - 1), values.end());
    return values[k - 1];
}

}  // namespace

// Each rank is bracketed between two values of the sample as its query
// sees it; the walk counts the values below and at each bracket's ends and
// keeps those strictly inside it (a small share), among which the rank is
// then found. Ranks that fall in one bracket share it (the two middle
// values of an even count).
RankSearch::RankSearch(size_t n, const std::vector<double> &raw_sample, const std::vector<RankQuery> &queries,
                       size_t held)
    : queries_(queries), slot_(queries.size()) {
    const size_t S = raw_sample.size();
    if (!sampled(n, S)) return;
    const size_t reach = sample_reach(S);
    std::vector<Interval> distinct;
    std::vector<double> sample(S);
    for (size_t r = 0; r < queries.size(); r++) {
        const RankQuery &q = queries[r];
        if (r == 0 || q.seen != queries[r - 1].seen || q.center != queries[r - 1].center) {
            for (size_t i = 0; i < S; i++) sample[i] = seen_value(raw_sample[i], q.seen, q.center);
            std::sort(sample.begin(), sample.end());
        }
        const auto [lo, hi] = sample_bracket(sample, n, q.rank, reach);
        size_t k = 0;
        while (k < distinct.size() && !(distinct[k].seen == q.seen && distinct[k].center == q.center &&
                                        distinct[k].lo == lo && distinct[k].hi == hi))
            k++;
        if (k == distinct.size()) distinct.push_back({q.seen, q.center, lo, hi, edges_within(sample, lo, hi)});
        slot_[r] = k;
    }
    cap_ = std::max<size_t>(1, held / distinct.size());
    walk_ = std::make_unique<IntervalWalk>(std::move(distinct), cap_);
}

int RankSearch::first(const RankQuery &q, size_t r, double &value, Narrowed &narrowed) const {
    if (!walk_) return 0;
    const Interval &b = walk_->interval(slot_[r]);
    const IntervalCounts &c = walk_->counts(slot_[r]);
    size_t k = q.rank;
    if (k == 0 || k <= c.below) return 0;
    k -= c.below;
    if (k <= c.at_lo) {
        value = b.lo;
        return 1;
    }
    k -= c.at_lo;
    const size_t inside = inside_count(c);
    if (k <= inside) {
        if (!c.overflow) {
            value = kth(c.inside, k);
            return 1;
        }
        if (rank_in_bins(b, c, k, value, narrowed)) return 1;
        return narrowed.rank ? 2 : 0;
    }
    k -= inside;
    if (b.lo < b.hi && k <= c.at_hi) {
        value = b.hi;
        return 1;
    }
    return 0;
}

std::vector<double> RankSearch::resolve(const std::vector<RankQuery> &queries, std::vector<size_t> &missed) const {
    std::vector<double> out(queries_.size());
    missed.clear();
    for (size_t r = 0; r < queries_.size(); r++) {
        Narrowed nw;
        const int f = r < queries.size() ? first(queries[r], r, out[r], nw) : 0;
        if (f == 1) continue;
        if (f == 2 && again_ && again_slot_[r] != SIZE_MAX) {
            const IntervalCounts &c = again_->counts(again_slot_[r]);
            if (!c.overflow && again_rank_[r] <= c.inside.size()) {
                out[r] = kth(c.inside, again_rank_[r]);
                continue;
            }
        }
        missed.push_back(r);
    }
    return out;
}

bool RankSearch::plan_again(const std::vector<RankQuery> &queries) {
    if (!walk_) return false;
    again_slot_.assign(queries_.size(), SIZE_MAX);
    again_rank_.assign(queries_.size(), 0);
    std::vector<Interval> iv;
    for (size_t r = 0; r < queries_.size() && r < queries.size(); r++) {
        double v = 0;
        Narrowed nw;
        if (!walk_->counts(slot_[r]).overflow || first(queries[r], r, v, nw) != 2) continue;
        size_t k = 0;
        while (k < iv.size() && !(iv[k].seen == nw.within.seen && iv[k].center == nw.within.center &&
                                  iv[k].lo == nw.within.lo && iv[k].hi == nw.within.hi))
            k++;
        if (k == iv.size()) iv.push_back(nw.within);
        again_slot_[r] = k;
        again_rank_[r] = nw.rank;
    }
    if (iv.empty()) return false;
    const size_t cap = std::max<size_t>(1, cap_ * walk_->size() / iv.size());
    again_ = std::make_unique<IntervalWalk>(std::move(iv), cap);
    return true;
}

bool RankSearch::bounds(const std::vector<RankQuery> &queries, size_t r, double &lo, double &hi) const {
    Narrowed nw;
    const int f = r < queries.size() ? first(queries[r], r, lo, nw) : 0;
    if (f == 1) hi = lo;
    if (f == 2) lo = nw.within.lo, hi = nw.within.hi;
    return f != 0;
}

std::vector<double> select_ranks(const ValueStream &values, size_t n, const std::vector<double> &sample,
                                 const std::vector<RankQuery> &queries) {
    RankSearch search(n, sample, queries);
    if (search.walking()) values([&](const double *v, size_t len) { search.add(v, len); });
    if (search.walking() && search.plan_again(queries))
        values([&](const double *v, size_t len) { search.again(v, len); });
    std::vector<size_t> missed;
    std::vector<double> out = search.resolve(missed);
    for (size_t r : missed) out[r] = select_by_bits(values, queries[r].seen, queries[r].center, {queries[r].rank})[0];
    return out;
}

std::vector<double> select_ranks(const double *v, size_t n, const std::vector<RankQuery> &queries) {
    return select_ranks(array_stream(v, n), n, array_sample(v, n), queries);
}

std::vector<double> select_ranks(const double *v, size_t n, Seen seen, double center,
                                 const std::vector<size_t> &ranks) {
    std::vector<RankQuery> q;
    for (size_t r : ranks) q.push_back({seen, center, r});
    return select_ranks(v, n, q);
}

size_t nearest_rank(unsigned p, size_t n) {
    // ⌈p·n/100⌉ without overflow for any n.
    const size_t q = n / 100, rem = n % 100;
    return q * p + (rem * p + 99) / 100;
}

double median(const ValueStream &values, size_t n, const std::vector<double> &sample, Seen seen, double center) {
    if (n % 2 == 1) return select_ranks(values, n, sample, {{seen, center, n / 2 + 1}})[0];
    const auto m = select_ranks(values, n, sample, {{seen, center, n / 2}, {seen, center, n / 2 + 1}});
    return (m[0] + m[1]) / 2.0;
}

double median(const double *v, size_t n, Seen seen, double center) {
    return median(array_stream(v, n), n, array_sample(v, n), seen, center);
}
