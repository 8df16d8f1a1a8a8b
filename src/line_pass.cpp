// First stage: line by line, the spread of the absolute differences, the
// slope, r and r² of the second raster on the first; the whole-raster sums.
#include <cmath>

#include "console.h"
#include "numfmt.h"
#include "run.h"
#include "state.h"
#include "treatment.h"

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

// Enters one line's figure into its total and its extremes, unless it is
// not a finite number (constant lines, one column, a square root out of its
// domain): such a line keeps its figure in its row but weighs on no mean.
void enter(double v, double &total, long long &count, double &mn, double &mx) {
    if (!std::isfinite(v)) return;
    total += v;
    if (count == 0 || mn > v) mn = v;
    if (count == 0 || mx < v) mx = v;
    count++;
}

struct RasterSums {
    double Suma_X, Suma_Y, Suma_XY, Suma_X2, dif_carre_tot;
};

struct LineSums {
    double X, Y, XY, X2, Y2;
};

// The walks over one line are kept out of line so that their running sums
// stay in registers through each loop.

// First walk: adds to the whole-raster sums and takes the line's own sums
// of the same values, each in column order. Returns the sum of the
// absolute differences.
[[gnu::noinline]] double first_walk(const double *row1, const double *row2, int cols, RasterSums &r, LineSums &l) {
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
        dif_tot += dif;
        XY += xy;
        X += x;
        X2 += x2;
        Y += y;
        Y2 += y * y;
    }
    r = {Suma_X, Suma_Y, Suma_XY, Suma_X2, dif_carre_tot};
    l = {X, Y, XY, X2, Y2};
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

}  // namespace

void line_pass(Stats &s) {
    s.jco = 0;
    s.kco = 0;
    s.Suma_err2 = s.Suma_err = s.Suma_Y_estim = 0.0;
    text_write(f4d, "Line\tSt. Dev.\tSlope\tr\tr2\n");
    s.N_tot = double((long long)nb_lig * nb_col);
    out("\n\n\tFirst Treatment\n\n");

    RasterSums sums{0.0, 0.0, 0.0, 0.0, 0.0};
    for (int i = 0; i < nb_lig; i++) {
        s.jco++;
        if (s.jco % 1000 == 0) out_now(kfmt("\t\tline %d                  \r    ", s.jco));

        const double *row1 = dtab1[i];
        const double *row2 = dtab2[i];
        LineSums l;
        double dif_tot = first_walk(row1, row2, nb_col, sums, l);
        const int ico = nb_col;
        s.kco += ico;

        const double n = ico;
        const double val1 = lsq_cross(n, l.XY, l.X, l.Y);
        const double val2 = lsq_cross(n, l.X2, l.X, l.X);
        const double val3 = lsq_cross(n, l.Y2, l.Y, l.Y);
        const double line_slope = val1 / val2;
        const double r = val1 / ksqrt(val2 * val3);
        const double R2 = r * r;

        const double d_mean = dif_tot / n;
        dif_tot = second_walk(row1, row2, nb_col, d_mean);
        dif_tot = dif_tot / (n - 1);
        const double desv = ksqrt(dif_tot);

        text_write(f4d, kfmt("%d\t%lf\t%lf\t%lf\t%lf\n", i, desv, line_slope, r, R2));

        enter(desv, s.desv_tot, s.desv_n, s.min_desv, s.max_desv);
        enter(line_slope, s.slope_tot, s.slope_n, s.min_slope, s.max_slope);
        enter(r, s.r2_tot, s.r2_n, s.min_r, s.max_r);
        enter(R2, s.R2_tot, s.R2_n, s.min_r2, s.max_r2);
    }
    s.Suma_X = sums.Suma_X;
    s.Suma_Y = sums.Suma_Y;
    s.Suma_XY = sums.Suma_XY;
    s.Suma_X2 = sums.Suma_X2;
    s.dif_carre_tot = sums.dif_carre_tot;
    s.Prom_X = s.Suma_X / s.N_tot;
    s.N_lig = s.N_tot;
}
