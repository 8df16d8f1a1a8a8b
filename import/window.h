// The largest window (rectangle of whole lines and columns) in which every
// cell has data, found line by line while the rasters are read: it keeps,
// for each column, how many lines up from the current one have data.
#ifndef KARVEL_IMPORT_WINDOW_H
#define KARVEL_IMPORT_WINDOW_H

#include <cstddef>
#include <cstdint>
#include <vector>

struct Window {
    int line = 0, col = 0;    // offset of its first cell
    int lines = 0, cols = 0;  // its size; 0 when there is none
    long long cells() const { return (long long)lines * cols; }
};

class WindowSearch {
public:
    // Only windows of at least min_lines × min_cols count.
    WindowSearch(int cols, int min_lines, int min_cols);
    // Takes the next line: has_data[j] is non-zero when column j has data.
    void add_line(const uint8_t *has_data);
    // The largest window so far (the first found among equal ones).
    Window best() const;

private:
    bool holes_ = false;       // a cell without data was met
    std::vector<int> height_;  // lines with data ending at the current line, per column
    std::vector<int> stack_;   // columns of increasing height
    int min_lines_, min_cols_, line_ = 0;
    Window best_;
};

#endif
