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

// Reads the numbers named into their places; what is wrong, or empty.
std::string read_numbers(const Json &j, std::initializer_list<std::pair<const char *, double *>> keys) {
    for (const auto &[key, into] : keys) {
        const auto it = j.find(key);
        if (it == j.end() || !it->is_number() || !std::isfinite(*into = it->get<double>()))
            return std::string("its \"") + key + "\" is missing or not a number";
    }
    return "";
}

bool flag(const Json &j, const char *key, bool otherwise) {
    const auto it = j.find(key);
    return it != j.end() && it->is_boolean() ? it->get<bool>() : otherwise;
}

// The shift refused and what it would have given, where the import says
// so (a member that cannot be read leaves them unknown).
void read_refused(const Json &j, CoregFigures &c) {
    const auto it = j.find("refused");
    if (it == j.end() || !it->is_object()) return;
    double n = 0;
    c.refused_known = read_numbers(*it, {{"dx_m", &c.refused_dx_m},
                                         {"dy_m", &c.refused_dy_m},
                                         {"nmad_all_before", &c.refused_before},
                                         {"nmad_all_after", &c.refused_after},
                                         {"n_all", &n}})
                          .empty();
    c.refused_n = (long long)n;
}

}  // namespace

std::string parse_coreg(const std::string &text, CoregFigures &c) {
    c = CoregFigures{};
    const Json j = json_members(text);
    double iterations = 0, n_fit = 0;
    std::string problem = read_numbers(j, {{"dx_m", &c.dx_m},
                                           {"dy_m", &c.dy_m},
                                           {"dz_m", &c.dz_m},
                                           {"iterations", &iterations},
                                           {"nmad_before", &c.nmad_before},
                                           {"nmad_after", &c.nmad_after},
                                           {"n_fit", &n_fit}});
    if (!problem.empty()) return problem;
    c.iterations = (long long)iterations;
    c.n_fit = (long long)n_fit;
    c.bias_removed = flag(j, "bias_removed", false);
    // The figures on all the cells come together, in the files of imports
    // that judge the shift on them; earlier files have none.
    if (j.contains("nmad_all_before")) {
        double n_all = 0, order = 0;
        problem = read_numbers(j, {{"nmad_all_before", &c.nmad_all_before},
                                   {"nmad_all_after", &c.nmad_all_after},
                                   {"n_all", &n_all}});
        if (!problem.empty()) return problem;
        if (j.contains("deramp_order") && !(problem = read_numbers(j, {{"deramp_order", &order}})).empty())
            return problem;
        c.n_all = (long long)n_all;
        c.deramp_order = (long long)order;
        c.applied = flag(j, "applied", true);
        c.stable_only = flag(j, "stable_only", false);
        c.all_known = true;
        read_refused(j, c);
    }
    const auto warnings = j.find("warnings");
    if (warnings != j.end() && warnings->is_array())
        for (const Json &w : *warnings)
            if (w.is_string()) c.warnings.push_back(w.get<std::string>());
    c.known = true;
    return "";
}

std::vector<std::string> coreg_lines(const CoregFigures &c) {
    if (!c.known) return {};
    std::vector<std::string> lines = {headline_label("Co-registration: SECOND moved east") + metres(c.dx_m),
                                      headline_label("Co-registration: SECOND moved north") + metres(c.dy_m)};
    if (c.all_known && !c.applied)
        lines.push_back(headline_label("Co-registration: the shift found") +
                        "not applied: it would not improve the agreement");
    if (c.all_known && c.deramp_order > 0)
        lines.push_back(headline_label("Co-registration: tilt taken out") +
                        (c.deramp_order == 1 ? "a plane" : "a surface of order 2"));
    lines.push_back(headline_label(c.bias_removed ? "Vertical bias dz (removed)" : "Vertical bias dz (left in)") +
                    metres(c.dz_m));
    if (!c.all_known) {
        lines.push_back(headline_label("NMAD before co-registration") + metres(c.nmad_before));
        lines.push_back(headline_label("NMAD after co-registration") + metres(c.nmad_after));
        return lines;
    }
    // Both on the same cells, named, so that they do not read as figures of
    // the comparison's positions.
    const std::string cells = std::to_string(c.n_all) + (c.stable_only ? " stable" : "") + " cells";
    lines.push_back(headline_label("NMAD before co-registration") + metres(c.nmad_all_before) + " on the " + cells +
                    " with data in both");
    lines.push_back(headline_label("NMAD after co-registration") + metres(c.nmad_all_after) + " on the same " + cells);
    return lines;
}

Json coreg_json(const CoregFigures &c) {
    // In metres to the micrometre, as karvel-import writes them.
    Json j = {{"dx_m", fixed_number(c.dx_m, 6)},
              {"dy_m", fixed_number(c.dy_m, 6)},
              {"dz_m", fixed_number(c.dz_m, 6)},
              {"bias_removed", c.bias_removed},
              {"iterations", c.iterations},
              {"nmad_before", fixed_number(c.nmad_before, 6)},
              {"nmad_after", fixed_number(c.nmad_after, 6)},
              {"n_fit", c.n_fit}};
    if (c.all_known) {
        j["nmad_all_before"] = fixed_number(c.nmad_all_before, 6);
        j["nmad_all_after"] = fixed_number(c.nmad_all_after, 6);
        j["n_all"] = c.n_all;
        j["stable_only"] = c.stable_only;
        j["applied"] = c.applied;
        j["deramp_order"] = c.deramp_order;
    }
    return j;
}
