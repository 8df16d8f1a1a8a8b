// The command line of karvel-import.
#ifndef KARVEL_IMPORT_OPTIONS_H
#define KARVEL_IMPORT_OPTIONS_H

#include <optional>
#include <string>

#include "command_line.h"

struct ImportOptions {
    std::string first, second, folder;  // the two inputs and the folder answer
    std::string name1, name2;           // --names; empty: taken from the inputs
    std::string result = "cmp";         // --result
    int band = 1;                       // --band
    int unit = 3;                       // --unit as karvel's unit answer: 0 m, 1 dm, 2 cm, 3 mm
    bool crop = false;                  // --crop
    bool align = false;                 // --align
    std::string method = "bilinear";    // --align=METHOD
    bool coregister = false;            // --coregister
    bool remove_bias = false;           // --coregister=xyz
    std::string stable;                 // --stable MASK
    std::string srs[2];                 // --srs-first, --srs-second: as given; empty when not
    std::string z_unit[2];              // --z-unit-first, --z-unit-second: as given; empty when not
    bool grid_given = false;            // --grid
    bool second_grid = false;           // --grid second: FIRST is resampled onto SECOND's grid
    bool replace = false;               // --replace
    int deramp = 0;                     // --deramp[=1|2]: the order of the tilt, 0 for none
    bool help = false;                  // --help
};

// The options and operands of `program`, each taken into o; the usage text
// ends with the images directory configured as `images_root`.
CommandLine import_command_line(const std::string &program, const std::string &images_root, ImportOptions &o);

// Reads the arguments (without the program name) into o. Nothing when they
// make a command; else the exit status, once the usage (--help) or the
// usage error is printed.
std::optional<int> parse_options(int argc, const char *const *argv, const std::string &program,
                                 const std::string &images_root, ImportOptions &o);

#endif
