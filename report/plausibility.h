// What the values of a comparison say about it that usually means an error
// in what was declared of the rasters: the report's plausibility warnings,
// each one sentence that says what was seen and what usually causes it.
#ifndef KARVEL_REPORT_PLAUSIBILITY_H
#define KARVEL_REPORT_PLAUSIBILITY_H

#include <cstddef>
#include <string>
#include <vector>

#include "coreg.h"
#include "json.h"
#include "provenance.h"

// The plane d = a + b·x + c·y fitted by least squares to the differences,
// x east and y north of the grid's centre in ground metres.
struct PlaneTrend {
    bool defined = false;       // the differences vary and the cells span a plane or a line
    bool slopes_known = false;  // the cells' size on the ground is known
    double east = 0, north = 0;  // b and c, metres a metre
    double explained = 0;        // the fraction of the variance of d the plane explains
};

// The sums the plane is fitted from: the means of x, y and d and their
// squares and products about them, merged a line at a time in the order
// the lines are given (the pairwise update of Chan, Golub and LeVeque).
class PlaneSums {
public:
    // One line at y of `c` positions, with the means of their x and d and
    // their squares and products about those means.
    void add_line(double c, double y, double mean_x, double mean_d, double cxx, double cxd, double cdd);
    // The line's positions: x of each and its difference, `n` of them.
    void add_line(double y, const double *x, const double *d, size_t n);
    // With `slopes_known` false the slopes are left out (not metres).
    PlaneTrend fit(bool slopes_known) const;

private:
    double n_ = 0, mx_ = 0, my_ = 0, md_ = 0;
    double sxx_ = 0, syy_ = 0, sdd_ = 0, sxy_ = 0, sxd_ = 0, syd_ = 0;
};

// The plane as the report's JSON gives it (slopes in metres a kilometre).
Json plane_json(const PlaneTrend &p);

// What the warnings are made of.
struct PlausibilityFacts {
    bool dem = true;  // 8-bit images are not DEMs: none of the checks of values
    long long n = 0;  // positions compared
    // Of FIRST (0) and SECOND (1) on the positions compared: their ranges
    // and standard deviations.
    double lo[2] = {0, 0}, hi[2] = {0, 0}, sd[2] = {0, 0};
    double mean_diff = 0, r = 0;
    PlaneTrend plane;
    const CoregFigures *coreg = nullptr;
    const Provenance *inputs = nullptr;
};

// The share of the variance of d above which a plane is a strong trend.
constexpr double kPlaneShare = 1.0 / 3;

// The warnings, in order: the import's own (R_inputs.json), the report's
// checks of the values (those the import did not already give), those of
// the co-registration, and the plane (unless the co-registration warned of
// a tilt already).
std::vector<std::string> plausibility_warnings(const PlausibilityFacts &f);

#endif
