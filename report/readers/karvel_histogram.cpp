#include "karvel_histogram.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cstring>

#include "paths.h"
#include "position_error.h"

void ErrorCounts::begin(const LineFit &f, const HistogramTable &table) {
    fit = f;
    bins = table.bins;
    width = table.width;
    max_err = largest_error_below_bin((long long)std::min<size_t>(bins, INT_MAX));
    ways = bins <= size_t(kInterleaveUpTo) ? kCountWays : 1;
    counts.assign(width == 1 ? size_t(ways) * bins : table.groups(), 0);
    prints.assign(width == 1 ? 0 : table.groups(), 0);
    beyond = 0;
}

void ErrorCounts::add(const double *x, const double *y, int n) {
    if (width == 1) {
        beyond += count_tenths(x, y, n, fit.B1, fit.B0, max_err, counts.data(), bins, ways);
        return;
    }
    // Each error's bin as count_tenths finds it, into its group.
    alignas(16) double estimates[kBlock], errors[kBlock];
    for (int start = 0; start < n; start += kBlock) {
        const int m = std::min(kBlock, n - start);
        position_errors(x + start, y + start, m, fit.B1, fit.B0, estimates, errors);
        for (int j = 0; j < m; j++) {
            const double e = errors[j];
            if (!(e <= max_err)) {
                beyond += e <= DBL_MAX;  // finite, past the last bin
                continue;
            }
            const long long k = tenths(e);
            if (k == 0) continue;
            counts[size_t(k) / width]++;
            prints[size_t(k) / width] += bin_print(uint64_t(k));
        }
    }
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
    counting_ = !(run.hist.bins == 1 && run.histogram_left_empty);
    if (counting_) {
        RasterSums printed_sums;
        printed_sums.Suma_X = run.s.sum_x.value;
        printed_sums.Suma_Y = run.s.sum_y.value;
        printed_sums.Suma_XY = run.s.sum_xy.value;
        printed_sums.Suma_X2 = run.s.sum_x2.value;
        walked_.begin(fit_line(double(run.n), printed_sums), run.hist);
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
    if (run.hist.bins == 1 && run.histogram_left_empty) return "";
    const LineFit &fit = pass_.fit();
    const auto same = [](double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    ErrorCounts again;
    const ErrorCounts *counted = &walked_;
    if (!counting_ || !same(fit.B1, walked_.fit.B1) || !same(fit.B0, walked_.fit.B0)) {
        again.begin(fit, run.hist);
        setup_->rasters->walk_kept([&](const double *x, const double *y, int n) { again.add(x, y, n); });
        std::string p = setup_->rasters->unchanged();
        if (!p.empty()) return p;
        counted = &again;
    }
    const std::string p = compare(*counted);
    if (!p.empty())
        return "the histogram table " + printable(run.hist_shown) + " is not the one of the summary " +
               printable(run.summary_shown) + ": " + p;
    return "";
}

std::string KarvelHistogram::compare(const ErrorCounts &counted) const {
    const HistogramTable &t = setup_->run->hist;
    if (t.width == 1) {
        for (size_t k = 1; k < t.bins; k++)
            if (counted.bin(k) != t.counts[k])
                return "it counts " + std::to_string(t.counts[k]) + " errors in bin " + std::to_string(k) +
                       ", the rasters " + std::to_string(counted.bin(k));
    } else {
        // Group by group, bin 0 (what the table's rows leave) taken out.
        for (size_t g = 0; g < t.groups(); g++) {
            const long long count = t.counts[g] - (g == 0 ? t.zero : 0);
            const uint64_t print = t.prints[g] - (g == 0 ? uint64_t(t.zero) * bin_print(0) : 0);
            const std::string bins = "bins " + std::to_string(std::max<size_t>(1, g * t.width)) + " to " +
                                     std::to_string(std::min(t.bins, (g + 1) * t.width) - 1);
            if (counted.counts[g] != count)
                return "it counts " + std::to_string(count) + " errors in " + bins + ", the rasters " +
                       std::to_string(counted.counts[g]);
            if (counted.prints[g] != print)
                return "it counts the " + std::to_string(count) + " errors of " + bins +
                       " in other bins than the rasters do";
        }
    }
    if (counted.beyond > 0) return std::to_string(counted.beyond) + " errors of the rasters lie beyond its last bin";
    return "";
}
