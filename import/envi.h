// The ENVI header written beside each raw raster, so that GDAL (gdalinfo,
// QGIS, ...) reads the raw file with its size, sample type, georeferencing
// and coordinate system. The raw file itself holds nothing but the samples.
#ifndef KARVEL_IMPORT_ENVI_H
#define KARVEL_IMPORT_ENVI_H

#include <string>

#include "convert.h"

// The header's name: the raw file's name with ".hdr" in place of ".raw".
std::string header_name(const std::string &raw_name);

// The header text of a raster of lines × cols samples of the given kind.
// gt is null for a raster without georeferencing; wkt may be empty.
std::string envi_header(const std::string &band_name, int lines, int cols, Kind kind, const double *gt,
                        const std::string &wkt);

#endif
