#include "headline_stats.h"

#include <algorithm>

#include "select.h"

std::string HeadlineStats::prepare(const Setup &setup) {
    setup_ = &setup;
    return "";
}

// A small comparison keeps its differences; a large one keeps none, its
// medians and percentiles sought during the one walk, guided by a sample
// of differences read before it.
std::string HeadlineStats::start() {
    const Summary &s = setup_->run->s;
    const long long n = setup_->run->n;
    if (size_t(n) < 4 * kRankSample && stats_.reserve(size_t(n))) return "";
    std::vector<double> sample;
    const std::string p = sample_differences(setup_->rasters->pairs, s.lines, s.cols, sample);
    if (!p.empty()) return p;
    if (!sample.empty()) {
        foretold_ = std::make_unique<Headline>();
        foretold_->min_diff = *std::min_element(sample.begin(), sample.end());
        foretold_->max_diff = *std::max_element(sample.begin(), sample.end());
        foretold_->clip =
            select_ranks(sample.data(), sample.size(), Seen::magnitude, 0.0, {nearest_rank(98, sample.size())})[0];
    }
    stats_.rank_during_walk(size_t(n), std::move(sample), kHeld);
    return "";
}

std::string HeadlineStats::kept(const KeptLine &l) {
    stats_.add_line(l.x, l.y, l.d, l.n);
    return "";
}

// The ranks the walk left unsettled are found by reading both rasters
// again, as the walk did.
std::string HeadlineStats::finish() {
    const Run &run = *setup_->run;
    const double b0 = run.s.b0.value, b1 = run.s.b1.value;
    if (held()) h_ = stats_.finish_held(b0, b1, pass_.rms(), setup_->unit);
    else h_ = stats_.finish_walked(b0, b1, pass_.rms(), setup_->unit, setup_->rasters->differences());
    if (setup_->rasters->pairs.masked()) h_.n_left_out = run.s.left_out;
    h_.coreg = run.coreg;
    for (const Input &in : setup_->rasters->in)
        if (!in.short_note.empty()) h_.warnings.push_back(in.short_note);
    return "";
}
