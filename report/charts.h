// The figures of the report: each one a gnuplot script and its data in the
// report folder, drawn by gnuplot as a separate process into a PNG, and all
// of them, after the headline table, into one PDF.
#ifndef KARVEL_REPORT_CHARTS_H
#define KARVEL_REPORT_CHARTS_H

#include <cstdint>
#include <string>
#include <vector>

#include "classes.h"
#include "headline.h"
#include "summary.h"

// A figure: the script's name without ".gp", its script, the data files it
// reads (name and bytes), and the size of its PNG.
struct Figure {
    std::string name, script;
    std::vector<std::pair<std::string, std::string>> data;
    int width = 1000, height = 750;
    // A map of cells, the longest figure to draw: a gnuplot of its own draws its PNG.
    bool map = false;
};

// Where the positions of a map lie. Georeferenced (and not rotated), a map
// is drawn in the grid's coordinates: position (line i, column j) covers
// x0 + j·dx .. x0 + (j + 1)·dx and y0 + i·dy .. y0 + (i + 1)·dy (dy < 0
// for a grid whose lines run south), and one unit of x and of y is east_m
// and north_m metres on the ground, which give the cells their true shape.
// Otherwise it is drawn by line and column with square cells.
struct MapGrid {
    bool known = false;
    bool geographic = false;  // x and y are longitude and latitude in degrees
    std::string unit;         // of the coordinates ("m", "degrees"); empty when unknown
    double x0 = 0, y0 = 0, dx = 1, dy = 1;
    double east_m = 1, north_m = 1;
};

// Zones outlined over the maps: each zone's rings in the grid's
// coordinates (each ring closed: its last point is its first) and a point
// inside it for its name; `to_cell` takes the grid's coordinates to
// (column, line) positions, as GDAL's inverse geotransform, for maps drawn
// by line and column.
struct MapOutlines {
    struct Zone {
        std::string name;
        std::vector<std::vector<std::pair<double, double>>> rings;
        bool labelled = false;  // a point inside it was found
        double label_x = 0, label_y = 0;
    };
    std::vector<Zone> zones;
    double to_cell[6] = {0, 1, 0, 0, 0, 1};
};

// A map's picture: line-major cells (a reduced raster), the factor of the
// reduction, the shaded relief beneath it (empty for none), where it lies,
// and the zones outlined over it (null or none: no outline).
struct MapCells {
    int lines = 0, cols = 0, factor = 1;
    std::vector<float> values;
    std::vector<uint8_t> shade;
    MapGrid grid;
    const MapOutlines *outlines = nullptr;
};

// The 2-D histogram of (first, second): counts[b_y·bins + b_x] over
// [lo, hi] on both axes.
struct Density {
    int bins = 0;
    double lo = 0, hi = 1;
    std::vector<double> counts;
};

// The histogram of the signed differences over [lo, hi].
struct DiffHistogram {
    double lo = 0, hi = 1;
    std::vector<long long> counts;
    long long outside = 0;  // differences beyond [lo, hi], not drawn
};

// A page of a table, its lines down the page in a monospace font (the
// figure "headline"; the script's first line says `title`).
Figure table_figure(const std::string &title, const std::vector<std::string> &lines);
// The headline page: the headline figures, then the `more` lines (the class tables).
Figure headline_figure(const Headline &h, const std::string &result, const Summary &s,
                       const std::vector<std::string> &more = {});
// The NMAD and the mean difference of each class side by side, its count above.
Figure class_figure(const std::vector<ClassRow> &rows, bool slope, const std::string &unit);
// karvel's error histogram: counts[g] is the count of the bins g·width to
// (g + 1)·width − 1 (tenths of the unit), width 1 while there are few bins.
Figure error_histogram_figure(const std::vector<long long> &counts, const std::string &unit, bool logarithmic,
                              size_t width = 1);
Figure profiles_figure(const std::vector<LineRow> &rows, const std::string &unit);
Figure density_figure(const Density &d, const Headline &h);
// A map of the cells; its colours end at the 98th percentile of the cells'
// absolute values, so that the colour scale is that of what is drawn.
Figure map_figure(const std::string &name, const std::string &title, const MapCells &m, const std::string &unit);
Figure diff_histogram_figure(const DiffHistogram &d, const Headline &h);

// The script that draws every figure, one per page, into `pdf_name` (a path
// relative to the report folder).
std::string pdf_script(const std::vector<Figure> &figures, const std::string &pdf_name);

// The histogram of signed differences of the values, with bins chosen from
// the headline figures so that a few outliers do not squeeze the rest.
DiffHistogram diff_histogram(const double *d, size_t n, const Headline &h, int bins);

// The same histogram taken block by block.
class DiffBinner {
public:
    DiffBinner(const Headline &h, int bins);
    void add(const double *d, size_t n);
    const DiffHistogram &histogram() const { return hist_; }

private:
    DiffHistogram hist_;
    double scale_ = 1;
    std::vector<long long> extra_;  // a block's counts, those outside [lo, hi] last, in kBinWays copies
};

// Quotes text as a gnuplot string: taken as it stands, never expanded.
std::string gp_quote(const std::string &text);

#endif
