// The ENVI header beside a raw raster (NAME.hdr beside NAME.raw): the
// fields that say how its samples lie, and the one that declares a sample
// value marking positions without data ("data ignore value").
#ifndef KARVEL_ENVI_HEADER_H
#define KARVEL_ENVI_HEADER_H

#include <string>

#include "kind.h"
#include "nodata.h"

struct EnviHeader {
    // -1 where the header does not give the field.
    long long samples = -1, lines = -1, data_type = -1, byte_order = -1;
    bool has_ignore = false;
    std::string ignore_text;  // the "data ignore value" as written
};

// The header text of a raster of lines × cols samples of the given kind.
// gt is null for a raster without georeferencing; wkt may be empty. A
// declared no-data value is written as its "data ignore value".
std::string envi_header(const std::string &band_name, int lines, int cols, Kind kind, const double *gt,
                        const std::string &wkt, const NoData &nodata);

// Parses the text of an ENVI header ("ENVI" on its first line, then
// "key = value" lines, a value in braces running to its closing brace).
// Empty on success, else what is wrong with it.
std::string parse_envi_header(const std::string &text, EnviHeader &h);

// Reads the header at real_path: *found tells whether a file is there; a
// file that is there is opened without blocking and must be a regular file
// of at most kHeaderLimit bytes. Empty when there is none or it was read,
// else the problem.
std::string read_envi_header(const std::string &real_path, bool *found, EnviHeader &h);
constexpr size_t kHeaderLimit = size_t(1) << 20;

// Empty when the header agrees with a raster of that size and kind (the
// fields it gives: samples, lines, data type, little-endian byte order),
// else the first disagreement ("it gives 200 samples where the description
// gives 111 columns").
std::string header_disagreement(const EnviHeader &h, int lines, int cols, Kind kind);

// The no-data value the header declares for samples of that kind: a whole
// number that a sample can hold. Empty on success (nd.declared tells
// whether one is declared), else what is wrong with it.
std::string header_nodata(const EnviHeader &h, Kind kind, NoData &nd);

// What reading the header beside a raster came to; the caller words its
// own message from `why`.
enum class HeaderUse {
    fine,       // no header there, or one that agrees and declares a usable value or none
    disagrees,  // it disagrees with the raster's description (header_disagreement)
    unusable,   // it cannot be read, is not an ENVI header, or its value is unusable
};

// Reads the header at real_path, when there is one, beside a raster of
// lines × cols samples of that kind, for the no-data value it may declare
// (nd, left undeclared without one).
HeaderUse read_header_nodata(const std::string &real_path, int lines, int cols, Kind kind, NoData &nd,
                             std::string &why);

#endif
