#include "provenance.h"

#include <cmath>

#include "label.h"
#include "numfmt.h"
#include "paths.h"

namespace {

// The raster's member of the file; what is wrong with it, or empty.
std::string read_source(const Json &j, const char *key, SourceRaster &r) {
    const auto it = j.find(key);
    const std::string where = std::string("its \"") + key + "\"";
    if (it == j.end() || !it->is_object()) return where + " is missing or not an object";
    const Json &o = *it;
    const auto source = o.find("source");
    if (source == o.end() || !source->is_string()) return where + " has no \"source\"";
    r.source = source->get<std::string>();
    const auto name = o.find("srs_name");
    if (name != o.end() && name->is_string()) r.srs_name = name->get<std::string>();
    const auto epsg = o.find("epsg");
    if (epsg != o.end() && epsg->is_number_integer()) r.epsg = epsg->get<long long>();
    const auto cell = o.find("cell_size_m");
    if (cell != o.end() && cell->is_array() && cell->size() == 2 && (*cell)[0].is_number() && (*cell)[1].is_number()) {
        r.cell_w = (*cell)[0].get<double>();
        r.cell_h = (*cell)[1].get<double>();
        r.cell_known = std::isfinite(r.cell_w) && std::isfinite(r.cell_h);
    }
    return "";
}

Json source_json(const SourceRaster &r) {
    Json cell = nullptr;
    if (r.cell_known) cell = Json::array({fixed_number(r.cell_w, 6), fixed_number(r.cell_h, 6)});
    return {{"source", printable(r.source)},
            {"srs_name", r.srs_name.empty() ? Json(nullptr) : Json(printable(r.srs_name))},
            {"epsg", r.epsg > 0 ? Json(r.epsg) : Json(nullptr)},
            {"cell_size_m", cell}};
}

}  // namespace

std::string parse_inputs(const std::string &text, Provenance &p) {
    p = Provenance{};
    const Json j = json_members(text);
    std::string problem = read_source(j, "first", p.first);
    if (problem.empty()) problem = read_source(j, "second", p.second);
    if (!problem.empty()) return problem;
    const auto import = j.find("import");
    if (import == j.end() || !import->is_object()) return "its \"import\" is missing or not an object";
    p.import = *import;
    const auto grid = import->find("grid");
    p.grid_second = grid != import->end() && *grid == "second";
    const auto method = import->find("resampling");
    if (method != import->end() && method->is_string()) p.resampling = method->get<std::string>();
    // The warnings come last: a file cut short has none.
    const auto warnings = j.find("warnings");
    if (warnings == j.end() || !warnings->is_array()) return "its \"warnings\" is missing or not a list";
    for (const Json &w : *warnings) {
        if (!w.is_string()) return "its \"warnings\" holds what is not text";
        p.warnings.push_back(w.get<std::string>());
    }
    p.known = true;
    return "";
}

std::vector<std::string> provenance_lines(const Provenance &p) {
    if (!p.known) return {};
    // The coordinate system and cell size are those of the grid the pair
    // was written on.
    const SourceRaster &grid = p.grid_second ? p.second : p.first;
    std::string srs = grid.srs_name.empty() ? "none" : printable(grid.srs_name);
    if (grid.epsg > 0) srs += " (EPSG:" + std::to_string(grid.epsg) + ")";
    const std::string cell =
        grid.cell_known ? exact_number(grid.cell_w) + " x " + exact_number(grid.cell_h) + " m" : std::string("not known");
    const std::string onto = p.grid_second ? "FIRST onto SECOND's grid" : "SECOND onto FIRST's grid";
    return {headline_label("First raster imported from") + printable(p.first.source),
            headline_label("Second raster imported from") + printable(p.second.source),
            headline_label("Coordinate system of the grid") + srs,
            headline_label("Cell size of the grid") + cell,
            headline_label("Resampling") +
                (p.resampling.empty() ? std::string("none") : printable(p.resampling) + ", " + onto)};
}

Json provenance_json(const Provenance &p) {
    if (!p.known) return nullptr;
    return {{"first", source_json(p.first)}, {"second", source_json(p.second)}, {"import", p.import}};
}
