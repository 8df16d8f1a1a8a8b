// The spatial correlation of the errors of a comparison: the empirical
// variogram of standardised differences z sampled on stable ground, a sum
// of spherical models fitted to it, and from that model the variance of
// the mean of z over an area (a disk of that area) and the number of
// independent cells it is worth.
#ifndef KARVEL_REPORT_VARIOGRAM_H
#define KARVEL_REPORT_VARIOGRAM_H

#include <string>
#include <vector>

// A sampled cell: its position on the ground (metres east and north) and z.
struct ZPoint {
    double x = 0, y = 0, z = 0;
};

// The empirical semivariance in bins of distance: each bin's mean distance
// of its pairs, Matheron's estimator Σ (z_i − z_j)² / (2 N), and N.
struct Variogram {
    std::vector<double> lag_m, semivariance;
    std::vector<long long> pairs;
};

// The bins' edges: from `first` to `last` metres, `per_decade` to a factor ten.
std::vector<double> lag_edges(double first, double last, int per_decade = 8);

// The variogram of the points in the bins of `edges` (empty bins left out).
// The pairs are bounded: the bins within the reach of a cell's nearest
// neighbours (about kNeighbours of them) take the pairs of at most
// kCentres cells with every point within that reach; the longer bins take
// every pair among at most kFar points spread over the sample (every so
// many in the sample's order, which is the raster's).
struct PairPlan {
    size_t neighbours = 1000, centres = 20000, far = 3000;
};
Variogram empirical_variogram(const std::vector<ZPoint> &points, const std::vector<double> &edges,
                              const PairPlan &plan = {});

// One spherical component: sill c (in units of z²) and range a (metres).
struct Spherical {
    double sill = 0, range_m = 0;
};
// c · (1.5 h/a − 0.5 (h/a)³) within the range, c beyond it.
double spherical(double h, const Spherical &s);
double model_at(double h, const std::vector<Spherical> &model);

// The fit: one spherical component and the best pair of them by weighted
// least squares (weights the pair counts), the sills non-negative, the
// ranges searched on a logarithmic grid and refined. The second component
// is kept only where it at least halves the weighted residual (and lowers
// it by more than a thousandth of the semivariances' weighted sum of
// squares).
struct VariogramFit {
    std::vector<Spherical> model;  // by increasing range
    double residual_one = 0, residual_two = 0;
    bool second_kept = false;
};
// Empty on success, else why no model fits the variogram.
std::string fit_variogram(const Variogram &v, VariogramFit &fit);

// The variance of the mean of z over a disk of `area_m2`, of radius
// L = √(A / π): per component c · (1 − L/a + (L/a)³ / 5) where L ≤ a,
// c · a² / (5 L²) beyond, summed.
double disk_mean_variance(const std::vector<Spherical> &model, double area_m2);
// The number of independent cells the mean over such an area is worth:
// (Σ c) / that variance, never more than the `cells` it holds.
double effective_cells(const std::vector<Spherical> &model, double area_m2, double cells);

#endif
