// The two GeoTIFFs of the report, float32 line by line: the differences
// (second − first) and the residuals (second − (B0 + B1 × first)), blank
// (not a number) where a position is left out. The walk forms each line's
// floats straight in their strips; GDAL completes the files on a thread
// of their own once the last line is in, while the figures are made.
#ifndef KARVEL_REPORT_READERS_GEOTIFF_ROWS_H
#define KARVEL_REPORT_READERS_GEOTIFF_ROWS_H

#include <thread>

#include "geotiff.h"
#include "reader.h"
#include "staged.h"

class GeoTiffRows : public Reader {
public:
    std::string prepare(const Setup &setup) override;
    void room(LineRoom &room) override;
    std::string line(const Line &l) override;
    std::string files(std::vector<StagedFile *> &out) override;

private:
    void close();
    int lines_ = 0;
    // Destroyed in the reverse of this order: the files are completed
    // (closer_) before they are closed.
    StagedFile diff_file_, resid_file_;
    GeoTiffOut diff_tif_, resid_tif_;
    float *diff_ = nullptr, *resid_ = nullptr;  // the room of the line under way
    bool written_ = true;                       // every line went into both GeoTIFFs
    bool closing_ = false;
    std::string problem_;
    std::jthread closer_;  // completes the GeoTIFFs; joined at the latest when destroyed
};

#endif
