// The statistics phase: five stages over the two double grids, in order.
// Each stage hands its results on to the later ones through Stats.
#ifndef KARVEL_TREATMENT_H
#define KARVEL_TREATMENT_H

#include <climits>
#include <cmath>
#include <vector>

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
    // finite number; *_n counts those lines. The extremes are those of the
    // same values, not-a-number while no line has entered.
    double desv_tot = 0.0, slope_tot = 0.0, r2_tot = 0.0, R2_tot = 0.0;
    long long desv_n = 0, slope_n = 0, r2_n = 0, R2_n = 0;
    double min_desv, max_desv, min_slope, max_slope, min_r, max_r, min_r2, max_r2;

    // Global regression.
    double B1 = 0.0, B0 = 0.0;

    // Residual pass. The error extremes are those of the finite errors.
    double Suma_Y_estim = 0.0, Suma_err = 0.0, Suma_err2 = 0.0;
    double min_err, max_err;
    double Var_Resid = 0.0, Var_B0 = 0.0, Var_B1 = 0.0;
    double Err_St_B0 = 0.0, Err_St_B1 = 0.0, B0_Calc = 0.0, B1_Calc = 0.0;

    Stats();
};

// Least-squares slope of y on x over x[0..M-1], y[0..M-1].
double slope(const double *x, const double *y, int M);

// n·Σab − Σa·Σb, the cross term of the least-squares formulas.
inline double lsq_cross(double n, double sum_ab, double sum_a, double sum_b) { return n * sum_ab - sum_a * sum_b; }

// The estimate of y on the fitted line and the absolute error of y against
// it. The residual pass and the histogram pass both call this, so that every
// error is the same value in both.
inline double position_error(double x, double y, double B1, double B0, double &Y_estim) {
    Y_estim = x * B1 + B0;
    return std::fabs(y - Y_estim);
}

// The whole part of ten times e, formed exactly (for a finite e ≥ 0 whose
// tenfold lies below 2^52; larger values and not-a-number give the largest
// long long): an error stored as the double nearest to 0.3, which lies just
// below 0.3, gives 2.
inline long long tenths(double e) {
    const double p = e * 10.0;  // 10·e rounded to the nearest double
    if (!(p < 4503599627370496.0)) return LLONG_MAX;  // 2^52 and beyond, or not a number
    long long whole = (long long)p;  // p ≥ 0: truncation is the whole part
    // When p is not a whole number, no whole number lies between p and the
    // exact 10·e (it would be a nearer double), so they share their whole
    // part. When p is one, the exact product may lie just below it: then
    // 10·e = 8·e + 2·e, both exact, and the rounding error of their sum,
    // recovered exactly, tells on which side of p it lies.
    if (double(whole) == p) {
        const double a = 8.0 * e, b = 2.0 * e;
        const double lost = b - (p - a);
        if (lost < 0) whole -= 1;
    }
    return whole;
}

// The smallest error of each bin: floors[k] is the least double e whose
// exact tenfold is at least k, for k from 0 to bins (one beyond the last
// bin, for errors whose rounded tenfold reaches it).
std::vector<double> bin_floors(int bins);

// The bin of an error e from 0 up to the largest error of a histogram of
// `bins` bins, the same as tenths(e): ten times e rounded can exceed the
// exact tenfold's whole part by one at most, and the floors tell when.
inline int bin_of(double e, const double *floors) {
    const int k = int(e * 10.0);
    return k - (e < floors[k] ? 1 : 0);
}

void line_pass(Stats &s);
void regression(Stats &s);
void residual_pass(Stats &s);
void histogram_pass(const Stats &s);
void summary_report(const Stats &s);

#endif
