// A grid's cells on the ground: from its geotransform and its coordinate
// system, the size of a cell in metres east and north at a latitude.
#ifndef KARVEL_GEO_GROUND_H
#define KARVEL_GEO_GROUND_H

#include <string>

struct Ground {
    double gt[6] = {0, 1, 0, 0, 0, 1};
    bool geographic = false;
    double semi_major = 0, inv_flattening = 0;  // a geographic system's ellipsoid
    double angular_unit = 0.017453292519943295; // radians in a unit of a geographic system
    double linear_unit = 1;                     // metres in a unit of a projected system
    std::string wkt;                            // the coordinate system (WKT1), empty when none
};

// The grid of geotransform gt in the coordinate system `wkt` (any form OSR
// reads; empty: not georeferenced, the cells taken as metres).
Ground ground_of(const double gt[6], const std::string &wkt);

// Metres on the ellipsoid per radian east and north at latitude lat (in
// radians): the radii of curvature along the parallel and the meridian.
void metres_per_radian(double semi_major, double inv_flattening, double lat, double &east, double &north);

// A cell's width and height on the ground in metres: at the latitude of
// line `line` (its centre) of a geographic grid, everywhere the same on a
// projected one.
void cell_metres(const Ground &g, double line, double &width, double &height);

// The area of a cell of line `line` on the ground, in square metres: width
// times height as cell_metres gives them.
double cell_area(const Ground &g, double line);

#endif
