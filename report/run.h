// The files of one karvel run that the report reads: the summary, the
// per-line table and the histogram table, and the co-registration that
// karvel-import wrote beside them when it co-registered the pair.
#ifndef KARVEL_REPORT_RUN_H
#define KARVEL_REPORT_RUN_H

#include <string>
#include <vector>

#include "coreg.h"
#include "histogram_table.h"
#include "paths.h"
#include "summary.h"

struct Run {
    // The files as karvel shows them.
    std::string summary_shown, lines_shown, hist_shown;
    Summary s;
    long long n = 0;  // positions compared: all of them, or those the summary did not leave out
    std::vector<LineRow> rows;
    // The histogram table's counts (histogram_table.h); bin 0, held back
    // from the table, is what the other bins leave of n.
    HistogramTable hist;
    bool histogram_left_empty = false;  // the summary says karvel left the histogram table empty
    CoregFigures coreg;                 // known when karvel-import co-registered the pair
};

// The largest summary read, and the largest file beside it (R_coreg.json).
constexpr size_t kSummaryLimit = size_t(1) << 20;

// Reads a whole regular file of at most `limit` bytes, without blocking on
// anything else. Empty on success, else the problem.
std::string read_regular(const std::string &path, size_t limit, std::string &content);

// Reads the files of result `result` in the folder `folder_shown` (as
// karvel shows it), once no manifest of the import says that its files of
// the result are a torn set (the caller holds the folder's SetReadLock).
// Empty on success, else what refuses the report.
std::string load_run(const ImagesDir &images, const std::string &folder_shown, const std::string &result, Run &run);

#endif
