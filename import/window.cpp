#include "window.h"

WindowSearch::WindowSearch(int cols, int min_lines, int min_cols)
    : height_(size_t(cols), 0), min_lines_(min_lines), min_cols_(min_cols) {
    stack_.reserve(size_t(cols) + 1);
}

Window WindowSearch::best() const {
    if (holes_) return best_;
    const int cols = int(height_.size());
    if (line_ < min_lines_ || cols < min_cols_) return Window{};
    return Window{0, 0, line_, cols};
}

void WindowSearch::add_line(const uint8_t *has_data) {
    const int cols = int(height_.size());
    // Until a cell lacks data the whole grid so far is the window: the
    // heights are all the line count, taken up at the first hole.
    if (!holes_) {
        unsigned full = 1;
        for (int j = 0; j < cols; j++) full &= has_data[j] != 0;
        if (full) {
            line_++;
            return;
        }
        best_ = best();
        for (int &h : height_) h = line_;
        holes_ = true;
    }
    for (int j = 0; j < cols; j++) height_[size_t(j)] = has_data[j] ? height_[size_t(j)] + 1 : 0;
    // The largest rectangle under the histogram of heights: each column is
    // popped once, when a lower column (or the end) bounds it on the right;
    // the column below it on the stack bounds it on the left. Every maximal
    // window ending at this line is met this way.
    stack_.clear();
    for (int j = 0; j <= cols; j++) {
        const int h = j < cols ? height_[size_t(j)] : 0;
        while (!stack_.empty() && height_[size_t(stack_.back())] >= h) {
            const int top = height_[size_t(stack_.back())];
            stack_.pop_back();
            const int left = stack_.empty() ? 0 : stack_.back() + 1;
            const int width = j - left;
            if (top >= min_lines_ && width >= min_cols_ && (long long)top * width > best_.cells()) {
                best_.line = line_ - top + 1;
                best_.col = left;
                best_.lines = top;
                best_.cols = width;
            }
        }
        stack_.push_back(j);
    }
    line_++;
}
