// A FIRST whose file runs south-up (a positive cell height) or east-left (a
// negative cell width) is the same ground as the north-up one: aligned,
// co-registered (with a stable mask) or read as it lies, the pair is
// written north-up, west to east, to the same bytes as the north-up pair's.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "rasters.h"

using ::testing::HasSubstr;

namespace {

// Hills on a 90 × 80 grid of 30 m cells, SECOND shifted by (vx, vy) metres.
TestRaster hills(double vx, double vy) {
    const int lines = 90, cols = 80;
    std::vector<double> v;
    for (int i = 0; i < lines; i++)
        for (int j = 0; j < cols; j++) {
            const double x = (j + 0.5) * 30 - vx, y = (lines - i - 0.5) * 30 - vy;
            v.push_back(300 + 60 * std::sin(x / 500) * std::cos(y / 650) + 20 * std::sin((x + 2 * y) / 230));
        }
    return raster(lines, cols, GDT_Float32, v);
}

// The same raster with its lines stored south to north, or its columns
// east to west: the geotransform says so, the ground stays.
TestRaster flipped(const TestRaster &r, bool lines, bool cols) {
    TestRaster f = r;
    for (int i = 0; i < r.lines; i++)
        for (int j = 0; j < r.cols; j++)
            f.bands[0][size_t(i) * size_t(r.cols) + size_t(j)] =
                r.bands[0][size_t(lines ? r.lines - 1 - i : i) * size_t(r.cols) + size_t(cols ? r.cols - 1 - j : j)];
    if (lines) f.gt[3] += f.gt[5] * r.lines, f.gt[5] = -f.gt[5];
    if (cols) f.gt[0] += f.gt[1] * r.cols, f.gt[1] = -f.gt[1];
    return f;
}

struct Written {
    RunResult run;
    std::string first, second, header, coreg;
};

Written import_as(const TestRaster &a, const TestRaster &b, const std::vector<std::string> &options,
                  const TestRaster *stable = nullptr) {
    Folder in, out;
    std::vector<std::string> with = options;
    if (stable != nullptr) {
        write_tif(in.path("stable.tif"), *stable);
        with.insert(with.end(), {"--stable", in.path("stable.tif")});
    }
    Written w;
    w.run = import_pair(in, out, a, b, with);
    w.first = out.read("a_m4.raw");
    w.second = out.read("b_m4.raw");
    w.header = out.read("a_m4.hdr");
    if (out.exists("cmp_coreg.json")) w.coreg = out.read("cmp_coreg.json");
    return w;
}

}  // namespace

TEST(ImportOrientation, SouthUpOrEastLeftFirstGivesTheNorthUpPairsBytes) {
    const TestRaster a = hills(0, 0), b = hills(0, 0), moved = hills(17, -11);
    TestRaster coarse = hills(0, 0);
    coarse.gt[0] += 7, coarse.gt[3] -= 4;  // SECOND on a grid a fraction of a cell away
    TestRaster stable = hills(0, 0);
    for (size_t k = 0; k < stable.bands[0].size(); k++) stable.bands[0][k] = k % 80 < 60;  // the east quarter changed
    const struct {
        const char *what;
        const TestRaster &second;
        std::vector<std::string> options;
        bool with_stable;
    } cases[] = {
        {"--align", coarse, {"--align"}, false},
        {"--coregister --stable", moved, {"--coregister"}, true},
        {"--align --grid second", coarse, {"--align", "--grid", "second"}, false},
    };
    for (const auto &c : cases) {
        const Written north = import_as(a, c.second, c.options, c.with_stable ? &stable : nullptr);
        ASSERT_EQ(north.run.status, 0) << c.what << north.run.err;
        const bool flips[3][2] = {{true, false}, {false, true}, {true, true}};
        for (const auto &f : flips) {
            // The mask follows FIRST's orientation, as a user's would.
            const TestRaster mask = flipped(stable, f[0], f[1]);
            const Written other = import_as(flipped(a, f[0], f[1]), c.second, c.options, c.with_stable ? &mask : nullptr);
            const std::string shown = std::string(c.what) + (f[0] ? " south-up" : "") + (f[1] ? " east-left" : "");
            ASSERT_EQ(other.run.status, 0) << shown << other.run.err;
            EXPECT_TRUE(other.first == north.first) << shown;
            EXPECT_TRUE(other.second == north.second) << shown;
            EXPECT_EQ(other.header, north.header) << shown;
            EXPECT_EQ(other.coreg, north.coreg) << shown;
        }
    }
    // Both on the same south-up grid, read as they lie.
    const Written north = import_as(a, b, {});
    const Written south = import_as(flipped(a, true, false), flipped(b, true, false), {});
    ASSERT_EQ(south.run.status, 0) << south.run.err;
    EXPECT_TRUE(south.first == north.first && south.second == north.second);
    EXPECT_EQ(south.header, north.header);
    EXPECT_THAT(south.run.out, HasSubstr("runs south to north in its file: its lines were read in reverse, so that "
                                         "it is written north-up, west to east."));
    const Written east = import_as(flipped(a, false, true), hills(0, 0), {});
    EXPECT_THAT(east.run.out, HasSubstr("FIRST "));
    EXPECT_THAT(east.run.out, HasSubstr("runs east to west in its file: its columns were read in reverse"));
}
