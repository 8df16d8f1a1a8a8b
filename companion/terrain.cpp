#include "terrain.h"

#include "gdal_problem.h"

#include <cpl_error.h>
#include <gdal.h>
#include <gdal_utils.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

// A projected grid is processed this many lines at a time; a geographic
// one a line at a time, each line with its own cell size on the ground.
constexpr int kChunkLines = 64;

// One output of GDAL's DEM processing ("slope" or "aspect") of `rows` lines
// of `src`, read back into out (NaN where GDAL gives no value).
std::string dem_processing(GDALDatasetH src, const char *what, int first_row, int rows, int cols,
                           std::vector<float> &out) {
    const char *args[] = {"-of", "MEM", "-compute_edges", "-alg", "Horn", nullptr};
    GDALDEMProcessingOptions *opt = GDALDEMProcessingOptionsNew(const_cast<char **>(args), nullptr);
    int usage_error = 0;
    GDALDatasetH ds = GDALDEMProcessing("", src, what, nullptr, opt, &usage_error);
    GDALDEMProcessingOptionsFree(opt);
    if (!ds) return gdal_problem();
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    int has_nodata = 0;
    const double nodata = GDALGetRasterNoDataValue(band, &has_nodata);
    out.resize(size_t(rows) * size_t(cols));
    std::string problem;
    if (GDALRasterIO(band, GF_Read, 0, first_row, cols, rows, out.data(), cols, rows, GDT_Float32, 0, 0) != CE_None)
        problem = gdal_problem();
    GDALClose(ds);
    if (has_nodata)
        for (float &v : out)
            if (v == float(nodata)) v = NAN;
    return problem;
}

}  // namespace

Terrain::Terrain(const Ground &grid, int lines, int cols, bool with_aspect, int every, int first)
    : grid_(grid), lines_(lines), cols_(cols), with_aspect_(with_aspect),
      chunk_(grid.geographic || every > 1 ? 1 : kChunkLines), every_(std::max(1, every)),
      first_(std::max(0, first)) {
    out_first_ = every_ > 1 ? first_ - every_ : 0;
    static std::once_flag registered;
    std::call_once(registered, GDALAllRegister);
}

Terrain::~Terrain() = default;

bool Terrain::push(const float *elevations) {
    if (!problem_.empty() || given_ >= lines_) return false;
    // Lines before held_first_ are needed by no line still to be computed.
    if (given_ >= held_first_) held_.insert(held_.end(), elevations, elevations + cols_);
    given_++;
    return true;
}

bool Terrain::next(int &line, const float *&slope, const float *&aspect) {
    if (out_taken_ == out_count_) {
        // The next chunk, once the line after it is given (or the last).
        const int first = every_ > 1 ? out_first_ + every_ : out_first_ + out_count_;
        const int end = std::min(lines_, first + chunk_);
        if (first >= lines_ || given_ < std::min(lines_, end + 1) || !problem_.empty()) return false;
        out_first_ = first;
        out_count_ = end - first;
        out_taken_ = 0;
        if (!process()) return false;
    }
    line = out_first_ + out_taken_;
    slope = slope_.data() + size_t(out_taken_) * size_t(cols_);
    aspect = with_aspect_ ? aspect_.data() + size_t(out_taken_) * size_t(cols_) : nullptr;
    out_taken_++;
    return true;
}

// The lines out_first_ .. out_first_ + out_count_ - 1, from them and the
// line on either side: GDAL computes the edges of what it is given as
// edges, and only the raster's own first and last lines are.
bool Terrain::process() {
    const int from = std::max(0, out_first_ - 1);
    const int to = std::min(lines_, out_first_ + out_count_ + 1);
    const int rows = to - from;
    float *rows_data = held_.data() + size_t(from - held_first_) * size_t(cols_);

    CPLErrorReset();
    GDALDriverH mem = GDALGetDriverByName("MEM");
    GDALDatasetH src = mem ? GDALCreate(mem, "", cols_, rows, 0, GDT_Float32, nullptr) : nullptr;
    if (!src) {
        problem_ = mem ? gdal_problem() : "GDAL has no in-memory driver";
        return false;
    }
    char pointer[64];
    std::snprintf(pointer, sizeof pointer, "DATAPOINTER=%p", static_cast<void *>(rows_data));
    char *options[] = {pointer, nullptr};
    GDALAddBand(src, GDT_Float32, options);
    double width = 1, height = 1;
    cell_metres(grid_, out_first_, width, height);
    double gt[6] = {0, grid_.gt[1] < 0 ? -width : width, 0, 0, 0, grid_.gt[5] < 0 ? -height : height};
    GDALSetGeoTransform(src, gt);
    GDALSetRasterNoDataValue(GDALGetRasterBand(src, 1), NAN);

    const int skip = out_first_ - from;
    problem_ = dem_processing(src, "slope", skip, out_count_, cols_, slope_);
    if (problem_.empty() && with_aspect_) problem_ = dem_processing(src, "aspect", skip, out_count_, cols_, aspect_);
    GDALClose(src);
    if (!problem_.empty()) return false;

    // The last line of this chunk is the first line the next one needs
    // (or, when lines are skipped, the line before the next one computed).
    const int keep_from = every_ > 1 ? out_first_ + every_ - 1 : out_first_ + out_count_ - 1;
    const int held_end = held_first_ + int(held_.size() / size_t(cols_));
    const int drop_end = std::min(keep_from, held_end);
    if (drop_end > held_first_) held_.erase(held_.begin(), held_.begin() + ptrdiff_t(drop_end - held_first_) * cols_);
    held_first_ = std::max(held_first_, keep_from);
    return true;
}
