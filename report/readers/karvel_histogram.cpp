#include "karvel_histogram.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "paths.h"
#include "position_error.h"

void ErrorCounts::begin(const LineFit &f, size_t table_bins) {
    fit = f;
    bins = table_bins;
    max_err = largest_error_below_bin((long long)std::min<size_t>(bins, INT_MAX));
    ways = bins <= size_t(kInterleaveUpTo) ? kCountWays : 1;
    counts.assign(size_t(ways) * bins, 0);
    beyond = 0;
}

void ErrorCounts::add(const double *x, const double *y, int n) {
    beyond += count_tenths(x, y, n, fit.B1, fit.B0, max_err, counts.data(), bins, ways);
}

long long ErrorCounts::bin(size_t k) const {
    long long c = 0;
    for (int w = 0; w < ways; w++) c += counts[size_t(w) * bins + k];
    return c;
}

std::string KarvelHistogram::prepare(const Setup &setup) {
    setup_ = &setup;
    const Run &run = *setup.run;
    // The sums a large comparison prints hold every bit of karvel's: the
    // line fitted from them is then karvel's, and its histogram is counted
    // in the walk (check() makes sure of it).
    counting_ = !(run.hist.size() == 1 && run.histogram_left_empty);
    if (counting_) {
        RasterSums printed_sums;
        printed_sums.Suma_X = run.s.sum_x.value;
        printed_sums.Suma_Y = run.s.sum_y.value;
        printed_sums.Suma_XY = run.s.sum_xy.value;
        printed_sums.Suma_X2 = run.s.sum_x2.value;
        walked_.begin(fit_line(double(run.n), printed_sums), run.hist.size());
    }
    return "";
}

std::string KarvelHistogram::kept(const KeptLine &l) {
    if (counting_) walked_.add(l.x, l.y, l.n);
    return "";
}

// Karvel's histogram of the errors against its own fitted line, compared
// with the histogram table: the walk's counts when the walk counted against
// that very line, else counted in one more walk over the rasters.
std::string KarvelHistogram::check() {
    const Run &run = *setup_->run;
    // A table karvel left empty, as its summary says (too many bins for a count).
    if (run.hist.size() == 1 && run.histogram_left_empty) return "";
    const LineFit &fit = pass_.fit();
    const auto same = [](double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    ErrorCounts again;
    const ErrorCounts *counted = &walked_;
    if (!counting_ || !same(fit.B1, walked_.fit.B1) || !same(fit.B0, walked_.fit.B0)) {
        again.begin(fit, run.hist.size());
        setup_->rasters->walk_kept([&](const double *x, const double *y, int n) { again.add(x, y, n); });
        std::string p = setup_->rasters->unchanged();
        if (!p.empty()) return p;
        counted = &again;
    }
    const std::string shown = printable(run.hist_shown);
    for (size_t k = 1; k < run.hist.size(); k++)
        if (counted->bin(k) != run.hist[k])
            return "the histogram table " + shown + " is not the one of the summary " +
                   printable(run.summary_shown) + ": it counts " + std::to_string(run.hist[k]) + " errors in bin " +
                   std::to_string(k) + ", the rasters " + std::to_string(counted->bin(k));
    if (counted->beyond > 0)
        return "the histogram table " + shown + " is not the one of the summary " + printable(run.summary_shown) +
               ": " + std::to_string(counted->beyond) + " errors of the rasters lie beyond its last bin";
    return "";
}
