// --uncertainty: how sure the report's means and volumes are when the
// errors of the DEMs are correlated from cell to cell. The σ_dh of each
// slope class on the stable cells (ChangeStable), a bounded sample of the
// standardised differences z = (d − median) / σ_dh of the stable cells
// taken behind the walk, their variogram and a spherical model fitted to
// it (variogram.h); from the model, the number of independent cells N_eff
// the mean over an area is worth and its standard error, for the whole
// comparison, each slope class, each class of --classes, each zone of
// --zones and the detected change of --change.
#ifndef KARVEL_REPORT_READERS_UNCERTAINTY_H
#define KARVEL_REPORT_READERS_UNCERTAINTY_H

#include <cstdint>
#include <deque>
#include <vector>

#include "change_reader.h"
#include "change_stable.h"
#include "class_figures.h"
#include "reader.h"
#include "variogram.h"
#include "zones_reader.h"

// The cells of a set, by slope class (the last: in none), with their area.
struct SlopeTally {
    std::vector<long long> n;
    std::vector<double> area_m2;
    void resize(size_t classes) {
        n.resize(classes + 1);
        area_m2.resize(classes + 1);
    }
    void add(int32_t slope, double area) {
        const size_t k = slope >= 0 && size_t(slope) + 1 < n.size() ? size_t(slope) : n.size() - 1;
        n[k]++;
        area_m2[k] += area;
    }
};

// A mean's uncertainty: its cells, their area, the mean σ_dh over them,
// the independent cells they are worth and the standard error of the mean.
struct MeanError {
    double cells = 0, area_m2 = 0, sigma_m = 0, n_eff = 0, se_m = 0;
};
// The mean error of a set, each slope class's cells taken with `sigmas`
// (the last: the σ of the cells in no slope class).
MeanError mean_error(const SlopeTally &t, const std::vector<double> &sigmas, const std::vector<Spherical> &model);

class Uncertainty : public Reader {
public:
    // Stable cells sampled for the variogram, at most.
    static constexpr size_t kMaxSample = 250000;
    // The least stable cells the variogram is taken of.
    static constexpr long long kLeastStable = 1000;

    Uncertainty(bool on, const ChangeOptions &change, ChangeStable &stable, const HeadlineStats &stats,
                ClassFigures &classes, ZoneFigures &zones, ChangeReader &budget);
    std::string prepare(const Setup &setup) override;
    std::string finish() override;
    void table_lines(std::vector<std::string> &out) const override;
    // "uncertainty", and the two keys in the rows of the other readers' tables.
    void json(Json &doc) const override;
    std::string figures(const Headline &h, std::vector<Figure> &out) override;

private:
    // A stable cell of the sample.
    struct Cell {
        int line = 0, col = 0;
        int32_t slope = -1;
        double d = 0;
    };
    void take(const ClassLines::Ready &r, const int32_t *stable);
    void sample(const ClassLines::Ready &r, const int32_t *stable);
    void detect(const ClassLines::Ready &r, const std::vector<Detection> &rules, const Detection &fallback);
    std::string fit();
    MeanError error_of(const SlopeTally &t) const { return mean_error(t, sigmas_, fit_.model); }
    // The detected cells, eroded and deposited.
    SlopeTally detected_cells() const;

    const bool on_;
    const ChangeOptions change_;
    ChangeStable &stable_;
    const HeadlineStats &stats_;
    ClassFigures &classes_;
    ZoneFigures &zones_;
    const Setup *setup_ = nullptr;
    Ground ground_;
    size_t slopes_ = 0;
    double dx_ = 1, dy_ = 1;  // a cell's width and height on the ground (m), at the middle line
    // The sample: the stable cells whose position's hash is below the bar,
    // the bar halved (and the sample thinned) whenever it grows too large.
    std::vector<Cell> sample_;
    uint64_t bar_ = uint64_t(1) << 32;
    SlopeTally all_, erosion_, deposition_;
    std::vector<SlopeTally> by_class_, by_zone_;
    std::deque<std::pair<int, std::vector<int32_t>>> zone_lines_;  // the lines' zones, until their slopes come
    std::vector<double> sigmas_;
    Variogram variogram_;
    VariogramFit fit_;
};

#endif
