#include "change_stable.h"

#include <cmath>

#include "class_figures.h"
#include "paths.h"

std::string ChangeStable::prepare(const Setup &setup) {
    if (!on() || setup.run->s.image) return "";
    setup_ = &setup;
    const Rasters &r = *setup.rasters;
    ground_ = r.ground();
    table_.classes(setup.slope_edges.size());
    if (!has_mask()) return "";
    const std::string shown = printable(o_.stable);
    if (!r.geo.known)
        return "--stable: the mask " + shown + " cannot be brought onto the compared rasters, which have no "
                                              "georeferencing: " + r.geo_note;
    const std::string p = mask_.open(o_.stable, shown, ground_, setup.run->s.lines, setup.run->s.cols);
    return p.empty() ? p : "--stable: " + p;
}

void ChangeStable::classes_of(const ClassLines::Ready &r, const double *mask, const unsigned char *valid) {
    const size_t cols = size_t(setup_->run->s.cols), last = setup_->slope_edges.size() - 1;
    by_slope_.resize(cols);
    all_.resize(cols);
    for (size_t j = 0; j < cols; j++) {
        const bool stable = !mask || (valid[j] && mask[j] != 0);
        by_slope_[j] = stable ? r.slope[j] : -1;
        all_[j] = stable ? int32_t(last) : -1;
    }
}

// The first DEM's slope classes on the compared grid, taken of the stored
// values with the stored unit's scale, as the report's slope classes are.
ClassSources ChangeStable::slope_sources() const {
    ClassSources src;
    src.ground = &ground_;
    src.lines = setup_->run->s.lines;
    src.cols = setup_->run->s.cols;
    src.slope_edges = &setup_->slope_edges;
    src.slope_scale = std::round(1 / setup_->rasters->in[0].lines.factor());
    return src;
}

std::string ChangeStable::take(const ClassLines::Ready &r) {
    if (!setup_) return "";
    const double *mask = nullptr;
    const unsigned char *valid = nullptr;
    if (has_mask() && !mask_.next(mask, valid)) return "--stable: " + mask_.problem();
    classes_of(r, mask, valid);
    const int cols = setup_->run->s.cols;
    if (has_mask()) {
        table_.add(r.d, r.keep, by_slope_.data(), cols);
        table_.add(r.d, r.keep, all_.data(), cols);
    }
    for (const Follow &f : followers_) f(r, all_.data());
    return "";
}

std::string ChangeStable::walk_again(bool mask, const Take &take) {
    const int lines = setup_->run->s.lines, cols = setup_->run->s.cols;
    const ClassSources src = slope_sources();
    ClassLines band;
    Onto stable;
    std::string p = band.begin(src, 0, lines);
    if (p.empty() && mask) p = stable.open(o_.stable, printable(o_.stable), ground_, lines, cols);
    if (p.empty())
        p = ::walk_again(setup_->rasters->pairs, lines, cols,
                         [&](int, const float *elevations, const double *d, const unsigned char *keep) {
                             std::string q = band.push(elevations, d, keep);
                             ClassLines::Ready r;
                             while (q.empty() && band.next(r)) {
                                 const double *v = nullptr;
                                 const unsigned char *valid = nullptr;
                                 if (mask && !stable.next(v, valid)) q = stable.problem();
                                 else take(r, v, valid);
                             }
                             return q.empty() ? band.problem() : q;
                         });
    return p.empty() ? p : "--stable: " + p;
}

// The stable cells of class k walked again, in the order they were added.
ValueStream ChangeStable::again(size_t k) {
    return [this, k](const ValueBlock &take) {
        const size_t last = setup_->slope_edges.size() - 1;
        std::vector<double> row;
        const std::string p = walk_again(has_mask(), [&](const ClassLines::Ready &r, const double *v, const unsigned char *valid) {
            classes_of(r, v, valid);
            const int32_t *cls = k == last ? all_.data() : by_slope_.data();
            row.clear();
            for (size_t j = 0; j < all_.size(); j++)
                if (cls[j] == int32_t(k) && (!r.keep || r.keep[j])) row.push_back(r.d[j]);
            if (!row.empty()) take(row.data(), row.size());
        });
        if (!p.empty() && problem_.empty()) problem_ = p;
    };
}

// Each slope class's σ_DoD: the NMAD of its stable cells' d, or that of all
// stable cells where it has fewer than kLeastStable.
std::string ChangeStable::finish() {
    // Without a mask every cell is stable: the figures are the report's
    // own by slope class and of the whole comparison (from_figures).
    if (!on() || !setup_ || !has_mask()) return "";
    std::vector<Headline> figures = table_.finish([&](size_t k) { return again(k); }, setup_->unit);
    if (!problem_.empty()) return problem_;
    if (figures.back().n == 0)
        return "--stable: the mask " + printable(o_.stable) + " marks no cell with data in both rasters as stable";
    from_figures(std::move(figures));
    return "";
}

void ChangeStable::from_figures(std::vector<Headline> figures) {
    const size_t last = figures.size() - 1;
    const double z = confidence_z(o_.confidence);
    auto rule = [z](double sigma) { return Detection{z * sigma, false, sigma}; };
    fallback_ = rule(figures[last].nmad);
    for (size_t k = 0; k < last; k++) {
        counts_.push_back(figures[k].n);
        sigmas_.push_back(figures[k].n >= kLeastStable ? figures[k].nmad : figures[last].nmad);
        rules_.push_back(rule(sigmas_.back()));
    }
    counts_.push_back(figures[last].n);
    sigmas_.push_back(figures[last].nmad);
    median_ = figures[last].median_diff;
}

void ChangeStable::change_json(Json &change) const {
    Json rows = Json::array();
    for (size_t k = 0; k + 1 < counts_.size(); k++) {
        Json o = Json::object();
        o["from_deg"] = setup_->slope_edges[k];
        o["to_deg"] = setup_->slope_edges[k + 1];
        o["n_stable"] = counts_[k];
        o["sigma_dod_m"] = sigmas_[k];
        o["sigma_of_all_stable"] = counts_[k] < kLeastStable;
        rows.push_back(o);
    }
    change["sigma_by_slope"] = rows;
    change["n_stable"] = counts_.back();
    change["sigma_all_stable_m"] = sigmas_.back();
}
