// The loading phase: both raw rasters checked for their length and read
// once, line by line, for their value ranges. No grid is kept: the later
// passes read the files again.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

#include "console.h"
#include "numfmt.h"
#include "passes.h"
#include "run.h"
#include "state.h"
#include "summary_text.h"

namespace {

// Warns when a raster file does not hold exactly the bytes its description
// calls for; it is read all the same (missing samples read as zero).
void check_length(const RasterFile &f, const RasterLines &lines) {
    const std::string problem = length_mismatch(f, lines, nb_lig);
    if (!problem.empty()) out("\n\tWarning: " + problem);
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

void take_line_range(const unsigned char *row, int bytes, size_t cols, int &Min, int &Max) {
    if (bytes == 1)
        take_range<uint8_t>(row, cols, Min, Max);
    else if (bytes == 2)
        take_range<uint16_t>(row, cols, Min, Max);
    else
        take_range<int32_t>(row, cols, Min, Max);
}

// Sets up the line reader of one raster.
void set_up(const RasterFile &f, RasterLines &lines, int width_answer, const char *what) {
    const int bytes = kind_bytes(raster_kind(width_answer));
    if (!lines.init(f, nb_lig, nb_col, bytes, 1.0))
        fail_run(kfmt("\n\n\tNot enough memory for the line buffers of %s: lines of %d columns need %lld bytes\n", what,
                      nb_col, (long long)lines.buffer_bytes()));
    check_length(f, lines);
}

// Takes the value range of one raster.
void range_pass(RasterLines &lines, int &Min, int &Max) {
    const size_t cols = size_t(nb_col);
    for (int i = 0; i < nb_lig; i++) take_line_range(lines.next_samples(), lines.sample_bytes(), cols, Min, Max);
}

// Takes the value ranges of both rasters over the positions where neither
// holds its no-data value, and counts them.
void kept_range_pass() {
    const size_t cols = size_t(nb_col);
    std::vector<unsigned char> keep(cols);
    KeptRuns runs;
    nb_kept = 0;
    for (int i = 0; i < nb_lig; i++) {
        const unsigned char *s1 = dtab1.next_samples(), *s2 = dtab2.next_samples();
        nb_kept += (long long)mark_kept(s1, raster_kind(itype1), nodata[0], s2, raster_kind(itype3), nodata[1], cols,
                                        keep.data());
        kept_runs(keep.data(), cols, runs);
        const size_t b1 = size_t(dtab1.sample_bytes()), b2 = size_t(dtab2.sample_bytes());
        for (const auto &[first, last] : runs) {
            take_line_range(s1 + first * b1, int(b1), last - first, range_min[0], range_max[0]);
            take_line_range(s2 + first * b2, int(b2), last - first, range_min[1], range_max[1]);
        }
    }
}

}  // namespace

void lecture() {
    range_min[0] = range_min[1] = INT_MAX;
    range_max[0] = range_max[1] = INT_MIN;
    check_rasters();
    set_up(f1, dtab1, itype1, "the first raster");
    set_up(f3, dtab2, itype3, "the second raster");
    const long long positions = (long long)nb_lig * nb_col;
    if (!nodata[0].declared && !nodata[1].declared) {
        range_pass(dtab1, range_min[0], range_max[0]);
        range_pass(dtab2, range_min[1], range_max[1]);
        nb_kept = positions;
    } else {
        kept_range_pass();
        out(kfmt("\n\t%s %lld of %lld", summary_text::kPositionsLeftOut, positions - nb_kept, positions));
    }
    check_rasters();
    if ((nodata[0].declared || nodata[1].declared) && nb_kept < 2)
        fail_run(kfmt("\n\n\tThe rasters %s and %s have %lld positions with data in both: a comparison needs at "
                      "least 2\n",
                      nomim1.c_str(), nomim3.c_str(), nb_kept));
}
