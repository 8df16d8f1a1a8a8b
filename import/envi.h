// The files written beside each raw raster: its ENVI header (core's
// envi_header.h), so that GDAL (gdalinfo, QGIS, ...) reads the raw file with
// its size, sample type, georeferencing, coordinate system and no-data
// value, and GDAL's side file for its unit.
#ifndef KARVEL_IMPORT_ENVI_H
#define KARVEL_IMPORT_ENVI_H

#include <string>

#include "convert.h"
#include "envi_header.h"
#include "paths.h"  // header_name

// GDAL's side file for what an ENVI header cannot say: the unit of the
// values of a DEM, so that GDAL (and a later import) reads it as the band's
// unit type. Named like the raw file with ".aux.xml" appended.
std::string unit_sidecar_name(const std::string &raw_name);
std::string unit_sidecar(const std::string &unit);

#endif
