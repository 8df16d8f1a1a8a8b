// GDAL's warper, as both companions call it: one band of a dataset
// resampled onto a north-up grid.
#ifndef KARVEL_GEO_WARP_H
#define KARVEL_GEO_WARP_H

#include <gdal.h>

#include <string>

// A one-band view (a VRT) of band `band` of ds, since the warper resamples
// every band it is given; written as `name` (a /vsimem/ path, for a view
// that must be opened again by name) or anonymous. Null when GDAL cannot
// (CPLGetLastErrorMsg says why).
GDALDatasetH one_band_view(GDALDatasetH ds, int band, const std::string &name = "");

// A north-up target grid: the corner (x0, y0), the cell (dx, dy), its size.
// points: each cell takes the value at its centre however coarse the grid
// (the kernel is not widened into an average).
struct WarpGrid {
    double x0, y0, dx, dy;
    int cols, lines;
    bool points;
};

// The one band of src resampled onto t by GDAL's warper with `method`
// (Float64, NaN without data), from src_wkt into dst_wkt when both are
// given, as a VRT computed when read or in memory. Null, with the problem,
// when GDAL cannot.
GDALDatasetH warp_onto(GDALDatasetH src, const std::string &src_wkt, const std::string &dst_wkt, const WarpGrid &t,
                       const std::string &method, bool vrt, std::string &problem);

// The warped VRT `warped` (warp_onto's, its source a named dataset) opened
// again with blocks `lines` lines high. The warper transforms each line of
// a block on its own, from the block's column offset, so every cell keeps
// its value whatever the blocks' height; only the memory a row of blocks
// takes changes. Null, with the problem, when GDAL cannot.
GDALDatasetH with_block_lines(GDALDatasetH warped, int lines, std::string &problem);

#endif
