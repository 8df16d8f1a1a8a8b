// The ENVI header written beside each raw raster, so that GDAL (gdalinfo,
// QGIS, ...) reads the raw file with its size, sample type, georeferencing
// and coordinate system. The raw file itself holds nothing but the samples.
#ifndef KARVEL_IMPORT_ENVI_H
#define KARVEL_IMPORT_ENVI_H

#include <string>

#include "convert.h"
#include "paths.h"  // header_name

// The header text of a raster of lines × cols samples of the given kind.
// gt is null for a raster without georeferencing; wkt may be empty.
std::string envi_header(const std::string &band_name, int lines, int cols, Kind kind, const double *gt,
                        const std::string &wkt);

// GDAL's side file for what an ENVI header cannot say: the unit of the
// values of a DEM, so that GDAL (and a later import) reads it as the band's
// unit type. Named like the raw file with ".aux.xml" appended.
std::string unit_sidecar_name(const std::string &raw_name);
std::string unit_sidecar(const std::string &unit);

#endif
