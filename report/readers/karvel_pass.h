// karvel's line pass again: the whole-raster sums and each line's figures,
// taken of the kept positions as karvel takes them. The sums must give the
// summary's figures, and each line's figures its row of the per-line table.
#ifndef KARVEL_REPORT_READERS_KARVEL_PASS_H
#define KARVEL_REPORT_READERS_KARVEL_PASS_H

#include "reader.h"
#include "sums.h"

class KarvelPass : public Reader {
public:
    std::string prepare(const Setup &setup) override;
    std::string kept(const KeptLine &l) override;
    std::string check() override;
    // After check(): the RMS error and the line fitted from the sums, as karvel forms them.
    double rms() const { return rms_; }
    const LineFit &fit() const { return fit_; }

private:
    const Run *run_ = nullptr;
    RasterSums sums_;
    int table_differs_ = -1;  // the first line whose table row is not its figures
    double rms_ = 0;
    LineFit fit_{};
};

#endif
