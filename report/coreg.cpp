#include "coreg.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "numfmt.h"

namespace {

// The value after "key": in the text; false when the key is missing or
// its value is not a finite number.
bool number_of(const std::string &text, const std::string &key, double &v) {
    const size_t at = text.find("\"" + key + "\":");
    if (at == std::string::npos) return false;
    const char *start = text.c_str() + at + key.size() + 3;
    char *end = nullptr;
    v = std::strtod(start, &end);
    return end != start && std::isfinite(v);
}

std::string label(const char *text) {
    std::string l = text;
    l.resize(42, ' ');
    return l + " ";
}

std::string metres(double v) {
    std::string s;
    append_lf(s, v);
    return s + " m";
}

}  // namespace

std::string parse_coreg(const std::string &text, CoregFigures &c) {
    c = CoregFigures{};
    double iterations = 0, n_fit = 0;
    const std::pair<const char *, double *> keys[] = {
        {"dx_m", &c.dx_m},           {"dy_m", &c.dy_m},           {"dz_m", &c.dz_m},       {"iterations", &iterations},
        {"nmad_before", &c.nmad_before}, {"nmad_after", &c.nmad_after}, {"n_fit", &n_fit}};
    for (const auto &[key, into] : keys)
        if (!number_of(text, key, *into)) return std::string("its \"") + key + "\" is missing or not a number";
    c.iterations = (long long)iterations;
    c.n_fit = (long long)n_fit;
    c.bias_removed = text.find("\"bias_removed\": true") != std::string::npos;
    c.known = true;
    return "";
}

std::vector<std::string> coreg_lines(const CoregFigures &c) {
    if (!c.known) return {};
    return {label("Co-registration: SECOND moved east") + metres(c.dx_m),
            label("Co-registration: SECOND moved north") + metres(c.dy_m),
            label(c.bias_removed ? "Vertical bias dz (removed)" : "Vertical bias dz (left in)") + metres(c.dz_m),
            label("NMAD before co-registration") + metres(c.nmad_before),
            label("NMAD after co-registration") + metres(c.nmad_after)};
}

std::string coreg_json(const CoregFigures &c) {
    if (!c.known) return "";
    auto num = [](double v) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.6f", v);
        return std::string(buf);
    };
    return "  \"coreg\": {\"dx_m\": " + num(c.dx_m) + ", \"dy_m\": " + num(c.dy_m) + ", \"dz_m\": " + num(c.dz_m) +
           ", \"bias_removed\": " + (c.bias_removed ? "true" : "false") + ", \"iterations\": " +
           std::to_string(c.iterations) + ", \"nmad_before\": " + num(c.nmad_before) + ", \"nmad_after\": " +
           num(c.nmad_after) + ", \"n_fit\": " + std::to_string(c.n_fit) + "},\n";
}
