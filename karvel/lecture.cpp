// The loading phase: both raw rasters checked for their length and read
// once, line by line, for their value ranges. No grid is kept: the later
// passes read the files again.
#include <algorithm>
#include <climits>
#include <cstdint>

#include "console.h"
#include "numfmt.h"
#include "passes.h"
#include "run.h"
#include "state.h"

namespace {

// Warns when a raster file does not hold exactly the bytes its description
// calls for; it is read all the same (missing samples read as zero).
void check_length(const RasterFile &f, const RasterLines &lines) {
    const uint64_t expected = lines.expected_bytes();
    if (uint64_t(f.size) == expected) return;
    out(kfmt("\n\tWarning: the file %s holds %lld bytes, but %d lines of %d columns of %d-byte samples need %lld bytes",
             f.shown.c_str(), (long long)f.size, nb_lig, nb_col, lines.sample_bytes(), (long long)expected));
}

// Widens the range [Min, Max] to hold every value of a line of samples.
template <class T>
void take_range(const unsigned char *samples, size_t cols, int &Min, int &Max) {
    const T *row = reinterpret_cast<const T *>(samples);
    int lo = Min, hi = Max;
    for (size_t j = 0; j < cols; j++) {
        const int v = row[j];
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    Min = lo;
    Max = hi;
}

// Sets up the line reader of one raster and takes its value range.
void range_pass(const RasterFile &f, RasterLines &lines, int width_answer, const char *what, int &Min, int &Max) {
    const int bytes = kind_bytes(raster_kind(width_answer));
    if (!lines.init(f, nb_lig, nb_col, bytes, 1.0))
        fail_run(kfmt("\n\n\tNot enough memory for the line buffers of %s: lines of %d columns need %lld bytes\n", what,
                      nb_col, (long long)lines.buffer_bytes()));
    check_length(f, lines);
    const size_t cols = size_t(nb_col);
    for (int i = 0; i < nb_lig; i++) {
        const unsigned char *row = lines.next_samples();
        if (bytes == 1)
            take_range<uint8_t>(row, cols, Min, Max);
        else if (bytes == 2)
            take_range<uint16_t>(row, cols, Min, Max);
        else
            take_range<int32_t>(row, cols, Min, Max);
    }
}

}  // namespace

void lecture() {
    range_min[0] = range_min[1] = INT_MAX;
    range_max[0] = range_max[1] = INT_MIN;
    check_rasters();
    range_pass(f1, dtab1, itype1, "the first raster", range_min[0], range_max[0]);
    range_pass(f3, dtab2, itype3, "the second raster", range_min[1], range_max[1]);
    check_rasters();
}
