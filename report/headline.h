// The headline figures of a comparison: the accuracy figures of the
// differences d = second − first over every position, and the global
// correlation of the two rasters.
#ifndef KARVEL_REPORT_HEADLINE_H
#define KARVEL_REPORT_HEADLINE_H

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "coreg.h"
#include "json.h"
#include "provenance.h"

struct Headline {
    long long n = 0;  // positions compared: where both rasters have data
    // Where a raster declares a no-data value, the positions left out for
    // it; -1 where neither declares one (the JSON file then has no key for it).
    long long n_left_out = -1;
    std::string unit;  // "m", or "grey level" for images
    double mean_diff = 0, sd_diff = 0, rms = 0, rms_n = 0, mae = 0, median_diff = 0, nmad = 0, le90 = 0, le95 = 0,
           min_diff = 0, max_diff = 0, r = 0, r2 = 0, b0 = 0, b1 = 0;
    double clip = 0;  // the 98th percentile of |d|, where the maps' colours end
    // What the figures rest on that a reader should know (a raster file
    // shorter than its description says, read as zeros, as karvel says it;
    // the plausibility warnings).
    std::vector<std::string> warnings;
    CoregFigures coreg;  // what karvel-import's co-registration found, when it ran
    Provenance inputs;   // where the rasters came from, when karvel-import made them
    // The standard deviations of FIRST's and SECOND's values (not in the JSON).
    double sd_first = 0, sd_second = 0;
};

#include "select.h"

// Takes the positions line by line: the sums, and what the exact medians
// and percentiles are found from. One of two ways is chosen before the
// first line, each with its own finish:
//
//   Ranks::held    reserve(n), then finish_held(): every difference is kept
//                  (8 bytes a position) and the ranks are sorted out among
//                  them.
//   Ranks::walked  rank_during_walk(n, sample), then finish_walked(): no
//                  difference is kept; the ranks are sought during the walk,
//                  guided by a sample, and found by walking the differences
//                  again where the walk left one unsettled.
class DiffStats {
public:
    enum class Ranks {
        unchosen,  // neither way chosen: the finishes give no rank
        held,
        walked,
    };
    DiffStats();
    ~DiffStats();
    DiffStats(const DiffStats &) = delete;
    DiffStats &operator=(const DiffStats &) = delete;
    // Ranks::held: obtains room for n differences (in huge pages where the
    // system has them: far fewer page faults); false when the memory cannot
    // be had, and the way stays unchosen. At most n positions may then be
    // added.
    bool reserve(size_t n);
    // Ranks::walked: keeps no difference; the medians and percentiles of the
    // n positions to come are sought during their walk, guided by `sample`,
    // differences taken before it (any values, none at all included: they
    // only decide how few are kept and how many walks it takes). n may be
    // an estimate: the ranks are those of the positions added. Chosen
    // after lines were added, with no sample, every rank is found by walks.
    // The search holds at most `held` values (8 bytes each).
    void rank_during_walk(size_t n, std::vector<double> sample, size_t held = kSearchHeld);
    // After the walk, ranks walked: plans the walk again that keeps the
    // values of what the walk could only count, between two values of the
    // sample; true when one is needed, the differences then given to
    // add_again() in the order they were added. Otherwise finish_walked()
    // makes that walk itself.
    bool plan_again();
    void add_again(const double *d, size_t count);
    Ranks ranks() const { return ranks_; }
    // Adds one line of the first (x) and the second (y) raster; with x
    // null, y holds the differences alone (the figures of x and y, r and
    // r², are then not those of the rasters).
    void add_line(const double *x, const double *y, int cols);
    // The same, d holding each y − x already formed (exactly as add_line
    // would form it), so that it is neither formed nor copied again.
    void add_line(const double *x, const double *y, const double *d, int cols);
    // The figures; b0, b1 and rms are the caller's (karvel's own figures).
    // Each finish gives its ranks (medians, percentiles, NMAD, clip) only in
    // its own way, and not a number in the other.
    //
    // After reserve(): the ranks among the differences held.
    Headline finish_held(double b0, double b1, double rms, const std::string &unit) const;
    // After rank_during_walk(): the ranks the walk settled, and the others
    // found by walks of `diffs` (the very values added, in the same order);
    // how many walks it took goes into `walks`.
    Headline finish_walked(double b0, double b1, double rms, const std::string &unit, const ValueStream &diffs,
                           int *walks = nullptr) const;
    // The differences held (after reserve()), in position order.
    const double *diffs() const { return d_; }
    size_t count() const { return n_; }
    // The sum of the squared differences, in position order.
    double sum_squares() const { return sum_sq_; }

private:
    struct Search;
    template <bool XY, bool Given>
    void add(const double *x, const double *y, const double *given, int cols);
    // A line's c values, their means and their sums of squares and products
    // about those means, merged into the whole raster's.
    void merge(double c, double mean_x, double mean_y, double mean_d, double cxx, double cyy, double cxy, double cdd);
    // The figures of the sums, the ranks left unset; false when the ranks
    // cannot be had (no position, or a difference that is not a number).
    bool sums_figures(double b0, double b1, double rms, const std::string &unit, Headline &h) const;
    Ranks ranks_ = Ranks::unchosen;
    double *d_ = nullptr;
    size_t n_ = 0, bytes_ = 0;
    std::unique_ptr<Search> search_;
    std::vector<double> row_;  // one line's differences, for the search
    double sum_d_ = 0, sum_abs_ = 0, sum_sq_ = 0, min_ = 0, max_ = 0;  // in position order
    // The means of x, y and d, and the sums of squares and products about
    // them: Σ(x − x̄)², Σ(y − ȳ)², Σ(x − x̄)(y − ȳ), Σ(d − d̄)².
    double mean_x_ = 0, mean_y_ = 0, mean_d_ = 0, m2x_ = 0, m2y_ = 0, cxy_ = 0, m2d_ = 0;
};

// The figures of the ranks (median, NMAD, LE90, LE95, clip) of the n
// differences d, into h; none for no difference.
void held_ranks(const double *d, size_t n, Headline &h);

// The ranks the headline figures need among n differences: the two middle
// values, and the 90th, 95th and 98th percentiles of |d|.
std::vector<RankQuery> headline_ranks(size_t n);

// The figures as a JSON object, keys in their fixed order (a figure that
// is not a finite number is written as null).
Json headline_json(const Headline &h);

// The figures as the console and the PDF show them: label, value, unit.
std::vector<std::string> headline_lines(const Headline &h);

#endif
