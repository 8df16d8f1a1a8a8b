// Positions without data: a raster may declare one sample value that marks
// them, and a position where either raster holds its value is left out of
// every figure. The positions kept stay in column order.
#ifndef KARVEL_NODATA_H
#define KARVEL_NODATA_H

#include <cstddef>

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

// Moves the kept values of x and y to their fronts, in column order.
// Returns how many there are.
size_t compact_kept(double *x, double *y, const unsigned char *keep, size_t cols);

// The kept positions of one line of both rasters converted to doubles, as
// convert_samples converts them (each sample times its raster's factor),
// into x and y (cols values each) from their fronts, in column order.
// Returns how many there are. One walk over the samples: what
// mark_kept, convert_samples and compact_kept give together.
size_t convert_kept(const unsigned char *s1, Kind k1, NoData n1, double f1, const unsigned char *s2, Kind k2,
                    NoData n2, double f2, size_t cols, double *x, double *y);

#endif
