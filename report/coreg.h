// The co-registration that karvel-import found for a result (R_coreg.json
// beside the summary), for the headline.
#ifndef KARVEL_REPORT_COREG_H
#define KARVEL_REPORT_COREG_H

#include <string>
#include <vector>

#include "json.h"

struct CoregFigures {
    bool known = false;
    double dx_m = 0, dy_m = 0, dz_m = 0, nmad_before = 0, nmad_after = 0;
    long long iterations = 0, n_fit = 0;
    bool bias_removed = false;
};

// Reads the file's text. Empty on success, else what is wrong with it.
std::string parse_coreg(const std::string &text, CoregFigures &c);

// The headline's lines for it (none when not known), and its JSON object.
std::vector<std::string> coreg_lines(const CoregFigures &c);
Json coreg_json(const CoregFigures &c);

#endif
