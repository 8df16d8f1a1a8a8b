// karvel-report run on the results of real karvel runs, without a terminal
// (and once with standard error on one, for its progress).
#include <fcntl.h>
#include <signal.h>

#include <chrono>
#include <thread>
#include <gdal.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
// Before <pty.h>, whose terminal speeds include a macro named B0.
#include "sums.h"
#include <pty.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <map>
#include <sstream>
#include <set>

#include "e2e.h"
#include "rasters.h"
#include "summary_text.h"

namespace fs = std::filesystem;
using ::testing::HasSubstr;

namespace {

// Runs a program; `path` replaces PATH, `cwd` is the folder it runs in.
RunResult run(const std::vector<std::string> &argv, const std::string &path = "", const std::string &cwd = "") {
    std::vector<std::string> args = {"-c", "cd \"$1\" && shift && exec \"$@\"", "sh", cwd.empty() ? "." : cwd};
    if (!path.empty()) args.insert(args.end(), {"/usr/bin/env", "PATH=" + path});
    args.insert(args.end(), argv.begin(), argv.end());
    return run_program("/bin/sh", args, "");
}

RunResult report(const Folder &f, const std::string &result = "r", const std::string &path = "") {
    return run({KARVEL_REPORT_LOCAL_BIN, f.name(), result}, path);
}

// Compares two 32-bit DEMs in meters with karvel.
void compare_dems(const Folder &f, int lines, int cols, const std::vector<int> &a, const std::vector<int> &b,
                  const std::string &result = "r", const std::string &unit = "0") {
    f.write("a_m4.raw", bytes32(a));
    f.write("a_m4.txt", description(lines, cols, 4, 10));
    f.write("b_m4.raw", bytes32(b));
    f.write("b_m4.txt", description(lines, cols, 4, 10));
    ASSERT_EQ(run_karvel(f.name() + "\n0\na\n1\nb\n1\n" + result + "\n" + unit + "\n0\n").status, 0);
}

// The numbers of the JSON file by key (null as not-a-number): every
// `"key": value` whose value is a number or null.
std::map<std::string, double> json_numbers(const std::string &json) {
    std::map<std::string, double> m;
    for (size_t q = json.find('"'); q != std::string::npos; q = json.find('"', q + 1)) {
        const size_t end = json.find('"', q + 1);
        if (end == std::string::npos) break;
        const std::string key = json.substr(q + 1, end - q - 1);
        q = end;
        if (json.compare(end + 1, 2, ": ") != 0) continue;
        const char *value = json.c_str() + end + 3;
        if (std::strncmp(value, "null", 4) == 0) {
            m.emplace(key, NAN);  // the headline's own, not a class row's
            continue;
        }
        char *stop = nullptr;
        const double v = std::strtod(value, &stop);
        if (stop != value) m.emplace(key, v);
    }
    return m;
}

// The figures by sorting and long double sums: a route of its own.
template <class T>
std::map<std::string, double> expected(const std::vector<T> &a, const std::vector<T> &b) {
    const size_t n = a.size();
    std::vector<double> d(n), ad(n);
    long double s = 0, sa = 0, sq = 0, mx = 0, my = 0;
    for (size_t i = 0; i < n; i++) {
        d[i] = double(b[i]) - double(a[i]);
        ad[i] = std::fabs(d[i]);
        s += d[i], sa += ad[i], sq += (long double)d[i] * d[i], mx += a[i], my += b[i];
    }
    mx /= n, my /= n;
    long double dev = 0, cxy = 0, cxx = 0, cyy = 0;
    for (size_t i = 0; i < n; i++) {
        dev += (d[i] - s / n) * (d[i] - s / n);
        cxy += (a[i] - mx) * (b[i] - my), cxx += (a[i] - mx) * (a[i] - mx), cyy += (b[i] - my) * (b[i] - my);
    }
    auto med = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    };
    std::map<std::string, double> e;
    e["n"] = double(n);
    e["mean_diff"] = double(s / n);
    e["sd_diff"] = double(std::sqrt(dev / (n - 1)));
    e["rms"] = double(std::sqrt(sq / (n - 1)));
    e["rms_n"] = double(std::sqrt(sq / n));
    e["mae"] = double(sa / n);
    e["median_diff"] = med(d);
    std::vector<double> off(n);
    for (size_t i = 0; i < n; i++) off[i] = std::fabs(d[i] - e["median_diff"]);
    e["nmad"] = 1.4826 * med(off);
    std::sort(ad.begin(), ad.end());
    e["le90"] = ad[size_t(std::ceil(0.90 * n)) - 1];
    e["le95"] = ad[size_t(std::ceil(0.95 * n)) - 1];
    e["min_diff"] = *std::min_element(d.begin(), d.end());
    e["max_diff"] = *std::max_element(d.begin(), d.end());
    e["r"] = double(cxy / std::sqrt(cxx * cyy));
    e["r2"] = e["r"] * e["r"];
    return e;
}

void expect_figures(const std::map<std::string, double> &got, const std::map<std::string, double> &want) {
    for (const auto &[key, v] : want) {
        ASSERT_TRUE(got.count(key)) << key;
        const double tol = 1e-9 * std::max(1.0, std::fabs(v));
        if (key == "median_diff" || key == "le90" || key == "le95" || key == "min_diff" || key == "max_diff" ||
            key == "n") {
            EXPECT_EQ(got.at(key), v) << key;  // exact
        } else {
            EXPECT_NEAR(got.at(key), v, tol) << key;
        }
    }
}

struct RasterRead {
    int cols = 0, lines = 0, bands = 0;
    std::vector<std::vector<double>> band;
    double gt[6] = {0, 0, 0, 0, 0, 0};
    bool has_gt = false;
    std::string wkt;
    bool has_nodata = false;  // of the first band, with its value and unit
    double nodata = 0;
    std::string unit;
};

RasterRead gdal_read(const std::string &path) {
    GDALAllRegister();
    RasterRead r;
    GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
    if (!ds) return r;
    r.cols = GDALGetRasterXSize(ds), r.lines = GDALGetRasterYSize(ds), r.bands = GDALGetRasterCount(ds);
    for (int b = 1; b <= r.bands; b++) {
        std::vector<double> v(size_t(r.cols) * r.lines);
        if (GDALRasterIO(GDALGetRasterBand(ds, b), GF_Read, 0, 0, r.cols, r.lines, v.data(), r.cols, r.lines,
                         GDT_Float64, 0, 0) != CE_None)
            v.clear();
        r.band.push_back(v);
    }
    r.has_gt = GDALGetGeoTransform(ds, r.gt) == CE_None;
    r.wkt = GDALGetProjectionRef(ds) ? GDALGetProjectionRef(ds) : "";
    if (r.bands > 0) {
        int has = 0;
        r.nodata = GDALGetRasterNoDataValue(GDALGetRasterBand(ds, 1), &has);
        r.has_nodata = has != 0;
        r.unit = GDALGetRasterUnitType(GDALGetRasterBand(ds, 1));
    }
    GDALClose(ds);
    return r;
}

// A PNG of the given size whose pixels are not all of one colour.
void expect_picture(const std::string &png, int width = 0, int height = 0) {
    RasterRead r = gdal_read(png);
    ASSERT_GT(r.cols, 0) << png << " is not a picture";
    if (width) {
        EXPECT_EQ(r.cols, width) << png;
    }
    if (height) {
        EXPECT_EQ(r.lines, height) << png;
    }
    std::set<double> seen;
    for (const auto &b : r.band)
        for (double v : b) {
            seen.insert(v);
            if (seen.size() > 2) return;
        }
    ADD_FAILURE() << png << " is blank";
}

const std::vector<std::string> kFigures = {"headline",  "error_histogram", "error_histogram_log", "profiles",
                                           "scatter",   "diff_map",        "resid_map",           "diff_histogram",
                                           "slope_classes"};

// Two DEMs where the second follows the first on a line, with some outliers.
void linear_pair(int lines, int cols, std::vector<int> &a, std::vector<int> &b) {
    for (int i = 0; i < lines * cols; i++) {
        a.push_back(1000 + (i * 37) % 101 + i / cols);
        b.push_back(2 * a.back() - 900 + (i % 3) - 1 + (i % 17 == 5 ? 250 : 0));
    }
}

}  // namespace

TEST(Report, ConstantOffsetOddCount) {
    Folder f;
    std::vector<int> a, b;
    for (int i = 0; i < 5 * 7; i++) a.push_back(100 + (i * 13) % 29), b.push_back(a.back() + 5);
    compare_dems(f, 5, 7, a, b);
    RunResult r = report(f);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto j = json_numbers(f.read("r_report.json"));
    EXPECT_EQ(j.at("n"), 35);
    EXPECT_EQ(j.at("mean_diff"), 5);
    EXPECT_EQ(j.at("sd_diff"), 0);
    EXPECT_EQ(j.at("median_diff"), 5);
    EXPECT_EQ(j.at("nmad"), 0);
    EXPECT_EQ(j.at("le90"), 5);
    EXPECT_EQ(j.at("le95"), 5);
    EXPECT_EQ(j.at("rms_n"), 5);
    EXPECT_EQ(j.at("rms"), std::sqrt(35 * 25.0 / 34));
    EXPECT_NEAR(j.at("r"), 1.0, 1e-12);
    EXPECT_EQ(j.at("b1"), 1.0);
    EXPECT_EQ(j.at("b0"), 5.0);
    EXPECT_THAT(f.read("r_report.json"), HasSubstr("\"unit\": \"m\""));
    EXPECT_THAT(r.out, HasSubstr("agree with the summary"));
}

TEST(Report, ALargeComparisonFindsItsRanksInTheOneWalk) {
    // Over a million positions: the ranks are sought during the walk from a
    // sample read before it, the signed histogram binned in it too. Terrain
    // with ties and outliers, then a constant offset (no spread: the NMAD
    // takes a walk of its own).
    const int lines = 1025, cols = 1024;
    for (int kind = 0; kind < 2; kind++) {
        Folder f;
        std::vector<int> a, b;
        for (int i = 0; i < lines * cols; i++) {
            const int line = i / cols, col = i % cols;
            a.push_back(2000 + (line * 7 + col * 3) % 500 + (i * 37) % 11);
            b.push_back(kind == 1 ? a.back() + 4 : a.back() + int(i * 7919LL % 9) - 3 + (i % 1009 == 0 ? 400 : 0));
        }
        compare_dems(f, lines, cols, a, b);
        RunResult r = report(f);
        ASSERT_EQ(r.status, 0) << r.err;
        expect_figures(json_numbers(f.read("r_report.json")), expected(a, b));
        // The signed histogram counts every difference once, drawn or beyond the axis.
        const std::string data = f.read("r_report/diff_histogram.dat");
        long long drawn = 0;
        std::istringstream in(data);
        for (std::string row; std::getline(in, row);)
            if (!row.empty() && row[0] != '#') drawn += std::stoll(row.substr(row.find('\t') + 1));
        const std::string script = f.read("r_report/diff_histogram.gp");
        const size_t beyond = script.find(" beyond the axis");
        const long long outside =
            beyond == std::string::npos ? 0 : std::stoll(script.substr(script.rfind('(', beyond) + 1));
        EXPECT_EQ(drawn + outside, (long long)lines * cols) << kind;
    }
}

TEST(Report, LinearRelationWithOutliersOddAndEvenCounts) {
    for (int lines : {7, 8}) {  // 63 and 72 positions
        Folder f;
        std::vector<int> a, b;
        linear_pair(lines, 9, a, b);
        compare_dems(f, lines, 9, a, b);
        RunResult r = report(f);
        ASSERT_EQ(r.status, 0) << r.err;
        expect_figures(json_numbers(f.read("r_report.json")), expected(a, b));
    }
}

TEST(Report, FiguresPdfAndScriptsThatRedraw) {
    Folder f;
    std::vector<int> a, b;
    linear_pair(40, 50, a, b);
    compare_dems(f, 40, 50, a, b);
    RunResult r = report(f);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string dir = f.path("r_report");
    for (const auto &name : kFigures) expect_picture(dir + "/" + name + ".png");
    expect_picture(dir + "/error_histogram.png", 1000, 750);
    expect_picture(dir + "/profiles.png", 1000, 1000);
    EXPECT_TRUE(fs::exists(dir + "/relief.rgba")) << "the maps of DEMs lie over a shaded relief";

    RunResult info = run({"pdfinfo", f.path("r_report.pdf")});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_THAT(info.out, ::testing::ContainsRegex("Pages: +" + std::to_string(kFigures.size()) + "\n"));

    // Each script redraws its figure on its own, from the folder's data.
    for (const auto &name : kFigures) {
        const std::string png = dir + "/" + name + ".png";
        const RasterRead before = gdal_read(png);
        fs::remove(png);
        RunResult g = run({"gnuplot", name + ".gp"}, "", dir);
        EXPECT_EQ(g.status, 0) << name << ": " << g.err;
        expect_picture(png, before.cols, before.lines);
    }
}

// Rasters whose per-line figures or fitted line have no finite value: a
// constant first raster (no line can be fitted), one column, one position.
TEST(Report, DegenerateRastersStillGiveEveryFigure) {
    struct Case {
        int lines, cols;
        std::vector<int> a, b;
    };
    const Case cases[] = {{3, 4, std::vector<int>(12, 50), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
                          {5, 1, {1, 2, 3, 4, 5}, {2, 2, 4, 4, 7}},
                          {1, 1, {5}, {7}}};
    for (const Case &c : cases) {
        Folder f;
        compare_dems(f, c.lines, c.cols, c.a, c.b);
        RunResult r = report(f);
        ASSERT_EQ(r.status, 0) << c.lines << " x " << c.cols << ": " << r.err;
        RunResult info = run({"pdfinfo", f.path("r_report.pdf")});
        EXPECT_THAT(info.out, ::testing::ContainsRegex("Pages: +" + std::to_string(kFigures.size()) + "\n"));
        // One position has no RMS (a division by n − 1 = 0): the JSON's null, in words.
        EXPECT_EQ(r.out.find("infinite"), std::string::npos) << r.out;
        if (c.lines * c.cols == 1) {
            EXPECT_THAT(r.out, HasSubstr("\tRMS error (over n - 1, as karvel)          not defined\n"));
        }
    }
}

// Names are text in the scripts: gnuplot would run a backquoted command.
TEST(Report, NamesNeverRunAsCommands) {
    Folder f;
    std::vector<int> a, b;
    linear_pair(4, 5, a, b);
    const std::string result = "q`touch${IFS}RAN`'x";
    compare_dems(f, 4, 5, a, b, result);
    RunResult r = report(f, result);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(fs::exists(f.path(result + "_report/RAN")));
    EXPECT_THAT(f.read(result + "_report/headline.gp"), HasSubstr("'Comparison q`touch${IFS}RAN`''x'"));
    RunResult g = run({"gnuplot", "headline.gp"}, "", f.path(result + "_report"));
    EXPECT_EQ(g.status, 0) << g.err;
    EXPECT_FALSE(fs::exists(f.path(result + "_report/RAN")));
}

// A report whose drawing fails leaves the earlier report as it was: no new
// script beside an earlier picture, and no scratch folder.
TEST(Report, AFailedReportLeavesTheEarlierOneWhole) {
    Folder f;
    std::vector<int> a, b;
    linear_pair(4, 5, a, b);
    compare_dems(f, 4, 5, a, b);
    ASSERT_EQ(report(f).status, 0);
    std::map<std::string, std::string> before;
    for (const auto &e : fs::directory_iterator(f.path("r_report")))
        before[e.path().filename()] = f.read("r_report/" + e.path().filename().string());
    f.write("r_report/mine.gp", "# a user's own script\n");

    // The same pair with its second raster changed, drawn by a gnuplot that fails.
    for (int &v : b) v += 3;
    compare_dems(f, 4, 5, a, b);
    const std::string bin = f.path("fakebin");
    fs::create_directories(bin);
    f.write("fakebin/gnuplot", "#!/bin/sh\nexit 1\n");
    fs::permissions(bin + "/gnuplot", fs::perms::owner_all);
    RunResult r = report(f, "r", bin + ":/usr/bin:/bin");
    EXPECT_EQ(r.status, 1);
    for (const auto &[name, bytes] : before) EXPECT_EQ(f.read("r_report/" + name), bytes) << name;
    EXPECT_TRUE(f.exists("r_report/mine.gp"));
    for (const auto &e : fs::directory_iterator(f.path("")))
        EXPECT_NE(e.path().filename().string()[0], '.') << "left behind: " << e.path();

    // Drawn again for real, the new figures replace the old, and the user's file stays.
    ASSERT_EQ(report(f).status, 0);
    EXPECT_NE(f.read("r_report/headline.gp"), before["headline.gp"]);
    EXPECT_TRUE(f.exists("r_report/mine.gp"));
}

TEST(Report, GeoTiffsHoldTheDifferencesWhereTheSourceLies) {
    // The whole path: two GeoTIFFs imported, compared by karvel, reported.
    Folder in, out;
    const int lines = 6, cols = 9;
    std::vector<double> first, second;
    for (int i = 0; i < lines * cols; i++) first.push_back(100 + i * 3 % 17), second.push_back(2 * first.back() - 7 + i % 4);
    write_tif(in.path("a.tif"), raster(lines, cols, GDT_Int16, first));
    write_tif(in.path("b.tif"), raster(lines, cols, GDT_Int16, second));
    ASSERT_EQ(run_import({in.path("a.tif"), in.path("b.tif"), out.name()}).status, 0);
    ASSERT_EQ(run_karvel(out.read("cmp.answers")).status, 0);
    RunResult r = report(out, "cmp");
    ASSERT_EQ(r.status, 0) << r.err;
    const ReadBack src = read_raster(in.path("a.tif"));
    const ReadBack diff = read_raster(out.path("cmp_diff.tif")), resid = read_raster(out.path("cmp_resid.tif"));
    ASSERT_EQ(diff.cols, cols);
    ASSERT_EQ(diff.lines, lines);
    ASSERT_EQ(resid.cols, cols);
    EXPECT_EQ(diff.type, GDT_Float32);
    ASSERT_TRUE(diff.has_gt && src.has_gt);
    for (int k = 0; k < 6; k++) EXPECT_EQ(diff.gt[k], src.gt[k]) << k;
    EXPECT_EQ(diff.authority, src.authority);
    EXPECT_EQ(resid.authority, src.authority);
    const auto j = json_numbers(out.read("cmp_report.json"));
    for (size_t i = 0; i < first.size(); i++) {
        EXPECT_EQ(diff.values[i], double(float(second[i] - first[i]))) << i;
        EXPECT_EQ(resid.values[i], double(float(second[i] - (first[i] * j.at("b1") + j.at("b0"))))) << i;
    }
    RunResult gi = run({"gdalinfo", out.path("cmp_diff.tif")});
    EXPECT_THAT(gi.out, HasSubstr("COMPRESSION=DEFLATE"));
}

// The first and last rows and columns of a picture that hold at least
// `least` pixels within 6 levels of the colour: the extent of an area of it.
struct Extent {
    int top = -1, bottom = -1, left = -1, right = -1;
};
Extent extent_of(const RasterRead &png, const int rgb[3], int least) {
    Extent e;
    std::vector<int> rows(size_t(png.lines)), cols(size_t(png.cols));
    for (int y = 0; y < png.lines; y++)
        for (int x = 0; x < png.cols; x++) {
            const size_t k = size_t(y) * png.cols + x;
            bool near = true;
            for (int c = 0; c < 3; c++) near = near && std::fabs(png.band[size_t(c)][k] - rgb[c]) <= 6;
            if (near) rows[size_t(y)]++, cols[size_t(x)]++;
        }
    for (int y = 0; y < png.lines; y++)
        if (rows[size_t(y)] >= least) e.bottom = y, e.top = e.top < 0 ? y : e.top;
    for (int x = 0; x < png.cols; x++)
        if (cols[size_t(x)] >= least) e.right = x, e.left = e.left < 0 ? x : e.left;
    return e;
}

TEST(Report, GeographicMapsShowTheNorthUpAndTheCellsGroundShape) {
    // Two 8-bit images (no relief over the colours) of 20 × 20 cells of
    // 0.01 degree about 60°N, where a cell is twice as high on the ground as
    // it is wide; the second is 40 grey levels brighter in the northern half.
    Folder in, out;
    const int lines = 20, cols = 20;
    std::vector<double> first, second;
    for (int i = 0; i < lines * cols; i++) first.push_back(50 + i % 7), second.push_back(first.back() + (i < 200 ? 40 : 0));
    TestRaster a = raster(lines, cols, GDT_Byte, first), b = raster(lines, cols, GDT_Byte, second);
    for (TestRaster *t : {&a, &b}) {
        const double gt[6] = {10, 0.01, 0, 60.1, 0, -0.01};
        std::copy(gt, gt + 6, t->gt);
        t->epsg = 4326;
    }
    ASSERT_EQ(import_pair(in, out, a, b).status, 0);
    ASSERT_EQ(run_karvel(out.read("cmp.answers")).status, 0);
    RunResult r = report(out, "cmp");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(out.read("cmp_report/diff_map.gp"), HasSubstr("set xlabel 'longitude (degrees)'"));
    // The cells' 98th percentile (40) ends the colours: the north in the
    // scale's darkest red, the south in its middle, above one another.
    const RasterRead png = gdal_read(out.path("cmp_report/diff_map.png"));
    ASSERT_GE(png.bands, 3);
    const int red[3] = {0x67, 0x00, 0x1f}, pale[3] = {0xf7, 0xf7, 0xf7};
    const Extent north = extent_of(png, red, 100), south = extent_of(png, pale, 100);
    ASSERT_GE(north.top, 0);
    ASSERT_GE(south.top, 0);
    EXPECT_LT(north.bottom, south.top);
    EXPECT_NEAR(north.bottom - north.top, south.bottom - south.top, 4);
    EXPECT_NEAR(north.left, south.left, 2);
    EXPECT_NEAR(north.right, south.right, 2);
    // A degree of latitude is 111.4 km there and one of longitude 55.8 km.
    EXPECT_NEAR(double(south.bottom - north.top + 1) / (north.right - north.left + 1), 111.4 / 55.8, 0.03);
}

TEST(Report, ImagesHaveGreyLevelsAndNoRelief) {
    Folder f;
    std::vector<int> p, q;
    for (int i = 0; i < 6 * 6; i++) p.push_back((i * 7) % 256), q.push_back((i * 7 + (i % 5)) % 256);
    f.write("p.raw", bytes8(p));
    f.write("p.txt", description(6, 6, 1));
    f.write("q.raw", bytes8(q));
    f.write("q.txt", description(6, 6, 1));
    ASSERT_EQ(run_karvel(f.name() + "\n1\np\nq\nr\n").status, 0);
    RunResult r = report(f);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(f.read("r_report.json"), HasSubstr("\"unit\": \"grey level\""));
    expect_figures(json_numbers(f.read("r_report.json")), expected(p, q));
    EXPECT_FALSE(f.exists("r_report/relief.rgba"));
    expect_picture(f.path("r_report/diff_map.png"));
}

TEST(Report, Refusals) {
    Folder f;
    // No summary.
    RunResult r = report(f);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("no summary c:\\images\\" + f.name() + "\\r_karvel.txt"));

    std::vector<int> a, b;
    linear_pair(6, 6, a, b);
    compare_dems(f, 6, 6, a, b);
    const std::string summary = f.read("r_karvel.txt");
    ASSERT_EQ(report(f).status, 0);
    const std::string json = f.read("r_report.json"), pdf = f.read("r_report.pdf");

    // An incomplete summary: a run stopped before its end.
    f.write("r_karvel.txt", summary.substr(0, summary.find("\tB0_Calc")));
    r = report(f);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("r_karvel.txt cannot be reported on: it is incomplete"));

    // A raster changed since the run: the sums no longer agree.
    f.write("r_karvel.txt", summary);
    b[10] += 3;
    f.write("b_m4.raw", bytes32(b));
    r = report(f);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("no longer agree (one or the other changed since the run)"));
    EXPECT_THAT(r.err, HasSubstr("RMS_Error"));
    // What a killed report left is removed, and named, by the next one.
    {
        const pid_t child = fork();
        if (child == 0) _exit(0);
        waitpid(child, nullptr, 0);
        const std::string scratch = ".r_report." + std::to_string(child) + ".tmp";
        const std::string part = ".r_diff.tif." + std::to_string(child) + ".0.tmp";
        fs::create_directory(f.path(scratch));
        f.write(scratch + "/profiles.gp", "partial");
        f.write(part, "partial");
        r = report(f);
        EXPECT_THAT(r.err, HasSubstr("karvel-report: removed what runs that were killed left in "));
        EXPECT_THAT(r.err, HasSubstr(part));
        EXPECT_THAT(r.err, HasSubstr(scratch));
        EXPECT_FALSE(fs::exists(f.path(scratch)));
        EXPECT_FALSE(f.exists(part));
    }
    // A refused report leaves the earlier one as it was, and no file behind.
    EXPECT_EQ(f.read("r_report.json"), json);
    EXPECT_EQ(f.read("r_report.pdf"), pdf);
    for (const auto &e : fs::directory_iterator(f.path("")))
        EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();

    // A summary whose fitted line was edited: B0 no longer follows from the sums.
    b[10] -= 3;
    f.write("b_m4.raw", bytes32(b));
    const size_t b0_at = summary.find("\tB0 = ") + 6;
    std::string edited = summary;
    edited.replace(b0_at, summary.find(' ', b0_at) - b0_at, "12.345678");
    f.write("r_karvel.txt", edited);
    r = report(f);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("B0 12.345678 in the summary"));
    EXPECT_THAT(r.err, Not(HasSubstr("RMS_Error")));
    f.write("r_karvel.txt", summary);
    b[10] += 3;

    // A histogram table that counts more positions than there are.
    const std::string hist = f.read("r_karvel_regres_lin.xls");
    f.write("r_karvel_regres_lin.xls", "1\t40\r\n");
    b[10] -= 3;
    f.write("b_m4.raw", bytes32(b));
    r = report(f);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("counts more positions than the 36 of the rasters"));
    f.write("r_karvel_regres_lin.xls", hist);

    // A raster whose description gives another size.
    f.write("b_m4.txt", description(6, 5, 4, 10));
    r = report(f);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("b_m4.txt gives 6 lines and 5 columns"));
}

TEST(Report, CommandLine) {
    RunResult r = run({KARVEL_REPORT_LOCAL_BIN, "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("Usage: karvel-report [--slope-edges E0,E1,...] [--classes RASTER] FOLDER RESULT"));
    EXPECT_EQ(run({KARVEL_REPORT_LOCAL_BIN}).status, 2);
    EXPECT_EQ(run({KARVEL_REPORT_LOCAL_BIN, "a", "b", "c"}).status, 2);
    EXPECT_EQ(run({KARVEL_REPORT_LOCAL_BIN, "-h"}).out, r.out);
    // A usage error: what is wrong, then the usage line.
    const std::string usage = "Usage: karvel-report [--slope-edges E0,E1,...] [--classes RASTER] FOLDER RESULT\n"
                              "Try 'karvel-report --help'.\n";
    r = run({KARVEL_REPORT_LOCAL_BIN, "--fast", "a", "b"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "karvel-report: unknown option --fast\n" + usage);
    r = run({KARVEL_REPORT_LOCAL_BIN, "a", "b", "--slope-edges"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "karvel-report: --slope-edges needs a value\n" + usage);
    // After "--" a word that looks like an option is a folder.
    r = run({KARVEL_REPORT_LOCAL_BIN, "--", "-dem", "r"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("no summary c:\\images\\-dem\\r_karvel.txt to report on"));
    // A folder that leads out of the images directory, as karvel-import refuses it.
    r = run({KARVEL_REPORT_LOCAL_BIN, "../x", "r"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "karvel-report: the folder \"../x\" leads out of the images directory\n");
    std::string long_name(100, 'n');
    r = run({KARVEL_REPORT_LOCAL_BIN, "dem", long_name});
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr("result name"));
    // Without gnuplot nothing is drawn: refused before any work.
    Folder f;
    r = report(f, "r", "/nonexistent");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("gnuplot is not installed"));
}

TEST(Report, ProgressOnlyWhereStandardErrorIsATerminal) {
    Folder f;
    std::vector<int> a, b;
    linear_pair(9, 11, a, b);
    compare_dems(f, 9, 11, a, b);
    const RunResult plain = report(f);
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.err, "");
    // Standard error on a terminal, standard output into a file.
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const std::string out_path = f.path("stdout.txt");
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(slave, 2);
        close(master);
        execl(KARVEL_REPORT_LOCAL_BIN, KARVEL_REPORT_LOCAL_BIN, f.name().c_str(), "r", (char *)nullptr);
        _exit(127);
    }
    close(slave);
    std::string err;
    char buf[4096];
    for (ssize_t got; (got = read(master, buf, sizeof buf)) > 0;) err.append(buf, size_t(got));  // EIO at the end
    close(master);
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << err;
    // GDAL's progress (the terminal ends each line with CR LF); standard
    // output as without a terminal.
    EXPECT_EQ(err, "Reading " + f.shown("a_m4.raw") + " and " + f.shown("b_m4.raw") +
                       "\r\n0...10...20...30...40...50...60...70...80...90...100 - done.\r\n");
    EXPECT_EQ(f.read("stdout.txt"), plain.out);
}

// Positions without data: where a header declares a no-data value, the
// report leaves out exactly the positions karvel left out.
namespace {

enum class Headers { none, without_value, with_value };

// A pair with an irregular outline and holes, compared by karvel: the first
// a 32-bit DEM in decimetres without data (-9999) outside an ellipse and in
// a block, the second a 16-bit DEM in metres without data (65535) in
// scattered cells and along one whole line. x and y are the values of the
// positions with data in both, in metres, in position order.
struct HoledPair {
    int lines = 0, cols = 0;
    std::vector<bool> keep;
    std::vector<double> x, y;
};

HoledPair holed_pair(const Folder &f, int lines, int cols, Headers headers) {
    HoledPair p;
    p.lines = lines, p.cols = cols;
    std::vector<int> a, b;
    for (int i = 0; i < lines; i++)
        for (int j = 0; j < cols; j++) {
            const int k = i * cols + j;
            const double di = (i - lines / 2.0) / (lines / 2.0), dj = (j - cols / 2.0) / (cols / 2.0);
            // Three positions in five differ by nothing: more than half of
            // the differences equal their median, which takes the NMAD a
            // walk of its own where it is sought during the walk.
            const bool same = k % 5 < 3;
            a.push_back(10 * (400 + (i * 37 + j * 11) % 90) + (same ? 0 : k * 7 % 10));
            b.push_back(a.back() / 10 + (same ? 0 : int(k * 7919LL % 7) - 3) + (k % 211 == 0 ? 60 : 0));
            if (di * di + dj * dj > 1 || (i >= lines / 5 && i < lines / 5 + lines / 8 && j >= cols / 4 &&
                                          j < cols / 4 + cols / 6))
                a.back() = -9999;
            if ((i * 7 + j * 3) % 41 == 0 || i == lines / 3) b.back() = 65535;
            p.keep.push_back(a.back() != -9999 && b.back() != 65535);
            if (p.keep.back()) p.x.push_back(double(a.back()) * 0.1), p.y.push_back(double(b.back()));
        }
    f.write("a_m4.raw", bytes32(a));
    f.write("a_m4.txt", description(lines, cols, 4, 10));
    f.write("b_m2.raw", bytes16(b));
    f.write("b_m2.txt", description(lines, cols, 2, 10));
    if (headers != Headers::none) {
        const bool value = headers == Headers::with_value;
        const std::string size = "samples = " + std::to_string(cols) + "\nlines = " + std::to_string(lines) + "\n";
        f.write("a_m4.hdr", "ENVI\n" + size + "data type = 3\nbyte order = 0\n" +
                                (value ? "data ignore value = -9999\n" : ""));
        f.write("b_m2.hdr", "ENVI\n" + size + "data type = 12\nbyte order = 0\n" +
                                (value ? "data ignore value = 65535\n" : ""));
    }
    EXPECT_EQ(run_karvel(f.name() + "\n0\na\n1\nb\n0\nr\n1\n0\n").status, 0);
    return p;
}

std::vector<float> floats(const std::string &bytes) {
    std::vector<float> v(bytes.size() / sizeof(float));
    std::memcpy(v.data(), bytes.data(), v.size() * sizeof(float));
    return v;
}

// The counts of a figure's data file (column `column` of its rows).
long long counted(const std::string &data, int column) {
    long long total = 0;
    std::istringstream in(data);
    for (std::string row; std::getline(in, row);) {
        if (row.empty() || row[0] == '#') continue;
        std::istringstream fields(row);
        std::string v;
        for (int c = 0; c <= column; c++) fields >> v;
        total += std::stoll(v);
    }
    return total;
}

}  // namespace

TEST(ReportNoData, EveryFigureIsTakenOverThePositionsWithDataInBoth) {
    // 41 x 57 positions keep their differences; 1400 x 1100, of which more
    // than 4 x 262144 are kept, have their ranks sought during the walk and
    // their maps reduced to blocks of 2 x 2.
    for (const auto &[lines, cols] : {std::pair{41, 57}, std::pair{1400, 1100}}) {
        Folder f;
        const HoledPair p = holed_pair(f, lines, cols, Headers::with_value);
        const long long all = (long long)lines * cols, kept = (long long)p.x.size(), left = all - kept;
        if (lines > 1000) {
            ASSERT_GE(kept, 4 * 262144);
        }
        RunResult r = report(f);
        ASSERT_EQ(r.status, 0) << r.err;
        const auto j = json_numbers(f.read("r_report.json"));
        expect_figures(j, expected(p.x, p.y));
        EXPECT_EQ(j.at("n_left_out"), double(left));
        EXPECT_THAT(f.read("r_karvel.txt"), HasSubstr(": " + std::to_string(left) + " of " + std::to_string(all)));
        EXPECT_THAT(r.out, HasSubstr("Positions left out (no data)               " + std::to_string(left) + "\n"));
        // The fitted line of a plain loop, against the summary's six decimals.
        double X = 0, Y = 0, XY = 0, X2 = 0;
        for (size_t k = 0; k < p.x.size(); k++) X += p.x[k], Y += p.y[k], XY += p.x[k] * p.y[k], X2 += p.x[k] * p.x[k];
        const double B1 = (kept * XY - X * Y) / (kept * X2 - X * X);
        EXPECT_NEAR(j.at("b1"), B1, 1e-6);
        EXPECT_NEAR(j.at("b0"), (Y - X * B1) / kept, 1e-6);

        // Every figure counts the kept positions alone.
        EXPECT_EQ(counted(f.read("r_report/error_histogram.dat"), 2), kept);
        // The signed histogram: each kept difference in its bin of the axis
        // the script gives, or counted beyond it.
        const std::string script = f.read("r_report/diff_histogram.gp");
        const size_t axis = script.find("set xrange [") + 12, beyond = script.find(" beyond the axis");
        const double lo = std::stod(script.substr(axis)), hi = std::stod(script.substr(script.find(':', axis) + 1));
        std::vector<long long> bins(120, 0);
        long long outside = 0;
        for (size_t k = 0; k < p.x.size(); k++) {
            const double d = p.y[k] - p.x[k];
            if (d >= lo && d <= hi)
                bins[size_t(std::min(119.0, std::max(0.0, (d - lo) * (120 / (hi - lo)))))]++;
            else
                outside++;
        }
        std::vector<long long> drawn;
        std::istringstream rows(f.read("r_report/diff_histogram.dat"));
        for (std::string row; std::getline(rows, row);)
            if (row[0] != '#') drawn.push_back(std::stoll(row.substr(row.find('\t') + 1)));
        EXPECT_EQ(drawn, bins);
        EXPECT_EQ(beyond == std::string::npos ? 0 : std::stoll(script.substr(script.rfind('(', beyond) + 1)), outside);
        double in_scatter = 0;
        for (float c : floats(f.read("r_report/scatter.f32"))) in_scatter += std::isnan(c) ? 0 : c;
        EXPECT_EQ(in_scatter, double(kept));

        // The map's cells: the mean of the kept differences of each block,
        // none where a block has none.
        const int side = lines > 750 ? 2 : 1, map_lines = (lines + side - 1) / side, map_cols = (cols + side - 1) / side;
        const std::vector<float> cells = floats(f.read("r_report/diff_map.f32"));
        ASSERT_EQ(cells.size(), size_t(map_lines) * map_cols);
        std::vector<double> sum(cells.size(), 0.0);
        std::vector<int> in_cell(cells.size(), 0);
        for (int i = 0, k = 0; i < lines; i++)
            for (int c = 0; c < cols; c++) {
                if (!p.keep[size_t(i) * cols + c]) continue;
                const size_t cell = size_t(i / side) * map_cols + size_t(c / side);
                sum[cell] += p.y[size_t(k)] - p.x[size_t(k)], in_cell[cell]++, k++;
            }
        size_t wrong = 0;
        for (size_t k = 0; k < cells.size(); k++)
            if (in_cell[k] == 0 ? !std::isnan(cells[k]) : !(std::fabs(cells[k] - sum[k] / in_cell[k]) < 1e-4)) wrong++;
        EXPECT_EQ(wrong, 0u);
        EXPECT_THAT(f.read("r_report/diff_map.gp"), HasSubstr("; hatched grey: no data)"));
        if (lines > 1000) continue;

        // Both GeoTIFFs: not a number, declared as their nodata, exactly at
        // the positions left out.
        const RasterRead diff = gdal_read(f.path("r_diff.tif")), resid = gdal_read(f.path("r_resid.tif"));
        ASSERT_EQ(diff.band.at(0).size(), size_t(all));
        for (const RasterRead *t : {&diff, &resid}) {
            EXPECT_TRUE(t->has_nodata && std::isnan(t->nodata));
            EXPECT_EQ(t->unit, "m");
        }
        for (size_t k = 0, kk = 0; k < size_t(all); k++) {
            if (!p.keep[k]) {
                EXPECT_TRUE(std::isnan(diff.band[0][k]) && std::isnan(resid.band[0][k])) << k;
                continue;
            }
            const double x = p.x[kk], y = p.y[kk++];
            EXPECT_EQ(diff.band[0][k], double(float(y - x))) << k;
            EXPECT_EQ(resid.band[0][k], double(float(y - (x * j.at("b1") + j.at("b0"))))) << k;
        }
    }
}

TEST(ReportNoData, AHeaderThatDeclaresNoValueChangesNoFigure) {
    Folder plain, declared;
    holed_pair(plain, 23, 31, Headers::none);
    holed_pair(declared, 23, 31, Headers::without_value);
    ASSERT_EQ(report(plain).status, 0);
    ASSERT_EQ(report(declared).status, 0);
    EXPECT_EQ(declared.read("r_report.json"), plain.read("r_report.json"));
    EXPECT_THAT(plain.read("r_report.json"), Not(HasSubstr("n_left_out")));
    for (const auto &e : fs::directory_iterator(plain.path("r_report"))) {
        const std::string name = "r_report/" + e.path().filename().string();
        if (name.find(".gp") == std::string::npos && name.find(".png") == std::string::npos) {
            EXPECT_EQ(declared.read(name), plain.read(name)) << name;
        }
    }
    EXPECT_THAT(plain.read("r_report/diff_map.gp"), Not(HasSubstr("no data")));
    const RasterRead diff = gdal_read(plain.path("r_diff.tif"));
    EXPECT_FALSE(diff.has_nodata);
    EXPECT_EQ(diff.unit, "m");
}

TEST(ReportNoData, SummariesAndHeadersThatDisagreeAreRefused) {
    Folder f;
    const HoledPair p = holed_pair(f, 12, 14, Headers::with_value);
    const std::string summary = f.read("r_karvel.txt"), header = f.read("a_m4.hdr");
    const long long left = 12 * 14 - (long long)p.x.size();
    const std::string line = "(no data in either raster): " + std::to_string(left) + " of 168";
    ASSERT_THAT(summary, HasSubstr(line));
    auto refused = [&](const std::string &said) {
        RunResult r = report(f);
        EXPECT_EQ(r.status, 1) << said;
        EXPECT_THAT(r.err, HasSubstr(said));
    };
    std::string edited = summary;
    edited.replace(summary.find(line), line.size(), "(no data in either raster): " + std::to_string(left - 1) + " of 168");
    f.write("r_karvel.txt", edited);
    refused("the rasters and the summary " + f.shown("r_karvel.txt") + " no longer agree: it leaves out " +
            std::to_string(left - 1) + " of 168 positions (no data in either raster), the rasters now " +
            std::to_string(left));
    f.write("r_karvel.txt", summary);
    fs::remove(f.path("a_m4.hdr"));
    fs::remove(f.path("b_m2.hdr"));
    refused("the summary " + f.shown("r_karvel.txt") + " leaves out " + std::to_string(left) +
            " positions without data, but neither " + f.shown("a_m4.hdr") + " nor " + f.shown("b_m2.hdr") +
            " declares a no-data value");
    // A header written after a run that had none.
    ASSERT_EQ(run_karvel(f.name() + "\n0\na\n1\nb\n0\nr\n1\n0\n").status, 0);
    f.write("a_m4.hdr", header);
    refused("the summary " + f.shown("r_karvel.txt") + " leaves no position out, but the header " +
            f.shown("a_m4.hdr") + " declares the no-data value -9999");
    // Headers read as karvel reads them.
    f.write("a_m4.hdr", "ENVI\nsamples = 15\n");
    refused("the header " + f.shown("a_m4.hdr") + " does not agree with the description file " + f.shown("a_m4.txt") +
            ": it gives 15 samples where the description gives 14 columns");
    f.write("a_m4.hdr", "ENVI\ndata ignore value = none\n");
    refused("the header " + f.shown("a_m4.hdr") + " cannot be used: its data ignore value \"none\" is not a whole number");
}

TEST(ReportNoData, ImportedImagesWithHolesLeaveThemOutOfTheGeoTiffs) {
    // 8-bit images with holes, imported from GeoTIFFs, compared by karvel
    // from the import's answers, reported.
    Folder in, out;
    const int lines = 9, cols = 13;
    std::vector<double> first, second;
    std::vector<bool> keep;
    for (int i = 0; i < lines * cols; i++) {
        const int line = i / cols, col = i % cols;
        const bool outside = std::abs(line - 4) + std::abs(col - 6) > 8;
        first.push_back(outside ? 0 : 20 + (i * 13) % 200);
        second.push_back(i % 10 == 3 ? 255 : std::min(254.0, first.back() + i % 5));
        keep.push_back(!outside && i % 10 != 3);
    }
    TestRaster a = raster(lines, cols, GDT_Byte, first), b = raster(lines, cols, GDT_Byte, second);
    a.has_nodata = b.has_nodata = true;
    a.nodata = 0;
    b.nodata = 255;
    ASSERT_EQ(import_pair(in, out, a, b).status, 0);
    ASSERT_EQ(run_karvel(out.read("cmp.answers")).status, 0);
    RunResult r = report(out, "cmp");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<double> x, y;
    for (size_t k = 0; k < keep.size(); k++)
        if (keep[k]) x.push_back(first[k]), y.push_back(second[k]);
    const auto j = json_numbers(out.read("cmp_report.json"));
    expect_figures(j, expected(x, y));
    EXPECT_EQ(j.at("n_left_out"), double(keep.size() - x.size()));
    const ReadBack src = read_raster(in.path("a.tif"));
    const RasterRead diff = gdal_read(out.path("cmp_diff.tif"));
    ASSERT_TRUE(diff.has_gt);
    for (int k = 0; k < 6; k++) EXPECT_EQ(diff.gt[k], src.gt[k]) << k;
    EXPECT_TRUE(diff.has_nodata && std::isnan(diff.nodata));
    EXPECT_EQ(diff.unit, "grey level");
    for (size_t k = 0; k < keep.size(); k++)
        EXPECT_TRUE(keep[k] ? diff.band[0][k] == second[k] - first[k] : std::isnan(diff.band[0][k])) << k;
}

TEST(Report, ARasterShorterThanItsDescriptionIsSaidAsKarvelSaysIt) {
    Folder f;
    std::vector<int> a, b;
    linear_pair(20, 20, a, b);
    compare_dems(f, 20, 20, a, b);
    ASSERT_EQ(report(f).status, 0);
    EXPECT_THAT(f.read("r_report.json"), HasSubstr("\"warnings\": [],\n"));
    // 111 of the 400 samples: the rest reads as zeros, in karvel and in the report.
    a.resize(111);
    f.write("a_m4.raw", bytes32(a));
    RunResult k = run_karvel(f.name() + "\n0\na\n1\nb\n1\nr\n0\n0\n");
    std::string said = "the file " + f.shown("a_m4.raw");
    said += " holds 444 bytes, but 20 lines of 20 columns of 4-byte samples need 1600 bytes";
    ASSERT_THAT(k.out, HasSubstr("\n\tWarning: " + said));
    RunResult r = report(f);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("\tWarning: " + said + "\n"));
    std::string escaped;
    for (char c : said) {
        if (c == '\\') escaped += c;
        escaped += c;
    }
    EXPECT_THAT(f.read("r_report.json"), HasSubstr("\"warnings\": [\n    \"" + escaped + "\"\n  ],\n"));
    RunResult text = run({"pdftotext", f.path("r_report.pdf"), "-"});
    EXPECT_THAT(text.out, HasSubstr("444 bytes"));
}

// Whether each of the four sums of a pair read at `factor`, printed as the
// summary prints it, reads back as the very double: then the report counts
// karvel's histogram in its one walk, else in one more after it.
bool sums_print_every_bit(int lines, int cols, const std::vector<int> &a, const std::vector<int> &b,
                          double factor) {
    RasterSums sums;
    std::vector<double> x(static_cast<size_t>(cols)), y(static_cast<size_t>(cols));
    for (int i = 0; i < lines; i++) {
        for (int j = 0; j < cols; j++) {
            x[size_t(j)] = double(a[size_t(i * cols + j)]) * factor;
            y[size_t(j)] = double(b[size_t(i * cols + j)]) * factor;
        }
        line_walk(x.data(), y.data(), cols, sums);
    }
    for (double v : {sums.Suma_X, sums.Suma_Y, sums.Suma_XY, sums.Suma_X2}) {
        char text[64];
        std::snprintf(text, sizeof text, "%f", v);
        if (std::strtod(text, nullptr) != v) return false;
    }
    return true;
}

TEST(Report, TablesOfAnotherRunAreRefused) {
    // Sums of whole meters print every bit; those of decimeters in meters
    // do not.
    for (const bool whole : {false, true}) {
        SCOPED_TRACE(whole ? "sums that print every bit" : "sums that do not");
        Folder f, other;
        std::vector<int> a, b;
        const std::string unit = whole ? "0" : "1";
        linear_pair(12, 9, a, b);
        ASSERT_EQ(sums_print_every_bit(12, 9, a, b, whole ? 1.0 : 0.1), whole);
        compare_dems(f, 12, 9, a, b, "r", unit);
        for (int &v : b) v += 250;  // another comparison of the same size
        b[7] -= 4000;
        compare_dems(other, 12, 9, a, b, "r", unit);
        ASSERT_EQ(report(f).status, 0);
        const std::string table = f.read("r_karvel.xls"), histogram = f.read("r_karvel_regres_lin.xls");
        ASSERT_NE(other.read("r_karvel.xls"), table);

        f.write("r_karvel.xls", other.read("r_karvel.xls"));
        RunResult r = report(f);
        EXPECT_EQ(r.status, 1);
        EXPECT_THAT(r.err, HasSubstr("the per-line table " + f.shown("r_karvel.xls") + " is not the one of the summary " +
                                     f.shown("r_karvel.txt") + ": its row of line 0 differs"));
        f.write("r_karvel.xls", table);
        f.write("r_karvel_regres_lin.xls", other.read("r_karvel_regres_lin.xls"));
        r = report(f);
        EXPECT_EQ(r.status, 1);
        EXPECT_THAT(r.err, HasSubstr("the histogram table " + f.shown("r_karvel_regres_lin.xls") +
                                     " is not the one of the summary " + f.shown("r_karvel.txt")));
        // One count less in the first bin that counts any; the last row left out.
        std::string edited, shortened;
        long long bin = 0, count = 0, last = 0;
        size_t at = 0;
        while (at < histogram.size()) {
            const size_t end = histogram.find("\r\n", at), tab = histogram.find('\t', at);
            long long k = std::stoll(histogram.substr(at, tab - at)),
                      c = std::stoll(histogram.substr(tab + 1, end - tab - 1));
            if (end + 2 < histogram.size()) shortened += histogram.substr(at, end + 2 - at);
            last = c;
            if (bin == 0 && c > 0) bin = k, count = c--;
            edited += std::to_string(k) + "\t" + std::to_string(c) + "\r\n";
            at = end + 2;
        }
        ASSERT_GT(bin, 0);
        ASSERT_GT(last, 0);
        f.write("r_karvel_regres_lin.xls", edited);
        r = report(f);
        EXPECT_EQ(r.status, 1);
        EXPECT_THAT(r.err, HasSubstr("it counts " + std::to_string(count - 1) + " errors in bin " +
                                     std::to_string(bin) + ", the rasters " + std::to_string(count)));
        f.write("r_karvel_regres_lin.xls", shortened);
        r = report(f);
        EXPECT_EQ(r.status, 1);
        EXPECT_THAT(r.err, HasSubstr(": " + std::to_string(last) + " errors of the rasters lie beyond its last bin"));
        f.write("r_karvel_regres_lin.xls", histogram);
        EXPECT_EQ(report(f).status, 0);
    }
}

TEST(Report, TheStatusAfterASignalTellsWhetherTheNewReportIsInPlace) {
    Folder f;
    std::vector<int> a, b;
    linear_pair(300, 300, a, b);
    compare_dems(f, 300, 300, a, b);
    // How long a whole report takes here, to spread the signals over it.
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(report(f).status, 0);
    const double whole = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    int in_place = 0, stopped = 0;
    for (int k = 0; k < 12; k++) {
        f.write("r_report.json", "earlier");
        const pid_t pid = fork();
        if (pid == 0) {
            const int null = open("/dev/null", O_RDWR);
            dup2(null, 0), dup2(null, 1), dup2(null, 2);
            execl(KARVEL_REPORT_LOCAL_BIN, KARVEL_REPORT_LOCAL_BIN, f.name().c_str(), "r", (char *)nullptr);
            _exit(127);
        }
        std::this_thread::sleep_for(std::chrono::duration<double>(whole * (0.6 + 0.5 * k / 12.0)));
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        const bool replaced = f.read("r_report.json") != "earlier";
        const bool success = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        EXPECT_EQ(success, replaced) << "try " << k << ", status " << status;
        (success ? in_place : stopped)++;
    }
    EXPECT_GT(stopped, 0);  // the signals did come during the work
}

// The GeoTIFFs' largest size against the free space, before any is begun:
// a summary of 100000 × 1000000 positions needs 800 GB of them.
TEST(Report, GeoTiffsLargerThanTheFreeSpaceAreRefused) {
    Folder f;
    compare_dems(f, 1, 2, {1, 2}, {2, 2});
    struct statvfs disk;
    ASSERT_EQ(statvfs(f.path("").c_str(), &disk), 0);
    if (uint64_t(disk.f_bavail) * disk.f_frsize > 800e9) GTEST_SKIP() << "the disk has room for 800 GB";
    std::string summary = f.read("r_karvel.txt");
    summary.replace(summary.find("1 lines and 2"), 13, "100000 lines and 1000000");
    f.write("r_karvel.txt", summary);
    const std::string table = f.read("r_karvel.xls");
    const size_t figures = table.find("\r\n0\t") + 3;  // line 0's, for every line
    const std::string row = table.substr(figures, table.find("\r\n", figures) - figures) + "\n";
    std::string rows = summary_text::kLineTableHeader;
    for (int i = 0; i < 100000; i++) rows += std::to_string(i) + row;
    f.write("r_karvel.xls", crlf(rows));
    for (const char *d : {"a_m4.txt", "b_m4.txt"}) f.write(d, description(100000, 1000000, 4, 10));
    const RunResult r = run({"timeout", "120", KARVEL_REPORT_LOCAL_BIN, f.name(), "r"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("karvel-report: the two GeoTIFFs may not fit on the disk (uncompressed, at most): "));
    EXPECT_FALSE(fs::exists(f.path("r_report.json")));
    for (const auto &e : fs::directory_iterator(f.path("")))
        EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
}

// A report blocked on its console once its files are in place (the reader
// of its standard output stopped reading) and then sent SIGTERM ends with
// status 0 and says what it wrote: the new report stands.
TEST(Report, ASignalAfterTheNewReportIsInPlaceDoesNotMakeItAFailure) {
    Folder f;
    std::vector<int> a, b;
    linear_pair(150, 150, a, b);
    compare_dems(f, 150, 150, a, b);
    f.write("r_report.json", "earlier");
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0), dup2(out[1], 1), dup2(null, 2);
        close(out[0]), close(out[1]);
        execl(KARVEL_REPORT_LOCAL_BIN, KARVEL_REPORT_LOCAL_BIN, f.name().c_str(), "r", (char *)nullptr);
        _exit(127);
    }
    // Read the console up to the headline, printed before the figures are
    // drawn, then fill the pipe so that "Written" cannot be printed.
    std::string said;
    char buf[4096];
    while (said.find("agree with the summary.\n") == std::string::npos) {
        const ssize_t n = read(out[0], buf, sizeof buf);
        ASSERT_GT(n, 0) << said;
        said.append(buf, size_t(n));
    }
    // Through a description of its own: the report's stays blocking.
    const int fill = open(("/proc/self/fd/" + std::to_string(out[1])).c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(fill, 0);
    close(out[1]);
    const std::string filler(4096, '\n');
    while (write(fill, filler.data(), filler.size()) > 0) {}
    for (int k = 0; k < 600 && f.read("r_report.json") == "earlier"; k++)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_NE(f.read("r_report.json"), "earlier");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(pid, SIGTERM);
    close(fill);
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) said.append(buf, size_t(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_NE(said.find("\tWritten: "), std::string::npos) << said.substr(said.size() > 400 ? said.size() - 400 : 0);
}

// The shift that karvel-import found, beside the summary, is in the
// headline (console, JSON); one that is not whole is refused, named.
TEST(Report, TheCoregistrationBesideTheSummaryIsInTheHeadline) {
    Folder f;
    compare_dems(f, 2, 3, {1, 2, 3, 4, 5, 6}, {2, 2, 4, 4, 6, 6});
    f.write("r_coreg.json", "{\n  \"dx_m\": -12.500000,\n  \"dy_m\": 3.250000,\n  \"dz_m\": 0.750000,\n"
                            "  \"bias_removed\": true,\n  \"iterations\": 3,\n  \"nmad_before\": 4.000000,\n"
                            "  \"nmad_after\": 0.500000,\n  \"n_fit\": 1234,\n  \"method\": \"nuth_kaab\"\n}\n");
    RunResult r = report(f);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("\tCo-registration: SECOND moved east         -12.500000 m\n"
                                 "\tCo-registration: SECOND moved north        3.250000 m\n"
                                 "\tVertical bias dz (removed)                 0.750000 m\n"
                                 "\tNMAD before co-registration                4.000000 m\n"
                                 "\tNMAD after co-registration                 0.500000 m\n"));
    EXPECT_THAT(f.read("r_report.json"),
                HasSubstr("\"coreg\": {\"dx_m\": -12.500000, \"dy_m\": 3.250000, \"dz_m\": 0.750000, \"bias_removed\": "
                          "true, \"iterations\": 3, \"nmad_before\": 4.000000, \"nmad_after\": 0.500000, \"n_fit\": 1234}"));
    f.write("r_coreg.json", "{\n  \"dx_m\": -12.5,\n  \"dy_m\": \n");
    r = report(f);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("the co-registration " + f.shown("r_coreg.json") +
                                 " cannot be used: its \"dy_m\" is missing or not a number"));
}
