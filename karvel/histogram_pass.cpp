// Fourth stage: the errors counted in bins of one tenth of the unit, written
// to the histogram table from bin 1 on.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "console.h"
#include "nrutil.h"
#include "numfmt.h"
#include "passes.h"
#include "position_error.h"
#include "state.h"
#include "treatment.h"

namespace {

// Says on the console, and leaves for the summary, why the table is empty.
void leave_empty(Stats &s, const std::string &why) {
    out("\n\n\t" + why + "\n");
    s.histogram_note = why;
}

}  // namespace

void histogram_pass(Stats &s, LinePairs &lines) {
    s.histogram_note.clear();
    if (std::isnan(s.max_err)) {
        leave_empty(s, "No error is a finite number: the histogram table stays empty");
        return;
    }
    const long long last_bin = tenths(s.max_err);
    if (last_bin >= INT_MAX) {
        leave_empty(s, kfmt("The largest error, %lf, needs more histogram bins than a count can hold: "
                         "the histogram table stays empty",
                         s.max_err));
        return;
    }
    const int max_histo = int(last_bin) + 1;
    int *histo_error = ivecteur(max_histo);
    if (histo_error == nullptr) {
        leave_empty(s, kfmt("Not enough memory for %d histogram bins (%lld bytes): the histogram table stays empty",
                         max_histo, (long long)max_histo * 4));
        return;
    }

    // Interleaved copies where there is room for them (one copy will do).
    int *counts = max_histo <= kInterleaveUpTo ? ivecteur(kCountWays * max_histo) : nullptr;

    out("\n\n\tThird Treatment \n\n");
    lines.begin_pass();
    for (int i = 0; i < nb_lig; i++) {
        show_progress(Pass::histogram, i);
        const double *row1, *row2;
        const int n = lines.next(row1, row2);
        // Every finite error is at most max_err, so its bin is in range.
        if (counts != nullptr)
            count_tenths(row1, row2, n, s.B1, s.B0, s.max_err, counts, size_t(max_histo), kCountWays);
        else
            count_tenths(row1, row2, n, s.B1, s.B0, s.max_err, histo_error, size_t(max_histo), 1);
    }
    lines.end_pass();
    if (counts != nullptr) {
        for (int w = 0; w < kCountWays; w++)
            for (int k = 0; k < max_histo; k++) histo_error[k] += counts[size_t(w) * size_t(max_histo) + size_t(k)];
        frivecteur(counts);
    }
    for (int k = 1; k < max_histo; k++) text_write(f5d, kfmt("%d\t%d\n", k, histo_error[k]));
    frivecteur(histo_error);
}
