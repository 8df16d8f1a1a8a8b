// The data behind the figures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <cpl_conv.h>
#include <ogr_srs_api.h>

#include "charts.h"
#include "maps.h"
#include "rows.h"

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

// Each value in the bin of its own, whatever block it comes in and whichever
// of the copies counts it: bounds, values just past them, not-a-number and
// infinities included.
TEST(Charts, BinnedCountsAreThoseOfEachValue) {
    Headline h;
    h.min_diff = -3.0, h.max_diff = 2.0, h.clip = 1.6;  // bins over [-2, 2]
    const int bins = 7;
    std::vector<double> d;
    for (int i = 0; i < 3001; i++) d.push_back(std::ldexp(double((i * 7919) % 4099) - 2049.0, -10));
    for (double v : {-2.0, 2.0, 0.0, -0.0}) d.push_back(v);
    for (double v : {-2.0, 2.0}) {
        d.push_back(std::nextafter(v, 0.0));
        d.push_back(std::nextafter(v, v * 2));
    }
    d.insert(d.begin() + 5, {NAN, INFINITY, -INFINITY, 5.0, 5.0, 5.0, 5.0});
    std::vector<long long> expected(bins, 0);
    long long outside = 0;
    DiffBinner whole(h, bins);
    const double lo = whole.histogram().lo, hi = whole.histogram().hi, scale = bins / (hi - lo);
    ASSERT_EQ(lo, -2.0);
    ASSERT_EQ(hi, 2.0);
    for (double v : d) {
        if (v >= lo && v <= hi) expected[size_t(clamped_bin(v, lo, scale, bins - 1))]++;
        else outside++;
    }
    whole.add(d.data(), d.size());
    EXPECT_EQ(whole.histogram().counts, expected);
    EXPECT_EQ(whole.histogram().outside, outside);
    // The same values in blocks of 1, 2, 3, ... values.
    DiffBinner blocks(h, bins);
    for (size_t at = 0, len = 1; at < d.size(); at += len, len++) blocks.add(d.data() + at, std::min(len, d.size() - at));
    EXPECT_EQ(blocks.histogram().counts, expected);
    EXPECT_EQ(blocks.histogram().outside, outside);

    // The density of (x, y): each line's positions in their cells, the
    // copies added up; lines of every length up to a few groups.
    const int cells = 5;
    for (int cols = 0; cols <= 9; cols++) {
        std::vector<double> x(cols), y(cols);
        for (int j = 0; j < cols; j++) x[j] = j % 3 == 0 ? -9.0 : j * 0.7, y[j] = j % 2 ? 9.0 : j * 0.4;
        std::vector<int32_t> index(size_t(cols) + 1);
        std::vector<uint32_t> counts(size_t(cells) * cells * kBinWays, 0), want(size_t(cells) * cells, 0), got(want);
        density_line(x.data(), y.data(), cols, 0.0, 1.0, cells, index.data(), counts.data());
        for (int j = 0; j < cols; j++) want[size_t(clamped_bin(y[j], 0, 1, cells - 1) * cells + clamped_bin(x[j], 0, 1, cells - 1))]++;
        for (size_t k = 0; k < counts.size(); k++) got[k % want.size()] += counts[k];
        EXPECT_EQ(got, want) << cols << " columns";
    }
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
    ASSERT_EQ(f.data.size(), 2u) << "no relief without a shade";
    EXPECT_EQ(f.data[1].first, "diff_map_shaded.rgb");
    EXPECT_EQ(f.data[1].second, std::string(6, char(0xf7)) + std::string(12, char(0xf7))) << "0 is the middle colour";

    // The PDF's picture: the palette's stops at -clip, -clip/2, 0 and +clip
    // and beyond, the relief's black over them, no-data cells transparent.
    m.lines = m.cols = 10;
    m.values.assign(100, 0.25f);
    m.shade.assign(100, 255);
    const float first[6] = {-1, -0.5f, 0, 1, 7, NAN};  // the 98th percentile of |v|: 1
    const uint8_t shade[6] = {255, 200, 100, 255, 0, 255};  // 100 the darkest: 150 of 255 opaque
    std::copy(first, first + 6, m.values.begin());
    std::copy(shade, shade + 6, m.shade.begin());
    const Figure s = map_figure("resid_map", "r", m, "m");
    ASSERT_EQ(s.data.size(), 3u);
    EXPECT_EQ(s.data[1].first, "resid_map_shaded.rgba");
    const std::string &px = s.data[1].second;
    ASSERT_EQ(px.size(), 100u * 4);
    auto at = [&](size_t k, size_t c) { return int(uint8_t(px[4 * k + c])); };
    EXPECT_EQ(px.substr(0, 4), "\x05\x30\x61\xff");
    const double half = 1 - std::lround(150.0 * 55 / 155) / 255.0;  // shade 200 of 100..255
    EXPECT_EQ(at(1, 0), std::lround(0x43 * half));
    EXPECT_EQ(at(1, 2), std::lround(0xc3 * half));
    EXPECT_EQ(at(2, 0), std::lround(0xf7 * (1 - 150 / 255.0)));
    EXPECT_EQ(px.substr(12, 8), std::string("\x67\x00\x1f\xff\x67\x00\x1f\xff", 8)) << "+clip and beyond: the last colour";
    EXPECT_EQ(px.substr(20, 4), std::string(4, '\0')) << "no data: transparent";
    EXPECT_NE(s.script.find("if (exists(\"pdf\")) {\n  # resid_map_shaded.rgba"), std::string::npos) << s.script;
    EXPECT_NE(s.script.find("format=\"%uchar\" with rgbalpha, NaN with lines lc palette notitle\n} else {\n"
                            "  plot \"resid_map.f32\""),
              std::string::npos)
        << s.script;
    EXPECT_EQ(s.data[2].first, "relief.rgba");
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

namespace {

// The number a script gives after `key` ("clip = "), or NaN without one.
double script_number(const std::string &script, const std::string &key) {
    const size_t at = script.find(key);
    return at == std::string::npos ? NAN : std::strtod(script.c_str() + at + key.size(), nullptr);
}

Georef georef(int epsg, std::initializer_list<double> transform) {
    Georef g;
    g.known = true;
    std::copy(transform.begin(), transform.end(), g.transform);
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    char *wkt = nullptr;
    if (OSRImportFromEPSG(srs, epsg) == OGRERR_NONE && OSRExportToWkt(srs, &wkt) == OGRERR_NONE) g.wkt = wkt;
    CPLFree(wkt);
    OSRDestroySpatialReference(srs);
    return g;
}

}  // namespace

TEST(Charts, MapColoursEndAtThePercentileOfTheCellsDrawn) {
    // Cells of magnitudes 1 to 100, every other one negative, and one
    // without a value: the 98th percentile is 98; a tenth of them, 9.8.
    MapCells m;
    m.lines = 1, m.cols = 101, m.factor = 7;
    for (int k = 1; k <= 100; k++) m.values.push_back(float(k % 2 ? -k : k));
    m.values.push_back(NAN);
    EXPECT_EQ(script_number(map_figure("diff_map", "d", m, "m").script, "clip = "), 98.0);
    for (float &v : m.values) v /= 10;
    EXPECT_EQ(script_number(map_figure("resid_map", "e", m, "m").script, "clip = "), double(9.8f));
}

TEST(Charts, GeoreferencedMapsLieInTheGridsCoordinates) {
    // 100 lines of 0.01 degree about 45°N on WGS 84, where a degree of
    // latitude is 111 132 m and one of longitude 78 847 m.
    const MapGrid g = map_grid(georef(4326, {10, 0.02, 0, 45.5, 0, -0.01}), 100);
    ASSERT_TRUE(g.known && g.geographic);
    EXPECT_NEAR(g.north_m, 111132, 1);
    EXPECT_NEAR(g.east_m, 78847, 1);
    // 2 × 3 cells of 2 × 2 positions: line 0 to the north, the axes over the
    // grid's extent, a degree north 1.41 times as long as one east.
    MapCells m;
    m.lines = 2, m.cols = 3, m.factor = 2, m.grid = g;
    m.values.assign(6, 1.0f);
    const std::string sc = map_figure("diff_map", "d", m, "m").script;
    EXPECT_NE(sc.find("dx=0.04 dy=0.02 origin=(10.02,45.47) flipy"), std::string::npos) << sc;
    EXPECT_NE(sc.find("set xrange [10:10.12]\nset yrange [45.46:45.5]"), std::string::npos) << sc;
    EXPECT_NEAR(-script_number(sc, "set size ratio "), 111132.0 / 78847.0, 1e-4);
    // Projected in metres: equal units. Rotated, or not georeferenced: lines and columns.
    const MapGrid utm = map_grid(georef(32610, {500000, 30, 0, 5400000, 0, -30}), 100);
    EXPECT_TRUE(utm.known && !utm.geographic && utm.unit == "m" && utm.east_m == 1 && utm.north_m == 1);
    EXPECT_FALSE(map_grid(georef(32610, {500000, 30, 1, 5400000, 0, -30}), 100).known);
    m.grid = map_grid(Georef{}, 100);
    EXPECT_NE(map_figure("diff_map", "d", m, "m").script.find("set xlabel \"column\""), std::string::npos);
}

TEST(Charts, SmallCountsKeepReadableAxes) {
    // Identical rasters: every error in bin 0, the axis from 0, not below.
    EXPECT_NE(error_histogram_figure({2090}, "m", false).script.find("set xrange [0:0.1]"), std::string::npos);
    // 629 bins over few positions: filled bars outlined in their own colour.
    const Figure many = error_histogram_figure(std::vector<long long>(629, 3), "m", true);
    EXPECT_NE(many.script.find("border lc rgb \"#3060a0\""), std::string::npos) << many.script;
    EXPECT_NE(many.data[0].second.find("\n628\t62.8\t3\n"), std::string::npos) << "the table keeps its bins";
    // Colour scales of at most 3 and of 40 positions a cell, labelled.
    Density d;
    d.bins = 2;
    d.counts = {1, 3, 0, 2};
    Headline h;
    std::string sc = density_figure(d, h).script;
    EXPECT_NE(sc.find("set cbrange [1:3]\nset cbtics (1, 2, 3)\n"), std::string::npos) << sc;
    EXPECT_NE(sc.find("set cblabel \"positions per cell\""), std::string::npos);
    d.counts = {40, 1, 1, 1};
    EXPECT_NE(density_figure(d, h).script.find("set cbtics (1, 2, 5, 10, 20)\n"), std::string::npos);
    EXPECT_NE(profiles_figure({{0, 1.5, 1.0, 0.9, 0.81}}, "grey level").script.find("(grey level)'"), std::string::npos);
}

TEST(Charts, TheHeadlineTableFitsItsLongestLineAcrossThePage) {
    // pdfcairo draws a monospace character 0.6 × 0.63 of the font's size
    // wide on a page 792 points wide: a long path stays on it, legibly.
    Summary s;
    s.first_shown = "c:\\images\\dem\\" + std::string(110, 'a') + "_m4.raw";
    const double size = script_number(headline_figure(Headline{}, "r", s).script, "exists(\"pdf\") ? ");
    EXPECT_LE(0.06 * 792 + 0.6 * 0.63 * size * double(s.first_shown.size() + 8), 792 * 0.95);
    EXPECT_GE(size, 12);
}
