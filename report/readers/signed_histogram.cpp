#include "signed_histogram.h"

#include <cmath>

namespace {

constexpr int kDiffBins = 120;

}  // namespace

std::string SignedHistogram::prepare(const Setup &setup) {
    rasters_ = setup.rasters;
    return "";
}

std::string SignedHistogram::start() {
    const Headline *guess = stats_.foretold();
    if (guess && !std::isnan(guess->clip)) binner_ = std::make_unique<DiffBinner>(*guess, kDiffBins);
    return "";
}

std::string SignedHistogram::kept(const KeptLine &l) {
    if (binner_) binner_->add(l.d, size_t(l.n));
    return "";
}

std::string SignedHistogram::finish() {
    const Headline &h = stats_.headline();
    if (stats_.held()) {
        hist_ = diff_histogram(stats_.stats().diffs(), stats_.stats().count(), h, kDiffBins);
    } else if (binner_) {
        hist_ = binner_->histogram();
    } else {  // no sample to range the bins by: one more walk
        DiffBinner late(h, kDiffBins);
        rasters_->differences()([&](const double *d, size_t len) { late.add(d, len); });
        hist_ = late.histogram();
    }
    return "";
}

std::string SignedHistogram::figures(const Headline &h, std::vector<Figure> &out) {
    out.push_back(diff_histogram_figure(hist_, h));
    return "";
}
