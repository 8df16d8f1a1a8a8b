// Horn's slope of a DEM, cell for cell as GDAL's DEM processing gives it
// (gdaldem slope -alg Horn -compute_edges, no data as NaN), computed here
// over the lines a caller streams: GDAL's own processing costs several
// times the rest of a report. A cell's slope is kept as its squared
// gradient ("key"), from which GDAL's degrees follow by horn_degrees, and
// the slope classes by comparing the key with each edge's key.
//
// The elevations are the raster's values as stored, in a unit of which
// `scale` make a metre (1000 for millimetres), the cells' sides in metres:
// the slope is gdaldem's of the stored raster with -s scale, which divides
// the gradient by the scale only as it takes the arc tangent.
#ifndef KARVEL_GEO_HORN_H
#define KARVEL_GEO_HORN_H

#include <vector>

#include "ground.h"

// GDAL's slope in degrees of a cell of squared gradient key.
float horn_degrees(double key, double scale = 1);

// The smallest key whose slope is at least `degrees`, and the largest
// whose slope is at most `degrees` (+inf when every slope is).
double horn_key_at_least(double degrees, double scale = 1);
double horn_key_at_most(double degrees, double scale = 1);

// The squared gradients of a line of cols cells of ew × ns metres, from it
// and the lines above and below (null beyond the raster's edge, where GDAL
// extends the raster by its last two lines). NaN where the line has no
// data, and everywhere on a raster of one line or one column, where GDAL
// gives no slope.
void horn_keys(const float *above, const float *line, const float *below, int cols, double ew, double ns,
               double *key);

// The squared gradients of a DEM streamed a line at a time: a line's are
// ready once the line after it is given (the last line's once it is).
class HornLines {
public:
    HornLines(const Ground &grid, int lines, int cols);
    // Gives the next line: cols elevations (as stored), NaN where no data.
    void push(const float *elevations);
    // The same, the line taken over from `elevations` without a copy; it is
    // left holding the buffer of an earlier line, of any content.
    void push(std::vector<float> &elevations);
    // The next line whose keys are ready: true, its index and its keys
    // (valid until the next push or next).
    bool next(int &line, const double *&keys);

private:
    Ground grid_;
    int lines_, cols_;
    int given_ = 0, taken_ = 0;
    std::vector<float> held_[3];  // the last three lines given, by index modulo 3
    std::vector<double> keys_;
};

#endif
