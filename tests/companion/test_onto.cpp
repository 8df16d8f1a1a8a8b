// A raster brought onto another grid, line by line, against gdalwarp's own
// nearest-neighbour warp of it; and the rasters it refuses.
#include <cpl_conv.h>
#include <gdal.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <ogr_srs_api.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "e2e.h"
#include "ground.h"
#include "onto.h"
#include "rasters.h"
#include "srs.h"

using ::testing::HasSubstr;

namespace {

// The compared grid: 50 lines of 60 cells of 30 m in UTM zone 10.
const double kGrid[6] = {500000, 30, 0, 5400000, 0, -30};
constexpr int kLines = 50, kCols = 60;

Ground utm_grid() { return ground_of(kGrid, wkt_of(32610)); }

// Classes 1 to 5 by cell, nodata (0) on every eleventh.
TestRaster classes(int lines, int cols, const double gt[6], int epsg) {
    std::vector<double> v;
    for (int i = 0; i < lines * cols; i++) v.push_back(i % 11 == 0 ? 0 : 1 + (i * 7 + i / cols * 3) % 5);
    TestRaster r = raster(lines, cols, GDT_Int16, v);
    std::copy(gt, gt + 6, r.gt);
    r.epsg = epsg;
    r.has_nodata = true;
    r.nodata = 0;
    return r;
}

std::string num(double v) {
    char b[40];
    std::snprintf(b, sizeof b, "%.17g", v);
    return b;
}

}  // namespace

TEST(Onto, AgreesWithGdalwarpNearOnACoarserGridAndInAnotherSystem) {
    Folder f;
    // Cells of 90 m a third of a cell off the grid; then cells of 0.0005°
    // in WGS 84 over part of it (the grid lies at 123°W, 48.75°N).
    const double coarse[6] = {499950, 90, 0, 5400040, 0, -90}, degrees[6] = {-123.004, 0.0005, 0, 48.7535, 0, -0.0005};
    const TestRaster sources[2] = {classes(25, 25, coarse, 32610), classes(30, 40, degrees, 4326)};
    for (int k = 0; k < 2; k++) {
        const std::string src = f.path("classes" + std::to_string(k) + ".tif"), warped = f.path("warped.tif");
        write_tif(src, sources[k]);
        const std::string cmd = "gdalwarp -q -overwrite -r near -ot Float64 -dstnodata nan -t_srs EPSG:32610 -te " +
                                num(kGrid[0]) + " " + num(kGrid[3] + kLines * kGrid[5]) + " " +
                                num(kGrid[0] + kCols * kGrid[1]) + " " + num(kGrid[3]) + " -ts " +
                                std::to_string(kCols) + " " + std::to_string(kLines) + " " + src + " " + warped;
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        const ReadBack want = read_raster(warped);
        ASSERT_EQ(want.values.size(), size_t(kLines * kCols));
        // Read in the warper's usual blocks, in blocks of 3 lines and of 1:
        // the same values.
        for (size_t held : {Onto::kHeldBytes, size_t(3 * 9 * kCols), size_t(1)}) {
            Onto onto;
            ASSERT_EQ(onto.open(src, "classes.tif", utm_grid(), kLines, kCols, held), "");
            EXPECT_TRUE(onto.integer_samples());
            int valid_cells = 0, none = 0;
            for (int i = 0; i < kLines; i++) {
                const double *v = nullptr;
                const unsigned char *valid = nullptr;
                ASSERT_TRUE(onto.next(v, valid)) << onto.problem();
                for (int j = 0; j < kCols; j++) {
                    const double w = want.values[size_t(i * kCols + j)];
                    ASSERT_EQ(valid[j] != 0, !std::isnan(w)) << k << " line " << i << " column " << j;
                    if (!valid[j]) {
                        none++;
                        continue;
                    }
                    valid_cells++;
                    EXPECT_EQ(v[j], w) << k << " line " << i << " column " << j;
                    EXPECT_EQ(onto.integers()[j], int64_t(w)) << k << " line " << i << " column " << j;
                }
            }
            const double *v;
            const unsigned char *valid;
            EXPECT_FALSE(onto.next(v, valid));
            EXPECT_GT(valid_cells, 1000) << k;
            EXPECT_GT(none, 100) << k;  // nodata cells, and for WGS 84 the grid's cells beyond the source
        }
    }
}

TEST(Onto, RefusesWhatCannotBePlacedOnTheGrid) {
    Folder f;
    const Ground grid = utm_grid();
    auto refusal = [&](const std::string &file, const Ground &g = utm_grid()) {
        Onto onto;
        return onto.open(f.path(file), file, g, kLines, kCols);
    };
    EXPECT_THAT(refusal("missing.tif"), HasSubstr("the raster missing.tif does not exist"));
    f.write("notes.tif", "not a raster\n");
    EXPECT_THAT(refusal("notes.tif"), HasSubstr("notes.tif is not a raster GDAL reads"));

    TestRaster r = classes(20, 20, kGrid, 32610);
    r.georef = false;
    write_tif(f.path("nogt.tif"), r);
    EXPECT_THAT(refusal("nogt.tif"), HasSubstr("nogt.tif has no georeferencing (no geotransform)"));
    r = classes(20, 20, kGrid, 0);
    write_tif(f.path("nosrs.tif"), r);
    EXPECT_THAT(refusal("nosrs.tif"), HasSubstr("nosrs.tif has no georeferencing (no coordinate system)"));
    write_tif(f.path("fine.tif"), classes(20, 20, kGrid, 32610));
    EXPECT_EQ(refusal("fine.tif"), "");
    EXPECT_THAT(refusal("fine.tif", ground_of(kGrid, "")), HasSubstr("the grid has no georeferencing"));

    // 400 km east of the grid, in its own system.
    const double far[6] = {900000, 30, 0, 5400000, 0, -30};
    write_tif(f.path("far.tif"), classes(20, 20, far, 32610));
    // Its top edge is the grid's: line 0, never -0.
    EXPECT_THAT(refusal("far.tif"), HasSubstr("far.tif cannot be brought onto the grid: it does not overlap the grid: "
                                              "its cells cover columns 13333.333333333334 to 13353.333333333334 and "
                                              "lines 0 to 20 of the grid's 60 columns and 50 lines"));
    // An engineering system that no transformation relates to UTM.
    write_tif(f.path("local.tif"), classes(20, 20, kGrid, 32610));
    GDALDatasetH ds = GDALOpen(f.path("local.tif").c_str(), GA_Update);
    ASSERT_NE(ds, nullptr);
    GDALSetProjection(ds, "LOCAL_CS[\"site grid\",UNIT[\"metre\",1],AXIS[\"Easting\",EAST],AXIS[\"Northing\",NORTH]]");
    GDALClose(ds);
    EXPECT_THAT(refusal("local.tif"), HasSubstr("local.tif cannot be brought onto the grid: its coordinate system "
                                                "cannot be transformed into the grid's"));
}

// Integers of 64 bits come through exact (a double would merge 2^53 + 1
// with 2^53, and turn 2^63 − 1 into 2^63), signed or not, nodata left out.
TEST(Onto, SixtyFourBitIntegersComeThroughExact) {
    Folder f;
    const uint64_t big[] = {9007199254740993ull,     9007199254740992ull,
                            9223372036854775807ull,  uint64_t(-9223372036854775807LL - 1),
                            18446744073709551615ull, 5};
    for (GDALDataType type : {GDT_Int64, GDT_UInt64}) {
        TestRaster r = raster(kLines, kCols, type, std::vector<double>(size_t(kLines * kCols), 0));
        std::copy(kGrid, kGrid + 6, r.gt);
        r.epsg = 32610;
        for (size_t i = 0; i < r.bands[0].size(); i++) r.wide.push_back(big[i % 6]);
        r.has_nodata = true;
        r.nodata = 5;
        write_tif(f.path("wide.tif"), r);
        Onto onto;
        ASSERT_EQ(onto.open(f.path("wide.tif"), "wide.tif", utm_grid(), kLines, kCols), "");
        for (int i = 0; i < kLines; i++) {
            const double *v = nullptr;
            const unsigned char *valid = nullptr;
            ASSERT_TRUE(onto.next(v, valid)) << onto.problem();
            const int64_t *ints = onto.integers();
            const uint64_t *uints = onto.unsigned_integers();
            ASSERT_EQ(ints == nullptr, type == GDT_UInt64);
            ASSERT_EQ(uints == nullptr, type == GDT_Int64);
            for (int j = 0; j < kCols; j++) {
                const uint64_t want = big[size_t(i * kCols + j) % 6];
                ASSERT_EQ(valid[j] != 0, want != 5) << i << " " << j;
                if (valid[j]) {
                    EXPECT_EQ(ints ? uint64_t(ints[j]) : uints[j], want) << i << " " << j;
                }
            }
        }
    }
}
