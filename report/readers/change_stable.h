// The surveys' error estimated from the data, for the change budget's
// --sigma stable and for --uncertainty: the NMAD of d on the stable cells
// (those where a mask raster, brought onto the compared grid, is not zero;
// every cell without a mask) within each slope class of the first DEM,
// each taken behind the walk from the lines the slope classes are made
// for; a slope class with too few stable cells takes the σ of all of
// them. The budget itself, which needs those σ, walks the rasters again
// with their slope classes.
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

    // `uncertainty`: the σ are wanted without --sigma stable too.
    ChangeStable(const ChangeOptions &o, bool uncertainty) : o_(o), uncertainty_(uncertainty) {}
    std::string prepare(const Setup &setup) override;
    std::string finish() override;

    // Each line of the walk with its slope classes, in order, behind the
    // walk (the slope classes' lines, ClassFigures::watch).
    std::string take(const ClassLines::Ready &r);
    // Called for each line taken, after it: the line, and each column's
    // mark (>= 0 where the cell is stable; the cells kept or not).
    using Follow = std::function<void(const ClassLines::Ready &r, const int32_t *stable)>;
    void follow(Follow f) { followers_.push_back(std::move(f)); }

    // Whether the σ of the stable cells are wanted: by the change budget or
    // by --uncertainty.
    bool on() const { return budget_sigma() || uncertainty_; }
    // Whether the change budget's threshold is made of them (--sigma
    // stable): the budget then waits for the walk's end. With a fixed
    // threshold it is formed in the walk, --uncertainty or not.
    bool budget_sigma() const { return o_.on && o_.method == ChangeMethod::stable; }
    // The stable cells are a mask's (--stable), else every cell.
    bool has_mask() const { return !o_.stable.empty(); }
    // After finish(): each slope class's stable cells and σ (the σ of all
    // stable cells where it has too few), then those of all stable cells;
    // the median of d on all of them.
    // Without a mask, the σ from the figures of every cell: each slope
    // class's, then the whole comparison's (after their readers' finish).
    void from_figures(std::vector<Headline> figures);
    const std::vector<long long> &counts() const { return counts_; }
    const std::vector<double> &sigmas() const { return sigmas_; }
    double median() const { return median_; }
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
    // (-1 elsewhere), from a line and its mask (null: every cell stable).
    void classes_of(const ClassLines::Ready &r, const double *mask, const unsigned char *valid);
    ClassSources slope_sources() const;
    ValueStream again(size_t k);

    const ChangeOptions o_;
    const bool uncertainty_;
    const Setup *setup_ = nullptr;
    Ground ground_;
    Onto mask_;
    ClassTable table_;  // the slope classes' stable cells, then all of them (the last class)
    std::vector<int32_t> by_slope_, all_;
    std::vector<Detection> rules_;
    Detection fallback_;
    std::vector<long long> counts_;
    std::vector<double> sigmas_;
    double median_ = 0;
    std::vector<Follow> followers_;
    std::string problem_;
};

#endif
