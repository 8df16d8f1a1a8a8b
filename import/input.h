// One of the two inputs on its way through the import, and the refusal that
// ends the import: the steps (plan.h, passes.h, output.h, table.h) share them.
#ifndef KARVEL_IMPORT_INPUT_H
#define KARVEL_IMPORT_INPUT_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "convert.h"
#include "lines.h"
#include "outfile.h"
#include "paths.h"
#include "source.h"

// A refusal: the message, and the exit status 1.
struct Refusal {
    std::string message;
};

// What an input was as it was opened, before either is resampled onto the
// other's grid: what R_inputs.json says of it.
struct Opened {
    std::string wkt;          // its coordinate system; empty when none
    bool srs_assigned = false;
    bool has_cell = false;    // georeferenced: the cell's size is known
    double cell_width = 0, cell_height = 0;  // in ground metres at the grid's centre
};

// One of the two inputs on its way through the import.
struct Input {
    const char *role;  // "FIRST" or "SECOND"
    Source src;
    Opened opened;
    Plan plan;
    std::string name;  // base name in the folder
    Tally tally;
    OutFile raw;
    LineReader reader;
    std::vector<uint8_t> has_data, bytes;
    std::vector<double> metres;  // the values of the line read, in metres
    // What the reading pass takes from each cell of a line before it is
    // converted, in the band's unit (SECOND's tilt found by --deramp):
    // given the line, its first column and the count, it fills the values.
    // Empty: nothing.
    std::function<void(int line, int col0, int n, double *values)> correction;
    std::vector<double> corrections;
    std::string who() const { return std::string(role) + " " + printable(src.arg); }
    // The option that `stem` makes for this input: --srs-first, --z-unit-second, ...
    std::string option(const char *stem) const {
        return std::string("--") + stem + (std::string(role) == "FIRST" ? "-first" : "-second");
    }
};

// The cells of the last pass over the input that lack data.
inline long long cells_without_data(const Input &in) { return in.tally.cells - in.tally.with_data; }

// The path karvel shows for a file of the folder answer `folder`.
inline std::string shown_path(const std::string &folder, const std::string &file) {
    return shown_folder(folder) + file;
}

#endif
