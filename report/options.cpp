#include "options.h"

#include <cstdio>

#include "paths.h"
#include "report.h"

CommandLine report_command_line(Options &o) {
    CommandLine cl;
    cl.program = "karvel-report";
    cl.synopsis = "[--slope-edges E0,E1,...] [--classes RASTER] FOLDER RESULT";
    cl.description =
        "Reports the comparison that karvel wrote as RESULT_karvel.txt (and its two\n"
        "tables) in FOLDER, a folder of the images directory (" +
        std::string(kShownRoot) +
        "FOLDER).\n"
        "It reads both rasters again, as karvel read them, and writes in FOLDER:\n"
        "  RESULT_report.json   the headline figures (also shown on the console)\n"
        "  RESULT_diff.tif      second - first, float32 GeoTIFF\n"
        "  RESULT_resid.tif     second - (B0 + B1 x first), float32 GeoTIFF\n"
        "  RESULT_dod.tif       with --change, the change detected (d), float32\n"
        "  RESULT_report.pdf    the headline table and every figure, one per page\n"
        "  RESULT_report/       each figure as a PNG, with the gnuplot script and the\n"
        "                       data that drew it (redraw one with: gnuplot FILE.gp)\n"
        "\n"
        "For DEMs the figures are also given by class of the first DEM's slope\n"
        "(degrees, GDAL's DEM processing), [0,5) [5,10) [10,25) [25,40) [40,90]:\n";
    cl.help_column = 27;
    cl.options = {
        Option("slope-edges", Takes::one, "E0,E1,...",
               "other edges (increasing, 0 to 90; the last class\n"
               "holds its upper edge)",
               [&o](const std::vector<std::string> &v) -> std::string {
                   const std::string p = parse_slope_edges(v[0], o.slope_edges);
                   if (!p.empty()) return "--slope-edges " + printable(v[0]) + ": " + p;
                   o.edges_given = true;
                   return "";
               }),
        Option("classes", Takes::one, "RASTER",
               "also by the classes of RASTER (any raster of whole\n"
               "numbers GDAL reads; its nodata cells belong to no\n"
               "class), brought onto the compared grid by GDAL's\n"
               "warper (nearest neighbour)",
               [&o](const std::vector<std::string> &v) -> std::string {
                   if (v[0].empty()) return "--classes needs a raster";
                   o.classes = v[0];
                   return "";
               }),
        Option("change", Takes::none, "",
               "the change budget: eroded and deposited areas and\n"
               "volumes, all and past a threshold (one of these):",
               [&o](const std::vector<std::string> &) -> std::string {
                   o.change.on = true;
                   return "";
               }),
        Option("lod", Takes::one, "M", "  detected where |d| > M metres",
               [&o](const std::vector<std::string> &v) { return take_lod(v[0], o.change); }),
        Option("sigma", Takes::one, "S1[,S2]",
               "  detected where |d| >= z sqrt(S1^2 + S2^2), each\n"
               "  survey's standard error in metres (one: both);\n"
               "  --sigma stable: sqrt(S1^2 + S2^2) taken as the NMAD\n"
               "  of d on the stable cells of each slope class (at\n"
               "  least 100, else of all stable cells)",
               [&o](const std::vector<std::string> &v) { return take_sigma(v[0], o.change); }),
        Option("stable", Takes::one, "MASK",
               "  the stable cells: MASK not zero (any raster GDAL\n"
               "  reads, brought onto the grid as --classes is);\n"
               "  also those of --uncertainty",
               [&o](const std::vector<std::string> &v) -> std::string {
                   if (v[0].empty()) return "--stable needs a raster";
                   o.change.stable = v[0];
                   return "";
               }),
        Option("confidence", Takes::one, "P",
               "  z = the normal quantile of (1 + P) / 2 (default\n"
               "  0.95)",
               [&o](const std::vector<std::string> &v) { return take_confidence(v[0], o.change); }),
        Option("zones", Takes::one, "FILE[:FIELD]",
               "also by zone: the polygons of any vector file GDAL\n"
               "reads (its first layer), a zone for each value of\n"
               "FIELD (default: each feature), with --change each\n"
               "zone's budget",
               [&o](const std::vector<std::string> &v) -> std::string {
                   if (v[0].empty()) return "--zones needs a vector file";
                   o.zones = v[0];
                   return "";
               }),
        Option("uncertainty", Takes::none, "",
               "the standard error of each mean difference (and\n"
               "detected volume) with errors correlated in space:\n"
               "sigma_dh by slope class and the variogram of the\n"
               "stable cells (--stable MASK; without it all cells,\n"
               "real change then counting as error)",
               [&o](const std::vector<std::string> &) -> std::string {
                   o.uncertainty = true;
                   return "";
               }),
    };
    cl.closing =
        "Exit status: 0 when everything was written, 1 when refused or a file could\n"
        "not be written, 2 for a usage error.\n";
    cl.operands = [&o](const std::vector<std::string> &words) -> std::string {
        if (words.size() != 2) return "expected a folder and a result name";
        o.folder = words[0];
        o.result = words[1];
        return "";
    };
    return cl;
}

bool parse_options(const std::vector<std::string> &args, Options &o, int &status) {
    const CommandLine cl = report_command_line(o);
    if (const std::optional<int> done = read_command_line(cl, args)) {
        status = *done;
        return false;
    }
    // --stable also names the stable cells of --uncertainty, with any budget or none.
    ChangeOptions change = o.change;
    if (o.uncertainty && change.method != ChangeMethod::stable) change.stable.clear();
    if (const std::string p = change_options_problem(change); !p.empty()) {
        std::fputs(usage_error_text(cl, p).c_str(), stderr);
        status = kReportUsage;
        return false;
    }
    // Operands that make a command line but name no result karvel writes.
    status = kReportUsage;
    std::string p = answer_problem(o.folder, kMaxFolder);
    if (!p.empty()) {
        std::fprintf(stderr, "karvel-report: the folder %s is not one karvel takes: %s\n", printable(o.folder).c_str(),
                     p.c_str());
        return false;
    }
    // The rule of karvel-import: a folder within the images directory, not
    // an absolute one, whose ".." segments never lead out of it.
    p = folder_problem(o.folder);
    if (!p.empty()) {
        std::fprintf(stderr, "karvel-report: the folder \"%s\" %s\n", printable(o.folder).c_str(), p.c_str());
        return false;
    }
    p = answer_problem(o.result, kMaxName);
    if (!p.empty()) {
        std::fprintf(stderr, "karvel-report: the result name %s is not one karvel takes: %s\n",
                     printable(o.result).c_str(), p.c_str());
        return false;
    }
    status = kReportDone;
    return true;
}

std::string report_usage() {
    Options unused;
    return usage_text(report_command_line(unused));
}
