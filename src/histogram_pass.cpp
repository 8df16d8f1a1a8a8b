// Fourth stage: the errors counted in bins of one tenth of the unit, written
// to the histogram table from bin 1 on.
#include <cmath>
#include <vector>

#include "console.h"
#include "nrutil.h"
#include "numfmt.h"
#include "state.h"
#include "treatment.h"

std::vector<double> bin_floors(int bins) {
    std::vector<double> floors(size_t(bins) + 1);
    for (int k = 0; k <= bins; k++) {
        // k / 10 lies within a few units in the last place of the floor.
        double e = k / 10.0;
        while (e > 0 && tenths(std::nextafter(e, 0.0)) >= k) e = std::nextafter(e, 0.0);
        while (tenths(e) < k) e = std::nextafter(e, INFINITY);
        floors[size_t(k)] = e;
    }
    return floors;
}

namespace {

// Histograms of up to this many bins are counted with a table of bin
// floors, in kWays interleaved copies (position j into copy j % kWays) added
// up at the end: with one copy every count waits for the previous one
// whenever neighbouring positions fall into the same bin. Larger ones are
// counted in place, each bin worked out on its own.
constexpr int kWays = 4;
constexpr int kSmallUpTo = 1 << 16;

// Counts one line's errors. Kept out of line so that the loop keeps its
// values in registers.
template <bool Small>
[[gnu::noinline]] void count_line(const double *row1, const double *row2, int cols, double B1, double B0,
                                  double max_err, const double *floors, int *counts, int max_histo) {
    for (int j = 0; j < cols; j++) {
        double Y_estim;
        const double err = position_error(row1[j], row2[j], B1, B0, Y_estim);
        // Every finite error is at most max_err, so its bin is in range; an
        // error that is not finite has no bin.
        if (!(err <= max_err)) continue;
        if (Small)
            counts[size_t(j % kWays) * size_t(max_histo) + size_t(bin_of(err, floors))]++;
        else
            counts[tenths(err)]++;
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

    int *counts = max_histo <= kSmallUpTo ? ivecteur(kWays * max_histo) : nullptr;
    const std::vector<double> floors = counts != nullptr ? bin_floors(max_histo) : std::vector<double>();

    out("\n\n\tThird Treatment \n\n");
    for (int i = 0; i < nb_lig; i++) {
        if (i % 1000 == 0) out_now(kfmt("\t\tline %d                    \r    ", i));
        if (counts != nullptr)
            count_line<true>(dtab1[i], dtab2[i], nb_col, s.B1, s.B0, s.max_err, floors.data(), counts, max_histo);
        else
            count_line<false>(dtab1[i], dtab2[i], nb_col, s.B1, s.B0, s.max_err, nullptr, histo_error, max_histo);
    }
    if (counts != nullptr) {
        for (int w = 0; w < kWays; w++)
            for (int k = 0; k < max_histo; k++) histo_error[k] += counts[size_t(w) * size_t(max_histo) + size_t(k)];
        frivecteur(counts);
    }
    for (int k = 1; k < max_histo; k++) text_write(f5d, kfmt("%d\t%d\n", k, histo_error[k]));
    frivecteur(histo_error);
}
