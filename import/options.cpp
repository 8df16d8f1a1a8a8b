#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#include <cpl_error.h>

#include "paths.h"
#include "source.h"
#include "units.h"

namespace {

// The resampling methods of GDAL's warper.
const char *const kMethods[] = {"near", "bilinear", "cubic", "cubicspline", "lanczos", "average", "rms",
                                "mode", "max",      "min",   "med",         "q1",      "q3",      "sum"};

bool known_method(const std::string &m) {
    for (const char *k : kMethods)
        if (m == k) return true;
    return false;
}

using Values = std::vector<std::string>;

// --srs-first and --srs-second (k 0 and 1): a coordinate system GDAL takes.
Option srs_option(ImportOptions &o, int k) {
    const std::string name = k == 0 ? "srs-first" : "srs-second";
    return Option(name, Takes::one, "SRS",
                  std::string("assign ") + (k == 0 ? "FIRST" : "SECOND") +
                      " this coordinate system (EPSG:31982, WKT, PROJ, ...), as\n"
                      "gdal_translate -a_srs does; the file is not changed",
                  [&o, k, name](const Values &v) -> std::string {
                      std::string wkt;
                      CPLPushErrorHandler(CPLQuietErrorHandler);
                      const std::string problem = srs_wkt(v[0], wkt);
                      CPLPopErrorHandler();
                      if (!problem.empty())
                          return "--" + name + ": \"" + v[0] + "\" is not a coordinate system GDAL takes: " + problem;
                      o.srs[k] = v[0];
                      return "";
                  });
}

// --z-unit-first and --z-unit-second: the unit of the values.
Option z_unit_option(ImportOptions &o, int k) {
    const std::string name = k == 0 ? "z-unit-first" : "z-unit-second";
    return Option(name, Takes::one, "UNIT",
                  std::string("the unit of ") + (k == 0 ? "FIRST" : "SECOND") +
                      "'s values, whatever its band declares (m, dm, cm,\nmm, km, ft or us-ft)",
                  [&o, k, name](const Values &v) -> std::string {
                      if (!is_unit_word(v[0]))
                          return "--" + name + ": \"" + v[0] + "\" is not one of m, dm, cm, mm, km, ft, us-ft";
                      o.z_unit[k] = v[0];
                      return "";
                  });
}

// The options that name what is written, and what is read of the inputs.
std::vector<Option> naming_options(ImportOptions &o) {
    return {
        Option(
            "names", Takes::two, "A B",
            "base names of the two rasters in FOLDER (default: the file names of the\n"
            "inputs without extension; \"first\" and \"second\" when they are equal)",
            [&o](const Values &v) {
                o.name1 = v[0];
                o.name2 = v[1];
                return "";
            },
            "two names"),
        Option("result", Takes::one, "R",
               "result name of the comparison; the answers go to FOLDER/R.answers (default cmp)",
               [&o](const Values &v) {
                   o.result = v[0];
                   return "";
               }),
        band_option("the band of each input to read (default 1)", o.band),
        Option("unit", Takes::one, "m|dm|cm|mm", "unit of a DEM that has to be converted (default mm)",
               [&o](const Values &v) -> std::string {
                   o.unit = unit_answer_of(v[0]);
                   return o.unit < 0 ? "--unit: \"" + v[0] + "\" is not one of m, dm, cm, mm" : "";
               }),
        srs_option(o, 0),
        srs_option(o, 1),
        z_unit_option(o, 0),
        z_unit_option(o, 1),
        Option("replace", Takes::none, "",
               "replace rasters in FOLDER that another result's summary names (refused\n"
               "without it)",
               [&o](const Values &) {
                   o.replace = true;
                   return "";
               }),
    };
}

// The options that cut the inputs and bring SECOND onto FIRST's grid.
std::vector<Option> grid_options(ImportOptions &o) {
    return {
        Option("crop", Takes::none, "", "cut both inputs to the largest window in which both have data",
               [&o](const Values &) {
                   o.crop = true;
                   return "";
               }),
        Option("align", Takes::optional, "METHOD",
               "resample SECOND onto FIRST's grid with GDAL's warper (default bilinear;\n"
               "near, bilinear, cubic, cubicspline, lanczos, average, rms, mode, max, min,\n"
               "med, q1, q3, sum)",
               [&o](const Values &v) -> std::string {
                   o.align = true;
                   if (v.empty()) return "";
                   if (!known_method(v[0]))
                       return "--align: \"" + v[0] + "\" is not a resampling method of GDAL's warper";
                   o.method = v[0];
                   return "";
               }),
        coregister_option("find the horizontal shift of SECOND against FIRST (Nuth and Kaab) and\n"
                          "remove it, resampling SECOND onto FIRST's grid (--align's method); with\n"
                          "xyz the vertical bias too. Writes FOLDER/R_coreg.json",
                          o.coregister, o.remove_bias),
        Option("grid", Takes::one, "first|second",
               "with --align or --coregister, the grid both are compared on (default\n"
               "first); second resamples FIRST onto SECOND's grid instead",
               [&o](const Values &v) -> std::string {
                   if (v[0] != "first" && v[0] != "second")
                       return "--grid: \"" + v[0] + "\" is neither first nor second";
                   o.grid_given = true;
                   o.second_grid = v[0] == "second";
                   return "";
               }),
        Option("stable", Takes::one, "MASK",
               "fit the shift only where MASK (any GDAL raster on FIRST's coordinate\n"
               "system) is non-zero: stable ground",
               [&o](const Values &v) -> std::string {
                   o.stable = v[0];
                   return o.stable.empty() ? "--stable needs a mask raster" : "";
               }),
        Option("deramp", Takes::optional, "1|2",
               "with --coregister, fit and take out of SECOND a tilt too: a plane (1,\n"
               "the default) or a surface of order 2",
               [&o](const Values &v) -> std::string {
                   o.deramp = v.empty() ? 1 : v[0] == "1" ? 1 : v[0] == "2" ? 2 : 0;
                   return o.deramp == 0 ? "--deramp: \"" + v[0] + "\" is neither 1 nor 2" : "";
               }),
    };
}

}  // namespace

CommandLine import_command_line(const std::string &program, const std::string &images_root, ImportOptions &o) {
    CommandLine cl;
    cl.program = program;
    cl.synopsis = "[OPTIONS] FIRST SECOND FOLDER";
    cl.description =
        "Writes two rasters that GDAL reads (GeoTIFF, ENVI, ASCII grid, ...) into FOLDER of karvel's\n"
        "images directory as karvel's raw rasters with their description files and headers, and the\n"
        "answers of karvel's dialogue that compare them, with FOLDER/R_inputs.json: what produced them.\n";
    cl.options = naming_options(o);
    for (Option &option : grid_options(o)) cl.options.push_back(std::move(option));
    cl.closing =
        "Exit status: 0 when both rasters are written, 1 when an input is refused (nothing is then\n"
        "written), 2 for a usage error.\n";
    cl.closing += images_dir_note(images_root);
    cl.operands = [&o](const Values &operands) -> std::string {
        if (!o.stable.empty() && !o.coregister) return "--stable MASK works with --coregister only";
        if (o.grid_given && !o.align && !o.coregister) return "--grid works with --align or --coregister only";
        if (o.deramp > 0 && !o.coregister) return "--deramp works with --coregister only";
        if (operands.size() != 3) return operand_count_problem("FIRST SECOND FOLDER", operands.size());
        o.first = operands[0];
        o.second = operands[1];
        o.folder = operands[2];
        return "";
    };
    return cl;
}

std::optional<int> parse_options(int argc, const char *const *argv, const std::string &program,
                                 const std::string &images_root, ImportOptions &o) {
    const std::optional<int> done =
        read_command_line(import_command_line(program, images_root, o), std::vector<std::string>(argv, argv + argc));
    o.help = done == kHelpShown;
    return done;
}
