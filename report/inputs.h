// The inputs of the report's walk: both rasters of the comparison, open
// and checked against the summary, and their lines taken together as
// karvel takes them (the positions without data left out).
#ifndef KARVEL_REPORT_INPUTS_H
#define KARVEL_REPORT_INPUTS_H

#include <functional>
#include <string>
#include <vector>

#include "geotiff.h"
#include "ground.h"
#include "kind.h"
#include "nodata.h"
#include "paths.h"
#include "raster.h"
#include "select.h"
#include "summary.h"

// One raster of the comparison, open and ready to be read.
struct Input {
    std::string shown, real;
    std::string short_note;  // what karvel warns of a file shorter or longer than its description says
    RasterFile file;
    RasterLines lines;
    int values[6] = {0, 0, 0, 0, 0, 0};  // its description
    Kind kind = Kind::image8;
    NoData nodata;  // the value its header declares, if any
    ~Input() { raster_close(file); }
};

// Opens raster k (0: the first) of the summary, shown as `shown`, with its
// description and header checked against the summary. Empty on success,
// else the problem.
std::string open_input(Input &in, const ImagesDir &images, const std::string &shown, const Summary &s, int k);

// The lines of both rasters as karvel takes them. Where either declares a
// no-data value, the positions where either holds it are marked (keep()),
// and compact() then leaves the kept values alone, in column order, at the
// fronts of x() and y(). Where neither does, the lines are those of the
// readers, unmarked, and nothing is moved.
class BothLines {
public:
    void init(Input &a, Input &b, int cols);
    bool masked() const { return masked_; }
    int cols() const { return int(cols_); }
    void rewind();
    // The next line of both, every column.
    void next();
    // Line `line` of both, read where it lies without moving the pass.
    // Empty on success, else the problem.
    std::string read_at(int line);
    const double *x() const { return x_at_; }
    const double *y() const { return y_at_; }
    const unsigned char *keep() const { return masked_ ? keep_.data() : nullptr; }
    // Where the first raster alone has data (null: everywhere).
    const unsigned char *first_keep() const { return first_keep_.empty() ? nullptr : first_keep_.data(); }
    // Moves the kept positions to the fronts of x() and y(); how many.
    int compact() {
        if (!masked_) return int(cols_);
        return int(compact_kept(x_.data(), y_.data(), keep_.data(), cols_));
    }
    // The first raster's values of the line held as stored (in its own
    // unit, not metres), as floats, not a number where it has no data (the
    // elevations its slopes are taken of, as GDAL takes those of the stored
    // raster), and, with d, the differences y − x of every column.
    void first_floats(float *elevations, double *d = nullptr) const;

private:
    void convert(const unsigned char *s1, const unsigned char *s2);
    Input *a_ = nullptr, *b_ = nullptr;
    size_t cols_ = 0;
    bool masked_ = false;
    std::vector<double> x_, y_;
    std::vector<unsigned char> keep_, first_keep_;
    const double *x_at_ = nullptr, *y_at_ = nullptr;
};

// Differences of about kRankSample positions spread over the rasters,
// read before the walk (lines read where they lie: a few hundred of them,
// every so many columns of each, those left out skipped). Empty on
// success, else the problem.
std::string sample_differences(BothLines &pairs, int lines, int cols, std::vector<double> &sample);

// Both rasters of the comparison, their lines together, and where they lie.
struct Rasters {
    Input in[2];
    BothLines pairs;
    int lines = 0;
    Georef geo;
    std::string geo_note;  // why the rasters have no georeferencing, if they have none

    // Opens both rasters of the summary (`summary_shown`) and checks them
    // against it. Empty on success, else the problem.
    std::string open(const ImagesDir &images, const Summary &s, const std::string &summary_shown);
    // The compared grid's cells on the ground: where it is georeferenced,
    // else square cells of the description's size in metres (1 m where it
    // gives none). `sized` says whether the cells' size is known.
    Ground ground(bool *sized = nullptr) const;
    // Refuses rasters that changed while the report read them.
    std::string unchanged() const;
    // Both walked again from the first line, each line's kept values at
    // the fronts of x and y.
    void walk_kept(const std::function<void(const double *x, const double *y, int n)> &take);
    // The differences y − x of the kept positions, walked again.
    ValueStream differences();
};

#endif
