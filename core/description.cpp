#include "description.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "numfmt.h"
#include "paths.h"
#include "regular_file.h"

std::string size_problem(int lines, int cols) {
    if (lines < 1) return kfmt("it gives %d lines; a raster has at least 1", lines);
    if (cols < 1) return kfmt("it gives %d columns; a raster has at least 1", cols);
    long long positions = (long long)lines * cols;
    if (positions > kMaxPositions)
        return kfmt("%d lines by %d columns make %lld positions, more than the %lld a grid can address", lines, cols,
                    positions, kMaxPositions);
    return "";
}

namespace {

// Reads the six values; empty when all six were read. *end receives where
// the reading stopped.
std::string parse_six(const std::string &text, int values[6], size_t *end) {
    static const char *const kFields[6] = {"number of lines", "number of columns", "bytes per sample",
                                           "minimum value",   "maximum value",     "pixel size"};
    size_t pos = 0;
    for (int k = 0; k < 6; k++) {
        while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) pos++;
        *end = pos;
        if (pos >= text.size())
            return kfmt("it holds %d of the six numbers it needs (the %s is missing)", k, kFields[k]);
        bool out_of_range = false;
        if (!scan_int(text.data(), text.size(), &pos, &values[k], &out_of_range)) {
            size_t stop = pos;
            while (stop < text.size() && !std::isspace(static_cast<unsigned char>(text[stop])) && stop - pos < 40)
                stop++;
            *end = stop;
            return kfmt("where the %s should stand it holds \"%s\", which is not a number", kFields[k],
                        printable(text.substr(pos, stop - pos)).c_str());
        }
        *end = pos;
        if (out_of_range) return kfmt("its %s lies beyond the range of a 32-bit integer", kFields[k]);
    }
    return "";
}

}  // namespace

std::string parse_description(const std::string &text, int values[6], size_t *end) {
    size_t stop = 0;
    std::string problem = parse_six(text, values, &stop);
    if (end != nullptr) *end = stop;
    return problem.empty() ? size_problem(values[0], values[1]) : problem;
}

std::string read_description(const std::string &real_path, int values[6]) {
    // Opened without blocking, so that a FIFO or a device cannot hold the run.
    std::string bytes;
    const BoundedRead read = read_bounded(real_path, kDescriptionPrefix, bytes, true);
    if (read.problem == kNotRegularFile) return "it is not a regular file";
    if (!read.problem.empty()) return kfmt("it cannot be read (%s)", read.problem.c_str());
    const bool beyond = read.beyond;
    bool ended = false;
    const std::string text = text_from_bytes(bytes.data(), bytes.size(), &ended);
    size_t end = 0;
    const std::string problem = parse_six(text, values, &end);
    // A value that reaches the end of the prefix may go on beyond it.
    if (beyond && !ended && end >= text.size())
        return kfmt("its six numbers do not lie within its first %zu bytes", kDescriptionPrefix);
    return problem.empty() ? size_problem(values[0], values[1]) : problem;
}

std::string description_text(const int values[6]) {
    return kfmt("%d\n%d\n%d\n%d\n%d\n%d\n", values[0], values[1], values[2], values[3], values[4], values[5]);
}
