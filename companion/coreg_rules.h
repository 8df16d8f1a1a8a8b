// The rules by which karvel-import (a DEM against a DEM) and karvel-points
// (a DEM against check points) walk Nuth and Kääb's steps (nuth_kaab.h)
// and judge the shift they lead to: when the walk has converged, how far
// it may reach, and whether the shift found improves the agreement enough
// to be applied. The agreement is the NMAD of the differences over the
// same samples before and after: those with a difference at both
// positions, so that samples gained or lost at the edges weigh on neither.
#ifndef KARVEL_COMPANION_COREG_RULES_H
#define KARVEL_COMPANION_COREG_RULES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "json.h"

// Steps of the fit at most in one walk.
constexpr int kMaxSteps = 10;
// A step below a hundredth of a cell ends the walk: it has converged. A
// walk stopped otherwise (a step that does not lower the NMAD, too few
// samples, the last step allowed) is taken as converged only when its
// last step was below a quarter of a cell: a larger one means the walk
// was still moving.
constexpr double kSettledCells = 0.01, kConvergedCells = 0.25;
// The shift found is applied when it lowers the NMAD by this share at
// least, and by the second when it is larger than kLargeCells cells: a
// large move needs strong evidence.
constexpr double kClearGain = 0.02, kLargeGain = 0.10, kLargeCells = 2;

// The NMAD of the differences at two positions, on the n samples with a
// difference at both (and stable, where `stable` is non-zero; null: all
// are).
struct Agreement {
    long long n = 0;
    double before = 0, after = 0;
};
Agreement agreement(size_t n, const uint8_t *stable, const std::vector<double> &before,
                    const std::vector<double> &after);

// The shift held back, as R_coreg.json gives it ("refused"): its metres
// east and north, and the agreement at both positions.
Json refused_json(double dx_m, double dy_m, const Agreement &a);

// How a caller names what it moves and what it judges on, in its messages.
struct CoregWords {
    std::string extent;   // whose extent limits the walk: "FIRST's"
    std::string samples;  // what the agreement counts, after the number: "cells with data in both"
    std::string unit;     // one of them: "cells"
};

// Empty while a position (east, north metres) of the walk lies within a
// quarter of the extent (its shorter side, in metres); else the refusal:
// the surveys then overlap too little for the fit to be trusted.
std::string beyond_extent(double east, double north, double extent, const CoregWords &w);

// Whether a step the fit asked for (metres) ends the walk as converged.
bool step_settled(double proposed, double cell);

// For a walk stopped before a step settled, having taken `here` steps
// (`taken` in all) and last asked for `proposed` metres: empty when it is
// taken as converged, else the refusal. (A large step taken last is no
// sign by itself: on smooth ground one step often lands on the shift, and
// the next one asked for is then within the noise. When no step was taken,
// the verdict says that no shift is applied.)
std::string unconverged(int here, int taken, double proposed, double cell);

// Whether the shift found, (east, north) metres, judged by g against the
// position where the walk began, is applied; `said` receives the line to
// tell (empty when there is nothing to say).
bool shift_verdict(const Agreement &g, double east, double north, double cell, const CoregWords &w,
                   std::string &said);

// The line told when no step was taken: the first step, when one was tried
// (g, at east and north), would not lower the NMAD, or left too few
// samples to fit on (g null).
std::string no_step_taken(const Agreement *g, double east, double north, const CoregWords &w);

#endif
