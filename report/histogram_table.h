// karvel's histogram table as the report holds it, in bounded memory
// whatever the spread of the errors: every bin while the table has at most
// kHeldBins of them, else its bins merged in groups of a power of two, each
// group with a fingerprint of how its count spreads over its bins. The
// table is read as it streams, never held as text.
#ifndef KARVEL_REPORT_HISTOGRAM_TABLE_H
#define KARVEL_REPORT_HISTOGRAM_TABLE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct HistogramTable {
    // Bins held one by one up to this many (8 MB of counts).
    static constexpr size_t kHeldBins = size_t(1) << 20;
    size_t bins = 1;   // the table's bins, bin 0 (held back from the table) included
    size_t width = 1;  // bins per group held: a power of two
    // Each group's count: the bins k·width .. (k + 1)·width − 1. Bin 0 is
    // what the rows leave of the positions compared (put_bin_zero).
    std::vector<long long> counts{0};
    // Where width > 1, each group's fingerprint: the sum, modulo 2^64, of
    // its bins' counts each times bin_print(bin).
    std::vector<uint64_t> prints;
    long long rows_total = 0;  // the counts of the rows, LLONG_MAX past it
    long long zero = 0;        // bin 0's count, once put

    // Bin 0: what the rows leave of n. False when they count more than n.
    bool put_bin_zero(long long n);
    // The count of group g.
    long long group(size_t g) const { return counts[g]; }
    size_t groups() const { return counts.size(); }
};

// The counts of the table's figure: at most `most` of them (ten thousand:
// the figure's data and drawing stay small however far the errors spread),
// each of `width` bins (a power of two, 1 while the table has at most
// `most` bins: its own bins then).
constexpr size_t kFigureBins = 10000;
std::vector<long long> figure_counts(const HistogramTable &t, size_t &width, size_t most = kFigureBins);

// A bin's fingerprint: bin k's own pseudo-random 64 bits (splitmix64), so
// that groups of equal counts spread otherwise over their bins differ
// (unless by a chance of about one in 2^64).
uint64_t bin_print(uint64_t k);

// Reads the rows of a histogram table fed piece by piece.
class HistogramRows {
public:
    explicit HistogramRows(HistogramTable &t, size_t held_bins = HistogramTable::kHeldBins);
    // The next bytes of the table; a row that is not one of the table is
    // remembered, and the bytes after it only passed over.
    void feed(const char *p, size_t n);
    // After the last byte: empty when every row was one of the table, else
    // which was not.
    std::string end();

private:
    void row();
    void add(long long count);
    HistogramTable &t_;
    size_t held_;
    std::string line_;
    size_t rows_ = 0;
    std::string problem_;
};

// The histogram table from its text (tests, and what the reader feeds).
std::string parse_histogram_table(const std::string &text, HistogramTable &t,
                                  size_t held_bins = HistogramTable::kHeldBins);

// Reads the regular file at path, of at most `limit` bytes, as a histogram
// table. Empty on success, else the problem.
std::string read_histogram_table(const std::string &path, size_t limit, HistogramTable &t,
                                 size_t held_bins = HistogramTable::kHeldBins);

#endif
