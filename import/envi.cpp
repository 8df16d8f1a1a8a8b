#include "envi.h"

std::string unit_sidecar_name(const std::string &raw_name) { return raw_name + ".aux.xml"; }

std::string unit_sidecar(const std::string &unit) {
    return "<PAMDataset>\n  <PAMRasterBand band=\"1\">\n    <UnitType>" + unit +
           "</UnitType>\n  </PAMRasterBand>\n</PAMDataset>\n";
}
