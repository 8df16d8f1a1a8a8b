// The slope and aspect of a DEM, line by line, by GDAL's DEM processing
// (Horn's method, edges computed), in ground metres: a projected grid by its
// cell size in metres, a geographic grid by each line's cell size on the
// ellipsoid at that line's latitude. The DEM is given a line at a time, in
// order; the slope of a line is ready once the line after it is given (the
// last line's once all are), so that at most a chunk of lines is held.
#ifndef KARVEL_GEO_TERRAIN_H
#define KARVEL_GEO_TERRAIN_H

#include <memory>
#include <string>
#include <vector>

#include "ground.h"

class Terrain {
public:
    // A DEM of lines × cols cells on `grid`; aspect too when asked for.
    // With every > 1, only the lines first, first + every, ... are computed
    // (and given by next), each from itself and its neighbours.
    Terrain(const Ground &grid, int lines, int cols, bool with_aspect, int every = 1, int first = 0);
    ~Terrain();
    Terrain(const Terrain &) = delete;
    Terrain &operator=(const Terrain &) = delete;

    // Gives the next line of the DEM: cols elevations in metres, NaN where
    // the DEM has no data. False when GDAL failed (problem() says why).
    bool push(const float *elevations);
    // The next line whose slope is ready: true and its index, with slope
    // (degrees, 0 to 90) and aspect (degrees clockwise from north, 0 to
    // 360; NaN on flat cells, or null without aspect) valid until the next
    // call of push or next. NaN where GDAL gives no value (no data around).
    bool next(int &line, const float *&slope, const float *&aspect);
    const std::string &problem() const { return problem_; }

private:
    bool process();
    Ground grid_;
    int lines_, cols_;
    bool with_aspect_;
    int chunk_;                    // lines computed at once
    int every_, first_;            // the lines computed
    int given_ = 0;                // lines pushed
    int held_first_ = 0;           // the first line in held_
    std::vector<float> held_;      // the lines pushed that are still needed
    int out_first_ = 0, out_count_ = 0, out_taken_ = 0;
    std::vector<float> slope_, aspect_;
    std::string problem_;
};

#endif
