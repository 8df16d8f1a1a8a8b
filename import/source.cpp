#include "source.h"

#include "crs.h"
#include "gdal_open.h"
#include "gdal_problem.h"
#include "ground.h"
#include "warp.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal_alg.h>
#include <gdal_utils.h>
#include <ogr_srs_api.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

std::string number(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    return buf;
}

// The coordinate system srs (null: none), as WKT1, with the figures the
// cell size needs.
void take_srs(OGRSpatialReferenceH srs, Source &s) {
    s.wkt.clear();
    s.geographic = false;
    if (srs == nullptr) return;
    char *wkt = nullptr;
    if (OSRExportToWkt(srs, &wkt) == OGRERR_NONE && wkt != nullptr) s.wkt = wkt;
    CPLFree(wkt);
    s.geographic = OSRIsGeographic(srs) != 0;
    if (s.geographic) {
        OGRErr err = OGRERR_NONE;
        s.semi_major = OSRGetSemiMajor(srs, &err);
        s.inv_flattening = OSRGetInvFlattening(srs, &err);
    } else if (OSRIsProjected(srs)) {
        s.linear_unit = OSRGetLinearUnits(srs, nullptr);
    }
}

// The coordinate system of s.ds, or the one assigned (any definition GDAL
// takes) when given. Empty, or why the one assigned cannot be.
std::string read_srs(const std::string &assigned, Source &s) {
    if (assigned.empty()) {
        take_srs(GDALGetSpatialRef(s.ds), s);
        return "";
    }
    std::string wkt;
    const std::string problem = srs_wkt(assigned, wkt);
    if (!problem.empty()) return "its coordinate system cannot be assigned: " + problem;
    OGRSpatialReferenceH srs = OSRNewSpatialReference(wkt.c_str());
    take_srs(srs, s);
    OSRDestroySpatialReference(srs);
    s.srs_assigned = true;
    return "";
}

// The unit that s.band declares, and the one its values are read in: the
// one assigned, when given.
void read_unit(const std::string &assigned, Source &s) {
    const char *unit = GDALGetRasterUnitType(s.band);
    s.declared_unit = unit != nullptr ? unit : "";
    s.unit_assigned = !assigned.empty();
    s.unit_type = s.unit_assigned ? assigned : s.declared_unit;
}

// The most lines of the band_ds band that the warper reads for one row of
// the blocks of the warped band, estimated by taking points of each row of
// blocks (33 columns on its first, middle and last line) back onto the
// source grid, with the reach of the resampling kernel beyond them. Zero
// when no point can be taken back.
int warp_source_lines(const Source &b, const std::string &method) {
    void *transform = GDALCreateGenImgProjTransformer2(b.band_ds, b.warped, nullptr);
    if (transform == nullptr) return 0;
    int bx = 0, by = 0;
    GDALGetBlockSize(GDALGetRasterBand(b.warped, 1), &bx, &by);
    const int lines = GDALGetRasterYSize(b.warped), cols = GDALGetRasterXSize(b.warped);
    by = std::max(1, std::min(by, lines));
    // Source cells that the resampling kernel reaches on each side of a
    // point, when the source's cells are no smaller than the resampled ones.
    const double reach = method == "near" ? 1 : method == "bilinear" ? 2 : method == "lanczos" ? 4 : 3;
    constexpr int kAcross = 33;
    double most = 0;
    for (int top = 0; top < lines; top += by) {
        const int bottom = std::min(lines, top + by);
        double x[3 * kAcross], y[3 * kAcross], z[3 * kAcross] = {};
        int ok[3 * kAcross];
        for (int k = 0; k < 3; k++)
            for (int j = 0; j < kAcross; j++) {
                x[k * kAcross + j] = double(cols) * j / (kAcross - 1);
                y[k * kAcross + j] = k == 0 ? top : k == 1 ? (top + bottom) / 2.0 : bottom;
            }
        GDALGenImgProjTransform(transform, TRUE, 3 * kAcross, x, y, z, ok);
        double lo = HUGE_VAL, hi = -HUGE_VAL;
        for (int i = 0; i < 3 * kAcross; i++)
            if (ok[i] && std::isfinite(y[i])) {
                lo = std::min(lo, y[i]);
                hi = std::max(hi, y[i]);
            }
        if (lo > hi) continue;
        // A source cell per resampled line or more: the kernel widens with it.
        const double per_line = std::max(1.0, (hi - lo) / (bottom - top));
        most = std::max(most, hi - lo + 2 * reach * per_line);
    }
    GDALDestroyGenImgProjTransformer(transform);
    const double source_lines = GDALGetRasterYSize(b.band_ds);
    return int(std::ceil(std::min(most, source_lines)));
}

}  // namespace

std::string srs_wkt(const std::string &definition, std::string &wkt) {
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    CPLErrorReset();
    char *text = nullptr;
    std::string problem;
    if (OSRSetFromUserInput(srs, definition.c_str()) != OGRERR_NONE)
        problem = gdal_problem("GDAL takes no coordinate system from it");
    else if (OSRExportToWkt(srs, &text) != OGRERR_NONE || text == nullptr)
        problem = gdal_problem("it has no WKT form");
    else
        wkt = text;
    CPLFree(text);
    OSRDestroySpatialReference(srs);
    return problem;
}

std::string open_source(const std::string &arg, int band, Source &s, const Assigned &assigned) {
    s = Source{};
    s.arg = arg;
    // A path that exists must be a file or a folder: a pipe or a device
    // would block the reader or be consumed by it.
    struct stat st;
    const bool exists = stat(arg.c_str(), &st) == 0;
    const int stat_err = errno;
    if (exists && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return "it is not a regular file";
    std::string refused;
    s.ds = open_raster(arg, nullptr, refused);
    if (!refused.empty()) return refused;
    // GDAL opens more than files (/vsizip/..., NETCDF:...): a name that is
    // no file is said not to exist only when GDAL cannot open it either.
    if (s.ds == nullptr && !exists && stat_err == ENOENT) return "it does not exist";
    if (s.ds == nullptr) return "GDAL cannot open it: " + gdal_problem("not a raster GDAL reads");
    const int bands = GDALGetRasterCount(s.ds);
    if (bands < 1) return "it holds no raster band";
    if (band > bands)
        return "it has " + std::to_string(bands) + " band" + (bands == 1 ? "" : "s") + ", so there is no band " +
               std::to_string(band);
    s.band = GDALGetRasterBand(s.ds, band);
    s.type = GDALGetRasterDataType(s.band);
    if (GDALDataTypeIsComplex(s.type)) return "its samples are complex numbers";
    const char *pixel_type = GDALGetMetadataItem(s.band, "PIXELTYPE", "IMAGE_STRUCTURE");
    s.signed_byte = s.type == GDT_Byte && pixel_type != nullptr && std::strcmp(pixel_type, "SIGNEDBYTE") == 0;
    int ok = 0;
    double v = GDALGetRasterScale(s.band, &ok);
    s.scale = ok ? v : 1.0;
    v = GDALGetRasterOffset(s.band, &ok);
    s.offset = ok ? v : 0.0;
    if (!std::isfinite(s.scale) || !std::isfinite(s.offset) || s.scale == 0)
        return "its band has the scale " + number(s.scale) + " and the offset " + number(s.offset);
    v = GDALGetRasterNoDataValue(s.band, &ok);
    s.has_nodata = ok != 0;
    s.nodata = v;
    const int flags = GDALGetMaskFlags(s.band);
    s.use_mask = !(flags & GMF_ALL_VALID) && !(flags & GMF_NODATA);
    read_unit(assigned.z_unit, s);
    s.lines = GDALGetRasterYSize(s.ds);
    s.cols = GDALGetRasterXSize(s.ds);
    s.has_grid = GDALGetGeoTransform(s.ds, s.gt) == CE_None;
    if (!s.has_grid) {
        const double identity[6] = {0, 1, 0, 0, 0, 1};
        std::memcpy(s.gt, identity, sizeof identity);
    }
    const std::string problem = read_srs(assigned.srs, s);
    if (!problem.empty()) return problem;
    if (s.has_grid && s.gt[2] == 0 && s.gt[4] == 0) {
        if (s.gt[5] > 0) {
            s.gt[3] += s.gt[5] * s.lines;
            s.gt[5] = -s.gt[5];
            s.flip_lines = true;
        }
        if (s.gt[1] < 0) {
            s.gt[0] += s.gt[1] * s.cols;
            s.gt[1] = -s.gt[1];
            s.flip_cols = true;
        }
    }
    if (s.has_grid && s.geographic) {
        // A geographic grid lies between the poles; one beyond them is not
        // in degrees of latitude, whatever its coordinate system says.
        const double top = s.gt[3], bottom = s.gt[3] + s.gt[5] * s.lines + s.gt[4] * s.cols;
        const double extreme = std::max(std::fabs(top), std::fabs(bottom));
        if (extreme > 90.0 + 1e-9)
            return "its grid is geographic but reaches latitude " + number(std::fabs(top) > std::fabs(bottom) ? top : bottom) +
                   "°, beyond the poles";
    }
    return "";
}

void close_source(Source &s) {
    if (s.warped != nullptr) GDALClose(s.warped);
    if (s.band_ds != nullptr) GDALClose(s.band_ds);
    if (s.ds != nullptr) GDALClose(s.ds);
    s.warped = s.band_ds = s.ds = nullptr;
    s.band = nullptr;
}

bool is_image(const Source &s) {
    return s.type == GDT_Byte && !s.signed_byte && s.scale == 1 && s.offset == 0 && s.unit_type.empty();
}

std::string grid_difference(const Source &a, const Source &b) {
    if (a.lines != b.lines || a.cols != b.cols)
        return "the first has " + std::to_string(a.lines) + " lines and " + std::to_string(a.cols) +
               " columns, the second " + std::to_string(b.lines) + " lines and " + std::to_string(b.cols) + " columns";
    if (a.has_grid != b.has_grid)
        return std::string(a.has_grid ? "the first" : "the second") + " is georeferenced, the " +
               (a.has_grid ? "second" : "first") + " is not";
    // Origins and cell sizes agree within a millionth of a cell.
    const double cell = std::max(std::hypot(a.gt[1], a.gt[4]), std::hypot(a.gt[2], a.gt[5]));
    const double tolerance = 1e-6 * cell;
    static const char *const kTerms[6] = {"origin x", "cell width", "row rotation", "origin y", "column rotation",
                                          "cell height"};
    for (int k = 0; k < 6; k++) {
        if (!(std::fabs(a.gt[k] - b.gt[k]) <= tolerance))
            return "their grids differ in " + std::string(kTerms[k]) + ": " + number(a.gt[k]) + " in the first, " +
                   number(b.gt[k]) + " in the second";
    }
    if (a.wkt.empty() != b.wkt.empty())
        return std::string(a.wkt.empty() ? "the second" : "the first") + " has a coordinate system, the " +
               (a.wkt.empty() ? "first" : "second") + " has none";
    if (!a.wkt.empty() && !same_srs(a.wkt, b.wkt))
        return "their coordinate systems differ: " + srs_name(a.wkt) + " in the first, " + srs_name(b.wkt) +
               " in the second";
    return "";
}

std::string band_view(Source &b) {
    if (b.band_ds != nullptr) return "";
    CPLErrorReset();
    b.band_ds = one_band_view(b.ds, GDALGetBandNumber(b.band));
    if (b.band_ds == nullptr) return "GDAL cannot take its band: " + gdal_problem("unknown error");
    if (b.srs_assigned) {
        // The view, not the file, takes the coordinate system assigned.
        OGRSpatialReferenceH srs = OSRNewSpatialReference(b.wkt.c_str());
        OSRSetAxisMappingStrategy(srs, OAMS_TRADITIONAL_GIS_ORDER);
        GDALSetSpatialRef(b.band_ds, srs);
        OSRDestroySpatialReference(srs);
    }
    return "";
}

CPLErr read_grid_line(const Source &s, GDALRasterBandH band, int line, int col0, int cols, void *out,
                      GDALDataType type) {
    const int size = GDALGetDataTypeSizeBytes(type);
    const int from_line = s.flip_lines ? s.lines - 1 - line : line;
    const int from_col = s.flip_cols ? s.cols - col0 - cols : col0;
    const CPLErr err = GDALRasterIO(band, GF_Read, from_col, from_line, cols, 1, out, cols, 1, type, 0, 0);
    if (err != CE_None || !s.flip_cols) return err;
    // Columns east to west: the samples put back west to east.
    char *p = static_cast<char *>(out);
    for (int j = 0, k = cols - 1; j < k; j++, k--)
        std::swap_ranges(p + size_t(j) * size_t(size), p + size_t(j + 1) * size_t(size), p + size_t(k) * size_t(size));
    return CE_None;
}

WarpGrid grid_of(const Source &a) {
    return WarpGrid{a.gt[0], a.gt[3], a.gt[1], a.gt[5], a.cols, a.lines, false};
}

std::string align_source(Source &b, const Source &a, const std::string &method, double shift_x, double shift_y) {
    if (a.gt[2] != 0 || a.gt[4] != 0) return "the first input's grid is rotated, which the alignment cannot follow";
    if (!a.has_grid || !b.has_grid) return "both inputs need a georeferenced grid to be aligned";
    std::string problem = band_view(b);
    if (!problem.empty()) return problem;
    // Moving b by (shift_x, shift_y) gives each cell of a's grid the value
    // of b at its centre less the shift.
    WarpGrid t = grid_of(a);
    t.x0 -= shift_x;
    t.y0 -= shift_y;
    b.warped = warp_onto(b.band_ds, b.wkt, a.wkt, t, method, true, problem);
    if (b.warped == nullptr) return problem;
    b.band = GDALGetRasterBand(b.warped, 1);
    b.flip_lines = b.flip_cols = false;  // the warped band lies on a's grid, north-up
    // The warper works on the stored samples; scale, offset and unit stay
    // those of the original band. Cells without data are now NaN.
    b.has_nodata = false;
    b.use_mask = false;
    b.lines = a.lines;
    b.cols = a.cols;
    b.has_grid = a.has_grid;
    std::memcpy(b.gt, a.gt, sizeof b.gt);
    b.wkt = a.wkt;
    b.geographic = a.geographic;
    b.semi_major = a.semi_major;
    b.inv_flattening = a.inv_flattening;
    b.linear_unit = a.linear_unit;
    b.aligned = true;
    b.warp_source_lines = warp_source_lines(b, method);
    return "";
}

bool ground_cell_metres(const Source &s, const double gt[6], int lines, int cols, double &width, double &height) {
    if (!s.has_grid) return false;
    width = std::hypot(gt[1], gt[4]);
    height = std::hypot(gt[2], gt[5]);
    if (s.geographic && s.semi_major > 0) {
        // Metres per degree east and north on the ellipsoid at the centre latitude.
        const double degree = 3.14159265358979323846 / 180.0;
        double east = 0, north = 0;
        metres_per_radian(s.semi_major, s.inv_flattening, (gt[3] + gt[4] * cols / 2.0 + gt[5] * lines / 2.0) * degree,
                          east, north);
        width *= east * degree;
        height *= north * degree;
    } else {
        width *= s.linear_unit;
        height *= s.linear_unit;
    }
    return true;
}

int ground_cell_size(const Source &s, const double gt[6], int lines, int cols) {
    double width = 0, height = 0;
    if (!ground_cell_metres(s, gt, lines, cols, width, height)) return 1;
    const double side = std::round(std::sqrt(width * height));
    if (!(side >= 1)) return 1;
    return side > INT_MAX ? INT_MAX : int(side);
}
