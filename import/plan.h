// The plan of an import, before any raster is written: the answers checked,
// both inputs opened and brought onto one grid, each input's kind and name
// chosen; and, once a pass has read them, the values that mark cells
// without data and the inputs that 32-bit samples cannot hold as they are.
#ifndef KARVEL_IMPORT_PLAN_H
#define KARVEL_IMPORT_PLAN_H

#include <string>
#include <vector>

#include "coregister.h"
#include "input.h"
#include "options.h"

// The answers that are not read from the inputs: the folder, and the result
// name with the longest path of karvel's result files.
void check_answers(const ImportOptions &o);

// Opens both inputs; when their grids differ, --align resamples SECOND onto
// FIRST's grid, and --coregister finds SECOND's shift and resamples it.
// Adds what it did to the notes.
void open_and_align(Input &a, Input &b, const ImportOptions &o, std::vector<std::string> &notes, Coregistration &coreg);

// How each input is stored and under which name, and the paths karvel will
// form from them.
void plan_outputs(Input &a, Input &b, const ImportOptions &o, std::vector<std::string> &notes);

// After a pass that found cells without data: gives each input with any
// its no-data value, and says how many cells lack data.
void mark_cells_without_data(Input &a, Input &b, const ImportOptions &o, std::vector<std::string> &notes,
                             long long in_both);

// Integers that an exact plan met beyond the signed 32-bit range: such an
// input is converted to --unit instead. True when one was re-planned.
bool replan_beyond_32_bits(Input &a, Input &b, const ImportOptions &o, std::vector<std::string> &notes);

#endif
