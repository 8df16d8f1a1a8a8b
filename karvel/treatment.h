// The statistics phase: five stages over the lines of the two rasters, in order.
// Each stage hands its results on to the later ones through Stats.
#ifndef KARVEL_TREATMENT_H
#define KARVEL_TREATMENT_H

#include <string>

#include "line_pairs.h"

struct Stats {
    // Line pass.
    int jco = 0;           // lines begun
    long long kco = 0;     // positions walked
    double N_tot = 0.0;    // nb_lig × nb_col
    double N_lig = 0.0;    // the N of the regression (= N_tot)
    double Suma_X = 0.0, Suma_Y = 0.0, Suma_XY = 0.0, Suma_X2 = 0.0;
    double dif_carre_tot = 0.0;
    double Prom_X = 0.0;
    // Totals of the per-line figures, over the lines whose figure is a
    // finite number; *_n counts those lines. r_tot sums r, R2_tot sums r².
    // The extremes are those of the same values, not-a-number while no line
    // has entered.
    double desv_tot = 0.0, slope_tot = 0.0, r_tot = 0.0, R2_tot = 0.0;
    long long desv_n = 0, slope_n = 0, r_n = 0, R2_n = 0;
    double min_desv, max_desv, min_slope, max_slope, min_r, max_r, min_r2, max_r2;

    // Global regression.
    double B1 = 0.0, B0 = 0.0;

    // Residual pass. The error extremes are those of the finite errors.
    double Suma_Y_estim = 0.0, Suma_err = 0.0, Suma_err2 = 0.0;
    double min_err, max_err;
    double Var_Resid = 0.0, Var_B0 = 0.0, Var_B1 = 0.0;
    double Err_St_B0 = 0.0, Err_St_B1 = 0.0, B0_Calc = 0.0, B1_Calc = 0.0;

    // Histogram pass: why the histogram table stayed empty, for the summary;
    // empty when it did not.
    std::string histogram_note;

    Stats();
};

// The three passes walk the lines of both rasters that `lines` hands out.
void line_pass(Stats &s, LinePairs &lines);
void regression(Stats &s);
void residual_pass(Stats &s, LinePairs &lines);
void histogram_pass(Stats &s, LinePairs &lines);
void summary_report(const Stats &s);

#endif
