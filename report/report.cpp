#include "report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <csignal>
#include <cstring>
#include <memory>
#include <thread>

#include "charts.h"
#include "description.h"
#include "gnuplot.h"
#include "headline.h"
#include "kind.h"
#include "maps.h"
#include "numfmt.h"
#include "outfile.h"
#include "paths.h"
#include "raster.h"
#include "regular_file.h"
#include "rows.h"
#include "select.h"
#include "staged.h"
#include "summary.h"
#include "sums.h"

namespace {

// The figures, their scripts and data are drawn in a scratch folder beside
// RESULT_report/ and moved into it only once everything is written, so that
// a report that fails or is stopped never leaves new scripts beside earlier
// pictures. What lies in the scratch folder is recorded in fixed buffers, so
// that a signal can remove it without allocating.
constexpr size_t kScratchPath = 4096, kScratchNames = 48, kScratchName = 64;
char scratch_dir[kScratchPath];
char scratch_names[kScratchNames][kScratchName];
volatile sig_atomic_t scratch_count = 0;

void append(char *dst, size_t &len, const char *src) {
    while (*src != '\0' && len + 1 < kScratchPath) dst[len++] = *src++;
    dst[len] = '\0';
}

// Removes the scratch folder and what was recorded in it, once no gnuplot
// draws there any more. Async-signal-safe.
void remove_scratch() {
    gnuplot_stop_all();
    if (scratch_dir[0] == '\0') return;
    static char path[kScratchPath];
    for (sig_atomic_t k = 0; k < scratch_count; k++) {
        size_t len = 0;
        path[0] = '\0';
        append(path, len, scratch_dir);
        append(path, len, "/");
        append(path, len, scratch_names[k]);
        unlink(path);
    }
    rmdir(scratch_dir);
    scratch_dir[0] = '\0';
    scratch_count = 0;
}

// Records a name of the scratch folder before it is written there.
bool scratch_record(const std::string &name) {
    if (scratch_count >= sig_atomic_t(kScratchNames) || name.size() >= kScratchName) return false;
    std::memcpy(scratch_names[scratch_count], name.c_str(), name.size() + 1);
    scratch_count = scratch_count + 1;
    return true;
}

// The largest summary and per-line table read, and the largest histogram
// table (one row per tenth of the largest error).
constexpr size_t kSummaryLimit = size_t(1) << 20;
constexpr size_t kTableLimit = size_t(1) << 30;
// The pictures are reduced to at most this many cells a side (about the
// pixels a map has in its PNG: more would only cost drawing time).
constexpr int kPictureSide = 750;
constexpr int kDensityBins = 256;
constexpr int kDiffBins = 120;
constexpr int kGnuplotTimeout = 600;

void say(const std::string &text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

// The gnuplot batches under way: a refusal stops them before it removes
// the scratch folder they draw in.
GnuplotBatch *running[2] = {nullptr, nullptr};

int refuse(const std::string &message) {
    for (GnuplotBatch *b : running)
        if (b) b->stop();
    remove_scratch();
    std::fflush(stdout);
    std::fprintf(stderr, "karvel-report: %s\n", message.c_str());
    staged_discard_all();
    return kReportRefused;
}

// Reads a whole regular file of at most `limit` bytes, without blocking on
// anything else. Empty on success, else the problem.
std::string read_regular(const std::string &path, size_t limit, std::string &content) {
    struct stat st;
    std::string problem;
    const int fd = open_regular(path, &st, &problem);
    if (fd < 0) return problem == kNotRegularFile ? "it is not a regular file" : problem;
    content.clear();
    if (size_t(st.st_size) > limit)
        problem = "it is larger than any such file (" + std::to_string(st.st_size) + " bytes)";
    char buf[1 << 16];
    while (problem.empty()) {
        const ssize_t got = read_fully(fd, buf, sizeof buf);
        if (got < 0) problem = std::strerror(errno);
        if (got <= 0) break;
        content.append(buf, size_t(got));
        if (content.size() > limit) problem = "it grew while being read";
    }
    close(fd);
    return problem;
}

// Writes a file whole and gives it its name at once. Empty on success,
// else the problem.
std::string write_and_commit(const std::string &final_path, const std::string &bytes) {
    OutFile f;
    if (!write_staged(f, final_path, bytes)) return std::strerror(f.err);
    if (!staged_commit(f.staged)) return std::strerror(errno);
    return "";
}

std::string base_name(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string printed(double v) {
    std::string s;
    append_lf(s, v);
    return s;
}

// A thread that is waited for at the latest when it goes out of scope.
class Joined {
public:
    explicit Joined(std::thread t) : t_(std::move(t)) {}
    ~Joined() { join(); }
    void join() {
        if (t_.joinable()) t_.join();
    }

private:
    std::thread t_;
};

// One raster of the comparison, open and ready to be read.
struct Input {
    std::string shown, real;
    RasterFile file;
    RasterLines lines;
    int values[6] = {0, 0, 0, 0, 0, 0};  // its description
    ~Input() { raster_close(file); }
};

std::string open_input(Input &in, const ImagesDir &images, const std::string &shown, const Summary &s, int k) {
    const char *which = k == 0 ? "first" : "second";
    Kind kind = Kind::image8;
    if (!kind_of_name(shown, s.image, kind) || shown.compare(0, std::strlen(kShownRoot), kShownRoot) != 0)
        return std::string("the summary names the ") + which + " raster " + printable(shown) +
               ", which is not a raster karvel reads";
    in.shown = shown;
    in.real = images.real_path(shown);
    const std::string descr_shown = shown.substr(0, shown.size() - std::strlen(raster_suffix(kind))) +
                                    description_suffix(kind);
    std::string p = read_description(images.real_path(descr_shown), in.values);
    if (!p.empty()) return "the description file " + printable(descr_shown) + " cannot be used: " + p;
    if (in.values[0] != s.lines || in.values[1] != s.cols)
        return kfmt("the description file %s gives %d lines and %d columns, but the summary %d lines and %d columns: "
                    "the rasters no longer match the summary",
                    printable(descr_shown).c_str(), in.values[0], in.values[1], s.lines, s.cols);
    p = raster_open(in.file, in.real, shown);
    if (!p.empty()) return "the " + std::string(which) + " raster " + printable(shown) + " cannot be read: " + p;
    const double factor = s.image ? 1.0 : unit_factor(s.unit[k]);
    if (!in.lines.init(in.file, s.lines, s.cols, kind_bytes(kind), factor)) return "there is not memory enough to read the rasters";
    return "";
}

// Differences of about kRankSample positions spread over the rasters,
// read before the walk (lines read where they lie: a few hundred of them,
// every so many columns of each). Empty on success, else the problem.
std::string sample_differences(Input &a, Input &b, int lines, int cols, std::vector<double> &sample) {
    const size_t want = kRankSample;
    const size_t k_lines = std::min<size_t>(size_t(lines), std::max<size_t>(1024, (want + size_t(cols) - 1) / size_t(cols)));
    const size_t per_line = std::max<size_t>(1, want / k_lines);
    const size_t stride = std::max<size_t>(1, size_t(cols) / per_line);
    std::vector<double> x(static_cast<size_t>(cols)), y(static_cast<size_t>(cols));
    sample.clear();
    sample.reserve(k_lines * (size_t(cols) / stride + 1));
    for (size_t k = 0; k < k_lines; k++) {
        const int line = int((2 * k + 1) * size_t(lines) / (2 * k_lines));
        for (Input *in : {&a, &b}) {
            const int err = in->lines.read_line_at(line, in == &a ? x.data() : y.data());
            if (err != 0)
                return "the raster " + printable(in->shown) + " could not be read: " + std::strerror(err);
        }
        for (size_t j = stride / 2; j < size_t(cols); j += stride) sample.push_back(y[j] - x[j]);
    }
    return "";
}

}  // namespace

std::string report_usage() {
    return "Usage: karvel-report FOLDER RESULT\n"
           "\n"
           "Reports the comparison that karvel wrote as RESULT_karvel.txt (and its two\n"
           "tables) in FOLDER, a folder of the images directory (" + std::string(kShownRoot) + "FOLDER).\n"
           "It reads both rasters again, as karvel read them, and writes in FOLDER:\n"
           "  RESULT_report.json   the headline figures (also shown on the console)\n"
           "  RESULT_diff.tif      second - first, float32 GeoTIFF\n"
           "  RESULT_resid.tif     second - (B0 + B1 x first), float32 GeoTIFF\n"
           "  RESULT_report.pdf    the headline table and every figure, one per page\n"
           "  RESULT_report/       each figure as a PNG, with the gnuplot script and the\n"
           "                       data that drew it (redraw one with: gnuplot FILE.gp)\n"
           "\n"
           "Exit status: 0 when everything was written, 1 when refused or a file could\n"
           "not be written, 2 for a usage error.\n";
}

int report_main(const std::vector<std::string> &args, const std::string &images_root) {
    for (const auto &a : args)
        if (a == "--help" || a == "-h") {
            say(report_usage());
            return kReportDone;
        }
    std::vector<std::string> words;
    for (const auto &a : args) {
        if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "karvel-report: unknown option %s\n%s", printable(a).c_str(), report_usage().c_str());
            return kReportUsage;
        }
        words.push_back(a);
    }
    if (words.size() != 2) {
        std::fprintf(stderr, "karvel-report: expected a folder and a result name\n%s", report_usage().c_str());
        return kReportUsage;
    }
    const std::string &folder = words[0], &result = words[1];
    std::string p = answer_problem(folder, kMaxFolder);
    if (!p.empty()) {
        std::fprintf(stderr, "karvel-report: the folder %s is not one karvel takes: %s\n", printable(folder).c_str(),
                     p.c_str());
        return kReportUsage;
    }
    p = answer_problem(result, kMaxName);
    if (!p.empty()) {
        std::fprintf(stderr, "karvel-report: the result name %s is not one karvel takes: %s\n",
                     printable(result).c_str(), p.c_str());
        return kReportUsage;
    }
    std::string message;
    ImagesDir images;
    if (!resolve_images_dir(images_root, images, message)) return refuse(message);
    staged_catch_signals();
    const std::string gnuplot = find_gnuplot();
    if (gnuplot.empty())
        return refuse("gnuplot is not installed (Debian package gnuplot-nox); it draws every figure, so no report "
                      "was written");

    const std::string folder_shown = shown_folder(folder);
    std::string dir = images.real_path(folder_shown);
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    const std::string summary_shown = folder_shown + result + kSummarySuffix;
    std::string text;
    p = read_regular(images.real_path(summary_shown), kSummaryLimit, text);
    if (!p.empty()) return refuse("no summary " + printable(summary_shown) + " to report on: " + p);
    Summary s;
    p = parse_summary(text, s);
    if (!p.empty()) return refuse("the summary " + printable(summary_shown) + " cannot be reported on: " + p);

    const std::string lines_shown = folder_shown + result + kLineTableSuffix;
    std::vector<LineRow> rows;
    p = read_regular(images.real_path(lines_shown), kTableLimit, text);
    if (p.empty()) p = parse_line_table(text, s.lines, rows);
    if (!p.empty()) return refuse("the per-line table " + printable(lines_shown) + " cannot be used: " + p);
    const std::string hist_shown = folder_shown + result + kHistogramSuffix;
    std::vector<long long> hist;
    p = read_regular(images.real_path(hist_shown), kTableLimit, text);
    if (p.empty()) p = parse_histogram_table(text, hist);
    if (!p.empty()) return refuse("the histogram table " + printable(hist_shown) + " cannot be used: " + p);
    text.clear();
    text.shrink_to_fit();

    Input in[2];
    for (int k = 0; k < 2; k++) {
        p = open_input(in[k], images, k == 0 ? s.first_shown : s.second_shown, s, k);
        if (!p.empty()) return refuse(p);
    }
    std::string geo_note;
    Georef geo = georef_of(in[0].real, in[0].shown, s.lines, s.cols, geo_note);

    // The GeoTIFFs are written during the one pass over the rasters.
    const std::string out_base = dir + "/" + result;
    StagedFile diff_file, resid_file;
    GeoTiffOut diff_tif, resid_tif;
    if (!staged_begin(diff_file, out_base + "_diff.tif") || !staged_begin(resid_file, out_base + "_resid.tif"))
        return refuse("cannot create a file in " + printable(folder_shown) + ": " + std::strerror(errno));
    p = diff_tif.create(diff_file.temp_path, s.lines, s.cols, geo);
    if (p.empty()) p = resid_tif.create(resid_file.temp_path, s.lines, s.cols, geo);
    if (!p.empty()) return refuse("cannot write a GeoTIFF in " + printable(folder_shown) + ": " + p);

    // The figures are drawn in a scratch folder, each on its own from its
    // script and data; those that need nothing of the rasters are drawn
    // while they are read.
    const std::string final_dir = out_base + "_report";
    struct stat st;
    if (stat(final_dir.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
        return refuse(printable(final_dir) + " is not a folder");
    const std::string report_dir = dir + "/." + result + "_report." + std::to_string(getpid()) + ".tmp";
    if (report_dir.size() >= kScratchPath) return refuse("the path " + printable(report_dir) + " is too long");
    staged_add_signal_hook(remove_scratch);
    if (mkdir(report_dir.c_str(), 0777) != 0)
        return refuse("cannot create the folder " + printable(report_dir) + ": " + std::strerror(errno));
    std::memcpy(scratch_dir, report_dir.c_str(), report_dir.size() + 1);
    // Writes one file of the scratch folder; empty on success.
    auto scratch_write = [&](const std::string &name, const std::string &bytes) -> std::string {
        if (!scratch_record(name)) return "too many files";
        return write_and_commit(report_dir + "/" + name, bytes);
    };

    // Bin 0 is held back from the table: it is what the rows leave of n.
    const long long n = (long long)s.lines * s.cols;
    hist[0] = n;
    for (size_t k = 1; k < hist.size(); k++) {
        if (hist[k] > hist[0])
            return refuse("the histogram table " + printable(hist_shown) + " counts more positions than the " +
                          std::to_string(n) + " of the rasters");
        hist[0] -= hist[k];
    }
    std::vector<std::string> data_written;
    // Writes a figure's data (once for data that figures share: the
    // relief) and its script into the scratch folder; empty on success.
    auto write_figure = [&](const Figure &f) -> std::string {
        for (const auto &d : f.data) {
            if (std::find(data_written.begin(), data_written.end(), d.first) != data_written.end()) continue;
            data_written.push_back(d.first);
            const std::string q = scratch_write(d.first, d.second);
            if (!q.empty()) return "cannot write " + printable(report_dir + "/" + d.first) + ": " + q;
        }
        const std::string q = scratch_write(f.name + ".gp", f.script);
        return q.empty() ? q : "cannot write " + printable(report_dir + "/" + f.name + ".gp") + ": " + q;
    };
    // The PNGs of several figures drawn by one gnuplot, one after the other
    // (each script sets its terminal and resets the rest): starting a
    // gnuplot costs more than drawing a small figure.
    auto png_job = [&](const Figure &f, GnuplotJob &job) {
        if (!scratch_record(f.name + ".png")) return false;
        if (!job.script.empty()) job.setting += "; load " + gp_quote(job.script) + "; ";
        job.setting += "out=" + gp_quote(f.name + ".png");
        job.script = f.name + ".gp";
        return true;
    };
    const std::string unit = s.image ? "grey level" : "m";
    const Figure early[] = {error_histogram_figure(hist, unit, false), error_histogram_figure(hist, unit, true),
                            profiles_figure(rows, unit)};
    GnuplotBatch early_batch, late_batch;
    running[0] = &early_batch;
    running[1] = &late_batch;
    {
        GnuplotJob job;
        for (const Figure &f : early) {
            p = write_figure(f);
            if (!p.empty()) return refuse(p);
            if (!png_job(f, job)) return refuse("too many figures");
        }
        early_batch.start(gnuplot, report_dir, {job});
    }

    // A small comparison keeps its differences; a large one keeps none, its
    // medians and percentiles sought during the one walk below, guided by a
    // sample of differences read before it. The histogram of the signed
    // differences is then binned during the same walk, over a range the
    // sample gives.
    DiffStats stats;
    std::unique_ptr<DiffBinner> binner;
    if (size_t(n) >= 4 * kRankSample || !stats.reserve(size_t(n))) {
        std::vector<double> sample;
        p = sample_differences(in[0], in[1], s.lines, s.cols, sample);
        if (!p.empty()) return refuse(p);
        if (!sample.empty()) {
            Headline guess;
            guess.min_diff = *std::min_element(sample.begin(), sample.end());
            guess.max_diff = *std::max_element(sample.begin(), sample.end());
            guess.clip = select_ranks(sample.data(), sample.size(), Seen::magnitude, 0.0,
                                      {nearest_rank(98, sample.size())})[0];
            if (!std::isnan(guess.clip)) binner = std::make_unique<DiffBinner>(guess, kDiffBins);
        }
        stats.rank_during_walk(size_t(n), std::move(sample));
    }
    const double b0 = s.b0.value, b1 = s.b1.value;
    BlockMeans first_cells(s.lines, s.cols, kPictureSide), diff_cells(s.lines, s.cols, kPictureSide),
        resid_cells(s.lines, s.cols, kPictureSide);
    // The density's axes span both rasters' value ranges as the summary gives them.
    Density density;
    density.bins = kDensityBins;
    {
        const double f0 = s.image ? 1.0 : unit_factor(s.unit[0]), f1 = s.image ? 1.0 : unit_factor(s.unit[1]);
        density.lo = std::min(s.range_min[0] * f0, s.range_min[1] * f1);
        density.hi = std::max(s.range_max[0] * f0, s.range_max[1] * f1);
        if (!(density.lo < density.hi)) density.lo -= 0.5, density.hi += 0.5;
        density.counts.assign(size_t(kDensityBins) * kDensityBins, 0.0);
    }
    const double density_scale = kDensityBins / (density.hi - density.lo);
    // Counted per line in 32 bits, and added to the figure's counts before
    // any could overflow.
    std::vector<uint32_t> density_counts(size_t(kDensityBins) * kDensityBins);
    uint64_t counted = 0;  // positions in density_counts
    std::vector<int32_t> density_index(size_t(s.cols));

    RasterSums sums;
    std::vector<float> diff_row(size_t(s.cols)), resid_row(size_t(s.cols));
    std::vector<double> d_row(size_t(s.cols)), e_row(size_t(s.cols));
    const bool progress = isatty(2);
    in[0].lines.rewind();
    in[1].lines.rewind();
    bool written = true;
    for (int i = 0; i < s.lines; i++) {
        if (progress && i % 1000 == 0) std::fprintf(stderr, "\r\tReading line %d of %d ", i, s.lines);
        const double *x = in[0].lines.next_line();
        const double *y = in[1].lines.next_line();
        sums_walk(x, y, s.cols, sums);
        stats.add_line(x, y, s.cols);
        // The floats go straight into the GeoTIFFs' strips.
        float *diff_f = diff_tif.next_line(), *resid_f = resid_tif.next_line();
        line_rows(x, y, s.cols, b0, b1, d_row.data(), e_row.data(), diff_f ? diff_f : diff_row.data(),
                  resid_f ? resid_f : resid_row.data());
        density_line(x, y, s.cols, density.lo, density_scale, kDensityBins, density_index.data(),
                     density_counts.data());
        // The counts go over to the figure's before the next line could
        // take a bin past 2^32 − 1.
        counted += uint64_t(s.cols);
        if (counted + uint64_t(s.cols) > UINT32_MAX || i + 1 == s.lines) {
            for (size_t k = 0; k < density_counts.size(); k++) density.counts[k] += double(density_counts[k]);
            std::fill(density_counts.begin(), density_counts.end(), 0u);
            counted = 0;
        }
        if (binner) binner->add(d_row.data(), size_t(s.cols));
        written = diff_f && resid_f && diff_tif.line_filled() && resid_tif.line_filled() && written;
        if (!s.image) first_cells.add_line(i, x);
        diff_cells.add_line(i, d_row.data());
        resid_cells.add_line(i, e_row.data());
    }
    if (progress) std::fprintf(stderr, "\r\tRead %d lines                    \n", s.lines);
    for (int k = 0; k < 2; k++) {
        p = raster_changed(in[k].file);
        if (!p.empty()) return refuse(p + ": it changed while the report read it");
    }

    // The rasters must still be those of the run: karvel's figures again.
    const double rms = rms_error(sums.dif_carre_tot, n);
    struct Check {
        const char *label;
        const Printed &was;
        double now;
    };
    // B0 and B1 from the sums, as karvel's regression forms them: an edited
    // line in the summary shows too.
    const LineFit fit = fit_line(double(n), sums);
    const Check checks[] = {{"RMS_Error", s.rms, rms},         {"Sum_X", s.sum_x, sums.Suma_X},
                            {"Sum_Y", s.sum_y, sums.Suma_Y},   {"Sum_XY", s.sum_xy, sums.Suma_XY},
                            {"Sum_X2", s.sum_x2, sums.Suma_X2}, {"B1", s.b1, fit.B1},
                            {"B0", s.b0, fit.B0}};
    std::string differ;
    for (const auto &c : checks)
        if (printed(c.now) != c.was.text)
            differ += kfmt("%s%s %s in the summary, %s from the rasters now", differ.empty() ? "" : "; ", c.label,
                           c.was.text.c_str(), printed(c.now).c_str());
    if (!differ.empty())
        return refuse("the rasters and the summary " + printable(summary_shown) +
                      " no longer agree (one or the other changed since the run): " + differ);

    // GDAL finishes compressing the GeoTIFFs while the figures are made.
    std::string tif_problem;
    Joined closer(std::thread([&] {
        tif_problem = diff_tif.close();
        if (tif_problem.empty()) tif_problem = resid_tif.close();
    }));

    // Ranks the walk left unsettled are found by reading both rasters
    // again, as the pass above did.
    auto diffs = [&](const ValueBlock &take) {
        in[0].lines.rewind();
        in[1].lines.rewind();
        for (int i = 0; i < s.lines; i++) {
            const double *x = in[0].lines.next_line();
            const double *y = in[1].lines.next_line();
            for (int j = 0; j < s.cols; j++) d_row[size_t(j)] = y[j] - x[j];
            take(d_row.data(), size_t(s.cols));
        }
    };
    Headline h = stats.finish(b0, b1, rms, s.image ? "grey level" : "m", diffs);
    DiffHistogram diff_hist;
    if (binner) diff_hist = binner->histogram();
    else if (stats.diffs()) diff_hist = diff_histogram(stats.diffs(), stats.count(), h, kDiffBins);
    else {  // no sample to range the bins by: one more walk
        DiffBinner late(h, kDiffBins);
        diffs([&](const double *d, size_t len) { late.add(d, len); });
        diff_hist = late.histogram();
    }
    for (int k = 0; k < 2; k++) {
        p = raster_changed(in[k].file);
        if (!p.empty()) return refuse(p + ": it changed while the report read it");
    }
    std::string console = "\n\tkarvel-report of " + summary_shown + "\n\n";
    for (const auto &l : headline_lines(h)) console += "\t" + l + "\n";
    console += "\n\tRecomputed from the rasters: the RMS error, the sums and B0 and B1 agree with the summary.\n";
    if (!geo_note.empty()) console += "\t" + geo_note + "\n";
    say(console);

    std::vector<Figure> figures;
    figures.push_back(headline_figure(h, result, s));
    for (const Figure &f : early) figures.push_back(f);
    figures.push_back(density_figure(density, h));
    p = map_figures(geo, double(in[0].values[5]), s.image ? nullptr : &first_cells, diff_cells, resid_cells, h.unit,
                    figures);
    if (!p.empty()) return refuse("GDAL could not shade the relief of the first DEM: " + p);
    figures.push_back(diff_histogram_figure(diff_hist, h));

    auto drawn_early = [&](const Figure &f) {
        return std::any_of(std::begin(early), std::end(early), [&](const Figure &e) { return e.name == f.name; });
    };
    for (const auto &f : figures) {
        if (drawn_early(f)) continue;
        p = write_figure(f);
        if (!p.empty()) return refuse(p);
    }
    const std::string pdf_name = result + "_report.pdf";
    p = scratch_write("report_pdf.gp", pdf_script(figures, "../" + pdf_name));
    if (!p.empty()) return refuse("cannot write " + printable(report_dir + "/report_pdf.gp") + ": " + p);

    // The PDF and the other PNGs, by two gnuplots at once, beside the
    // figures drawn already.
    StagedFile pdf;
    OutFile json;
    if (!staged_begin(pdf, out_base + "_report.pdf"))
        return refuse("cannot write " + printable(pdf.final_path) + ": " + std::strerror(errno));
    std::vector<GnuplotJob> jobs(2);
    jobs[0] = {"out=" + gp_quote("../" + base_name(pdf.temp_path)), "report_pdf.gp", ""};
    for (const auto &f : figures)
        if (!drawn_early(f) && !png_job(f, jobs[1])) return refuse("too many figures");
    late_batch.start(gnuplot, report_dir, std::move(jobs));
    jobs = late_batch.wait(kGnuplotTimeout);
    for (auto &j : early_batch.wait(kGnuplotTimeout)) jobs.push_back(std::move(j));
    for (const auto &j : jobs)
        if (!j.problem.empty()) return refuse(j.problem);
    closer.join();
    if (!tif_problem.empty() || !written) return refuse("a GeoTIFF could not be written: " + tif_problem);
    if (!write_staged(json, out_base + "_report.json", headline_json(h)))
        return refuse("cannot write " + printable(json.staged.final_path) + ": " + std::strerror(json.err));

    // RESULT_report/ first: a folder that cannot be made refuses the report
    // before anything is replaced.
    if (mkdir(final_dir.c_str(), 0777) != 0 && errno != EEXIST)
        return refuse("cannot create the folder " + printable(final_dir) + ": " + std::strerror(errno));
    // The four files are renamed together and the figures moved into
    // RESULT_report/ with every signal held, so that a signal finds either
    // the earlier report or the new one, whole; any other file a user keeps
    // in RESULT_report/ stays.
    sigset_t held, old;
    sigfillset(&held);
    sigprocmask(SIG_BLOCK, &held, &old);
    StagedFile *const all[] = {&json.staged, &diff_file, &resid_file, &pdf};
    size_t failed = 0;
    std::string moved;
    if (!staged_commit_together(all, 4, &failed))
        moved = "cannot write " + printable(all[failed]->final_path) + ": " + std::strerror(errno);
    for (sig_atomic_t k = 0; k < scratch_count && moved.empty(); k++) {
        const std::string name = scratch_names[k];
        if (rename((report_dir + "/" + name).c_str(), (final_dir + "/" + name).c_str()) != 0)
            moved = "cannot move " + printable(final_dir + "/" + name) + " into place: " + std::strerror(errno);
    }
    if (moved.empty()) remove_scratch();
    sigprocmask(SIG_SETMASK, &old, nullptr);
    if (!moved.empty()) return refuse(moved);

    const std::string shown_base = folder_shown + result;
    say("\n\tWritten: " + shown_base + "_report.json, " + shown_base + "_diff.tif, " + shown_base +
        "_resid.tif\n\tThe report: " + shown_base + "_report.pdf (" + std::to_string(figures.size()) +
        " pages)\n\tEach figure as a PNG, with its gnuplot script and data: " + shown_base + "_report\\\n");
    return kReportDone;
}
