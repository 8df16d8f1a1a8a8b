#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "units.h"

namespace {

// The resampling methods of GDAL's warper.
const char *const kMethods[] = {"near", "bilinear", "cubic", "cubicspline", "lanczos", "average", "rms",
                                "mode",  "max",      "min",   "med",         "q1",      "q3",      "sum"};

bool known_method(const std::string &m) {
    for (const char *k : kMethods)
        if (m == k) return true;
    return false;
}

}  // namespace

std::string usage_text(const std::string &program) {
    return "Usage: " + program +
           " [OPTIONS] FIRST SECOND FOLDER\n"
           "Writes two rasters that GDAL reads (GeoTIFF, ENVI, ASCII grid, ...) into FOLDER of karvel's\n"
           "images directory as karvel's raw rasters with their description files and headers, and the\n"
           "answers of karvel's dialogue that compare them.\n"
           "\n"
           "  --names A B        base names of the two rasters in FOLDER (default: the file names of the\n"
           "                     inputs without extension; \"first\" and \"second\" when they are equal)\n"
           "  --result R         result name of the comparison; the answers go to FOLDER/R.answers (default cmp)\n"
           "  --band N           the band of each input to read (default 1)\n"
           "  --unit m|dm|cm|mm  unit of a DEM that has to be converted (default mm)\n"
           "  --crop             cut both inputs to the largest window in which both have data\n"
           "  --align[=METHOD]   resample SECOND onto FIRST's grid with GDAL's warper (default bilinear;\n"
           "                     near, bilinear, cubic, cubicspline, lanczos, average, rms, mode, max, min,\n"
           "                     med, q1, q3, sum)\n"
           "  --coregister[=xy|xyz]\n"
           "                     find the horizontal shift of SECOND against FIRST (Nuth and Kaab) and\n"
           "                     remove it, resampling SECOND onto FIRST's grid (--align's method); with\n"
           "                     xyz the vertical bias too. Writes FOLDER/R_coreg.json\n"
           "  --stable MASK      fit the shift only where MASK (any GDAL raster on FIRST's coordinate\n"
           "                     system) is non-zero: stable ground\n"
           "  --help             print this text\n"
           "\n"
           "Exit status: 0 when both rasters are written, 1 when an input is refused (nothing is then\n"
           "written), 2 for a usage error.\n";
}

std::string parse_options(int argc, const char *const *argv, ImportOptions &o) {
    std::vector<std::string> operands;
    bool options_end = false;
    for (int i = 0; i < argc; i++) {
        std::string arg = argv[i];
        if (options_end || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            if (arg.size() > 1 && arg[0] == '-' && !options_end) return "unknown option " + arg;
            operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_end = true;
            continue;
        }
        std::string key = arg, value;
        bool inline_value = false;
        size_t eq = arg.find('=');
        if (eq != std::string::npos) {
            key = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inline_value = true;
        }
        auto take_value = [&](std::string &into) -> std::string {
            if (inline_value) {
                into = value;
                return "";
            }
            if (i + 1 >= argc) return key + " needs a value";
            into = argv[++i];
            return "";
        };
        std::string problem;
        if (key == "--help" && !inline_value) {
            o.help = true;
        } else if (key == "--crop" && !inline_value) {
            o.crop = true;
        } else if (key == "--align") {
            o.align = true;
            if (inline_value) {
                if (!known_method(value)) return "--align: \"" + value + "\" is not a resampling method of GDAL's warper";
                o.method = value;
            }
        } else if (key == "--coregister") {
            o.coregister = true;
            if (inline_value && value != "xy" && value != "xyz")
                return "--coregister: \"" + value + "\" is neither xy nor xyz";
            o.remove_bias = inline_value && value == "xyz";
        } else if (key == "--stable") {
            if (!(problem = take_value(o.stable)).empty()) return problem;
            if (o.stable.empty()) return "--stable needs a mask raster";
        } else if (key == "--names" && !inline_value) {
            if (i + 2 >= argc) return "--names needs two names";
            o.name1 = argv[++i];
            o.name2 = argv[++i];
        } else if (key == "--result") {
            if (!(problem = take_value(o.result)).empty()) return problem;
        } else if (key == "--band") {
            std::string text;
            if (!(problem = take_value(text)).empty()) return problem;
            char *end = nullptr;
            errno = 0;
            long n = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || errno != 0 || n < 1 || n > 1000000)
                return "--band: \"" + text + "\" is not a band number (1, 2, ...)";
            o.band = int(n);
        } else if (key == "--unit") {
            std::string text;
            if (!(problem = take_value(text)).empty()) return problem;
            o.unit = unit_answer_of(text);
            if (o.unit < 0) return "--unit: \"" + text + "\" is not one of m, dm, cm, mm";
        } else {
            return "unknown option " + arg;
        }
    }
    if (o.help) return "";
    if (!o.stable.empty() && !o.coregister) return "--stable MASK works with --coregister only";
    if (operands.size() != 3)
        return "expected FIRST SECOND FOLDER, got " + std::to_string(operands.size()) + " operand" +
               (operands.size() == 1 ? "" : "s");
    o.first = operands[0];
    o.second = operands[1];
    o.folder = operands[2];
    return "";
}
