#include "select.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
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
// sample of the values; the pass counts the values below and at each
// bracket's ends and keeps those strictly inside it (a small share), among
// which the rank is then found. A rank outside its bracket, or a bracket
// holding too many values, is found bit by bit instead.
std::vector<double> select_ranks(const double *v, size_t n, Seen seen, double center,
                                 const std::vector<size_t> &ranks) {
    const size_t R = ranks.size();
    if (n < 4 * kSample) return select_by_bits(v, n, seen, center, ranks);
    std::vector<double> sample(kSample);
    const size_t stride = n / kSample;
    for (size_t i = 0; i < kSample; i++) sample[i] = seen_value(v[i * stride], seen, center);
    std::sort(sample.begin(), sample.end());
    // Sample places on each side of a rank's place: four standard deviations
    // of where the rank falls in a sample of this size (at most 256). Each
    // bracket then holds about 0.8 % of the values.
    const size_t reach = 1024;
    struct Bracket {
        double lo, hi;
        size_t below = 0, at_lo = 0, at_hi = 0;  // values below lo, equal to lo, equal to hi
        std::vector<double> inside;              // the values strictly between lo and hi
        bool overflow = false;
    };
    std::vector<Bracket> br(R);
    for (size_t r = 0; r < R; r++) {
        const size_t at = size_t(double(ranks[r] - 1) / double(n - 1) * double(kSample - 1));
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
        while (q < distinct.size() && !(br[distinct[q]].lo == br[r].lo && br[distinct[q]].hi == br[r].hi)) q++;
        if (q == distinct.size()) distinct.push_back(r);
        slot[r] = distinct[q];
    }
    auto pass = [&](auto seen_as) {
        // Up to four brackets at a time, their ends and counts in registers.
        auto walk = [&](auto m_const, const size_t *which) {
            constexpr size_t m = decltype(m_const)::value;
            double lo[m], hi[m];
            size_t below[m] = {}, at_lo[m] = {}, at_hi[m] = {};
            for (size_t q = 0; q < m; q++) lo[q] = br[which[q]].lo, hi[q] = br[which[q]].hi;
            for (size_t i = 0; i < n; i++) {
                const double w = seen_as(v[i]);
                // Counted without branches: whether a value lies below a
                // bracket is as unforeseeable as a coin for the median.
                for (size_t q = 0; q < m; q++) {
                    below[q] += w < lo[q];
                    at_lo[q] += w == lo[q];
                    at_hi[q] += w == hi[q];
                    if (w > lo[q] && w < hi[q]) [[unlikely]] {
                        Bracket &b = br[which[q]];
                        if (b.inside.size() < cap) b.inside.push_back(w);
                        else b.overflow = true;
                    }
                }
            }
            for (size_t q = 0; q < m; q++)
                br[which[q]].below = below[q], br[which[q]].at_lo = at_lo[q], br[which[q]].at_hi = at_hi[q];
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
    };
    // One loop for each way of seeing the values, each compiled on its own.
    switch (seen) {
        case Seen::magnitude: pass([](double x) { return std::fabs(x); }); break;
        case Seen::off_center: pass([center](double x) { return std::fabs(x - center); }); break;
        default: pass([](double x) { return x; }); break;
    }
    std::vector<double> out(R);
    std::vector<size_t> missed;
    for (size_t r = 0; r < R; r++) {
        Bracket &b = br[slot[r]];
        size_t k = ranks[r];
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
    if (!missed.empty()) {
        std::vector<size_t> again;
        for (size_t r : missed) again.push_back(ranks[r]);
        const auto found = select_by_bits(v, n, seen, center, again);
        for (size_t m = 0; m < missed.size(); m++) out[missed[m]] = found[m];
    }
    return out;
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
