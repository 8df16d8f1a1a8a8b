// The command line of karvel-report.
#ifndef KARVEL_REPORT_OPTIONS_H
#define KARVEL_REPORT_OPTIONS_H

#include <string>
#include <vector>

#include "classes.h"
#include "readers/change_budget.h"
#include "command_line.h"

struct Options {
    std::string folder, result;
    std::vector<double> slope_edges = default_slope_edges();
    bool edges_given = false;
    std::string classes;  // the raster of classes, as given
    ChangeOptions change;  // the change budget (--change)
    std::string zones;     // the zones' vector file, FILE or FILE:FIELD, as given
    bool uncertainty = false;  // the standard errors of the means from the variogram (--uncertainty)
};

// The options and operands of a report, each taken into o.
CommandLine report_command_line(Options &o);

// Parses the command line: true with the options, or false with the exit
// status once the usage is printed (--help) or a usage error reported.
bool parse_options(const std::vector<std::string> &args, Options &o, int &status);

// What --help prints.
std::string report_usage();

#endif
