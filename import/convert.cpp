#include "convert.h"

#include <bit>
#include <cmath>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "samples are stored least significant byte first");

int kind_bytes(Kind k) { return k == Kind::image8 ? 1 : k == Kind::dem16 ? 2 : 4; }
int width_answer(Kind k) { return k == Kind::dem16 ? 0 : 1; }

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
    if (integral && !convert && s.scale == 1 && s.offset == 0 && plan.unit.answer >= 0) {
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

inline void take(Tally &t, int v) {
    if (!t.any) {
        t.min = t.max = v;
        t.any = true;
    } else {
        if (v < t.min) t.min = v;
        if (v > t.max) t.max = v;
    }
}

}  // namespace

void convert_line(const Plan &plan, const Source &s, const double *raw, const uint8_t *mask, int n, int line,
                  int col0, uint8_t *has_data, uint8_t *out, Tally &t) {
    const int bytes = kind_bytes(plan.kind);
    const bool scaled = s.scale != 1 || s.offset != 0;
    t.cells += n;
    for (int j = 0; j < n; j++) {
        const double r = raw[j];
        const bool ok = !is_nodata_value(s, r) && (mask == nullptr || mask[j] != 0);
        has_data[j] = ok;
        int32_t stored = 0;
        if (ok) {
            t.with_data++;
            if (plan.exact) {
                if (r < -2147483648.0 || r > 2147483647.0) {
                    t.exact_overflow = true;
                } else {
                    stored = int32_t(r);
                    take(t, stored);
                }
            } else {
                const double value = scaled ? r * s.scale + s.offset : r;
                const double x = value * plan.factor;
                const double rounded = std::round(x);  // halves away from zero
                if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) {
                    if (!t.beyond_range) {
                        t.beyond_range = true;
                        t.bad_line = line;
                        t.bad_col = col0 + j;
                        t.bad_value = x;
                    }
                } else {
                    stored = int32_t(rounded);
                    take(t, stored);
                    const double e = std::fabs(rounded - x);
                    if (e > t.max_rounding) t.max_rounding = e;
                }
            }
        }
        if (out != nullptr) std::memcpy(out + size_t(j) * bytes, &stored, size_t(bytes));
    }
}
