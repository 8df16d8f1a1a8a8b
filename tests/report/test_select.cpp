// Exact ranks against sorting.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

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
