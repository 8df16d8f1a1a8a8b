// The change budget of the comparison (change_budget.h), formed during the
// walk: each line's cells judged against the threshold the command line
// gives, summed with their areas on the ground, and the detected change
// written line by line into RESULT_dod.tif.
#ifndef KARVEL_REPORT_READERS_CHANGE_READER_H
#define KARVEL_REPORT_READERS_CHANGE_READER_H

#include <memory>

#include "change_budget.h"
#include "change_histogram.h"
#include "change_stable.h"
#include "geotiff.h"
#include "maps.h"
#include "map_means.h"
#include "ground.h"
#include "reader.h"
#include "staged.h"

// The detected change's GeoTIFF, after the result's name. A report without
// --change removes that of an earlier report, which would otherwise be
// taken for this one's.
inline constexpr const char *kDodSuffix = "_dod.tif";

class ChangeReader : public Reader {
public:
    // With --sigma stable, the σ are `stable`'s, and the budget is summed
    // by walking the rasters again once they are known.
    // The map of the detected change lies over the relief of `maps`' first
    // DEM, its zones outlined.
    ChangeReader(const ChangeOptions &o, ChangeStable &stable, MapMeans &maps) : o_(o), stable_(stable), maps_(maps) {}
    std::string prepare(const Setup &setup) override;
    std::string line(const Line &l) override;
    std::string finish() override;
    void table_lines(std::vector<std::string> &out) const override;
    // The object "change".
    void json(Json &doc) const override;
    std::string figures(const Headline &h, std::vector<Figure> &out) override;
    std::string files(std::vector<StagedFile *> &out) override;

    bool on() const { return o_.on; }
    const ChangeBudget &budget() const { return sums_.budget(); }
    // With --sigma stable, each line of the walk that sums the budget is
    // also given to `w` (with its slope classes), in line order.
    using Watch = std::function<void(const ClassLines::Ready &r)>;
    void watch_again(Watch w) { watches_.push_back(std::move(w)); }

private:
    std::string threshold_text() const;
    // One line's cells into the budget, the GeoTIFF and the map.
    void add(int line, const double *d, const unsigned char *keep, const int32_t *slope,
             const std::vector<Detection> &rules, const Detection &fallback);

    const ChangeOptions o_;
    ChangeStable &stable_;
    MapMeans &maps_;
    const Setup *setup_ = nullptr;
    int cols_ = 0;
    Ground ground_;  // the compared grid, for the cells' areas
    Detection rule_;
    BudgetSums sums_;
    StagedFile dod_file_;
    GeoTiffOut dod_tif_;
    bool written_ = true;  // every line went into the GeoTIFF
    // The map's block means of the detected change (0 elsewhere).
    std::unique_ptr<BlockMeans> detected_;
    std::unique_ptr<ChangeHistogram> histogram_;
    double limit_ = 0;  // the threshold the distribution shades
    std::vector<double> row_;
    std::vector<Watch> watches_;
};

#endif
