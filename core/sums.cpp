#include "sums.h"

#include <cmath>

double slope(const double *x, const double *y, int M) {
    double X = 0.0, Y = 0.0, XY = 0.0, X2 = 0.0;
    for (int k = 0; k < M; k++) {
        XY += x[k] * y[k];
        X += x[k];
        X2 += x[k] * x[k];
        Y += y[k];
    }
    const double m = M;
    return lsq_cross(m, XY, X, Y) / lsq_cross(m, X2, X, X);
}

namespace {

struct LineSums {
    double X, Y, XY, X2, Y2;
};

// The walks over one line are kept out of line so that their running sums
// stay in registers through each loop.

// First walk: adds to the whole-raster sums and, with kLine, takes the
// line's own sums of the same values, each in column order. Returns the
// sum of the absolute differences (0 without kLine).
template <bool kLine>
[[gnu::noinline]] double first_walk(const double *row1, const double *row2, int cols, RasterSums &r, LineSums *l) {
    double Suma_X = r.Suma_X, Suma_Y = r.Suma_Y, Suma_XY = r.Suma_XY, Suma_X2 = r.Suma_X2,
           dif_carre_tot = r.dif_carre_tot, dif_tot = 0.0;
    double X = 0.0, Y = 0.0, XY = 0.0, X2 = 0.0, Y2 = 0.0;
    for (int j = 0; j < cols; j++) {
        const double x = row1[j], y = row2[j];
        const double xy = x * y, x2 = x * x;
        Suma_X += x;
        Suma_Y += y;
        Suma_XY += xy;
        Suma_X2 += x2;
        const double dif = std::fabs(x - y);
        const double dif_carre = dif * dif;
        dif_carre_tot += dif_carre;
        if constexpr (kLine) {
            dif_tot += dif;
            XY += xy;
            X += x;
            X2 += x2;
            Y += y;
            Y2 += y * y;
        }
    }
    r.Suma_X = Suma_X;
    r.Suma_Y = Suma_Y;
    r.Suma_XY = Suma_XY;
    r.Suma_X2 = Suma_X2;
    r.dif_carre_tot = dif_carre_tot;
    if constexpr (kLine) *l = {X, Y, XY, X2, Y2};
    return dif_tot;
}

// Second walk: the sum of the squared deviations of the line's absolute
// differences from their mean.
[[gnu::noinline]] double second_walk(const double *row1, const double *row2, int cols, double d_mean) {
    double dif_tot = 0.0;
    for (int j = 0; j < cols; j++) {
        const double dif = std::fabs(row1[j] - row2[j]) - d_mean;
        const double dif2 = dif * dif;
        dif_tot += dif2;
    }
    return dif_tot;
}

// The square root, counting an argument below zero. The hardware's square
// root of a negative number is its default not-a-number, which carries the
// sign bit.
double root(double v, int &domain_errors) {
    if (v < 0) domain_errors++;
    return std::sqrt(v);
}

}  // namespace

LineFigures line_walk(const double *row1, const double *row2, int cols, RasterSums &sums) {
    LineSums l;
    double dif_tot = first_walk<true>(row1, row2, cols, sums, &l);

    const double n = cols;
    const double val1 = lsq_cross(n, l.XY, l.X, l.Y);
    const double val2 = lsq_cross(n, l.X2, l.X, l.X);
    const double val3 = lsq_cross(n, l.Y2, l.Y, l.Y);
    LineFigures f;
    f.slope = val1 / val2;
    f.r = val1 / root(val2 * val3, f.domain_errors);
    f.R2 = f.r * f.r;

    const double d_mean = dif_tot / n;
    dif_tot = second_walk(row1, row2, cols, d_mean);
    dif_tot = dif_tot / (n - 1);
    // Without a position the spread has no value (0 / −1 would give −0).
    f.desv = cols == 0 ? d_mean : root(dif_tot, f.domain_errors);
    return f;
}

void sums_walk(const double *row1, const double *row2, int cols, RasterSums &sums) {
    first_walk<false>(row1, row2, cols, sums, nullptr);
}

LineFit fit_line(double N, const RasterSums &s) {
    LineFit f;
    f.Neg_Suma_X = -s.Suma_X;
    f.Suma_Y_por_Neg_Suma_X = s.Suma_Y * f.Neg_Suma_X;
    f.N_por_Neg_Suma_X = N * f.Neg_Suma_X;
    f.Suma_X_por_Neg_Suma_X = s.Suma_X * f.Neg_Suma_X;
    f.Suma_XY_por_N = s.Suma_XY * N;
    f.Suma_X_por_N = s.Suma_X * N;
    f.Suma_X2_por_N = s.Suma_X2 * N;
    f.Dif_XY_Y = f.Suma_XY_por_N + f.Suma_Y_por_Neg_Suma_X;
    f.Dif_X2_X = f.Suma_X2_por_N + f.Suma_X_por_Neg_Suma_X;
    f.B1 = f.Dif_XY_Y / f.Dif_X2_X;
    f.B0 = (s.Suma_Y - s.Suma_X * f.B1) / N;
    return f;
}

double rms_error(double dif_carre_tot, long long kco) { return std::sqrt(dif_carre_tot / double(kco - 1)); }
