// The histograms' bins, every form against the definition, and how the
// forms are chosen.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "bins.h"
#include "dispatch.h"

TEST(HistogramBins, LanesTakenArePowersOfTwoUpToTheWidestAndEachFormTakesThem) {
    const size_t most = widest_lanes();
    EXPECT_TRUE(most == 2 || most == 4 || most == 8);
    EXPECT_EQ(lanes_taken(0), most);
    EXPECT_EQ(lanes_taken(1), 1u);
    EXPECT_EQ(lanes_taken(3), 2u);
    EXPECT_EQ(lanes_taken(7), std::min<size_t>(4, most));
    EXPECT_EQ(lanes_taken(100), most);
    // Highway's dynamic dispatch and the forms asked for by lanes agree
    // (two lanes take Highway's one-lane fallback without SSSE3).
    EXPECT_EQ(bin_lanes(0), most);
    for (size_t lanes = 1; lanes <= most; lanes *= 2)
        EXPECT_EQ(bin_lanes(lanes), lanes == 2 && hwy_target(2) == 0 ? 1 : lanes);
}

// The signed differences' bins: the ends and values a hair inside and
// outside them, both zeros, not-a-number and infinities, in every lane.
TEST(HistogramBins, EveryFormBinsDifferencesAsTheDefinition) {
    const double lo = -2.0, hi = 2.0;
    const int bins = 7;
    const double scale = bins / (hi - lo), last = bins - 1;
    std::vector<double> v = {lo, hi, 0.0, -0.0, NAN, INFINITY, -INFINITY, 5.0, -5.0};
    for (double e : {lo, hi, -1.0, 0.5})
        v.push_back(std::nextafter(e, 0.0)), v.push_back(std::nextafter(e, e * 2));
    for (int i = 0; i < 200; i++) v.push_back(std::ldexp(double((i * 7919) % 4099) - 2049.0, -10));
    for (size_t n : {size_t(0), size_t(1), size_t(3), size_t(8), size_t(13), v.size()})
        for (size_t lanes : {0, 1, 2, 4, 8}) {
            std::vector<int32_t> got(n + 1, -7);
            diff_bins(v.data(), n, lo, hi, scale, bins, got.data(), lanes);
            for (size_t i = 0; i < n; i++) {
                const int32_t want = v[i] >= lo && v[i] <= hi ? clamped_bin(v[i], lo, scale, last) : bins;
                EXPECT_EQ(got[i], want) << v[i] << ", " << lanes << " lanes";
            }
            EXPECT_EQ(got[n], -7) << "written past the values";
        }
    EXPECT_EQ(clamped_bin(hi, lo, scale, last), bins - 1);  // the last bin holds its upper end
    EXPECT_EQ(clamped_bin(NAN, lo, scale, last), 0);
}

// The density's cells: values below, on and beyond the edges on each axis.
TEST(HistogramBins, EveryFormPlacesTheDensityAsTheDefinition) {
    const double lo = -1.0, scale = 2.5;
    const int bins = 5;
    std::vector<double> x, y;
    for (int i = 0; i < 61; i++) {
        x.push_back(lo + (i % 13) * 0.2 - 0.4);
        y.push_back(i % 3 == 0 ? lo : i % 3 == 1 ? 9.0 : lo + i * 0.03);
    }
    for (size_t n : {size_t(0), size_t(1), size_t(5), size_t(8), size_t(9), x.size()})
        for (size_t lanes : {0, 1, 2, 4, 8}) {
            std::vector<int32_t> got(n + 1, -7);
            density_bins(x.data(), y.data(), n, lo, scale, bins, got.data(), lanes);
            for (size_t i = 0; i < n; i++)
                EXPECT_EQ(got[i], clamped_bin(y[i], lo, scale, bins - 1) * bins + clamped_bin(x[i], lo, scale, bins - 1))
                    << x[i] << ", " << y[i] << ", " << lanes << " lanes";
            EXPECT_EQ(got[n], -7) << "written past the positions";
        }
}
