#include "deramp.h"

#include <Eigen/Dense>
#include <cmath>

void Surface::tilt_of_line(const double gt[6], int line, int col0, int n, double factor, double *out) const {
    for (int j = 0; j < n; j++) {
        double x, y;
        km_at(gt, line, col0 + j, x, y);
        out[j] = tilt(x, y) * factor;
    }
}

void SurfaceFit::add(double x, double y, double z) {
    const double t[6] = {1, x, y, x * x, x * y, y * y};
    const int k = order_ == 1 ? 3 : 6;
    for (int r = 0; r < k; r++) {
        for (int c = r; c < k; c++) m_[r][c] += t[r] * t[c];
        v_[r] += t[r] * z;
    }
    n_++;
}

bool SurfaceFit::solve(Surface &s) const {
    const int k = order_ == 1 ? 3 : 6;
    if (n_ < k) return false;
    // The normal equations scaled to a unit diagonal, so that whether they
    // determine the surface does not hang on the coordinates' unit.
    Eigen::MatrixXd m(k, k);
    Eigen::VectorXd v(k), d(k);
    for (int r = 0; r < k; r++) {
        if (!(m_[r][r] > 0)) return false;
        d(r) = 1 / std::sqrt(m_[r][r]);
    }
    for (int r = 0; r < k; r++) {
        for (int c = 0; c < k; c++) m(r, c) = (c >= r ? m_[r][c] : m_[c][r]) * d(r) * d(c);
        v(r) = v_[r] * d(r);
    }
    Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(m);
    qr.setThreshold(1e-10);
    if (qr.rank() < k) return false;
    const Eigen::VectorXd u = qr.solve(v);
    s.order = order_;
    s.c = {};
    for (int r = 0; r < k; r++) {
        s.c[size_t(r)] = u(r) * d(r);
        if (!std::isfinite(s.c[size_t(r)])) return false;
    }
    return true;
}
