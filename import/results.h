// The results of other comparisons in the folder: karvel's summaries
// (R_karvel.txt) name the two rasters each compares, and an import that
// replaced one of them would leave that result without the rasters its
// figures were made of, so that it could no longer be reported on.
#ifndef KARVEL_IMPORT_RESULTS_H
#define KARVEL_IMPORT_RESULTS_H

#include <string>
#include <vector>

#include "input.h"
#include "options.h"

// Refuses, unless --replace, to write a raster (FIRST's or SECOND's, as
// planned) over one that the summary of another result in the folder dir
// names; the summary of the result this import writes is not another's.
// With --replace, what is replaced is added to the notes (when not null:
// a check ahead of the reading gives none).
void keep_other_results(const Input &a, const Input &b, const ImportOptions &o, const ImagesDir &images,
                        const std::string &dir, std::vector<std::string> *notes);

#endif
