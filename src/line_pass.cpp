// First stage: line by line, the spread of the absolute differences, the
// slope, r and r² of the second raster on the first; the whole-raster sums.
#include <climits>
#include <cmath>

#include "console.h"
#include "nrutil.h"
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

// First walk: fills the line buffers (from element 1), adds to the
// whole-raster sums, and returns the sum of the absolute differences.
[[gnu::noinline]] double first_walk(const double *row1, const double *row2, int cols, double *xx, double *yy,
                                    RasterSums &r) {
    double Suma_X = r.Suma_X, Suma_Y = r.Suma_Y, Suma_XY = r.Suma_XY, Suma_X2 = r.Suma_X2,
           dif_carre_tot = r.dif_carre_tot, dif_tot = 0.0;
    for (int j = 0; j < cols; j++) {
        const double x = row1[j], y = row2[j];
        xx[j + 1] = x;
        yy[j + 1] = y;
        Suma_X += x;
        Suma_Y += y;
        Suma_XY += x * y;
        Suma_X2 += x * x;
        const double dif = std::fabs(x - y);
        const double dif_carre = dif * dif;
        dif_carre_tot += dif_carre;
        dif_tot += dif;
    }
    r = {Suma_X, Suma_Y, Suma_XY, Suma_X2, dif_carre_tot};
    return dif_tot;
}

// The line's sums, from its buffers (elements 1 to n).
[[gnu::noinline]] LineSums buffer_walk(const double *xx, const double *yy, int n) {
    double X = 0.0, Y = 0.0, XY = 0.0, X2 = 0.0, Y2 = 0.0;
    for (int k = 1; k <= n; k++) {
        XY += xx[k] * yy[k];
        X += xx[k];
        X2 += xx[k] * xx[k];
        Y += yy[k];
        Y2 += yy[k] * yy[k];
    }
    return {X, Y, XY, X2, Y2};
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
    // Element k of a buffer holds column k - 1; element 0 is not used.
    const int buffer_size = nb_col < INT_MAX ? nb_col + 1 : 0;  // a size of 0 obtains nothing
    double *xx = dvecteur(buffer_size);
    need_memory(xx, "a line buffer", 1, (long long)nb_col + 1, 8);
    double *yy = dvecteur(buffer_size);
    need_memory(yy, "a line buffer", 1, (long long)nb_col + 1, 8);
    s.N_tot = double((long long)nb_lig * nb_col);
    out("\n\n\tFirst Treatment\n\n");

    RasterSums sums{0.0, 0.0, 0.0, 0.0, 0.0};
    for (int i = 0; i < nb_lig; i++) {
        s.jco++;
        if (s.jco % 1000 == 0) out_now(kfmt("\t\tline %d                  \r    ", s.jco));

        const double *row1 = dtab1[i];
        const double *row2 = dtab2[i];
        double dif_tot = first_walk(row1, row2, nb_col, xx, yy, sums);
        const int ico = nb_col;
        s.kco += ico;

        const LineSums l = buffer_walk(xx, yy, ico);
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
    // The line buffers are not needed beyond this pass.
    frdvecteur(xx);
    frdvecteur(yy);
    s.Suma_X = sums.Suma_X;
    s.Suma_Y = sums.Suma_Y;
    s.Suma_XY = sums.Suma_XY;
    s.Suma_X2 = sums.Suma_X2;
    s.dif_carre_tot = sums.dif_carre_tot;
    s.Prom_X = s.Suma_X / s.N_tot;
    s.N_lig = s.N_tot;
}
