#include "report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <csignal>
#include <cstring>
#include <memory>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "behind.h"
#include "charts.h"
#include "classes.h"
#include "description.h"
#include "envi_header.h"
#include "gnuplot.h"
#include "headline.h"
#include "kind.h"
#include "maps.h"
#include "nodata.h"
#include "numfmt.h"
#include "options.h"
#include "outfile.h"
#include "paths.h"
#include "progress.h"
#include "position_error.h"
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
    Joined() = default;
    Joined(const Joined &) = delete;
    Joined &operator=(const Joined &) = delete;
    ~Joined() { join(); }
    void start(std::thread t) { t_ = std::move(t); }
    void join() {
        if (t_.joinable()) t_.join();
    }

private:
    std::thread t_;
};

// One raster of the comparison, open and ready to be read.
struct Input {
    std::string shown, real;
    std::string short_note;  // what karvel warns of a file shorter or longer than its description says
    RasterFile file;
    RasterLines lines;
    int values[6] = {0, 0, 0, 0, 0, 0};  // its description
    Kind kind = Kind::image8;
    NoData nodata;  // the value its header declares, if any
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
    // The header beside it, read as karvel reads it, for its no-data value.
    in.kind = kind;
    const std::string header_shown = header_name(shown);
    switch (read_header_nodata(images.real_path(header_shown), s.lines, s.cols, kind, in.nodata, p)) {
        case HeaderUse::fine: break;
        case HeaderUse::disagrees:
            return "the header " + printable(header_shown) + " does not agree with the description file " +
                   printable(descr_shown) + ": " + p;
        case HeaderUse::unusable: return "the header " + printable(header_shown) + " cannot be used: " + p;
    }
    p = raster_open(in.file, in.real, shown);
    if (!p.empty()) return "the " + std::string(which) + " raster " + printable(shown) + " cannot be read: " + p;
    const double factor = s.image ? 1.0 : unit_factor(s.unit[k]);
    if (!in.lines.init(in.file, s.lines, s.cols, kind_bytes(kind), factor)) return "there is not memory enough to read the rasters";
    in.short_note = length_mismatch(in.file, in.lines, s.lines);
    return "";
}

// The lines of both rasters as karvel takes them. Where either declares a
// no-data value, the positions where either holds it are marked (keep()),
// and compact() then leaves the kept values alone, in column order, at the
// fronts of x() and y(). Where neither does, the lines are those of the
// readers, unmarked, and nothing is moved.
class BothLines {
public:
    void init(Input &a, Input &b, int cols) {
        a_ = &a, b_ = &b;
        cols_ = size_t(cols);
        masked_ = a.nodata.declared || b.nodata.declared;
        x_.resize(cols_);
        y_.resize(cols_);
        if (masked_) keep_.resize(cols_);
        if (a.nodata.declared) first_keep_.resize(cols_);
    }
    bool masked() const { return masked_; }
    void rewind() {
        a_->lines.rewind();
        b_->lines.rewind();
    }
    // The next line of both, every column.
    void next() {
        if (!masked_) {
            x_at_ = a_->lines.next_line();
            y_at_ = b_->lines.next_line();
            return;
        }
        convert(a_->lines.next_samples(), b_->lines.next_samples());
    }
    // Line `line` of both, read where it lies without moving the pass.
    // Empty on success, else the problem.
    std::string read_at(int line) {
        std::vector<unsigned char> s[2];
        Input *in[2] = {a_, b_};
        for (int k = 0; k < 2; k++) {
            s[k].resize(cols_ * size_t(in[k]->lines.sample_bytes()));
            const int err = in[k]->lines.read_samples_at(line, s[k].data());
            if (err != 0) return "the raster " + printable(in[k]->shown) + " could not be read: " + std::strerror(err);
        }
        convert(s[0].data(), s[1].data());
        return "";
    }
    const double *x() const { return x_at_; }
    const double *y() const { return y_at_; }
    const unsigned char *keep() const { return masked_ ? keep_.data() : nullptr; }
    // Where the first raster alone has data (null: everywhere).
    const unsigned char *first_keep() const { return first_keep_.empty() ? nullptr : first_keep_.data(); }
    // Moves the kept positions to the fronts of x() and y(); how many.
    int compact() {
        if (!masked_) return int(cols_);
        return int(compact_kept(x_.data(), y_.data(), keep_.data(), cols_));
    }

private:
    void convert(const unsigned char *s1, const unsigned char *s2) {
        if (masked_) mark_kept(s1, a_->kind, a_->nodata, s2, b_->kind, b_->nodata, cols_, keep_.data());
        if (!first_keep_.empty()) mark_kept(s1, a_->kind, a_->nodata, s1, a_->kind, NoData(), cols_, first_keep_.data());
        convert_samples(s1, a_->lines.sample_bytes(), cols_, a_->lines.factor(), x_.data());
        convert_samples(s2, b_->lines.sample_bytes(), cols_, b_->lines.factor(), y_.data());
        x_at_ = x_.data();
        y_at_ = y_.data();
    }
    Input *a_ = nullptr, *b_ = nullptr;
    size_t cols_ = 0;
    bool masked_ = false;
    std::vector<double> x_, y_;
    std::vector<unsigned char> keep_, first_keep_;
    const double *x_at_ = nullptr, *y_at_ = nullptr;
};

// Differences of about kRankSample positions spread over the rasters,
// read before the walk (lines read where they lie: a few hundred of them,
// every so many columns of each, those left out skipped). Empty on
// success, else the problem.
std::string sample_differences(BothLines &pairs, int lines, int cols, std::vector<double> &sample) {
    const size_t want = kRankSample;
    const size_t k_lines = std::min<size_t>(size_t(lines), std::max<size_t>(1024, (want + size_t(cols) - 1) / size_t(cols)));
    const size_t per_line = std::max<size_t>(1, want / k_lines);
    const size_t stride = std::max<size_t>(1, size_t(cols) / per_line);
    sample.clear();
    sample.reserve(k_lines * (size_t(cols) / stride + 1));
    for (size_t k = 0; k < k_lines; k++) {
        const int line = int((2 * k + 1) * size_t(lines) / (2 * k_lines));
        const std::string p = pairs.read_at(line);
        if (!p.empty()) return p;
        const double *x = pairs.x(), *y = pairs.y();
        const unsigned char *keep = pairs.keep();
        for (size_t j = stride / 2; j < size_t(cols); j += stride)
            if (!keep || keep[j]) sample.push_back(y[j] - x[j]);
    }
    return "";
}

// The density's axes: both rasters' value ranges as the summary gives them.
Density density_axes(const Summary &s) {
    Density density;
    density.bins = kDensityBins;
    const double f0 = s.image ? 1.0 : unit_factor(s.unit[0]), f1 = s.image ? 1.0 : unit_factor(s.unit[1]);
    density.lo = std::min(s.range_min[0] * f0, s.range_min[1] * f1);
    density.hi = std::max(s.range_max[0] * f0, s.range_max[1] * f1);
    if (!(density.lo < density.hi)) density.lo -= 0.5, density.hi += 0.5;
    density.counts.assign(size_t(kDensityBins) * kDensityBins, 0.0);
    return density;
}

// Karvel's histogram of the errors against a fitted line, counted line by
// line as its histogram pass counts it, into the bins of the table.
struct ErrorCounts {
    LineFit fit{};
    double max_err = 0;  // the largest error the table's bins hold
    size_t bins = 0;
    int ways = 1;
    std::vector<long long> counts;  // `ways` copies of the bins
    long long beyond = 0;           // finite errors past the table's last bin

    void begin(const LineFit &f, size_t table_bins) {
        fit = f;
        bins = table_bins;
        max_err = largest_error_below_bin((long long)std::min<size_t>(bins, INT_MAX));
        ways = bins <= size_t(kInterleaveUpTo) ? kCountWays : 1;
        counts.assign(size_t(ways) * bins, 0);
        beyond = 0;
    }
    void add(const double *x, const double *y, int n) {
        beyond += count_tenths(x, y, n, fit.B1, fit.B0, max_err, counts.data(), bins, ways);
    }
    long long bin(size_t k) const {
        long long c = 0;
        for (int w = 0; w < ways; w++) c += counts[size_t(w) * bins + k];
        return c;
    }
};

// Lines handed to a thread of their own, in order, and taken there by
// `take`: the classes' slopes and figures are made while the walk reads
// on, behind it. At most queued_ lines wait; the first problem stops the
// taking.
class LineWorker {
public:
    // `take` may keep the elevations', d's and keep's buffers, leaving others in
    // their place.
    using Take = std::function<std::string(std::vector<float> &elevations, std::vector<double> &d,
                                           std::vector<unsigned char> *keep)>;
    ~LineWorker() { finish(); }
    void start(int cols, Take take) {
        cols_ = size_t(cols);
        // Up to 16 MB of lines, at least four and at most 128.
        queued_ = queue_room(cols_ * (sizeof(float) + sizeof(double) + 1), size_t(16) << 20, 4, 128);
        take_ = std::move(take);
        thread_ = std::thread([this] { run(); });
    }
    // A line's buffers, `cols` of each but keep (reused once the thread is
    // done with them), to be filled and handed over by give().
    struct Line {
        std::vector<float> elevations;
        std::vector<double> d;
        std::vector<unsigned char> keep;
        bool has_keep = false;
    };
    Line room() {
        Line l;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!free_.empty()) {
                l = std::move(free_.back());
                free_.pop_back();
            }
        }
        l.elevations.resize(cols_);
        l.d.resize(cols_);
        return l;
    }
    // Hands over a line; false once taking failed.
    bool give(Line &&l) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return queue_.size() < queued_ || !problem_.empty(); });
        if (!problem_.empty()) return false;
        queue_.push_back(std::move(l));
        // The thread, which mostly keeps up and waits, is woken for a few
        // lines at a time rather than for each; a full queue always wakes it.
        if (queue_.size() >= std::min<size_t>(kWakeLines, queued_)) changed_.notify_all();
        return true;
    }
    // Waits until every line given is taken; the problem, if any.
    std::string finish() {
        if (thread_.joinable()) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ending_ = true;
            }
            changed_.notify_all();
            thread_.join();
        }
        return problem_;
    }

private:
    void run() {
        run_behind();
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return !queue_.empty() || ending_; });
            if (queue_.empty()) return;
            Line l = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            const std::string p = take_(l.elevations, l.d, l.has_keep ? &l.keep : nullptr);
            lock.lock();
            free_.push_back(std::move(l));
            if (!p.empty()) {
                problem_ = p;
                queue_.clear();
            }
            changed_.notify_all();
            if (!problem_.empty()) return;
        }
    }
    static constexpr size_t kWakeLines = 8;
    size_t cols_ = 0, queued_ = 4;
    Take take_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Line> queue_;
    std::vector<Line> free_;
    bool ending_ = false;
    std::string problem_;
    std::thread thread_;
};

// One report, step by step in the order report_main takes them. Each step
// returns an empty string on success, else what the refusal says.
class Report {
public:
    explicit Report(const Options &o) : folder_(o.folder), result_(o.result), options_(o) {}
    ~Report() { running[0] = running[1] = nullptr; }
    Report(const Report &) = delete;
    Report &operator=(const Report &) = delete;

    // The images directory and gnuplot; the summary, the two tables and
    // the two rasters it names, open and checked against it.
    std::string load(const std::string &images_root);
    // The GeoTIFFs begun and the scratch folder made; the figures that
    // need nothing of the rasters drawn meanwhile.
    std::string prepare();
    // The one pass over the rasters: karvel's sums, the headline figures'
    // sums and ranks, the GeoTIFFs' lines, the density, the signed
    // histogram and the block means of the maps.
    std::string walk();
    // karvel's figures recomputed from the rasters, against the summary.
    std::string verify();
    std::string check_histogram(const LineFit &fit);
    // The headline figures and the histogram of the differences, while
    // the GeoTIFFs are completed.
    std::string rank();
    // The headline figures on the console; every figure and the PDF drawn.
    std::string draw();
    // The GeoTIFFs and the JSON complete; every file renamed into place.
    std::string commit();
    // What was written, on the console.
    void say_written() const;

private:
    std::string scratch_write(const std::string &name, const std::string &bytes);
    std::string write_figure(const Figure &f);
    bool png_job(const Figure &f, GnuplotJob &job);
    bool drawn_early(const Figure &f) const;
    std::string choose_ranks();
    std::string left_out_agree() const;
    std::string unchanged();
    std::string unit() const { return s_.image ? "grey level" : "m"; }
    // The classes: by the slope of the first DEM and by a raster of classes.
    std::string begin_classes();
    std::string class_sample();
    void class_inputs(double *d, float *elevations) const;
    void take_class_lines(ClassLines &lines);
    ValueStream class_again(bool slope, size_t k);
    std::vector<std::string> class_lines() const;

    // What the command line names, and where it lies.
    std::string folder_, result_;
    Options options_;
    std::string folder_shown_, dir_, summary_shown_, out_base_, final_dir_, report_dir_;
    // The members below are destroyed in the reverse of this order: the
    // GeoTIFFs are completed (closer_) before the gnuplots are stopped and
    // the files closed.
    ImagesDir images_;
    std::string gnuplot_;
    Summary s_;
    long long n_ = 0;  // positions compared: all of them, or those the summary did not leave out
    std::vector<LineRow> rows_;
    std::vector<long long> hist_;
    Input in_[2];
    BothLines pairs_;
    long long kept_ = 0;  // positions the walk kept, where a raster declares a no-data value
    std::string geo_note_;
    Georef geo_;
    StagedFile diff_file_, resid_file_;
    GeoTiffOut diff_tif_, resid_tif_;
    int table_differs_ = -1;             // the first line whose table row is not its figures
    bool histogram_left_empty_ = false;  // the summary says karvel left the histogram table empty
    // The histogram counted during the walk against the line of the
    // summary's sums, when the table has bins to count.
    ErrorCounts walk_errors_;
    bool errors_walked_ = false;
    std::vector<std::string> data_written_;  // the data files in the scratch folder
    std::vector<Figure> early_;              // drawn while the rasters are read
    GnuplotBatch early_batch_, late_batch_;
    DiffStats stats_;
    std::unique_ptr<DiffBinner> binner_;
    std::unique_ptr<BlockMeans> first_cells_, diff_cells_, resid_cells_;
    Density density_;
    RasterSums sums_;
    std::vector<double> d_row_;
    bool written_ = true;  // every line went into both GeoTIFFs
    double rms_ = 0;
    std::string tif_problem_;
    Joined closer_;  // completes the GeoTIFFs
    Headline h_;
    Ground ground_;  // the compared grid, for the slopes and the raster of classes
    ClassSources class_sources_;
    ClassValues class_values_;
    ClassLines class_walk_;  // the classes of the one walk
    ClassTable slope_table_, class_table_;
    std::vector<ClassRow> by_slope_, by_class_;
    std::string class_problem_;  // what went wrong in a walk of a class again
    LineWorker class_worker_;    // the classes of the walk's lines
    CoregFigures coreg_;
    DiffHistogram diff_hist_;
    std::vector<Figure> figures_;
    StagedFile pdf_;
    OutFile json_;
};

std::string Report::load(const std::string &images_root) {
    std::string message;
    if (!resolve_images_dir(images_root, images_, message)) return message;
    staged_catch_signals();
    gnuplot_ = find_gnuplot();
    if (gnuplot_.empty())
        return "gnuplot is not installed (Debian package gnuplot-nox); it draws every figure, so no report was "
               "written";

    folder_shown_ = shown_folder(folder_);
    dir_ = images_.real_path(folder_shown_);
    while (dir_.size() > 1 && dir_.back() == '/') dir_.pop_back();
    const std::vector<std::string> stale = staged_remove_stale(dir_);
    if (!stale.empty()) {
        std::string names;
        for (const std::string &n : stale) {
            names += ' ';
            names += printable(n);
        }
        std::fprintf(stderr, "karvel-report: removed what runs that were killed left in %s:%s\n",
                     printable(dir_).c_str(), names.c_str());
    }
    summary_shown_ = folder_shown_ + result_ + kSummarySuffix;
    std::string text;
    std::string p = read_regular(images_.real_path(summary_shown_), kSummaryLimit, text);
    if (!p.empty()) return "no summary " + printable(summary_shown_) + " to report on: " + p;
    p = parse_summary(text, s_);
    if (!p.empty()) return "the summary " + printable(summary_shown_) + " cannot be reported on: " + p;
    histogram_left_empty_ = text.find("the histogram table stays empty") != std::string::npos;
    n_ = (long long)s_.lines * s_.cols - std::max(0LL, s_.left_out);

    // The shift karvel-import found and removed, when it co-registered the pair.
    const std::string coreg_shown = folder_shown_ + result_ + kCoregSuffix;
    const std::string coreg_real = images_.real_path(coreg_shown);
    struct stat cst;
    if (lstat(coreg_real.c_str(), &cst) == 0) {
        p = read_regular(coreg_real, kSummaryLimit, text);
        if (p.empty()) p = parse_coreg(text, coreg_);
        if (!p.empty()) return "the co-registration " + printable(coreg_shown) + " cannot be used: " + p;
    }

    const std::string lines_shown = folder_shown_ + result_ + kLineTableSuffix;
    p = read_regular(images_.real_path(lines_shown), kTableLimit, text);
    if (p.empty()) p = parse_line_table(text, s_.lines, rows_);
    if (!p.empty()) return "the per-line table " + printable(lines_shown) + " cannot be used: " + p;
    const std::string hist_shown = folder_shown_ + result_ + kHistogramSuffix;
    p = read_regular(images_.real_path(hist_shown), kTableLimit, text);
    if (p.empty()) p = parse_histogram_table(text, hist_);
    if (!p.empty()) return "the histogram table " + printable(hist_shown) + " cannot be used: " + p;
    // Bin 0 is held back from the table: it is what the rows leave of n.
    hist_[0] = n_;
    for (size_t k = 1; k < hist_.size(); k++) {
        if (hist_[k] > hist_[0])
            return "the histogram table " + printable(hist_shown) + " counts more positions than the " +
                   std::to_string(n_) + " of the rasters";
        hist_[0] -= hist_[k];
    }

    for (int k = 0; k < 2; k++) {
        p = open_input(in_[k], images_, k == 0 ? s_.first_shown : s_.second_shown, s_, k);
        if (!p.empty()) return p;
    }
    p = left_out_agree();
    if (!p.empty()) return p;
    pairs_.init(in_[0], in_[1], s_.cols);
    geo_ = georef_of(in_[0].real, in_[0].shown, s_.lines, s_.cols, geo_note_);
    return begin_classes();
}

// The slope classes of DEMs (images have none) and the raster of classes,
// opened and brought onto the compared grid before anything is written.
std::string Report::begin_classes() {
    if (s_.image && options_.edges_given)
        return "--slope-edges: the rasters of " + printable(summary_shown_) +
               " are 8-bit images, which have no slope: slope classes are made for DEMs only";
    if (geo_.known) {
        ground_ = ground_of(geo_.transform, geo_.wkt);
    } else {
        // Not georeferenced: square cells of the description's size, in metres.
        const double side = in_[0].values[5] > 0 ? double(in_[0].values[5]) : 1.0;
        const double gt[6] = {0, side, 0, 0, 0, -side};
        ground_ = ground_of(gt, "");
    }
    class_sources_.ground = &ground_;
    class_sources_.lines = s_.lines;
    class_sources_.cols = s_.cols;
    class_sources_.slope_edges = s_.image ? nullptr : &options_.slope_edges;
    class_sources_.classes_path = options_.classes;
    class_sources_.classes_shown = printable(options_.classes);
    class_sources_.values = &class_values_;
    if (!options_.classes.empty() && !geo_.known)
        return "--classes: the raster of classes " + printable(options_.classes) +
               " cannot be brought onto the compared rasters, which have no georeferencing: " + geo_note_;
    if (!class_sources_.slope_edges && options_.classes.empty()) return "";
    slope_table_.classes(options_.slope_edges.size() - 1);
    const std::string p = class_walk_.begin(class_sources_, 0, s_.lines);
    return p.empty() ? p : "--classes: " + p + " (the compared rasters' grid: the header " +
                               printable(header_name(in_[0].shown)) + ")";
}

// The first DEM's elevations for its slopes (not a number where it has no
// data) and the differences of every column, of the line pairs_ holds.
void Report::class_inputs(double *d, float *elevations) const {
    const double *x = pairs_.x(), *y = pairs_.y();
    const unsigned char *first = pairs_.first_keep();
    for (int j = 0; j < s_.cols; j++) {
        if (d) d[j] = y[j] - x[j];
        elevations[j] = !first || first[j] ? float(x[j]) : NAN;
    }
}

void Report::take_class_lines(ClassLines &lines) {
    ClassLines::Ready r;
    while (lines.next(r)) {
        if (r.slope) slope_table_.add(r.d, r.keep, r.slope, s_.cols);
        if (r.cls) {
            class_table_.classes(class_values_.size());
            class_table_.add(r.d, r.keep, r.cls, s_.cols);
        }
    }
}

// The differences of class k (of the slopes, or of the raster of classes)
// walked again: both rasters read, their classes taken again.
ValueStream Report::class_again(bool slope, size_t k) {
    return [this, slope, k](const ValueBlock &take) {
        ClassSources src = class_sources_;
        if (slope) src.classes_path.clear();
        else src.slope_edges = nullptr;
        ClassLines lines;
        std::string p = lines.begin(src, 0, s_.lines);
        std::vector<double> d(size_t(s_.cols)), row;
        std::vector<float> elevations(size_t(s_.cols));
        pairs_.rewind();
        for (int i = 0; i < s_.lines && p.empty(); i++) {
            pairs_.next();
            class_inputs(d.data(), elevations.data());
            p = lines.push(elevations.data(), d.data(), pairs_.keep());
            ClassLines::Ready r;
            while (p.empty() && lines.next(r)) {
                const int32_t *c = slope ? r.slope : r.cls;
                row.clear();
                for (int j = 0; j < s_.cols; j++)
                    if (c[j] == int32_t(k) && (!r.keep || r.keep[j])) row.push_back(r.d[j]);
                if (!row.empty()) take(row.data(), row.size());
            }
            if (p.empty()) p = lines.problem();
        }
        if (!p.empty() && class_problem_.empty()) class_problem_ = p;
    };
}

// A large comparison's classes: a sample of each class's differences, from
// bands of lines spread over the rasters (each band's slopes and classes
// taken as the walk takes them), so that the ranks of the classes large
// enough are sought during the walk; the others hold their differences.
std::string Report::class_sample() {
    if (!class_sources_.slope_edges && class_sources_.classes_path.empty()) return "";
    const int lines = s_.lines, cols = s_.cols;
    // 64 bands of 8 lines spread over the rasters (the slopes of a band
    // need a line more on either side, and a raster of classes a warp set
    // up for each band).
    const int band_lines = std::min(lines, 8);
    const int bands = std::max(1, std::min(lines / band_lines, 64));
    const size_t stride = std::max<size_t>(1, size_t(bands) * size_t(band_lines) * size_t(cols) / kRankSample);
    std::vector<std::vector<double>> by_slope(slope_table_.size()), by_class;
    size_t seen = 0;
    std::vector<double> d(static_cast<size_t>(cols));
    std::vector<float> elevations(static_cast<size_t>(cols));
    for (int b = 0; b < bands; b++) {
        const int from = std::clamp(int((2LL * b + 1) * lines / (2LL * bands)) - band_lines / 2, 0,
                                    std::max(0, lines - band_lines));
        ClassLines band;
        std::string p = band.begin(class_sources_, from, std::min(lines, from + band_lines));
        for (int t = band.first_pushed(); t <= band.last_pushed() && p.empty(); t++) {
            p = pairs_.read_at(t);
            if (!p.empty()) break;
            class_inputs(d.data(), elevations.data());
            p = band.push(elevations.data(), d.data(), pairs_.keep());
            ClassLines::Ready r;
            while (p.empty() && band.next(r))
                for (size_t j = size_t(r.line) * 2654435761u % stride; j < size_t(cols); j += stride) {
                    if (r.keep && !r.keep[j]) continue;
                    seen++;
                    if (r.slope && r.slope[j] >= 0) by_slope[size_t(r.slope[j])].push_back(r.d[j]);
                    if (r.cls && r.cls[j] >= 0) {
                        if (by_class.size() <= size_t(r.cls[j])) by_class.resize(size_t(r.cls[j]) + 1);
                        by_class[size_t(r.cls[j])].push_back(r.d[j]);
                    }
                }
            if (p.empty()) p = band.problem();
        }
        if (!p.empty()) return p;
    }
    // A class of about n positions is sought during the walk where its
    // sample can bracket its ranks, as the whole raster's is.
    auto seek = [&](ClassTable &table, std::vector<std::vector<double>> &samples) {
        for (size_t k = 0; k < samples.size(); k++) {
            const size_t n = seen ? size_t(double(n_) * double(samples[k].size()) / double(seen)) : 0;
            if (n >= 4 * kRankSample && samples[k].size() >= 1024) table.seek(k, n, std::move(samples[k]));
        }
    };
    seek(slope_table_, by_slope);
    class_table_.classes(class_values_.size());
    seek(class_table_, by_class);
    return "";
}

std::vector<std::string> Report::class_lines() const {
    std::vector<std::string> out;
    if (class_sources_.slope_edges) {
        out.push_back("");
        for (auto &l : class_rows_lines(by_slope_, true, unit())) out.push_back(l);
    }
    if (!options_.classes.empty()) {
        out.push_back("");
        for (auto &l : class_rows_lines(by_class_, false, unit())) out.push_back(l);
    }
    return out;
}

// A summary that leaves positions out where no header declares a no-data
// value, or none where one does, was not made from these rasters.
std::string Report::left_out_agree() const {
    for (const Input &in : in_) {
        if (!in.nodata.declared || s_.left_out >= 0) continue;
        return "the summary " + printable(summary_shown_) + " leaves no position out, but the header " +
               printable(header_name(in.shown)) + " declares the no-data value " + std::to_string(in.nodata.value) +
               ": the header is newer than the run";
    }
    if (s_.left_out >= 0 && !in_[0].nodata.declared && !in_[1].nodata.declared)
        return "the summary " + printable(summary_shown_) + " leaves out " + std::to_string(s_.left_out) +
               " positions without data, but neither " + printable(header_name(in_[0].shown)) + " nor " +
               printable(header_name(in_[1].shown)) + " declares a no-data value";
    return "";
}

std::string Report::scratch_write(const std::string &name, const std::string &bytes) {
    if (!scratch_record(name)) return "too many files";
    return write_and_commit(report_dir_ + "/" + name, bytes);
}

// Writes a figure's data (once for data that figures share: the relief)
// and its script into the scratch folder.
std::string Report::write_figure(const Figure &f) {
    for (const auto &d : f.data) {
        if (std::find(data_written_.begin(), data_written_.end(), d.first) != data_written_.end()) continue;
        data_written_.push_back(d.first);
        const std::string q = scratch_write(d.first, d.second);
        if (!q.empty()) return "cannot write " + printable(report_dir_ + "/" + d.first) + ": " + q;
    }
    const std::string q = scratch_write(f.name + ".gp", f.script);
    return q.empty() ? q : "cannot write " + printable(report_dir_ + "/" + f.name + ".gp") + ": " + q;
}

// Adds a figure's PNG to a job: several figures are drawn by one gnuplot,
// one after the other (each script sets its terminal and resets the rest),
// as starting a gnuplot costs more than drawing a small figure.
bool Report::png_job(const Figure &f, GnuplotJob &job) {
    if (!scratch_record(f.name + ".png")) return false;
    if (!job.script.empty()) job.setting += "; load " + gp_quote(job.script) + "; ";
    job.setting += "out=" + gp_quote(f.name + ".png");
    job.script = f.name + ".gp";
    return true;
}

bool Report::drawn_early(const Figure &f) const {
    return std::any_of(early_.begin(), early_.end(), [&](const Figure &e) { return e.name == f.name; });
}

std::string Report::prepare() {
    // The GeoTIFFs are written during the one pass over the rasters: at
    // most their uncompressed size, float32 samples, must fit on the disk.
    const std::string space = space_problem(dir_, uint64_t(2) * uint64_t(s_.lines) * uint64_t(s_.cols) * 4);
    if (!space.empty()) return "the two GeoTIFFs may not fit on the disk (uncompressed, at most): " + space;
    out_base_ = dir_ + "/" + result_;
    if (!staged_begin(diff_file_, out_base_ + "_diff.tif") || !staged_begin(resid_file_, out_base_ + "_resid.tif"))
        return "cannot create a file in " + printable(folder_shown_) + ": " + std::strerror(errno);
    std::string p = diff_tif_.create(diff_file_.temp_path, s_.lines, s_.cols, geo_, unit(), pairs_.masked());
    if (p.empty()) p = resid_tif_.create(resid_file_.temp_path, s_.lines, s_.cols, geo_, unit(), pairs_.masked());
    if (!p.empty()) return "cannot write a GeoTIFF in " + printable(folder_shown_) + ": " + p;

    // The figures are drawn in a scratch folder, each on its own from its
    // script and data; those that need nothing of the rasters are drawn
    // while they are read.
    final_dir_ = out_base_ + "_report";
    struct stat st;
    if (stat(final_dir_.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return printable(final_dir_) + " is not a folder";
    report_dir_ = dir_ + "/." + result_ + "_report." + std::to_string(getpid()) + ".tmp";
    if (report_dir_.size() >= kScratchPath) return "the path " + printable(report_dir_) + " is too long";
    staged_add_signal_hook(remove_scratch);
    if (mkdir(report_dir_.c_str(), 0777) != 0)
        return "cannot create the folder " + printable(report_dir_) + ": " + std::strerror(errno);
    std::memcpy(scratch_dir, report_dir_.c_str(), report_dir_.size() + 1);

    early_ = {error_histogram_figure(hist_, unit(), false), error_histogram_figure(hist_, unit(), true),
              profiles_figure(rows_, unit())};
    running[0] = &early_batch_;
    running[1] = &late_batch_;
    GnuplotJob job;
    for (const Figure &f : early_) {
        p = write_figure(f);
        if (!p.empty()) return p;
        if (!png_job(f, job)) return "too many figures";
    }
    early_batch_.start(gnuplot_, report_dir_, {job}, true);
    return "";
}

// A small comparison keeps its differences; a large one keeps none, its
// medians and percentiles sought during the one walk, guided by a sample
// of differences read before it. The histogram of the signed differences
// is then binned during the same walk, over a range the sample gives.
std::string Report::choose_ranks() {
    if (size_t(n_) < 4 * kRankSample && stats_.reserve(size_t(n_))) return "";
    std::vector<double> sample;
    const std::string p = sample_differences(pairs_, s_.lines, s_.cols, sample);
    if (!p.empty()) return p;
    if (!sample.empty()) {
        Headline guess;
        guess.min_diff = *std::min_element(sample.begin(), sample.end());
        guess.max_diff = *std::max_element(sample.begin(), sample.end());
        guess.clip =
            select_ranks(sample.data(), sample.size(), Seen::magnitude, 0.0, {nearest_rank(98, sample.size())})[0];
        if (!std::isnan(guess.clip)) binner_ = std::make_unique<DiffBinner>(guess, kDiffBins);
    }
    stats_.rank_during_walk(size_t(n_), std::move(sample));
    return class_sample();
}

// Refuses rasters that changed while the report read them.
std::string Report::unchanged() {
    for (int k = 0; k < 2; k++) {
        const std::string p = raster_changed(in_[k].file);
        if (!p.empty()) return p + ": it changed while the report read it";
    }
    return "";
}

std::string Report::walk() {
    std::string p = choose_ranks();
    if (!p.empty()) return p;
    const int lines = s_.lines, cols = s_.cols;
    const double b0 = s_.b0.value, b1 = s_.b1.value;
    first_cells_ = std::make_unique<BlockMeans>(lines, cols, kPictureSide);
    diff_cells_ = std::make_unique<BlockMeans>(lines, cols, kPictureSide);
    resid_cells_ = std::make_unique<BlockMeans>(lines, cols, kPictureSide);
    density_ = density_axes(s_);
    const double density_scale = kDensityBins / (density_.hi - density_.lo);
    // Counted per line in 32 bits, and added to the figure's counts before
    // any could overflow.
    const size_t density_cells = size_t(kDensityBins) * kDensityBins;
    std::vector<uint32_t> density_counts(density_cells * kBinWays);
    uint64_t counted = 0;  // positions in density_counts
    std::vector<int32_t> density_index(static_cast<size_t>(cols));

    std::vector<float> diff_row(static_cast<size_t>(cols)), resid_row(static_cast<size_t>(cols));
    std::vector<double> e_row(static_cast<size_t>(cols));
    d_row_.resize(size_t(cols));
    const bool classes = class_sources_.slope_edges || !class_sources_.classes_path.empty();
    if (classes)
        class_worker_.start(cols, [this](std::vector<float> &elevations, std::vector<double> &d,
                                         std::vector<unsigned char> *keep) {
            std::string q = class_walk_.push(elevations, d, keep);
            if (q.empty()) take_class_lines(class_walk_);
            return q.empty() ? class_walk_.problem() : q;
        });
    // GDAL's progress on standard error, when it is a terminal.
    const bool progress = isatty(2);
    TextProgress shown;
    if (progress)
        std::fprintf(stderr, "Reading %s and %s\n", printable(in_[0].shown).c_str(), printable(in_[1].shown).c_str());
    // The sums a large comparison prints hold every bit of karvel's: the
    // line fitted from them is then karvel's, and its histogram is counted
    // in this walk (verify() makes sure of it).
    errors_walked_ = !(hist_.size() == 1 && histogram_left_empty_);
    if (errors_walked_) {
        RasterSums printed_sums;
        printed_sums.Suma_X = s_.sum_x.value;
        printed_sums.Suma_Y = s_.sum_y.value;
        printed_sums.Suma_XY = s_.sum_xy.value;
        printed_sums.Suma_X2 = s_.sum_x2.value;
        walk_errors_.begin(fit_line(double(n_), printed_sums), hist_.size());
    }
    pairs_.rewind();
    kept_ = 0;
    for (int i = 0; i < lines; i++) {
        pairs_.next();
        const double *x = pairs_.x(), *y = pairs_.y();
        const unsigned char *keep = pairs_.keep();
        // The floats go straight into the GeoTIFFs' strips.
        float *diff_f = diff_tif_.next_line(), *resid_f = resid_tif_.next_line();
        float *diff_out = diff_f ? diff_f : diff_row.data(), *resid_out = resid_f ? resid_f : resid_row.data();
        // With classes, the differences are formed in the room of the line
        // handed to their thread at the end of this one.
        LineWorker::Line for_classes;
        if (classes) for_classes = class_worker_.room();
        double *d = classes ? for_classes.d.data() : d_row_.data();
        line_rows(x, y, cols, b0, b1, d, e_row.data(), diff_out, resid_out);
        if (!s_.image) first_cells_->add_line(i, x, keep);
        diff_cells_->add_line(i, d, keep);
        resid_cells_->add_line(i, e_row.data(), keep);
        if (classes) {
            class_inputs(nullptr, for_classes.elevations.data());
            for_classes.has_keep = keep != nullptr;
            if (keep) for_classes.keep.assign(keep, keep + cols);
        }
        // Where a raster declares a no-data value, what follows takes the
        // kept positions alone, in column order, as karvel does (the
        // classes' thread takes every column's differences).
        int n = cols;
        if (keep) {
            blank_left_out(keep, cols, diff_out, resid_out);
            n = pairs_.compact();
            if (d != d_row_.data()) std::copy(d, d + cols, d_row_.begin());
            d = d_row_.data();
            compact_kept(d, e_row.data(), keep, size_t(cols));
            kept_ += n;
        }
        // Each line's figures again, as karvel's line pass forms them: the
        // per-line table must be this run's.
        const LineFigures fig = line_walk(x, y, n, sums_);
        if (table_differs_ < 0) {
            const LineRow &row = rows_[size_t(i)];
            if (printed(fig.desv) != printed(row.desv) || printed(fig.slope) != printed(row.slope) ||
                printed(fig.r) != printed(row.r) || printed(fig.R2) != printed(row.r2))
                table_differs_ = i;
        }
        stats_.add_line(x, y, d, n);
        if (errors_walked_) walk_errors_.add(x, y, n);
        density_line(x, y, n, density_.lo, density_scale, kDensityBins, density_index.data(), density_counts.data());
        // The counts go over to the figure's before the next line could
        // take a bin past 2^32 − 1.
        counted += uint64_t(n);
        if (counted + uint64_t(cols) > UINT32_MAX || i + 1 == lines) {
            for (size_t k = 0; k < density_counts.size(); k++)
                density_.counts[k % density_cells] += double(density_counts[k]);
            std::fill(density_counts.begin(), density_counts.end(), 0u);
            counted = 0;
        }
        if (binner_) binner_->add(d, size_t(n));
        if (classes && !class_worker_.give(std::move(for_classes))) return class_worker_.finish();
        written_ = diff_f && resid_f && diff_tif_.line_filled() && resid_tif_.line_filled() && written_;
        if (progress) {
            const std::string t = progress_text(shown, double(i + 1) / lines);
            if (!t.empty()) {
                std::fputs(t.c_str(), stderr);
                std::fflush(stderr);
            }
        }
    }
    // The classes of the last lines taken.
    if (classes) {
        p = class_worker_.finish();
        if (!p.empty()) return p;
    }
    return unchanged();
}

std::string Report::verify() {
    // The rasters must still be those of the run: the positions left out,
    // then karvel's figures again.
    if (pairs_.masked() && kept_ != n_) {
        const long long all = (long long)s_.lines * s_.cols;
        return "the rasters and the summary " + printable(summary_shown_) + " no longer agree: it leaves out " +
               std::to_string(s_.left_out) + " of " + std::to_string(all) + " positions (no data in either raster), " +
               "the rasters now " + std::to_string(all - kept_);
    }
    rms_ = rms_error(sums_.dif_carre_tot, n_);
    struct Check {
        const char *label;
        const Printed &was;
        double now;
    };
    // B0 and B1 from the sums, as karvel's regression forms them: an edited
    // line in the summary shows too.
    const LineFit fit = fit_line(double(n_), sums_);
    const Check checks[] = {{"RMS_Error", s_.rms, rms_},         {"Sum_X", s_.sum_x, sums_.Suma_X},
                            {"Sum_Y", s_.sum_y, sums_.Suma_Y},   {"Sum_XY", s_.sum_xy, sums_.Suma_XY},
                            {"Sum_X2", s_.sum_x2, sums_.Suma_X2}, {"B1", s_.b1, fit.B1},
                            {"B0", s_.b0, fit.B0}};
    std::string differ;
    for (const auto &c : checks)
        if (printed(c.now) != c.was.text)
            differ += kfmt("%s%s %s in the summary, %s from the rasters now", differ.empty() ? "" : "; ", c.label,
                           c.was.text.c_str(), printed(c.now).c_str());
    if (!differ.empty())
        return "the rasters and the summary " + printable(summary_shown_) +
               " no longer agree (one or the other changed since the run): " + differ;
    if (table_differs_ >= 0)
        return "the per-line table " + printable(folder_shown_ + result_ + kLineTableSuffix) +
               " is not the one of the summary " + printable(summary_shown_) + ": its row of line " +
               std::to_string(table_differs_) + " differs from that line's figures in the rasters";
    return check_histogram(fit);
}

// Karvel's histogram of the errors against its own fitted line, compared
// with the histogram table: the walk's counts when the walk counted against
// that very line, else counted in one more walk over the rasters.
std::string Report::check_histogram(const LineFit &fit) {
    // A table karvel left empty, as its summary says (too many bins for a count).
    if (hist_.size() == 1 && histogram_left_empty_) return "";
    const auto same = [](double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    ErrorCounts again;
    const ErrorCounts *counted = &walk_errors_;
    if (!errors_walked_ || !same(fit.B1, walk_errors_.fit.B1) || !same(fit.B0, walk_errors_.fit.B0)) {
        again.begin(fit, hist_.size());
        pairs_.rewind();
        for (int i = 0; i < s_.lines; i++) {
            pairs_.next();
            const int n = pairs_.compact();
            again.add(pairs_.x(), pairs_.y(), n);
        }
        std::string p = unchanged();
        if (!p.empty()) return p;
        counted = &again;
    }
    const std::string shown = printable(folder_shown_ + result_ + kHistogramSuffix);
    for (size_t k = 1; k < hist_.size(); k++)
        if (counted->bin(k) != hist_[k])
            return "the histogram table " + shown + " is not the one of the summary " + printable(summary_shown_) +
                   ": it counts " + std::to_string(hist_[k]) + " errors in bin " + std::to_string(k) +
                   ", the rasters " + std::to_string(counted->bin(k));
    if (counted->beyond > 0)
        return "the histogram table " + shown + " is not the one of the summary " + printable(summary_shown_) +
               ": " + std::to_string(counted->beyond) + " errors of the rasters lie beyond its last bin";
    return "";
}

std::string Report::rank() {
    // GDAL finishes compressing the GeoTIFFs while the figures are made.
    closer_.start(std::thread([this] {
        tif_problem_ = diff_tif_.close();
        if (tif_problem_.empty()) tif_problem_ = resid_tif_.close();
    }));

    // Ranks the walk left unsettled are found by reading both rasters
    // again, as the pass did.
    auto diffs = [&](const ValueBlock &take) {
        pairs_.rewind();
        for (int i = 0; i < s_.lines; i++) {
            pairs_.next();
            const int n = pairs_.compact();
            const double *x = pairs_.x(), *y = pairs_.y();
            for (int j = 0; j < n; j++) d_row_[size_t(j)] = y[j] - x[j];
            take(d_row_.data(), size_t(n));
        }
    };
    const double b0 = s_.b0.value, b1 = s_.b1.value;
    if (stats_.ranks() == DiffStats::Ranks::held) {
        h_ = stats_.finish_held(b0, b1, rms_, unit());
        diff_hist_ = diff_histogram(stats_.diffs(), stats_.count(), h_, kDiffBins);
    } else {
        h_ = stats_.finish_walked(b0, b1, rms_, unit(), diffs);
        if (binner_) {
            diff_hist_ = binner_->histogram();
        } else {  // no sample to range the bins by: one more walk
            DiffBinner late(h_, kDiffBins);
            diffs([&](const double *d, size_t len) { late.add(d, len); });
            diff_hist_ = late.histogram();
        }
    }
    if (pairs_.masked()) h_.n_left_out = s_.left_out;
    h_.coreg = coreg_;
    for (const Input &in : in_)
        if (!in.short_note.empty()) h_.warnings.push_back(in.short_note);

    // The figures of each class, the ranks the walk left unsettled found by
    // walking that class again.
    if (class_sources_.slope_edges) {
        fill_rows(by_slope_, slope_table_.finish([&](size_t k) { return class_again(true, k); }, unit()));
        for (size_t k = 0; k < by_slope_.size(); k++) {
            by_slope_[k].from_deg = options_.slope_edges[k];
            by_slope_[k].to_deg = options_.slope_edges[k + 1];
        }
    }
    if (!options_.classes.empty()) {
        class_table_.classes(class_values_.size());
        fill_rows(by_class_, class_table_.finish([&](size_t k) { return class_again(false, k); }, unit()));
        for (size_t k = 0; k < by_class_.size(); k++) by_class_[k].value = class_values_.value(k);
        std::sort(by_class_.begin(), by_class_.end(),
                  [](const ClassRow &a, const ClassRow &b) { return a.value < b.value; });
    }
    if (!class_problem_.empty()) return class_problem_;
    return unchanged();
}

std::string Report::draw() {
    std::string console = "\n\tkarvel-report of " + summary_shown_ + "\n\n";
    for (const auto &l : headline_lines(h_)) console += "\t" + l + "\n";
    for (const auto &l : class_lines()) console += "\t" + l + "\n";
    console += "\n\tRecomputed from the rasters: the RMS error, the sums and B0 and B1 agree with the summary.\n";
    if (pairs_.masked())
        console += "\tThe positions left out (no data in either raster) are those the summary counts: " +
                   std::to_string(s_.left_out) + ".\n";
    if (!geo_note_.empty()) console += "\t" + geo_note_ + "\n";
    say(console);

    figures_.push_back(headline_figure(h_, result_, s_, class_lines()));
    for (const Figure &f : early_) figures_.push_back(f);
    figures_.push_back(density_figure(density_, h_));
    const std::string shaded = map_figures(geo_, double(in_[0].values[5]), s_.image ? nullptr : first_cells_.get(),
                                           *diff_cells_, *resid_cells_, h_.unit, figures_);
    if (!shaded.empty()) return "GDAL could not shade the relief of the first DEM: " + shaded;
    figures_.push_back(diff_histogram_figure(diff_hist_, h_));
    if (class_sources_.slope_edges) figures_.push_back(class_figure(by_slope_, true, h_.unit));
    if (!options_.classes.empty()) figures_.push_back(class_figure(by_class_, false, h_.unit));

    for (const auto &f : figures_) {
        if (drawn_early(f)) continue;
        const std::string p = write_figure(f);
        if (!p.empty()) return p;
    }
    const std::string pdf_name = result_ + "_report.pdf";
    std::string p = scratch_write("report_pdf.gp", pdf_script(figures_, "../" + pdf_name));
    if (!p.empty()) return "cannot write " + printable(report_dir_ + "/report_pdf.gp") + ": " + p;

    // The PDF and the other PNGs, beside the figures drawn already, by
    // three gnuplots at once: the PDF, the maps' PNGs, the small figures'
    // PNGs. Drawn after the PDF by its gnuplot, the small figures ended
    // well after the maps; run side by side, the three keep the cores busy
    // until all are done.
    if (!staged_begin(pdf_, out_base_ + "_report.pdf"))
        return "cannot write " + printable(pdf_.final_path) + ": " + std::strerror(errno);
    std::vector<GnuplotJob> jobs(3);
    jobs[0] = {"out=" + gp_quote("../" + base_name(pdf_.temp_path)), "report_pdf.gp", ""};
    for (const auto &f : figures_)
        if (!drawn_early(f) && !png_job(f, f.name.ends_with("_map") ? jobs[1] : jobs[2])) return "too many figures";
    jobs.erase(std::remove_if(jobs.begin() + 1, jobs.end(), [](const GnuplotJob &j) { return j.script.empty(); }),
               jobs.end());
    late_batch_.start(gnuplot_, report_dir_, std::move(jobs));
    jobs = late_batch_.wait(kGnuplotTimeout);
    for (auto &j : early_batch_.wait(kGnuplotTimeout)) jobs.push_back(std::move(j));
    for (const auto &j : jobs)
        if (!j.problem.empty()) return j.problem;
    return "";
}

std::string Report::commit() {
    closer_.join();
    if (!tif_problem_.empty() || !written_) return "a GeoTIFF could not be written: " + tif_problem_;
    // The class tables follow the headline figures in the object.
    Json json = headline_json(h_);
    if (class_sources_.slope_edges) json["by_slope"] = class_rows_json(by_slope_, true);
    if (!options_.classes.empty()) json["by_class"] = class_rows_json(by_class_, false);
    if (!write_staged(json_, out_base_ + "_report.json", json_text(json)))
        return "cannot write " + printable(json_.staged.final_path) + ": " + std::strerror(json_.err);

    // RESULT_report/ first: a folder that cannot be made refuses the report
    // before anything is replaced.
    if (mkdir(final_dir_.c_str(), 0777) != 0 && errno != EEXIST)
        return "cannot create the folder " + printable(final_dir_) + ": " + std::strerror(errno);
    // The four files are renamed together and the figures moved into
    // RESULT_report/ with every signal held, so that a signal finds either
    // the earlier report or the new one, whole; any other file a user keeps
    // in RESULT_report/ stays.
    sigset_t held, old;
    sigfillset(&held);
    sigprocmask(SIG_BLOCK, &held, &old);
    StagedFile *const all[] = {&json_.staged, &diff_file_, &resid_file_, &pdf_};
    size_t failed = 0;
    std::string moved;
    if (!staged_commit_together(all, 4, &failed))
        moved = "cannot write " + printable(all[failed]->final_path) + ": " + std::strerror(errno);
    for (sig_atomic_t k = 0; k < scratch_count && moved.empty(); k++) {
        const std::string name = scratch_names[k];
        if (rename((report_dir_ + "/" + name).c_str(), (final_dir_ + "/" + name).c_str()) != 0)
            moved = "cannot move " + printable(final_dir_ + "/" + name) + " into place: " + std::strerror(errno);
    }
    if (moved.empty()) {
        remove_scratch();
        // The new report is in place: a signal held meanwhile, or one that
        // comes now, no longer says otherwise with its status.
        staged_ignore_signals();
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    return moved;
}

void Report::say_written() const {
    const std::string shown_base = folder_shown_ + result_;
    say("\n\tWritten: " + shown_base + "_report.json, " + shown_base + "_diff.tif, " + shown_base +
        "_resid.tif\n\tThe report: " + shown_base + "_report.pdf (" + std::to_string(figures_.size()) +
        " pages)\n\tEach figure as a PNG, with its gnuplot script and data: " + shown_base + "_report\\\n");
}

}  // namespace

int report_main(const std::vector<std::string> &args, const std::string &images_root) {
    Options options;
    int status = kReportDone;
    if (!parse_options(args, options, status)) return status;
    Report report(options);
    std::string problem = report.load(images_root);
    if (problem.empty()) problem = report.prepare();
    if (problem.empty()) problem = report.walk();
    if (problem.empty()) problem = report.verify();
    if (problem.empty()) problem = report.rank();
    if (problem.empty()) problem = report.draw();
    if (problem.empty()) problem = report.commit();
    if (!problem.empty()) return refuse(problem);
    report.say_written();
    return kReportDone;
}
