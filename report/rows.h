// What the report makes of each line of the two rasters: the differences
// and residuals, as doubles and as the GeoTIFFs' floats, and the counts of
// the density of (first, second). Plain loops over restricted pointers, so
// that the compiler makes vector code of them.
#ifndef KARVEL_REPORT_ROWS_H
#define KARVEL_REPORT_ROWS_H

#include <cstddef>
#include <cstdint>

#include "bins.h"

// d = y − x and e = y − (x·b1 + b0), each also rounded to float.
void line_rows(const double *__restrict x, const double *__restrict y, int cols, double b0, double b1,
               double *__restrict d, double *__restrict e, float *__restrict d_float, float *__restrict e_float);

// Not a number in both rows wherever keep[j] is 0: the positions left out.
void blank_left_out(const unsigned char *__restrict keep, int cols, float *__restrict a, float *__restrict b);

// Adds each position to its cell of the density (density_bins) in its copy
// (count_bins, bins² counts apart). The values are finite. `index` holds
// cols ints of room.
void density_line(const double *__restrict x, const double *__restrict y, int cols, double lo, double scale, int bins,
                  int32_t *__restrict index, uint32_t *__restrict counts);

#endif
