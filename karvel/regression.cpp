// Second stage: the least-squares line y = B0 + B1·x over every position,
// by eliminating B0 between the two normal equations, shown step by step.
#include "console.h"
#include "numfmt.h"
#include "sums.h"
#include "treatment.h"

void regression(Stats &s) {
    const double N = s.N_lig;
    out("\n\n\tInput Values");
    out(kfmt("\n\t\tSum_X = %lf\tSum_Y = %lf\n\t\tSum_XY = %lf\tSum_X2 = %lf ", s.Suma_X, s.Suma_Y, s.Suma_XY,
             s.Suma_X2));
    RasterSums sums;
    sums.Suma_X = s.Suma_X;
    sums.Suma_Y = s.Suma_Y;
    sums.Suma_XY = s.Suma_XY;
    sums.Suma_X2 = s.Suma_X2;
    const LineFit f = fit_line(N, sums);

    // Equation 1 (N·B0 + ΣX·B1 = ΣY) times −ΣX.
    out("\n\n\tEquation 1");
    out(kfmt("\n\t\tNeg_Sum_X = %lf\tSum_Y_by_Neg_Sum_X = %lf ", f.Neg_Suma_X, f.Suma_Y_por_Neg_Suma_X));
    out(kfmt("\n\t\tN_by_Neg_Sum_X = %lf\tSum_X_by_Neg_Sum_X = %lf ", f.N_por_Neg_Suma_X, f.Suma_X_por_Neg_Suma_X));

    // Equation 2 (ΣX·B0 + ΣX²·B1 = ΣXY) times N.
    out("\n\n\tEquation 2");
    out(kfmt("\n\t\tSum_XY_by_N = %lf\tSum_X_by_N = %lf\n\t\tSum_X2_by_N = %lf ", f.Suma_XY_por_N, f.Suma_X_por_N,
             f.Suma_X2_por_N));
    out("\n\n\tNote : N corresponds to the total number of points");

    // Their sum no longer holds B0.
    out("\n\n\tDifferences");
    out(kfmt("\n\t\tDif_XY_Y = %lf\tDif_X2_X = %lf \n", f.Dif_XY_Y, f.Dif_X2_X));

    s.B1 = f.B1;
    s.B0 = f.B0;
    out("\n\n\tcalculation of B1 and B0");
    out("\n\n\tB1 = Dif_XY_Y/Dif_X2_X");
    out("\n\tB0 = (Sum_Y-(Sum_X*B1))/N");
    out(kfmt("\n\n\tB1 = %lf B0 = %lf ", s.B1, s.B0));
}
