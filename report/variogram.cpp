#include "variogram.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>

std::vector<double> lag_edges(double first, double last, int per_decade) {
    if (!(first > 0) || !(last > first)) return {};
    std::vector<double> e{first};
    const double step = std::pow(10.0, 1.0 / per_decade);
    for (int k = 1; e.back() < last; k++) e.push_back(std::min(last, first * std::pow(step, k)));
    return e;
}

namespace {

// The sums of each bin, the pairs added one at a time in a fixed order.
struct BinSums {
    explicit BinSums(const std::vector<double> &edges) : edges(edges), sq(edges.size()), dist(edges.size()), n(edges.size()) {}
    // Adds the pair when its distance falls in a bin of [from, to).
    void add(const ZPoint &a, const ZPoint &b, size_t from, size_t to) {
        // A pair clearly outside the bins is told by its squared distance,
        // with a margin far wider than the rounding of either form; only
        // the others take std::hypot, so every pair falls where it did.
        const double dx = a.x - b.x, dy = a.y - b.y, h2 = dx * dx + dy * dy;
        if (h2 < edges[from] * edges[from] * (1 - 1e-9) || h2 >= edges[to] * edges[to] * (1 + 1e-9)) return;
        const double h = std::hypot(dx, dy);
        if (!(h >= edges[from]) || !(h < edges[to])) return;
        const size_t k = size_t(std::upper_bound(edges.begin() + long(from), edges.begin() + long(to) + 1, h) -
                                edges.begin()) - 1;
        const double dz = a.z - b.z;
        sq[k] += dz * dz;
        dist[k] += h;
        n[k]++;
    }
    const std::vector<double> &edges;
    std::vector<double> sq, dist;
    std::vector<long long> n;
};

// The short bins [0, near): pairs of every so many points with each point
// within their reach, found in square buckets of the reach's side.
void near_pairs(const std::vector<ZPoint> &p, size_t near, size_t centres, BinSums &sums) {
    const double reach = sums.edges[near];
    double x0 = p[0].x, y0 = p[0].y, x1 = x0, y1 = y0;
    for (const ZPoint &q : p) {
        x0 = std::min(x0, q.x), x1 = std::max(x1, q.x);
        y0 = std::min(y0, q.y), y1 = std::max(y1, q.y);
    }
    const long bx = long((x1 - x0) / reach) + 1, by = long((y1 - y0) / reach) + 1;
    auto bucket = [&](const ZPoint &q) { return long((q.y - y0) / reach) * bx + long((q.x - x0) / reach); };
    // The points by bucket (a counting sort, each bucket in the sample's order).
    std::vector<size_t> start(size_t(bx * by) + 1, 0), order(p.size());
    for (const ZPoint &q : p) start[size_t(bucket(q)) + 1]++;
    for (size_t b = 1; b < start.size(); b++) start[b] += start[b - 1];
    std::vector<size_t> fill(start.begin(), start.end() - 1);
    for (size_t i = 0; i < p.size(); i++) order[fill[size_t(bucket(p[i]))]++] = i;
    const size_t step = std::max<size_t>(1, (p.size() + centres - 1) / centres);
    for (size_t i = 0; i < p.size(); i += step) {
        const long cx = long((p[i].x - x0) / reach), cy = long((p[i].y - y0) / reach);
        for (long y = std::max(0L, cy - 1); y <= std::min(by - 1, cy + 1); y++)
            for (long x = std::max(0L, cx - 1); x <= std::min(bx - 1, cx + 1); x++) {
                const size_t b = size_t(y * bx + x);
                for (size_t t = start[b]; t < start[b + 1]; t++)
                    if (order[t] != i) sums.add(p[i], p[order[t]], 0, near);
            }
    }
}

}  // namespace

Variogram empirical_variogram(const std::vector<ZPoint> &points, const std::vector<double> &edges, const PairPlan &plan) {
    Variogram v;
    if (points.size() < 2 || edges.size() < 2) return v;
    const size_t bins = edges.size() - 1;
    BinSums sums(edges);
    // The reach holding about plan.neighbours points around a cell.
    double x0 = points[0].x, y0 = points[0].y, x1 = x0, y1 = y0;
    for (const ZPoint &q : points) {
        x0 = std::min(x0, q.x), x1 = std::max(x1, q.x);
        y0 = std::min(y0, q.y), y1 = std::max(y1, q.y);
    }
    const double area = std::max((x1 - x0) * (y1 - y0), 1e-300);
    const double reach = std::sqrt(double(plan.neighbours) * area / (M_PI * double(points.size())));
    size_t near = 0;
    while (near < bins && edges[near + 1] <= reach) near++;
    if (near > 0) near_pairs(points, near, plan.centres, sums);
    const size_t step = std::max<size_t>(1, (points.size() + plan.far - 1) / plan.far);
    for (size_t i = 0; near < bins && i < points.size(); i += step)
        for (size_t j = i + step; j < points.size(); j += step) sums.add(points[i], points[j], near, bins);
    for (size_t k = 0; k < bins; k++) {
        if (sums.n[k] == 0) continue;
        v.lag_m.push_back(sums.dist[k] / double(sums.n[k]));
        v.semivariance.push_back(sums.sq[k] / (2 * double(sums.n[k])));
        v.pairs.push_back(sums.n[k]);
    }
    return v;
}

double spherical(double h, const Spherical &s) {
    if (h >= s.range_m) return s.sill;
    const double r = h / s.range_m;
    return s.sill * (1.5 * r - 0.5 * r * r * r);
}

double model_at(double h, const std::vector<Spherical> &model) {
    double g = 0;
    for (const Spherical &s : model) g += spherical(h, s);
    return g;
}

namespace {

// The non-negative sills of components of the given ranges that fit the
// variogram best by weighted least squares, and the weighted residual.
double best_sills(const Variogram &v, std::vector<Spherical> &parts) {
    const size_t n = v.lag_m.size(), m = parts.size();
    Eigen::MatrixXd x(n, m);
    Eigen::VectorXd y(n), w(n);
    for (size_t i = 0; i < n; i++) {
        y(long(i)) = v.semivariance[i];
        w(long(i)) = double(v.pairs[i]);
        for (size_t k = 0; k < m; k++) x(long(i), long(k)) = spherical(v.lag_m[i], {1, parts[k].range_m});
    }
    auto residual = [&](const Eigen::VectorXd &c) { return (w.array() * (y - x * c).array().square()).sum(); };
    // Every set of free components (the others' sills zero), the best kept.
    double best = residual(Eigen::VectorXd::Zero(long(m)));
    Eigen::VectorXd chosen = Eigen::VectorXd::Zero(long(m));
    for (unsigned set = 1; set < (1u << m); set++) {
        std::vector<long> free;
        for (size_t k = 0; k < m; k++)
            if (set >> k & 1) free.push_back(long(k));
        Eigen::MatrixXd xf(n, long(free.size()));
        for (size_t f = 0; f < free.size(); f++) xf.col(long(f)) = x.col(free[f]);
        const Eigen::MatrixXd a = xf.transpose() * w.asDiagonal() * xf;
        const Eigen::VectorXd c = a.ldlt().solve(xf.transpose() * w.asDiagonal() * y);
        if (!c.allFinite() || (c.array() < 0).any()) continue;
        Eigen::VectorXd all = Eigen::VectorXd::Zero(long(m));
        for (size_t f = 0; f < free.size(); f++) all(free[f]) = c(long(f));
        const double r = residual(all);
        if (r < best) best = r, chosen = all;
    }
    for (size_t k = 0; k < m; k++) parts[k].sill = chosen(long(k));
    return best;
}

// The ranges searched: `count` on a logarithmic grid from a quarter of the
// shortest lag to twice the longest.
std::vector<double> range_grid(const Variogram &v, int count) {
    std::vector<double> g;
    const double lo = v.lag_m.front() / 4, hi = 2 * v.lag_m.back();
    for (int k = 0; k < count; k++) g.push_back(lo * std::pow(hi / lo, double(k) / (count - 1)));
    return g;
}

// Component k's range refined by golden section on its logarithm within a
// factor `spread` either side, the others held.
double refine(const Variogram &v, std::vector<Spherical> &parts, size_t k, double spread) {
    const double g = (std::sqrt(5.0) - 1) / 2;
    double lo = std::log(parts[k].range_m / spread), hi = std::log(parts[k].range_m * spread);
    auto at = [&](double t) {
        std::vector<Spherical> p = parts;
        p[k].range_m = std::exp(t);
        return best_sills(v, p);
    };
    for (int it = 0; it < 40; it++) {
        const double a = hi - g * (hi - lo), b = lo + g * (hi - lo);
        if (at(a) <= at(b)) hi = b;
        else lo = a;
    }
    parts[k].range_m = std::exp((lo + hi) / 2);
    return best_sills(v, parts);
}

}  // namespace

std::string fit_variogram(const Variogram &v, VariogramFit &fit) {
    if (v.lag_m.size() < 3)
        return "its semivariance has pairs at only " + std::to_string(v.lag_m.size()) + " distances (at least 3 needed)";
    bool rises = false;
    for (double s : v.semivariance) {
        if (!std::isfinite(s)) return "its semivariance is not a number";
        rises = rises || s > 0;
    }
    if (!rises) return "its semivariance is zero at every distance";
    const std::vector<double> grid = range_grid(v, 60), coarse = range_grid(v, 30);
    const double step = grid[1] / grid[0], coarse_step = coarse[1] / coarse[0];
    std::vector<Spherical> one{{0, grid[0]}};
    double r1 = best_sills(v, one);
    for (double a : grid) {
        std::vector<Spherical> p{{0, a}};
        const double r = best_sills(v, p);
        if (r < r1) r1 = r, one = p;
    }
    r1 = refine(v, one, 0, step);
    if (!(one[0].sill > 0)) return "no spherical model with a sill above zero fits it";
    std::vector<Spherical> two{{0, coarse[0]}, {0, coarse[1]}};
    double r2 = best_sills(v, two);
    for (size_t i = 0; i < coarse.size(); i++)
        for (size_t j = i + 1; j < coarse.size(); j++) {
            std::vector<Spherical> p{{0, coarse[i]}, {0, coarse[j]}};
            const double r = best_sills(v, p);
            if (r < r2) r2 = r, two = p;
        }
    for (int round = 0; round < 3; round++) {
        refine(v, two, 0, coarse_step);
        r2 = refine(v, two, 1, coarse_step);
    }
    std::sort(two.begin(), two.end(), [](const Spherical &a, const Spherical &b) { return a.range_m < b.range_m; });
    fit.residual_one = r1;
    fit.residual_two = r2;
    // Kept where it halves the residual by more than a thousandth of the
    // semivariances' weighted sum of squares (not a fit's rounding).
    double scale = 0;
    for (size_t k = 0; k < v.lag_m.size(); k++) scale += double(v.pairs[k]) * v.semivariance[k] * v.semivariance[k];
    fit.second_kept = two[0].sill > 0 && two[1].sill > 0 && r2 <= 0.5 * r1 && r1 - r2 > 1e-3 * scale;
    fit.model = fit.second_kept ? two : one;
    return "";
}

double disk_mean_variance(const std::vector<Spherical> &model, double area_m2) {
    const double l = std::sqrt(area_m2 / M_PI);
    double var = 0;
    for (const Spherical &s : model) {
        const double r = l / s.range_m;
        var += r <= 1 ? s.sill * (1 - r + r * r * r / 5) : s.sill / (5 * r * r);
    }
    return var;
}

double effective_cells(const std::vector<Spherical> &model, double area_m2, double cells) {
    double sill = 0;
    for (const Spherical &s : model) sill += s.sill;
    const double var = disk_mean_variance(model, area_m2);
    if (!(var > 0)) return cells;
    return std::min(cells, sill / var);
}
