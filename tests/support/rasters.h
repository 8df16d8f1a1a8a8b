// Rasters for the import tests, written and read back through GDAL.
#ifndef KARVEL_TESTS_IMPORT_RASTERS_H
#define KARVEL_TESTS_IMPORT_RASTERS_H

#include <gdal.h>

#include <cstdint>
#include <string>
#include <vector>

#include "e2e.h"

struct TestRaster {
    int lines = 1, cols = 1;
    GDALDataType type = GDT_Float32;
    std::vector<std::vector<double>> bands;  // values of each band, line by line
    bool has_nodata = false;
    double nodata = 0;
    double scale = 1, offset = 0;
    std::string unit;
    bool georef = true;
    double gt[6] = {500000, 30, 0, 5400000, 0, -30};
    int epsg = 32610;  // 0: no coordinate system
    std::string srs;   // any definition GDAL takes (WKT, PROJ), in place of epsg when given
    bool signed_byte = false;
    std::vector<double> mask;  // a mask of the dataset (0: no data), when not empty
    // 64-bit bands (type Int64 or UInt64): band 1's values exactly, as the
    // bits of the type, in place of bands[0], when not empty.
    std::vector<uint64_t> wide;
};

// A raster of the given size and type whose single band holds values.
TestRaster raster(int lines, int cols, GDALDataType type, std::vector<double> values);
// A float32 raster whose values rise by `step` from 100, cell after cell.
TestRaster ramp(int lines, int cols, double step);

// Writes a GeoTIFF.
void write_tif(const std::string &path, const TestRaster &r);

struct ReadBack {
    std::string driver;
    int lines = 0, cols = 0, bands = 0;
    GDALDataType type = GDT_Unknown;
    bool has_gt = false;
    double gt[6] = {0, 0, 0, 0, 0, 0};
    std::string authority;  // EPSG code of the coordinate system, "" without
    std::vector<double> values;
};

// Opens any raster with GDAL and reads its first band.
ReadBack read_raster(const std::string &path);

// Runs karvel-import (the build's images directory) with the arguments.
RunResult run_import(const std::vector<std::string> &args);

// Writes a and b as a.tif and b.tif into the folder `in` and imports them
// into the folder `out` with the options.
RunResult import_pair(const Folder &in, const Folder &out, const TestRaster &a, const TestRaster &b,
                      std::vector<std::string> options = {});

// GDAL's own warp (gdalwarp) of a raster onto the grid of `onto`, as
// doubles; NaN outside the raster.
std::vector<double> gdal_warp(const std::string &path, const char *method, const TestRaster &onto);

// The names of the files in a folder, sorted.
std::vector<std::string> files_in(const std::string &dir);

// The little-endian samples of a raw file as signed or unsigned integers.
std::vector<long long> samples(const std::string &bytes, int width, bool is_signed);

#endif
