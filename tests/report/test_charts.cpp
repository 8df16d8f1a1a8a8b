// The data behind the figures.
#include <gtest/gtest.h>

#include <cmath>

#include "charts.h"
#include "maps.h"

TEST(Charts, ProfilesLeaveGapsForFiguresThatAreNotFinite) {
    std::vector<LineRow> rows = {{0, 1.5, 1.0, 0.9, 0.81}, {1, NAN, HUGE_VAL, NAN, NAN}, {2, 2.5, 1.1, 0.8, 0.64}};
    const Figure f = profiles_figure(rows, "m");
    ASSERT_EQ(f.data.size(), 1u);
    const std::string &d = f.data[0].second;
    // St. Dev. block: line 0, a segment break, line 2; never a row for line 1.
    EXPECT_NE(d.find("# St. Dev. by line\n0\t1.5\n\n2\t2.5\n"), std::string::npos) << d;
    EXPECT_EQ(d.find("\n1\t"), std::string::npos) << d;
    EXPECT_NE(f.script.find("index 3"), std::string::npos);
}

TEST(Charts, SignedHistogramCountsEveryDifferenceOnceAndTheOutliersApart) {
    std::vector<double> d;
    for (int i = 0; i < 1000; i++) d.push_back((i % 21 - 10) * 0.1);  // -1.0 to 1.0
    d.push_back(50.0);
    d.push_back(-70.0);
    Headline h;
    h.min_diff = -70.0;
    h.max_diff = 50.0;
    h.clip = 1.0;
    const DiffHistogram hist = diff_histogram(d.data(), d.size(), h, 40);
    long long total = 0;
    for (long long c : hist.counts) total += c;
    EXPECT_EQ(hist.outside, 2);
    EXPECT_EQ(total, 1000);
    EXPECT_EQ(hist.lo, -1.25);
    EXPECT_EQ(hist.hi, 1.25);
    // All differences equal: an axis of one unit about them.
    Headline flat;
    flat.min_diff = flat.max_diff = flat.clip = 2.0;
    const std::vector<double> same(5, 2.0);
    const DiffHistogram one = diff_histogram(same.data(), same.size(), flat, 10);
    EXPECT_EQ(one.outside, 0);
    EXPECT_EQ(one.lo, 1.5);
    EXPECT_EQ(one.hi, 2.5);
}

TEST(Charts, MapsAndScriptsQuoteTheirTexts) {
    EXPECT_EQ(gp_quote("a \"b\" c\\d `x` it's"), "'a \"b\" c\\d `x` it''s'");
    EXPECT_EQ(gp_quote("l1\nl2"), "'l1'.\"\\n\".'l2'");
    MapCells m;
    m.lines = 2, m.cols = 3, m.factor = 4;
    m.values = {0, 0, 0, 0, 0, 0};
    const Figure f = map_figure("diff_map", "second - first", m, "m");
    EXPECT_EQ(f.data[0].second.size(), 6 * sizeof(float));
    EXPECT_NE(f.script.find("clip = 1\n"), std::string::npos) << "cells all 0 get a usable colour range";
    EXPECT_NE(f.script.find("binary array=(3,2) dx=4 dy=4"), std::string::npos) << f.script;
    EXPECT_EQ(f.data.size(), 1u) << "no relief without a shade";
}

TEST(Charts, BlockMeansAverageWhatEachCellHolds) {
    // 5 lines of 7 columns to at most 3 cells a side: cells of 3 × 3
    // positions, those at the edges holding fewer.
    const int lines = 5, cols = 7;
    BlockMeans b(lines, cols, 3);
    ASSERT_EQ(b.factor(), 3);
    ASSERT_EQ(b.cols(), 3);
    ASSERT_EQ(b.lines(), 2);
    std::vector<double> line(cols);
    for (int i = 0; i < lines; i++) {
        for (int j = 0; j < cols; j++) line[size_t(j)] = i * 10 + j;
        b.add_line(i, line.data());
    }
    const std::vector<float> m = b.means();
    for (int cl = 0; cl < 2; cl++)
        for (int cc = 0; cc < 3; cc++) {
            double sum = 0;
            int count = 0;
            for (int i = cl * 3; i < std::min(lines, cl * 3 + 3); i++)
                for (int j = cc * 3; j < std::min(cols, cc * 3 + 3); j++) sum += i * 10 + j, count++;
            EXPECT_FLOAT_EQ(m[size_t(cl * 3 + cc)], float(sum / count)) << cl << "," << cc;
        }
}

TEST(Charts, BlockMeansWithAMaskAverageTheKeptValuesAlone) {
    // The same cells with a mask: the first line of cells keeps every third
    // position, the last cell of the second line of cells keeps none.
    const int lines = 5, cols = 7;
    BlockMeans b(lines, cols, 3);
    std::vector<double> line(cols);
    std::vector<unsigned char> keep(cols);
    auto kept = [](int i, int j) { return i < 3 ? (i * cols + j) % 3 == 0 : j < 6; };
    for (int i = 0; i < lines; i++) {
        for (int j = 0; j < cols; j++) line[size_t(j)] = i * 10 + j, keep[size_t(j)] = kept(i, j);
        b.add_line(i, line.data(), keep.data());
    }
    const std::vector<float> m = b.means();
    for (int cl = 0; cl < 2; cl++)
        for (int cc = 0; cc < 3; cc++) {
            double sum = 0;
            int count = 0;
            for (int i = cl * 3; i < std::min(lines, cl * 3 + 3); i++)
                for (int j = cc * 3; j < std::min(cols, cc * 3 + 3); j++)
                    if (kept(i, j)) sum += i * 10 + j, count++;
            if (count == 0) {
                EXPECT_TRUE(std::isnan(m[size_t(cl * 3 + cc)])) << cl << "," << cc;
            } else {
                EXPECT_FLOAT_EQ(m[size_t(cl * 3 + cc)], float(sum / count)) << cl << "," << cc;
            }
        }
    EXPECT_TRUE(std::isnan(m[5]));
}
