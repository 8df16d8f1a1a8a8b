// The DEM co-registered to the check points by Nuth and Kääb's method, as
// karvel-import co-registers one DEM to another and with its fit
// (nuth_kaab.h): at each point the DEM's slope α and aspect ψ there and
// d = DEM − point; d / tan α = a cos(b − ψ) + c fitted; the DEM moved
// back by the displacement found, sampled again, by karvel-import's rules
// (coreg_rules.h): until a step falls below a hundredth of a cell or no
// longer lowers the NMAD of d over the same points, refused when it had
// not converged or reaches beyond a quarter of the DEM's extent, and the
// shift found applied only when it lowers that NMAD by the margin needed.
#ifndef KARVEL_POINTS_COREGISTER_H
#define KARVEL_POINTS_COREGISTER_H

#include <functional>
#include <string>
#include <vector>

#include "check_points.h"
#include "coreg_rules.h"
#include "dem.h"

struct PointsCoreg {
    double dx_m = 0, dy_m = 0;               // the translation applied to the DEM, metres east and north
    double shift_x = 0, shift_y = 0;         // the same in the DEM's coordinates
    double dz_m = 0;                         // median of d on the fitting points at the last position
    bool bias_removed = false;               // --coregister=xyz: dz_m taken out of the DEM
    int iterations = 0;                      // steps taken
    double nmad_before = 0, nmad_after = 0;  // on the fitting points
    long long n_fit = 0;                     // fitting points at the last position
    // The NMAD over the points with a difference both where the DEM lies
    // and where it is taken (moved, when applied).
    Agreement all;
    bool applied = false;  // the shift found lowers that NMAD by the margin needed, and was applied
    // Not applied: the shift found (or the first step, when none was
    // taken) as it was judged, when one was tried.
    bool refused_known = false;
    double tried_dx_m = 0, tried_dy_m = 0;
    Agreement refused;
    std::vector<std::string> warnings;
};

// The differences DEM − point where the point has no reason; NaN elsewhere.
std::vector<double> differences(const CheckPoints &p, const AtPoints &at);

// Finds and applies the shift; `at` holds the DEM at the points where it
// lies (with aspects) and receives it where it was moved to (and less its
// bias with remove_bias). Each step is told to `said`. Empty on success,
// else why no shift can be found.
std::string coregister_points(const Dem &dem, const CheckPoints &p, bool near, bool remove_bias,
                              const std::function<void(const std::string &)> &said, AtPoints &at, PointsCoreg &r);

// R_coreg.json: the figures of r, as karvel-import's.
std::string points_coreg_json(const PointsCoreg &r, bool near);

#endif
