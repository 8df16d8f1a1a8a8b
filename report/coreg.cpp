#include "coreg.h"

#include <cmath>

#include "label.h"
#include "numfmt.h"

namespace {

std::string metres(double v) {
    std::string s;
    append_lf(s, v);
    return s + " m";
}

}  // namespace

std::string parse_coreg(const std::string &text, CoregFigures &c) {
    c = CoregFigures{};
    const Json j = json_members(text);
    double iterations = 0, n_fit = 0;
    const std::pair<const char *, double *> keys[] = {{"dx_m", &c.dx_m},
                                                      {"dy_m", &c.dy_m},
                                                      {"dz_m", &c.dz_m},
                                                      {"iterations", &iterations},
                                                      {"nmad_before", &c.nmad_before},
                                                      {"nmad_after", &c.nmad_after},
                                                      {"n_fit", &n_fit}};
    for (const auto &[key, into] : keys) {
        const auto it = j.find(key);
        if (it == j.end() || !it->is_number() || !std::isfinite(*into = it->get<double>()))
            return std::string("its \"") + key + "\" is missing or not a number";
    }
    c.iterations = (long long)iterations;
    c.n_fit = (long long)n_fit;
    const auto bias = j.find("bias_removed");
    c.bias_removed = bias != j.end() && bias->is_boolean() && bias->get<bool>();
    c.known = true;
    return "";
}

std::vector<std::string> coreg_lines(const CoregFigures &c) {
    if (!c.known) return {};
    return {headline_label("Co-registration: SECOND moved east") + metres(c.dx_m),
            headline_label("Co-registration: SECOND moved north") + metres(c.dy_m),
            headline_label(c.bias_removed ? "Vertical bias dz (removed)" : "Vertical bias dz (left in)") +
                metres(c.dz_m),
            headline_label("NMAD before co-registration") + metres(c.nmad_before),
            headline_label("NMAD after co-registration") + metres(c.nmad_after)};
}

Json coreg_json(const CoregFigures &c) {
    // In metres to the micrometre, as karvel-import writes them.
    return {{"dx_m", fixed_number(c.dx_m, 6)},
            {"dy_m", fixed_number(c.dy_m, 6)},
            {"dz_m", fixed_number(c.dz_m, 6)},
            {"bias_removed", c.bias_removed},
            {"iterations", c.iterations},
            {"nmad_before", fixed_number(c.nmad_before, 6)},
            {"nmad_after", fixed_number(c.nmad_after, 6)},
            {"n_fit", c.n_fit}};
}
