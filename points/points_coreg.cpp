#include "points_coreg.h"

#include <cmath>

#include "json.h"
#include "numfmt.h"
#include "nuth_kaab.h"
#include "robust.h"

namespace {

constexpr long long kMinPoints = 20;
constexpr int kMaxIterations = 10;
// A step below this share of a cell ends the search.
constexpr double kSettled = 0.01;
// The shift found is applied when it lowers the NMAD of every difference
// by this share at least, and by the second when it is larger than
// kLargeCells cells, as karvel-import judges it.
constexpr double kClearGain = 0.02, kLargeGain = 0.10, kLargeCells = 2;

// The DEM moved by (east, north) metres: the DEM at the points, their
// differences and the fitting points.
struct Position {
    double east = 0, north = 0;
    AtPoints at;
    std::vector<double> dh;
    Fitting f;
};

void fit_cells(const CheckPoints &p, Position &q) {
    q.dh = differences(p, q.at);
    q.f = fitting_cells(q.dh.size(), q.at.slope.data(), q.at.aspect.data(), nullptr, q.dh);
}

// The NMAD of the differences that are numbers.
double nmad_of(const std::vector<double> &dh) {
    std::vector<double> v;
    for (double x : dh)
        if (std::isfinite(x)) v.push_back(x);
    if (v.empty()) return NAN;
    return nmad_about(v, median_of(v));
}

}  // namespace

std::vector<double> differences(const CheckPoints &p, const AtPoints &at) {
    std::vector<double> d(p.size(), NAN);
    for (size_t k = 0; k < p.size(); k++)
        if (at.reason[k] == Reason::none) d[k] = at.z[k] - p.z[k];
    return d;
}

std::string coregister_points(const Dem &dem, const CheckPoints &p, bool near, bool remove_bias,
                              const std::function<void(const std::string &)> &said, AtPoints &at, PointsCoreg &r) {
    r = PointsCoreg{};
    const Source &s = dem.src;
    double cell_w = 1, cell_h = 1;
    cell_metres(dem.ground, s.lines / 2.0, cell_w, cell_h);
    // Metres east and north into the DEM's coordinates (at its centre line).
    const double per_east = std::fabs(s.gt[1]) / cell_w, per_north = std::fabs(s.gt[5]) / cell_h;
    const double cell = std::min(cell_w, cell_h);
    Position here;
    here.at = at;
    fit_cells(p, here);
    if (here.f.sloped < kMinPoints)
        return "too few points to fit the shift on: " + std::to_string(here.f.sloped) +
               " have a difference and a slope of " + fixed_decimals(kFlatDeg, 0) + " to " +
               fixed_decimals(kSteepDeg, 0) + " degrees (at least " + std::to_string(kMinPoints) +
               " are needed; flat ground shows no shift)";
    r.nmad_before = here.f.nmad;
    said("Co-registration on " + std::to_string(here.f.cells.size()) + " points: NMAD " +
         fixed_decimals(here.f.nmad, 3) + " m before");
    const Position zero = here;
    for (int it = 1; it <= kMaxIterations; it++) {
        double ve = 0, vn = 0;
        if (!nuth_kaab_fit(here.at.slope.data(), here.at.aspect.data(), here.dh, here.f, ve, vn))
            return "the shift is undefined: the slopes at the points face too few directions";
        Position next;
        next.east = here.east - ve, next.north = here.north - vn;
        const Sampling how{near, true, next.east * per_east, next.north * per_north};
        const std::string problem = sample_dem(dem, p, how, next.at);
        if (!problem.empty()) return problem;
        fit_cells(p, next);
        if (next.f.sloped < kMinPoints || !(next.f.nmad < here.f.nmad)) break;
        here = std::move(next);
        r.iterations++;
        said("  step " + std::to_string(r.iterations) + ": DEM moved " + fixed_decimals(here.east, 3) + " m east, " +
             fixed_decimals(here.north, 3) + " m north; NMAD " + fixed_decimals(here.f.nmad, 3) + " m");
        if (std::hypot(ve, vn) < kSettled * cell) break;
    }
    r.tried_dx_m = here.east, r.tried_dy_m = here.north;
    const double before = nmad_of(zero.dh), after = nmad_of(here.dh);
    const double gain = before > 0 ? 1 - after / before : 0;
    const bool large = std::hypot(here.east, here.north) / cell > kLargeCells;
    r.applied = r.iterations > 0 && gain >= (large ? kLargeGain : kClearGain);
    if (!r.applied && r.iterations > 0)
        said("  no shift applied: it lowers the NMAD of the differences from " + fixed_decimals(before, 3) + " m to " +
             fixed_decimals(after, 3) + " m, less than the " + (large ? "10" : "2") + " % needed");
    const Position &last = r.applied ? here : zero;
    r.dx_m = last.east, r.dy_m = last.north;
    r.shift_x = last.east * per_east, r.shift_y = last.north * per_north;
    r.dz_m = last.f.median;
    r.nmad_after = last.f.nmad;
    r.n_fit = (long long)last.f.cells.size();
    at = last.at;
    if (remove_bias) {
        r.bias_removed = true;
        for (double &z : at.z) z -= r.dz_m;
    }
    return "";
}

std::string points_coreg_json(const PointsCoreg &r, bool near) {
    // In metres to the micrometre.
    Json j = {{"dx_m", fixed_number(r.dx_m, 6)},
              {"dy_m", fixed_number(r.dy_m, 6)},
              {"dz_m", fixed_number(r.dz_m, 6)},
              {"bias_removed", r.bias_removed},
              {"iterations", r.iterations},
              {"nmad_before", fixed_number(r.nmad_before, 6)},
              {"nmad_after", fixed_number(r.nmad_after, 6)},
              {"n_fit", r.n_fit},
              {"method", "nuth_kaab"},
              {"resampling", near ? "near" : "bilinear"},
              {"shift_x", r.shift_x},
              {"shift_y", r.shift_y},
              {"applied", r.applied}};
    if (!r.applied && r.iterations > 0)
        j["refused"] = {{"dx_m", fixed_number(r.tried_dx_m, 6)}, {"dy_m", fixed_number(r.tried_dy_m, 6)}};
    j["warnings"] = r.warnings;
    return json_text(j);
}
