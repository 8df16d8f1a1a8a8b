#include "warnings.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

#include "numfmt.h"
#include "units.h"

namespace {

std::string metres(double v) { return fixed_decimals(v, 3) + " m"; }

}  // namespace

std::string extreme_value_warning(const Input &in) {
    const Source &s = in.src;
    if (in.plan.kind == Kind::image8 || !in.plan.exact || !in.tally.any || s.has_nodata || s.use_mask) return "";
    // The type's bounds; the smallest value of an unsigned type, 0, is an
    // elevation like any other (LLONG_MIN: no stored value is it).
    long long lo, hi;
    const char *type = GDALGetDataTypeName(s.type);
    switch (s.type) {
        case GDT_Byte:
            lo = s.signed_byte ? -128 : LLONG_MIN, hi = s.signed_byte ? 127 : 255;
            if (s.signed_byte) type = "signed Byte";
            break;
        case GDT_UInt16: lo = LLONG_MIN, hi = 65535; break;
        case GDT_Int16: lo = -32768, hi = 32767; break;
        case GDT_Int32: lo = -2147483647LL - 1, hi = 2147483647; break;
        default: return "";  // wider types beyond 32 bits are converted, and refused beyond them
    }
    std::vector<long long> held;
    if (in.tally.min == lo) held.push_back(lo);
    if (in.tally.max == hi) held.push_back(hi);
    if (held.empty()) return "";
    const bool both = held.size() == 2;
    std::string values = std::to_string(held[0]) + (both ? " and " + std::to_string(held[1]) : "");
    const char *which = both ? "the smallest and largest values" : held[0] == lo ? "the smallest value" : "the largest value";
    return in.who() + " holds " + values + ", " + which + " of its " + type +
           " samples, yet declares no value for cells without data: such values usually mark cells without data "
           "left undeclared, and they were kept as elevations; if they mark them, declare the value "
           "(gdal_edit.py -a_nodata " + std::to_string(held[0]) + ")";
}

std::vector<std::string> plausibility_warnings(const Input &a, const Input &b, const PairTally &pair) {
    std::vector<std::string> w;
    if (a.plan.kind == Kind::image8) return w;
    for (const Input *in : {&a, &b}) {
        std::string extreme = extreme_value_warning(*in);
        if (!extreme.empty()) w.push_back(std::move(extreme));
    }
    const size_t extremes = w.size();
    if (!a.tally.any || !b.tally.any || pair.in_both < 1) return w;
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
    if (w.size() == extremes) return w;
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
