// What the tests of karvel-points share: a DEM of known hills written as a
// GeoTIFF, points in another coordinate system, the program run, and the
// figures computed here independently of it.
#ifndef KARVEL_TESTS_POINTS_E2E_H
#define KARVEL_TESTS_POINTS_E2E_H

#include <gdal.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "json.h"
#include "rasters.h"

inline RunResult run_points(const std::vector<std::string> &args) { return run_program(KARVEL_POINTS_BIN, args, ""); }

constexpr int kSide = 160;
constexpr double kCell = 30, kX0 = 500000, kY0 = 5400000;  // UTM 10N, the DEM's north-west corner

// Hills of several sizes facing every way, metres at ground point (x, y)
// metres east and south... of the corner: x east, y north of the south edge.
inline double hills(double x, double y) {
    return 300 + 60 * std::sin(x / 700) * std::cos(y / 900) + 25 * std::sin((x + 2 * y) / 260) +
           40 * std::exp(-(std::pow(x - 2400, 2) + std::pow(y - 2200, 2)) / 6e5);
}

// The hills displaced by (vx, vy) metres as a DEM on the test grid.
inline TestRaster hills_dem(double vx, double vy, GDALDataType type = GDT_Float64) {
    std::vector<double> v(size_t(kSide) * kSide);
    for (int i = 0; i < kSide; i++)
        for (int j = 0; j < kSide; j++)
            v[size_t(i) * kSide + j] = hills((j + 0.5) * kCell - vx, (kSide - i - 0.5) * kCell - vy);
    TestRaster t = raster(kSide, kSide, type, v);
    t.gt[0] = kX0, t.gt[3] = kY0;
    return t;
}

// Transforms n points between two EPSG systems (GIS order: x east).
inline void transform(int from, int to, std::vector<double> &x, std::vector<double> &y) {
    OGRSpatialReferenceH a = OSRNewSpatialReference(nullptr), b = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(a, from);
    OSRImportFromEPSG(b, to);
    OSRSetAxisMappingStrategy(a, OAMS_TRADITIONAL_GIS_ORDER);
    OSRSetAxisMappingStrategy(b, OAMS_TRADITIONAL_GIS_ORDER);
    OGRCoordinateTransformationH ct = OCTNewCoordinateTransformation(a, b);
    OCTTransform(ct, int(x.size()), x.data(), y.data(), nullptr);
    OCTDestroyCoordinateTransformation(ct);
    OSRDestroySpatialReference(a);
    OSRDestroySpatialReference(b);
}

// Bilinear interpolation of the DEM t between the four cell centres around
// the point (edge cells extended); NaN outside or next to no data.
inline double bilinear(const TestRaster &t, double x, double y) {
    const double c = (x - t.gt[0]) / t.gt[1] - 0.5, l = (y - t.gt[3]) / t.gt[5] - 0.5;
    if (c < -0.5 || l < -0.5 || c >= t.cols - 0.5 || l >= t.lines - 0.5) return NAN;
    const int c0 = int(std::floor(c)), l0 = int(std::floor(l));
    auto v = [&](int i, int j) {
        i = std::clamp(i, 0, t.lines - 1), j = std::clamp(j, 0, t.cols - 1);
        const double z = t.bands[0][size_t(i) * size_t(t.cols) + size_t(j)];
        return t.has_nodata && z == t.nodata ? NAN : z;
    };
    const double fx = c - c0, fy = l - l0;
    return v(l0, c0) * (1 - fx) * (1 - fy) + v(l0, c0 + 1) * fx * (1 - fy) + v(l0 + 1, c0) * (1 - fx) * fy +
           v(l0 + 1, c0 + 1) * fx * fy;
}

inline std::string number17(double v) {
    char b[40];
    std::snprintf(b, sizeof b, "%.17g", v);
    return b;
}

// n points in UTM 10N spread over the DEM's grid but its outer 200 m, at
// the elevation surface(x, y) (metres from the south-west corner) plus
// noise: a CSV file.
template <class Surface>
inline std::string points_on(const Surface &surface, int n, double side_m, double noise) {
    std::string csv = "x,y,z\n";
    unsigned r = 7;
    const unsigned span = unsigned((side_m - 400) * 1000);
    for (int k = 0; k < n; k++) {
        r = r * 1103515245u + 12345u;
        const double x = 200 + (r >> 8) % span / 1000.0;
        r = r * 1103515245u + 12345u;
        const double y = 200 + (r >> 8) % span / 1000.0;
        csv += number17(kX0 + x) + "," + number17(kY0 - side_m + y) + "," +
               number17(surface(x, y) + noise * std::sin(3.0 * k)) + "\n";
    }
    return csv;
}

inline Json read_json(const Folder &f, const std::string &file) { return Json::parse(f.read(file)); }

#endif
