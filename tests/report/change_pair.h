// What the tests of the change budget share: a real DEM and a second
// survey made from it with a slump of known volumes, and the budget of
// their cells computed here, cell by cell in long double.
#ifndef KARVEL_TESTS_REPORT_CHANGE_PAIR_H
#define KARVEL_TESTS_REPORT_CHANGE_PAIR_H

#include <gdal.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <random>

#include <nlohmann/json.hpp>

#include "e2e.h"
#include "rasters.h"

using nlohmann::json;

inline RunResult report_with(const Folder &f, const std::string &result, std::vector<std::string> options) {
    options.push_back(f.name());
    options.push_back(result);
    return run_program(KARVEL_REPORT_LOCAL_BIN, options, "");
}

// A pair with a slump: `first` the DEM, `second` it lowered by up to
// `depth` m over an ellipse (the scar) and raised below it by the same
// volume cell for cell (the deposit, `shift` lines south), plus noise of
// σ `noise` m; all in whole millimetres, as karvel-import keeps them in
// millimetres (--unit mm). Returns the volume moved
// in cells × metres (the sum of the scar's lowering).
inline double slump(TestRaster &a, TestRaster &b, double depth, int shift, double noise) {
    const int lines = a.lines, cols = a.cols;
    const double ci = lines * 0.35, cj = cols * 0.5, ri = lines * 0.12, rj = cols * 0.15;
    std::mt19937_64 random(2024);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    double moved = 0;
    b = a;
    for (int i = 0; i < lines; i++)
        for (int j = 0; j < cols; j++) {
            const size_t k = size_t(i) * size_t(cols) + size_t(j);
            double &first = a.bands[0][k], &second = b.bands[0][k];
            if (a.has_nodata && first == a.nodata) continue;
            first = std::round(first * 1000) / 1000;
            double v = first;
            auto bowl = [&](double at_i) {
                const double r2 = std::pow((i - at_i) / ri, 2) + std::pow((j - cj) / rj, 2);
                return r2 < 1 ? std::round(depth * (1 - r2) * 1000) / 1000 : 0.0;
            };
            v -= bowl(ci);
            moved += bowl(ci);
            v += bowl(ci + shift);
            // Box–Muller, from the test's own generator.
            const double g = std::sqrt(-2 * std::log(1 - u(random))) * std::cos(2 * M_PI * u(random));
            second = std::round((v + noise * g) * 1000) / 1000;
        }
    return moved;
}

// A cell's change in metres, from the whole millimetres both hold.
inline double change_at(const TestRaster &a, const TestRaster &b, size_t k) {
    return double(std::llround(b.bands[0][k] * 1000) - std::llround(a.bands[0][k] * 1000)) / 1000;
}

inline bool kept(const TestRaster &a, const TestRaster &b, size_t k) {
    return !(a.has_nodata && a.bands[0][k] == a.nodata) && !(b.has_nodata && b.bands[0][k] == b.nodata);
}

// A cell's rule: detected where |d| > limit (strict) or >= limit, and its error.
struct Rule {
    double limit;
    bool strict;
    double error;
};

// The budget of the cells kept in both (and `in`, when given), each
// `area(line)` m², cell k detected by rule(k); what the JSON's "change" holds.
inline json budget(const TestRaster &a, const TestRaster &b, const std::function<double(int)> &area,
                   const std::function<Rule(size_t)> &rule, const std::function<bool(size_t)> &in = nullptr) {
    long double total = 0, cells[2][2] = {}, areas[2][2] = {}, volumes[2][2] = {}, errors[2] = {};
    for (int i = 0; i < a.lines; i++)
        for (int j = 0; j < a.cols; j++) {
            const size_t k = size_t(i) * size_t(a.cols) + size_t(j);
            if (!kept(a, b, k) || (in && !in(k))) continue;
            const double d = change_at(a, b, k), m = std::fabs(d), s = area(i);
            total += s;
            if (d == 0) continue;
            const int side = d > 0;
            const auto [limit, strict, error] = rule(k);
            const bool detected = strict ? m > limit : m >= limit;
            for (int det = 0; det < 1 + detected; det++) {
                cells[det][side]++;
                areas[det][side] += s;
                volumes[det][side] += (long double)m * s;
            }
            if (detected) errors[side] += (long double)error * s;
        }
    json c;
    c["area_m2"] = double(total);
    for (int det = 0; det < 2; det++) {
        json part;
        for (int side = 0; side < 2; side++) {
            json o;
            o["cells"] = double(cells[det][side]);
            o["area_m2"] = double(areas[det][side]);
            o["volume_m3"] = double(volumes[det][side]);
            o["mean_depth_m"] = double(volumes[det][side] / areas[det][side]);
            if (det) o["volume_error_m3"] = double(errors[side]);
            part[side ? "deposition" : "erosion"] = o;
        }
        part["net_volume_m3"] = double(volumes[det][1] - volumes[det][0]);
        if (det) {
            part["net_volume_error_m3"] = double(std::sqrt(errors[0] * errors[0] + errors[1] * errors[1]));
            part["area_detected_percent"] = double(100 * (areas[1][0] + areas[1][1]) / total);
            part["percent_imbalance"] =
                double(100 * (volumes[1][1] - volumes[1][0]) / (2 * (volumes[1][0] + volumes[1][1])));
        }
        c[det ? "detected" : "raw"] = part;
    }
    return c;
}

// Every number of `want` in `got`, to 1e-9 relative (counts exactly).
inline void expect_same(const json &got, const json &want, const std::string &at = "change") {
    for (const auto &[key, w] : want.items()) {
        ASSERT_TRUE(got.contains(key)) << at << "." << key;
        if (w.is_object()) {
            expect_same(got[key], w, at + "." + key);
        } else if (std::isnan(w.get<double>())) {
            EXPECT_TRUE(got[key].is_null()) << at << "." << key;
        } else if (key == "cells") {
            EXPECT_EQ(got[key].get<double>(), w.get<double>()) << at << "." << key;
        } else {
            const double v = w.get<double>();
            EXPECT_NEAR(got[key].get<double>(), v, 1e-9 * std::fabs(v)) << at << "." << key;
        }
    }
}

// The sample DEM (WGS 84) warped onto UTM zone 10 at cells of `metres`
// (1 km by default), -9999 without data.
inline TestRaster utm_dem(const Folder &f, int metres = 1000) {
    const std::string tr = std::to_string(metres);
    const std::string cmd = "gdalwarp -q -overwrite -t_srs EPSG:32610 -tr " + tr + " " + tr + " -r bilinear -dstnodata -9999 " +
                            std::string(KARVEL_SOURCE_DIR) + "/data/topobathy.tif " + f.path("utm.tif");
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    const ReadBack w = read_raster(f.path("utm.tif"));
    TestRaster a = raster(w.lines, w.cols, GDT_Float32, w.values);
    std::copy(w.gt, w.gt + 6, a.gt);
    a.has_nodata = true;
    a.nodata = -9999;
    return a;
}


// The sample DEM on UTM zone 10 (utm_dem) and its slumped second survey
// (slump: 40 m deep, `shift` lines south, noise of σ 0.5 m), imported
// from `in` into `out` in millimetres and compared by karvel as "cmp".
// Returns the volume moved, as slump does.
inline double slumped_pair(const Folder &in, const Folder &out, TestRaster &a, TestRaster &b, int shift) {
    a = utm_dem(in);
    const double moved = slump(a, b, 40, shift, 0.5);
    EXPECT_EQ(import_pair(in, out, a, b, {"--unit", "mm"}).status, 0);
    EXPECT_EQ(run_karvel(out.read("cmp.answers")).status, 0);
    return moved;
}

#endif
