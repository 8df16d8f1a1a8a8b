#include "coreg_rules.h"

#include <cmath>

#include "numfmt.h"
#include "robust.h"

namespace {

std::string nmad_from_to(const Agreement &g, const CoregWords &w) {
    return "the NMAD on the " + std::to_string(g.n) + " " + w.samples + " from " + fixed_decimals(g.before, 3) +
           " m to " + fixed_decimals(g.after, 3) + " m";
}

}  // namespace

Agreement agreement(size_t n, const uint8_t *stable, const std::vector<double> &before,
                    const std::vector<double> &after) {
    std::vector<double> x, y;
    for (size_t k = 0; k < n; k++)
        if ((!stable || stable[k]) && std::isfinite(before[k]) && std::isfinite(after[k])) {
            x.push_back(before[k]);
            y.push_back(after[k]);
        }
    Agreement g;
    g.n = (long long)x.size();
    if (x.empty()) return g;
    g.before = nmad_about(x, median_of(x));
    g.after = nmad_about(y, median_of(y));
    return g;
}

std::string beyond_extent(double east, double north, double extent, const CoregWords &w) {
    if (!(std::hypot(east, north) > extent / 4)) return "";
    return "a step of the fit reaches " + fixed_decimals(east, 3) + " m east and " + fixed_decimals(north, 3) +
           " m north, beyond a quarter of " + w.extent +
           " extent: the surveys do not overlap enough to be co-registered";
}

bool step_settled(double proposed, double cell) { return proposed < kSettledCells * cell; }

std::string unconverged(int here, int taken, double proposed, double cell) {
    if (!(here > 0 && proposed > kConvergedCells * cell)) return "";
    return "the shift did not converge after " + std::to_string(taken) + " steps; last step " +
           fixed_decimals(proposed, 3) + " m (" + fixed_decimals(proposed / cell, 2) +
           " cells), more than a quarter of a cell (the surveys may repeat a pattern or overlap too little)";
}

bool shift_verdict(const Agreement &g, double east, double north, double cell, const CoregWords &w,
                   std::string &said) {
    const double gain = g.before > 0 ? 1 - g.after / g.before : 0;
    const double cells = std::hypot(east, north) / cell;
    const bool large = cells > kLargeCells;
    const std::string found =
        "the shift found, " + fixed_decimals(east, 3) + " m east and " + fixed_decimals(north, 3) + " m north, ";
    const std::string lower = gain > 0 ? fixed_decimals(100 * gain, 1) + " % lower" : std::string("not lower");
    said.clear();
    if (gain >= (large ? kLargeGain : kClearGain)) {
        if (large)
            said = "  " + found + "is larger than two cells (" + fixed_decimals(cells, 2) + "): applied, as it takes " +
                   nmad_from_to(g, w) + ", " + lower;
        return true;
    }
    said = "  no shift applied: it would not improve the agreement (" + found +
           (large ? "is larger than two cells (" + fixed_decimals(cells, 2) + ") and " : "") + "takes " +
           nmad_from_to(g, w) + ", " + lower + "; " + (large ? "10" : "2") + " % lower at least is needed)";
    return false;
}

std::string no_step_taken(const Agreement *g, double east, double north, const CoregWords &w) {
    return "  no shift applied: it would not improve the agreement (" +
           (g ? "its first step, " + fixed_decimals(east, 3) + " m east and " + fixed_decimals(north, 3) +
                    " m north, takes " + nmad_from_to(*g, w)
              : "its first step leaves too few " + w.unit + " to fit on") +
           ")";
}

Json refused_json(double dx_m, double dy_m, const Agreement &a) {
    return {{"dx_m", fixed_number(dx_m, 6)},
            {"dy_m", fixed_number(dy_m, 6)},
            {"nmad_all_before", fixed_number(a.before, 6)},
            {"nmad_all_after", fixed_number(a.after, 6)},
            {"n_all", a.n}};
}
