#include "select.h"

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

std::vector<double> select_ranks(const double *v, size_t n, Seen seen, double center,
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
