// The statistics phase: five stages over the two double grids, in order.
// Each stage hands its results on to the later ones through Stats.
#ifndef KARVEL_TREATMENT_H
#define KARVEL_TREATMENT_H

#include <climits>
#include <string>

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

// The residual and histogram passes work on two positions at a time (GCC
// vector extensions: SSE2 on x86-64, plain code elsewhere). Each lane is
// computed exactly as a lone double would be, so the results are those of
// one position at a time.
typedef double double2 __attribute__((vector_size(16)));
typedef long long mask2 __attribute__((vector_size(16)));  // all ones or all zeros per lane
typedef int int2 __attribute__((vector_size(8)));

// The estimate of y on the fitted line, x·B1 + B0, and the absolute error of
// y against it, |y − estimate|, of two positions. This is the one place the
// error of a position is formed: the residual pass and the histogram pass
// both call it, so that every error is the same value in both.
inline void pair_errors(double2 x, double2 y, double B1, double B0, double2 &Y_estim, double2 &err) {
    Y_estim = x * B1 + B0;
    err = (double2)((mask2)(y - Y_estim) & 0x7fffffffffffffffLL);  // clears the sign bit
}

// The same for a single position.
inline double position_error(double x, double y, double B1, double B0, double &Y_estim) {
    double2 est, err;
    pair_errors(double2{x, x}, double2{y, y}, B1, B0, est, err);
    Y_estim = est[0];
    return err[0];
}

// The whole part of ten times each of two errors, formed exactly, for
// 0 ≤ e and 10·e < 2^31. When 10·e rounded, p, is not a whole number, no
// whole number lies between p and the exact 10·e (it would be a nearer
// double), so they share their whole part. When p is one, the exact product
// may lie just below it: then 10·e = 8·e + 2·e, both exact, and the
// rounding error of their sum, recovered exactly, tells on which side of p
// it lies.
inline int2 pair_tenths(double2 e) {
    const double2 p = e * 10.0;
    const int2 whole = __builtin_convertvector(p, int2);  // truncation: the whole part of p ≥ 0
    const double2 lost = 2.0 * e - (p - 8.0 * e);
    const mask2 below = (__builtin_convertvector(whole, double2) == p) & (lost < 0.0);
    return whole + __builtin_convertvector(below, int2);  // a true lane is -1
}

// The whole part of ten times e, formed exactly: an error stored as the
// double nearest to 0.3, which lies just below 0.3, gives 2. Values whose
// tenfold reaches 2^31, and not-a-number, give the largest long long.
inline long long tenths(double e) {
    if (!(e * 10.0 < 2147483648.0)) return LLONG_MAX;
    return pair_tenths(double2{e, 0.0})[0];
}

// The residual and histogram passes walk each line in blocks of this many
// positions.
constexpr int kBlock = 512;

// Estimates and errors of n ≤ kBlock positions (pair_errors, two at a time).
void position_errors(const double *x, const double *y, int n, double B1, double B0, double *Y_estim, double *err);

void line_pass(Stats &s);
void regression(Stats &s);
void residual_pass(Stats &s);
void histogram_pass(const Stats &s);
// Why the histogram table stayed empty, for the summary; empty when it did not.
extern std::string histogram_note;
void summary_report(const Stats &s);

#endif
