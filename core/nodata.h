// Positions without data: a raster may declare one sample value that marks
// them, and a position where either raster holds its value is left out of
// every figure. The positions kept stay in column order.
#ifndef KARVEL_NODATA_H
#define KARVEL_NODATA_H

#include <cstddef>
#include <utility>
#include <vector>

#include "kind.h"

struct NoData {
    bool declared = false;
    long long value = 0;
};

// Marks the kept positions of one line of both rasters (samples as stored,
// of each raster's kind): keep[j] is 1 where neither sample is its raster's
// no-data value, else 0. Returns how many are kept.
size_t mark_kept(const unsigned char *s1, Kind k1, NoData n1, const unsigned char *s2, Kind k2, NoData n2, size_t cols,
                 unsigned char *keep);

// The runs [first, last) of kept positions of a marked line, in order.
using KeptRuns = std::vector<std::pair<size_t, size_t>>;
void kept_runs(const unsigned char *keep, size_t cols, KeptRuns &runs);

// Moves the kept values of x and y to their fronts, in column order.
// Returns how many there are.
size_t compact_kept(double *x, double *y, const unsigned char *keep, size_t cols);

// What converting the kept positions of a line needs between lines.
struct KeptScratch {
    std::vector<unsigned char> keep;
    KeptRuns runs;
};

// The kept positions of one line of both rasters converted to doubles, as
// convert_samples converts them (each sample times its raster's factor),
// into x and y (cols values each), in column order from x[*start] and
// y[*start] on: the first run of kept positions stays where it is, and the
// others are moved to follow it. Returns how many there are: what
// mark_kept, convert_samples and compact_kept give together.
size_t convert_kept(const unsigned char *s1, Kind k1, NoData n1, double f1, const unsigned char *s2, Kind k2,
                    NoData n2, double f2, size_t cols, double *x, double *y, KeptScratch &scratch, size_t *start);

#endif
