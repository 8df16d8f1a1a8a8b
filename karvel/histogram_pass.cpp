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

// Histograms of up to this many bins are counted in kWays interleaved
// copies (position j into copy j % kWays) added up at the end: with one copy
// every count waits for the previous one whenever neighbouring positions
// fall into the same bin.
constexpr int kWays = 4;
constexpr int kInterleaveUpTo = 1 << 16;
static_assert(kBlock % kWays == 0, "every block starts at copy 0");

// Counts one line's errors, in blocks: the bins first, two at a time, then
// the counts. An error that is not finite has no bin; every finite error is
// at most max_err, so its bin is in range.
template <int Ways>
[[gnu::noinline]] void count_line(const double *row1, const double *row2, int cols, double B1, double B0,
                                  double max_err, int *counts, int max_histo) {
    alignas(16) double estimates[kBlock], errors[kBlock];
    alignas(16) int bins[kBlock];
    int *copy[kWays];
    for (int w = 0; w < kWays; w++) copy[w] = counts + size_t(w % Ways) * size_t(max_histo);
    for (int start = 0; start < cols; start += kBlock) {
        const int n = std::min(kBlock, cols - start);
        position_errors(row1 + start, row2 + start, n, B1, B0, estimates, errors);
        if (n % 2) errors[n] = 0.0;  // an odd block's last pair: n < kBlock, so errors[n] exists
        for (int j = 0; j < n; j += 2) {
            double2 e;
            std::memcpy(&e, errors + j, sizeof e);
            const mask2 finite = e <= max_err;
            const int2 whole = pair_tenths((double2)((mask2)e & finite));  // 0 where not finite
            std::memcpy(bins + j, &whole, sizeof whole);
        }
        int j = 0;
        for (; j + kWays <= n; j += kWays)
            for (int w = 0; w < kWays; w++)
                if (errors[j + w] <= max_err) copy[w][bins[j + w]]++;
        for (; j < n; j++)
            if (errors[j] <= max_err) copy[j % kWays][bins[j]]++;
    }
}

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

    int *counts = max_histo <= kInterleaveUpTo ? ivecteur(kWays * max_histo) : nullptr;

    out("\n\n\tThird Treatment \n\n");
    lines.begin_pass();
    for (int i = 0; i < nb_lig; i++) {
        show_progress(Pass::histogram, i);
        const double *row1, *row2;
        const int n = lines.next(row1, row2);
        if (counts != nullptr)
            count_line<kWays>(row1, row2, n, s.B1, s.B0, s.max_err, counts, max_histo);
        else
            count_line<1>(row1, row2, n, s.B1, s.B0, s.max_err, histo_error, max_histo);
    }
    lines.end_pass();
    if (counts != nullptr) {
        for (int w = 0; w < kWays; w++)
            for (int k = 0; k < max_histo; k++) histo_error[k] += counts[size_t(w) * size_t(max_histo) + size_t(k)];
        frivecteur(counts);
    }
    for (int k = 1; k < max_histo; k++) text_write(f5d, kfmt("%d\t%d\n", k, histo_error[k]));
    frivecteur(histo_error);
}
