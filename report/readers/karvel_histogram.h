// karvel's histogram pass again: the errors against karvel's fitted line,
// counted in tenths of the unit into the bins of the histogram table,
// which must hold those very counts.
//
// The sums a summary prints hold every bit of karvel's when the line
// fitted from them is karvel's own: the errors are then counted during the
// walk; otherwise (or where the line fitted from the rasters' sums is
// another) they are counted in one more walk, once the sums are known.
#ifndef KARVEL_REPORT_READERS_KARVEL_HISTOGRAM_H
#define KARVEL_REPORT_READERS_KARVEL_HISTOGRAM_H

#include <vector>

#include "histogram_table.h"
#include "karvel_pass.h"
#include "reader.h"
#include "sums.h"

// Karvel's histogram of the errors against a fitted line, counted line by
// line as its histogram pass counts it, into the bins of the table, or into
// the table's groups of bins where it holds them merged (bin 0 left out of
// those: the table's bin 0 is what its rows leave).
struct ErrorCounts {
    LineFit fit{};
    double max_err = 0;  // the largest error the table's bins hold
    size_t bins = 0;
    size_t width = 1;  // bins per group (a power of two): 1, every bin
    int ways = 1;
    std::vector<long long> counts;  // `ways` copies of the bins; or each group's count
    std::vector<uint64_t> prints;   // each group's fingerprint (histogram_table.h)
    long long beyond = 0;           // finite errors past the table's last bin

    void begin(const LineFit &f, const HistogramTable &table);
    void add(const double *x, const double *y, int n);
    long long bin(size_t k) const;
};

class KarvelHistogram : public Reader {
public:
    // The line fitted from the rasters' sums is that of `pass`.
    explicit KarvelHistogram(const KarvelPass &pass) : pass_(pass) {}
    std::string prepare(const Setup &setup) override;
    std::string kept(const KeptLine &l) override;
    std::string check() override;

private:
    // What the table says against what was counted: empty when they agree.
    std::string compare(const ErrorCounts &counted) const;
    const KarvelPass &pass_;
    const Setup *setup_ = nullptr;
    // The counts of the walk, against the line of the summary's sums, when
    // the table has bins to count.
    ErrorCounts walked_;
    bool counting_ = false;
};

#endif
