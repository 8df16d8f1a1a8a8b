#include "nuth_kaab.h"

#include <cmath>
#include <utility>

#include "robust.h"

namespace {

// Beyond this many NMADs from the median, a difference is an outlier.
constexpr double kOutlierNmads = 4;
constexpr double kPi = 3.14159265358979323846;

}  // namespace

Fitting fitting_cells(size_t n, const float *slope, const float *aspect, const uint8_t *stable,
                      const std::vector<double> &dh) {
    Fitting f;
    std::vector<double> d;
    for (size_t k = 0; k < n; k++) {
        const double a = slope[k];
        if ((stable && !stable[k]) || !std::isfinite(dh[k]) || !(a >= kFlatDeg && a <= kSteepDeg) ||
            !std::isfinite(aspect[k]))
            continue;
        f.cells.push_back(uint32_t(k));
        d.push_back(dh[k]);
    }
    f.sloped = (long long)f.cells.size();
    if (f.cells.empty()) return f;
    const double med = median_of(d);
    const double spread = nmad_about(d, med);
    d.clear();
    size_t kept = 0;
    for (uint32_t k : f.cells)
        if (std::fabs(dh[k] - med) <= kOutlierNmads * spread) {
            f.cells[kept++] = k;
            d.push_back(dh[k]);
        }
    f.cells.resize(kept);
    f.cells.shrink_to_fit();
    if (d.empty()) return f;
    f.median = median_of(d);
    f.nmad = nmad_about(d, f.median);
    return f;
}

bool nuth_kaab_fit(const float *slope, const float *aspect, const std::vector<double> &dh, const Fitting &f,
                   double &east, double &north) {
    double m[3][4] = {};
    for (uint32_t k : f.cells) {
        const double psi = double(aspect[k]) * kPi / 180.0;
        const double x[3] = {std::cos(psi), std::sin(psi), 1.0};
        // Less the vertical bias, which divided by tan α would vary from
        // sample to sample and, where slopes facing one way are steeper,
        // pass for a shift.
        const double y = (dh[k] - f.median) / std::tan(double(slope[k]) * kPi / 180.0);
        for (int r = 0; r < 3; r++) {
            for (int c = 0; c < 3; c++) m[r][c] += x[r] * x[c];
            m[r][3] += x[r] * y;
        }
    }
    // Gaussian elimination with partial pivoting.
    const double scale = m[0][0] + m[1][1] + m[2][2];
    for (int c = 0; c < 3; c++) {
        int p = c;
        for (int r = c + 1; r < 3; r++)
            if (std::fabs(m[r][c]) > std::fabs(m[p][c])) p = r;
        if (!(std::fabs(m[p][c]) > 1e-9 * scale)) return false;
        for (int k = 0; k < 4; k++) std::swap(m[c][k], m[p][k]);
        for (int r = 0; r < 3; r++) {
            if (r == c) continue;
            const double q = m[r][c] / m[c][c];
            for (int k = c; k < 4; k++) m[r][k] -= q * m[c][k];
        }
    }
    north = m[0][3] / m[0][0];
    east = m[1][3] / m[1][1];
    return std::isfinite(east) && std::isfinite(north);
}
