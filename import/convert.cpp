#include "convert.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "samples are stored least significant byte first");


std::string plan_dem(const Source &s, int target, bool convert, Plan &plan) {
    plan = Plan{};
    if (!unit_of_type(s.unit_type, plan.unit))
        return "its band's unit type \"" + s.unit_type + "\" is not a unit of length this program knows";
    bool integral = false, narrow = false;
    switch (s.type) {
        case GDT_Byte:
            integral = true;
            narrow = !s.signed_byte;
            break;
        case GDT_UInt16:
            integral = narrow = true;
            break;
        case GDT_Int16:
        case GDT_Int32:
        case GDT_UInt32:
        case GDT_Int64:
        case GDT_UInt64:
            integral = true;
            break;
        default:
            break;
    }
    // Resampled samples are no longer whole numbers of the unit: they are converted.
    if (integral && !convert && !s.aligned && s.scale == 1 && s.offset == 0 && plan.unit.answer >= 0) {
        plan.kind = narrow ? Kind::dem16 : Kind::dem32;
        plan.exact = true;
        plan.answer = plan.unit.answer;
        return "";
    }
    plan.kind = Kind::dem32;
    plan.exact = false;
    plan.answer = target;
    plan.factor = unit_factor(plan.unit, target);
    return "";
}

namespace {

// Rounds x to the nearest whole number, halves away from zero, and counts it
// in the tally. False, with nothing counted, when the result lies beyond
// the signed 32-bit range.
inline bool store(double x, Tally &t, int32_t &stored) {
    const double rounded = std::round(x);
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) return false;
    stored = int32_t(rounded);
    if (!t.any) {
        t.min = t.max = stored;
        t.any = true;
    } else {
        if (stored < t.min) t.min = stored;
        if (stored > t.max) t.max = stored;
    }
    const double e = std::fabs(rounded - x);
    if (e > t.max_rounding) t.max_rounding = e;
    return true;
}

}  // namespace

void convert_line(const Plan &plan, const Source &s, const double *raw, const uint8_t *mask, int n, int line,
                  int col0, uint8_t *has_data, double *metres, uint8_t *out, Tally &t, const double *less) {
    const int bytes = kind_bytes(plan.kind);
    const bool scaled = s.scale != 1 || s.offset != 0;
    const double to_metres = plan.unit.mm / 1000;
    // The tally is kept in a local copy: stores through out could otherwise
    // alias it and force it to memory at every cell.
    Tally u = t;
    u.cells += n;
    for (int j = 0; j < n; j++) {
        // GDAL hands out 8-bit samples flagged as signed as 0 to 255.
        const double r = s.signed_byte && raw[j] >= 128 ? raw[j] - 256 : raw[j];
        const bool ok = !is_nodata_value(s, r) && !is_nodata_value(s, raw[j]) && (mask == nullptr || mask[j] != 0);
        has_data[j] = ok;
        int32_t stored = plan.nodata.declared ? int32_t(plan.nodata.value) : 0;
        double value = 0;  // in the source's unit
        if (ok) {
            u.with_data++;
            if (plan.exact) {
                // Samples are whole numbers, except grey levels resampled
                // onto another grid: those take the nearest level, within
                // 0 to 255 (a cubic kernel may overshoot).
                const double v = plan.kind == Kind::image8 ? std::min(255.0, std::max(0.0, r)) : r;
                value = v;
                if (!store(v, u, stored)) u.exact_overflow = true;
                if (plan.kind == Kind::image8) u.levels[stored >> 6] |= uint64_t(1) << (stored & 63);
            } else {
                const double v = scaled ? r * s.scale + s.offset : r;
                value = less != nullptr ? v - less[j] : v;
                const double x = value * plan.factor;
                if (!store(x, u, stored) && !u.beyond_range) {
                    u.beyond_range = true;
                    u.bad_line = line;
                    u.bad_col = col0 + j;
                    u.bad_value = x;
                }
            }
        }
        metres[j] = value * to_metres;
        if (out != nullptr) std::memcpy(out + size_t(j) * bytes, &stored, size_t(bytes));
    }
    t = u;
}
