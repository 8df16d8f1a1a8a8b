// The check points as read from their file, and brought into the DEM's
// coordinate system.
#ifndef KARVEL_POINTS_CHECK_POINTS_H
#define KARVEL_POINTS_CHECK_POINTS_H

#include <cstdint>
#include <string>
#include <vector>

#include "points_options.h"

// Why a point is left out of the figures, in the order they are judged;
// the first that holds is the point's.
enum class Reason : uint8_t {
    none,
    no_position,        // no coordinates, or none in the DEM's coordinate system
    no_elevation,       // no Z and no value of the elevation's field or column
    outside_dem,        // beyond the DEM's extent
    no_data,            // on a cell without data
    neighbour_no_data,  // a cell the interpolation takes has no data
};
constexpr int kReasons = 6;

// The reason's word in the files ("" for none).
const char *reason_word(Reason r);

struct CheckPoints {
    std::vector<long long> id;     // the feature id, or the CSV's line number
    std::vector<double> x, y;      // in the file's coordinate system, then in the DEM's
    std::vector<double> z;         // metres; NaN for none
    std::vector<std::string> cls;  // the class field's values as text (empty without --class-field)
    std::vector<Reason> reason;
    std::string wkt;  // the coordinate system of x and y as read
    size_t size() const { return id.size(); }
};

// Reads the points of o.points (a CSV file by its extension .csv, else any
// vector file GDAL reads), their elevations converted from o.unit into
// metres. Empty on success, else why the file is refused.
std::string read_points(const PointsOptions &o, CheckPoints &p);

// Transforms x and y into the coordinate system dem_wkt; a point that does
// not transform gets Reason::no_position. Empty, or what is wrong.
std::string to_dem_system(CheckPoints &p, const std::string &dem_wkt);

// The metres in one unit of the points' elevations: m, ft or us-ft.
double metres_per_unit(const std::string &unit);

#endif
