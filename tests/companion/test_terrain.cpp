// Slope and aspect line by line against GDAL's DEM processing of the whole
// raster, and against the slope a geographic grid's cell sizes give.
#include <gdal.h>
#include <gdal_utils.h>
#include <cpl_conv.h>
#include <ogr_srs_api.h>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ground.h"
#include "horn.h"
#include "terrain.h"
#include "srs.h"

namespace {

const int kUtm10 = 32610, kWgs84 = 4326;

// Every line through Terrain, pushed and taken as a caller streams them.
void stream(const Ground &g, const std::vector<float> &dem, int lines, int cols, std::vector<float> &slope,
            std::vector<float> &aspect, int every = 1, int first = 0) {
    Terrain t(g, lines, cols, true, every, first);
    slope.assign(dem.size(), -1);
    aspect.assign(dem.size(), -1);
    int expected = first;
    auto take = [&] {
        int line;
        const float *s, *a;
        while (t.next(line, s, a)) {
            ASSERT_EQ(line, expected);
            expected += every;
            std::copy(s, s + cols, slope.begin() + ptrdiff_t(line) * cols);
            std::copy(a, a + cols, aspect.begin() + ptrdiff_t(line) * cols);
        }
    };
    for (int i = 0; i < lines; i++) {
        ASSERT_TRUE(t.push(dem.data() + size_t(i) * cols)) << t.problem();
        take();
    }
    take();
    EXPECT_GE(expected, lines) << t.problem();
    EXPECT_LT(expected, lines + every) << t.problem();
}

std::vector<float> whole(const std::vector<float> &dem, int lines, int cols, const double gt[6], const char *what) {
    GDALAllRegister();
    GDALDatasetH src = GDALCreate(GDALGetDriverByName("MEM"), "", cols, lines, 1, GDT_Float32, nullptr);
    GDALSetGeoTransform(src, const_cast<double *>(gt));
    GDALRasterBandH b = GDALGetRasterBand(src, 1);
    GDALSetRasterNoDataValue(b, NAN);
    EXPECT_EQ(GDALRasterIO(b, GF_Write, 0, 0, cols, lines, const_cast<float *>(dem.data()), cols, lines, GDT_Float32,
                           0, 0),
              CE_None);
    const char *args[] = {"-of", "MEM", "-compute_edges", nullptr};
    GDALDEMProcessingOptions *opt = GDALDEMProcessingOptionsNew(const_cast<char **>(args), nullptr);
    GDALDatasetH out = GDALDEMProcessing("", src, what, nullptr, opt, nullptr);
    GDALDEMProcessingOptionsFree(opt);
    std::vector<float> v(dem.size());
    EXPECT_EQ(GDALRasterIO(GDALGetRasterBand(out, 1), GF_Read, 0, 0, cols, lines, v.data(), cols, lines, GDT_Float32,
                           0, 0),
              CE_None);
    for (float &x : v)
        if (x == -9999.0f) x = NAN;
    GDALClose(out);
    GDALClose(src);
    return v;
}

}  // namespace

// A rough surface with holes over several chunks of lines: every value
// equals GDAL's slope and aspect of the whole raster, edges and holes too.
TEST(Terrain, LineByLineEqualsTheWholeRaster) {
    const int lines = 150, cols = 37;
    std::vector<float> dem(size_t(lines) * cols);
    unsigned r = 7;
    for (int i = 0; i < lines; i++)
        for (int j = 0; j < cols; j++) {
            r = r * 1103515245u + 12345u;
            dem[size_t(i) * cols + j] = float(40 * std::sin(i / 9.0) + 25 * std::cos(j / 5.0) + (r >> 16) % 100 / 25.0);
        }
    for (int i = 60; i < 70; i++) dem[size_t(i) * cols + 10] = NAN;  // a hole across the line 63/64 of two chunks
    dem[0] = NAN;
    const double gt[6] = {500000, 30, 0, 5400000, 0, -30};
    std::vector<float> slope, aspect;
    stream(ground_of(gt, wkt_of(kUtm10)), dem, lines, cols, slope, aspect);
    const std::vector<float> s = whole(dem, lines, cols, gt, "slope"), a = whole(dem, lines, cols, gt, "aspect");
    int nan = 0;
    for (size_t k = 0; k < dem.size(); k++) {
        if (std::isnan(s[k])) {
            EXPECT_TRUE(std::isnan(slope[k])) << k;
            nan++;
        } else {
            EXPECT_EQ(slope[k], s[k]) << k;
        }
        if (!std::isnan(a[k])) EXPECT_EQ(aspect[k], a[k]) << k;
        else EXPECT_TRUE(std::isnan(aspect[k])) << k;
    }
    EXPECT_GT(nan, 0);  // the holes reach the slopes
    // Every fourth line from line 2: the same values on those lines.
    std::vector<float> some, some_aspect;
    stream(ground_of(gt, wkt_of(kUtm10)), dem, lines, cols, some, some_aspect, 4, 2);
    for (int i = 2; i < lines; i += 4)
        for (int j = 0; j < cols; j++) {
            const size_t k = size_t(i) * cols + j;
            if (!std::isnan(s[k])) {
                EXPECT_EQ(some[k], s[k]) << i << " " << j;
            }
            if (!std::isnan(a[k])) {
                EXPECT_EQ(some_aspect[k], a[k]) << i << " " << j;
            }
        }
}

// On a geographic grid each line's cells are as wide as the parallel makes
// them: a surface rising 1 m a column eastward has, on line i, the slope
// atan(1 / width_i), width_i the radius of the parallel times the column's
// angle; it faces west (aspect 270).
TEST(Terrain, AGeographicGridHasEachLinesGroundSize) {
    const int lines = 5, cols = 6;
    const double gt[6] = {-124, 0.01, 0, 60, 0, -2.0};  // lines 2° apart: their widths differ much
    std::vector<float> dem(size_t(lines) * cols);
    for (int i = 0; i < lines; i++)
        for (int j = 0; j < cols; j++) dem[size_t(i) * cols + j] = float(j);
    std::vector<float> slope, aspect;
    stream(ground_of(gt, wkt_of(kWgs84)), dem, lines, cols, slope, aspect);
    const double a = 6378137.0, f = 1 / 298.257223563, e2 = f * (2 - f), pi = std::acos(-1.0);
    for (int i = 0; i < lines; i++) {
        const double lat = (60 - 2.0 * (i + 0.5)) * pi / 180;
        const double width = a * std::cos(lat) / std::sqrt(1 - e2 * std::sin(lat) * std::sin(lat)) * 0.01 * pi / 180;
        const double want = std::atan(1 / width) * 180 / pi;
        for (int j = 0; j < cols; j++) {
            if ((i == 0 || i == lines - 1) && (j == 0 || j == cols - 1)) continue;  // GDAL's corners: half
            EXPECT_NEAR(slope[size_t(i) * cols + j], want, 1e-4 * want) << i << " " << j;
            EXPECT_NEAR(aspect[size_t(i) * cols + j], 270, 1e-3);
        }
    }
}

// Horn's slope computed here, over rasters of every shape from 1 × 1 up,
// rough, with holes and with no data on their edges, projected and
// geographic: each cell's degrees are GDAL's to the bit, no data where
// GDAL gives none; and the keys of the edges bound the slopes exactly.
TEST(Horn, EveryCellIsGdalsSlope) {
    unsigned r = 11;
    auto next = [&] { return (r = r * 1103515245u + 12345u) >> 8; };
    long cells = 0, sloped = 0;
    for (int t = 0; t < 120; t++) {
        const int lines = 1 + int(next() % 9), cols = 1 + int(next() % 9);
        const bool geographic = t % 3 == 2;
        const double gt_utm[6] = {500000, 0.5 + next() % 1000 / 7.0, 0, 5400000, 0, -(0.5 + next() % 1000 / 9.0)};
        const double gt_wgs[6] = {-124, 0.001 * (1 + next() % 50), 0, 50, 0, -0.001 * (1 + next() % 50)};
        const double *gt = geographic ? gt_wgs : gt_utm;
        std::vector<float> dem(size_t(lines) * cols);
        for (float &v : dem) v = next() % 10 == 0 ? NAN : float(next() % 300000) / 97.0f - 50;
        const Ground g = ground_of(gt, wkt_of(geographic ? kWgs84 : kUtm10));
        // GDAL's slope as Terrain streams it (line by line on a geographic grid).
        std::vector<float> want, unused;
        stream(g, dem, lines, cols, want, unused);
        HornLines h(g, lines, cols);
        int expected = 0;
        auto take = [&] {
            int line;
            const double *keys;
            while (h.next(line, keys)) {
                ASSERT_EQ(line, expected++);
                for (int j = 0; j < cols; j++) {
                    const float w = want[size_t(line) * cols + j], got = horn_degrees(keys[j]);
                    cells++;
                    if (std::isnan(w)) {
                        EXPECT_TRUE(std::isnan(keys[j])) << t << ": " << line << " " << j;
                        continue;
                    }
                    sloped++;
                    EXPECT_EQ(got, w) << t << ": " << lines << "x" << cols << " at " << line << " " << j;
                }
            }
        };
        // Every other raster's lines are handed over as buffers, which come
        // back holding earlier lines (and, now and then, of another length).
        std::vector<float> handed;
        for (int i = 0; i < lines; i++) {
            const float *line = dem.data() + size_t(i) * cols;
            if (t % 2) {
                handed.assign(line, line + cols);
                h.push(handed);
                if (t % 4 == 1) handed.assign(size_t(cols) + 3, 1e6f);
            } else {
                h.push(line);
            }
            take();
        }
        take();
        EXPECT_EQ(expected, lines);
    }
    EXPECT_GT(sloped, cells / 2);
    for (double e : {0.0, 2.5, 5.0, 10.0, 25.0, 40.0, 89.0, 90.0}) {
        const double lo = horn_key_at_least(e), hi = horn_key_at_most(e);
        EXPECT_GE(double(horn_degrees(lo)), e);
        if (lo > 0) {
            EXPECT_LT(double(horn_degrees(std::nextafter(lo, 0.0))), e);
        }
        EXPECT_LE(double(horn_degrees(hi)), e);
        if (!std::isinf(hi)) {
            EXPECT_GT(double(horn_degrees(std::nextafter(hi, INFINITY))), e);
        }
    }
    EXPECT_TRUE(std::isinf(horn_key_at_most(90)));
}
