// Every point with what the DEM gives there: R_points.csv and
// R_points.gpkg, in the input's order.
#ifndef KARVEL_POINTS_TABLES_H
#define KARVEL_POINTS_TABLES_H

#include <string>
#include <vector>

#include "check_points.h"
#include "dem.h"
#include "outfile.h"

// The CSV table's text: id, x, y (the DEM's system), z_point, z_dem, d,
// slope_deg, left_out (and class, with a class field); a number that is
// not known is an empty field.
std::string points_csv(const CheckPoints &p, const AtPoints &at, const std::vector<double> &d);

// Writes the same as a GeoPackage layer "points" of points in the DEM's
// coordinate system `wkt` at path (replacing an empty file there). Empty,
// or what failed. It touches nothing else: another thread may run it.
std::string write_points_gpkg(const std::string &path, const CheckPoints &p, const AtPoints &at,
                              const std::vector<double> &d, const std::string &wkt);

#endif
