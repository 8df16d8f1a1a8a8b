// The whole path: two rasters imported, then karvel run from the answers
// file, its figures checked against a plain computation on the source values.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>

#include "rasters.h"

namespace {

// The number after "LABEL = " in karvel's summary.
double figure(const std::string &summary, const std::string &label) {
    const size_t at = summary.find("\t" + label + " = ");
    if (at == std::string::npos) return NAN;
    return std::stod(summary.substr(at + label.size() + 4));
}

}  // namespace

TEST(ImportThenCompare, KarvelFiguresMatchTheSourceValues) {
    Folder in, out;
    const int lines = 40, cols = 30;
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> noise(-1.5, 1.5);
    std::vector<double> first, second;
    for (int i = 0; i < lines; i++)
        for (int j = 0; j < cols; j++) {
            const double z = -80 + 3.1 * i + 2.3 * j + 10 * std::sin(i * 0.3) * std::cos(j * 0.2);
            first.push_back(z);
            second.push_back(1.02 * z + 0.7 + noise(rng));
        }
    // The first survey in metres as float, the second as 16-bit integers in decimetres after a shift.
    write_tif(in.path("survey.tif"), raster(lines, cols, GDT_Float32, first));
    std::vector<double> dm;
    for (double v : second) dm.push_back(std::round((v + 200) * 10));
    TestRaster resurvey = raster(lines, cols, GDT_UInt16, dm);
    resurvey.unit = "dm";
    resurvey.offset = 0;
    write_tif(in.path("resurvey.tif"), resurvey);

    RunResult r = run_import({in.path("survey.tif"), in.path("resurvey.tif"), out.name()});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(out.exists("survey_m4.raw") && out.exists("resurvey_m2.raw"));
    RunResult k = run_karvel(out.read("cmp.answers"));
    ASSERT_EQ(k.status, 0) << k.out;
    const std::string summary = out.read("cmp_karvel.txt");

    // The same values as karvel holds them: millimetres and decimetres as stored, in metres.
    double n = 0, sx = 0, sy = 0, sxy = 0, sxx = 0, sdd = 0;
    for (size_t p = 0; p < first.size(); p++) {
        const double x = std::round(double(float(first[p])) * 1000.0) * 0.001;
        const double y = dm[p] * 0.1;
        n += 1;
        sx += x;
        sy += y;
        sxy += x * y;
        sxx += x * x;
        sdd += (y - x) * (y - x);
    }
    const double b1 = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    const double b0 = (sy - sx * b1) / n;
    const double rms = std::sqrt(sdd / (n - 1));
    EXPECT_NEAR(figure(summary, "B1"), b1, 2e-6);
    EXPECT_NEAR(figure(summary, "B0"), b0, 2e-6);
    EXPECT_NEAR(figure(summary, "RMS_Error"), rms, 2e-6);
    EXPECT_GT(rms, 150);  // the shift of 200 m shows, whole
}

TEST(ImportThenCompare, ARealDemWithNoDataIsComparedOverEveryCellWithDataInBoth) {
    Folder in, out;
    // The real coast: FIRST has no data under the sea (below -40 m), SECOND
    // is a coarser survey of it with a hole, resampled back by --align.
    GDALDatasetH src = GDALOpen(KARVEL_DATA_DIR "/topobathy.tif", GA_ReadOnly);
    ASSERT_NE(src, nullptr);
    const int cols = GDALGetRasterXSize(src), lines = GDALGetRasterYSize(src);
    std::vector<double> z(size_t(lines) * cols);
    ASSERT_EQ(GDALRasterIO(GDALGetRasterBand(src, 1), GF_Read, 0, 0, cols, lines, z.data(), cols, lines, GDT_Float64,
                           0, 0),
              CE_None);
    double gt[6];
    GDALGetGeoTransform(src, gt);
    GDALClose(src);
    TestRaster land = raster(lines, cols, GDT_Float32, z);
    std::copy(gt, gt + 6, land.gt);
    land.epsg = 4326;
    land.has_nodata = true;
    land.nodata = -9999;
    for (double &v : land.bands[0])
        if (v < -40) v = -9999;
    write_tif(in.path("land.tif"), land);
    TestRaster coarse = raster(lines / 3, cols / 3, GDT_Float32, std::vector<double>(size_t(lines / 3) * (cols / 3)));
    for (int i = 0; i < lines / 3; i++)
        for (int j = 0; j < cols / 3; j++) coarse.bands[0][size_t(i * (cols / 3) + j)] = z[size_t(3 * i * cols + 3 * j)] + 2;
    coarse.bands[0][100] = NAN;
    std::copy(gt, gt + 6, coarse.gt);
    coarse.gt[1] *= 3, coarse.gt[5] *= 3;
    coarse.epsg = 4326;
    write_tif(in.path("coarse.tif"), coarse);

    RunResult r = run_import({"--align", in.path("land.tif"), in.path("coarse.tif"), out.name()});
    ASSERT_EQ(r.status, 0) << r.err;
    // GDAL reads the declared value as the band's nodata.
    for (const char *raw : {"land_m4.raw", "coarse_m4.raw"}) {
        GDALDatasetH ds = GDALOpen(out.path(raw).c_str(), GA_ReadOnly);
        ASSERT_NE(ds, nullptr) << raw;
        int has = 0;
        EXPECT_EQ(GDALGetRasterNoDataValue(GDALGetRasterBand(ds, 1), &has), -2147483648.0) << raw;
        EXPECT_TRUE(has) << raw;
        GDALClose(ds);
    }
    const std::vector<long long> a = samples(out.read("land_m4.raw"), 4, true);
    const std::vector<long long> b = samples(out.read("coarse_m4.raw"), 4, true);
    ASSERT_EQ(a.size(), b.size());
    long long both = 0, n = 0;
    double sdd = 0;
    for (size_t k = 0; k < a.size(); k++) {
        if (a[k] == -2147483648LL || b[k] == -2147483648LL) continue;
        both++;
        n++;
        const double d = b[k] * 0.001 - a[k] * 0.001;
        sdd += d * d;
    }
    EXPECT_GT(both, (long long)a.size() / 3);   // far more than the largest window of land
    EXPECT_LT(both, (long long)a.size() - 100);  // and not the sea
    RunResult k = run_karvel(out.read("cmp.answers"));
    ASSERT_EQ(k.status, 0) << k.out;
    const std::string summary = out.read("cmp_karvel.txt");
    EXPECT_THAT(summary, testing::HasSubstr("Positions left out (no data in either raster): " +
                                            std::to_string(a.size() - both) + " of " + std::to_string(a.size())));
    EXPECT_NEAR(figure(summary, "RMS_Error"), std::sqrt(sdd / double(n - 1)), 2e-6);
}

TEST(ImportThenCompare, TheTwoPrintedCommandsCompareAndReportThePair) {
    // The import ends with the command that runs karvel and the one that
    // reports its comparison; run by the shell as they stand, they do. The
    // folder and the result name hold characters that the shell would take
    // for its own unless quoted.
    Folder in, out;
    const int lines = 6, cols = 9;
    std::vector<double> first, second;
    for (int i = 0; i < lines * cols; i++) first.push_back(100 + i * 5 % 23), second.push_back(first.back() + i % 3);
    write_tif(in.path("a.tif"), raster(lines, cols, GDT_Int16, first));
    write_tif(in.path("b.tif"), raster(lines, cols, GDT_Int16, second));
    const std::string folder = out.name() + "/it's$HOME", result = "r&s";
    RunResult r = run_import({"--result", result, in.path("a.tif"), in.path("b.tif"), folder});
    ASSERT_EQ(r.status, 0) << r.err;
    // Within single quotes, a quote is '\''.
    const std::string closing =
        "Compare them with:\n  " KARVEL_LOCAL_BIN " < '" + out.path("it'\\''s$HOME/r&s.answers") +
        "'\nthen report the comparison with:\n  " KARVEL_REPORT_LOCAL_BIN " '" + out.name() + "/it'\\''s$HOME' 'r&s'\n";
    ASSERT_GE(r.out.size(), closing.size());
    EXPECT_EQ(r.out.substr(r.out.size() - closing.size()), closing);

    std::istringstream said(r.out.substr(r.out.size() - closing.size()));
    std::string line, karvel, report;
    std::getline(said, line);
    std::getline(said, karvel);
    std::getline(said, line);
    std::getline(said, report);
    const RunResult k = run_program("/bin/sh", {"-c", karvel}, "");
    ASSERT_EQ(k.status, 0) << k.out << k.err;
    EXPECT_TRUE(out.exists("it's$HOME/r&s_karvel.txt"));
    const RunResult rep = run_program("/bin/sh", {"-c", report}, "");
    ASSERT_EQ(rep.status, 0) << rep.out << rep.err;
    EXPECT_TRUE(out.exists("it's$HOME/r&s_report.json"));
    EXPECT_TRUE(out.exists("it's$HOME/r&s_diff.tif"));
}

TEST(ImportThenCompare, AResultNameThatLooksLikeAnOptionIsReportedAfterTheEndOfOptions) {
    // "-r" would be taken by karvel-report for an option: the printed
    // report command puts it after "--", and runs as it stands.
    Folder in, out;
    std::vector<double> first, second;
    for (int i = 0; i < 30; i++) first.push_back(200 + i % 7), second.push_back(first.back() + i % 2);
    write_tif(in.path("a.tif"), raster(5, 6, GDT_Int16, first));
    write_tif(in.path("b.tif"), raster(5, 6, GDT_Int16, second));
    RunResult r = run_import({"--result", "-r", in.path("a.tif"), in.path("b.tif"), out.name()});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string report = "  " KARVEL_REPORT_LOCAL_BIN " -- " + out.name() + " -r\n";
    ASSERT_GE(r.out.size(), report.size());
    ASSERT_EQ(r.out.substr(r.out.size() - report.size()), report);
    const size_t karvel_at = r.out.rfind("Compare them with:\n  ") + 21;
    const std::string karvel = r.out.substr(karvel_at, r.out.find('\n', karvel_at) - karvel_at);
    const RunResult k = run_program("/bin/sh", {"-c", karvel}, "");
    ASSERT_EQ(k.status, 0) << k.out << k.err;
    const RunResult rep = run_program("/bin/sh", {"-c", report.substr(2, report.size() - 3)}, "");
    ASSERT_EQ(rep.status, 0) << rep.out << rep.err;
    EXPECT_TRUE(out.exists("-r_report.json"));
}
