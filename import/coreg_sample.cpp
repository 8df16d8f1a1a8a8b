#include "coreg_sample.h"

#include <cpl_error.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "gdal_open.h"
#include "gdal_problem.h"
#include "onto.h"
#include "progress.h"
#include "robust.h"
#include "terrain.h"

namespace {

// The fit takes at most about this many cells, a regular subsample.
constexpr double kMaxFitCells = 2e6;

}  // namespace

std::string read_first(const Source &a, double mm, const Ground &ground, Sample &s) {
    const double cells = double(a.lines) * double(a.cols);
    s.step = std::max(1, int(std::ceil(std::sqrt(cells / kMaxFitCells))));
    s.off = (s.step - 1) / 2;
    s.lines = (a.lines - s.off - 1) / s.step + 1;
    s.cols = (a.cols - s.off - 1) / s.step + 1;
    const size_t n = size_t(s.lines) * size_t(s.cols);
    s.z.assign(n, NAN);
    s.slope.assign(n, NAN);
    s.aspect.assign(n, NAN);
    s.stable.assign(n, 1);
    const WarpGrid g = s.grid(a, 0, 0);
    const double gt[6] = {g.x0, g.dx, 0, g.y0, 0, g.dy};
    std::copy(gt, gt + 6, s.gt);

    Terrain terrain(ground, a.lines, a.cols, true, s.step, s.off);
    std::vector<double> raw(size_t(a.cols));
    std::vector<uint8_t> mask(size_t(a.cols), 1);
    std::vector<float> metres(size_t(a.cols));
    GDALRasterBandH mask_band = a.use_mask ? GDALGetMaskBand(a.band) : nullptr;
    const bool progress = cells > 1e6;
    TextProgress shown;
    if (progress) std::fputs("Slope and aspect of FIRST\n", stderr);
    for (int i = 0; i < a.lines; i++) {
        CPLErrorReset();
        if (read_grid_line(a, a.band, i, 0, a.cols, raw.data(), GDT_Float64) != CE_None ||
            (mask_band && read_grid_line(a, mask_band, i, 0, a.cols, mask.data(), GDT_Byte) != CE_None))
            return "FIRST cannot be read at line " + std::to_string(i) + ": " + gdal_problem();
        for (int j = 0; j < a.cols; j++)
            metres[size_t(j)] = is_nodata_value(a, raw[size_t(j)]) || !mask[size_t(j)]
                                    ? NAN
                                    : float((raw[size_t(j)] * a.scale + a.offset) * mm / 1000.0);
        if (i % s.step == s.off && (i - s.off) / s.step < s.lines) {
            float *row = s.z.data() + size_t((i - s.off) / s.step) * size_t(s.cols);
            for (int q = 0; q < s.cols; q++) row[q] = metres[size_t(s.off + q * s.step)];
        }
        if (!terrain.push(metres.data())) return "GDAL cannot compute FIRST's slope: " + terrain.problem();
        int line;
        const float *slope, *aspect;
        while (terrain.next(line, slope, aspect)) {
            if (line % s.step != s.off) continue;
            const size_t at = size_t((line - s.off) / s.step) * size_t(s.cols);
            for (int q = 0; q < s.cols; q++) {
                s.slope[at + size_t(q)] = slope[s.off + q * s.step];
                s.aspect[at + size_t(q)] = aspect[s.off + q * s.step];
            }
        }
        if (!terrain.problem().empty()) return "GDAL cannot compute FIRST's slope: " + terrain.problem();
        if (progress) {
            const std::string t = progress_text(shown, double(i + 1) / a.lines);
            std::fputs(t.c_str(), stderr);
        }
    }
    return "";
}

// A mask in another coordinate system is refused rather than transformed:
// stable ground is drawn on FIRST's map.
std::string read_stable(const std::string &path, const Source &a, Sample &s) {
    const std::string name = "the stable mask " + path;
    std::string problem;
    GDALDatasetH ds = open_raster(path, nullptr, problem);
    if (!ds && !problem.empty()) return name + " cannot be used: " + problem;
    if (ds) {
        OGRSpatialReferenceH srs = GDALGetSpatialRef(ds);
        OGRSpatialReferenceH first = a.wkt.empty() ? nullptr : OSRNewSpatialReference(a.wkt.c_str());
        const bool same = srs && first && OSRIsSame(srs, first);
        const std::string other = srs && OSRGetName(srs) ? OSRGetName(srs) : "none";
        if (first) OSRDestroySpatialReference(first);
        GDALClose(ds);
        if (!srs)
            return name + " cannot be used: it has no georeferencing (no coordinate system), so where it lies on " +
                   "FIRST is unknown; give it FIRST's coordinate system and place (gdal_edit.py -a_srs ... -a_ullr ...)";
        if (!same)
            return name + " cannot be used: it lies in another coordinate system than FIRST (" + other +
                   "); warp it into FIRST's coordinate system first (gdalwarp -t_srs ... -r near)";
    }
    Onto mask;
    problem = mask.open(path, path, ground_of(a.gt, a.wkt), a.lines, a.cols);
    if (!problem.empty()) return name + " cannot be used: " + problem;
    long long stable = 0;
    for (int i = 0; i < a.lines; i++) {
        const double *values;
        const unsigned char *valid;
        if (!mask.next(values, valid)) return name + " cannot be read: " + mask.problem();
        if (i % s.step != s.off || (i - s.off) / s.step >= s.lines) continue;
        uint8_t *row = s.stable.data() + size_t((i - s.off) / s.step) * size_t(s.cols);
        for (int q = 0; q < s.cols; q++) {
            const size_t j = size_t(s.off + q * s.step);
            row[q] = valid[j] && values[j] != 0;
            stable += row[q];
        }
    }
    if (stable == 0) return name + " cannot be used: it marks no cell of FIRST as stable (all are 0 or without data)";
    return "";
}

std::string differences(const Source &a, const Source &b, double mm, const Sample &s, const std::string &method,
                        double sx, double sy, std::vector<double> &dh) {
    std::string problem;
    GDALDatasetH w = warp_onto(b.band_ds, b.wkt, a.wkt, s.grid(a, sx, sy), method, false, problem);
    if (!w) return problem;
    dh.resize(s.size());
    if (GDALRasterIO(GDALGetRasterBand(w, 1), GF_Read, 0, 0, s.cols, s.lines, dh.data(), s.cols, s.lines, GDT_Float64,
                     0, 0) != CE_None)
        problem = "GDAL's warper cannot resample SECOND: " + gdal_problem();
    GDALClose(w);
    for (size_t k = 0; k < dh.size(); k++) dh[k] = (dh[k] * b.scale + b.offset) * mm / 1000.0 - double(s.z[k]);
    return problem;
}

Fitting fitting_cells(const Sample &s, const std::vector<double> &dh) {
    return fitting_cells(s.size(), s.slope.data(), s.aspect.data(), s.stable.data(), dh);
}

Agreement agreement(const Sample &s, const std::vector<double> &before, const std::vector<double> &after) {
    return agreement(s.size(), s.stable.data(), before, after);
}

bool fit_tilt(const Sample &s, const Fitting &f, const std::vector<double> &dh, Surface &t) {
    SurfaceFit fit(t.order);
    for (uint32_t k : f.cells) {
        double x, y;
        t.km_at(s.gt, k / uint32_t(s.cols), k % uint32_t(s.cols), x, y);
        fit.add(x, y, dh[k]);
    }
    return fit.solve(t);
}

void remove_tilt(const Sample &s, const Surface &t, std::vector<double> &dh) {
    std::vector<double> row(size_t(s.cols));
    for (int i = 0; i < s.lines; i++) {
        t.tilt_of_line(s.gt, i, 0, s.cols, 1.0, row.data());
        double *d = dh.data() + size_t(i) * size_t(s.cols);
        for (int q = 0; q < s.cols; q++) d[q] -= row[size_t(q)];
    }
}

double plane_share(const Sample &s, const Fitting &f, const std::vector<double> &dh, const Surface &t) {
    Surface plane = t;
    plane.order = 1;
    if (f.cells.empty() || !fit_tilt(s, f, dh, plane)) return 0;
    double mean = 0;
    for (uint32_t k : f.cells) mean += dh[k];
    mean /= double(f.cells.size());
    double total = 0, left = 0;
    for (uint32_t k : f.cells) {
        double x, y;
        plane.km_at(s.gt, k / uint32_t(s.cols), k % uint32_t(s.cols), x, y);
        const double e = dh[k] - plane.c[0] - plane.tilt(x, y);
        total += (dh[k] - mean) * (dh[k] - mean);
        left += e * e;
    }
    return total > 0 ? 1 - left / total : 0;
}
