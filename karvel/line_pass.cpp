// First stage: line by line, the spread of the absolute differences, the
// slope, r and r² of the second raster on the first; the whole-raster sums.
#include <cmath>

#include "console.h"
#include "numfmt.h"
#include "passes.h"
#include "state.h"
#include "summary_text.h"
#include "sums.h"
#include "treatment.h"

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

void line_pass(Stats &s, LinePairs &lines) {
    s.jco = 0;
    s.kco = 0;
    s.Suma_err2 = s.Suma_err = s.Suma_Y_estim = 0.0;
    text_write(f4d, summary_text::kLineTableHeader);
    s.N_tot = double(nb_kept);
    out("\n\n\tFirst Treatment\n\n");

    RasterSums sums;
    lines.begin_pass();
    for (int i = 0; i < nb_lig; i++) {
        s.jco++;
        show_progress(Pass::lines, i);
        const double *row1, *row2;
        const int n = lines.next(row1, row2);
        const LineFigures f = line_walk(row1, row2, n, sums);
        for (int k = 0; k < f.domain_errors; k++) say_sqrt_domain_error();
        s.kco += n;

        text_write(f4d, kfmt("%d\t%lf\t%lf\t%lf\t%lf\n", i, f.desv, f.slope, f.r, f.R2));

        enter(f.desv, s.desv_tot, s.desv_n, s.min_desv, s.max_desv);
        enter(f.slope, s.slope_tot, s.slope_n, s.min_slope, s.max_slope);
        enter(f.r, s.r_tot, s.r_n, s.min_r, s.max_r);
        enter(f.R2, s.R2_tot, s.R2_n, s.min_r2, s.max_r2);
    }
    lines.end_pass();
    s.Suma_X = sums.Suma_X;
    s.Suma_Y = sums.Suma_Y;
    s.Suma_XY = sums.Suma_XY;
    s.Suma_X2 = sums.Suma_X2;
    s.dif_carre_tot = sums.dif_carre_tot;
    s.Prom_X = s.Suma_X / s.N_tot;
    s.N_lig = s.N_tot;
}
