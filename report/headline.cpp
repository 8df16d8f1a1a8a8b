#include "headline.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <limits>

#include "label.h"
#include "numfmt.h"
#include "paths.h"
#include "robust.h"
#include "select.h"

// The search during the walk, and the sample that guided it.
// The ranks' intervals share half of what it holds, the NMAD's two the other.
struct DiffStats::Search {
    std::vector<double> sample;
    RankSearch ranks;
    MadSearch mad;
    bool planned = false;  // the walk again planned (and, in finish_walked, made)
    Search(size_t n, std::vector<double> s, size_t held)
        : sample(std::move(s)), ranks(n, sample, headline_ranks(n), held / 2), mad(n, sample, held / 2) {}
    // Plans the walk again for what the walk only placed between two
    // values of the sample; true when it is needed.
    bool plan(size_t n) {
        if (planned) return false;
        planned = true;
        const std::vector<RankQuery> q = headline_ranks(n);
        const bool ranks_again = ranks.plan_again(q);
        // The median lies between the bounds of its two middle values.
        double lo0 = 0, hi0 = 0, lo1 = 0, hi1 = 0;
        bool mad_again = false;
        if (ranks.bounds(q, 0, lo0, hi0) && ranks.bounds(q, 1, lo1, hi1))
            mad_again = n % 2 ? mad.plan_again(lo0, hi0, n) : mad.plan_again((lo0 + lo1) / 2.0, (hi0 + hi1) / 2.0, n);
        return ranks_again || mad_again;
    }
    void again(const double *d, size_t count) {
        ranks.again(d, count);
        mad.again(d, count);
    }
};

DiffStats::DiffStats() = default;

DiffStats::~DiffStats() {
    if (d_) munmap(d_, bytes_);
}

std::vector<RankQuery> headline_ranks(size_t n) {
    return {{Seen::as_is, 0.0, (n + 1) / 2},
            {Seen::as_is, 0.0, n / 2 + 1},
            {Seen::magnitude, 0.0, nearest_rank(90, n)},
            {Seen::magnitude, 0.0, nearest_rank(95, n)},
            {Seen::magnitude, 0.0, nearest_rank(98, n)}};
}

bool DiffStats::reserve(size_t n) {
    if (ranks_ != Ranks::unchosen || n > SIZE_MAX / sizeof(double) - (size_t(1) << 21)) return false;  // chosen once
    bytes_ = std::max<size_t>(n, 1) * sizeof(double);
    void *p = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return false;
    madvise(p, bytes_, MADV_HUGEPAGE);  // a hint: without huge pages all works the same
    d_ = static_cast<double *>(p);
    ranks_ = Ranks::held;
    return true;
}

void DiffStats::rank_during_walk(size_t n, std::vector<double> sample, size_t held) {
    if (ranks_ == Ranks::held) return;  // the way is chosen once
    search_ = std::make_unique<Search>(n, std::move(sample), held);
    ranks_ = Ranks::walked;
}

bool DiffStats::plan_again() { return ranks_ == Ranks::walked && search_->plan(n_); }

void DiffStats::add_again(const double *d, size_t count) {
    if (ranks_ == Ranks::walked) search_->again(d, count);
}

void DiffStats::add_line(const double *x, const double *y, int cols) {
    if (x) add<true, false>(x, y, nullptr, cols);
    else add<false, true>(nullptr, nullptr, y, cols);
}

void DiffStats::add_line(const double *x, const double *y, const double *d, int cols) {
    add<true, true>(x, y, d, cols);
}

// With XY false, x is taken as all zeros (d is y) and the moments of x and
// y are left alone: the figures of the differences are the same. With
// Given, the differences are those of d (each y − x, formed by the
// caller) instead of formed here.
// The pairwise update of Chan, Golub and LeVeque.
void DiffStats::merge(double c, double mean_x, double mean_y, double mean_d, double cxx, double cyy, double cxy,
                      double cdd) {
    const double na = double(n_), nab = na + c, f = na * c / nab;
    const double dx = mean_x - mean_x_, dy = mean_y - mean_y_, dd = mean_d - mean_d_;
    m2x_ += cxx + dx * dx * f;
    m2y_ += cyy + dy * dy * f;
    cxy_ += cxy + dx * dy * f;
    m2d_ += cdd + dd * dd * f;
    mean_x_ += dx * c / nab;
    mean_y_ += dy * c / nab;
    mean_d_ += dd * c / nab;
    n_ += size_t(c);
}

template <bool XY, bool Given>
void DiffStats::add(const double *x, const double *y, const double *given, int cols) {
    if (cols <= 0 || (d_ && size_t(cols) > bytes_ / sizeof(double) - n_)) return;  // beyond the room obtained
    auto diff = [&](int j) { return Given ? given[j] : y[j] - x[j]; };
    if (n_ == 0) min_ = max_ = diff(0);
    // The differences go where the ranks are sought: the room for all of
    // them, or, formed here, one line's for the search.
    double *out = nullptr;
    const double *searched = given;
    if (ranks_ == Ranks::held) {
        out = d_ + n_;
    } else if (!Given && ranks_ == Ranks::walked && (search_->ranks.walking() || search_->mad.walking())) {
        row_.resize(size_t(cols));
        out = row_.data();
        searched = out;
    }
    // First walk of the line: the running sums, in position order, and the
    // line's own sums of x, y and d.
    double sum_d = sum_d_, sum_abs = sum_abs_, sum_sq = sum_sq_, mn = min_, mx = max_;
    double lx = 0, ly = 0, ld = 0;
    for (int j = 0; j < cols; j++) {
        const double d = diff(j);
        if (out) out[j] = d;
        sum_d += d;
        sum_abs += std::fabs(d);
        sum_sq += d * d;
        if (d < mn) mn = d;
        if (d > mx) mx = d;
        if (XY) {
            lx += x[j];
            ly += y[j];
        }
        ld += d;
    }
    sum_d_ = sum_d, sum_abs_ = sum_abs, sum_sq_ = sum_sq, min_ = mn, max_ = mx;
    // Second walk: the line's squares and products about its own means,
    // which lie amid its values, so that no large square cancels (an
    // outlier anywhere costs no precision) ...
    const double c = cols, mean_x = lx / c, mean_y = ly / c, mean_d = ld / c;
    double cxx = 0, cyy = 0, cxy = 0, cdd = 0;
    for (int j = 0; j < cols; j++) {
        const double w = diff(j) - mean_d;
        if (XY) {
            const double u = x[j] - mean_x, v = y[j] - mean_y;
            cxx += u * u;
            cyy += v * v;
            cxy += u * v;
        }
        cdd += w * w;
    }
    // ... then merged into the whole raster's.
    merge(c, mean_x, mean_y, mean_d, cxx, cyy, cxy, cdd);
    if (ranks_ == Ranks::walked) {
        search_->ranks.add(searched, size_t(cols));
        search_->mad.add(searched, size_t(cols));
    }
}

bool DiffStats::sums_figures(double b0, double b1, double rms, const std::string &unit, Headline &h) const {
    const size_t n = n_;
    const double nd = double(n);
    h.n = (long long)n;
    h.unit = unit;
    h.b0 = b0;
    h.b1 = b1;
    h.rms = rms;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    h.median_diff = h.nmad = h.le90 = h.le95 = h.clip = nan;  // until a finish finds them
    if (n == 0) {
        h.mean_diff = h.sd_diff = h.rms_n = h.mae = h.min_diff = h.max_diff = h.r = h.r2 = nan;
        return false;
    }
    h.mean_diff = sum_d_ / nd;
    h.sd_diff = n > 1 ? std::sqrt(m2d_ / (nd - 1.0)) : nan;
    h.rms_n = std::sqrt(sum_sq_ / nd);
    h.mae = sum_abs_ / nd;
    h.min_diff = min_;
    h.max_diff = max_;
    h.sd_first = n > 1 ? std::sqrt(m2x_ / (nd - 1.0)) : nan;
    h.sd_second = n > 1 ? std::sqrt(m2y_ / (nd - 1.0)) : nan;
    h.r = cxy_ / std::sqrt(m2x_ * m2y_);
    h.r2 = h.r * h.r;
    // A not-a-number difference has no rank: no exact order statistics.
    return !std::isnan(sum_d_);
}

namespace {

// The ranks of headline_ranks() into the figures.
void set_ranks(Headline &h, size_t n, const std::vector<double> &p) {
    h.median_diff = n % 2 ? p[0] : (p[0] + p[1]) / 2.0;
    h.le90 = p[2];
    h.le95 = p[3];
    h.clip = p[4];
}

}  // namespace

void held_ranks(const double *d, size_t n, Headline &h) {
    if (n == 0) return;
    set_ranks(h, n, select_ranks(d, n, headline_ranks(n)));
    h.nmad = kNmadScale * median(d, n, Seen::off_center, h.median_diff);
}

Headline DiffStats::finish_held(double b0, double b1, double rms, const std::string &unit) const {
    Headline h;
    if (!sums_figures(b0, b1, rms, unit, h) || ranks_ != Ranks::held) return h;
    held_ranks(d_, n_, h);
    return h;
}

Headline DiffStats::finish_walked(double b0, double b1, double rms, const std::string &unit, const ValueStream &diffs,
                                  int *walks) const {
    Headline h;
    if (walks) *walks = 0;
    if (!sums_figures(b0, b1, rms, unit, h) || ranks_ != Ranks::walked) return h;
    const size_t n = n_;
    // A walk of the differences that counts itself.
    const ValueStream again = [&](const ValueBlock &take) {
        if (walks) ++*walks;
        diffs(take);
    };
    const std::vector<RankQuery> queries = headline_ranks(n);
    // What the walk placed between two values of the sample, kept in one
    // walk again (unless the caller made it).
    if (search_->plan(n)) again([&](const double *v, size_t len) { search_->again(v, len); });
    std::vector<double> p;
    if (search_->ranks.walking()) {
        // What the walk left unsettled is found bit by bit: its sample
        // would only bracket the same ranks the same way again.
        std::vector<size_t> missed;
        p = search_->ranks.resolve(queries, missed);
        for (size_t r : missed) p[r] = select_ranks(again, n, std::vector<double>(), {queries[r]})[0];
    } else {
        // No search during the walk (too few positions or too small a
        // sample): the ranks by walks, guided by whatever sample there is.
        p = select_ranks(again, n, search_->sample, queries);
    }
    set_ranks(h, n, p);
    double mad = 0;
    if (!search_->mad.resolve(h.median_diff, n, mad))
        mad = median(again, n, search_->sample, Seen::off_center, h.median_diff);
    h.nmad = kNmadScale * mad;
    return h;
}

Json headline_json(const Headline &h) {
    Json j = Json::object();
    j["n"] = h.n;
    if (h.n_left_out >= 0) j["n_left_out"] = h.n_left_out;
    j["unit"] = h.unit;
    j["warnings"] = Json::array();
    for (const std::string &w : h.warnings) j["warnings"].push_back(printable(w));
    if (h.coreg.known) j["coreg"] = coreg_json(h.coreg);
    const std::pair<const char *, double> keys[] = {
        {"mean_diff", h.mean_diff}, {"sd_diff", h.sd_diff}, {"rms", h.rms},     {"rms_n", h.rms_n},
        {"mae", h.mae},             {"median_diff", h.median_diff},            {"nmad", h.nmad},
        {"le90", h.le90},           {"le95", h.le95},     {"min_diff", h.min_diff}, {"max_diff", h.max_diff},
        {"r", h.r},                 {"r2", h.r2},         {"b0", h.b0},          {"b1", h.b1}};
    for (const auto &[key, v] : keys) j[key] = v;
    return j;
}

std::vector<std::string> headline_lines(const Headline &h) {
    const std::string u = " " + h.unit;
    const struct {
        const char *label;
        double v;
        bool unit;
    } rows[] = {{"Mean difference (second - first)", h.mean_diff, true},
                {"Standard deviation of the differences", h.sd_diff, true},
                {"RMS error (over n - 1, as karvel)", h.rms, true},
                {"RMS error (over n)", h.rms_n, true},
                {"Mean absolute difference", h.mae, true},
                {"Median difference", h.median_diff, true},
                {"NMAD", h.nmad, true},
                {"LE90 (90th percentile of |d|)", h.le90, true},
                {"LE95 (95th percentile of |d|)", h.le95, true},
                {"Smallest difference", h.min_diff, true},
                {"Largest difference", h.max_diff, true},
                {"Correlation r", h.r, false},
                {"r squared", h.r2, false},
                {"B0 (fitted line second = B0 + B1 x first)", h.b0, true},
                {"B1", h.b1, false}};
    std::vector<std::string> out = provenance_lines(h.inputs);
    out.push_back(headline_label("Positions") + std::to_string(h.n));
    if (h.n_left_out >= 0) out.push_back(headline_label("Positions left out (no data)") + std::to_string(h.n_left_out));
    for (const auto &r : rows) {
        // What the JSON file holds as null is said in words, not as a
        // printf's NAN.
        std::string v;
        if (!std::isfinite(r.v)) {
            v = "not defined";
        } else {
            append_lf(v, r.v);
            if (r.unit) v += u;
        }
        out.push_back(headline_label(r.label) + v);
    }
    for (const std::string &l : coreg_lines(h.coreg)) out.push_back(l);
    for (const std::string &w : h.warnings) out.push_back("Warning: " + printable(w));
    return out;
}
