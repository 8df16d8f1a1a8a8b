#include "onto.h"

#include <cpl_error.h>
#include <gdal.h>
#include <gdal_alg.h>
#include <gdal_utils.h>
#include <gdal_vrt.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "gdal_open.h"
#include "gdal_problem.h"
#include "warp.h"

namespace {

// The number to the last digit; a zero without its sign (a line range
// reads "0 to 20", never "-0 to 20").
std::string exact(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v == 0 ? 0.0 : v);
    return buf;
}

// Whether the source, band 1 of `src` on its own grid, covers a cell of the
// target: its outline (points along its four sides, through `transform`
// into the target's coordinates) bounds a box that meets the target's
// cells. Empty when it does, else why not.
std::string overlap_problem(GDALDatasetH src, const Ground &t, int lines, int cols, void *transform) {
    const int sx = GDALGetRasterXSize(src), sy = GDALGetRasterYSize(src);
    constexpr int kSteps = 32;
    std::vector<double> x, y, z;
    for (int k = 0; k <= kSteps; k++) {
        const double f = double(k) / kSteps;
        const double px[4] = {f * sx, f * sx, 0, double(sx)}, py[4] = {0, double(sy), f * sy, f * sy};
        for (int e = 0; e < 4; e++) x.push_back(px[e]), y.push_back(py[e]), z.push_back(0);
    }
    std::vector<int> ok(x.size(), 0);
    GDALGenImgProjTransform(transform, FALSE, int(x.size()), x.data(), y.data(), z.data(), ok.data());
    // Georeferenced coordinates of the target into its cells (north up).
    double c0 = INFINITY, c1 = -INFINITY, l0 = INFINITY, l1 = -INFINITY;
    for (size_t k = 0; k < x.size(); k++) {
        if (!ok[k] || !std::isfinite(x[k]) || !std::isfinite(y[k])) continue;
        const double c = (x[k] - t.gt[0]) / t.gt[1], l = (y[k] - t.gt[3]) / t.gt[5];
        c0 = std::min(c0, c), c1 = std::max(c1, c), l0 = std::min(l0, l), l1 = std::max(l1, l);
    }
    if (!(c0 <= c1)) return "none of its outline can be transformed into the coordinate system of the grid";
    if (c1 <= 0 || c0 >= cols || l1 <= 0 || l0 >= lines)
        return "it does not overlap the grid: its cells cover columns " + exact(c0) + " to " + exact(c1) +
               " and lines " + exact(l0) + " to " + exact(l1) + " of the grid's " + std::to_string(cols) +
               " columns and " + std::to_string(lines) + " lines";
    return "";
}

bool is_integer_type(GDALDataType t) {
    return t == GDT_Byte || t == GDT_UInt16 || t == GDT_Int16 || t == GDT_UInt32 || t == GDT_Int32
#if GDAL_VERSION_NUM >= 3050000
           || t == GDT_UInt64 || t == GDT_Int64
#endif
#if GDAL_VERSION_NUM >= 3070000
           || t == GDT_Int8
#endif
        ;
}

// GDAL's warper carries 64-bit integers as doubles, which hold every whole
// number only up to 2^53. Such a band is warped three times: as it is (which
// cells have a value), and its high and low 32 bits each as doubles (exact),
// through VRT bands that these pixel functions derive from it; nearest
// neighbour takes the same source cell for a target cell every time.
template <bool High>
CPLErr half_of_64_bits(void **sources, int count, void *out, int cols, int lines, GDALDataType type,
                       GDALDataType out_type, int pixel_space, int line_space) {
    if (count != 1 || GDALGetDataTypeSizeBytes(type) != 8) return CE_Failure;
    const unsigned char *in = static_cast<const unsigned char *>(sources[0]);
    for (int i = 0; i < lines; i++)
        for (int j = 0; j < cols; j++) {
            uint64_t bits;
            std::memcpy(&bits, in + (size_t(i) * size_t(cols) + size_t(j)) * 8, 8);
            const double half = double(High ? bits >> 32 : bits & 0xffffffffu);
            GDALCopyWords(&half, GDT_Float64, 0,
                          static_cast<unsigned char *>(out) + ptrdiff_t(i) * line_space + ptrdiff_t(j) * pixel_space,
                          out_type, 0, 1);
        }
    return CE_None;
}
constexpr const char *kHalves[2] = {"karvel_high_32_bits", "karvel_low_32_bits"};

// A VRT of band 1 of src (64-bit integers of that type) whose values are
// the high (half 0) or low (half 1) 32 bits of each, as doubles.
GDALDatasetH half_view(GDALDatasetH src, GDALDataType type, int half, const std::string &name) {
    static std::once_flag added;
    std::call_once(added, [] {
        GDALAddDerivedBandPixelFunc(kHalves[0], half_of_64_bits<true>);
        GDALAddDerivedBandPixelFunc(kHalves[1], half_of_64_bits<false>);
    });
    const int cols = GDALGetRasterXSize(src), lines = GDALGetRasterYSize(src);
    GDALDriverH vrt = GDALGetDriverByName("VRT");
    GDALDatasetH view = vrt ? GDALCreate(vrt, name.c_str(), cols, lines, 0, GDT_Float64, nullptr) : nullptr;
    if (!view) return nullptr;
    double gt[6];
    if (GDALGetGeoTransform(src, gt) == CE_None) GDALSetGeoTransform(view, gt);
    GDALSetProjection(view, GDALGetProjectionRef(src));
    const std::string function = std::string("PixelFunctionType=") + kHalves[half];
    const std::string transfer = std::string("SourceTransferType=") + GDALGetDataTypeName(type);
    const char *options[] = {"subclass=VRTDerivedRasterBand", function.c_str(), transfer.c_str(), nullptr};
    if (GDALAddBand(view, GDT_Float64, const_cast<char **>(options)) != CE_None ||
        VRTAddSimpleSource(GDALGetRasterBand(view, 1), GDALGetRasterBand(src, 1), 0, 0, cols, lines, 0, 0, cols, lines,
                           "near", VRT_NODATA_UNSET) != CE_None) {
        GDALClose(view);
        return nullptr;
    }
    GDALFlushCache(view);  // written, so that the warper opens it by name
    return view;
}

// A name in memory for a view of this process no other takes.
std::string memory_name(const char *what) {
    static std::atomic<unsigned long> made{0};
    return "/vsimem/karvel_onto_" + std::to_string(++made) + "_" + what + ".vrt";
}

}  // namespace

Onto::~Onto() { close(); }

void Onto::close() {
    for (void *&d : warped_halves_) {
        if (d) GDALClose(d);
        d = nullptr;
    }
    for (void *&d : halves_) {
        if (d) GDALClose(d);
        d = nullptr;
    }
    if (warped_) GDALClose(warped_);
    if (band_view_) GDALClose(band_view_);
    if (source_) GDALClose(source_);
    warped_ = band_view_ = source_ = nullptr;
    for (const std::string &name : named_) VSIUnlink(name.c_str());
    named_.clear();
}

std::string Onto::open(const std::string &path, const std::string &shown, const Ground &target, int lines, int cols,
                       size_t held_bytes) {
    static std::once_flag registered;
    std::call_once(registered, GDALAllRegister);
    // GDAL's messages go into the refusals, not onto standard error.
    CPLPushErrorHandler(CPLQuietErrorHandler);
    const std::string p = prepare(path, shown, target, lines, cols, held_bytes);
    CPLPopErrorHandler();
    return p;
}

std::string Onto::prepare(const std::string &path, const std::string &shown, const Ground &target, int lines, int cols,
                          size_t held_bytes) {
    close();
    shown_ = shown;
    lines_ = lines, cols_ = cols;
    first_ = count_ = taken_ = 0;
    problem_.clear();
    const std::string name = "the raster " + shown;
    if (lines <= 0 || cols <= 0) return "the grid that " + name + " is to be brought onto has no cell";
    if (target.wkt.empty())
        return name + " cannot be brought onto the grid: the grid has no georeferencing (no coordinate system)";
    if (target.gt[2] != 0 || target.gt[4] != 0 || !(target.gt[1] > 0) || !(target.gt[5] < 0))
        return name + " cannot be brought onto the grid: the grid is not north up";
    CPLErrorReset();
    // Opened as a raster only, never waiting on a special file.
    VSIStatBufL st;
    if (VSIStatL(path.c_str(), &st) != 0) return name + " does not exist";
    if (VSI_ISDIR(st.st_mode) == 0 && !VSI_ISREG(st.st_mode)) return name + " is not a regular file";
    std::string refused;
    source_ = open_raster(path, nullptr, refused);
    if (!source_ && !refused.empty()) return name + " cannot be used: " + refused;
    if (!source_) return name + " is not a raster GDAL reads: " + gdal_problem();
    if (GDALGetRasterCount(source_) < 1) return name + " has no band";
    const GDALDataType type = GDALGetRasterDataType(GDALGetRasterBand(source_, 1));
    integer_ = is_integer_type(type);
    double gt[6];
    const char *wkt = GDALGetProjectionRef(source_);
    if (GDALGetGeoTransform(source_, gt) != CE_None) return name + " has no georeferencing (no geotransform)";
    if (!wkt || !*wkt) return name + " has no georeferencing (no coordinate system)";

    // The source's cells into the target's coordinates: GDAL says here when
    // the two systems cannot be transformed into each other.
    const std::string dst_option = "DST_SRS=" + target.wkt;
    const char *options[] = {dst_option.c_str(), nullptr};
    CPLErrorReset();
    void *transform = GDALCreateGenImgProjTransformer2(source_, nullptr, const_cast<char **>(options));
    if (!transform)
        return name +
               " cannot be brought onto the grid: its coordinate system cannot be transformed into the grid's (" +
               gdal_problem() + ")";
    std::string p = overlap_problem(source_, target, lines, cols, transform);
    GDALDestroyGenImgProjTransformer(transform);
    if (!p.empty()) return name + " cannot be brought onto the grid: " + p;

    // A view of band 1 alone (the warper resamples every band it is given),
    // warped onto the target's cells: nearest neighbour, cells without a
    // value not a number; integers as 64-bit ones (an alpha band tells the
    // cells without a value), so that every value comes through exact.
    CPLErrorReset();
    named_.push_back(memory_name("band"));
    band_view_ = one_band_view(source_, 1, named_.back());
    if (!band_view_) return "GDAL cannot take band 1 of " + name + ": " + gdal_problem();
    const WarpGrid grid{target.gt[0], target.gt[3], target.gt[1], target.gt[5], cols, lines, false};
    std::string problem;
    warped_ = warp_onto(band_view_, wkt, target.wkt, grid, "near", true, problem);
    if (!warped_) return "GDAL's warper cannot bring " + name + " onto the grid: " + problem;
    ints_.clear(), uints_.clear();
    unsigned_ = type == GDT_UInt64;
    if (type == GDT_Int64 || type == GDT_UInt64) {
        for (int half = 0; half < 2; half++) {
            CPLErrorReset();
            named_.push_back(memory_name(half ? "low" : "high"));
            halves_[half] = half_view(source_, type, half, named_.back());
            if (!halves_[half]) return "GDAL cannot take the 64-bit integers of " + name + ": " + gdal_problem();
            warped_halves_[half] = warp_onto(halves_[half], wkt, target.wkt, grid, "near", true, problem);
            if (!warped_halves_[half]) return "GDAL's warper cannot bring " + name + " onto the grid: " + problem;
        }
    }
    int bx = 0, by = 0;
    GDALGetBlockSize(GDALGetRasterBand(warped_, 1), &bx, &by);
    chunk_ = std::clamp(by, 1, lines);
    // A row of blocks read at once holds each cell's value and flag (and
    // its two halves for 64-bit integers): on a wide grid, blocks of fewer
    // lines keep it within its share.
    const size_t cell_bytes = sizeof(double) + 1 + (warped_halves_[0] ? 2 * sizeof(double) : 0);
    const int fit = int(std::clamp(held_bytes / (cell_bytes * size_t(cols)), size_t(1), size_t(chunk_)));
    if (fit < chunk_) {
        for (void **w : {&warped_, &warped_halves_[0], &warped_halves_[1]}) {
            if (!*w) continue;
            void *fewer = with_block_lines(*w, fit, problem);
            if (!fewer) return "GDAL's warper cannot bring " + name + " onto the grid: " + problem;
            GDALClose(*w);
            *w = fewer;
        }
        chunk_ = fit;
    }
    return "";
}

bool Onto::next(const double *&values, const unsigned char *&valid) {
    if (!warped_ || !problem_.empty()) return false;
    if (taken_ == count_) {
        // The next row of the warper's blocks, read whole: each block is
        // warped once.
        const int first = first_ + count_;
        if (first >= lines_) return false;
        const int count = std::min(chunk_, lines_ - first);
        CPLErrorReset();
        CPLPushErrorHandler(CPLQuietErrorHandler);
        const bool read = read_lines(first, count);
        CPLPopErrorHandler();
        if (!read) {
            problem_ = "GDAL could not read the raster " + shown_ + " brought onto the grid: " + gdal_problem();
            return false;
        }
        first_ = first, count_ = count, taken_ = 0;
    }
    const size_t at = size_t(taken_) * size_t(cols_);
    values = values_.data() + at;
    valid = valid_.data() + at;
    if (integer_) take_integers(at);
    taken_++;
    return true;
}

// The exact integers of the line at `at` of those held.
void Onto::take_integers(size_t at) {
    const size_t n = size_t(cols_);
    const double *v = values_.data() + at;
    const unsigned char *ok = valid_.data() + at;
    if (unsigned_) {
        uints_.resize(n);
        for (size_t j = 0; j < n; j++) uints_[j] = ok[j] ? uint64_t(high_[at + j]) << 32 | uint64_t(low_[at + j]) : 0;
        return;
    }
    ints_.resize(n);
    if (warped_halves_[0]) {
        for (size_t j = 0; j < n; j++)
            ints_[j] = ok[j] ? int64_t(uint64_t(high_[at + j]) << 32 | uint64_t(low_[at + j])) : 0;
    } else {  // integers of at most 32 bits: the doubles hold them exactly
        for (size_t j = 0; j < n; j++) ints_[j] = ok[j] ? int64_t(v[j]) : 0;
    }
}

// Lines first .. first + count - 1 of the warped band: its values, whether
// each cell has one and, for 64-bit integers, their two halves.
bool Onto::read_lines(int first, int count) {
    const size_t cells = size_t(count) * size_t(cols_);
    values_.resize(cells);
    valid_.resize(cells);
    auto read = [&](void *ds, double *out) {
        return GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Read, 0, first, cols_, count, out, cols_, count, GDT_Float64,
                            0, 0) == CE_None;
    };
    if (!read(warped_, values_.data())) return false;
    for (size_t k = 0; k < cells; k++) valid_[k] = !std::isnan(values_[k]);
    if (!warped_halves_[0]) return true;
    high_.resize(cells);
    low_.resize(cells);
    return read(warped_halves_[0], high_.data()) && read(warped_halves_[1], low_.data());
}
