// The tilt between two surveys: a polynomial surface of order 1 (a plane)
// or 2 in map coordinates, fitted by least squares to the differences
// SECOND − FIRST and taken out of SECOND.
//
// The coordinates are centred and scaled so that the fit is well
// conditioned: x and y are kilometres east and north of an origin (the
// centre of FIRST's grid), x = (X − origin_x) × km_x for a map coordinate
// X, and alike for y; on a geographic grid km_x and km_y are those of the
// grid's centre latitude. The surface is, in metres,
//   c0 + c1 x + c2 y                      (order 1)
//   ... + c3 x² + c4 x y + c5 y²          (order 2)
// Its constant c0 is a vertical bias: the tilt taken out of SECOND is the
// surface less c0, the bias being the co-registration's dz.
#ifndef KARVEL_IMPORT_DERAMP_H
#define KARVEL_IMPORT_DERAMP_H

#include <array>

struct Surface {
    int order = 0;  // 0: none, 1: a plane, 2: a quadric
    double origin_x = 0, origin_y = 0;
    double km_x = 0, km_y = 0;     // kilometres per map unit, east and north
    std::array<double, 6> c = {};  // metres, per km, per km²: in the order above

    // The terms of a surface of this order: 1, 3 or 6.
    int terms() const { return order == 0 ? 1 : order == 1 ? 3 : 6; }
    // Kilometres east and north of the origin of the centre of cell (line,
    // col) of the north-up grid gt.
    void km_at(const double gt[6], double line, double col, double &x, double &y) const {
        x = (gt[0] + (col + 0.5) * gt[1] - origin_x) * km_x;
        y = (gt[3] + (line + 0.5) * gt[5] - origin_y) * km_y;
    }
    // The surface less its constant, at (x, y) in kilometres.
    double tilt(double x, double y) const {
        double t = c[1] * x + c[2] * y;
        if (order == 2) t += c[3] * x * x + c[4] * x * y + c[5] * y * y;
        return t;
    }
    // The tilt at the cells col0 .. col0 + n − 1 of line `line` of the
    // grid gt, times `factor` (metres into the unit of the values).
    void tilt_of_line(const double gt[6], int line, int col0, int n, double factor, double *out) const;
};

// Least squares of z = the surface of order 1 or 2 through points added
// one at a time: the normal equations are summed in the order the points
// come, and solved by Eigen.
class SurfaceFit {
public:
    explicit SurfaceFit(int order) : order_(order) {}
    void add(double x, double y, double z);
    long long points() const { return n_; }
    // The coefficients of s (its order and those not fitted left); false
    // when the points do not determine them (too few, or on a line).
    bool solve(Surface &s) const;

private:
    int order_;
    long long n_ = 0;
    double m_[6][6] = {}, v_[6] = {};
};

#endif
