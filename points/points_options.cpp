#include "points_options.h"

#include <vector>

namespace {

using Values = std::vector<std::string>;

// X,Y,Z: three names, none empty.
std::string take_columns(const std::string &text, PointsOptions &o) {
    std::string names[3];
    size_t k = 0, from = 0;
    for (; k < 3; k++) {
        const size_t comma = text.find(',', from);
        names[k] = text.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        if (comma == std::string::npos) break;
        from = comma + 1;
    }
    if (k != 2 || names[0].empty() || names[1].empty() || names[2].empty())
        return "--columns: \"" + text + "\" is not three column names X,Y,Z";
    for (int j = 0; j < 3; j++) o.columns[j] = names[j];
    return "";
}

std::vector<Option> reading_options(PointsOptions &o) {
    return {
        text_option("result", "R", "result name: FOLDER/R_points.json, ... (default points)", o.result,
                    "a result name"),
        band_option("the band of DEM to read (default 1)", o.band),
        text_option("z", "FIELD", "the points' elevations from this field, not from their Z", o.z_field,
                    "a field name"),
        Option("columns", Takes::one, "X,Y,Z",
               "the columns of a CSV file (default: the names GDAL's CSV reader knows,\n"
               "x, lon, longitude, easting; y, lat, latitude, northing; z, elevation, ...)",
               [&o](const Values &v) { return take_columns(v[0], o); }),
        text_option("srs", "SRS",
                    "the points' coordinate system (EPSG:4326, WKT, PROJ, ...), in place of\ntheir file's", o.srs,
                    "a coordinate system"),
        Option("unit", Takes::one, "m|ft|us-ft", "the unit of the points' elevations (default m)",
               [&o](const Values &v) -> std::string {
                   if (v[0] != "m" && v[0] != "ft" && v[0] != "us-ft")
                       return "--unit: \"" + v[0] + "\" is not one of m, ft, us-ft";
                   o.unit = v[0];
                   return "";
               }),
    };
}

std::vector<Option> figure_options(PointsOptions &o) {
    return {
        Option("sample", Takes::one, "bilinear|near",
               "the DEM's elevation at a point: bilinear between the four cell centres\n"
               "around it (the default), or the cell it lies in",
               [&o](const Values &v) -> std::string {
                   if (v[0] != "bilinear" && v[0] != "near")
                       return "--sample: \"" + v[0] + "\" is neither bilinear nor near";
                   o.near = v[0] == "near";
                   return "";
               }),
        Option("checkpoint-rmse", Takes::one, "E",
               "the check points' own vertical RMSE in metres: the product's RMSE is\n"
               "given with it too, sqrt(RMSE^2 + E^2)",
               [&o](const Values &v) -> std::string {
                   const std::optional<double> e = decimal_number(v[0]);
                   if (!e || *e < 0) return "--checkpoint-rmse: \"" + v[0] + "\" is not a length of 0 or more";
                   o.rmse_given = true;
                   o.checkpoint_rmse = *e;
                   return "";
               }),
        text_option("class-field", "FIELD", "the figures for each value of this field of the points too", o.class_field,
                    "a field name"),
        coregister_option("find the horizontal shift of DEM against the points (Nuth and Kaab) and\n"
                          "give the figures with DEM moved by it; with xyz its bias removed too.\n"
                          "Writes FOLDER/R_coreg.json",
                          o.coregister, o.remove_bias),
    };
}

}  // namespace

CommandLine points_command_line(const std::string &program, const std::string &images_root, PointsOptions &o) {
    CommandLine cl;
    cl.program = program;
    cl.synopsis = "[OPTIONS] DEM POINTS FOLDER";
    cl.description =
        "Compares DEM (a raster GDAL reads) with surveyed check points (a vector file GDAL reads, or a\n"
        "CSV file) and writes the accuracy figures into FOLDER of karvel's images directory:\n"
        "FOLDER/R_points.json, R_points.csv, R_points.gpkg and the figures.\n";
    cl.options = reading_options(o);
    for (Option &option : figure_options(o)) cl.options.push_back(std::move(option));
    cl.closing =
        "Exit status: 0 when the figures are written, 1 when an input is refused (nothing is then\n"
        "written), 2 for a usage error.\n";
    cl.closing += images_dir_note(images_root);
    cl.operands = [&o](const Values &operands) -> std::string {
        if (operands.size() != 3) return operand_count_problem("DEM POINTS FOLDER", operands.size());
        o.dem = operands[0];
        o.points = operands[1];
        o.folder = operands[2];
        return "";
    };
    return cl;
}

std::optional<int> parse_points_options(const std::vector<std::string> &args, const std::string &program,
                                        const std::string &images_root, PointsOptions &o) {
    const std::optional<int> done = read_command_line(points_command_line(program, images_root, o), args);
    o.help = done == kHelpShown;
    return done;
}
