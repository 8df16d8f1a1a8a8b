// Third stage: the error of every position against the fitted line, and the
// residual variance with the variances and standard errors of B0 and B1.
#include <algorithm>
#include <cmath>

#include "console.h"
#include "numfmt.h"
#include "passes.h"
#include "position_error.h"
#include "state.h"
#include "treatment.h"

namespace {

struct Totals {
    double Suma_Mini_X2, Suma_Y_estim, Suma_err, Suma_err2;
    double min_err, max_err;  // over the finite errors
};

// One line of the walk, in blocks: the estimates and errors first, then
// the running totals, position by position in order. Kept out of line so
// that the totals stay in registers through the loop.
[[gnu::noinline]] void walk_line(const double *row1, const double *row2, int cols, double B1, double B0,
                                 double Prom_X, Totals &t) {
    double Suma_Mini_X2 = t.Suma_Mini_X2, Suma_Y_estim = t.Suma_Y_estim, Suma_err = t.Suma_err,
           Suma_err2 = t.Suma_err2, min_err = t.min_err, max_err = t.max_err;
    alignas(16) double estimates[kBlock], errors[kBlock];
    for (int start = 0; start < cols; start += kBlock) {
        const int n = std::min(kBlock, cols - start);
        const double *x = row1 + start;
        position_errors(x, row2 + start, n, B1, B0, estimates, errors);
        for (int j = 0; j < n; j++) {
            const double Mini_X = x[j] - Prom_X;  // squared below: its sign does not matter
            Suma_Mini_X2 += Mini_X * Mini_X;
            const double err = errors[j];
            if (min_err > err) min_err = err;
            // An error that is not finite (only when the fitted line has no
            // finite coefficients) has no place among the extremes.
            if (max_err < err && err != INFINITY) max_err = err;
            const double err2 = err * err;
            Suma_Y_estim += estimates[j];
            Suma_err += err;
            Suma_err2 += err2;
        }
    }
    t = {Suma_Mini_X2, Suma_Y_estim, Suma_err, Suma_err2, min_err, max_err};
}

}  // namespace

void residual_pass(Stats &s, LinePairs &lines) {
    Totals t{0.0, s.Suma_Y_estim, s.Suma_err, s.Suma_err2, INFINITY, -INFINITY};
    out("\n\n\tSecond Treatment\n\n");
    lines.begin_pass();
    for (int i = 0; i < nb_lig; i++) {
        show_progress(Pass::residuals, i);
        const double *row1, *row2;
        const int n = lines.next(row1, row2);
        walk_line(row1, row2, n, s.B1, s.B0, s.Prom_X, t);
    }
    lines.end_pass();
    if (t.max_err < 0) t.min_err = t.max_err = NAN;  // no finite error at all
    s.Suma_Y_estim = t.Suma_Y_estim;
    s.Suma_err = t.Suma_err;
    s.Suma_err2 = t.Suma_err2;
    s.min_err = t.min_err;
    s.max_err = t.max_err;
    out(kfmt("\n\n\tSum_Y_estim = %lf\tSum_err = %lf\n\tSum_err2 = %lf ", s.Suma_Y_estim, s.Suma_err, s.Suma_err2));
    out(kfmt("\n\tmin_err = %lf\t\tmax_err = %lf ", s.min_err, s.max_err));

    const double N_tot = s.N_tot, Suma_Mini_X2 = t.Suma_Mini_X2;
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
