#include "density_counts.h"

#include <algorithm>
#include <climits>

#include "raster.h"
#include "rows.h"

namespace {

constexpr int kDensityBins = 256;

// The density's axes: both rasters' value ranges as the summary gives them.
Density density_axes(const Summary &s) {
    Density density;
    density.bins = kDensityBins;
    const double f0 = s.image ? 1.0 : unit_factor(s.unit[0]), f1 = s.image ? 1.0 : unit_factor(s.unit[1]);
    density.lo = std::min(s.range_min[0] * f0, s.range_min[1] * f1);
    density.hi = std::max(s.range_max[0] * f0, s.range_max[1] * f1);
    if (!(density.lo < density.hi)) density.lo -= 0.5, density.hi += 0.5;
    density.counts.assign(size_t(kDensityBins) * kDensityBins, 0.0);
    return density;
}

}  // namespace

std::string DensityCounts::prepare(const Setup &setup) {
    const Summary &s = setup.run->s;
    lines_ = s.lines;
    cols_ = s.cols;
    density_ = density_axes(s);
    scale_ = kDensityBins / (density_.hi - density_.lo);
    counts_.assign(size_t(kDensityBins) * kDensityBins * kBinWays, 0u);
    index_.resize(size_t(cols_));
    return "";
}

std::string DensityCounts::kept(const KeptLine &l) {
    density_line(l.x, l.y, l.n, density_.lo, scale_, kDensityBins, index_.data(), counts_.data());
    // The counts go over to the figure's before the next line could take a
    // bin past 2^32 − 1.
    counted_ += uint64_t(l.n);
    if (counted_ + uint64_t(cols_) > UINT32_MAX || l.index + 1 == lines_) {
        const size_t cells = size_t(kDensityBins) * kDensityBins;
        for (size_t k = 0; k < counts_.size(); k++) density_.counts[k % cells] += double(counts_[k]);
        std::fill(counts_.begin(), counts_.end(), 0u);
        counted_ = 0;
    }
    return "";
}

std::string DensityCounts::figures(const Headline &h, std::vector<Figure> &out) {
    out.push_back(density_figure(density_, h));
    return "";
}
