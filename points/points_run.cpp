#include "points_run.h"

#include <cpl_error.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

#include "check_points.h"
#include "dem.h"
#include "drawing.h"
#include "figures.h"
#include "gnuplot.h"
#include "input.h"
#include "json.h"
#include "numfmt.h"
#include "outfile.h"
#include "output.h"
#include "paths.h"
#include "point_charts.h"
#include "points_coreg.h"
#include "points_options.h"
#include "result_set.h"
#include "scratch.h"
#include "staged.h"
#include "stale.h"
#include "tables.h"

namespace {

void say(const std::string &text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

// What one run found, for the files and the console.
struct Found {
    Dem dem;
    CheckPoints p;
    AtPoints at;
    std::vector<double> d;
    PointFigures f, before;
    std::vector<ClassFigures> classes;
    PointsCoreg coreg;
    std::string gnuplot;  // draws the figures
};

// The figures point_charts draws.
constexpr int kFigures = 5;

// The operands checked, the DEM opened and the points read into it.
void read_inputs(const PointsOptions &o, Found &r) {
    r.gnuplot = find_gnuplot();
    if (r.gnuplot.empty())
        throw Refusal{
            "gnuplot is not installed (Debian package gnuplot-nox); it draws the figures, so nothing was "
            "written"};
    std::string problem = folder_problem(o.folder);
    if (!problem.empty()) throw Refusal{"the folder \"" + printable(o.folder) + "\" " + problem};
    problem = name_problem(o.result);
    if (!problem.empty()) throw Refusal{"the result name \"" + printable(o.result) + "\" " + problem};
    problem = open_dem(o.dem, o.band, r.dem);
    if (!problem.empty()) throw Refusal{"the DEM " + printable(o.dem) + " cannot be used: " + problem};
    problem = read_points(o, r.p);
    if (!problem.empty()) throw Refusal{"the points " + printable(o.points) + " cannot be used: " + problem};
    const std::string who = "the points " + printable(o.points);
    size_t with_z = 0;
    for (size_t k = 0; k < r.p.size(); k++) with_z += r.p.reason[k] == Reason::none;
    if (with_z == 0)
        throw Refusal{who + " cannot be used: no point has an elevation" +
                      (o.z_field.empty() ? std::string(" (--z FIELD takes it from a field)") : std::string())};
    if (r.p.wkt.empty()) throw Refusal{who + " cannot be used: they have no coordinate system (--srs gives one)"};
    problem = to_dem_system(r.p, r.dem.src.wkt);
    if (!problem.empty()) throw Refusal{who + " cannot be used: " + problem};
}

// The DEM at the points, moved with --coregister; the figures.
void compare(const PointsOptions &o, Found &r) {
    const Sampling how{o.near, o.coregister, 0, 0};
    std::string problem = sample_dem(r.dem, r.p, how, r.at);
    if (!problem.empty()) throw Refusal{"the DEM " + printable(o.dem) + " cannot be read: " + problem};
    size_t on = 0;
    for (Reason reason : r.at.reason) on += reason == Reason::none;
    if (on == 0)
        throw Refusal{"no point of " + printable(o.points) + " with an elevation lies on a cell of the DEM " +
                      printable(o.dem) + " with data"};
    const double e = o.rmse_given ? o.checkpoint_rmse : -1;
    if (o.coregister) {
        r.before = point_figures(differences(r.p, r.at), r.at.reason, e);
        problem = coregister_points(
            r.dem, r.p, o.near, o.remove_bias, [](const std::string &t) { say(t + "\n"); }, r.at, r.coreg);
        if (!problem.empty()) throw Refusal{"the DEM " + printable(o.dem) + " cannot be co-registered: " + problem};
    }
    r.d = differences(r.p, r.at);
    r.f = point_figures(r.d, r.at.reason, e);
    if (!o.class_field.empty()) r.classes = class_figures(r.d, r.at.reason, r.p.cls, e);
}

std::string points_json(const Found &r) {
    Json j = Json::object();
    figures_json(r.f, j);
    if (!r.classes.empty()) {
        Json by = Json::array();
        for (const ClassFigures &c : r.classes) {
            Json one = Json::object();
            one["class"] = c.cls;
            figures_json(c.f, one);
            by.push_back(one);
        }
        j["by_class"] = by;
    }
    return json_text(j);
}

// The title of the console's table and of the PDF's first page.
std::string title(const PointsOptions &o) {
    return "karvel-points of " + printable(o.dem) + " against " + printable(o.points);
}

// The figures drawn in a scratch folder of dir, the PDF staged.
void draw_figures(const PointsOptions &o, const std::string &dir, const Found &r, Drawing &drawing) {
    Relief relief;
    std::string problem = dem_relief(r.dem, relief);
    if (!problem.empty()) throw Refusal{"the DEM " + printable(o.dem) + " cannot be drawn: " + problem};
    std::vector<std::string> table = {title(o), ""};
    for (const std::string &l : figures_lines(r.f)) table.push_back(l);
    const std::string name = o.result + "_points";
    const std::vector<Figure> figures = point_charts(table, r.dem, relief, r.p, r.at, r.d, r.f);
    // Those after the table and the map are drawn while these are.
    problem = drawing.begin(r.gnuplot, dir, name, std::vector<Figure>(figures.begin() + 2, figures.end()));
    if (problem.empty()) problem = drawing.draw(figures, dir + "/" + name, name);
    if (!problem.empty()) throw Refusal{problem};
}

// Every file staged, then renamed into the folder together, and the
// figures moved into R_points_report/. True when an earlier R_coreg.json
// was removed.
bool write_files(const PointsOptions &o, const ImagesDir &images, const Found &r) {
    const std::string dir = folder_dir(images, o.folder);
    // Until the files take their names, a refusal takes away the folders made.
    struct Made {
        std::vector<std::string> folders;
        bool keep = false;
        ~Made() {
            for (auto it = folders.rbegin(); !keep && it != folders.rend(); ++it) rmdir(it->c_str());
        }
    } made{make_folder(dir)};
    remove_stale("karvel-points", dir);
    const std::string base = dir + "/" + o.result;
    // The GeoPackage, the slowest to write, and the CSV table are written
    // meanwhile by threads of their own, while gnuplot draws.
    StagedFile gpkg;
    if (!staged_begin(gpkg, base + "_points.gpkg"))
        throw Refusal{"cannot write " + printable(gpkg.final_path) + ": " + std::strerror(errno)};
    std::string gpkg_problem;
    std::jthread gpkg_writer([&] {
        CPLPushErrorHandler(CPLQuietErrorHandler);
        gpkg_problem = write_points_gpkg(gpkg.temp_path, r.p, r.at, r.d, r.dem.src.wkt);
        CPLPopErrorHandler();
    });
    OutFile json, csv, coreg;
    if (!csv.begin(base + "_points.csv"))
        throw Refusal{"cannot write " + printable(base + "_points.csv") + ": " + std::strerror(csv.err)};
    bool csv_written = false;
    std::jthread csv_writer([&] {
        const std::string text = points_csv(r.p, r.at, r.d);
        csv.write(text.data(), text.size());
        csv_written = csv.finish();
    });
    Drawing drawing;
    draw_figures(o, dir, r, drawing);
    auto stage = [](OutFile &f, const std::string &path, const std::string &bytes) {
        if (!write_staged(f, path, bytes))
            throw Refusal{"cannot write " + printable(path) + ": " + std::strerror(f.err)};
    };
    stage(json, base + "_points.json", points_json(r));
    std::vector<StagedFile *> files = {&json.staged, &csv.staged, &gpkg, &drawing.pdf()};
    if (o.coregister) {
        stage(coreg, base + kCoregSuffix, points_coreg_json(r.coreg, o.near));
        files.push_back(&coreg.staged);
    }
    csv_writer.join();
    if (!csv_written) throw Refusal{"cannot write " + printable(csv.staged.final_path) + ": " + std::strerror(csv.err)};
    gpkg_writer.join();
    if (!gpkg_problem.empty()) throw Refusal{"cannot write " + printable(gpkg.final_path) + ": " + gpkg_problem};
    // Without --coregister, a shift found by an earlier run under the same
    // result name would be read as this one's: it goes in the commit.
    const std::string earlier = base + kCoregSuffix;
    struct stat st;
    const bool had_coreg = !o.coregister && lstat(earlier.c_str(), &st) == 0;
    std::vector<std::string> removed;
    if (!o.coregister) removed.push_back(o.result + kCoregSuffix);
    const std::string moved = scratch_commit(files, &json.staged, base + "_points_report",
                                             {dir, points_manifest_name(o.result), "karvel-points", o.result, removed});
    if (!moved.empty()) throw Refusal{moved};
    made.keep = true;
    return had_coreg;
}

void say_results(const PointsOptions &o, const Found &r, bool removed_coreg) {
    std::string t = "\n\t" + title(o) + "\n\n";
    if (o.coregister) {
        t += "\tBefore co-registration:\n";
        for (const std::string &l : figures_lines(r.before)) t += "\t" + l + "\n";
        t += "\n\tAfter co-registration (the DEM moved " + fixed_decimals(r.coreg.dx_m, 3) + " m east, " +
             fixed_decimals(r.coreg.dy_m, 3) + " m north" + (r.coreg.bias_removed ? ", its bias removed" : "") +
             (r.coreg.applied ? "" : ": no shift applied") + "):\n";
    }
    for (const std::string &l : figures_lines(r.f)) t += "\t" + l + "\n";
    for (const ClassFigures &c : r.classes) {
        t += "\n\tClass " + printable(c.cls) + ":\n";
        for (const std::string &l : figures_lines(c.f)) t += "\t" + l + "\n";
    }
    const std::string shown = shown_folder(o.folder) + o.result;
    t += "\n\tWritten: " + shown + "_points.json, " + shown + "_points.csv, " + shown + "_points.gpkg" +
         (o.coregister ? ", " + shown + kCoregSuffix : std::string()) + "\n\tThe figures: " + shown +
         "_points_report.pdf (" + std::to_string(kFigures) +
         " pages)\n\tEach figure as a PNG, with its gnuplot script "
         "and data: " +
         shown + "_points_report\\\n";
    if (removed_coreg) t += "\tThe co-registration of an earlier run, " + shown + kCoregSuffix + ", was removed.\n";
    say(t);
}

int refuse(const std::string &program, const std::string &message) {
    Drawing::stop_all();
    remove_scratch();
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", program.c_str(), message.c_str());
    staged_discard_all();
    return kPointsRefused;
}

}  // namespace

int points_main(const std::vector<std::string> &args, const std::string &program, const std::string &images_root) {
    PointsOptions o;
    if (const std::optional<int> done = parse_points_options(args, program, images_root, o)) return *done;
    staged_catch_signals();
    ImagesDir images;
    std::string message;
    if (!resolve_images_dir(images_root, images, message)) return refuse(program, message);
    CPLPushErrorHandler(CPLQuietErrorHandler);
    int status = kPointsDone;
    Found r;
    try {
        read_inputs(o, r);
        compare(o, r);
        const bool removed_coreg = write_files(o, images, r);
        say_results(o, r, removed_coreg);
    } catch (const Refusal &e) {
        status = refuse(program, e.message);
    }
    close_source(r.dem.src);
    CPLPopErrorHandler();
    return status;
}
