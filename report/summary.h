// Reading a comparison's result files: the summary and the two tables that
// karvel wrote for one result name.
#ifndef KARVEL_REPORT_SUMMARY_H
#define KARVEL_REPORT_SUMMARY_H

#include <string>
#include <vector>

// A figure of the summary: its text as printed (six decimals, or +INF and
// the like) and its value.
struct Printed {
    std::string text;
    double value = 0.0;
};

struct Summary {
    std::string first_shown, second_shown;  // raster paths as karvel shows them
    int lines = 0, cols = 0;
    bool image = false;                     // 8-bit images, else elevation models
    int unit[2] = {0, 0};                   // unit answer of each DEM: 0 m, 1 dm, 2 cm, 3 mm
    int range_min[2] = {0, 0}, range_max[2] = {0, 0};
    Printed rms, sum_x, sum_y, sum_xy, sum_x2, b1, b0;
    // The positions karvel left out (no data in either raster), from the
    // line that says so where a raster declared a no-data value; -1 when
    // the summary has no such line.
    long long left_out = -1;
};

// Parses the text of a summary file (CR LF or LF line ends). Returns an
// empty string when every figure the report needs is there and the file is
// complete, else what is missing.
std::string parse_summary(const std::string &text, Summary &s);

// One row of the per-line table; figures that are not finite numbers read
// as not-a-number or infinities.
struct LineRow {
    int line = 0;
    double desv = 0.0, slope = 0.0, r = 0.0, r2 = 0.0;
};

// Parses the per-line table; expects one row per line, in order.
std::string parse_line_table(const std::string &text, int lines, std::vector<LineRow> &rows);

// Row i (from 0) of the histogram table, without its line end: "k\tcount"
// with k = i + 1, the count of bin k. False when it is not such a row.
bool histogram_row(const std::string &line, size_t i, long long &count);

#endif
