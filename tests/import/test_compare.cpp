// The whole path: two rasters imported, then karvel run from the answers
// file, its figures checked against a plain computation on the source values.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

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
