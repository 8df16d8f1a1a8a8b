#include "points_coreg.h"

#include <cmath>

#include "coreg_rules.h"
#include "json.h"
#include "numfmt.h"
#include "nuth_kaab.h"

namespace {

constexpr long long kMinPoints = 20;

// How the rules' messages name the DEM and the points (coreg_rules.h).
const CoregWords kWords{"the DEM's", "points with a difference at both positions", "points"};

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

// The walk of the DEM towards the points, by karvel-import's rules: each
// step taken when it lowers the NMAD over the points with a difference
// both before and after it, until one falls below a hundredth of a cell.
class Walk {
public:
    Walk(const Dem &dem, const CheckPoints &p, bool near, const std::function<void(const std::string &)> &said)
        : dem_(dem), p_(p), near_(near), said_(said) {
        cell_metres(dem.ground, dem.src.lines / 2.0, cell_w_, cell_h_);
        // Metres east and north into the DEM's coordinates (at its centre line).
        per_east = std::fabs(dem.src.gt[1]) / cell_w_, per_north = std::fabs(dem.src.gt[5]) / cell_h_;
        cell = std::min(cell_w_, cell_h_);
        extent_ = std::min(dem.src.lines * cell_h_, dem.src.cols * cell_w_);
    }

    // q: the DEM moved by (east, north) metres.
    std::string move(double east, double north, Position &q) const {
        q.east = east, q.north = north;
        const Sampling how{near_, true, east * per_east, north * per_north};
        const std::string problem = sample_dem(dem_, p_, how, q.at);
        if (problem.empty()) fit_cells(p_, q);
        return problem;
    }

    // The steps from `here`; the first step refused, when none was taken,
    // is kept in first_known, first and first_g.
    std::string steps(Position &here) {
        double proposed = 0;  // the last step the fit asked for, taken or not, in metres
        for (int it = 1; it <= kMaxSteps; it++) {
            double ve = 0, vn = 0;
            if (!nuth_kaab_fit(here.at.slope.data(), here.at.aspect.data(), here.dh, here.f, ve, vn))
                return "the shift is undefined: the slopes at the points face too few directions";
            proposed = std::hypot(ve, vn);
            const std::string beyond = beyond_extent(here.east - ve, here.north - vn, extent_, kWords);
            if (!beyond.empty()) return beyond;
            Position next;
            const std::string problem = move(here.east - ve, here.north - vn, next);
            if (!problem.empty()) return problem;
            if (next.f.sloped < kMinPoints) break;
            const Agreement g = agreement(here.dh.size(), nullptr, here.dh, next.dh);
            if (!(g.after < g.before)) {  // the step does not help: keep the last position
                if (taken == 0) first_known = true, first_east = next.east, first_north = next.north, first_g = g;
                break;
            }
            here = std::move(next);
            taken++;
            said_("  step " + std::to_string(taken) + ": DEM moved " + fixed_decimals(here.east, 3) + " m east, " +
                  fixed_decimals(here.north, 3) + " m north; NMAD " + fixed_decimals(here.f.nmad, 3) + " m");
            if (step_settled(proposed, cell)) return "";
        }
        return unconverged(taken, taken, proposed, cell);
    }

    double per_east = 1, per_north = 1, cell = 1;
    int taken = 0;
    bool first_known = false;
    double first_east = 0, first_north = 0;
    Agreement first_g;

private:
    const Dem &dem_;
    const CheckPoints &p_;
    bool near_;
    const std::function<void(const std::string &)> &said_;
    double cell_w_ = 1, cell_h_ = 1, extent_ = 0;
};

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
    Position zero;  // the DEM where it lies
    zero.at = at;
    fit_cells(p, zero);
    if (zero.f.sloped < kMinPoints)
        return "too few points to fit the shift on: " + std::to_string(zero.f.sloped) +
               " have a difference and a slope of " + fixed_decimals(kFlatDeg, 0) + " to " +
               fixed_decimals(kSteepDeg, 0) + " degrees (at least " + std::to_string(kMinPoints) +
               " are needed; flat ground shows no shift)";
    r.nmad_before = zero.f.nmad;
    said("Co-registration on " + std::to_string(zero.f.cells.size()) + " points: NMAD " +
         fixed_decimals(zero.f.nmad, 3) + " m before");
    Walk walk(dem, p, near, said);
    Position here = zero;
    const std::string problem = walk.steps(here);
    if (!problem.empty()) return problem;
    r.iterations = walk.taken;
    if (walk.taken == 0) {
        r.refused_known = walk.first_known;
        r.tried_dx_m = walk.first_east, r.tried_dy_m = walk.first_north, r.refused = walk.first_g;
        said(no_step_taken(walk.first_known ? &walk.first_g : nullptr, walk.first_east, walk.first_north, kWords));
    } else {
        const Agreement g = agreement(p.size(), nullptr, zero.dh, here.dh);
        std::string verdict;
        r.applied = shift_verdict(g, here.east, here.north, walk.cell, kWords, verdict);
        if (!verdict.empty()) said(verdict);
        r.refused_known = !r.applied;
        r.tried_dx_m = here.east, r.tried_dy_m = here.north, r.refused = g;
    }
    const Position &last = r.applied ? here : zero;
    r.all = agreement(p.size(), nullptr, zero.dh, last.dh);
    r.dx_m = last.east, r.dy_m = last.north;
    r.shift_x = last.east * walk.per_east, r.shift_y = last.north * walk.per_north;
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
              {"nmad_all_before", fixed_number(r.all.before, 6)},
              {"nmad_all_after", fixed_number(r.all.after, 6)},
              {"n_all", r.all.n},
              {"applied", r.applied}};
    if (r.refused_known) j["refused"] = refused_json(r.tried_dx_m, r.tried_dy_m, r.refused);
    j["warnings"] = r.warnings;
    return json_text(j);
}
