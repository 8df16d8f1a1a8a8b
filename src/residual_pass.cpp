// Third stage: the error of every position against the fitted line, and the
// residual variance with the variances and standard errors of B0 and B1.
#include <cmath>

#include "console.h"
#include "numfmt.h"
#include "run.h"
#include "state.h"
#include "treatment.h"

void residual_pass(Stats &s) {
    const double B1 = s.B1, B0 = s.B0, Prom_X = s.Prom_X;
    double Suma_Mini_X2 = 0.0;
    double Suma_Y_estim = s.Suma_Y_estim, Suma_err = s.Suma_err, Suma_err2 = s.Suma_err2;
    // Extremes of the finite errors; an error that is not finite (only when
    // the fitted line has no finite coefficients) has no place among them.
    double min_err = INFINITY, max_err = -INFINITY;
    out("\n\n\tSecond Treatment\n\n");
    for (int i = 0; i < nb_lig; i++) {
        if (i % 1000 == 0) out_now(kfmt("\t\tline %d                    \r    ", i));
        const double *row1 = dtab1[i];
        const double *row2 = dtab2[i];
        for (int j = 0; j < nb_col; j++) {
            const double x = row1[j];
            const double Mini_X = std::fabs(x - Prom_X);
            Suma_Mini_X2 += Mini_X * Mini_X;
            double Y_estim;
            const double err = position_error(x, row2[j], B1, B0, Y_estim);
            if (min_err > err) min_err = err;
            if (max_err < err && err != INFINITY) max_err = err;
            const double err2 = err * err;
            Suma_Y_estim += Y_estim;
            Suma_err += err;
            Suma_err2 += err2;
        }
    }
    if (max_err < 0) {
        // No finite error at all.
        min_err = max_err = NAN;
    }
    s.Suma_Y_estim = Suma_Y_estim;
    s.Suma_err = Suma_err;
    s.Suma_err2 = Suma_err2;
    s.min_err = min_err;
    s.max_err = max_err;
    out(kfmt("\n\n\tSum_Y_estim = %lf\tSum_err = %lf\n\tSum_err2 = %lf ", s.Suma_Y_estim, s.Suma_err, s.Suma_err2));
    out(kfmt("\n\tmin_err = %lf\t\tmax_err = %lf ", s.min_err, s.max_err));

    const double N_tot = s.N_tot;
    s.Var_Resid = s.Suma_err2 / (N_tot - 2);
    s.Var_B0 = (s.Suma_X2 / (N_tot * Suma_Mini_X2)) * s.Var_Resid;
    s.Var_B1 = (1 / Suma_Mini_X2) * s.Var_Resid;
    s.Err_St_B1 = ksqrt(s.Var_B1);
    s.Err_St_B0 = ksqrt(s.Var_B0);
    s.B0_Calc = s.B0 / s.Var_B0;
    s.B1_Calc = s.B1 / s.Var_B1;
    out(kfmt("\n\n\tVariance = %lf\n\tVar B0 = %lf\n\tVar_B1 = %lf ", s.Var_Resid, s.Var_B0, s.Var_B1));
    out(kfmt("\n\tErr_St_B0 = %lf\n\tErr_St_B1 = %lf ", s.Err_St_B0, s.Err_St_B1));
    out(kfmt("\n\tB0_Calc = %lf\n\tB1_Calc = %lf ", s.B0_Calc, s.B1_Calc));
}
