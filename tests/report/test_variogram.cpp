// The variogram of the standardised differences: the pairs binned by
// Matheron's estimator, the spherical model fitted to it, and the variance
// of a mean over a disk that the standard errors come from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "noise_field.h"
#include "variogram.h"

namespace {

// The covariance of the model at distance h: Σ c − γ(h).
double covariance(double h, const std::vector<Spherical> &m) {
    double sill = 0;
    for (const Spherical &s : m) sill += s.sill;
    return sill - model_at(h, m);
}

}  // namespace

// The disk's formula is the mean covariance between the disk's centre and
// its cells: summed over the cells of a disk it agrees to the cells'
// discreteness. The variance of the mean over the disk's cells taken over
// every pair of them is never above it and at most about a third below it
// (the pairs lie farther apart than the cells from the centre).
TEST(Variogram, TheDiskFormulaAgainstSumsOverTheCellsOfADisk) {
    const std::vector<Spherical> model{{0.6, 12}, {0.4, 40}};
    for (double radius : {4.0, 9.0, 20.0, 45.0, 90.0}) {
        std::vector<std::pair<int, int>> cells;
        const int r = int(radius);
        for (int i = -r; i <= r; i++)
            for (int j = -r; j <= r; j++)
                if (i * i + j * j <= radius * radius) cells.push_back({i, j});
        const double n = double(cells.size()), area = n;  // cells of 1 m
        double centre = 0;
        for (const auto &[i, j] : cells) centre += covariance(std::hypot(i, j), model);
        centre /= n;
        EXPECT_NEAR(disk_mean_variance(model, area), centre, 0.02 * centre) << radius;
        if (radius > 45) continue;  // the double sum of the largest disks takes too long
        double pairs = 0;
        for (const auto &[i, j] : cells)
            for (const auto &[k, l] : cells) pairs += covariance(std::hypot(i - k, j - l), model);
        pairs /= n * n;
        EXPECT_GE(disk_mean_variance(model, area), pairs) << radius;
        EXPECT_LE(disk_mean_variance(model, area), 1.35 * pairs) << radius;
        // N_eff: the sills over that variance, never above the cells held.
        EXPECT_DOUBLE_EQ(effective_cells(model, area, n), std::min(n, 1.0 / disk_mean_variance(model, area)));
    }
    EXPECT_DOUBLE_EQ(effective_cells(model, 1e12, 50), 50);
    // Far larger than the ranges: c·a²/(5 L²) for each component.
    const double big = M_PI * 1e6;
    EXPECT_NEAR(disk_mean_variance(model, big), (0.6 * 144 + 0.4 * 1600) / 5e6, 1e-15);
}

// The short bins take a centre's neighbours, the long ones pairs of a
// spread subset: with every point a centre and in the subset, the bins are
// every pair's, as a plain double loop over the pairs gives them.
TEST(Variogram, MatheronsEstimatorOverEveryPairAndTheBoundedPairs) {
    std::vector<ZPoint> p;
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int k = 0; k < 900; k++) p.push_back({300 * u(random), 200 * u(random), u(random) * 3 - 1});
    const std::vector<double> edges = lag_edges(1, 150);
    ASSERT_EQ(edges.front(), 1);
    ASSERT_EQ(edges.back(), 150);
    EXPECT_NEAR(edges[8], 10, 1e-12);
    const size_t bins = edges.size() - 1;
    std::vector<double> sq(bins), dist(bins);
    std::vector<long long> n(bins);
    for (size_t i = 0; i < p.size(); i++)
        for (size_t j = 0; j < p.size(); j++) {
            const double h = std::hypot(p[i].x - p[j].x, p[i].y - p[j].y);
            if (i == j || h < 1 || h >= 150) continue;
            const size_t k = size_t(std::upper_bound(edges.begin(), edges.end(), h) - edges.begin()) - 1;
            sq[k] += (p[i].z - p[j].z) * (p[i].z - p[j].z);
            dist[k] += h;
            n[k]++;
        }
    // The near bins count each pair from both of its ends, the far ones once.
    PairPlan plan;
    plan.centres = plan.far = p.size();
    plan.neighbours = 300;
    const Variogram v = empirical_variogram(p, edges, plan);
    const double reach = std::sqrt(300 * 300.0 * 200 / (M_PI * 900));
    size_t out = 0;
    for (size_t k = 0; k < bins; k++) {
        if (n[k] == 0) continue;
        ASSERT_LT(out, v.lag_m.size());
        const long long pairs = edges[k + 1] <= reach ? n[k] : n[k] / 2;
        EXPECT_EQ(v.pairs[out], pairs) << k;
        EXPECT_NEAR(v.semivariance[out], sq[k] / (2 * double(n[k])), 1e-12) << k;
        EXPECT_NEAR(v.lag_m[out], dist[k] / double(n[k]), 1e-9) << k;
        out++;
    }
    EXPECT_EQ(out, v.lag_m.size());
    // A bounded plan: at most its centres' neighbours and its subset's pairs.
    plan = {50, 30, 100};
    const Variogram small = empirical_variogram(p, edges, plan);
    long long all = 0;
    for (long long c : small.pairs) all += c;
    EXPECT_LE(all, 30 * 900 + 100 * 99 / 2);
    EXPECT_GT(all, 1000);
}

// The ranges and sills of an exact variogram come back; the second
// component is kept only when it halves the weighted residual.
TEST(Variogram, TheFitFindsOneOrTwoRangesAndRefusesWhatNoModelFits) {
    auto exact = [](const std::vector<Spherical> &m) {
        Variogram v;
        for (double h = 2; h < 20000; h *= 1.33) {
            v.lag_m.push_back(h);
            v.semivariance.push_back(model_at(h, m));
            v.pairs.push_back(1000 + (long long)(h));
        }
        return v;
    };
    VariogramFit fit;
    ASSERT_EQ(fit_variogram(exact({{0.3, 60}, {0.7, 3000}}), fit), "");
    ASSERT_TRUE(fit.second_kept);
    ASSERT_EQ(fit.model.size(), 2u);
    EXPECT_NEAR(fit.model[0].range_m, 60, 0.6);
    EXPECT_NEAR(fit.model[1].range_m, 3000, 30);
    EXPECT_NEAR(fit.model[0].sill, 0.3, 0.003);
    EXPECT_NEAR(fit.model[1].sill, 0.7, 0.007);
    EXPECT_LT(fit.residual_two, 0.5 * fit.residual_one);

    ASSERT_EQ(fit_variogram(exact({{1.2, 400}}), fit), "");
    EXPECT_FALSE(fit.second_kept);
    ASSERT_EQ(fit.model.size(), 1u);
    EXPECT_NEAR(fit.model[0].range_m, 400, 4);
    EXPECT_NEAR(fit.model[0].sill, 1.2, 0.012);

    Variogram few = exact({{1, 400}});
    few.lag_m.resize(2);
    few.semivariance.resize(2);
    few.pairs.resize(2);
    EXPECT_EQ(fit_variogram(few, fit), "its semivariance has pairs at only 2 distances (at least 3 needed)");
    Variogram flat = exact({{1, 400}});
    std::fill(flat.semivariance.begin(), flat.semivariance.end(), 0.0);
    EXPECT_EQ(fit_variogram(flat, fit), "its semivariance is zero at every distance");
    flat.semivariance[3] = NAN;
    EXPECT_EQ(fit_variogram(flat, fit), "its semivariance is not a number");
}

// Noise of a known spherical covariance (range 2R, sill 1): the fit of its
// sampled variogram finds them, and the standard error of the mean over a
// window that the model gives is the spread of the means over many windows.
TEST(Variogram, NoiseOfAKnownCovarianceGivesItsRangeSillAndSpreadOfMeans) {
    const int lines = 600, cols = 600, radius = 6, side = 24;
    const std::vector<double> noise = spherical_noise(lines, cols, radius, 1.0, 31);
    // Cells of 10 m, every third (by a fixed pattern) sampled as the report samples.
    std::vector<ZPoint> p;
    for (int i = 0; i < lines; i++)
        for (int j = 0; j < cols; j++)
            if ((i * 7 + j * 3) % 3 == 0) p.push_back({(j + 0.5) * 10, (i + 0.5) * 10, noise[size_t(i) * cols + j]});
    const Variogram v = empirical_variogram(p, lag_edges(10, 3000));
    VariogramFit fit;
    ASSERT_EQ(fit_variogram(v, fit), "");
    double sill = 0, range = 0;
    for (const Spherical &s : fit.model)
        if (s.sill > sill) sill = s.sill, range = s.range_m;
    EXPECT_NEAR(range, 2 * radius * 10, 0.2 * 2 * radius * 10);
    double total = 0;
    for (const Spherical &s : fit.model) total += s.sill;
    EXPECT_NEAR(total, 1.0, 0.1);
    // The means of z over windows of side × side cells, far apart enough
    // for every other to be independent of its neighbours.
    std::vector<double> means;
    for (int i = 0; i + side <= lines; i += side)
        for (int j = 0; j + side <= cols; j += side) {
            double s = 0;
            for (int a = i; a < i + side; a++)
                for (int b = j; b < j + side; b++) s += noise[size_t(a) * cols + b];
            means.push_back(s / (side * side));
        }
    double m = 0, ss = 0;
    for (double x : means) m += x;
    m /= double(means.size());
    for (double x : means) ss += (x - m) * (x - m);
    const double spread = std::sqrt(ss / double(means.size() - 1));
    const double cells = side * side, se = std::sqrt(total / effective_cells(fit.model, cells * 100, cells));
    EXPECT_NEAR(se, spread, 0.25 * spread);
}
