// The median and the NMAD, against sorting.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "robust.h"

TEST(Robust, MedianOfOddAndEvenCountsAndTheNmadAboutIt) {
    std::vector<double> odd = {5, -1, 3, 3, 9}, even = {4, 1, 2, 8};
    EXPECT_EQ(median_of(odd), 3.0);
    EXPECT_EQ(median_of(even), 3.0);  // (2 + 4) / 2
    std::vector<double> one = {-2.5};
    EXPECT_EQ(median_of(one), -2.5);
    // |v − 3| of {5, -1, 3, 3, 9}: {2, 4, 0, 0, 6}, median 2.
    std::vector<double> v = {5, -1, 3, 3, 9};
    EXPECT_EQ(nmad_about(v, 3.0), kNmadScale * 2.0);
    // Many values with ties, against sorting them.
    std::mt19937 rng(7);
    std::vector<double> many(10001);
    for (double &x : many) x = double(int(rng() % 201) - 100) * 0.25;
    std::vector<double> sorted = many;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(median_of(many), sorted[5000]);
    many.pop_back();
    sorted = many;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(median_of(many), (sorted[4999] + sorted[5000]) / 2);
}
