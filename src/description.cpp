#include "description.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "console.h"
#include "dialogue.h"
#include "numfmt.h"
#include "paths.h"
#include "run.h"
#include "state.h"

std::string size_problem(int lines, int cols) {
    if (lines < 1) return kfmt("it gives %d lines; a raster has at least 1", lines);
    if (cols < 1) return kfmt("it gives %d columns; a raster has at least 1", cols);
    long long positions = (long long)lines * cols;
    if (positions > kMaxPositions)
        return kfmt("%d lines by %d columns make %lld positions, more than the %lld a grid can address", lines, cols,
                    positions, kMaxPositions);
    return "";
}

std::string parse_description(const std::string &text, int values[6]) {
    static const char *const kFields[6] = {"number of lines", "number of columns", "bytes per sample",
                                           "minimum value", "maximum value", "pixel size"};
    size_t pos = 0;
    for (int k = 0; k < 6; k++) {
        while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) pos++;
        if (pos >= text.size())
            return kfmt("it holds %d of the six numbers it needs (the %s is missing)", k, kFields[k]);
        bool out_of_range = false;
        if (!scan_int(text.data(), text.size(), &pos, &values[k], &out_of_range)) {
            size_t end = pos;
            while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])) && end - pos < 40) end++;
            return kfmt("where the %s should stand it holds \"%s\", which is not a number", kFields[k],
                        text.substr(pos, end - pos).c_str());
        }
        if (out_of_range) return kfmt("its %s lies beyond the range of a 32-bit integer", kFields[k]);
    }
    return size_problem(values[0], values[1]);
}

namespace {

[[noreturn]] void refuse(const std::string &shown_path, const std::string &problem) {
    stop_run(kfmt("\n\n\tThe description file %s cannot be used: %s\n", shown_path.c_str(), problem.c_str()));
}

}  // namespace

void obtain_description(const std::string &shown_path, TextFile &handle, int &lines, int &cols, int sample_bytes) {
    std::string real = real_path(shown_path);
    struct stat st;
    if (stat(real.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) refuse(shown_path, "it is not a regular file");
        std::string text;
        int err = 0;
        if (!text_read(real, text, &err)) refuse(shown_path, kfmt("it cannot be read (%s)", std::strerror(err)));
        int values[6] = {0, 0, 0, 0, 0, 0};
        std::string problem = parse_description(text, values);
        if (!problem.empty()) refuse(shown_path, problem);
        lines = values[0];
        cols = values[1];
        taille_pix = values[5];
        return;
    }

    out(kfmt("\n\n\tNo File %s \n\n", shown_path.c_str()));
    ask_choice("\n\t\tNumber of lines   ? ", lines, 1, 2147483647);
    ask_choice("\n\t\tNumber of columns ? ", cols, 1, 2147483647);
    ask_choice("\n\t\tPixel size ? ", taille_pix, -2147483647 - 1, 2147483647);
    std::string problem = size_problem(lines, cols);
    if (!problem.empty()) refuse(shown_path, problem);

    const int min_al = 0, max_al = 65500;
    bool written = text_create(handle, real, shown_path);
    if (written) {
        text_write(handle, kfmt("%d\n%d\n%d\n%d\n%d\n%d\n", lines, cols, sample_bytes, min_al, max_al, taille_pix));
        written = text_close(handle);
    }
    if (!written) {
        // A description cut short would be read by the next run: leave none.
        std::remove(real.c_str());
        stop_run(kfmt("\n\n\tThe description file %s cannot be written: %s\n", shown_path.c_str(),
                      std::strerror(handle.err)));
    }
}
