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
    // The NMAD as SECOND was given and as it was written, on every cell of
    // the fit's subsample with data in both (stable ones, stable_only),
    // whether the shift found was applied and the order of the tilt taken
    // out: in the files of an import that judges the shift on them.
    bool all_known = false;
    double nmad_all_before = 0, nmad_all_after = 0;
    long long n_all = 0, deramp_order = 0;
    bool stable_only = false, applied = true;
    // The shift that was found and not applied, and the NMAD it would have
    // given on those cells: where the import says so.
    bool refused_known = false;
    double refused_dx_m = 0, refused_dy_m = 0, refused_before = 0, refused_after = 0;
    long long refused_n = 0;
    // The import's warnings of the co-registration (a tilt it left in), as
    // it gave them.
    std::vector<std::string> warnings;
};

// Reads the file's text. Empty on success, else what is wrong with it.
std::string parse_coreg(const std::string &text, CoregFigures &c);

// The headline's lines for it (none when not known), and its JSON object.
std::vector<std::string> coreg_lines(const CoregFigures &c);
Json coreg_json(const CoregFigures &c);

#endif
