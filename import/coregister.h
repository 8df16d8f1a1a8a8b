// The horizontal shift of SECOND against FIRST, found by Nuth and Kääb's
// method: on cells where both have data (and, with a stable mask, where it
// is non-zero), with FIRST's slope α and aspect ψ and dh = SECOND − FIRST,
// dh / tan α = a cos(b − ψ) + c is fitted by least squares; SECOND lies
// displaced by a in the direction b (clockwise from north), and is moved
// back by it, resampled by GDAL's warper, until the step is below a
// hundredth of a cell or the spread of dh stops falling.
#ifndef KARVEL_IMPORT_COREGISTER_H
#define KARVEL_IMPORT_COREGISTER_H

#include <functional>
#include <string>

#include "source.h"

struct Coregistration {
    double dx_m = 0, dy_m = 0;        // the translation applied to SECOND, metres east and north
    double shift_x = 0, shift_y = 0;  // the same in FIRST's coordinates
    double dz_m = 0;                  // median of dh on the fitting cells after the last step
    int iterations = 0;               // steps taken
    double nmad_before = 0, nmad_after = 0;
    long long n_fit = 0;              // fitting cells after the last step
    std::string method;               // the resampling method
};

// Finds the shift of b (SECOND, not yet resampled) against a (FIRST), both
// DEMs whose values in metres are value × mm_a / 1000 and × mm_b / 1000;
// `stable` names a mask raster, or is empty. Each step is told to `said`.
// Empty on success, else why the shift cannot be found.
std::string coregister(const Source &a, Source &b, double mm_a, double mm_b, const std::string &method,
                       const std::string &stable, const std::function<void(const std::string &)> &said,
                       Coregistration &r);

// R_coreg.json: the figures of r.
std::string coregistration_json(const Coregistration &r, bool bias_removed);

#endif
