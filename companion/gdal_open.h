// Every raster and vector file the companions open goes through here, so that none waits
// on a special file: GDAL opens a FIFO and waits for a writer, and reads a
// device without end, both for the file named and for the files it reads
// beside it (NAME.aux.xml, NAME.ovr, a world file, an ENVI header).
#ifndef KARVEL_COMPANION_GDAL_OPEN_H
#define KARVEL_COMPANION_GDAL_OPEN_H

#include <gdal.h>

#include <string>

// Opens `path` read-only as a raster, with the given drivers (nullptr: any),
// once it and every file beside it that starts with its stem and a dot are
// regular files (or folders, which some formats are); a path that names no
// file (/vsizip/..., NETCDF:...) goes to GDAL as it is. Null when it is not
// opened: `problem` then says why in a clause about the file ("it is not a
// regular file", "it is a vector file ..."), or stays empty when GDAL
// could not open it, whose error (gdal_problem()) then says why.
GDALDatasetH open_raster(const std::string &path, const char *const *drivers, std::string &problem);

// Opens `path` read-only as a vector file, after the same check of it and
// of the files beside it (a shapefile's .dbf and .shx); null when it is not
// opened, `problem` then saying why as above, or empty for GDAL's reason.
GDALDatasetH open_vector(const std::string &path, std::string &problem);

#endif
