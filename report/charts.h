// The figures of the report: each one a gnuplot script and its data in the
// report folder, drawn by gnuplot as a separate process into a PNG, and all
// of them, after the headline table, into one PDF.
#ifndef KARVEL_REPORT_CHARTS_H
#define KARVEL_REPORT_CHARTS_H

#include <cstdint>
#include <string>
#include <vector>

#include "headline.h"
#include "summary.h"

// A figure: the script's name without ".gp", its script, the data files it
// reads (name and bytes), and the size of its PNG.
struct Figure {
    std::string name, script;
    std::vector<std::pair<std::string, std::string>> data;
    int width = 1000, height = 750;
};

// A map's picture: line-major cells (a reduced raster), the factor of the
// reduction, and the shaded relief beneath it (empty for none).
struct MapCells {
    int lines = 0, cols = 0, factor = 1;
    std::vector<float> values;
    std::vector<uint8_t> shade;
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

Figure headline_figure(const Headline &h, const std::string &result, const Summary &s);
Figure error_histogram_figure(const std::vector<long long> &counts, const std::string &unit, bool logarithmic);
Figure profiles_figure(const std::vector<LineRow> &rows);
Figure density_figure(const Density &d, const Headline &h);
Figure map_figure(const std::string &name, const std::string &title, const MapCells &m, double clip,
                  const std::string &unit);
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
    std::vector<long long> extra_;  // a block's counts, and those outside [lo, hi] last
};

// Quotes text as a gnuplot string: taken as it stands, never expanded.
std::string gp_quote(const std::string &text);

#endif
