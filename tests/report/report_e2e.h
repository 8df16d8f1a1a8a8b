// What the end-to-end tests of karvel-report share: running it, the JSON
// numbers it writes, the figures expected of a pair, its pictures read back.
#ifndef KARVEL_TESTS_REPORT_E2E_H
#define KARVEL_TESTS_REPORT_E2E_H

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

#include <nlohmann/json.hpp>

#include "e2e.h"
#include "rasters.h"
#include "summary_text.h"

namespace fs = std::filesystem;
using ::testing::HasSubstr;


// Runs a program; `path` replaces PATH, `cwd` is the folder it runs in.
inline RunResult run(const std::vector<std::string> &argv, const std::string &path = "", const std::string &cwd = "") {
    std::vector<std::string> args = {"-c", "cd \"$1\" && shift && exec \"$@\"", "sh", cwd.empty() ? "." : cwd};
    if (!path.empty()) args.insert(args.end(), {"/usr/bin/env", "PATH=" + path});
    args.insert(args.end(), argv.begin(), argv.end());
    return run_program("/bin/sh", args, "");
}

inline RunResult report(const Folder &f, const std::string &result = "r", const std::string &path = "") {
    return run({KARVEL_REPORT_LOCAL_BIN, f.name(), result}, path);
}

// Compares two 32-bit DEMs in meters with karvel.
inline void compare_dems(const Folder &f, int lines, int cols, const std::vector<int> &a, const std::vector<int> &b,
                  const std::string &result = "r", const std::string &unit = "0") {
    f.write("a_m4.raw", bytes32(a));
    f.write("a_m4.txt", description(lines, cols, 4, 10));
    f.write("b_m4.raw", bytes32(b));
    f.write("b_m4.txt", description(lines, cols, 4, 10));
    ASSERT_EQ(run_karvel(f.name() + "\n0\na\n1\nb\n1\n" + result + "\n" + unit + "\n0\n").status, 0);
}

// The numbers of the JSON file by key (null as not-a-number): every
// member, at any depth, whose value is a number or null; where a key comes
// again (a class row's), the first, the headline's own, is kept.
inline void json_numbers_into(const nlohmann::ordered_json &j, std::map<std::string, double> &m) {
    if (j.is_array())
        for (const auto &e : j) json_numbers_into(e, m);
    if (!j.is_object()) return;
    for (const auto &[key, value] : j.items()) {
        if (value.is_null()) m.emplace(key, NAN);
        else if (value.is_number()) m.emplace(key, value.get<double>());
        else json_numbers_into(value, m);
    }
}

inline std::map<std::string, double> json_numbers(const std::string &json) {
    std::map<std::string, double> m;
    const nlohmann::ordered_json j = nlohmann::ordered_json::parse(json, nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << "not JSON:\n" << json;
    json_numbers_into(j, m);
    return m;
}

// The figures by sorting and long double sums: a route of its own.
template <class T>
inline std::map<std::string, double> expected(const std::vector<T> &a, const std::vector<T> &b) {
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

inline void expect_figures(const std::map<std::string, double> &got, const std::map<std::string, double> &want) {
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

inline RasterRead gdal_read(const std::string &path) {
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
inline void expect_picture(const std::string &png, int width = 0, int height = 0) {
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
inline void linear_pair(int lines, int cols, std::vector<int> &a, std::vector<int> &b) {
    for (int i = 0; i < lines * cols; i++) {
        a.push_back(1000 + (i * 37) % 101 + i / cols);
        b.push_back(2 * a.back() - 900 + (i % 3) - 1 + (i % 17 == 5 ? 250 : 0));
    }
}


#endif
