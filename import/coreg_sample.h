// The regular subsample of FIRST that the co-registration reads, and the
// differences SECOND − FIRST on it with SECOND moved.
#ifndef KARVEL_IMPORT_COREG_SAMPLE_H
#define KARVEL_IMPORT_COREG_SAMPLE_H

#include <cstdint>
#include <string>
#include <vector>

#include "coreg_rules.h"
#include "deramp.h"
#include "ground.h"
#include "nuth_kaab.h"
#include "source.h"
#include "warp.h"

// The regular subsample of FIRST that the fit uses: every step-th cell
// from the offset on, in both directions, with FIRST's elevation, slope and
// aspect there and whether it is stable ground.
struct Sample {
    int step = 1, off = 0, lines = 0, cols = 0;
    std::vector<float> z, slope, aspect;
    std::vector<uint8_t> stable;
    double gt[6] = {0, 1, 0, 0, 0, 1};  // the subsample as a grid of FIRST's coordinates
    size_t size() const { return z.size(); }
    // The subsample's cells as a grid of a's coordinates, moved by (sx, sy).
    WarpGrid grid(const Source &a, double sx, double sy) const {
        const double c = off + 0.5 - 0.5 * step;
        return WarpGrid{
            a.gt[0] + c * a.gt[1] - sx, a.gt[3] + c * a.gt[5] - sy, step * a.gt[1], step * a.gt[5], cols, lines, true};
    }
};

// Reads FIRST (values in metres: value × mm / 1000) into s: its elevation,
// slope and aspect at the cells of the subsample, of at most about 2
// million cells. Empty on success, else the problem.
std::string read_first(const Source &a, double mm, const Ground &ground, Sample &s);

// Marks the stable cells of the subsample: where MASK, brought onto FIRST's
// grid by nearest neighbour, is non-zero. Empty on success, else the problem.
std::string read_stable(const std::string &path, const Source &a, Sample &s);

// dh = SECOND − FIRST in metres (SECOND's values × mm / 1000) at each cell
// of the subsample, SECOND moved by (sx, sy) in FIRST's coordinates and
// resampled by `method`; NaN where either has no data.
std::string differences(const Source &a, const Source &b, double mm, const Sample &s, const std::string &method,
                        double sx, double sy, std::vector<double> &dh);

// The cells that the fit takes at one position of SECOND (nuth_kaab.h).
Fitting fitting_cells(const Sample &s, const std::vector<double> &dh);

// The NMAD of dh on the cells of the subsample with data in both of two
// positions of SECOND (stable ones, with a mask), at each (coreg_rules.h).
Agreement agreement(const Sample &s, const std::vector<double> &before, const std::vector<double> &after);

// The surface t of its order fitted by least squares to dh on the fitting
// cells (t's frame kept). False when they do not determine it.
bool fit_tilt(const Sample &s, const Fitting &f, const std::vector<double> &dh, Surface &t);

// Takes t's tilt (t less its constant) out of dh.
void remove_tilt(const Sample &s, const Surface &t, std::vector<double> &dh);

// The share of the variance of dh on the fitting cells that a plane in the
// frame of t explains (0 when none is determined).
double plane_share(const Sample &s, const Fitting &f, const std::vector<double> &dh, const Surface &t);

#endif
