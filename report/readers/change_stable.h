// The surveys' error estimated from the data, for the change budget's
// --sigma stable: the NMAD of d on the stable cells (those where a mask
// raster, brought onto the compared grid, is not zero) within each slope
// class of the first DEM, each taken behind the walk; a slope class with
// too few stable cells takes the σ of all of them. The budget itself,
// which needs those σ, walks the rasters again with their slope classes.
#ifndef KARVEL_REPORT_READERS_CHANGE_STABLE_H
#define KARVEL_REPORT_READERS_CHANGE_STABLE_H

#include <functional>
#include <memory>

#include "change_budget.h"
#include "classes.h"
#include "ground.h"
#include "onto.h"
#include "reader.h"

class ChangeStable : public Reader {
public:
    // A slope class takes its own σ from this many stable cells on.
    static constexpr long long kLeastStable = 100;

    explicit ChangeStable(const ChangeOptions &o) : o_(o) {}
    std::string prepare(const Setup &setup) override;
    bool behind() const override { return on(); }
    std::string take_behind(BehindLine &l) override;
    std::string finish() override;

    bool on() const { return o_.on && o_.method == ChangeMethod::stable; }
    // After finish(): each slope class's rule (z·σ of the class), and the
    // rule of a cell in no slope class (that of all stable cells).
    const std::vector<Detection> &rules() const { return rules_; }
    const Detection &fallback() const { return fallback_; }
    // Its members of "change": "sigma_by_slope" (rows), and the stable
    // cells and σ_DoD of all of them.
    void change_json(Json &change) const;

    // The rasters walked again from the first line: each line with its
    // slope classes (r.slope) and, with `mask`, the mask's value and
    // whether it has one. Empty on success, else the problem.
    using Take = std::function<void(const ClassLines::Ready &r, const double *mask, const unsigned char *valid)>;
    std::string walk_again(bool mask, const Take &take);

private:
    // Each stable cell's slope class, and the class of all stable cells
    // (-1 elsewhere), from a line and its mask.
    void classes_of(const ClassLines::Ready &r, const double *mask, const unsigned char *valid);
    ClassSources slope_sources() const;
    ValueStream again(size_t k);

    const ChangeOptions o_;
    const Setup *setup_ = nullptr;
    Ground ground_;
    ClassLines lines_;
    Onto mask_;
    ClassTable table_;  // the slope classes' stable cells, then all of them (the last class)
    std::vector<int32_t> by_slope_, all_;
    std::vector<Detection> rules_;
    Detection fallback_;
    std::vector<long long> counts_;
    std::vector<double> sigmas_;
    std::string problem_;
};

#endif
