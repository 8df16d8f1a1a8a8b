#include "plausibility_reader.h"

#include <sys/stat.h>

#include <algorithm>

#include "ground.h"
#include "paths.h"

std::string Plausibility::prepare(const Setup &setup) {
    setup_ = &setup;
    dem_ = !setup.run->s.image;
    // R_inputs.json: none for a result karvel made of files by hand; one
    // that cannot be used is a warning, not a refusal.
    const std::string shown = setup.folder_shown + setup.result + kInputsSuffix;
    const std::string real = setup.out_base + kInputsSuffix;
    struct stat st;
    if (lstat(real.c_str(), &st) == 0) {
        std::string text;
        std::string p = read_regular(real, kSummaryLimit, text);
        if (p.empty()) p = parse_inputs(text, inputs_);
        if (!p.empty())
            inputs_problem_ = "the record of the import's inputs " + printable(shown) + " cannot be used (" + p +
                              "): the rasters' sources are not shown";
    }
    if (!dem_) return "";
    // The plane's x and y: metres east and north of the grid's centre,
    // with the cells' size at its middle line.
    const Ground g = setup.rasters->ground(&sized_);
    cell_metres(g, (setup.run->s.lines - 1) / 2.0, cell_w_, cell_h_);
    xs_.resize(size_t(setup.run->s.cols));
    ds_.resize(size_t(setup.run->s.cols));
    return "";
}

std::string Plausibility::line(const Line &l) {
    if (!dem_) return "";
    const double mid_col = (l.cols - 1) / 2.0, mid_line = (setup_->run->s.lines - 1) / 2.0;
    size_t n = 0;
    double lo[2] = {lo_[0], lo_[1]}, hi[2] = {hi_[0], hi_[1]};
    for (int j = 0; j < l.cols; j++) {
        if (l.keep && !l.keep[j]) continue;
        if (!any_) {
            lo[0] = hi[0] = l.x[j];
            lo[1] = hi[1] = l.y[j];
            any_ = true;
        }
        lo[0] = std::min(lo[0], l.x[j]), hi[0] = std::max(hi[0], l.x[j]);
        lo[1] = std::min(lo[1], l.y[j]), hi[1] = std::max(hi[1], l.y[j]);
        xs_[n] = (j - mid_col) * cell_w_;
        ds_[n++] = l.d[j];
    }
    std::copy(lo, lo + 2, lo_);
    std::copy(hi, hi + 2, hi_);
    sums_.add_line((mid_line - l.index) * cell_h_, xs_.data(), ds_.data(), n);
    return "";
}

std::string Plausibility::finish() {
    Headline &h = stats_.amend();
    plane_ = sums_.fit(sized_);
    PlausibilityFacts f;
    f.dem = dem_ && any_;
    f.n = h.n;
    std::copy(lo_, lo_ + 2, f.lo);
    std::copy(hi_, hi_ + 2, f.hi);
    f.sd[0] = h.sd_first;
    f.sd[1] = h.sd_second;
    f.mean_diff = h.mean_diff;
    f.r = h.r;
    f.plane = plane_;
    f.coreg = &setup_->run->coreg;
    f.inputs = &inputs_;
    h.inputs = inputs_;
    if (!inputs_problem_.empty()) h.warnings.push_back(inputs_problem_);
    for (std::string &w : plausibility_warnings(f)) h.warnings.push_back(std::move(w));
    return "";
}

void Plausibility::json(Json &doc) const {
    doc["inputs"] = provenance_json(inputs_);
    if (dem_) doc["plane_trend"] = plane_json(plane_);
}
