// First stage: line by line, the spread of the absolute differences, the
// slope, r and r² of the second raster on the first; the whole-raster sums.
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

}  // namespace

void line_pass(Stats &s) {
    s.jco = 0;
    s.kco = 0;
    s.Suma_err2 = s.Suma_err = s.Suma_Y_estim = 0.0;
    text_write(f4d, "Line\tSt. Dev.\tSlope\tr\tr2\n");
    double *xx = dvecteur(nb_col + 1);
    need_memory(xx, "a line buffer", 1, (long long)nb_col + 1, 8);
    double *yy = dvecteur(nb_col + 1);
    need_memory(yy, "a line buffer", 1, (long long)nb_col + 1, 8);
    s.N_tot = double((long long)nb_lig * nb_col);
    out("\n\n\tFirst Treatment\n\n");

    double Suma_X = 0.0, Suma_Y = 0.0, Suma_XY = 0.0, Suma_X2 = 0.0, dif_carre_tot = 0.0;
    for (int i = 0; i < nb_lig; i++) {
        int ico = 0;
        s.jco++;
        if (s.jco % 1000 == 0) out_now(kfmt("\t\tline %d                  \r    ", s.jco));

        const double *row1 = dtab1[i];
        const double *row2 = dtab2[i];
        double dif_tot = 0.0;
        for (int j = 0; j < nb_col; j++) {
            ico++;
            const double x = row1[j], y = row2[j];
            xx[ico] = x;
            yy[ico] = y;
            Suma_X += x;
            Suma_Y += y;
            Suma_XY += x * y;
            Suma_X2 += x * x;
            const double dif = std::fabs(x - y);
            const double dif_carre = dif * dif;
            dif_carre_tot += dif_carre;
            dif_tot += dif;
        }
        s.kco += ico;

        double X = 0.0, Y = 0.0, XY = 0.0, X2 = 0.0, Y2 = 0.0;
        for (int k = 1; k <= ico; k++) {
            XY += xx[k] * yy[k];
            X += xx[k];
            X2 += xx[k] * xx[k];
            Y += yy[k];
            Y2 += yy[k] * yy[k];
        }
        const double n = ico;
        const double val1 = lsq_cross(n, XY, X, Y);
        const double val2 = lsq_cross(n, X2, X, X);
        const double val3 = lsq_cross(n, Y2, Y, Y);
        const double line_slope = val1 / val2;
        const double r = val1 / ksqrt(val2 * val3);
        const double R2 = r * r;

        const double d_mean = dif_tot / n;
        dif_tot = 0.0;
        for (int j = 0; j < nb_col; j++) {
            const double dif = std::fabs(row1[j] - row2[j]) - d_mean;
            dif_tot += dif * dif;
        }
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
    s.Suma_X = Suma_X;
    s.Suma_Y = Suma_Y;
    s.Suma_XY = Suma_XY;
    s.Suma_X2 = Suma_X2;
    s.dif_carre_tot = dif_carre_tot;
    s.Prom_X = s.Suma_X / s.N_tot;
    s.N_lig = s.N_tot;
}
