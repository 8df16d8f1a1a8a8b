// The coordinate systems of the inputs (WKT, as Source holds them): their
// names, whether two are one, whether a transformation relates them, and a
// shift carried from one into the other.
#ifndef KARVEL_IMPORT_CRS_H
#define KARVEL_IMPORT_CRS_H

#include <optional>
#include <string>

// The name of the coordinate system ("?" when GDAL gives none).
std::string srs_name(const std::string &wkt);

// Its EPSG code, when its authority is EPSG.
std::optional<int> srs_epsg(const std::string &wkt);

// True when the two (both given) are the same coordinate system.
bool same_srs(const std::string &a, const std::string &b);

// True for a local (engineering) coordinate system: LOCAL_CS in WKT1,
// which no transformation relates to any other.
bool is_local_srs(const std::string &wkt);

// True when GDAL finds a transformation from one into the other.
bool transformable(const std::string &from, const std::string &to);

// The shift (sx, sy) of from's coordinates, taken at the point (x, y) of
// to's coordinates, as a shift of to's coordinates there: what moves the
// point by the same on the ground. Unchanged when either is empty or both
// are the same. False when the point cannot be transformed.
bool shift_into(const std::string &from, const std::string &to, double x, double y, double &sx, double &sy);

#endif
