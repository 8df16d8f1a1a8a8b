#include "figures.h"

#include <cmath>
#include <limits>
#include <map>

#include "headline.h"
#include "label.h"
#include "numfmt.h"

namespace {

// The NSSDA's vertical accuracy at 95 % from the RMSE of normally
// distributed errors.
constexpr double kNssdaFactor = 1.96;

const char *const kReasonLabels[kReasons] = {"",
                                             "Left out: no position on the DEM's system",
                                             "Left out: no elevation",
                                             "Left out: outside the DEM",
                                             "Left out: on a cell without data",
                                             "Left out: a neighbour without data"};

}  // namespace

PointFigures point_figures(const std::vector<double> &d, const std::vector<Reason> &reason, double e) {
    PointFigures f;
    std::vector<double> kept;
    for (size_t k = 0; k < d.size(); k++) {
        if (reason[k] != Reason::none) {
            f.left_out[size_t(reason[k])]++;
            continue;
        }
        kept.push_back(d[k]);
    }
    const size_t n = kept.size();
    f.n = (long long)n;
    f.with_checkpoints = e >= 0;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    if (n == 0) {
        f.mean_diff = f.sd_diff = f.rmse = f.median_diff = f.nmad = f.le90 = f.le95 = f.min_diff = f.max_diff =
            f.nssda_95 = f.rmse_with_checkpoints = nan;
    } else {
        double sum = 0, sq = 0, mn = kept[0], mx = kept[0];
        for (double v : kept) {
            sum += v;
            sq += v * v;
            mn = std::min(mn, v);
            mx = std::max(mx, v);
        }
        f.mean_diff = sum / double(n);
        double dev = 0;
        for (double v : kept) dev += (v - f.mean_diff) * (v - f.mean_diff);
        f.sd_diff = n > 1 ? std::sqrt(dev / double(n - 1)) : nan;
        f.rmse = std::sqrt(sq / double(n));
        f.min_diff = mn, f.max_diff = mx;
        // The report's exact ranks.
        Headline h;
        held_ranks(kept.data(), n, h);
        f.median_diff = h.median_diff, f.nmad = h.nmad, f.le90 = h.le90, f.le95 = h.le95;
        f.nssda_95 = kNssdaFactor * f.rmse;
        f.rmse_with_checkpoints = std::sqrt(f.rmse * f.rmse + e * e);
    }
    if (f.n < kFewestPoints)
        f.warnings.push_back("only " + std::to_string(f.n) + " check point" + (f.n == 1 ? "" : "s") +
                             " with a difference: the ASPRS standards ask for at least " +
                             std::to_string(kFewestPoints));
    return f;
}

std::vector<ClassFigures> class_figures(const std::vector<double> &d, const std::vector<Reason> &reason,
                                        const std::vector<std::string> &cls, double e) {
    std::map<std::string, std::vector<size_t>> members;
    for (size_t k = 0; k < cls.size(); k++) members[cls[k]].push_back(k);
    std::vector<ClassFigures> out;
    for (const auto &[c, ks] : members) {
        std::vector<double> dc;
        std::vector<Reason> rc;
        for (size_t k : ks) dc.push_back(d[k]), rc.push_back(reason[k]);
        out.push_back({c, point_figures(dc, rc, e)});
    }
    return out;
}

void figures_json(const PointFigures &f, Json &j) {
    j["n"] = f.n;
    Json left = Json::object();
    for (int r = 1; r < kReasons; r++) left[reason_word(Reason(r))] = f.left_out[size_t(r)];
    j["n_left_out"] = left;
    j["unit"] = "m";
    const std::pair<const char *, double> keys[] = {{"mean_diff", f.mean_diff}, {"sd_diff", f.sd_diff},
                                                    {"rmse", f.rmse},           {"median_diff", f.median_diff},
                                                    {"nmad", f.nmad},           {"le90", f.le90},
                                                    {"le95", f.le95},           {"min_diff", f.min_diff},
                                                    {"max_diff", f.max_diff},   {"nssda_95", f.nssda_95}};
    for (const auto &[key, v] : keys) j[key] = v;
    if (f.with_checkpoints) j["rmse_with_checkpoints"] = f.rmse_with_checkpoints;
    j["warnings"] = f.warnings;
}

std::vector<std::string> figures_lines(const PointFigures &f) {
    std::vector<std::string> out;
    out.push_back(headline_label("Check points compared") + std::to_string(f.n));
    for (int r = 1; r < kReasons; r++)
        if (f.left_out[size_t(r)] > 0)
            out.push_back(headline_label(kReasonLabels[r]) + std::to_string(f.left_out[size_t(r)]));
    const std::pair<const char *, double> rows[] = {{"Mean difference (DEM - points)", f.mean_diff},
                                                    {"Standard deviation of the differences", f.sd_diff},
                                                    {"RMSE (over n)", f.rmse},
                                                    {"Median difference", f.median_diff},
                                                    {"NMAD", f.nmad},
                                                    {"LE90 (90th percentile of |d|)", f.le90},
                                                    {"LE95 (95th percentile of |d|)", f.le95},
                                                    {"Smallest difference", f.min_diff},
                                                    {"Largest difference", f.max_diff},
                                                    {"NSSDA accuracy at 95 % (1.96 x RMSE)", f.nssda_95}};
    auto value = [](double v) {
        std::string s;
        if (!std::isfinite(v)) return std::string("not defined");
        append_lf(s, v);
        return s + " m";
    };
    for (const auto &[label, v] : rows) out.push_back(headline_label(label) + value(v));
    if (f.with_checkpoints)
        out.push_back(headline_label("RMSE with the check points' own") + value(f.rmse_with_checkpoints));
    for (const std::string &w : f.warnings) out.push_back("Warning: " + w);
    return out;
}
