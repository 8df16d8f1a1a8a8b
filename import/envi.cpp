#include "envi.h"

#include <cstdio>

namespace {
std::string g17(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}
}  // namespace

std::string envi_header(const std::string &band_name, int lines, int cols, Kind kind, const double *gt,
                        const std::string &wkt) {
    // ENVI data types: 1 unsigned 8-bit, 12 unsigned 16-bit, 3 signed 32-bit.
    const int type = kind == Kind::image8 ? 1 : kind == Kind::dem16 ? 12 : 3;
    std::string h = "ENVI\n";
    h += "description = {" + band_name + "}\n";
    h += "samples = " + std::to_string(cols) + "\n";
    h += "lines = " + std::to_string(lines) + "\n";
    h += "bands = 1\n";
    h += "header offset = 0\n";
    h += "file type = ENVI Standard\n";
    h += "data type = " + std::to_string(type) + "\n";
    h += "interleave = bsq\n";
    h += "byte order = 0\n";
    // map info names the upper left corner of the first cell (1, 1) and the
    // cell size, positive downwards; ENVI has no form for a sheared grid.
    if (gt != nullptr && gt[2] == 0 && gt[4] == 0) {
        h += "map info = {Arbitrary, 1, 1, " + g17(gt[0]) + ", " + g17(gt[3]) + ", " + g17(gt[1]) + ", " +
             g17(-gt[5]) + "}\n";
        if (!wkt.empty()) h += "coordinate system string = {" + wkt + "}\n";
    }
    h += "band names = {" + band_name + "}\n";
    return h;
}

std::string unit_sidecar_name(const std::string &raw_name) { return raw_name + ".aux.xml"; }

std::string unit_sidecar(const std::string &unit) {
    return "<PAMDataset>\n  <PAMRasterBand band=\"1\">\n    <UnitType>" + unit +
           "</UnitType>\n  </PAMRasterBand>\n</PAMDataset>\n";
}
