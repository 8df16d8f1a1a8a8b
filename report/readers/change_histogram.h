// The distribution of the elevation change by area and by volume: each
// changed cell's area and volume (|d| × area) summed into bins of d of one
// width, aligned on 0 so that no bin holds both erosion and deposition.
// The bins start at a fraction of the threshold and widen (two into one)
// whenever more than kMostBins would be needed, so that the memory stays
// bounded whatever the changes.
#ifndef KARVEL_REPORT_READERS_CHANGE_HISTOGRAM_H
#define KARVEL_REPORT_READERS_CHANGE_HISTOGRAM_H

#include <cstdint>
#include <string>
#include <vector>

#include "charts.h"

class ChangeHistogram {
public:
    static constexpr size_t kMostBins = size_t(1) << 20;
    // Bins of `width` metres to begin with (> 0).
    explicit ChangeHistogram(double width) : width_(width) {}
    // n cells of d (those kept: null, all), each `area` m²; cells without
    // change (d = 0) are left out.
    void add(const double *d, const unsigned char *keep, int n, double area);

    double width() const { return width_; }
    // The bins from first_bin() on: bin b holds b·width ≤ d < (b + 1)·width.
    long long first_bin() const { return first_; }
    const std::vector<double> &areas() const { return area_; }
    const std::vector<double> &volumes() const { return volume_; }

private:
    void place(double v, double area);
    void widen();
    double width_;
    long long first_ = 0;
    std::vector<double> area_, volume_;
};

// The distribution as a figure: areas above, volumes below, erosion and
// deposition coloured, the band |d| < `limit` (nothing detected) shaded.
Figure change_histogram_figure(const ChangeHistogram &h, double limit);

#endif
