#include "report.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "charts.h"
#include "classes.h"
#include "drawing.h"
#include "gnuplot.h"
#include "headline.h"
#include "inputs.h"
#include "json.h"
#include "options.h"
#include "outfile.h"
#include "paths.h"
#include "reader.h"
#include "readers/change_reader.h"
#include "readers/class_figures.h"
#include "readers/density_counts.h"
#include "readers/geotiff_rows.h"
#include "readers/headline_stats.h"
#include "readers/karvel_histogram.h"
#include "readers/karvel_pass.h"
#include "readers/map_means.h"
#include "readers/plausibility_reader.h"
#include "readers/signed_histogram.h"
#include "readers/uncertainty.h"
#include "result_set.h"
#include "readers/zones_reader.h"
#include "run.h"
#include "scratch.h"
#include "stale.h"
#include "staged.h"
#include "walk.h"

namespace {

void say(const std::string &text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

int refuse(const std::string &message) {
    Drawing::stop_all();
    remove_scratch();
    std::fflush(stdout);
    std::fprintf(stderr, "karvel-report: %s\n", message.c_str());
    staged_discard_all();
    return kReportRefused;
}

// One report, step by step in the order report_main takes them. Each step
// returns an empty string on success, else what the refusal says.
class Report {
public:
    explicit Report(const Options &o);
    Report(const Report &) = delete;
    Report &operator=(const Report &) = delete;

    // The images directory and gnuplot; the summary, the two tables and
    // the two rasters it names, open and checked against it.
    std::string load(const std::string &images_root);
    // The scratch folder made and the figures that need nothing of the
    // rasters begun; then the readers prepared (the raster of classes
    // brought onto the grid, the GeoTIFFs begun).
    std::string prepare();
    // The one pass over the rasters, every reader fed each line.
    std::string walk();
    // karvel's figures recomputed from the rasters, against the summary.
    std::string verify();
    // The readers' figures: the headline figures, the histogram of the
    // differences, the figures of the classes.
    std::string rank();
    // The headline figures on the console; every figure and the PDF drawn.
    std::string draw();
    // The GeoTIFFs and the JSON complete; every file renamed into place.
    std::string commit();
    // What was written, on the console.
    void say_written() const;

private:
    std::string report_json() const;
    std::string final_dir() const { return setup_.out_base + "_report"; }

    Options options_;
    // The members below are destroyed in the reverse of this order: the
    // readers (the GeoTIFFs completed) before the gnuplots are stopped and
    // the rasters closed.
    ImagesDir images_;
    std::string gnuplot_;
    Run run_;
    Rasters rasters_;
    Setup setup_;
    long long kept_ = 0;  // positions the walk kept
    Drawing drawing_;
    MapOutlines outlines_;  // the zones', drawn on the maps
    Readers readers_;
    HeadlineStats *stats_ = nullptr;
    ClassFigures *classes_ = nullptr;
    std::vector<Figure> figures_;
    OutFile json_;
    bool removed_dod_ = false;  // an earlier report's RESULT_dod.tif went with the commit
};

// The readers of the walk, in the order it feeds them and they add their
// figures after the headline's. What refuses a raster of classes comes
// before the GeoTIFFs are begun; the classes are sampled after the
// headline's differences.
//
// Each holds a bounded share of the report's memory, whatever the number
// of lines, written beside it (the walk's own lines, about 100 bytes a
// column, and its queue of lines behind it, at most 16 MB, come on top).
Report::Report(const Options &o) : options_(o) {
    auto &pass = readers_.add<KarvelPass>();          // a few lines' sums
    readers_.add<KarvelHistogram>(pass);              // karvel's table: HistogramTable::kHeldBins, 8 MB
    stats_ = &readers_.add<HeadlineStats>(pass);      // HeadlineStats::kHeld: 48 MB, and a 2 MB sample
    readers_.add<DensityCounts>();                    // 256 × 256 counts
    auto &maps = readers_.add<MapMeans>(outlines_);   // block sums of each map, 750 × 750 at most
    readers_.add<SignedHistogram>(*stats_);           // the bins of the histogram of d
    // Before the classes, which take the lines' buffers behind the walk.
    // The stable cells' σ by slope class: a ClassTable, 32 MB held.
    auto &stable = readers_.add<ChangeStable>(options_.change, options_.uncertainty);
    // The zones' figures: a ClassTable, 32 + 16 MB, and 64 lines of zone ids.
    auto &zones = readers_.add<ZoneFigures>(options_.zones, options_.change, stable, *stats_, outlines_);
    // Two ClassTables (slopes, --classes): 32 + 16 MB each; the raster of
    // classes read a row of the warper's blocks at a time (Onto::kHeldBytes,
    // 4 MB), through GDAL's block cache (8 MB).
    classes_ = &readers_.add<ClassFigures>(*stats_);
    // The stable cells' σ are taken of the lines the slope classes are made for.
    classes_->watch([&stable](const ClassLines::Ready &r) { return stable.take(r); });
    readers_.add<GeoTiffRows>();                      // 8 strips of 16 lines in flight, each 16 MB at most
    readers_.add<Plausibility>(*stats_);              // a few figures
    // The change budget: its sums, its histogram's bins, RESULT_dod.tif's strips as GeoTiffRows'.
    auto &budget = readers_.add<ChangeReader>(options_.change, stable, maps);
    // --uncertainty: the variogram's sample, 250 000 cells at most (a few MB), and its pairs' bins.
    readers_.add<Uncertainty>(options_.uncertainty, options_.change, stable, *stats_, *classes_, zones, budget);
}

std::string Report::load(const std::string &images_root) {
    std::string message;
    if (!resolve_images_dir(images_root, images_, message)) return message;
    staged_catch_signals();
    gnuplot_ = find_gnuplot();
    if (gnuplot_.empty())
        return "gnuplot is not installed (Debian package gnuplot-nox); it draws every figure, so no report was "
               "written";

    setup_.folder_shown = shown_folder(options_.folder);
    std::string &dir = setup_.dir;
    dir = images_.real_path(setup_.folder_shown);
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    remove_stale("karvel-report", dir);
    // The import's files, from the check that they are whole until they
    // are open, are never those of a commit under way.
    const SetReadLock lock(dir);
    const std::string p = load_run(images_, setup_.folder_shown, options_.result, run_);
    if (!p.empty()) return p;
    return rasters_.open(images_, run_.s, run_.summary_shown);
}

std::string Report::prepare() {
    setup_.run = &run_;
    setup_.rasters = &rasters_;
    setup_.unit = run_.s.image ? "grey level" : "m";
    setup_.result = options_.result;
    setup_.out_base = setup_.dir + "/" + options_.result;
    setup_.slope_edges = options_.slope_edges;
    setup_.edges_given = options_.edges_given;
    setup_.classes = options_.classes;

    // The figures are drawn in a scratch folder, each on its own from its
    // script and data; those that need nothing of the rasters are begun
    // first, and drawn while the readers prepare and the walk reads.
    struct stat st;
    if (stat(final_dir().c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return printable(final_dir()) + " is not a folder";
    const std::string &unit = setup_.unit;
    size_t width = 1;
    const std::vector<long long> counts = figure_counts(run_.hist, width);
    const std::string p = drawing_.begin(gnuplot_, setup_.dir, options_.result,
                                         {error_histogram_figure(counts, unit, false, width),
                                          error_histogram_figure(counts, unit, true, width),
                                          profiles_figure(run_.rows, unit)});
    return p.empty() ? readers_.each([&](Reader &r) { return r.prepare(setup_); }) : p;
}

std::string Report::walk() {
    WalkPlan plan;
    plan.lines = run_.s.lines;
    plan.b0 = run_.s.b0.value;
    plan.b1 = run_.s.b1.value;
    // GDAL's progress on standard error, when it is a terminal.
    plan.progress = isatty(2);
    plan.first_shown = rasters_.in[0].shown;
    plan.second_shown = rasters_.in[1].shown;
    const std::string p = walk_lines(rasters_.pairs, plan, readers_.all(), kept_);
    return p.empty() ? rasters_.unchanged() : p;
}

std::string Report::verify() {
    // The rasters must still be those of the run: the positions left out,
    // then karvel's figures again.
    if (rasters_.pairs.masked() && kept_ != run_.n) {
        const long long all = (long long)run_.s.lines * run_.s.cols;
        return "the rasters and the summary " + printable(run_.summary_shown) + " no longer agree: it leaves out " +
               std::to_string(run_.s.left_out) + " of " + std::to_string(all) +
               " positions (no data in either raster), the rasters now " + std::to_string(all - kept_);
    }
    return readers_.each([](Reader &r) { return r.check(); });
}

std::string Report::rank() {
    const std::string p = readers_.each([](Reader &r) { return r.finish(); });
    return p.empty() ? rasters_.unchanged() : p;
}

std::string Report::draw() {
    const Headline &h = stats_->headline();
    std::vector<std::string> more;  // the readers' lines below the headline figures
    for (const Reader *r : readers_.all()) r->table_lines(more);
    std::string console = "\n\tkarvel-report of " + run_.summary_shown + "\n\n";
    for (const auto &l : headline_lines(h)) console += "\t" + l + "\n";
    for (const auto &l : more) console += "\t" + l + "\n";
    console += "\n\tRecomputed from the rasters: the RMS error, the sums and B0 and B1 agree with the summary.\n";
    if (rasters_.pairs.masked())
        console += "\tThe positions left out (no data in either raster) are those the summary counts: " +
                   std::to_string(run_.s.left_out) + ".\n";
    if (!rasters_.geo_note.empty()) console += "\t" + rasters_.geo_note + "\n";
    say(console);

    figures_.push_back(headline_figure(h, options_.result, run_.s, more));
    for (const Figure &f : drawing_.early()) figures_.push_back(f);
    const std::string p = readers_.each([&](Reader &r) { return r.figures(h, figures_); });
    if (!p.empty()) return p;
    return drawing_.draw(figures_, setup_.out_base, options_.result);
}

// The report's JSON object.
std::string Report::report_json() const {
    Json json = Json::object();
    for (const Reader *r : readers_.all()) r->json(json);
    return json_text(json);
}

std::string Report::commit() {
    // The readers' files complete (the GeoTIFFs), then the JSON.
    std::vector<StagedFile *> files = {&json_.staged};
    std::string p = readers_.each([&](Reader &r) { return r.files(files); });
    if (!p.empty()) return p;
    if (!write_staged(json_, setup_.out_base + "_report.json", report_json()))
        return "cannot write " + printable(json_.staged.final_path) + ": " + std::strerror(json_.err);
    files.push_back(&drawing_.pdf());

    SetOf set{setup_.dir, report_manifest_name(options_.result), "karvel-report", options_.result};
    const std::string dod = options_.result + kDodSuffix;
    removed_dod_ = !options_.change.on && removable_file(setup_.dir + "/" + dod);
    if (removed_dod_) set.removed.push_back(dod);
    return scratch_commit(files, &json_.staged, final_dir(), set);
}

void Report::say_written() const {
    const std::string shown_base = setup_.folder_shown + options_.result;
    say("\n\tWritten: " + shown_base + "_report.json, " + shown_base + "_diff.tif, " + shown_base +
        "_resid.tif" +
        (options_.change.on ? ", " + shown_base + kDodSuffix : "") + "\n\tThe report: " + shown_base +
        "_report.pdf (" + std::to_string(figures_.size()) +
        " pages)\n\tEach figure as a PNG, with its gnuplot script and data: " + shown_base + "_report\\\n" +
        (removed_dod_ ? "\tThe detected change of an earlier report, " + shown_base + kDodSuffix +
                            ", was removed (this one has no --change).\n"
                      : ""));
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
