// The passes that read both inputs line by line and write both raw rasters.
#ifndef KARVEL_IMPORT_PASSES_H
#define KARVEL_IMPORT_PASSES_H

#include <string>
#include <vector>

#include "input.h"
#include "options.h"
#include "window.h"

// GDAL's block cache needs to hold, of a band read line by line, the blocks
// that one line crosses (a line of a striped file, a row of tiles of a
// tiled one), not the raster. A resampled band is read a block at a time
// (see lines.h): of it the cache holds two blocks, and of the band it is
// resampled from the blocks that one row of its blocks draws on, so that
// the blocks of a row share them. GDAL_CACHEMAX, when set, rules.
void size_block_cache(const Input &a, const Input &b);

// What a pass found of the pair: the cells with data in both, and the sum
// over them of SECOND − FIRST in metres, line by line (DEMs).
struct PairTally {
    long long in_both = 0;
    double sum_difference = 0;
};

// Reads both inputs and writes both raw files into the folder dir: the first
// pass reads them whole; when cells lack data, a second pass reads the
// window cut by --crop; when integers turn out to lie beyond what 32-bit
// samples hold as they are, one more pass converts them. Returns the window
// written, and in pair what the last pass found of it.
Window read_and_write(Input &a, Input &b, const ImportOptions &o, const std::string &dir,
                      std::vector<std::string> &notes, PairTally &pair);

#endif
