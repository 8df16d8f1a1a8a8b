// The figures of the headline table by zone of a vector file (--zones),
// and with --change each zone's change budget. Each line's zones are
// rasterized and taken behind the walk, on its helper thread; a zone's
// ranks are those of its differences held, or found by walking it again
// (classes.h). A cell in two zones counts in both.
#ifndef KARVEL_REPORT_READERS_ZONES_READER_H
#define KARVEL_REPORT_READERS_ZONES_READER_H

#include <memory>

#include "change_stable.h"
#include "classes.h"
#include "headline_stats.h"
#include "reader.h"
#include "zones_set.h"

class ZoneFigures : public Reader {
public:
    // With --sigma stable, the σ are `stable`'s, and the zones' budgets are
    // summed by walking the rasters again once they are known.
    // The zones are sampled where `stats` does not hold its differences.
    // The zones' outlines go into `outlines`, for the maps.
    ZoneFigures(const std::string &given, const ChangeOptions &o, ChangeStable &stable, const HeadlineStats &stats,
                MapOutlines &outlines)
        : given_(given), o_(o), stable_(stable), stats_(stats), outlines_(outlines) {}
    std::string prepare(const Setup &setup) override;
    std::string start() override;
    bool behind() const override { return !given_.empty(); }
    std::string take_behind(BehindLine &l) override;
    std::string finish() override;
    void table_lines(std::vector<std::string> &out) const override;
    // The rows "by_zone".
    void json(Json &doc) const override;

    size_t zone_count() const { return zones_.size(); }
    size_t layers() const { return zones_.layers(); }
    // Each line's zones (layers() rows of every column's zone, -1 for none)
    // are also given to `w`, in line order, behind the walk.
    using Watch = std::function<void(int line, const int32_t *ids)>;
    void watch(Watch w) { watches_.push_back(std::move(w)); }

private:
    // One line of every column: each layer's zones into the figures and,
    // with `budget`, into the zones' budgets by the rules given.
    void add(int line, const double *d, const unsigned char *keep, const int32_t *ids, bool budget,
             const int32_t *slope, const std::vector<Detection> &rules, const Detection &fallback);
    ValueStream again(size_t k);
    std::string sample_band(int from, int to, size_t stride, std::vector<std::vector<double>> &out, size_t &seen);
    std::string walk_again(const std::function<void(int line, const double *d, const unsigned char *keep,
                                                    const int32_t *ids, const int32_t *slope)> &take);

    const std::string given_;
    const ChangeOptions o_;
    ChangeStable &stable_;
    const HeadlineStats &stats_;
    MapOutlines &outlines_;
    const Setup *setup_ = nullptr;
    Ground ground_;
    ZoneSet zones_;
    std::unique_ptr<ZoneLines> lines_;
    ClassTable table_;
    Detection rule_;
    std::vector<BudgetSums> budgets_;
    std::vector<ClassRow> rows_;
    std::vector<Watch> watches_;
    std::string problem_;
};

#endif
