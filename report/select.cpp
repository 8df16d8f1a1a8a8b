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
    : iv_(std::move(intervals)), counts_(iv_.size()), cap_(cap), lanes_(lanes) {}

// Each interval a bracket of the kernel, four at a time; the values
// inside, in the order of their positions, kept for each interval.
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
            if (c.inside.size() < cap_) c.inside.push_back(seen_by(b[q], v[flagged_[f].at + size_t(bit) % 8]));
            else c.overflow = true;
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

namespace {

// Sample places on each side of a rank's place: four standard deviations
// of where the rank falls in a sample of this size (at most 256 for the
// full sample). Each bracket then holds about 0.8 % of the values.
size_t sample_reach(size_t S) { return std::max<size_t>(4, S / 256); }

// The ends of the bracket of a rank among n values, from the sorted sample.
std::pair<double, double> bracket_of(const std::vector<double> &sorted, size_t n, size_t rank, size_t reach) {
    const size_t S = sorted.size();
    const size_t at = size_t(double(rank - 1) / double(n - 1) * double(S - 1));
    return {sorted[at > reach ? at - reach : 0], sorted[std::min(S - 1, at + reach)]};
}

bool sampled(size_t n, size_t S) { return n >= 4 * kRankSample && S >= 1024; }

}  // namespace

// Each rank is bracketed between two values of the sample as its query
// sees it; the walk counts the values below and at each bracket's ends and
// keeps those strictly inside it (a small share), among which the rank is
// then found. Ranks that fall in one bracket share it (the two middle
// values of an even count).
RankSearch::RankSearch(size_t n, const std::vector<double> &raw_sample, const std::vector<RankQuery> &queries)
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
        const auto [lo, hi] = bracket_of(sample, n, q.rank, reach);
        size_t k = 0;
        while (k < distinct.size() && !(distinct[k].seen == q.seen && distinct[k].center == q.center &&
                                        distinct[k].lo == lo && distinct[k].hi == hi))
            k++;
        if (k == distinct.size()) distinct.push_back({q.seen, q.center, lo, hi});
        slot_[r] = k;
    }
    walk_ = std::make_unique<IntervalWalk>(std::move(distinct), n / 64);
}

std::vector<double> RankSearch::resolve(const std::vector<RankQuery> &queries, std::vector<size_t> &missed) const {
    std::vector<double> out(queries_.size());
    missed.clear();
    for (size_t r = 0; r < queries_.size(); r++) {
        if (!walk_) {
            missed.push_back(r);
            continue;
        }
        const Interval &b = walk_->interval(slot_[r]);
        IntervalCounts c = walk_->counts(slot_[r]);
        size_t k = r < queries.size() ? queries[r].rank : 0;
        if (k == 0 || k <= c.below || c.overflow) {
            missed.push_back(r);
            continue;
        }
        k -= c.below;
        if (k <= c.at_lo) {
            out[r] = b.lo;
            continue;
        }
        k -= c.at_lo;
        if (k <= c.inside.size()) {
            std::nth_element(c.inside.begin(), c.inside.begin() + ptrdiff_t(k - 1), c.inside.end());
            out[r] = c.inside[k - 1];
            continue;
        }
        k -= c.inside.size();
        if (b.lo < b.hi && k <= c.at_hi) out[r] = b.hi;
        else missed.push_back(r);
    }
    return out;
}

// The median m of the values lies in [m_lo, m_hi] and the median of
// |v − m| about t, in [t_lo, t_hi], both guessed from the sample. The
// values at distance t_lo to t_hi from any such m lie in [A, B] below it
// and [C, D] above it (A = m_lo − t_hi, B = m_hi − t_lo, C = m_lo + t_lo,
// D = m_hi + t_hi): the walk keeps those and counts the rest, the values
// nearer m (between B and C) and farther (below A, above D). With m known
// after the walk, the distances of the kept values are exact, those of the
// values nearer at most max(m − B, C − m), those of the farther ones at
// least min(m − A, D − m) (subtraction rounds monotonically): enough to
// rank them when the guesses held.
MadSearch::MadSearch(size_t n, const std::vector<double> &raw_sample) : n_(n) {
    const size_t S = raw_sample.size();
    if (!sampled(n, S)) return;
    const size_t reach = sample_reach(S);
    std::vector<double> sample(raw_sample);
    std::sort(sample.begin(), sample.end());
    const auto m_lo = bracket_of(sample, n, (n + 1) / 2, reach).first;
    const auto m_hi = bracket_of(sample, n, n / 2 + 1, reach).second;
    const double m_mid = sample[(S - 1) / 2];
    for (double &v : sample) v = std::fabs(v - m_mid);
    std::sort(sample.begin(), sample.end());
    // The distances are guessed about a guessed median: twice the reach,
    // and room for four times as many values as a rank's bracket.
    const auto t_lo = bracket_of(sample, n, (n + 1) / 2, 2 * reach).first;
    const auto t_hi = bracket_of(sample, n, n / 2 + 1, 2 * reach).second;
    if (!(t_lo > m_hi - m_lo)) return;  // no values nearer m than the kept ones: walk again
    walk_ = std::make_unique<IntervalWalk>(
        std::vector<Interval>{{Seen::as_is, 0.0, m_lo - t_hi, m_hi - t_lo}, {Seen::as_is, 0.0, m_lo + t_lo, m_hi + t_hi}},
        n / 16);
}

bool MadSearch::resolve(double m, size_t n_walked, double &mad) const {
    if (!walk_ || !std::isfinite(m) || n_walked == 0) return false;
    const Interval &below = walk_->interval(0), &above = walk_->interval(1);
    const IntervalCounts &lc = walk_->counts(0), &uc = walk_->counts(1);
    if (lc.overflow || uc.overflow || !(below.hi < m) || !(above.lo > m)) return false;
    // The distances known exactly, each with how many values have it.
    std::vector<std::pair<double, size_t>> known;
    known.reserve(lc.inside.size() + uc.inside.size() + 4);
    known.push_back({m - below.lo, lc.at_lo});
    if (below.lo < below.hi) known.push_back({m - below.hi, lc.at_hi});
    for (double v : lc.inside) known.push_back({m - v, 1});
    known.push_back({above.lo - m, uc.at_lo});
    if (above.lo < above.hi) known.push_back({above.hi - m, uc.at_hi});
    for (double v : uc.inside) known.push_back({v - m, 1});
    std::sort(known.begin(), known.end());
    // The values between B and C: those below C not already counted at or
    // below B.
    const size_t nearer = uc.below - lc.below - lc.at_lo - lc.inside.size() - (below.lo < below.hi ? lc.at_hi : 0);
    const double nearer_at_most = std::max(m - below.hi, above.lo - m);
    const double farther_at_least = std::min(m - below.lo, above.hi - m);
    auto rank_value = [&](size_t rank, double &v) {
        if (rank <= nearer) return false;
        size_t seen = nearer;
        for (const auto &[w, count] : known) {
            seen += count;
            if (seen >= rank) {
                // Exact only where no nearer value lies beyond w and no
                // farther one before it (equal ones rank the same).
                if (w < nearer_at_most || w > farther_at_least) return false;
                v = w;
                return true;
            }
        }
        return false;
    };
    double a = 0, b = 0;
    if (n_walked % 2 == 1) {
        if (!rank_value(n_walked / 2 + 1, a)) return false;
        mad = a;
        return true;
    }
    if (!rank_value(n_walked / 2, a) || !rank_value(n_walked / 2 + 1, b)) return false;
    mad = (a + b) / 2.0;
    return true;
}

std::vector<double> select_ranks(const ValueStream &values, size_t n, const std::vector<double> &sample,
                                 const std::vector<RankQuery> &queries) {
    RankSearch search(n, sample, queries);
    if (search.walking()) values([&](const double *v, size_t len) { search.add(v, len); });
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
