// Noise of a known spherical covariance for the tests of the variogram: a
// slice through white noise in three dimensions averaged over a ball of
// radius R voxels. Its covariance at a distance h is the volume the ball
// shares with itself moved by h, which in three dimensions is the
// spherical model of range 2R exactly (here on the voxels' grid, so nearly),
// and a plane through it keeps that covariance.
#ifndef KARVEL_TESTS_REPORT_NOISE_FIELD_H
#define KARVEL_TESTS_REPORT_NOISE_FIELD_H

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

// lines × cols values of variance `sill`, correlated over the range 2R
// cells; the same for the same seed.
inline std::vector<double> spherical_noise(int lines, int cols, int radius, double sill, uint64_t seed) {
    const int w = cols + 2 * radius, h = lines + 2 * radius, depth = 2 * radius + 1;
    std::mt19937_64 random(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    // Each row of the white noise as running sums along it.
    std::vector<double> sums(size_t(depth) * size_t(h) * size_t(w + 1), 0.0);
    for (int z = 0; z < depth; z++)
        for (int y = 0; y < h; y++) {
            double *row = &sums[(size_t(z) * size_t(h) + size_t(y)) * size_t(w + 1)];
            for (int x = 0; x < w; x++) row[x + 1] = row[x] + normal(random);
        }
    long voxels = 0;
    std::vector<int> half(size_t(depth) * size_t(depth), -1);  // the ball's half-width at (dz, dy)
    for (int dz = -radius; dz <= radius; dz++)
        for (int dy = -radius; dy <= radius; dy++) {
            const int r2 = radius * radius - dz * dz - dy * dy;
            if (r2 < 0) continue;
            const int hw = int(std::floor(std::sqrt(double(r2))));
            half[size_t(dz + radius) * size_t(depth) + size_t(dy + radius)] = hw;
            voxels += 2 * hw + 1;
        }
    const double scale = std::sqrt(sill / double(voxels));
    std::vector<double> out(size_t(lines) * size_t(cols));
    for (int i = 0; i < lines; i++)
        for (int j = 0; j < cols; j++) {
            double s = 0;
            for (int dz = 0; dz < depth; dz++)
                for (int dy = 0; dy < depth; dy++) {
                    const int hw = half[size_t(dz) * size_t(depth) + size_t(dy)];
                    if (hw < 0) continue;
                    const double *row = &sums[(size_t(dz) * size_t(h) + size_t(i + dy)) * size_t(w + 1)];
                    s += row[j + radius + hw + 1] - row[j + radius - hw];
                }
            out[size_t(i) * size_t(cols) + size_t(j)] = s * scale;
        }
    return out;
}

#endif
