#include "passes.h"

#include <cstring>

#include "console.h"
#include "numfmt.h"
#include "run.h"
#include "state.h"

namespace {

void check_raster(const RasterFile &f, const RasterLines &lines) {
    const std::string what = raster_changed(f);
    if (!what.empty())
        fail_run(kfmt("\n\n\tThe file %s changed while the run was reading it (%s): the results are not written\n",
                      f.shown.c_str(), what.c_str()));
    if (lines.read_error() != 0)
        fail_run(kfmt("\n\n\tThe file %s could not be read (%s): the results are not written\n", f.shown.c_str(),
                      std::strerror(lines.read_error())));
}

}  // namespace

void check_rasters() {
    check_raster(f1, dtab1);
    check_raster(f3, dtab2);
}

void RasterPairs::begin_pass() {
    check_rasters();
    dtab1.rewind();
    dtab2.rewind();
}

int RasterPairs::next(const double *&row1, const double *&row2) {
    if (!nodata[0].declared && !nodata[1].declared) {
        row1 = dtab1.next_line();
        row2 = dtab2.next_line();
        return nb_col;
    }
    const size_t cols = size_t(nb_col);
    x_.resize(cols);
    y_.resize(cols);
    const unsigned char *s1 = dtab1.next_samples(), *s2 = dtab2.next_samples();
    size_t start = 0;
    const size_t n = convert_kept(s1, raster_kind(itype1), nodata[0], dtab1.factor(), s2, raster_kind(itype3),
                                  nodata[1], dtab2.factor(), cols, x_.data(), y_.data(), scratch_, &start);
    row1 = x_.data() + start;
    row2 = y_.data() + start;
    return int(n);
}

void RasterPairs::end_pass() { check_rasters(); }

void show_progress(Pass pass, int i) {
    // The line pass counts the lines begun, from 1; the other two passes
    // show the index of the line they begin, from 0.
    if (pass == Pass::lines) {
        if ((i + 1) % 1000 == 0) out_now(kfmt("\t\tline %d                  \r    ", i + 1));
    } else {
        if (i % 1000 == 0) out_now(kfmt("\t\tline %d                    \r    ", i));
    }
}
