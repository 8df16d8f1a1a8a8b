#include "histogram_table.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "regular_file.h"
#include "summary.h"

namespace {

// A row is a bin number and a count of at most 19 digits each: a longer
// line is no row (it is not held whole).
constexpr size_t kLongestRow = 256;

}  // namespace

bool HistogramTable::put_bin_zero(long long n) {
    if (rows_total > n) return false;
    zero = n - rows_total;
    counts[0] += zero;
    if (!prints.empty()) prints[0] += uint64_t(zero) * bin_print(0);
    return true;
}

std::vector<long long> figure_counts(const HistogramTable &t, size_t &width, size_t most) {
    width = t.width;
    while ((t.bins + width - 1) / width > most) width *= 2;
    std::vector<long long> out((t.bins + width - 1) / width, 0);
    for (size_t g = 0; g < t.groups(); g++) out[g * t.width / width] += t.counts[g];
    return out;
}

uint64_t bin_print(uint64_t k) {
    uint64_t z = k + 0x9e3779b97f4a7c15ull;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

HistogramRows::HistogramRows(HistogramTable &t, size_t held_bins) : t_(t), held_(held_bins < 1 ? 1 : held_bins) {
    t_ = HistogramTable{};
}

void HistogramRows::feed(const char *p, size_t n) {
    for (size_t j = 0; j < n; j++) {
        const char c = p[j];
        if (c == '\r') continue;  // line ends of either kind; a CR anywhere is passed over
        if (c == '\n') {
            row();
            continue;
        }
        if (line_.size() <= kLongestRow) line_ += c;
    }
}

std::string HistogramRows::end() {
    if (!line_.empty()) row();  // a last row without its line end
    return problem_;
}

void HistogramRows::row() {
    if (problem_.empty()) {
        long long count = 0;
        if (line_.size() > kLongestRow || !histogram_row(line_, rows_, count))
            problem_ = "row " + std::to_string(rows_ + 1) + " is not a row of the table";
        else
            add(count);
    }
    rows_++;
    line_.clear();
}

// The count of bin rows_ + 1, into its group; past held_ groups, the groups
// are merged two by two (and their fingerprints formed when they first are).
void HistogramRows::add(long long count) {
    const size_t k = rows_ + 1;
    t_.bins = k + 1;
    t_.rows_total = count > LLONG_MAX - t_.rows_total ? LLONG_MAX : t_.rows_total + count;
    while (k / t_.width >= held_) {
        if (t_.prints.empty()) {
            t_.prints.resize(t_.counts.size());
            for (size_t b = 0; b < t_.counts.size(); b++) t_.prints[b] = uint64_t(t_.counts[b]) * bin_print(b);
        }
        const size_t merged = (t_.counts.size() + 1) / 2;
        for (size_t g = 0; g < merged; g++) {
            const bool pair = 2 * g + 1 < t_.counts.size();
            t_.counts[g] = t_.counts[2 * g] + (pair ? t_.counts[2 * g + 1] : 0);
            t_.prints[g] = t_.prints[2 * g] + (pair ? t_.prints[2 * g + 1] : 0);
        }
        t_.counts.resize(merged);
        t_.prints.resize(merged);
        t_.width *= 2;
    }
    const size_t g = k / t_.width;
    if (g >= t_.counts.size()) {
        t_.counts.resize(g + 1, 0);
        if (!t_.prints.empty()) t_.prints.resize(g + 1, 0);
    }
    t_.counts[g] += count;
    if (!t_.prints.empty()) t_.prints[g] += uint64_t(count) * bin_print(k);
}

std::string parse_histogram_table(const std::string &text, HistogramTable &t, size_t held_bins) {
    HistogramRows rows(t, held_bins);
    rows.feed(text.data(), text.size());
    return rows.end();
}

std::string read_histogram_table(const std::string &path, size_t limit, HistogramTable &t, size_t held_bins) {
    HistogramRows rows(t, held_bins);
    struct stat st;
    std::string problem;
    const int fd = open_regular(path, &st, &problem);
    if (fd < 0) return problem == kNotRegularFile ? "it is not a regular file" : problem;
    if (size_t(st.st_size) > limit) {
        ::close(fd);
        return "it is larger than any such file (" + std::to_string((long long)st.st_size) + " bytes)";
    }
    // One byte past the limit tells a file that grew.
    std::vector<char> buf(size_t(1) << 16);
    size_t total = 0;
    while (total <= limit) {
        const ssize_t got = read_fully(fd, buf.data(), std::min(buf.size(), limit + 1 - total));
        if (got < 0) problem = std::strerror(errno);
        if (got <= 0) break;
        total += size_t(got);
        if (total <= limit) rows.feed(buf.data(), size_t(got));
    }
    ::close(fd);
    if (!problem.empty()) return problem;
    if (total > limit) return "it grew while being read";
    return rows.end();
}
