// The histogram of the signed differences (DiffBinner): binned during the
// walk over the range the headline's sample foretells, or, where the
// differences are held, binned from them once the headline figures are
// known (and where there was no sample to range the bins by, in one more
// walk).
#ifndef KARVEL_REPORT_READERS_SIGNED_HISTOGRAM_H
#define KARVEL_REPORT_READERS_SIGNED_HISTOGRAM_H

#include <memory>

#include "charts.h"
#include "headline_stats.h"
#include "reader.h"

class SignedHistogram : public Reader {
public:
    // The differences, their sample and the headline figures of `stats`.
    explicit SignedHistogram(const HeadlineStats &stats) : stats_(stats) {}
    std::string prepare(const Setup &setup) override;
    std::string start() override;
    std::string kept(const KeptLine &l) override;
    std::string finish() override;
    std::string figures(const Headline &h, std::vector<Figure> &out) override;

private:
    const HeadlineStats &stats_;
    Rasters *rasters_ = nullptr;
    std::unique_ptr<DiffBinner> binner_;
    DiffHistogram hist_;
};

#endif
