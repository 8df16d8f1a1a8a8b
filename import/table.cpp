#include "table.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "units.h"

std::string shell_word(const std::string &s) {
    // A leading ~ would be taken for a home directory.
    bool plain = !s.empty() && s[0] != '~';
    for (char c : s)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || std::strchr("/._-+~:,@%", c) != nullptr)) plain = false;
    if (plain) return s;
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

void print_table(const Input &a, const Input &b, const Window &w, const std::string &folder_real,
                 const std::string &folder) {
    std::printf("Wrote into %s (%s):\n", printable(folder_real).c_str(), printable(shown_folder(folder)).c_str());
    std::vector<std::vector<std::string>> rows = {
        {"", "name", "file", "kind", "unit", "lines x columns", "min .. max", "rounding error", "source"}};
    for (const Input *in : {&a, &b}) {
        const Plan &p = in->plan;
        std::string unit = p.kind == Kind::image8 ? "grey level" : unit_word(p.answer);
        std::string rounding;
        if (p.exact && in->tally.max_rounding == 0)
            rounding = "none (exact)";
        else
            rounding = fixed_decimals(in->tally.max_rounding, 6) + " " + unit;
        std::string source = p.kind == Kind::image8 ? "8-bit grey levels" : GDALGetDataTypeName(in->src.type);
        if (p.kind != Kind::image8) {
            source += std::string(" in ") + (in->src.unit_type.empty() ? "m (assumed)" : in->src.unit_type);
            if (in->src.unit_assigned)
                source += " (" + in->option("z-unit") +
                          (in->src.declared_unit.empty() ? "" : "; declared " + in->src.declared_unit) + ")";
            if (in->src.scale != 1 || in->src.offset != 0)
                source += ", x " + fixed_decimals(in->src.scale, 6) + " + " + fixed_decimals(in->src.offset, 6);
        }
        rows.push_back({in->role, in->name, in->name + raster_suffix(p.kind), kind_words(p.kind), unit,
                        std::to_string(w.lines) + " x " + std::to_string(w.cols),
                        std::to_string(in->tally.min) + " .. " + std::to_string(in->tally.max), rounding, source});
    }
    std::vector<size_t> width(rows[0].size(), 0);
    for (const auto &r : rows)
        for (size_t k = 0; k < r.size(); k++) width[k] = std::max(width[k], r[k].size());
    for (const auto &r : rows) {
        std::string line = " ";
        for (size_t k = 0; k < r.size(); k++) {
            line += ' ';
            line += printable(r[k]);
            if (k + 1 < r.size()) line += std::string(width[k] - r[k].size() + 1, ' ');
        }
        std::printf("%s\n", line.c_str());
    }
}

void print_closing(const std::vector<std::string> &notes, const std::string &dir, const ImportOptions &o,
                   const ImportSetting &setting) {
    for (const std::string &n : notes) std::printf("%s\n", n.c_str());
    std::printf("Compare them with:\n  %s < %s\n", shell_word(setting.karvel_program).c_str(),
                shell_word(dir + "/" + o.result + ".answers").c_str());
    // A folder or result name that starts with '-' follows "--", which
    // ends the report's options.
    const bool dash = o.folder.starts_with('-') || o.result.starts_with('-');
    std::printf("then report the comparison with:\n  %s %s%s %s\n", shell_word(setting.report_program).c_str(),
                dash ? "-- " : "", shell_word(o.folder).c_str(), shell_word(o.result).c_str());
}
