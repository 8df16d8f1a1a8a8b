// R_inputs.json, written beside the answers: which files, coordinate
// systems, cell sizes and units, and which options, produced the pair, with
// the warnings the import gave of it.
#ifndef KARVEL_IMPORT_INPUTS_JSON_H
#define KARVEL_IMPORT_INPUTS_JSON_H

#include <string>
#include <vector>

#include "input.h"
#include "options.h"

// {"first": {...}, "second": {...}, "import": {...}, "warnings": [...]}:
// of each input its path as given, band, coordinate system (name, EPSG
// code, whether assigned), cell size on the ground and the unit of its
// values (declared and used); the options as given.
std::string inputs_json(const Input &a, const Input &b, const ImportOptions &o,
                        const std::vector<std::string> &warnings);

#endif
