// Fourth stage: the errors counted in bins of one tenth of the unit, written
// to the histogram table from bin 1 on.
#include <cmath>

#include "console.h"
#include "nrutil.h"
#include "numfmt.h"
#include "state.h"
#include "treatment.h"

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
    const double B1 = s.B1, B0 = s.B0;
    for (int i = 0; i < nb_lig; i++) {
        if (i % 1000 == 0) out_now(kfmt("\t\tline %d                    \r    ", i));
        const double *row1 = dtab1[i];
        const double *row2 = dtab2[i];
        for (int j = 0; j < nb_col; j++) {
            double Y_estim;
            const double err = position_error(row1[j], row2[j], B1, B0, Y_estim);
            // Every finite error is at most max_err, so its bin is in range;
            // an error that is not finite has no bin.
            const long long hist_val = tenths(err);
            if (hist_val < max_histo) histo_error[hist_val]++;
        }
    }
    for (int k = 1; k < max_histo; k++) text_write(f5d, kfmt("%d\t%d\n", k, histo_error[k]));
    frivecteur(histo_error);
}
