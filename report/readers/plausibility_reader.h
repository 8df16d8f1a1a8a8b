// The plausibility of a comparison: the import's record of its inputs
// (R_inputs.json beside the rasters), the value ranges of both rasters and
// the plane fitted to the differences during the walk, and from them, with
// the headline figures and the co-registration, the warnings the headline
// gives (plausibility.h).
#ifndef KARVEL_REPORT_READERS_PLAUSIBILITY_READER_H
#define KARVEL_REPORT_READERS_PLAUSIBILITY_READER_H

#include <vector>

#include "headline_stats.h"
#include "plausibility.h"
#include "provenance.h"
#include "reader.h"

class Plausibility : public Reader {
public:
    // Its warnings and the inputs go into the headline of `stats`.
    explicit Plausibility(HeadlineStats &stats) : stats_(stats) {}
    std::string prepare(const Setup &setup) override;
    std::string line(const Line &l) override;
    std::string finish() override;
    // "inputs" and, for DEMs, "plane_trend", after every other member.
    void json(Json &doc) const override;

private:
    HeadlineStats &stats_;
    const Setup *setup_ = nullptr;
    bool dem_ = false;
    Provenance inputs_;
    std::string inputs_problem_;  // why R_inputs.json cannot be used, if it cannot
    // The cells' size on the ground, whether it is known, and the
    // positions of a line: x of each kept one and its difference.
    double cell_w_ = 1, cell_h_ = 1;
    bool sized_ = false;
    std::vector<double> xs_, ds_;
    PlaneSums sums_;
    PlaneTrend plane_;
    // The ranges of FIRST's and SECOND's values where both have data.
    bool any_ = false;
    double lo_[2] = {0, 0}, hi_[2] = {0, 0};
};

#endif
