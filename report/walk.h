// The report's one walk over both rasters: each line read, its differences
// and residuals formed once, and handed to the readers (reader.h) in the
// order they are listed; the lines of the readers behind the walk go to a
// helper thread.
#ifndef KARVEL_REPORT_WALK_H
#define KARVEL_REPORT_WALK_H

#include <string>
#include <vector>

#include "inputs.h"
#include "reader.h"

struct WalkPlan {
    int lines = 0;
    double b0 = 0, b1 = 1;  // the fitted line the residuals are taken against
    // GDAL's text progress on standard error, after a line that names the
    // two rasters as shown.
    bool progress = false;
    std::string first_shown, second_shown;
};

// Starts the readers (Reader::start), then walks the lines of `pairs` from
// the first: for each, the readers' room, the line, its kept positions (the
// pairs compacted), and the line handed to those behind. Empty on success,
// else the first problem, where the walk stopped. `kept` receives the
// positions kept.
std::string walk_lines(BothLines &pairs, const WalkPlan &plan, const std::vector<Reader *> &readers, long long &kept);

#endif
