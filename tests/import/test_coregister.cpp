// --coregister: known shifts of smooth surfaces and of the real sample
// recovered, the bias removed with =xyz, a stable mask, and the pairs
// whose shift is undefined refused with nothing written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "rasters.h"

using ::testing::HasSubstr;

namespace {

const int kSide = 160;
const double kCell = 30;

// Hills of several sizes facing every way, in metres, at ground point (x, y).
double hills(double x, double y) {
    return 300 + 60 * std::sin(x / 700) * std::cos(y / 900) + 25 * std::sin((x + 2 * y) / 260) +
           40 * std::exp(-(std::pow(x - 2400, 2) + std::pow(y - 2200, 2)) / 6e5);
}

// A survey of the hills displaced by (vx, vy) metres, raised by dz, with
// noise of about 0.3 m (noise: 0 for none); cells with mark(x, y) sunk by 30 m.
TestRaster survey(double vx, double vy, double dz, double noise, bool (*sunk)(double, double) = nullptr) {
    std::vector<double> z(size_t(kSide) * kSide);
    unsigned r = 12345;
    for (int i = 0; i < kSide; i++)
        for (int j = 0; j < kSide; j++) {
            const double x = (j + 0.5) * kCell, y = (kSide - i - 0.5) * kCell;
            r = r * 1103515245u + 12345u;
            double v = hills(x - vx, y - vy) + dz + noise * ((r >> 8) % 1000 / 500.0 - 1) * 0.52;
            if (sunk && sunk(x, y)) v -= 30 * (1 + std::sin(x / 150));
            z[size_t(i) * kSide + j] = v;
        }
    TestRaster t = raster(kSide, kSide, GDT_Float32, z);
    t.gt[0] = 0, t.gt[3] = kSide * kCell;
    return t;
}

double json_number(const std::string &json, const std::string &key) {
    const size_t at = json.find("\"" + key + "\": ");
    if (at == std::string::npos) return NAN;
    return std::stod(json.substr(at + key.size() + 4));
}

bool fs_exists(const std::string &path) { return std::ifstream(path).good(); }

std::string read_file(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

}  // namespace

// Shifts from a tenth of a cell to two cells, in several directions: the
// translation applied to SECOND undoes each within 0.05 cell, the bias is
// measured within 0.15 m and left in the data.
TEST(Coregister, KnownShiftsOfASmoothSurfaceAreRecovered) {
    const double shifts[][2] = {{3, 0}, {-21, 14}, {45, -60}, {-40, -28}};
    for (const auto &v : shifts) {
        Folder in, out;
        const RunResult r = import_pair(in, out, survey(0, 0, 0, 0), survey(v[0], v[1], 2.5, 1), {"--coregister", "--crop"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_THAT(r.out, HasSubstr("step 1: SECOND moved "));
        const std::string json = read_file(out.path("cmp_coreg.json"));
        EXPECT_NEAR(json_number(json, "dx_m"), -v[0], 0.05 * kCell) << v[0] << " " << v[1] << json;
        EXPECT_NEAR(json_number(json, "dy_m"), -v[1], 0.05 * kCell) << v[0] << " " << v[1] << json;
        EXPECT_NEAR(json_number(json, "dz_m"), 2.5, 0.15) << json;
        EXPECT_LT(json_number(json, "nmad_after"), json_number(json, "nmad_before"));
        EXPECT_GT(json_number(json, "n_fit"), 1000);
        EXPECT_GE(json_number(json, "iterations"), 1);
    }
}

// The real sample (geographic, cells of 2.4 × 2.4 km at 49° N) moved by a
// third of a cell east and half a cell south: found within 0.05 cell in
// ground metres; with =xyz the bias leaves the written SECOND.
TEST(Coregister, AGeographicGridIsShiftedInGroundMetresAndXyzRemovesTheBias) {
    Folder in, out;
    const ReadBack sample = read_raster(KARVEL_DATA_DIR "/topobathy.tif");
    ASSERT_TRUE(sample.has_gt);
    const int lines = sample.lines;
    TestRaster a = raster(lines, sample.cols, GDT_Float32, sample.values);
    std::copy(sample.gt, sample.gt + 6, a.gt);
    a.epsg = 4326;
    TestRaster b = a;
    b.gt[0] += a.gt[1] / 3, b.gt[3] += a.gt[5] / 2;  // moved east and south
    for (double &v : b.bands[0]) v += 4;
    const RunResult r = import_pair(in, out, a, b, {"--coregister=xyz", "--crop"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string json = read_file(out.path("cmp_coreg.json"));
    // Metres per degree on WGS 84 at the grid's centre latitude, independently.
    const double pi = std::acos(-1.0), lat = (a.gt[3] + a.gt[5] * lines / 2.0) * pi / 180;
    const double f = 1 / 298.257223563, e2 = f * (2 - f), w = std::sqrt(1 - e2 * std::sin(lat) * std::sin(lat));
    const double east = 6378137 * std::cos(lat) / w * pi / 180, north = 6378137 * (1 - e2) / (w * w * w) * pi / 180;
    const double cell_x = a.gt[1] * east, cell_y = -a.gt[5] * north;
    EXPECT_NEAR(json_number(json, "dx_m"), -cell_x / 3, 0.05 * cell_x) << json;
    EXPECT_NEAR(json_number(json, "dy_m"), cell_y / 2, 0.05 * cell_y) << json;
    EXPECT_NEAR(json_number(json, "dz_m"), 4, 0.15) << json;
    EXPECT_THAT(json, HasSubstr("\"bias_removed\": true"));
    // The written pair differs by the bias no more: its mean difference is
    // the little that the resampling leaves.
    const std::vector<long long> s1 = samples(read_file(out.path("a_m4.raw")), 4, true);
    const std::vector<long long> s2 = samples(read_file(out.path("b_m4.raw")), 4, true);
    ASSERT_EQ(s1.size(), s2.size());
    double sum = 0;
    for (size_t k = 0; k < s1.size(); k++) sum += double(s2[k] - s1[k]);
    EXPECT_NEAR(sum / double(s1.size()) / 1000, 0, 1.0);
}

// A "glacier" that sank between the surveys biases the fit; fitted on the
// stable ground around it, the shift is found again.
TEST(Coregister, AStableMaskLeavesChangedGroundOut) {
    Folder in, out;
    auto glacier = [](double x, double y) { return x > 1500 && x < 3600 && y > 1000 && y < 4000; };
    TestRaster mask = survey(0, 0, 0, 0);
    for (int i = 0; i < kSide; i++)
        for (int j = 0; j < kSide; j++)
            mask.bands[0][size_t(i) * kSide + j] = !glacier((j + 0.5) * kCell, (kSide - i - 0.5) * kCell);
    mask.type = GDT_Byte;
    write_tif(in.path("stable.tif"), mask);
    const RunResult r = import_pair(in, out, survey(0, 0, 0, 0), survey(-24, 33, 0, 1, glacier),
                                    {"--coregister", "--crop", "--stable", in.path("stable.tif")});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string json = read_file(out.path("cmp_coreg.json"));
    EXPECT_NEAR(json_number(json, "dx_m"), 24, 0.05 * kCell) << json;
    EXPECT_NEAR(json_number(json, "dy_m"), -33, 0.05 * kCell) << json;
    EXPECT_NEAR(json_number(json, "dz_m"), 0, 0.15) << json;
}

// Pairs whose shift is undefined, and masks that cannot be used: refused
// with the reason, the folder not even made; a later import without
// --coregister takes away the shift an earlier one wrote.
TEST(Coregister, UndefinedShiftsAndUnusableMasksAreRefused) {
    Folder in, out;
    TestRaster flat = survey(0, 0, 0, 0);
    for (double &v : flat.bands[0]) v = 120;
    RunResult r = import_pair(in, out, flat, flat, {"--coregister"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("cannot be co-registered: too few cells to fit the shift on: 0 of the subsample"));
    EXPECT_TRUE(files_in(out.path("")).empty());

    TestRaster grey = raster(4, 4, GDT_Byte, std::vector<double>(16, 7));
    r = import_pair(in, out, grey, grey, {"--coregister"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("--coregister compares DEMs: FIRST "));

    TestRaster mask = survey(0, 0, 0, 0);
    mask.epsg = 4326, mask.gt[0] = 10, mask.gt[3] = 50, mask.gt[1] = 0.001, mask.gt[5] = -0.001;
    write_tif(in.path("mask_wgs84.tif"), mask);
    mask = survey(0, 0, 0, 0);
    mask.gt[0] = 1e6;
    write_tif(in.path("mask_far.tif"), mask);
    const std::pair<const char *, std::string> masks[] = {
        {"mask_wgs84.tif", "it lies in another coordinate system than FIRST (WGS 84)"},
        {"mask_far.tif", "the raster " + in.path("mask_far.tif") + " cannot be brought onto the grid: it does not overlap the grid"}};
    for (const auto &[name, why] : masks) {
        r = import_pair(in, out, survey(0, 0, 0, 0), survey(10, 5, 0, 1), {"--coregister", "--stable", in.path(name)});
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_THAT(r.err, HasSubstr(std::string("the stable mask ") + in.path(name) + " cannot be used: " + why)) << name;
    }
    EXPECT_TRUE(files_in(out.path("")).empty());

    ASSERT_EQ(import_pair(in, out, survey(0, 0, 0, 0), survey(10, 5, 0, 1), {"--coregister"}).status, 0);
    EXPECT_TRUE(fs_exists(out.path("cmp_coreg.json")));
    r = import_pair(in, out, survey(0, 0, 0, 0), survey(0, 0, 0, 1));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("The co-registration of an earlier import"));
    for (const std::string &f : files_in(out.path(""))) EXPECT_EQ(f.find("coreg"), std::string::npos) << f;
}
