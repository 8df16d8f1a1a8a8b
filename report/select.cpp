#include "select.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

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
std::vector<double> select_by_bits(const double *v, size_t n, Seen seen, double center,
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
        for (size_t i = 0; i < n; i++) {
            const uint64_t k = key_of(seen_value(v[i], seen, center));
            const size_t digit = size_t(k >> shift) & (kBuckets - 1);
            for (size_t r = 0; r < R; r++)
                if (known == 0 || (k >> (64 - known)) == (prefix[r] >> (64 - known))) count[r][digit]++;
        }
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

// Values in the sample that brackets the ranks.
constexpr size_t kSample = 262144;

}  // namespace

// Usually one pass: each rank is bracketed between two values of a regular
// sample of the values as its query sees them; the pass counts the values
// below and at each bracket's ends and keeps those strictly inside it (a
// small share), among which the rank is then found. A rank outside its
// bracket, or a bracket holding too many values, is found bit by bit instead.
std::vector<double> select_ranks(const double *v, size_t n, const std::vector<RankQuery> &queries) {
    const size_t R = queries.size();
    std::vector<double> out(R);
    if (n < 4 * kSample) {
        for (size_t r = 0; r < R; r++)
            out[r] = select_by_bits(v, n, queries[r].seen, queries[r].center, {queries[r].rank})[0];
        return out;
    }
    // Sample places on each side of a rank's place: four standard deviations
    // of where the rank falls in a sample of this size (at most 256). Each
    // bracket then holds about 0.8 % of the values.
    const size_t reach = 1024;
    struct Bracket {
        Seen seen;
        double center, lo, hi;
        size_t below = 0, at_lo = 0, at_hi = 0;  // values below lo, equal to lo, equal to hi
        std::vector<double> inside;              // the values strictly between lo and hi
        bool overflow = false;
    };
    std::vector<Bracket> br(R);
    std::vector<double> sample(kSample);
    const size_t stride = n / kSample;
    for (size_t r = 0; r < R; r++) {
        const RankQuery &q = queries[r];
        if (r == 0 || q.seen != queries[r - 1].seen || q.center != queries[r - 1].center) {
            for (size_t i = 0; i < kSample; i++) sample[i] = seen_value(v[i * stride], q.seen, q.center);
            std::sort(sample.begin(), sample.end());
        }
        const size_t at = size_t(double(q.rank - 1) / double(n - 1) * double(kSample - 1));
        br[r].seen = q.seen;
        br[r].center = q.center;
        br[r].lo = sample[at > reach ? at - reach : 0];
        br[r].hi = sample[std::min(kSample - 1, at + reach)];
    }
    const size_t cap = n / 64;
    // Ranks that fall in one bracket share it (the two middle values of an
    // even count).
    std::vector<size_t> slot(R);
    std::vector<size_t> distinct;
    for (size_t r = 0; r < R; r++) {
        size_t q = 0;
        while (q < distinct.size() &&
               !(br[distinct[q]].seen == br[r].seen && br[distinct[q]].center == br[r].center &&
                 br[distinct[q]].lo == br[r].lo && br[distinct[q]].hi == br[r].hi))
            q++;
        if (q == distinct.size()) distinct.push_back(r);
        slot[r] = distinct[q];
    }
    // Up to four brackets a walk, two values at a time (GCC vector
    // extensions: SSE2 on x86-64), their ends and counts in registers. The
    // counts take no branch: whether a value lies below a bracket is as
    // unforeseeable as a coin for the median.
    typedef double d2 __attribute__((vector_size(16)));
    typedef long long m2 __attribute__((vector_size(16)));
    auto walk = [&](auto m_const, const size_t *which) {
        constexpr size_t m = decltype(m_const)::value;
        d2 lo[m], hi[m], center[m];
        Seen seen[m];
        m2 below[m], at_lo[m], at_hi[m];
        for (size_t q = 0; q < m; q++) {
            const Bracket &b = br[which[q]];
            lo[q] = d2{b.lo, b.lo}, hi[q] = d2{b.hi, b.hi}, center[q] = d2{b.center, b.center}, seen[q] = b.seen;
            below[q] = at_lo[q] = at_hi[q] = m2{0, 0};
        }
        const m2 no_sign = {0x7fffffffffffffffLL, 0x7fffffffffffffffLL};
        auto keep = [&](size_t q, double w) {
            Bracket &b = br[which[q]];
            if (b.inside.size() < cap) b.inside.push_back(w);
            else b.overflow = true;
        };
        size_t i = 0;
        for (; i + 1 < n; i += 2) {
            d2 x;
            std::memcpy(&x, v + i, sizeof x);
#pragma GCC unroll 4
            for (size_t q = 0; q < m; q++) {
                // Each bracket sees every value the same way: a foreseen branch.
                const d2 w = seen[q] == Seen::as_is       ? x
                             : seen[q] == Seen::magnitude ? (d2)((m2)x & no_sign)
                                                          : (d2)((m2)(x - center[q]) & no_sign);
                below[q] -= (m2)(w < lo[q]);
                at_lo[q] -= (m2)(w == lo[q]);
                at_hi[q] -= (m2)(w == hi[q]);
                const m2 in = (m2)(w > lo[q]) & (m2)(w < hi[q]);
                if ((in[0] | in[1]) != 0) [[unlikely]] {
                    if (in[0]) keep(q, w[0]);
                    if (in[1]) keep(q, w[1]);
                }
            }
        }
        for (size_t q = 0; q < m; q++) {
            Bracket &b = br[which[q]];
            b.below = size_t(below[q][0] + below[q][1]);
            b.at_lo = size_t(at_lo[q][0] + at_lo[q][1]);
            b.at_hi = size_t(at_hi[q][0] + at_hi[q][1]);
            if (i < n) {  // the last value of an odd count
                const double w = seen_value(v[i], b.seen, b.center);
                b.below += w < b.lo;
                b.at_lo += w == b.lo;
                b.at_hi += w == b.hi;
                if (w > b.lo && w < b.hi) keep(q, w);
            }
        }
    };
    for (size_t first = 0; first < distinct.size(); first += 4) {
        const size_t *which = &distinct[first];
        switch (std::min<size_t>(4, distinct.size() - first)) {
            case 1: walk(std::integral_constant<size_t, 1>(), which); break;
            case 2: walk(std::integral_constant<size_t, 2>(), which); break;
            case 3: walk(std::integral_constant<size_t, 3>(), which); break;
            default: walk(std::integral_constant<size_t, 4>(), which); break;
        }
    }
    std::vector<size_t> missed;
    for (size_t r = 0; r < R; r++) {
        Bracket &b = br[slot[r]];
        size_t k = queries[r].rank;
        if (k <= b.below || b.overflow) {
            missed.push_back(r);
            continue;
        }
        k -= b.below;
        if (k <= b.at_lo) {
            out[r] = b.lo;
            continue;
        }
        k -= b.at_lo;
        if (k <= b.inside.size()) {
            std::nth_element(b.inside.begin(), b.inside.begin() + ptrdiff_t(k - 1), b.inside.end());
            out[r] = b.inside[k - 1];
            continue;
        }
        k -= b.inside.size();
        if (b.lo < b.hi && k <= b.at_hi) out[r] = b.hi;
        else missed.push_back(r);
    }
    for (size_t r : missed) out[r] = select_by_bits(v, n, queries[r].seen, queries[r].center, {queries[r].rank})[0];
    return out;
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

double median(const double *v, size_t n, Seen seen, double center) {
    if (n % 2 == 1) return select_ranks(v, n, seen, center, {n / 2 + 1})[0];
    const auto m = select_ranks(v, n, seen, center, {n / 2, n / 2 + 1});
    return (m[0] + m[1]) / 2.0;
}
