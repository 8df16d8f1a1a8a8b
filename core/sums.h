// The sums of a comparison and the figures formed from them, free of any
// run state: karvel's line pass and the report program both walk the
// rasters through these, so that both get the same numbers.
//
// Every sum is taken one addition at a time in column order, line after
// line; a line's own sums are taken of the same values as the whole-raster
// sums, in the same walk.
#ifndef KARVEL_SUMS_H
#define KARVEL_SUMS_H

// The whole-raster sums of the line pass.
struct RasterSums {
    double Suma_X = 0.0, Suma_Y = 0.0, Suma_XY = 0.0, Suma_X2 = 0.0;
    double dif_carre_tot = 0.0;  // the squared differences, for the RMS error
};

// One line's figures: the spread of its absolute differences, the slope of
// y on x, r and r².
struct LineFigures {
    double desv, slope, r, R2;
    // Square roots taken of a negative number (each gives a not-a-number):
    // the caller says so, once for each.
    int domain_errors = 0;
};

// n·Σab − Σa·Σb, the cross term of the least-squares formulas.
inline double lsq_cross(double n, double sum_ab, double sum_a, double sum_b) { return n * sum_ab - sum_a * sum_b; }

// Least-squares slope of y on x over x[0..M-1], y[0..M-1].
double slope(const double *x, const double *y, int M);

// Walks one line of both rasters: adds it to the whole-raster sums and
// returns its figures; a line of no position has none (each is 0 / 0).
LineFigures line_walk(const double *row1, const double *row2, int cols, RasterSums &sums);

// Adds one line to the whole-raster sums only, exactly as line_walk does.
void sums_walk(const double *row1, const double *row2, int cols, RasterSums &sums);

// The least-squares line y = B0 + B1·x over N positions from the
// whole-raster sums, by eliminating B0 between the two normal equations
// (N·B0 + ΣX·B1 = ΣY times −ΣX, ΣX·B0 + ΣX²·B1 = ΣXY times N, added), with
// every step of the elimination.
struct LineFit {
    double Neg_Suma_X, Suma_Y_por_Neg_Suma_X, N_por_Neg_Suma_X, Suma_X_por_Neg_Suma_X;
    double Suma_XY_por_N, Suma_X_por_N, Suma_X2_por_N;
    double Dif_XY_Y, Dif_X2_X;
    double B1, B0;
};
LineFit fit_line(double N, const RasterSums &sums);

// The RMS error between the two rasters from the sum of the squared
// differences over kco ≥ 1 positions: sqrt(dif_carre_tot / (kco − 1)),
// whose argument is never below zero (one position gives a not-a-number).
double rms_error(double dif_carre_tot, long long kco);

#endif
