#include "plausibility.h"

#include <algorithm>
#include <cmath>

#include "numfmt.h"

void PlaneSums::add_line(double c, double y, double mean_x, double mean_d, double cxx, double cxd, double cdd) {
    if (c <= 0) return;
    const double nab = n_ + c, f = n_ * c / nab;
    const double dx = mean_x - mx_, dy = y - my_, dd = mean_d - md_;
    // y is the same along a line: its squares and products about the
    // line's own means are nought.
    sxx_ += cxx + dx * dx * f;
    syy_ += dy * dy * f;
    sdd_ += cdd + dd * dd * f;
    sxy_ += dx * dy * f;
    sxd_ += cxd + dx * dd * f;
    syd_ += dy * dd * f;
    mx_ += dx * c / nab;
    my_ += dy * c / nab;
    md_ += dd * c / nab;
    n_ = nab;
}

void PlaneSums::add_line(double y, const double *x, const double *d, size_t n) {
    if (n == 0) return;
    double sx = 0, sd = 0;
    for (size_t j = 0; j < n; j++) sx += x[j], sd += d[j];
    const double c = double(n), mean_x = sx / c, mean_d = sd / c;
    double cxx = 0, cxd = 0, cdd = 0;
    for (size_t j = 0; j < n; j++) {
        const double u = x[j] - mean_x, w = d[j] - mean_d;
        cxx += u * u;
        cxd += u * w;
        cdd += w * w;
    }
    add_line(c, y, mean_x, mean_d, cxx, cxd, cdd);
}

PlaneTrend PlaneSums::fit(bool slopes_known) const {
    PlaneTrend p;
    if (!(n_ >= 3 && sdd_ > 0)) return p;
    // The normal equations of the slopes; where the cells lie on a line
    // (one line or one column), the slope along it alone.
    const double det = sxx_ * syy_ - sxy_ * sxy_;
    if (sxx_ > 0 && syy_ > 0 && det > 1e-12 * sxx_ * syy_) {
        p.east = (sxd_ * syy_ - syd_ * sxy_) / det;
        p.north = (syd_ * sxx_ - sxd_ * sxy_) / det;
    } else if (sxx_ > 0) {
        p.east = sxd_ / sxx_;
    } else if (syy_ > 0) {
        p.north = syd_ / syy_;
    } else {
        return p;
    }
    p.explained = std::clamp((p.east * sxd_ + p.north * syd_) / sdd_, 0.0, 1.0);
    p.defined = true;
    p.slopes_known = slopes_known;
    return p;
}

Json plane_json(const PlaneTrend &p) {
    const bool slopes = p.defined && p.slopes_known;
    return {{"east_m_per_km", slopes ? Json(p.east * 1000) : Json(nullptr)},
            {"north_m_per_km", slopes ? Json(p.north * 1000) : Json(nullptr)},
            {"variance_explained", p.defined ? Json(p.explained) : Json(nullptr)}};
}

namespace {

std::string metres(double v) { return fixed_decimals(v, 3) + " m"; }

// The import's co-registration gives its warnings as it prints them,
// after "warning: "; the report's own say it on their line.
std::string unprefixed(const std::string &w) { return w.starts_with("warning: ") ? w.substr(9) : w; }

// What the import warned of, by the words its warnings open with.
enum class Seen { ranges, mean, tilt, other };

Seen seen_in(const std::string &warning) {
    const std::string w = unprefixed(warning);
    if (w.starts_with("the values of FIRST ")) return Seen::ranges;
    if (w.starts_with("the mean difference")) return Seen::mean;
    if (w.starts_with("a plane explains ")) return Seen::tilt;
    return Seen::other;
}

bool import_said(const std::vector<std::string> &warnings, Seen kind) {
    return std::any_of(warnings.begin(), warnings.end(), [&](const std::string &w) { return seen_in(w) == kind; });
}

// The report's own checks of the values.
void check_values(const PlausibilityFacts &f, const std::vector<std::string> &imported, std::vector<std::string> &w) {
    if (!f.dem || f.n < 1) return;
    if ((f.hi[0] < f.lo[1] || f.hi[1] < f.lo[0]) && !import_said(imported, Seen::ranges))
        w.push_back("the values of FIRST (" + fixed_decimals(f.lo[0], 3) + " .. " + metres(f.hi[0]) +
                    ") and SECOND (" + fixed_decimals(f.lo[1], 3) + " .. " + metres(f.hi[1]) + ") on the " +
                    std::to_string(f.n) +
                    " positions compared do not overlap: a unit wrongly declared, another vertical datum or rasters "
                    "of different places usually cause this");
    if (std::fabs(f.mean_diff) > std::max(f.sd[0], f.sd[1]) && !import_said(imported, Seen::mean))
        w.push_back("the mean difference, " + metres(f.mean_diff) +
                    ", is larger than the spread of either raster's values (sd " + metres(f.sd[0]) + " and " +
                    metres(f.sd[1]) + "): a unit or datum error usually causes this");
    if (f.r < 0.5)
        w.push_back("the correlation r of FIRST and SECOND, " + fixed_decimals(f.r, 3) +
                    ", is below 0.5: the fitted line and the residuals then describe little; rasters of different "
                    "places or times, or a large shift between them, usually cause this");
}

void check_coreg(const CoregFigures &c, std::vector<std::string> &w) {
    if (!c.known || !c.all_known) return;
    if (!c.applied && c.refused_known)
        w.push_back("the co-registration's shift (" + metres(c.refused_dx_m) + " east, " + metres(c.refused_dy_m) +
                    " north) was refused: it would have taken the NMAD from " + metres(c.refused_before) + " to " +
                    metres(c.refused_after) + " on " + std::to_string(c.refused_n) +
                    " cells, too little a gain; a surface that changed, too few stable cells or DEMs without a "
                    "shift between them usually cause this");
    if (c.nmad_all_after > c.nmad_all_before)
        w.push_back("the co-registration worsened the agreement: the NMAD rose from " + metres(c.nmad_all_before) +
                    " to " + metres(c.nmad_all_after) + " on the " + std::to_string(c.n_all) +
                    " cells with data in both; a surface that changed or too few stable cells usually cause this");
    for (const std::string &t : c.warnings) w.push_back(unprefixed(t));
}

}  // namespace

std::vector<std::string> plausibility_warnings(const PlausibilityFacts &f) {
    const std::vector<std::string> none;
    const std::vector<std::string> &imported = f.inputs && f.inputs->known ? f.inputs->warnings : none;
    std::vector<std::string> w = imported;
    check_values(f, imported, w);
    const std::vector<std::string> &tilts = f.coreg ? f.coreg->warnings : none;
    if (f.coreg) check_coreg(*f.coreg, w);
    const PlaneTrend &p = f.plane;
    if (f.dem && p.defined && p.explained > kPlaneShare && !import_said(tilts, Seen::tilt)) {
        std::string tilt;
        if (p.slopes_known)
            tilt = " (a tilt of " + fixed_decimals(p.east * 1000, 3) + " m/km east and " +
                   fixed_decimals(p.north * 1000, 3) + " m/km north)";
        // After --deramp the advice would be the tilt taken out already.
        const bool deramped = f.coreg && f.coreg->deramp_order > 0;
        w.push_back("a plane explains " + fixed_decimals(100 * p.explained, 0) +
                    " % of the variance of the differences" + tilt +
                    ": one DEM tilted against the other usually causes this; " +
                    (deramped ? "the tilt karvel-import's --deramp took out did not take it all"
                              : "karvel-import --coregister --deramp fits the tilt and takes it out"));
    }
    return w;
}
