#include "coregister.h"

#include <cpl_conv.h>
#include <gdal.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "coreg_rules.h"
#include "ground.h"
#include "json.h"
#include "nuth_kaab.h"
#include "numfmt.h"
#include "robust.h"

namespace {

constexpr long long kMinCells = 100;
// The tilt and the shift are fitted in turn at most this many rounds.
constexpr int kMaxRounds = 5;
// Without --deramp, a plane that explains more than this share of the
// variance of the differences is warned of.
constexpr double kTrendShare = 1.0 / 3;
constexpr long long kCacheBytes = 64LL << 20;

using Said = std::function<void(const std::string &)>;

// Nuth and Kääb's fit on FIRST's slope and aspect (nuth_kaab.h).
bool fit(const Sample &s, const std::vector<double> &dh, const Fitting &f, double &east, double &north) {
    return nuth_kaab_fit(s.slope.data(), s.aspect.data(), dh, f, east, north);
}

// SECOND at one position: the translation applied to it (metres east and
// north), dh there less the tilt taken out so far, and the fitting cells.
struct Position {
    double east = 0, north = 0;
    std::vector<double> dh;
    Fitting f;
};

// The first step of the search, when it was not taken: where it led and
// how it was judged.
struct Refused {
    bool known = false;
    double east = 0, north = 0;
    Agreement g;
};

// The words of the rules' messages (coreg_rules.h).
CoregWords words(bool stable) {
    return CoregWords{"FIRST's", stable ? "stable cells with data in both" : "cells with data in both", "cells"};
}

// The walk of SECOND towards FIRST: the steps of the shift and, with
// --deramp, the rounds of the tilt between them.
class Search {
public:
    Search(const Source &a, const Source &b, double mm_b, const Sample &s, const std::string &method, const Said &said,
           double per_east, double per_north, double cell, double extent)
        : a_(a),
          b_(b),
          mm_b_(mm_b),
          s_(s),
          method_(method),
          said_(said),
          per_east_(per_east),
          per_north_(per_north),
          cell_(cell),
          extent_(extent) {}

    // p: SECOND moved by (east, north) metres, less the tilt.
    std::string move(double east, double north, Position &p) const {
        p.east = east, p.north = north;
        const std::string problem = differences(a_, b_, mm_b_, s_, method_, east * per_east_, north * per_north_, p.dh);
        if (!problem.empty()) return problem;
        if (tilt.order > 0) remove_tilt(s_, tilt, p.dh);
        p.f = fitting_cells(s_, p.dh);
        return "";
    }

    // Nuth and Kääb's steps from p, each taken when it lowers the NMAD on
    // the cells with data in both, until one is below a hundredth of a
    // cell. The first step refused, when none was taken, goes to refused.
    std::string steps(Position &p, Refused *refused) {
        double proposed = 0;  // the last step the fit asked for, taken or not, in metres
        int here = 0;         // steps taken in this call
        for (int it = 1; it <= kMaxSteps; it++) {
            double ve = 0, vn = 0;
            if (!fit(s_, p.dh, p.f, ve, vn))
                return "the shift is undefined: the slopes of the fitting cells face too few directions";
            proposed = std::hypot(ve, vn);
            const std::string beyond = beyond_extent(p.east - ve, p.north - vn, extent_, words(false));
            if (!beyond.empty()) return beyond;
            Position q;
            const std::string problem = move(p.east - ve, p.north - vn, q);
            if (!problem.empty()) return problem;
            if (q.f.sloped < kMinCells) break;
            const Agreement g = agreement(s_, p.dh, q.dh);
            if (!(g.after < g.before)) {  // the step does not help: keep the last position
                if (refused && taken == 0) *refused = Refused{true, q.east, q.north, g};
                break;
            }
            p = std::move(q);
            taken++, here++;
            said_("  step " + std::to_string(taken) + ": SECOND moved " + fixed_decimals(p.east, 3) + " m east, " +
                  fixed_decimals(p.north, 3) + " m north; NMAD " + fixed_decimals(p.f.nmad, 3) + " m");
            if (step_settled(proposed, cell_)) return "";
        }
        // Stopped before a step fell below a hundredth of a cell, whatever
        // stopped it: converged only when the fit asked for little more.
        return unconverged(here, taken, proposed, cell_);
    }

    // The tilt fitted once more to what p's dh leaves on its fitting cells:
    // the increment is taken out of dh and added to t. The RMS of the
    // increment on those cells, or -1 when they do not determine it.
    double refit(Position &p, Surface &t) const {
        Surface more = t;
        if (!fit_tilt(s_, p.f, p.dh, more)) return -1;
        double sum = 0;
        for (uint32_t k : p.f.cells) {
            double x, y;
            more.km_at(s_.gt, k / uint32_t(s_.cols), k % uint32_t(s_.cols), x, y);
            sum += more.tilt(x, y) * more.tilt(x, y);
        }
        remove_tilt(s_, more, p.dh);
        // dh keeps its bias: the constant fitted is the whole surface's.
        t.c[0] = more.c[0];
        for (int k = 1; k < 6; k++) t.c[size_t(k)] += more.c[size_t(k)];
        const double rms = std::sqrt(sum / double(p.f.cells.size()));
        p.f = fitting_cells(s_, p.dh);
        return rms;
    }

    // With the translation settled: the tilt fitted, then the translation
    // again, in turn, until the tilt fitted after a settled translation
    // hardly changes (the translation, fitted last, has settled with it).
    std::string rounds(Position &p) {
        for (int round = 1; round <= kMaxRounds; round++) {
            const double change = refit(p, tilt);
            if (change < 0) return undefined_tilt();
            said_("  tilt " + std::to_string(round) + ": SECOND rises " + fixed_decimals(tilt.c[1], 4) +
                  " m per km east and " + fixed_decimals(tilt.c[2], 4) + " m per km north" +
                  (tilt.order == 2 ? " at the centre, and curves" : "") + "; NMAD " + fixed_decimals(p.f.nmad, 3) +
                  " m");
            if (settled(change, p)) break;
            const std::string problem = steps(p, nullptr);
            if (!problem.empty()) return problem;
        }
        return "";
    }

    // The tilt alone at p, fitted until it settles (into t).
    std::string tilt_alone(Position &p, Surface &t) const {
        for (int round = 1; round <= kMaxRounds; round++) {
            const double change = refit(p, t);
            if (change < 0) return undefined_tilt();
            if (settled(change, p)) break;
        }
        return "";
    }

    Surface tilt;   // taken out of SECOND so far
    int taken = 0;  // steps taken

private:
    // A change of the tilt below a hundredth of the spread, or below a
    // millimetre (the finest unit a DEM is written in), is none.
    static bool settled(double change, const Position &p) { return change < std::max(0.01 * p.f.nmad, 0.001); }
    std::string undefined_tilt() const {
        return "the tilt is undefined: the fitting cells do not spread over the area enough to fit a " +
               std::string(tilt.order == 1 ? "plane" : "quadric");
    }

    const Source &a_, &b_;
    double mm_b_;
    const Sample &s_;
    const std::string &method_;
    const Said &said_;
    double per_east_, per_north_, cell_;
    double extent_;  // the shorter side of FIRST, in metres
};

// Whether the shift found (at p, or the first step refused) is applied,
// against SECOND where it lies (zero): when it lowers the NMAD on the cells
// with data in both by a clear margin, and a large one by more. Says why
// when it is not, and names a large one that is.
bool judge(const Sample &s, const Search &search, const Position &p, const Position &zero, const Refused &refused,
           double cell, bool stable, const Said &said, Coregistration &r) {
    if (search.taken == 0) {
        r.refused_known = refused.known;
        r.refused_dx_m = refused.east, r.refused_dy_m = refused.north;
        r.refused = refused.g;
        said(no_step_taken(refused.known ? &refused.g : nullptr, refused.east, refused.north, words(stable)));
        return false;
    }
    const Agreement g = agreement(s, zero.dh, p.dh);
    std::string verdict;
    const bool applied = shift_verdict(g, p.east, p.north, cell, words(stable), verdict);
    if (!verdict.empty()) said(verdict);
    if (applied) return true;
    r.refused_known = true;
    r.refused_dx_m = p.east, r.refused_dy_m = p.north;
    r.refused = g;
    return false;
}

// The frame of the tilt: kilometres east and north of the centre of
// FIRST's grid, at its latitude on a geographic grid.
Surface tilt_frame(const Source &a, const Ground &ground, int order) {
    Surface t;
    t.order = order;
    t.origin_x = a.gt[0] + a.cols / 2.0 * a.gt[1];
    t.origin_y = a.gt[3] + a.lines / 2.0 * a.gt[5];
    double w = 1, h = 1;
    cell_metres(ground, (a.lines - 1) / 2.0, w, h);
    t.km_x = w / std::fabs(a.gt[1]) / 1000;
    t.km_y = h / std::fabs(a.gt[5]) / 1000;
    return t;
}

// Without --deramp: a warning when a plane explains much of what is left.
void warn_of_trend(const Sample &s, const Position &p, const Surface &frame, const Said &said, Coregistration &r) {
    const double share = plane_share(s, p.f, p.dh, frame);
    if (!(share > kTrendShare)) return;
    r.warnings.push_back("warning: a plane explains " + fixed_decimals(100 * share, 0) +
                         " % of the variance of the differences on the " + std::to_string(p.f.cells.size()) +
                         " fitting cells: SECOND may be tilted against FIRST; --deramp fits a tilt and takes it out");
    said(r.warnings.back());
}

// FIRST's subsample, its stable cells with a mask, and SECOND ready for
// the warper. FIRST is read once line by line and SECOND warped a chunk at
// a time: GDAL's block cache needs no more than the blocks of a few lines
// (by default it would grow to a twentieth of the memory). GDAL_CACHEMAX,
// when set, rules.
std::string read_sample(const Source &a, Source &b, double mm_a, const Ground &ground, const std::string &stable,
                        Sample &s) {
    if (CPLGetConfigOption("GDAL_CACHEMAX", nullptr) == nullptr) GDALSetCacheMax64(kCacheBytes);
    std::string problem = read_first(a, mm_a, ground, s);
    if (problem.empty() && !stable.empty()) problem = read_stable(stable, a, s);
    if (problem.empty()) problem = band_view(b);
    return problem;
}

std::string too_few_cells(long long sloped, bool stable) {
    return "too few cells to fit the shift on: " + std::to_string(sloped) + " of the subsample have data in both" +
           (stable ? ", lie on stable ground" : "") + " and a slope of " + fixed_decimals(kFlatDeg, 0) + " to " +
           fixed_decimals(kSteepDeg, 0) + " degrees (at least " + std::to_string(kMinCells) +
           " are needed; a flat area shows no shift)";
}

}  // namespace

std::string coregister(const Source &a, Source &b, double mm_a, double mm_b, const std::string &method,
                       const std::string &stable, int deramp, const Said &said, Coregistration &r) {
    if (!a.has_grid || !b.has_grid) return "both inputs need a georeferenced grid to be co-registered";
    if (a.gt[2] != 0 || a.gt[4] != 0)
        return "the first input's grid is rotated, which the co-registration cannot follow";
    r = Coregistration{};
    r.method = method;
    r.stable_only = !stable.empty();
    const Ground ground = ground_of(a.gt, a.wkt);
    double cell_w = 1, cell_h = 1;
    cell_metres(ground, a.lines / 2.0, cell_w, cell_h);
    // Metres east and north into FIRST's coordinates (at its centre line).
    const double per_east = std::fabs(a.gt[1]) / cell_w, per_north = std::fabs(a.gt[5]) / cell_h;
    const double cell = std::min(cell_w, cell_h);

    Sample s;
    std::string problem = read_sample(a, b, mm_a, ground, stable, s);
    if (!problem.empty()) return problem;

    Position zero;  // SECOND where it lies
    problem = differences(a, b, mm_b, s, method, 0, 0, zero.dh);
    if (!problem.empty()) return problem;
    zero.f = fitting_cells(s, zero.dh);
    if (zero.f.sloped < kMinCells) return too_few_cells(zero.f.sloped, !stable.empty());
    r.nmad_before = zero.f.nmad;
    said("Co-registration on " + std::to_string(zero.f.cells.size()) + " cells" +
         (s.step > 1 ? " (every " + std::to_string(s.step) + "th line and column)" : "") + ": NMAD " +
         fixed_decimals(zero.f.nmad, 3) + " m before");

    const double extent = std::min(a.lines * cell_h, a.cols * cell_w);
    Search search(a, b, mm_b, s, method, said, per_east, per_north, cell, extent);
    search.tilt = tilt_frame(a, ground, deramp);
    Position p = zero;
    Refused refused;
    problem = search.steps(p, &refused);
    if (problem.empty() && deramp > 0) problem = search.rounds(p);
    if (!problem.empty()) return problem;

    // The shift is judged against SECOND where it lies, less (with
    // --deramp) the tilt fitted there alone.
    const std::vector<double> given = deramp > 0 ? zero.dh : std::vector<double>();
    Surface tilt0 = tilt_frame(a, ground, deramp);
    if (deramp > 0) problem = search.tilt_alone(zero, tilt0);
    if (!problem.empty()) return problem;
    r.applied = judge(s, search, p, zero, refused, cell, !stable.empty(), said, r);
    const Position &last = r.applied ? p : zero;
    r.tilt = r.applied ? search.tilt : tilt0;
    r.all = agreement(s, deramp > 0 ? given : zero.dh, last.dh);
    r.iterations = search.taken;
    r.dz_m = last.f.median;
    r.nmad_after = last.f.nmad;
    r.n_fit = (long long)last.f.cells.size();
    r.dx_m = last.east;
    r.dy_m = last.north;
    r.shift_x = last.east * per_east;  // a grid's x grows east and its y north, whichever way its cells run
    r.shift_y = last.north * per_north;
    if (deramp == 0) warn_of_trend(s, last, search.tilt, said, r);
    return "";
}

std::string coregistration_note(const Coregistration &r, const std::string &method, bool resampled, bool bias_removed,
                                bool second_grid) {
    std::string note;
    // 0 − d: no "-0.000" for a shift of nothing.
    if (r.applied && second_grid)
        note = "FIRST was moved " + fixed_decimals(0.0 - r.dx_m, 3) + " m east and " + fixed_decimals(0.0 - r.dy_m, 3) +
               " m north (SECOND's shift, reversed) and resampled onto SECOND's grid (" + method + ")";
    else if (r.applied)
        note = "SECOND was moved " + fixed_decimals(r.dx_m, 3) + " m east and " + fixed_decimals(r.dy_m, 3) +
               " m north and resampled onto FIRST's grid (" + method + ")";
    else if (resampled && second_grid)
        note = "No shift was applied: FIRST was resampled onto SECOND's grid (" + method + ")";
    else if (resampled)
        note = "No shift was applied to SECOND: it was resampled onto FIRST's grid (" + method + ")";
    else
        note = "No shift was applied to SECOND: it lies on FIRST's grid and was not resampled";
    if (r.tilt.order > 0)
        note += std::string(second_grid ? ", SECOND's" : ", its") + " tilt (a " +
                (r.tilt.order == 1 ? "plane" : "quadric") + ") taken out";
    note += (second_grid ? "; SECOND's bias is " : "; its bias is ") + fixed_decimals(r.dz_m, 3) + " m" +
            (bias_removed ? ", removed" : ", left in it");
    return note + ". NMAD " + fixed_decimals(r.nmad_before, 3) + " m before, " + fixed_decimals(r.nmad_after, 3) +
           " m after, on " + std::to_string(r.n_fit) + " cells.";
}

std::function<void(int, int, int, double *)> tilt_correction(const Coregistration &r, const double gt[6],
                                                             double factor) {
    if (r.tilt.order == 0) return {};
    std::array<double, 6> g;
    std::copy(gt, gt + 6, g.begin());
    return [t = r.tilt, g, factor](int line, int col0, int n, double *values) {
        t.tilt_of_line(g.data(), line, col0, n, factor, values);
    };
}

std::string coregistration_json(const Coregistration &r, bool bias_removed) {
    // In metres to the micrometre.
    Json j = {{"dx_m", fixed_number(r.dx_m, 6)},
              {"dy_m", fixed_number(r.dy_m, 6)},
              {"dz_m", fixed_number(r.dz_m, 6)},
              {"bias_removed", bias_removed},
              {"iterations", r.iterations},
              {"nmad_before", fixed_number(r.nmad_before, 6)},
              {"nmad_after", fixed_number(r.nmad_after, 6)},
              {"n_fit", r.n_fit},
              {"method", "nuth_kaab"},
              {"resampling", r.method},
              {"nmad_all_before", fixed_number(r.all.before, 6)},
              {"nmad_all_after", fixed_number(r.all.after, 6)},
              {"n_all", r.all.n},
              {"stable_only", r.stable_only},
              {"applied", r.applied}};
    if (r.refused_known) j["refused"] = refused_json(r.refused_dx_m, r.refused_dy_m, r.refused);
    j["deramp_order"] = r.tilt.order;
    if (r.tilt.order > 0) {
        static const char *const kTerms[6] = {"1", "x", "y", "x^2", "x*y", "y^2"};
        Json terms = Json::array(), m = Json::array();
        for (int k = 0; k < r.tilt.terms(); k++) {
            terms.push_back(kTerms[k]);
            m.push_back(r.tilt.c[size_t(k)]);
        }
        j["deramp_coefficients"] = {{"origin_x", r.tilt.origin_x},
                                    {"origin_y", r.tilt.origin_y},
                                    {"x_km_per_unit", r.tilt.km_x},
                                    {"y_km_per_unit", r.tilt.km_y},
                                    {"terms", terms},
                                    {"m", m}};
    }
    j["warnings"] = r.warnings;
    return json_text(j);
}
