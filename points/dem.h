// The DEM the points are checked against, and its elevation, slope and
// aspect at the points: read once, in line order, a few lines at a time.
#ifndef KARVEL_POINTS_DEM_H
#define KARVEL_POINTS_DEM_H

#include <string>
#include <vector>

#include "check_points.h"
#include "ground.h"
#include "source.h"

struct Dem {
    Source src;
    double metres = 1;  // metres in one unit of its values
    Ground ground;
};

// Opens band `band` of the DEM at path. Empty on success, else why it
// cannot be used.
std::string open_dem(const std::string &path, int band, Dem &d);

// The DEM at the points.
struct AtPoints {
    std::vector<double> z;       // metres; NaN where the point is left out
    std::vector<float> slope;    // degrees, Horn's (GDAL's) slope of the cell the point lies in
    std::vector<float> aspect;   // degrees clockwise from north, NaN on flat cells (with aspect only)
    std::vector<Reason> reason;  // the points' reasons, with those the DEM gives
};

// How the DEM is taken at the points.
struct Sampling {
    bool near = false;                // the cell the point lies in, not bilinear
    bool aspect = false;              // the aspects too
    double shift_x = 0, shift_y = 0;  // the DEM moved by this, in its coordinates
};

// Samples the DEM at p's points with no reason yet or without an elevation
// (p.x and p.y in the DEM's coordinate system): bilinear between the four
// cell centres around each (beyond the outermost centres, the edge cells'
// values extend), and Horn's slope of the cell it lies in. The DEM's lines
// are read once, in order, only those the points need. Empty on success,
// else what failed.
std::string sample_dem(const Dem &d, const CheckPoints &p, const Sampling &how, AtPoints &at);

#endif
