// The readers of the report's walk, each fed by the walk itself.
#include <gdal.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "raster_pair.h"
#include "reader.h"
#include "readers/geotiff_rows.h"
#include "walk.h"

namespace {

// A reader whose line `at` fails.
struct FailsAt : Reader {
    explicit FailsAt(int at) : at_(at) {}
    std::string line(const Line &l) override { return l.index == at_ ? "stopped" : ""; }
    int at_;
};

struct Walked {
    Run run;
    Setup setup;
    Walked(RasterPair &p, int lines, int cols) {
        run.s.lines = lines;
        run.s.cols = cols;
        setup.run = &run;
        setup.rasters = &p.rasters;
        const std::string tmp = "/tmp";
        setup.unit = std::string("m");
        setup.dir = tmp;
        setup.folder_shown = tmp + "/";
        setup.out_base = tmp + "/karvel_readers_" + std::to_string(getpid());
    }
};

std::vector<float> read_back(const std::string &path, int lines, int cols, bool &nan_nodata) {
    std::vector<float> v(size_t(lines) * size_t(cols));
    GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
    EXPECT_NE(ds, nullptr);
    if (!ds) return {};
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    int has = 0;
    nan_nodata = std::isnan(GDALGetRasterNoDataValue(band, &has)) && has;
    EXPECT_EQ(GDALRasterIO(band, GF_Read, 0, 0, cols, lines, v.data(), cols, lines, GDT_Float32, 0, 0), CE_None);
    GDALClose(ds);
    return v;
}

}  // namespace

TEST(Readers, TheGeoTiffsHoldEveryLineBlankWhereAPositionIsLeftOut) {
    gdal_ready();
    // More lines than a strip holds; the first raster has no data (0) at
    // every seventh position.
    const int lines = 21, cols = 5;
    std::vector<int> a, b;
    for (int k = 0; k < lines * cols; k++) a.push_back(k % 7 == 3 ? 0 : 100 + k), b.push_back(103 + (k * 5) % 11);
    RasterPair p(lines, cols, a, b, NoData{true, 0});
    Walked w(p, lines, cols);
    GeoTiffRows tifs;
    ASSERT_EQ(tifs.prepare(w.setup), "");
    WalkPlan plan;
    plan.lines = lines;
    plan.b0 = 1.5;
    plan.b1 = 0.5;
    long long kept = 0;
    ASSERT_EQ(walk_lines(p.rasters.pairs, plan, {&tifs}, kept), "");
    std::vector<StagedFile *> files;
    ASSERT_EQ(tifs.files(files), "");
    ASSERT_EQ(files.size(), 2u);
    bool nan_nodata[2] = {false, false};
    const std::vector<float> diff = read_back(files[0]->temp_path, lines, cols, nan_nodata[0]);
    const std::vector<float> resid = read_back(files[1]->temp_path, lines, cols, nan_nodata[1]);
    EXPECT_TRUE(nan_nodata[0] && nan_nodata[1]);
    ASSERT_EQ(diff.size(), a.size());
    for (size_t k = 0; k < a.size(); k++) {
        const double x = a[k], y = b[k];
        if (x == 0) {
            EXPECT_TRUE(std::isnan(diff[k]) && std::isnan(resid[k])) << k;
            continue;
        }
        EXPECT_EQ(diff[k], float(y - x)) << k;
        EXPECT_EQ(resid[k], float(y - (x * 0.5 + 1.5))) << k;
    }
    for (StagedFile *f : files) staged_discard(*f);
}

TEST(Readers, GeoTiffsOfAWalkThatStoppedAreNotComplete) {
    gdal_ready();
    const int lines = 40, cols = 3;
    RasterPair p(lines, cols, std::vector<int>(lines * cols, 7), std::vector<int>(lines * cols, 9));
    Walked w(p, lines, cols);
    GeoTiffRows tifs;
    FailsAt stop(20);
    ASSERT_EQ(tifs.prepare(w.setup), "");
    WalkPlan plan;
    plan.lines = lines;
    long long kept = 0;
    ASSERT_EQ(walk_lines(p.rasters.pairs, plan, {&tifs, &stop}, kept), "stopped");
    std::vector<StagedFile *> files;
    EXPECT_EQ(tifs.files(files).rfind("a GeoTIFF could not be written: ", 0), 0u);
    EXPECT_TRUE(files.empty());
}

// A raster replaced while the report reads it is named in the refusal.
TEST(Rasters, ARasterReplacedMeanwhileIsNamed) {
    RasterPair p(1, 2, {1, 2}, {3, 4});
    p.rasters.in[1].shown = "c:\\images\\f\\b.raw";
    EXPECT_EQ(p.rasters.unchanged(), "");
    const std::string other = p.paths[1] + ".new";
    FILE *f = std::fopen(other.c_str(), "wb");
    std::fwrite("abcd", 1, 4, f);
    std::fclose(f);
    ASSERT_EQ(std::rename(other.c_str(), p.paths[1].c_str()), 0);
    EXPECT_EQ(p.rasters.unchanged(),
              "the raster c:\\images\\f\\b.raw changed while the report read it: it was replaced by another file");
}
