// The zones of a vector file (--zones FILE[:FIELD]): the polygons of its
// first layer, transformed into the compared grid's coordinate system and
// grouped by the value of FIELD (the feature id without one), then
// rasterized onto the grid by GDAL a band of lines at a time (a cell is in
// a zone when its centre lies inside). A cell may lie in several zones:
// zones whose polygons meet are rasterized in separate layers, so that each
// layer gives a cell one zone at most.
#ifndef KARVEL_REPORT_READERS_ZONES_SET_H
#define KARVEL_REPORT_READERS_ZONES_SET_H

#include <cstdint>
#include <string>
#include <vector>

#include "charts.h"
#include "ground.h"

class ZoneSet {
public:
    // At most this many zones.
    static constexpr size_t kMaxZones = 1000;

    ZoneSet() = default;
    ~ZoneSet();
    ZoneSet(const ZoneSet &) = delete;
    ZoneSet &operator=(const ZoneSet &) = delete;

    // Reads the zones of `given` (FILE, or FILE:FIELD where FILE alone does
    // not name a file) for the north-up grid `grid` of lines × cols. Empty
    // on success, else the reason, naming the file: not a vector GDAL
    // reads, no polygon, no coordinate system (of it or of the grid), no
    // overlap with the grid, FIELD absent, more than kMaxZones zones.
    std::string open(const std::string &given, const Ground &grid, int lines, int cols);
    size_t size() const { return names_.size(); }
    const std::string &name(size_t k) const { return names_[k]; }
    size_t layers() const { return layers_; }
    // Lines [from, from + count) of layer `layer`: each cell's zone, -1 for
    // none, into out, line i's cols at out + i × stride (stride ≥ cols).
    // Empty on success, else the problem.
    std::string rasterize(size_t layer, int from, int count, int32_t *out, size_t stride) const;
    // Every zone's rings (curves made lines) in the grid's coordinates and
    // a point inside it, for the maps.
    MapOutlines outlines() const;

private:
    std::string read(const std::string &path, const std::string &field, const std::string &shown);
    std::string transform_of(void *layer, const std::string &shown, void *&transform) const;
    std::string place(const std::string &shown);
    void clear();
    Ground grid_;
    int lines_ = 0, cols_ = 0;
    std::vector<std::string> names_;
    std::vector<void *> geometry_;  // each zone's polygons (an OGR geometry collection)
    std::vector<size_t> layer_;     // each zone's layer
    size_t layers_ = 0;
};

// The zones of each line of the grid, layer by layer, in line order; the
// bands rasterized as the lines are asked for.
class ZoneLines {
public:
    static constexpr int kBandLines = 64;
    ZoneLines(const ZoneSet &zones, int lines, int cols) : zones_(zones), lines_(lines), cols_(cols) {}
    // Line i (in order from 0): layers() rows of cols zones. Empty on
    // success, else the problem.
    std::string line(int i, const int32_t *&ids);

private:
    const ZoneSet &zones_;
    int lines_, cols_, first_ = 0, count_ = 0;
    std::vector<int32_t> band_;  // the band: each line's rows of every layer
};

#endif
