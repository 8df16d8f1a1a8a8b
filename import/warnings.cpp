#include "warnings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "numfmt.h"
#include "units.h"

namespace {

std::string metres(double v) { return fixed_decimals(v, 3) + " m"; }

}  // namespace

std::vector<std::string> plausibility_warnings(const Input &a, const Input &b, const PairTally &pair) {
    std::vector<std::string> w;
    if (a.plan.kind == Kind::image8 || !a.tally.any || !b.tally.any || pair.in_both < 1) return w;
    double lo[2], hi[2];
    for (int k = 0; k < 2; k++) {
        const Input &in = k == 0 ? a : b;
        const double to_metres = mm_per_unit(in.plan.answer) / 1000;
        lo[k] = in.tally.min * to_metres;
        hi[k] = in.tally.max * to_metres;
    }
    if (hi[0] < lo[1] || hi[1] < lo[0])
        w.push_back("the values of FIRST (" + fixed_decimals(lo[0], 3) + " .. " + metres(hi[0]) + ") and SECOND (" +
                    fixed_decimals(lo[1], 3) + " .. " + metres(hi[1]) +
                    ") do not overlap: a unit wrongly declared, another vertical datum or rasters of different places "
                    "usually cause it");
    const double mean = pair.sum_difference / double(pair.in_both);
    if (std::fabs(mean) > std::max(hi[0] - lo[0], hi[1] - lo[1]))
        w.push_back("the mean difference SECOND - FIRST, " + metres(mean) + " over " + std::to_string(pair.in_both) +
                    " cells with data in both, is larger than the spread of either raster's values (" +
                    metres(hi[0] - lo[0]) + " of FIRST, " + metres(hi[1] - lo[1]) +
                    " of SECOND): a unit or vertical datum error usually causes it");
    if (w.empty()) return w;
    for (const Input *in : {&a, &b})
        if (!in->src.unit_assigned && !in->src.declared_unit.empty() && in->plan.unit.mm != 1000)
            w.push_back(std::string(in->role) + "'s values were converted from " + printable(in->src.declared_unit) +
                        ", as its band declares; if they hold metres, give " + in->option("z-unit") + " m");
    return w;
}

void print_warnings(const std::vector<std::string> &warnings) {
    std::fflush(stdout);
    for (const std::string &w : warnings) std::fprintf(stderr, "warning: %s\n", w.c_str());
}
