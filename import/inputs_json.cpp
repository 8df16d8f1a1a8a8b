#include "inputs_json.h"

#include "crs.h"
#include "json.h"

namespace {

Json text_or_null(const std::string &s) { return s.empty() ? Json(nullptr) : Json(s); }

Json input_json(const Input &in, const std::string &given, int band) {
    const Opened &op = in.opened;
    const std::optional<int> epsg = srs_epsg(op.wkt);
    const bool dem = in.plan.kind != Kind::image8;
    Json j = {{"source", given},
              {"band", band},
              {"srs_name", op.wkt.empty() ? Json(nullptr) : Json(srs_name(op.wkt))},
              {"epsg", epsg ? Json(*epsg) : Json(nullptr)},
              {"srs_assigned", op.srs_assigned}};
    j["cell_size_m"] = op.has_cell ? Json::array({fixed_number(op.cell_width, 6), fixed_number(op.cell_height, 6)})
                                   : Json(nullptr);
    j["z_unit_declared"] = text_or_null(in.src.declared_unit);
    j["z_unit_used"] = dem ? Json(in.plan.unit.word) : Json(nullptr);
    return j;
}

}  // namespace

std::string inputs_json(const Input &a, const Input &b, const ImportOptions &o,
                        const std::vector<std::string> &warnings) {
    const bool resampling = o.align || o.coregister;
    Json import = {{"align", o.align},
                   {"resampling", resampling ? Json(o.method) : Json(nullptr)},
                   {"grid", o.second_grid ? "second" : "first"},
                   {"crop", o.crop},
                   {"coregister", !o.coregister ? Json(nullptr) : Json(o.remove_bias ? "xyz" : "xy")},
                   {"stable", text_or_null(o.stable)}};
    import["names"] = o.name1.empty() ? Json(nullptr) : Json::array({o.name1, o.name2});
    import["result"] = o.result;
    import["unit"] = unit_word(o.unit);
    const Json tree = {{"first", input_json(a, o.first, o.band)},
                       {"second", input_json(b, o.second, o.band)},
                       {"import", import},
                       {"warnings", warnings}};
    return json_text(tree);
}
