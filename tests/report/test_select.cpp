// Exact ranks against sorting.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>

#include "edge_values.h"
#include "select.h"

namespace {

std::vector<double> seen_sorted(std::vector<double> v, Seen seen, double c) {
    for (double &x : v) x = seen == Seen::magnitude ? std::fabs(x) : seen == Seen::off_center ? std::fabs(x - c) : x;
    std::sort(v.begin(), v.end());
    return v;
}

void expect_every_rank(const std::vector<double> &v, Seen seen, double c) {
    const auto sorted = seen_sorted(v, seen, c);
    std::vector<size_t> ranks;
    for (size_t r = 1; r <= v.size(); r++) ranks.push_back(r);
    const auto got = select_ranks(v.data(), v.size(), seen, c, ranks);
    for (size_t r = 0; r < v.size(); r++) EXPECT_EQ(got[r], sorted[r]) << "rank " << r + 1;
}

}  // namespace

TEST(Select, EveryRankOfAwkwardValues) {
    // Negatives, both zeros, ties, tiny and huge magnitudes, infinities.
    const std::vector<double> v = {3.5, -2.0, 0.0, -0.0, 3.5, 1e-300, -1e300, 7.25, -2.0, 0.1, 0.30000000000000004,
                                   0.3, HUGE_VAL, -HUGE_VAL, 5e-324};
    expect_every_rank(v, Seen::as_is, 0.0);
    expect_every_rank(v, Seen::magnitude, 0.0);
    expect_every_rank(v, Seen::off_center, 0.2);
}

TEST(Select, RandomArraysAgreeWithSorting) {
    std::mt19937_64 gen(7);
    for (size_t n : {1, 2, 3, 10, 999, 4096}) {
        std::vector<double> v(n);
        std::normal_distribution<double> d(0.4, 2.0);
        // Values on a coarse grid give many ties, as DEM differences do.
        for (double &x : v) x = std::round(d(gen) * 10.0) * 0.1;
        for (Seen seen : {Seen::as_is, Seen::magnitude, Seen::off_center}) {
            const auto sorted = seen_sorted(v, seen, 0.4);
            const std::vector<size_t> ranks = {1, (n + 1) / 2, nearest_rank(90, n), n};
            const auto got = select_ranks(v.data(), n, seen, 0.4, ranks);
            for (size_t k = 0; k < ranks.size(); k++) EXPECT_EQ(got[k], sorted[ranks[k] - 1]) << n;
        }
    }
}

TEST(Select, NearestRankAndMedian) {
    EXPECT_EQ(nearest_rank(90, 10), 9u);
    EXPECT_EQ(nearest_rank(90, 11), 10u);   // ⌈9.9⌉
    EXPECT_EQ(nearest_rank(95, 1), 1u);
    EXPECT_EQ(nearest_rank(98, 100), 98u);
    EXPECT_EQ(nearest_rank(90, 101), 91u);  // ⌈90.9⌉
    EXPECT_EQ(nearest_rank(95, 10000000000000000000ull), 9500000000000000000ull);
    const std::vector<double> odd = {5, 1, 4, 2, 3}, even = {5, 1, 4, 2, 3, 10};
    EXPECT_EQ(median(odd.data(), odd.size(), Seen::as_is, 0), 3.0);
    EXPECT_EQ(median(even.data(), even.size(), Seen::as_is, 0), 3.5);
    EXPECT_EQ(median(even.data(), even.size(), Seen::off_center, 3.5), 1.5);  // |d − 3.5|: 0.5 0.5 1.5 1.5 2.5 6.5
}

TEST(Select, LargeArraysThroughTheSampleAndWhereTheSampleMisleads) {
    const size_t n = 1100007;
    std::mt19937_64 gen(11);
    std::normal_distribution<double> d(-1.0, 3.0);
    std::vector<double> v(n);
    for (double &x : v) x = std::round(d(gen) * 4.0) / 4.0;  // heavy ties
    for (int round = 0; round < 2; round++) {
        if (round == 1) {
            // Every value the regular sample sees is 0: its brackets hold no rank.
            for (size_t i = 0; i < n; i += n / 262144) v[i] = 0.0;
            for (size_t i = 0; i < n; i++)
                if (i % (n / 262144) != 0 && v[i] == 0.0) v[i] = 0.5;
        }
        for (Seen seen : {Seen::as_is, Seen::magnitude, Seen::off_center}) {
            const auto sorted = seen_sorted(v, seen, -1.0);
            const std::vector<size_t> ranks = {1, n / 2, n / 2 + 1, nearest_rank(90, n), nearest_rank(98, n), n};
            const auto got = select_ranks(v.data(), n, seen, -1.0, ranks);
            for (size_t k = 0; k < ranks.size(); k++) EXPECT_EQ(got[k], sorted[ranks[k] - 1]) << "rank " << ranks[k];
        }
        // Queries of every kind in one walk (an odd count: the last value alone).
        const auto as_is = seen_sorted(v, Seen::as_is, 0), mag = seen_sorted(v, Seen::magnitude, 0),
                   off = seen_sorted(v, Seen::off_center, 0.25);
        const auto got = select_ranks(v.data(), n,
                                      {{Seen::as_is, 0, n}, {Seen::magnitude, 0, nearest_rank(95, n)},
                                       {Seen::off_center, 0.25, n / 2}, {Seen::as_is, 0, 1}, {Seen::magnitude, 0, n}});
        EXPECT_EQ(got[0], as_is[n - 1]);
        EXPECT_EQ(got[1], mag[nearest_rank(95, n) - 1]);
        EXPECT_EQ(got[2], off[n / 2 - 1]);
        EXPECT_EQ(got[3], as_is[0]);
        EXPECT_EQ(got[4], mag[n - 1]);
    }
}

namespace {

// The values handed out in blocks of uneven lengths (odd ones too), as
// lines of a raster are; counts the walks.
struct Blocks {
    const std::vector<double> &v;
    size_t walks = 0;
    ValueStream stream() {
        return [this](const ValueBlock &take) {
            walks++;
            size_t at = 0, len = 1;
            while (at < v.size()) {
                const size_t m = std::min(len, v.size() - at);
                take(v.data() + at, m);
                at += m;
                len = len % 9973 + 2;  // 1, 3, 5, ... then again
            }
        };
    }
};

std::vector<double> regular_sample(const std::vector<double> &v) {
    std::vector<double> s;
    for (size_t i = 0; i < v.size() && s.size() < kRankSample; i += std::max<size_t>(1, v.size() / kRankSample))
        s.push_back(v[i]);
    return s;
}

void expect_streamed(const std::vector<double> &v, const std::vector<double> &sample, const char *what) {
    const size_t n = v.size();
    const std::vector<size_t> ranks = {1, (n + 1) / 2, n / 2 + 1, nearest_rank(90, n), nearest_rank(98, n), n};
    for (Seen seen : {Seen::as_is, Seen::magnitude, Seen::off_center}) {
        const auto sorted = seen_sorted(v, seen, 0.0);
        std::vector<RankQuery> q;
        for (size_t r : ranks) q.push_back({seen, 0.0, r});
        Blocks b{v};
        const auto got = select_ranks(b.stream(), n, sample, q);
        for (size_t k = 0; k < ranks.size(); k++) EXPECT_EQ(got[k], sorted[ranks[k] - 1]) << what << " rank " << ranks[k];
    }
}

}  // namespace

TEST(Select, StreamedInUnevenBlocksWhateverTheValuesAndTheSample) {
    std::mt19937_64 gen(5);
    for (size_t n : {size_t(1) << 20, (size_t(1) << 20) + 1}) {  // an even and an odd count, both sampled
        std::vector<double> v(n);
        // The zeros of both signs only (equal values, whichever is returned):
        // every rank a tie.
        for (size_t i = 0; i < n; i++) v[i] = gen() % 3 == 0 ? -0.0 : 0.0;
        expect_streamed(v, regular_sample(v), "zeros");
        // Every value in one narrow band of bit patterns: all in one bucket
        // of the leading bits, each distinct in the last ones.
        for (size_t i = 0; i < n; i++) v[i] = std::nextafter(1.0, 2.0) + double(gen() % 4096) * 0x1p-52;
        expect_streamed(v, regular_sample(v), "one band");
        // Heavy ties about zero, with a sample that is all one value and
        // one that lies about the values (both only slow the search down).
        for (size_t i = 0; i < n; i++) v[i] = double(int(gen() % 7) - 3) * 0.1;
        expect_streamed(v, std::vector<double>(kRankSample, 0.2), "constant sample");
        std::vector<double> wrong(kRankSample);
        for (double &w : wrong) w = double(gen() % 1000) * 1e6;
        expect_streamed(v, wrong, "misleading sample");
        expect_streamed(v, {}, "no sample");
    }
}

TEST(Select, ARegularSampleFindsEveryRankInOneWalk) {
    // The differences of smooth rasters: one walk for up to four brackets.
    std::mt19937_64 gen(9);
    std::normal_distribution<double> d(0.4, 2.0);
    std::vector<double> v((size_t(1) << 20) + 3);
    for (double &x : v) x = std::round(d(gen) * 100.0) / 100.0;
    const size_t n = v.size();
    Blocks b{v};
    const auto got = select_ranks(b.stream(), n, regular_sample(v),
                                  {{Seen::as_is, 0, n / 2}, {Seen::as_is, 0, n / 2 + 1}, {Seen::magnitude, 0, nearest_rank(90, n)},
                                   {Seen::magnitude, 0, nearest_rank(95, n)}, {Seen::magnitude, 0, nearest_rank(98, n)}});
    EXPECT_EQ(b.walks, 1u);
    const auto as_is = seen_sorted(v, Seen::as_is, 0), mag = seen_sorted(v, Seen::magnitude, 0);
    EXPECT_EQ(got[0], as_is[n / 2 - 1]);
    EXPECT_EQ(got[1], as_is[n / 2]);
    EXPECT_EQ(got[2], mag[nearest_rank(90, n) - 1]);
    EXPECT_EQ(got[3], mag[nearest_rank(95, n) - 1]);
    EXPECT_EQ(got[4], mag[nearest_rank(98, n) - 1]);
    b.walks = 0;
    EXPECT_EQ(median(b.stream(), n, regular_sample(v), Seen::off_center, got[0]),
              [&] {
                  const auto off = seen_sorted(v, Seen::off_center, got[0]);
                  return n % 2 ? off[n / 2] : (off[n / 2 - 1] + off[n / 2]) / 2;
              }());
    EXPECT_EQ(b.walks, 1u);
}

TEST(Select, TheMadOfAnUnknownMedianIsExactOrLeftToAnotherWalk) {
    // The median of |v − m| sought in the walk that also finds m: whatever
    // the values and the sample, an answer is the sorted one, and a
    // representative sample gives one.
    std::mt19937_64 gen(13);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::exponential_distribution<double> skewed(3.0);
    const size_t sizes[] = {size_t(1) << 20, (size_t(1) << 20) + 1};
    struct Case {
        const char *what;
        std::function<double()> value;
        bool settles;  // a regular sample settles it during the walk
    };
    const Case cases[] = {
        {"normal, in centimetres", [&] { return std::round(normal(gen) * 100.0) / 100.0; }, true},
        {"skewed", [&] { return skewed(gen); }, true},
        {"clusters with rounding noise", [&] { return double(gen() % 40 + 1000) * 0.1 - 100.0; }, true},
        {"three values", [&] { return double(gen() % 3) * 0.1; }, true},
        // The median in the gap between two modes: its bracket spans the gap.
        {"two far modes", [&] { return gen() % 2 ? 5.0 + normal(gen) : -5.0 + 0.01 * normal(gen); }, false},
        {"most equal to the median", [&] { return gen() % 4 ? 2.0 : normal(gen); }, false},
    };
    for (size_t n : sizes)
        for (const Case &c : cases) {
            std::vector<double> v(n);
            for (double &x : v) x = c.value();
            const double m = [&] {
                const auto s = seen_sorted(v, Seen::as_is, 0);
                return n % 2 ? s[n / 2] : (s[n / 2 - 1] + s[n / 2]) / 2;
            }();
            const auto off = seen_sorted(v, Seen::off_center, m);
            const double want = n % 2 ? off[n / 2] : (off[n / 2 - 1] + off[n / 2]) / 2;
            std::vector<double> wrong(kRankSample);
            for (double &w : wrong) w = c.value() * 1.5 + 0.2;  // the right shape in the wrong place
            const std::vector<double> samples[] = {regular_sample(v), wrong};
            for (int k = 0; k < 2; k++) {
                MadSearch search(n, samples[k]);
                Blocks b{v};
                b.stream()([&](const double *p, size_t len) { search.add(p, len); });
                double mad = -1;
                const bool settled = search.resolve(m, mad);
                if (settled) {
                    EXPECT_EQ(mad, want) << c.what << " n=" << n;
                }
                if (k == 0 && c.settles) {
                    EXPECT_TRUE(settled) << c.what << " n=" << n;
                }
            }
        }
}

TEST(Select, IntervalCountsAreTheSameTwoFourOrEightValuesAtATime) {
    // Values on and next to the bounds, both zeros, not-a-number and
    // infinities, in every lane of the groups, walked in blocks of every
    // length up to past two groups of eight and against one to six
    // intervals of each view (the walk takes them four at a time).
    const std::vector<double> v = edge_values(4099, {-0.25, 0.0, 0.5, 1.0}, 11);
    const std::vector<Interval> all = {{Seen::as_is, 0, -0.25, 0.5},       {Seen::magnitude, 0, 0.0, 1.0},
                                       {Seen::off_center, 0.5, 0.0, 0.25}, {Seen::as_is, 0, 0.5, 0.5},
                                       {Seen::magnitude, 0, 0.5, 1.5},     {Seen::off_center, -0.25, 0.25, 0.75}};
    for (size_t m = 1; m <= all.size(); m++) {
        const std::vector<Interval> iv(all.begin(), all.begin() + ptrdiff_t(m));
        IntervalWalk plain(iv, v.size(), 1);  // lanes 1: the values left over alone
        for (size_t lanes : {size_t(2), size_t(3), size_t(4), size_t(7), size_t(8)}) {
            IntervalWalk w(iv, v.size(), lanes);
            size_t block = 1;
            for (size_t i = 0; i < v.size(); i += block, block = block % 19 + 1)
                w.add(v.data() + i, std::min(block, v.size() - i));
            if (lanes == 2) plain.add(v.data(), v.size());
            for (size_t q = 0; q < m; q++) {
                const IntervalCounts &a = w.counts(q), &b = plain.counts(q);
                const std::string at = "lanes " + std::to_string(lanes) + ", interval " + std::to_string(q);
                EXPECT_EQ(a.below, b.below) << at;
                EXPECT_EQ(a.at_lo, b.at_lo) << at;
                EXPECT_EQ(a.at_hi, b.at_hi) << at;
                EXPECT_EQ(a.inside, b.inside) << at;  // the same values in the same order
                EXPECT_FALSE(a.overflow) << at;
            }
        }
        // The plain walk against the definitions themselves.
        for (size_t q = 0; q < m; q++) {
            size_t below = 0, lo = 0, hi = 0;
            std::vector<double> inside;
            for (double x : v) {
                const double s = iv[q].seen == Seen::as_is       ? x
                                 : iv[q].seen == Seen::magnitude ? std::fabs(x)
                                                                 : std::fabs(x - iv[q].center);
                below += s < iv[q].lo;
                lo += s == iv[q].lo;
                hi += s == iv[q].hi;
                if (s > iv[q].lo && s < iv[q].hi) inside.push_back(s);
            }
            EXPECT_EQ(plain.counts(q).below, below) << q;
            EXPECT_EQ(plain.counts(q).at_lo, lo) << q;
            EXPECT_EQ(plain.counts(q).at_hi, hi) << q;
            EXPECT_EQ(plain.counts(q).inside, inside) << q;
        }
    }
}
