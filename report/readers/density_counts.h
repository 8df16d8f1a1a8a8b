// The density of (first, second): a 2-D histogram over both rasters' value
// ranges as the summary gives them, counted per line in 32-bit counts
// (kBinWays copies, rows.h) that go over to the figure's before any could
// overflow.
#ifndef KARVEL_REPORT_READERS_DENSITY_COUNTS_H
#define KARVEL_REPORT_READERS_DENSITY_COUNTS_H

#include <cstdint>
#include <vector>

#include "charts.h"
#include "reader.h"

class DensityCounts : public Reader {
public:
    std::string prepare(const Setup &setup) override;
    std::string kept(const KeptLine &l) override;
    std::string figures(const Headline &h, std::vector<Figure> &out) override;

private:
    int lines_ = 0, cols_ = 0;
    Density density_;
    double scale_ = 1;
    std::vector<uint32_t> counts_;
    uint64_t counted_ = 0;  // positions in counts_
    std::vector<int32_t> index_;
};

#endif
