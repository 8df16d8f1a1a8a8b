// One input raster: the band that is read and what the import needs to know
// of it (sample type, scale and offset, unit, cells without data, grid).
#ifndef KARVEL_IMPORT_SOURCE_H
#define KARVEL_IMPORT_SOURCE_H

#include <gdal.h>

#include <string>

#include "warp.h"

// What the command line assigns an input in place of what its file says:
// its coordinate system (any definition GDAL takes, as gdal_translate
// -a_srs assigns it) and the unit of its values (a unit's short word,
// units.h); each empty when the file's stands.
struct Assigned {
    std::string srs, z_unit;
};

struct Source {
    std::string arg;                  // the input as given on the command line
    GDALDatasetH ds = nullptr;        // the dataset opened from arg
    GDALDatasetH band_ds = nullptr;   // a one-band view of it, made for the warper
    GDALDatasetH warped = nullptr;    // the band resampled onto another grid (--align)
    GDALRasterBandH band = nullptr;   // the band that is read
    GDALDataType type = GDT_Unknown;  // its sample type (of the original band)
    bool signed_byte = false;         // 8-bit samples flagged as signed
    double scale = 1, offset = 0;     // value = sample × scale + offset
    bool has_nodata = false;          // the band's value for cells without data
    double nodata = 0;
    bool use_mask = false;            // the band's mask tells cells without data
    std::string unit_type;            // the unit its values are read in: the declared one, unless assigned
    std::string declared_unit;        // the band's unit type, as stored
    bool unit_assigned = false;       // unit_type comes from the command line
    bool has_grid = false;            // a geotransform was found
    double gt[6] = {0, 1, 0, 0, 0, 1};
    std::string wkt;                  // coordinate system, WKT1; empty when none
    bool srs_assigned = false;        // wkt comes from the command line
    bool geographic = false;
    double semi_major = 0, inv_flattening = 0;  // of a geographic system's ellipsoid
    double linear_unit = 1;           // metres in a unit of a projected system
    int lines = 0, cols = 0;
    // A grid whose lines run south to north (a positive cell height) or
    // whose columns run west from east (a negative cell width) is taken
    // north-up: gt describes it so, and its lines or columns are read in
    // reverse (the file's own order stays that of the warper's view).
    bool flip_lines = false, flip_cols = false;
    bool aligned = false;             // read through the warper
    int warp_source_lines = 0;        // aligned: the most lines of the original band one row of the
                                      // warped band's blocks draws on, with the kernel's margin
};

// Opens band `band` of the input, with what the command line assigns it.
// Returns an empty string on success, else the reason it cannot be used.
std::string open_source(const std::string &arg, int band, Source &s, const Assigned &assigned = {});

// The coordinate system that `definition` gives (EPSG:31982, WKT, PROJ,
// ...: whatever OSRSetFromUserInput takes) as WKT1 into wkt. Empty on
// success, else GDAL's reason.
std::string srs_wkt(const std::string &definition, std::string &wkt);

// Releases what open_source and align_source obtained.
void close_source(Source &s);

// An 8-bit unsigned band that carries no unit, scale or offset: an image of
// grey levels; every other band is a DEM.
bool is_image(const Source &s);

// Empty when both inputs lie on the same grid (size, geotransform within a
// millionth of a cell, coordinate system), else what differs.
std::string grid_difference(const Source &a, const Source &b);

// Resamples the band of b onto a's grid with GDAL's warper and `method`,
// b moved first by (shift_x, shift_y) in a's coordinates; cells outside b
// become cells without data. Empty on success, else the problem.
std::string align_source(Source &b, const Source &a, const std::string &method, double shift_x = 0,
                         double shift_y = 0);

// Makes b.band_ds, a one-band view of b's band for the warper, unless made;
// it carries b's coordinate system when one is assigned.
std::string band_view(Source &b);

// a's grid as the warper's target.
WarpGrid grid_of(const Source &a);

// Reads columns col0 .. col0 + cols − 1 of line `line` of the grid s.gt
// describes from `band` (s's band or its mask) as `type` samples into out,
// following s's flips. CE_None on success.
CPLErr read_grid_line(const Source &s, GDALRasterBandH band, int line, int col0, int cols, void *out,
                      GDALDataType type);

// True when a sample read from the band is the band's value for no data.
inline bool is_nodata_value(const Source &s, double v) {
    if (v != v) return true;
    if (!s.has_nodata) return false;
    if (s.type == GDT_Float32) return float(v) == float(s.nodata);
    return v == s.nodata;
}

// The width and height of a cell of the grid gt (lines × cols, in s's
// coordinate system) on the ground in metres; for a geographic grid taken
// at the latitude of the grid's centre. False without georeferencing.
bool ground_cell_metres(const Source &s, const double gt[6], int lines, int cols, double &width, double &height);

// The size of such a cell in whole metres, at least 1: the side of a
// square of its area. 1 without georeferencing.
int ground_cell_size(const Source &s, const double gt[6], int lines, int cols);

#endif
