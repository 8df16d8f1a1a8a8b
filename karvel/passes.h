// The passes of a run over the two raster files.
#ifndef KARVEL_PASSES_H
#define KARVEL_PASSES_H

#include <vector>

#include "line_pairs.h"
#include "nodata.h"

// Stops the run when either raster is no longer what `opening` opened (its
// size, modification time, or the file its path names): the results would
// mix two versions of it; or when a read of it failed: the results would
// take what it did not deliver for zeros.
void check_rasters();

// The lines of both rasters read from their files through `dtab1` and
// `dtab2`; each pass checks both files as it begins and as it ends.
// Where either raster declares a no-data value, the positions where either
// holds it are left out of each line.
struct RasterPairs : LinePairs {
    void begin_pass() override;
    int next(const double *&row1, const double *&row2) override;
    void end_pass() override;

private:
    std::vector<double> x_, y_;
    KeptScratch scratch_;
};

// The count shown on the console while a pass walks its lines, on one line
// that the next count overwrites: every 1000 lines, from line index i.
enum class Pass { lines, residuals, histogram };
void show_progress(Pass pass, int i);

#endif
