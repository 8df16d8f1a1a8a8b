// The least-squares step of Nuth and Kääb's co-registration, shared by
// karvel-import (a DEM against a DEM) and karvel-points (a DEM against
// check points): on samples with the reference's slope α and aspect ψ and
// the differences dh, which samples the fit takes, and the fit of
// (dh − median) / tan α = p cos ψ + q sin ψ + c.
#ifndef KARVEL_COMPANION_NUTH_KAAB_H
#define KARVEL_COMPANION_NUTH_KAAB_H

#include <cstddef>
#include <cstdint>
#include <vector>

// Samples flatter than this carry no shift; steeper ones are cliffs and
// edges, where both surveys rarely agree.
constexpr double kFlatDeg = 3, kSteepDeg = 75;

// The samples that the fit takes, with the median and NMAD of their
// differences: stable, neither flat nor near-vertical, not outliers.
// Indices of 4 bytes: a fit takes at most a few million samples.
struct Fitting {
    std::vector<uint32_t> cells;
    double median = 0, nmad = 0;
    long long sloped = 0;  // samples with a difference, stable, neither flat nor near-vertical
};

// The fitting samples among n, of slope and aspect in degrees, stable where
// `stable` is non-zero (null: all are), with the differences dh (NaN where
// there is none).
Fitting fitting_cells(size_t n, const float *slope, const float *aspect, const uint8_t *stable,
                      const std::vector<double> &dh);

// Least squares of (dh − median) / tan α = p cos ψ + q sin ψ + c on f's
// samples: the surface that gave dh lies displaced by q metres east and p
// metres north. False when the aspects do not determine it (they face too
// few directions).
bool nuth_kaab_fit(const float *slope, const float *aspect, const std::vector<double> &dh, const Fitting &f,
                   double &east, double &north);

#endif
