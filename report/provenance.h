// Where the rasters of a result came from: R_inputs.json, which
// karvel-import writes beside the rasters it imports (each source file as
// given, its coordinate system and cell size, the import's options and the
// warnings it gave). A result karvel made of files by hand has none.
#ifndef KARVEL_REPORT_PROVENANCE_H
#define KARVEL_REPORT_PROVENANCE_H

#include <string>
#include <vector>

#include "json.h"

// One raster's source, as the import read it.
struct SourceRaster {
    std::string source;    // the file as given to the import
    std::string srs_name;  // its coordinate system's name; empty when it has none
    long long epsg = 0;    // its EPSG code; 0 where none is known
    bool cell_known = false;
    double cell_w = 0, cell_h = 0;  // a cell's width and height on the ground, in metres
};

struct Provenance {
    bool known = false;  // false: no R_inputs.json (or one that cannot be used)
    SourceRaster first, second;
    bool grid_second = false;  // the pair was written on SECOND's grid
    std::string resampling;    // the import's resampling method; empty when it resampled nothing
    Json import;               // the import's options, as the file gives them
    std::vector<std::string> warnings;  // the import's plausibility warnings
};

// Reads the file's text. Empty on success, else what is wrong with it.
std::string parse_inputs(const std::string &text, Provenance &p);

// The headline's lines for it (none when not known).
std::vector<std::string> provenance_lines(const Provenance &p);

// The report's "inputs": null when not known.
Json provenance_json(const Provenance &p);

#endif
