#include "coregister.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "gdal_open.h"
#include "gdal_problem.h"
#include "ground.h"
#include "json.h"
#include "numfmt.h"
#include "onto.h"
#include "progress.h"
#include "robust.h"
#include "terrain.h"

namespace {

// The fit takes at most about this many cells, a regular subsample.
constexpr double kMaxFitCells = 2e6;
// Cells flatter than this carry no shift; steeper ones are cliffs and
// edges, where both surveys rarely agree.
constexpr double kFlatDeg = 3, kSteepDeg = 75;
// Beyond this many NMADs from the median, a difference is an outlier.
constexpr double kOutlierNmads = 4;
constexpr long long kMinCells = 100;
constexpr int kMaxIterations = 10;
constexpr double kPi = 3.14159265358979323846;
constexpr long long kCacheBytes = 64LL << 20;

// The regular subsample of FIRST that the fit uses: every step-th cell
// from the offset on, in both directions, with FIRST's elevation, slope and
// aspect there and whether it is stable ground.
struct Sample {
    int step = 1, off = 0, lines = 0, cols = 0;
    std::vector<float> z, slope, aspect;
    std::vector<uint8_t> stable;
    size_t size() const { return z.size(); }
    // The subsample's cells as a grid of a's coordinates, moved by (sx, sy).
    WarpGrid grid(const Source &a, double sx, double sy) const {
        const double c = off + 0.5 - 0.5 * step;
        return WarpGrid{a.gt[0] + c * a.gt[1] - sx, a.gt[3] + c * a.gt[5] - sy, step * a.gt[1], step * a.gt[5],
                        cols, lines, true};
    }
};

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
        if (GDALRasterIO(a.band, GF_Read, 0, i, a.cols, 1, raw.data(), a.cols, 1, GDT_Float64, 0, 0) != CE_None ||
            (mask_band &&
             GDALRasterIO(mask_band, GF_Read, 0, i, a.cols, 1, mask.data(), a.cols, 1, GDT_Byte, 0, 0) != CE_None))
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

// The stable cells of the subsample: where MASK, brought onto FIRST's grid
// by nearest neighbour, is non-zero. A mask in another coordinate system is
// refused rather than transformed: stable ground is drawn on FIRST's map.
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

// dh = SECOND − FIRST at each cell of the subsample, SECOND moved by
// (sx, sy) in FIRST's coordinates.
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

// The cells that the fit takes at one position of SECOND, with the median
// and NMAD of their differences. Indices of 4 bytes: the subsample holds at
// most a few million cells.
struct Fitting {
    std::vector<uint32_t> cells;
    double median = 0, nmad = 0;
    long long sloped = 0;  // cells with data in both, stable, neither flat nor near-vertical
};

Fitting fitting_cells(const Sample &s, const std::vector<double> &dh) {
    Fitting f;
    std::vector<double> d;
    for (size_t k = 0; k < s.size(); k++) {
        const double a = s.slope[k];
        if (!s.stable[k] || !std::isfinite(dh[k]) || !(a >= kFlatDeg && a <= kSteepDeg) || !std::isfinite(s.aspect[k]))
            continue;
        f.cells.push_back(uint32_t(k));
        d.push_back(dh[k]);
    }
    f.sloped = (long long)f.cells.size();
    if (f.cells.empty()) return f;
    const double med = median_of(d);
    const double spread = nmad_about(d, med);
    d.clear();
    size_t kept = 0;
    for (uint32_t k : f.cells)
        if (std::fabs(dh[k] - med) <= kOutlierNmads * spread) {
            f.cells[kept++] = k;
            d.push_back(dh[k]);
        }
    f.cells.resize(kept);
    f.cells.shrink_to_fit();
    if (d.empty()) return f;
    f.median = median_of(d);
    f.nmad = nmad_about(d, f.median);
    return f;
}

// Least squares of (dh − median) / tan α = p cos ψ + q sin ψ + c: SECOND lies displaced
// by q metres east and p metres north. False when the aspects do not
// determine it (they face too few directions).
bool fit(const Sample &s, const std::vector<double> &dh, const Fitting &f, double &east, double &north) {
    double m[3][4] = {};
    for (uint32_t k : f.cells) {
        const double psi = double(s.aspect[k]) * kPi / 180.0;
        const double x[3] = {std::cos(psi), std::sin(psi), 1.0};
        // Less the vertical bias, which divided by tan α would vary from
        // cell to cell and, where slopes facing one way are steeper, pass
        // for a shift.
        const double y = (dh[k] - f.median) / std::tan(double(s.slope[k]) * kPi / 180.0);
        for (int r = 0; r < 3; r++) {
            for (int c = 0; c < 3; c++) m[r][c] += x[r] * x[c];
            m[r][3] += x[r] * y;
        }
    }
    // Gaussian elimination with partial pivoting.
    const double scale = m[0][0] + m[1][1] + m[2][2];
    for (int c = 0; c < 3; c++) {
        int p = c;
        for (int r = c + 1; r < 3; r++)
            if (std::fabs(m[r][c]) > std::fabs(m[p][c])) p = r;
        if (!(std::fabs(m[p][c]) > 1e-9 * scale)) return false;
        for (int k = 0; k < 4; k++) std::swap(m[c][k], m[p][k]);
        for (int r = 0; r < 3; r++) {
            if (r == c) continue;
            const double q = m[r][c] / m[c][c];
            for (int k = c; k < 4; k++) m[r][k] -= q * m[c][k];
        }
    }
    north = m[0][3] / m[0][0];
    east = m[1][3] / m[1][1];
    return std::isfinite(east) && std::isfinite(north);
}

}  // namespace

std::string coregister(const Source &a, Source &b, double mm_a, double mm_b, const std::string &method,
                       const std::string &stable, const std::function<void(const std::string &)> &said,
                       Coregistration &r) {
    if (!a.has_grid || !b.has_grid) return "both inputs need a georeferenced grid to be co-registered";
    if (a.gt[2] != 0 || a.gt[4] != 0) return "the first input's grid is rotated, which the co-registration cannot follow";
    r = Coregistration{};
    r.method = method;
    const Ground ground = ground_of(a.gt, a.wkt);
    double cell_w = 1, cell_h = 1;
    cell_metres(ground, a.lines / 2.0, cell_w, cell_h);
    // Metres east and north into FIRST's coordinates (at its centre line).
    const double per_east = std::fabs(a.gt[1]) / cell_w, per_north = std::fabs(a.gt[5]) / cell_h;
    const double cell = std::min(cell_w, cell_h);

    // FIRST is read once line by line and SECOND warped a chunk at a time:
    // GDAL's block cache needs no more than the blocks of a few lines (by
    // default it would grow to a twentieth of the memory). GDAL_CACHEMAX,
    // when set, rules.
    if (CPLGetConfigOption("GDAL_CACHEMAX", nullptr) == nullptr) GDALSetCacheMax64(kCacheBytes);
    Sample s;
    std::string problem = read_first(a, mm_a, ground, s);
    if (problem.empty() && !stable.empty()) problem = read_stable(stable, a, s);
    if (problem.empty()) problem = band_view(b);
    if (!problem.empty()) return problem;

    double east = 0, north = 0;  // applied to SECOND so far, metres
    std::vector<double> dh;
    problem = differences(a, b, mm_b, s, method, 0, 0, dh);
    if (!problem.empty()) return problem;
    Fitting f = fitting_cells(s, dh);
    if (f.sloped < kMinCells)
        return "too few cells to fit the shift on: " + std::to_string(f.sloped) +
               " of the subsample have data in both" + (stable.empty() ? "" : ", lie on stable ground") +
               " and a slope of " + fixed_decimals(kFlatDeg, 0) + " to " + fixed_decimals(kSteepDeg, 0) +
               " degrees (at least " + std::to_string(kMinCells) + " are needed; a flat area shows no shift)";
    r.nmad_before = f.nmad;
    said("Co-registration on " + std::to_string(f.cells.size()) + " cells" +
         (s.step > 1 ? " (every " + std::to_string(s.step) + "th line and column)" : "") + ": NMAD " +
         fixed_decimals(f.nmad, 3) + " m before");
    double last_step = 0;
    for (int it = 1; it <= kMaxIterations; it++) {
        double ve = 0, vn = 0;
        if (!fit(s, dh, f, ve, vn))
            return "the shift is undefined: the slopes of the fitting cells face too few directions";
        const double ne = east - ve, nn = north - vn;
        std::vector<double> moved;
        problem = differences(a, b, mm_b, s, method, ne * per_east, nn * per_north, moved);
        if (!problem.empty()) return problem;
        Fitting g = fitting_cells(s, moved);
        if (g.sloped < kMinCells || !(g.nmad < f.nmad)) break;  // the spread stops falling: keep the last position
        east = ne, north = nn;
        dh.swap(moved);
        f = std::move(g);
        r.iterations = it;
        last_step = std::hypot(ve, vn);
        said("  step " + std::to_string(it) + ": SECOND moved " + fixed_decimals(east, 3) + " m east, " +
             fixed_decimals(north, 3) + " m north; NMAD " + fixed_decimals(f.nmad, 3) + " m");
        if (last_step < 0.01 * cell) {
            last_step = 0;
            break;
        }
        if (it == kMaxIterations && last_step > 0.25 * cell)
            return "the shift does not converge: after " + std::to_string(it) + " steps the last is still " +
                   fixed_decimals(last_step, 3) + " m, more than a quarter of a cell";
    }
    const double extent = std::min(a.lines * cell_h, a.cols * cell_w);
    if (std::hypot(east, north) > extent / 4)
        return "the shift found, " + fixed_decimals(east, 3) + " m east and " + fixed_decimals(north, 3) +
               " m north, exceeds a quarter of FIRST's extent: the surveys do not overlap enough to be co-registered";
    std::vector<double> d;
    for (uint32_t k : f.cells) d.push_back(dh[k]);
    r.dz_m = median_of(d);
    r.nmad_after = f.nmad;
    r.n_fit = (long long)f.cells.size();
    r.dx_m = east;
    r.dy_m = north;
    r.shift_x = east * per_east;  // a grid's x grows east and its y north, whichever way its cells run
    r.shift_y = north * per_north;
    return "";
}

std::string coregistration_json(const Coregistration &r, bool bias_removed) {
    // In metres to the micrometre.
    const Json j = {{"dx_m", fixed_number(r.dx_m, 6)},
                    {"dy_m", fixed_number(r.dy_m, 6)},
                    {"dz_m", fixed_number(r.dz_m, 6)},
                    {"bias_removed", bias_removed},
                    {"iterations", r.iterations},
                    {"nmad_before", fixed_number(r.nmad_before, 6)},
                    {"nmad_after", fixed_number(r.nmad_after, 6)},
                    {"n_fit", r.n_fit},
                    {"method", "nuth_kaab"},
                    {"resampling", r.method}};
    return json_text(j);
}
