// The command line of karvel-points.
#ifndef KARVEL_POINTS_OPTIONS_H
#define KARVEL_POINTS_OPTIONS_H

#include <optional>
#include <string>

#include "command_line.h"

struct PointsOptions {
    std::string dem, points, folder;  // the operands
    std::string result = "points";    // --result
    int band = 1;                     // --band
    std::string z_field;              // --z FIELD: the elevation from this field, not from Z
    std::string columns[3];           // --columns X,Y,Z of a CSV; empty: the usual names
    std::string srs;                  // --srs: the points' coordinate system, as given
    std::string unit = "m";           // --unit: of the points' elevations
    bool near = false;                // --sample near
    bool rmse_given = false;          // --checkpoint-rmse E
    double checkpoint_rmse = 0;
    std::string class_field;   // --class-field
    bool coregister = false;   // --coregister
    bool remove_bias = false;  // --coregister=xyz
    bool help = false;
};

// The options and operands, each taken into o; the usage text ends with
// the images directory configured as `images_root`.
CommandLine points_command_line(const std::string &program, const std::string &images_root, PointsOptions &o);

// Nothing when the arguments (without the program's name) make a command;
// else the exit status, once the usage or the usage error is printed.
std::optional<int> parse_points_options(const std::vector<std::string> &args, const std::string &program,
                                        const std::string &images_root, PointsOptions &o);

#endif
