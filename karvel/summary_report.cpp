// Last stage: after a key press, the statistics of the whole comparison and
// the RMS error go to the summary file, which is then closed.
#include <limits>

#include "console.h"
#include "numfmt.h"
#include "run.h"
#include "state.h"
#include "summary_text.h"
#include "sums.h"
#include "treatment.h"

using namespace summary_text;

namespace {

// Mean of a per-line figure over the lines that entered its total; without
// any such line it is not a number.
double mean(double total, long long lines) {
    return lines == 0 ? std::numeric_limits<double>::quiet_NaN() : total / double(lines);
}

}  // namespace

void summary_report(const Stats &s) {
    out("\n\n\tPress any key to save the results ");
    wait_key();
    const double rms = rms_error(s.dif_carre_tot, s.kco);

    text_write(f2d, kfmt("\n\tSt. Dev. = %lf\t\tMin. %lf\tMax. %lf ", mean(s.desv_tot, s.desv_n), s.min_desv,
                         s.max_desv));
    text_write(f2d, kfmt("\n\tSlope = %lf\t\tMin. %lf\tMax. %lf ", mean(s.slope_tot, s.slope_n), s.min_slope,
                         s.max_slope));
    text_write(f2d, kfmt("\n\tr = %lf\t\t\tMin. %lf\tMax. %lf ", mean(s.r_tot, s.r_n), s.min_r, s.max_r));
    text_write(f2d, kfmt("\n\tr2 = %lf\t\t\tMin. %lf\tMax. %lf ", mean(s.R2_tot, s.R2_n), s.min_r2, s.max_r2));

    // Lines whose figure was not a finite number weigh on no mean: say so.
    const struct {
        const char *label;
        long long left_out;
    } left[] = {{"St. Dev.", s.jco - s.desv_n}, {"Slope", s.jco - s.slope_n}, {"r", s.jco - s.r_n},
                {"r2", s.jco - s.R2_n}};
    std::string note;
    for (const auto &f : left) {
        if (f.left_out == 0) continue;
        note += kfmt("%s%s %lld", note.empty() ? "" : ", ", f.label, f.left_out);
    }
    if (!note.empty())
        text_write(f2d, kfmt("\n\t%s %s ", kLinesLeftOut, note.c_str()));
    if (nodata[0].declared || nodata[1].declared) {
        const long long positions = (long long)nb_lig * nb_col;
        text_write(f2d, kfmt("\n\t%s %lld of %lld ", kPositionsLeftOut, positions - nb_kept, positions));
    }

    text_write(f2d, kfmt("\n\n\t%s = %lf", kRms, rms));
    text_write(f2d, kfmt("\n\n\t%s = %lf\n\t%s = %lf\n\t%s = %lf\n\t%s = %lf ", kSumX, s.Suma_X, kSumY, s.Suma_Y, kSumXY,
                         s.Suma_XY, kSumX2, s.Suma_X2));
    text_write(f2d, kfmt("\n\t%s = %lf\t%s = %lf ", kB1, s.B1, kB0, s.B0));
    text_write(f2d, kfmt("\n\n\tSum_Y_estim = %lf\n\tSum_err = %lf\n\tSum_err2 = %lf ", s.Suma_Y_estim, s.Suma_err,
                         s.Suma_err2));
    text_write(f2d, kfmt("\n\tmin_err = %lf\tmax_err = %lf ", s.min_err, s.max_err));
    text_write(f2d, "\n\tcf. diagram");
    if (!s.histogram_note.empty()) text_write(f2d, "\n\t" + s.histogram_note + " ");
    text_write(f2d, kfmt("\n\n\tvariance = %lf\n\tVar B0 = %lf\n\tVar_B1 = %lf ", s.Var_Resid, s.Var_B0, s.Var_B1));
    text_write(f2d, kfmt("\n\n\tErr_St_B0 = %lf\tErr_St_B1 = %lf ", s.Err_St_B0, s.Err_St_B1));
    text_write(f2d, kfmt("\n\n\t%s = %lf\n\t%s = %lf ", kB0Calc, s.B0_Calc, kB1Calc, s.B1_Calc));
    text_write(f2d, "\n\n\n");
    text_finish(f2d);
}
