// The WKT of an EPSG coordinate system, for the tests of the grids.
#ifndef KARVEL_TESTS_GEO_SRS_H
#define KARVEL_TESTS_GEO_SRS_H

#include <cpl_conv.h>
#include <ogr_srs_api.h>

#include <string>

inline std::string wkt_of(int epsg) {
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(srs, epsg);
    char *w = nullptr;
    OSRExportToWkt(srs, &w);
    std::string s = w ? w : "";
    CPLFree(w);
    OSRDestroySpatialReference(srs);
    return s;
}

#endif
