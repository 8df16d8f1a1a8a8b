// karvel-points: a DEM against surveyed check points, from the command
// line to the files written.
#ifndef KARVEL_POINTS_RUN_H
#define KARVEL_POINTS_RUN_H

#include <string>
#include <vector>

// Exit statuses beyond the command line's (command_line.h).
constexpr int kPointsDone = 0;
constexpr int kPointsRefused = 1;

// Runs the program on args (without its name), writing into the images
// directory configured as images_root. The exit status.
int points_main(const std::vector<std::string> &args, const std::string &program, const std::string &images_root);

#endif
