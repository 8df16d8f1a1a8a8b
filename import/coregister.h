// The horizontal shift of SECOND against FIRST, found by Nuth and Kääb's
// method: on cells where both have data (and, with a stable mask, where it
// is non-zero), with FIRST's slope α and aspect ψ and dh = SECOND − FIRST,
// dh / tan α = a cos(b − ψ) + c is fitted by least squares; SECOND lies
// displaced by a in the direction b (clockwise from north), and is moved
// back by it, resampled by GDAL's warper, until the step is below a
// hundredth of a cell or a step stops lowering the spread of dh.
//
// The shift is judged on every cell of the subsample with data in both
// (stable ones with a mask), not only on the cells the fit takes: a step
// that does not lower their NMAD is not taken, and the shift found is
// applied only when it lowers it by 2 % or more (10 % or more when it is
// larger than two cells). With a tilt asked for (deramp.h), the tilt and
// the shift are fitted in turn until both settle.
#ifndef KARVEL_IMPORT_COREGISTER_H
#define KARVEL_IMPORT_COREGISTER_H

#include <functional>
#include <string>
#include <vector>

#include "coreg_sample.h"
#include "deramp.h"
#include "source.h"

struct Coregistration {
    double dx_m = 0, dy_m = 0;        // the translation applied to SECOND, metres east and north
    double shift_x = 0, shift_y = 0;  // the same in FIRST's coordinates
    double dz_m = 0;                  // median of dh on the fitting cells after the last step
    int iterations = 0;               // steps taken
    double nmad_before = 0, nmad_after = 0;
    long long n_fit = 0;  // fitting cells after the last step
    std::string method;   // the resampling method
    // SECOND as it was given and as it is written.
    Agreement all;
    bool stable_only = false;  // all: on the stable cells alone
    bool applied = false;      // the shift found improves the agreement, and was applied
    // Not applied: the shift found (or the first step, when none was
    // taken) as it was judged, when one was tried.
    bool refused_known = false;
    double refused_dx_m = 0, refused_dy_m = 0;
    Agreement refused;
    Surface tilt;                       // taken out of SECOND (order 0: none)
    std::vector<std::string> warnings;  // each also told to `said`, starting "warning: "
};

// Finds the shift of b (SECOND, not yet resampled) against a (FIRST), both
// DEMs whose values in metres are value × mm_a / 1000 and × mm_b / 1000;
// `stable` names a mask raster, or is empty; `deramp` is the order of the
// tilt fitted too (0: none). Each step is told to `said`. Empty on success,
// else why the shift cannot be found.
std::string coregister(const Source &a, Source &b, double mm_a, double mm_b, const std::string &method,
                       const std::string &stable, int deramp, const std::function<void(const std::string &)> &said,
                       Coregistration &r);

// The closing note on what was done to SECOND: moved (or not) and
// resampled (or not, when no shift was applied and it lay on FIRST's grid
// already), or FIRST moved back onto SECOND's grid (--grid second), its
// bias removed or left, the NMAD on the fitting cells.
std::string coregistration_note(const Coregistration &r, const std::string &method, bool resampled, bool bias_removed,
                                bool second_grid);

// What the reading pass takes from each cell of a line of SECOND, in its
// band's unit (metres × factor): r's tilt on the grid gt; empty without one.
std::function<void(int line, int col0, int n, double *values)> tilt_correction(const Coregistration &r,
                                                                               const double gt[6], double factor);

// R_coreg.json: the figures of r.
std::string coregistration_json(const Coregistration &r, bool bias_removed);

#endif
