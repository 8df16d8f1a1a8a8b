// --coregister: known shifts of smooth surfaces and of the real sample
// recovered, the bias removed with =xyz, a stable mask, and the pairs
// whose shift is undefined refused with nothing written; the tilt that
// --deramp finds and takes out, the warning of one without it, and the
// shifts that are not applied because they would not improve the
// agreement on all the cells.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <fstream>
#include <sstream>

#include "json.h"
#include "numfmt.h"
#include "rasters.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const int kSide = 160;
const double kCell = 30;
const double kPi = 3.14159265358979323846;

// Hills of several sizes facing every way, in metres, at ground point (x, y).
double hills(double x, double y) {
    return 300 + 60 * std::sin(x / 700) * std::cos(y / 900) + 25 * std::sin((x + 2 * y) / 260) +
           40 * std::exp(-(std::pow(x - 2400, 2) + std::pow(y - 2200, 2)) / 6e5);
}

// A survey of the ground z(x, y) (metres at ground point x, y) on the
// test grid, with noise of about 0.3 m (noise: 0 for none).
TestRaster surveyed(const std::function<double(double, double)> &z, double noise) {
    std::vector<double> v(size_t(kSide) * kSide);
    unsigned r = 12345;
    for (int i = 0; i < kSide; i++)
        for (int j = 0; j < kSide; j++) {
            const double x = (j + 0.5) * kCell, y = (kSide - i - 0.5) * kCell;
            r = r * 1103515245u + 12345u;
            v[size_t(i) * kSide + j] = z(x, y) + noise * ((r >> 8) % 1000 / 500.0 - 1) * 0.52;
        }
    TestRaster t = raster(kSide, kSide, GDT_Float32, v);
    t.gt[0] = 0, t.gt[3] = kSide * kCell;
    return t;
}

// A survey of the hills displaced by (vx, vy) metres, raised by dz, with
// noise; cells with sunk(x, y) sunk by 30 m.
TestRaster survey(double vx, double vy, double dz, double noise, bool (*sunk)(double, double) = nullptr) {
    return surveyed(
        [&](double x, double y) {
            return hills(x - vx, y - vy) + dz - (sunk && sunk(x, y) ? 30 * (1 + std::sin(x / 150)) : 0);
        },
        noise);
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

    // A step that would reach past a quarter of FIRST's extent (1200 m
    // here) is refused as it is asked for, not only the shift found last.
    r = import_pair(in, out, survey(0, 0, 0, 0), survey(1500, -900, 0, 0), {"--coregister"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("beyond a quarter of FIRST's extent: the surveys do not overlap enough"));
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

namespace {

// The members of a JSON file the import wrote.
Json coreg_of(const Folder &out) { return json_members(read_file(out.path("cmp_coreg.json"))); }

double number(const Json &j, const char *key) {
    const auto it = j.find(key);
    return it != j.end() && it->is_number() ? it->get<double>() : NAN;
}

// The mean of SECOND − FIRST as written (in their unit), on the columns
// from c0 to c1 − 1 of every line.
double written_difference(const Folder &out, int lines, int cols, int c0, int c1) {
    const std::vector<long long> s1 = samples(read_file(out.path("a_m4.raw")), 4, true);
    const std::vector<long long> s2 = samples(read_file(out.path("b_m4.raw")), 4, true);
    double sum = 0;
    long long n = 0;
    for (int i = 0; i < lines; i++)
        for (int j = c0; j < c1; j++) {
            const size_t k = size_t(i) * size_t(cols) + size_t(j);
            if (s1[k] == INT32_MIN || s2[k] == INT32_MIN) continue;
            sum += double(s2[k] - s1[k]);
            n++;
        }
    return sum / double(n);
}

}  // namespace

// The real sample moved by a third of a cell east and a quarter south and
// tilted (0.2 m per km east, -0.15 m per km north): --deramp finds the
// shift within 0.05 cell and the plane within 5 %, and the written SECOND
// is no longer tilted against FIRST.
TEST(CoregisterTilt, ARealSurveyShiftedAndTiltedIsFoundWithDeramp) {
    Folder in, out;
    const ReadBack sample = read_raster(KARVEL_DATA_DIR "/topobathy.tif");
    TestRaster a = raster(sample.lines, sample.cols, GDT_Float32, sample.values);
    std::copy(sample.gt, sample.gt + 6, a.gt);
    a.epsg = 4326;
    const double pi = std::acos(-1.0), lat = (a.gt[3] + a.gt[5] * a.lines / 2.0) * pi / 180;
    const double f = 1 / 298.257223563, e2 = f * (2 - f), w = std::sqrt(1 - e2 * std::sin(lat) * std::sin(lat));
    const double km_east = 6378.137 * std::cos(lat) / w * pi / 180, km_north = 6378.137 * (1 - e2) / (w * w * w) * pi / 180;
    const double tilt_east = 0.2, tilt_north = -0.15;  // metres per km
    TestRaster b = a;
    b.gt[0] += a.gt[1] / 3, b.gt[3] += a.gt[5] / 4;
    for (int i = 0; i < b.lines; i++)
        for (int j = 0; j < b.cols; j++)
            b.bands[0][size_t(i) * b.cols + j] += tilt_east * (b.gt[0] + (j + 0.5) * b.gt[1] + 124) * km_east +
                                                  tilt_north * (b.gt[3] + (i + 0.5) * b.gt[5] - 49) * km_north;
    const RunResult r = import_pair(in, out, a, b, {"--coregister", "--deramp", "--crop"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("  tilt 1: SECOND rises "));
    EXPECT_THAT(r.out, Not(HasSubstr("warning:")));
    const Json j = coreg_of(out);
    const double cell_x = a.gt[1] * km_east * 1000, cell_y = -a.gt[5] * km_north * 1000;
    EXPECT_NEAR(number(j, "dx_m"), -cell_x / 3, 0.05 * cell_x) << j.dump();
    EXPECT_NEAR(number(j, "dy_m"), cell_y / 4, 0.05 * cell_y) << j.dump();
    EXPECT_EQ(j["applied"], true);
    EXPECT_EQ(j["deramp_order"], 1);
    const Json &c = j["deramp_coefficients"];
    EXPECT_EQ(c["terms"], Json({"1", "x", "y"}));
    EXPECT_NEAR(c["m"][1].get<double>(), tilt_east, 0.05 * tilt_east) << c.dump();
    EXPECT_NEAR(c["m"][2].get<double>(), tilt_north, 0.05 * -tilt_north) << c.dump();
    EXPECT_NEAR(c["x_km_per_unit"].get<double>(), km_east, 1e-9 * km_east);
    EXPECT_NEAR(c["origin_x"].get<double>(), a.gt[0] + a.cols / 2.0 * a.gt[1], 1e-9);
    EXPECT_LT(number(j, "nmad_all_after"), number(j, "nmad_all_before"));
    // The written pair: the west and east halves differ by what the tilt
    // would make of them (about 29 m) no more.
    const ReadBack written = read_raster(out.path("a_m4.raw"));
    const double west = written_difference(out, written.lines, written.cols, 0, written.cols / 2);
    const double east = written_difference(out, written.lines, written.cols, written.cols / 2, written.cols);
    EXPECT_LT(std::fabs(east - west), 0.05 * tilt_east * written.cols / 2 * cell_x) << west << " " << east;
}

// The hills surveyed again without a shift but tilted (1 m per km east,
// -0.6 north): --coregister alone moves SECOND no further than makes the
// agreement on every cell better, and warns of the tilt; with --deramp the
// plane is found within 5 % and no shift is applied.
TEST(CoregisterTilt, ATiltAloneIsNotTakenForAShiftAndIsWarnedOf) {
    Folder in, out;
    auto tilted = [](double x, double y) { return hills(x, y) + 1.0 * (x - 2400) / 1000 - 0.6 * (y - 2400) / 1000; };
    RunResult r = import_pair(in, out, survey(0, 0, 0, 0), surveyed(tilted, 0), {"--coregister"});
    ASSERT_EQ(r.status, 0) << r.err;
    Json j = coreg_of(out);
    EXPECT_LE(number(j, "nmad_all_after"), number(j, "nmad_all_before")) << j.dump();
    EXPECT_LT(std::hypot(number(j, "dx_m"), number(j, "dy_m")), 0.2 * kCell) << j.dump();
    EXPECT_THAT(r.out, HasSubstr("warning: a plane explains "));
    ASSERT_EQ(j["warnings"].size(), 1u);
    EXPECT_THAT(r.out, HasSubstr(j["warnings"][0].get<std::string>() + "\n"));
    EXPECT_THAT(j["warnings"][0].get<std::string>(), HasSubstr("--deramp fits a tilt and takes it out"));

    r = import_pair(in, out, survey(0, 0, 0, 0), surveyed(tilted, 0), {"--coregister", "--deramp"});
    ASSERT_EQ(r.status, 0) << r.err;
    j = coreg_of(out);
    EXPECT_THAT(r.out, Not(HasSubstr("warning:")));
    EXPECT_EQ(j["warnings"], Json::array());
    const Json &m = j["deramp_coefficients"]["m"];
    EXPECT_NEAR(m[1].get<double>(), 1.0, 0.05) << j.dump();
    EXPECT_NEAR(m[2].get<double>(), -0.6, 0.03) << j.dump();
    EXPECT_EQ(j["applied"], false);
    EXPECT_EQ(number(j, "dx_m"), 0);
    EXPECT_LT(number(j, "nmad_all_after"), 0.05 * number(j, "nmad_all_before"));
}

// A curved tilt is found by --deramp=2 within 5 %; SECOND as whole
// millimetres, not moved and so not resampled, is converted with its tilt
// taken out cell by cell.
TEST(CoregisterTilt, AQuadricAndAWholeNumberSecondAreTakenOutCellByCell) {
    Folder in, out;
    auto curved = [](double x, double y) {
        const double u = (x - 2400) / 1000, v = (y - 2400) / 1000;
        return hills(x, y) + 0.5 * u - 0.3 * v + 0.4 * u * u - 0.25 * u * v + 0.2 * v * v;
    };
    RunResult r = import_pair(in, out, survey(0, 0, 0, 0), surveyed(curved, 0), {"--coregister", "--deramp=2"});
    ASSERT_EQ(r.status, 0) << r.err;
    Json j = coreg_of(out);
    EXPECT_EQ(j["deramp_order"], 2);
    EXPECT_EQ(j["deramp_coefficients"]["terms"], Json({"1", "x", "y", "x^2", "x*y", "y^2"}));
    const double truth[6] = {0, 0.5, -0.3, 0.4, -0.25, 0.2};
    for (int k = 1; k < 6; k++)
        EXPECT_NEAR(j["deramp_coefficients"]["m"][size_t(k)].get<double>(), truth[k], 0.05 * std::fabs(truth[k]))
            << k << " " << j.dump();

    auto whole_mm = [](TestRaster t) {
        for (double &v : t.bands[0]) v = std::round(v * 1000);
        t.type = GDT_Int32;
        t.unit = "mm";
        return t;
    };
    auto tilted = [](double x, double y) { return hills(x, y) + 0.8 * (x - 2400) / 1000; };
    r = import_pair(in, out, whole_mm(survey(0, 0, 0, 0)), whole_mm(surveyed(tilted, 0)), {"--coregister", "--deramp"});
    ASSERT_EQ(r.status, 0) << r.err;
    j = coreg_of(out);
    EXPECT_EQ(j["applied"], false) << j.dump();
    EXPECT_THAT(r.out, HasSubstr("No shift was applied to SECOND: it lies on FIRST's grid and was not resampled, "
                                 "its tilt (a plane) taken out"));
    EXPECT_NEAR(j["deramp_coefficients"]["m"][1].get<double>(), 0.8, 0.04) << j.dump();
    // 0.8 m per km over the 2.4 km between the halves' centres: about 1920 mm, gone.
    const double west = written_difference(out, kSide, kSide, 0, kSide / 2);
    const double east = written_difference(out, kSide, kSide, kSide / 2, kSide);
    EXPECT_LT(std::fabs(east - west), 0.05 * 1920) << west << " " << east;
}

namespace {

// Gentle ground (slopes under 2 degrees, which the fit leaves out) with a
// steep hill whose centre is (hx, hy).
double gentle_with_hill(double x, double y, double hx, double hy) {
    return 200 + 8 * std::sin(x / 300) * std::cos(y / 350) +
           80 * std::exp(-(std::pow(x - hx, 2) + std::pow(y - hy, 2)) / (2 * 300.0 * 300.0));
}

}  // namespace

// Only the hill moved (a landslide): the fit, on the steep cells, would
// move SECOND back by the hill's shift and lower their spread, but every
// other cell would then be displaced: the NMAD on all the cells rises, and
// no shift is applied.
TEST(CoregisterGuard, AShiftThatWorsensTheOtherCellsIsNotApplied) {
    Folder in, out;
    auto before = [](double x, double y) { return gentle_with_hill(x, y, 2400, 2400); };
    auto after = [](double x, double y) { return gentle_with_hill(x, y, 2400 + 45, 2400 - 30); };
    const RunResult r = import_pair(in, out, surveyed(before, 0), surveyed(after, 1), {"--coregister"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Json j = coreg_of(out);
    EXPECT_EQ(j["applied"], false);
    EXPECT_EQ(number(j, "dx_m"), 0);
    EXPECT_EQ(number(j, "dy_m"), 0);
    EXPECT_THAT(r.out, HasSubstr("  no shift applied: it would not improve the agreement"));
    EXPECT_THAT(r.out, HasSubstr("No shift was applied to SECOND: it lies on FIRST's grid and was not resampled"));
    // What was refused: the hill's way back, worse on all the cells.
    const Json &refused = j["refused"];
    EXPECT_LT(refused["dx_m"].get<double>(), -15) << refused.dump();
    EXPECT_GT(refused["dy_m"].get<double>(), 10) << refused.dump();
    EXPECT_GT(refused["nmad_all_after"].get<double>(), refused["nmad_all_before"].get<double>());
    EXPECT_EQ(number(j, "nmad_all_after"), number(j, "nmad_all_before"));

    // Compared and reported: the headline says the shift was not applied,
    // and its NMAD after co-registration is the comparison's (the same
    // cells: the subsample is every cell).
    ASSERT_EQ(run_karvel(out.read("cmp.answers")).status, 0);
    const RunResult rep = run_program(KARVEL_REPORT_LOCAL_BIN, {out.name(), "cmp"}, "");
    ASSERT_EQ(rep.status, 0) << rep.err;
    EXPECT_THAT(rep.out, HasSubstr("\tCo-registration: the shift found           not applied: it would not improve "
                                   "the agreement\n"));
    EXPECT_THAT(rep.out, HasSubstr("\tNMAD after co-registration                 " +
                                   fixed_decimals(number(j, "nmad_all_after"), 6) + " m on the same 25600 cells\n"));
    const Json headline = json_members(out.read("cmp_report.json"));
    EXPECT_NEAR(number(headline, "nmad"), number(j, "nmad_all_after"), 0.001);
    EXPECT_EQ(headline["coreg"]["applied"], false);
}

// A hill on noisy flat ground moved by two cells east and one south (2.24
// cells): moving it back lowers the NMAD on all the cells by less than
// 10 %, not enough for a shift larger than two cells; moved by one cell
// east and one south, it is applied. The hills that cover the grid, moved
// by 2.5 cells, are moved back, and the shift named.
TEST(CoregisterGuard, AShiftOfMoreThanTwoCellsNeedsATenthLessSpread) {
    Folder in, out;
    // Whole cells: a shift resampled between cells would smooth the noise,
    // which lowers the NMAD by itself.
    auto hill = [](double vx, double vy) {
        return [vx, vy](double x, double y) {
            return 100 + 60 * std::exp(-(std::pow(x - vx - 2400, 2) + std::pow(y - vy - 2400, 2)) / (2 * 250.0 * 250.0));
        };
    };
    RunResult r = import_pair(in, out, surveyed(hill(0, 0), 0), surveyed(hill(60, -30), 1), {"--coregister"});
    ASSERT_EQ(r.status, 0) << r.err;
    Json j = coreg_of(out);
    EXPECT_EQ(j["applied"], false);
    EXPECT_EQ(number(j, "dx_m"), 0);
    EXPECT_THAT(r.out, HasSubstr("  no shift applied: it would not improve the agreement (the shift found, -"));
    EXPECT_THAT(r.out, HasSubstr("is larger than two cells (2.2"));
    EXPECT_THAT(r.out, HasSubstr("10 % lower at least is needed)"));
    const Json &refused = j["refused"];
    EXPECT_NEAR(refused["dx_m"].get<double>(), -60, 0.05 * kCell) << refused.dump();
    EXPECT_NEAR(refused["dy_m"].get<double>(), 30, 0.05 * kCell) << refused.dump();
    const double gain = 1 - refused["nmad_all_after"].get<double>() / refused["nmad_all_before"].get<double>();
    EXPECT_GT(gain, 0.02);
    EXPECT_LT(gain, 0.10);

    r = import_pair(in, out, surveyed(hill(0, 0), 0), surveyed(hill(30, -30), 1), {"--coregister"});
    ASSERT_EQ(r.status, 0) << r.err;
    j = coreg_of(out);
    EXPECT_EQ(j["applied"], true);
    EXPECT_NEAR(number(j, "dx_m"), -30, 0.05 * kCell);
    EXPECT_NEAR(number(j, "dy_m"), 30, 0.05 * kCell);
    EXPECT_THAT(r.out, Not(HasSubstr("larger than two cells")));

    r = import_pair(in, out, survey(0, 0, 0, 0), survey(60, -45, 0, 1), {"--coregister"});
    ASSERT_EQ(r.status, 0) << r.err;
    j = coreg_of(out);
    EXPECT_EQ(j["applied"], true);
    EXPECT_NEAR(number(j, "dx_m"), -60, 0.05 * kCell);
    EXPECT_THAT(r.out, HasSubstr("is larger than two cells (2.4"));
    EXPECT_THAT(r.out, HasSubstr("): applied, as it takes the NMAD on the "));
}

// Periodic ground shifted by 40 × 30 cells: the fit, started far from the
// truth, takes steps of 5.8, 2.4 and 1.4 cells, then asks for 1.65 cells
// more, which would not lower the NMAD: the search was still moving. It is
// refused, never reported as found.
TEST(CoregisterGuard, AFitThatDoesNotConvergeIsRefused) {
    const int side = 300;
    const double cell = 10, px = 71, py = 19;  // ridges 7.1 and 1.9 cells apart
    auto ridges = [&](double x, double y) {
        return 200 + 20 * std::sin(2 * kPi * x / px) + 15 * std::cos(2 * kPi * y / py);
    };
    auto grid = [&](double vx, double vy) {
        std::vector<double> v(size_t(side) * side);
        for (int i = 0; i < side; i++)
            for (int j = 0; j < side; j++)
                v[size_t(i) * side + j] = ridges((j + 0.5) * cell - vx, (side - i - 0.5) * cell - vy);
        TestRaster t = raster(side, side, GDT_Float32, v);
        t.gt[0] = 0, t.gt[1] = cell, t.gt[3] = side * cell, t.gt[5] = -cell;
        return t;
    };
    Folder in, out;
    const RunResult r = import_pair(in, out, grid(0, 0), grid(40 * cell, -30 * cell), {"--coregister"});

    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("cannot be co-registered: the shift did not converge after 3 steps; last step 16."));
    EXPECT_THAT(r.err, HasSubstr(" cells), more than a quarter of a cell"));
    EXPECT_TRUE(files_in(out.path("")).empty());
}
