// karvel-report's figures by slope class and by the classes of a raster,
// against an independent route: slopes by gdaldem, classes by gdalwarp,
// each class's figures by sorting its differences.
#include <gdal.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>

#include <nlohmann/json.hpp>

#include "e2e.h"
#include "rasters.h"

using ::testing::HasSubstr;

namespace {

using Row = std::map<std::string, double>;

// The rows of the JSON array `key`: each object's numbers (null: NaN).
std::vector<Row> json_rows(const std::string &json, const std::string &key) {
    std::vector<Row> rows;
    const nlohmann::ordered_json j = nlohmann::ordered_json::parse(json, nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << "not JSON:\n" << json;
    if (!j.is_object() || !j.contains(key)) return rows;
    for (const auto &object : j[key]) {
        Row r;
        for (const auto &[name, value] : object.items())
            if (value.is_null() || value.is_number()) r[name] = value.is_null() ? NAN : value.get<double>();
        rows.push_back(r);
    }
    return rows;
}

// A class's figures by sorting its differences and long double sums.
Row sorted_figures(std::vector<double> d) {
    Row e;
    const size_t n = d.size();
    e["n"] = double(n);
    if (n == 0) return e;
    long double s = 0, sq = 0;
    for (double v : d) s += v, sq += (long double)v * v;
    long double dev = 0;
    for (double v : d) dev += (v - s / n) * (v - s / n);
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    };
    e["mean_diff"] = double(s / n);
    e["sd_diff"] = n > 1 ? double(std::sqrt(dev / (n - 1))) : NAN;
    e["rms"] = n > 1 ? double(std::sqrt(sq / (n - 1))) : NAN;
    e["median_diff"] = median(d);
    std::vector<double> off, mag;
    for (double v : d) off.push_back(std::fabs(v - e["median_diff"])), mag.push_back(std::fabs(v));
    e["nmad"] = 1.4826 * median(off);
    std::sort(mag.begin(), mag.end());
    e["le90"] = mag[size_t(std::ceil(0.90 * double(n))) - 1];
    e["le95"] = mag[size_t(std::ceil(0.95 * double(n))) - 1];
    return e;
}

// Each row against the class's differences.
void expect_rows(const std::vector<Row> &got, const std::vector<std::vector<double>> &by_class, const char *what) {
    ASSERT_EQ(got.size(), by_class.size()) << what;
    for (size_t k = 0; k < got.size(); k++) {
        const Row want = sorted_figures(by_class[k]);
        EXPECT_EQ(got[k].at("n"), want.at("n")) << what << " class " << k;
        for (const char *key : {"mean_diff", "sd_diff", "median_diff", "nmad", "rms", "le90", "le95"}) {
            ASSERT_TRUE(got[k].count(key)) << key;
            if (!want.count(key)) {
                EXPECT_TRUE(std::isnan(got[k].at(key))) << what << " class " << k << " " << key;  // an empty class
            } else if (std::string(key) == "median_diff" || key[0] == 'l') {
                EXPECT_EQ(got[k].at(key), want.at(key)) << what << " class " << k << " " << key;  // exact ranks
            } else {
                EXPECT_NEAR(got[k].at(key), want.at(key), 1e-9 * std::max(1.0, std::fabs(want.at(key))))
                    << what << " class " << k << " " << key;
            }
        }
    }
}

RunResult report(const Folder &f, const std::string &result, std::vector<std::string> options = {}) {
    options.push_back(f.name());
    options.push_back(result);
    return run_program(KARVEL_REPORT_LOCAL_BIN, options, "");
}

// gdaldem's slope (Horn, edges computed) of a GeoTIFF, in degrees.
std::vector<double> gdaldem_slope(const Folder &f, const std::string &tif) {
    const std::string cmd = "gdaldem slope -q -compute_edges -alg Horn " + f.path(tif) + " " + f.path("slope.tif");
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return read_raster(f.path("slope.tif")).values;
}

int slope_class(double s, const std::vector<double> &edges) {
    for (size_t k = 0; k + 1 < edges.size(); k++)
        if (s >= edges[k] && (s < edges[k + 1] || (k + 2 == edges.size() && s == edges[k + 1]))) return int(k);
    return -1;
}

// The differences of the positions with data in both, by slope class.
std::vector<std::vector<double>> by_slope(const std::vector<double> &slope, const TestRaster &a, const TestRaster &b,
                                          const std::vector<double> &edges) {
    std::vector<std::vector<double>> d(edges.size() - 1);
    for (size_t i = 0; i < slope.size(); i++) {
        const double x = a.bands[0][i], y = b.bands[0][i];
        if ((a.has_nodata && x == a.nodata) || (b.has_nodata && y == b.nodata)) continue;
        const int k = slope_class(slope[i], edges);
        if (k >= 0) d[size_t(k)].push_back(y - x);
    }
    return d;
}

// The sample DEM (WGS 84) warped onto UTM zone 10 at 2 km, in whole
// metres, -9999 without data; the second survey its 3 × 3 block means, in
// whole metres, with a corner of its own without data.
void real_pair(const Folder &f, TestRaster &a, TestRaster &b) {
    const std::string cmd = "gdalwarp -q -overwrite -t_srs EPSG:32610 -tr 2000 2000 -r bilinear -dstnodata -9999 " +
                            std::string(KARVEL_SOURCE_DIR) + "/data/topobathy.tif " + f.path("utm.tif");
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    const ReadBack w = read_raster(f.path("utm.tif"));
    ASSERT_GT(w.lines, 50);
    std::vector<double> first(w.values.size()), second(w.values.size());
    for (size_t i = 0; i < first.size(); i++) first[i] = w.values[i] == -9999 ? -9999 : std::round(w.values[i]);
    for (int i = 0; i < w.lines; i++)
        for (int j = 0; j < w.cols; j++) {
            double s = 0;
            int n = 0;
            for (int u = i / 3 * 3; u < std::min(w.lines, i / 3 * 3 + 3); u++)
                for (int v = j / 3 * 3; v < std::min(w.cols, j / 3 * 3 + 3); v++)
                    if (first[size_t(u * w.cols + v)] != -9999) s += first[size_t(u * w.cols + v)], n++;
            second[size_t(i * w.cols + j)] = n == 0 || (i < 6 && j < 6) ? -9999 : std::round(s / n);
        }
    a = raster(w.lines, w.cols, GDT_Float32, first);
    b = raster(w.lines, w.cols, GDT_Float32, second);
    for (TestRaster *t : {&a, &b}) {
        std::copy(w.gt, w.gt + 6, t->gt);
        t->has_nodata = true;
        t->nodata = -9999;
    }
}

}  // namespace

TEST(ReportByClass, SlopeClassesOfARealPairAreGdaldemsSlopesAndTheSortedRanks) {
    Folder in, out;
    TestRaster a, b;
    real_pair(in, a, b);
    ASSERT_EQ(import_pair(in, out, a, b, {"--unit", "m"}).status, 0);
    ASSERT_EQ(run_karvel(out.read("cmp.answers")).status, 0);
    const std::vector<double> slope = gdaldem_slope(in, "a.tif");
    for (const std::vector<double> &edges : {std::vector<double>{0, 5, 10, 25, 40, 90}, {0, 0.5, 1.5, 3, 8}}) {
        const bool given = edges.size() == 5;
        RunResult r = report(out, "cmp", given ? std::vector<std::string>{"--slope-edges=0,0.5,1.5,3,8"}
                                               : std::vector<std::string>{});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string json = out.read("cmp_report.json");
        const std::vector<Row> rows = json_rows(json, "by_slope");
        const auto want = by_slope(slope, a, b, edges);
        expect_rows(rows, want, given ? "given edges" : "default edges");
        for (size_t k = 0; k < rows.size(); k++) {
            EXPECT_EQ(rows[k].at("from_deg"), edges[k]);
            EXPECT_EQ(rows[k].at("to_deg"), edges[k + 1]);
        }
        size_t classed = 0;
        for (const auto &c : want) classed += c.size();
        EXPECT_GT(classed, 1000u);
        EXPECT_EQ(json.find("by_class"), std::string::npos);
        EXPECT_THAT(r.out, HasSubstr("By slope of the first DEM (degrees"));
        EXPECT_TRUE(out.exists("cmp_report/slope_classes.png"));
        EXPECT_THAT(out.read("cmp_report/report_pdf.gp"), HasSubstr("load \"slope_classes.gp\""));
    }
}

// A 30° plane high above the datum, stored in millimetres: many cells lie
// within a hair of the 30° edge, and their classes are those of gdaldem's
// slope of the stored raster with -s 1000, not of its values as float
// metres (which moved hundreds of cells across the edge).
TEST(ReportByClass, SlopeClassesAreGdaldemsSlopesOfTheStoredRaster) {
    Folder in, out;
    const int lines = 100, cols = 120;
    std::vector<double> first, second;
    for (int i = 0; i < lines; i++)
        for (int j = 0; j < cols; j++) {
            first.push_back(2140000.0 + (j * 30 + i * 0.001) * std::tan(M_PI / 6));
            second.push_back(first.back() + (i * 7 + j) % 5 * 0.01);
        }
    TestRaster a = raster(lines, cols, GDT_Float64, first), b = raster(lines, cols, GDT_Float64, second);
    ASSERT_EQ(import_pair(in, out, a, b).status, 0);
    ASSERT_EQ(run_karvel(out.read("cmp.answers")).status, 0);
    const RunResult r = report(out, "cmp", {"--slope-edges", "0,30,90"});
    ASSERT_EQ(r.status, 0) << r.err;
    // gdaldem on a copy of the stored raster and its header (it leaves a side file).
    for (const char *file : {"a_m4.raw", "a_m4.hdr"}) in.write(file, out.read(file));
    const std::string cmd = "gdaldem slope -q -s 1000 -compute_edges -alg Horn " + in.path("a_m4.raw") + " " +
                            in.path("slope.tif");
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    const std::vector<double> slope = read_raster(in.path("slope.tif")).values;
    ASSERT_EQ(slope.size(), first.size());
    double n[2] = {0, 0};
    for (double s : slope) n[s >= 30]++;
    EXPECT_GT(n[0], 100);
    EXPECT_GT(n[1], 100);
    const std::vector<Row> rows = json_rows(out.read("cmp_report.json"), "by_slope");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].at("n"), n[0]);
    EXPECT_EQ(rows[1].at("n"), n[1]);
}

TEST(ReportByClass, ALargeComparisonSeeksItsLargeClassInTheWalkAndHoldsTheSmallOnes) {
    // 1.15 million positions on cells of 10 m (no georeferencing: the
    // description's size): a gentle plane, the < 5° class walked, and a
    // steep band of 30 lines whose classes hold their differences; the
    // differences tie a lot (whole metres).
    Folder f;
    const int lines = 1150, cols = 1000;
    std::vector<int> x, y;
    for (int i = 0; i < lines; i++)
        for (int j = 0; j < cols; j++) {
            const int steep = i >= 500 && i < 530 ? (i - 500) * (j % 3 + 1) * 3 : 0;
            x.push_back(1000 + j / 2 + i / 3 + steep);
            y.push_back(x.back() + (i * 31 + j * 17) % 7 - 3 + (j % 101 == 0 ? 40 : 0));
        }
    f.write("a_m4.raw", bytes32(x));
    f.write("a_m4.txt", description(lines, cols, 4, 10));
    f.write("b_m4.raw", bytes32(y));
    f.write("b_m4.txt", description(lines, cols, 4, 10));
    ASSERT_EQ(run_karvel(f.name() + "\n0\na\n1\nb\n1\nr\n0\n0\n").status, 0);
    RunResult r = report(f, "r");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<double> xs(x.begin(), x.end()), ys(y.begin(), y.end());
    TestRaster a = raster(lines, cols, GDT_Int32, xs), b = raster(lines, cols, GDT_Int32, ys);
    const double gt[6] = {0, 10, 0, 0, 0, -10};
    std::copy(gt, gt + 6, a.gt);
    write_tif(f.path("a.tif"), a);
    const auto want = by_slope(gdaldem_slope(f, "a.tif"), a, b, {0, 5, 10, 25, 40, 90});
    EXPECT_GT(want[0].size(), 1100000u);
    expect_rows(json_rows(f.read("r_report.json"), "by_slope"), want, "large");
}

TEST(ReportByClass, ARasterOfClassesOnAnotherGridAndSystemIsGdalwarpsNearestNeighbour) {
    // The pair on 30 m cells in UTM zone 10, about 123°W 48.75°N; the
    // classes on cells of 0.0005° in WGS 84 over part of it, 0 for none.
    Folder in, out;
    const int lines = 40, cols = 50;
    std::vector<double> first, second;
    for (int i = 0; i < lines * cols; i++) {
        first.push_back(100 + (i % cols) * 2 + (i / cols) % 9);
        second.push_back(first.back() + (i * 7) % 5 - 2 + (i % 13 == 0 ? 6 : 0));
    }
    TestRaster a = raster(lines, cols, GDT_Float32, first), b = raster(lines, cols, GDT_Float32, second);
    ASSERT_EQ(import_pair(in, out, a, b, {"--unit", "m"}).status, 0);
    ASSERT_EQ(run_karvel(out.read("cmp.answers")).status, 0);
    std::vector<double> cls;
    for (int i = 0; i < 25 * 30; i++) cls.push_back(i % 17 == 0 ? 0 : 10 * (1 + (i / 30 / 5 + i % 30 / 6) % 4));
    TestRaster c = raster(25, 30, GDT_Int16, cls);
    const double degrees[6] = {-123.004, 0.0005, 0, 48.7535, 0, -0.0005};
    std::copy(degrees, degrees + 6, c.gt);
    c.epsg = 4326;
    c.has_nodata = true;
    c.nodata = 0;
    write_tif(in.path("classes.tif"), c);
    RunResult r = report(out, "cmp", {"--classes", in.path("classes.tif")});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string cmd = "gdalwarp -q -r near -ot Float64 -dstnodata nan -t_srs EPSG:32610 -te 500000 5398800 "
                            "501500 5400000 -ts 50 40 " + in.path("classes.tif") + " " + in.path("near.tif");
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    const ReadBack near = read_raster(in.path("near.tif"));
    std::map<int, std::vector<double>> d;
    size_t none = 0;
    for (size_t i = 0; i < near.values.size(); i++) {
        if (std::isnan(near.values[i])) none++;
        else d[int(near.values[i])].push_back(second[i] - first[i]);
    }
    EXPECT_GT(none, 50u);  // nodata, and the pair's cells beyond the classes
    const std::vector<Row> rows = json_rows(out.read("cmp_report.json"), "by_class");
    std::vector<std::vector<double>> want;
    for (const auto &[value, diffs] : d) want.push_back(diffs);
    expect_rows(rows, want, "classes");
    size_t k = 0;
    for (const auto &entry : d) EXPECT_EQ(rows[k++].at("class"), entry.first);
    EXPECT_THAT(r.out, HasSubstr("By class (figures of d"));
    EXPECT_TRUE(out.exists("cmp_report/classes.png"));
    EXPECT_TRUE(out.exists("cmp_report/slope_classes.png"));
}

// Classes of 64 bits are read and kept exact: 2^53 + 1 and 2^53 are two
// classes, 2^63 - 1 is one; an unsigned value beyond them is refused as
// stored.
TEST(ReportByClass, SixtyFourBitClassesAreExact) {
    Folder in, out;
    std::vector<double> v(20 * 20);
    for (size_t i = 0; i < v.size(); i++) v[i] = 50 + double(i % 20) + double(i / 20);
    TestRaster a = raster(20, 20, GDT_Float32, v), b = a;
    for (size_t i = 0; i < v.size(); i++) b.bands[0][i] += double(i % 3);
    ASSERT_EQ(import_pair(in, out, a, b, {"--unit", "m"}).status, 0);
    ASSERT_EQ(run_karvel(out.read("cmp.answers")).status, 0);
    const uint64_t wide[3] = {9007199254740993ull, 9007199254740992ull, 9223372036854775807ull};
    TestRaster c = raster(20, 20, GDT_Int64, std::vector<double>(400, 0));
    for (size_t i = 0; i < 400; i++) c.wide.push_back(wide[i % 7 % 3]);
    write_tif(in.path("wide.tif"), c);
    RunResult r = report(out, "cmp", {"--classes", in.path("wide.tif")});
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json j = nlohmann::json::parse(out.read("cmp_report.json"));
    std::map<uint64_t, std::vector<double>> d;
    for (size_t i = 0; i < 400; i++) d[wide[i % 7 % 3]].push_back(b.bands[0][i] - a.bands[0][i]);
    ASSERT_EQ(j.at("by_class").size(), 3u);
    size_t k = 0;
    for (const auto &[value, diffs] : d) {
        EXPECT_EQ(j["by_class"][k]["class"].get<int64_t>(), int64_t(value));
        EXPECT_EQ(j["by_class"][k++]["n"].get<size_t>(), diffs.size());
    }
    EXPECT_THAT(r.out, HasSubstr("9223372036854775807"));
    c.type = GDT_UInt64;
    c.wide[47] = 18446744073709551615ull;
    write_tif(in.path("unsigned.tif"), c);
    r = report(out, "cmp", {"--classes", in.path("unsigned.tif")});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("holds 18446744073709551615 at line 2, column 7 of the compared rasters, which is "
                                 "beyond the whole numbers of 64 bits (-9223372036854775808 to 9223372036854775807) "
                                 "that classes are"));
}

TEST(ReportByClass, Refusals) {
    Folder in, out;
    std::vector<double> v(20 * 20);
    for (size_t i = 0; i < v.size(); i++) v[i] = 50 + double(i % 20) + double(i / 20);
    TestRaster a = raster(20, 20, GDT_Float32, v), b = a;
    ASSERT_EQ(import_pair(in, out, a, b, {"--unit", "m"}).status, 0);
    ASSERT_EQ(run_karvel(out.read("cmp.answers")).status, 0);
    auto refused = [&](const std::vector<std::string> &options, const std::string &why, int status = 1) {
        const RunResult r = report(out, "cmp", options);
        EXPECT_EQ(r.status, status) << r.err;
        EXPECT_THAT(r.err, HasSubstr(why));
        EXPECT_FALSE(out.exists("cmp_report.json"));
    };
    TestRaster c = raster(20, 20, GDT_Float32, std::vector<double>(400, 2.0));
    c.bands[0][47] = 1.5;
    write_tif(in.path("fractions.tif"), c);
    refused({"--classes", in.path("fractions.tif")}, "holds 1.5 at line 2, column 7 of the compared rasters, which is "
                                                      "not a whole number");
    c = raster(20, 20, GDT_Byte, std::vector<double>(400, 3));
    c.gt[0] = 800000;
    write_tif(in.path("far.tif"), c);
    refused({"--classes", in.path("far.tif")}, "far.tif cannot be brought onto the grid: it does not overlap the grid");
    c.georef = false;
    write_tif(in.path("nowhere.tif"), c);
    refused({"--classes", in.path("nowhere.tif")}, "nowhere.tif has no georeferencing");
    refused({"--classes", in.path("missing.tif")}, "missing.tif does not exist");
    refused({"--slope-edges", "5,2"}, "--slope-edges 5,2: the edges must increase", 2);
    refused({"--slope-edges", "0,ten"}, "\"ten\" is not a number of degrees", 2);
    refused({"--slope-edges", "0,95"}, "outside 0 to 90 degrees", 2);
    refused({"--classes="}, "--classes needs a raster", 2);

    // 8-bit images have no slope: no slope table, but classes.
    Folder img;
    TestRaster p = raster(20, 20, GDT_Byte, std::vector<double>(400, 9)), q = p;
    for (size_t i = 0; i < 400; i++) q.bands[0][i] = double(9 + i % 3);
    ASSERT_EQ(import_pair(in, img, p, q).status, 0);
    ASSERT_EQ(run_karvel(img.read("cmp.answers")).status, 0);
    RunResult r = report(img, "cmp", {"--slope-edges", "0,10"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("8-bit images, which have no slope"));
    write_tif(in.path("halves.tif"), raster(20, 20, GDT_Byte, [] {
                  std::vector<double> h(400);
                  for (size_t i = 0; i < 400; i++) h[i] = i < 200 ? 1 : 2;
                  return h;
              }()));
    r = report(img, "cmp", {"--classes", in.path("halves.tif")});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string json = img.read("cmp_report.json");
    EXPECT_EQ(json.find("by_slope"), std::string::npos);
    std::vector<std::vector<double>> want(2);
    for (size_t i = 0; i < 400; i++) want[i < 200 ? 0 : 1].push_back(double(i % 3));
    expect_rows(json_rows(json, "by_class"), want, "image classes");

    // Compared rasters without georeferencing take no raster of classes.
    Folder raw;
    dem_pair16(raw);
    ASSERT_EQ(run_karvel(raw.name() + "\n0\na\n0\nb\n0\nr\n0\n0\n").status, 0);
    r = report(raw, "r", {"--classes", in.path("halves.tif")});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("cannot be brought onto the compared rasters, which have no georeferencing"));
}
