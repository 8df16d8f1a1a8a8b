// Fourth stage: the errors counted in bins of one tenth of the unit, written
// to the histogram table from bin 1 on.
#include <cmath>

#include "console.h"
#include "nrutil.h"
#include "numfmt.h"
#include "state.h"
#include "treatment.h"

namespace {

// Counts one line's errors. Kept out of line so that the loop keeps its
// values in registers.
[[gnu::noinline]] void count_line(const double *row1, const double *row2, int cols, double B1, double B0,
                                  int *histo_error, int max_histo) {
    for (int j = 0; j < cols; j++) {
        double Y_estim;
        const double err = position_error(row1[j], row2[j], B1, B0, Y_estim);
        // Every finite error is at most max_err, so its bin is in range; an
        // error that is not finite has no bin.
        const long long hist_val = tenths(err);
        if (hist_val < max_histo) histo_error[hist_val]++;
    }
}

}  // namespace

void histogram_pass(const Stats &s) {
    if (std::isnan(s.max_err)) {
        out("\n\n\tNo error is a finite number: the histogram table stays empty\n");
        return;
    }
    const long long bins = tenths(s.max_err) + 1;
    if (bins > 2147483647LL) {
        out(kfmt("\n\n\tThe largest error, %lf, needs more histogram bins than a count can hold: "
                 "the histogram table stays empty\n",
                 s.max_err));
        return;
    }
    const int max_histo = int(bins);
    int *histo_error = ivecteur(max_histo);
    if (histo_error == nullptr) {
        out(kfmt("\n\n\tNot enough memory for %d histogram bins (%lld bytes): the histogram table stays empty\n",
                 max_histo, (long long)max_histo * 4));
        return;
    }

    out("\n\n\tThird Treatment \n\n");
    for (int i = 0; i < nb_lig; i++) {
        if (i % 1000 == 0) out_now(kfmt("\t\tline %d                    \r    ", i));
        count_line(dtab1[i], dtab2[i], nb_col, s.B1, s.B0, histo_error, max_histo);
    }
    for (int k = 1; k < max_histo; k++) text_write(f5d, kfmt("%d\t%d\n", k, histo_error[k]));
    frivecteur(histo_error);
}
