// The headline figures of the differences (DiffStats): their sums during
// the walk, and their medians and percentiles either among the differences
// held (a small comparison) or sought during the walk, guided by a sample
// read before it, and settled by walking them again where the walk left
// one open (a large one).
#ifndef KARVEL_REPORT_READERS_HEADLINE_STATS_H
#define KARVEL_REPORT_READERS_HEADLINE_STATS_H

#include <memory>

#include "headline.h"
#include "karvel_pass.h"
#include "reader.h"

class HeadlineStats : public Reader {
public:
    // Differences its search holds at most during the walk (8 bytes each,
    // 48 MB): up to 786 432 in each bracket of a rank, twice that in each
    // of the NMAD's two.
    static constexpr size_t kHeld = size_t(6) << 20;
    // The RMS error is karvel's, that of `pass`.
    explicit HeadlineStats(const KarvelPass &pass) : pass_(pass) {}
    std::string prepare(const Setup &setup) override;
    std::string start() override;
    std::string kept(const KeptLine &l) override;
    std::string finish() override;
    // The headline figures, first in the report's JSON object.
    void json(Json &doc) const override { doc.update(headline_json(h_)); }

    // After start(): true when every difference is held (DiffStats::diffs()).
    bool held() const { return stats_.ranks() == DiffStats::Ranks::held; }
    const DiffStats &stats() const { return stats_; }
    // After start(), where the differences are not held: the smallest and
    // largest difference and the clip (the 98th percentile of |d|) that the
    // sample foretells; null without a sample.
    const Headline *foretold() const { return foretold_.get(); }
    // After finish(): the headline figures.
    const Headline &headline() const { return h_; }
    // After finish(): the headline, for the readers after this one to add
    // to (the inputs, warnings).
    Headline &amend() { return h_; }

private:
    const KarvelPass &pass_;
    const Setup *setup_ = nullptr;
    DiffStats stats_;
    std::unique_ptr<Headline> foretold_;
    Headline h_;
};

#endif
