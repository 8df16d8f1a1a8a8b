// The maps of the differences and of the residuals, over the shaded relief
// of the first DEM: block means of each, reduced during the walk to about
// the pixels a map has in its PNG.
#ifndef KARVEL_REPORT_READERS_MAP_MEANS_H
#define KARVEL_REPORT_READERS_MAP_MEANS_H

#include <memory>

#include "maps.h"
#include "reader.h"

// The pictures are reduced to at most this many cells a side (about the
// pixels a map has in its PNG: more would only cost drawing time).
constexpr int kPictureSide = 750;

class MapMeans : public Reader {
public:
    // The zones in `outlines` (filled before the figures) are outlined on the maps.
    explicit MapMeans(const MapOutlines &outlines) : outlines_(outlines) {}
    std::string prepare(const Setup &setup) override;
    std::string line(const Line &l) override;
    std::string figures(const Headline &h, std::vector<Figure> &out) override;
    // The block means of the first DEM (of its relief; null for images),
    // and the zones outlined, for the other maps.
    BlockMeans *first() { return image_ ? nullptr : first_.get(); }
    const MapOutlines &outlines() const { return outlines_; }

private:
    const MapOutlines &outlines_;
    const Setup *setup_ = nullptr;
    bool image_ = false;  // 8-bit images have no relief
    std::unique_ptr<BlockMeans> first_, diff_, resid_;
};

#endif
