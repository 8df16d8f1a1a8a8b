#include "run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "regular_file.h"
#include "result_set.h"

namespace {

// The largest per-line table read, and the largest histogram table (one
// row per tenth of the largest error).
constexpr size_t kTableLimit = size_t(1) << 30;

}  // namespace

std::string read_regular(const std::string &path, size_t limit, std::string &content) {
    const BoundedRead r = read_bounded(path, limit, content, false);
    if (r.problem == kNotRegularFile) return "it is not a regular file";
    if (!r.problem.empty()) return r.problem;
    if (r.beyond && r.size > (long long)limit)
        return "it is larger than any such file (" + std::to_string(r.size) + " bytes)";
    if (r.beyond) return "it grew while being read";
    return "";
}

namespace {

// The two tables; bin 0 of the histogram is what its rows leave of n.
std::string load_tables(const ImagesDir &images, Run &run) {
    std::string text;
    std::string p = read_regular(images.real_path(run.lines_shown), kTableLimit, text);
    if (p.empty()) p = parse_line_table(text, run.s.lines, run.rows);
    if (!p.empty()) return "the per-line table " + printable(run.lines_shown) + " cannot be used: " + p;
    p = read_histogram_table(images.real_path(run.hist_shown), kTableLimit, run.hist);
    if (!p.empty()) return "the histogram table " + printable(run.hist_shown) + " cannot be used: " + p;
    // Bin 0 is held back from the table: it is what the rows leave of n.
    if (!run.hist.put_bin_zero(run.n))
        return "the histogram table " + printable(run.hist_shown) + " counts more positions than the " +
               std::to_string(run.n) + " of the rasters";
    return "";
}

// The real path of the folder, without a final slash.
std::string real_folder(const ImagesDir &images, const std::string &folder_shown) {
    std::string dir = images.real_path(folder_shown);
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

}  // namespace

std::string load_run(const ImagesDir &images, const std::string &folder_shown, const std::string &result, Run &run) {
    run.summary_shown = folder_shown + result + kSummarySuffix;
    run.lines_shown = folder_shown + result + kLineTableSuffix;
    run.hist_shown = folder_shown + result + kHistogramSuffix;
    // The import's files of the result, unless they are a torn set.
    std::string p = check_result_set(real_folder(images, folder_shown), folder_shown, import_manifest_name(result));
    if (!p.empty()) return p;
    std::string text;
    p = read_regular(images.real_path(run.summary_shown), kSummaryLimit, text);
    if (!p.empty()) return "no summary " + printable(run.summary_shown) + " to report on: " + p;
    p = parse_summary(text, run.s);
    if (!p.empty()) return "the summary " + printable(run.summary_shown) + " cannot be reported on: " + p;
    run.histogram_left_empty = text.find("the histogram table stays empty") != std::string::npos;
    run.n = (long long)run.s.lines * run.s.cols - std::max(0LL, run.s.left_out);

    // The shift karvel-import found and removed, when it co-registered the pair.
    const std::string coreg_shown = folder_shown + result + kCoregSuffix;
    const std::string coreg_real = images.real_path(coreg_shown);
    struct stat cst;
    if (lstat(coreg_real.c_str(), &cst) == 0) {
        p = read_regular(coreg_real, kSummaryLimit, text);
        if (p.empty()) p = parse_coreg(text, run.coreg);
        if (!p.empty()) return "the co-registration " + printable(coreg_shown) + " cannot be used: " + p;
    }
    return load_tables(images, run);
}
