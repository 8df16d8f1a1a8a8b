// What each input becomes in karvel's raw layout, and the conversion of its
// samples line by line.
#ifndef KARVEL_IMPORT_CONVERT_H
#define KARVEL_IMPORT_CONVERT_H

#include <cstdint>
#include <string>

#include "kind.h"
#include "nodata.h"
#include "source.h"
#include "units.h"

struct Plan {
    Kind kind = Kind::image8;
    bool exact = true;   // samples stored as they are; otherwise converted and rounded
    int answer = 0;      // karvel's unit answer of the stored values (DEMs)
    double factor = 1;   // converted DEMs: value in the source unit × factor = value in the stored unit
    ElevationUnit unit;  // the source unit (DEMs)
    NoData nodata;       // the value stored in cells without data, when the raster has any
};

// Decides how a DEM band is stored: integer samples in one of karvel's units
// without scale or offset keep their values (unsigned 8- and 16-bit as 16-bit,
// other integers as 32-bit); every other band (resampled ones too), or any
// band when `convert` is set, is converted into the unit answer `target`. Empty on success, else
// why the band cannot be stored.
std::string plan_dem(const Source &s, int target, bool convert, Plan &plan);

// What one pass over an input found.
struct Tally {
    long long cells = 0, with_data = 0;
    bool any = false;                 // a cell with data was met
    int min = 0, max = 0;             // of the stored values of cells with data
    double max_rounding = 0;          // largest |stored − exact value|, in the stored unit
    bool beyond_range = false;        // a value cannot be stored in 32 bits
    int bad_line = 0, bad_col = 0;    // its cell, in the input
    double bad_value = 0;             // its value in the stored unit
    bool exact_overflow = false;      // an exact 32-bit plan met a sample outside the signed range
    uint64_t levels[4] = {0, 0, 0, 0};  // 8-bit images: the grey levels stored, one bit each
};

// Converts one line of n samples read as doubles (mask: the band's mask, or
// null) into has_data (1/0 per cell), metres (each value in metres before
// it is rounded, 0 for cells without data; grey levels as they are) and,
// when out is not null, the stored samples (little-endian, kind_bytes
// each; for cells without data the plan's no-data value, or 0 while it has
// none). line and col0 place the line in the input for the messages. less,
// when not null, holds for each cell what is taken from its value (in the
// band's unit) before it is converted.
void convert_line(const Plan &plan, const Source &s, const double *raw, const uint8_t *mask, int n, int line,
                  int col0, uint8_t *has_data, double *metres, uint8_t *out, Tally &t, const double *less = nullptr);

#endif
