#include "maps.h"

#include "gdal_open.h"
#include "gdal_problem.h"
#include "ground.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>
#include <gdal_utils.h>
#include <ogr_srs_api.h>

#include "dispatch.h"
#include "paths.h"


Georef georef_of(const std::string &raw_real_path, const std::string &raw_shown, int lines, int cols,
                 std::string &note) {
    Georef g;
    if (raw_real_path.size() < 4 || raw_shown.size() < 4) return g;
    const std::string hdr_real = header_name(raw_real_path);
    const std::string hdr = header_name(raw_shown);
    struct stat st;
    if (stat(hdr_real.c_str(), &st) != 0) {
        note = "no header " + hdr + " beside the raster: the maps are not georeferenced";
        return g;
    }
    if (!S_ISREG(st.st_mode)) {
        note = "the header " + hdr + " is not a regular file: it is not read";
        return g;
    }
    gdal_ready();
    const char *const drivers[] = {"ENVI", nullptr};
    std::string refused;
    GDALDatasetH ds = open_raster(raw_real_path, drivers, refused);
    if (!ds) {
        note = "GDAL cannot read the header " + hdr + " (" + (refused.empty() ? gdal_problem() : refused) +
               "): the maps are not georeferenced";
        return g;
    }
    if (GDALGetRasterXSize(ds) != cols || GDALGetRasterYSize(ds) != lines) {
        note = "the header " + hdr + " describes another size: it is not used";
    } else if (GDALGetGeoTransform(ds, g.transform) == CE_None) {
        g.known = true;
        const char *wkt = GDALGetProjectionRef(ds);
        g.wkt = wkt ? wkt : "";
    } else {
        note = "the header " + hdr + " gives no georeferencing";
    }
    GDALClose(ds);
    return g;
}

BlockMeans::BlockMeans(int lines, int cols, int max_side) : lines_(lines), cols_(cols) {
    const int side = std::max(lines, cols);
    f_ = std::max(1, (side + max_side - 1) / max_side);
    w_ = (cols + f_ - 1) / f_;
    h_ = (lines + f_ - 1) / f_;
    sum_.assign(size_t(w_) * h_, 0.0);
    lines_in_.assign(size_t(h_), 0);
    column_.assign(size_t(cols), 0.0);
}

[[KARVEL_VECTOR_CLONES]] void BlockMeans::add_line(int i, const double *values, const unsigned char *keep) {
    // Each column summed down the lines of its line of cells (a loop the
    // compiler makes vector code of); the columns go into their cells when
    // a line of cells is complete, or a line of another one comes.
    const int cell_line = i / f_;
    if (cell_line != pending_) flush();
    pending_ = cell_line;
    double *__restrict acc = column_.data();
    if (keep == nullptr) {
        for (int j = 0; j < cols_; j++) acc[j] += values[j];
    } else {
        if (kept_.empty()) {
            kept_.assign(sum_.size(), 0);
            column_kept_.assign(size_t(cols_), 0);
        }
        int *__restrict n = column_kept_.data();
        for (int j = 0; j < cols_; j++) {
            acc[j] += keep[j] ? values[j] : 0.0;
            n[j] += keep[j];
        }
    }
    lines_in_[size_t(cell_line)]++;
}

void BlockMeans::flush() {
    if (pending_ < 0) return;
    double *row = &sum_[size_t(pending_) * w_];
    for (int c = 0, j = 0; c < w_; c++) {
        const int end = std::min(cols_, j + f_);
        double acc = row[c];
        for (; j < end; j++) acc += column_[size_t(j)];
        row[c] = acc;
    }
    std::fill(column_.begin(), column_.end(), 0.0);
    if (!kept_.empty()) {
        int *kept = &kept_[size_t(pending_) * w_];
        for (int j = 0; j < cols_; j++) kept[j / f_] += column_kept_[size_t(j)];
        std::fill(column_kept_.begin(), column_kept_.end(), 0);
    }
    pending_ = -1;
}

std::vector<float> BlockMeans::means() {
    flush();
    // A cell holds its lines added times its columns (fewer at the edges).
    std::vector<float> m(sum_.size());
    for (size_t k = 0; k < m.size(); k++) {
        const int cell_col = int(k % size_t(w_));
        const int count = !kept_.empty() ? kept_[k]
                                         : lines_in_[k / size_t(w_)] * (std::min(cols_, (cell_col + 1) * f_) - cell_col * f_);
        m[k] = count ? float(sum_[k] / count) : NAN;
    }
    return m;
}

MapGrid map_grid(const Georef &g, int lines) {
    MapGrid m;
    const double *t = g.transform;
    if (!g.known || t[2] != 0 || t[4] != 0 || !(t[1] != 0) || !(t[5] != 0) || !std::isfinite(t[0]) ||
        !std::isfinite(t[3]))
        return m;
    m.known = true;
    m.x0 = t[0], m.y0 = t[3], m.dx = t[1], m.dy = t[5];
    if (g.wkt.empty()) return m;  // units unknown: taken as metres
    OGRSpatialReferenceH srs = OSRNewSpatialReference(g.wkt.c_str());
    if (!srs) return m;
    char *name = nullptr;  // the unit's, held by the coordinate system
    if (OSRIsGeographic(srs)) {
        m.geographic = true;
        const double radians = OSRGetAngularUnits(srs, &name);  // per unit of the axes
        m.unit = name && std::strcmp(name, "degree") != 0 ? name : "degrees";
        OGRErr err = OGRERR_NONE;
        const double a = OSRGetSemiMajor(srs, &err), inv_f = OSRGetInvFlattening(srs, &err);
        // The radii of curvature along the parallel and the meridian at the
        // centre latitude.
        metres_per_radian(a, inv_f, (m.y0 + m.dy * lines / 2.0) * radians, m.east_m, m.north_m);
        m.east_m *= radians;
        m.north_m *= radians;
        if (!(m.east_m > 0) || !(m.north_m > 0)) m.east_m = m.north_m = 1;  // a pole, or no ellipsoid
    } else {
        const double metres = OSRGetLinearUnits(srs, &name);
        if (metres > 0) m.east_m = m.north_m = metres;
        m.unit = metres == 1.0 ? "m" : name ? name : "";
    }
    OSRDestroySpatialReference(srs);
    return m;
}

std::string hillshade(const std::vector<float> &dem, int lines, int cols, double width, double height,
                      std::vector<uint8_t> &shade) {
    gdal_ready();
    CPLErrorReset();
    GDALDriverH mem = GDALGetDriverByName("MEM");
    if (!mem) return "GDAL has no in-memory driver";
    GDALDatasetH src = GDALCreate(mem, "", cols, lines, 1, GDT_Float32, nullptr);
    if (!src) return gdal_problem();
    double gt[6] = {0, width, 0, 0, 0, -height};
    GDALSetGeoTransform(src, gt);
    GDALRasterBandH band = GDALGetRasterBand(src, 1);
    GDALSetRasterNoDataValue(band, NAN);
    if (GDALRasterIO(band, GF_Write, 0, 0, cols, lines, const_cast<float *>(dem.data()), cols, lines, GDT_Float32, 0,
                     0) != CE_None) {
        GDALClose(src);
        return gdal_problem();
    }
    const char *args[] = {"-of", "MEM", "-compute_edges", "-multidirectional", nullptr};
    GDALDEMProcessingOptions *opt = GDALDEMProcessingOptionsNew(const_cast<char **>(args), nullptr);
    int usage_error = 0;
    GDALDatasetH out = GDALDEMProcessing("", src, "hillshade", nullptr, opt, &usage_error);
    GDALDEMProcessingOptionsFree(opt);
    std::string problem;
    if (!out) {
        problem = gdal_problem();
    } else {
        shade.assign(size_t(cols) * lines, 0);
        if (GDALRasterIO(GDALGetRasterBand(out, 1), GF_Read, 0, 0, cols, lines, shade.data(), cols, lines, GDT_Byte, 0,
                         0) != CE_None)
            problem = gdal_problem();
        GDALClose(out);
    }
    GDALClose(src);
    return problem;
}

std::string map_cells(const Georef &geo, double pixel_size, BlockMeans *first, BlockMeans &values, MapCells &m) {
    m.lines = values.lines();
    m.cols = values.cols();
    m.factor = values.factor();
    m.grid = map_grid(geo, values.raster_lines());
    if (first) {
        const MapGrid &g = m.grid;
        const double side = pixel_size > 0 ? pixel_size : 1.0;
        const double width = g.known ? std::fabs(g.dx) * g.east_m : side;
        const double height = g.known ? std::fabs(g.dy) * g.north_m : side;
        const std::string p = hillshade(first->means(), m.lines, m.cols, width * m.factor, height * m.factor, m.shade);
        if (!p.empty()) return p;
    }
    m.values = values.means();
    return "";
}

std::string map_figures(const Georef &geo, double pixel_size, BlockMeans *first, BlockMeans &diff,
                        BlockMeans &resid, const std::string &unit, const MapOutlines *outlines,
                        std::vector<Figure> &figures) {
    MapCells m;
    const std::string p = map_cells(geo, pixel_size, first, diff, m);
    if (!p.empty()) return p;
    m.outlines = outlines;
    figures.push_back(map_figure("diff_map", "second - first", m, unit));
    m.values = resid.means();
    figures.push_back(map_figure("resid_map", "second - (B0 + B1 x first)", m, unit));
    return "";
}
