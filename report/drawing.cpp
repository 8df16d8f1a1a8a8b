#include "drawing.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "outfile.h"
#include "paths.h"
#include "scratch.h"

namespace {

constexpr int kGnuplotTimeout = 600;

// The gnuplot batches under way: a refusal stops them before it removes
// the scratch folder they draw in.
GnuplotBatch *running[2] = {nullptr, nullptr};

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

}  // namespace

Drawing::~Drawing() { running[0] = running[1] = nullptr; }

void Drawing::stop_all() {
    for (GnuplotBatch *b : running)
        if (b) b->stop();
}

std::string Drawing::begin(const std::string &gnuplot, const std::string &dir, const std::string &result,
                           std::vector<Figure> early) {
    gnuplot_ = gnuplot;
    report_dir_ = dir + "/." + result + "_report." + std::to_string(getpid()) + ".tmp";
    std::string p = scratch_begin(report_dir_);
    if (!p.empty()) return p;
    early_ = std::move(early);
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

std::string Drawing::draw(const std::vector<Figure> &figures, const std::string &out_base, const std::string &result) {
    for (const auto &f : figures) {
        if (drawn_early(f)) continue;
        const std::string p = write_figure(f);
        if (!p.empty()) return p;
    }
    std::string p = write("report_pdf.gp", pdf_script(figures, "../" + result + "_report.pdf"));
    if (!p.empty()) return "cannot write " + printable(report_dir_ + "/report_pdf.gp") + ": " + p;

    // The PDF and the other PNGs, beside the figures drawn already, by
    // gnuplots side by side: the PDF, each map's PNG (the longest, about
    // as long as the PDF), the small figures' PNGs together. So the cores
    // stay busy until all are done, and none waits long behind another.
    if (!staged_begin(pdf_, out_base + "_report.pdf"))
        return "cannot write " + printable(pdf_.final_path) + ": " + std::strerror(errno);
    std::vector<GnuplotJob> jobs = {{"out=" + gp_quote("../" + base_name(pdf_.temp_path)), "report_pdf.gp", ""}};
    GnuplotJob small;
    for (const auto &f : figures) {
        if (drawn_early(f)) continue;
        if (f.map) jobs.emplace_back();
        if (!png_job(f, f.map ? jobs.back() : small)) return "too many figures";
    }
    if (!small.script.empty()) jobs.push_back(std::move(small));
    late_batch_.start(gnuplot_, report_dir_, std::move(jobs));
    jobs = late_batch_.wait(kGnuplotTimeout);
    for (auto &j : early_batch_.wait(kGnuplotTimeout)) jobs.push_back(std::move(j));
    for (const auto &j : jobs)
        if (!j.problem.empty()) return j.problem;
    return "";
}

std::string Drawing::write(const std::string &name, const std::string &bytes) {
    if (!scratch_record(name)) return "too many files";
    return write_and_commit(report_dir_ + "/" + name, bytes);
}

// Writes a figure's data (once for data that figures share: the relief)
// and its script into the scratch folder.
std::string Drawing::write_figure(const Figure &f) {
    for (const auto &d : f.data) {
        if (std::find(data_written_.begin(), data_written_.end(), d.first) != data_written_.end()) continue;
        data_written_.push_back(d.first);
        const std::string q = write(d.first, d.second);
        if (!q.empty()) return "cannot write " + printable(report_dir_ + "/" + d.first) + ": " + q;
    }
    const std::string q = write(f.name + ".gp", f.script);
    return q.empty() ? q : "cannot write " + printable(report_dir_ + "/" + f.name + ".gp") + ": " + q;
}

// Adds a figure's PNG to a job: several figures are drawn by one gnuplot,
// one after the other (each script sets its terminal and resets the rest),
// as starting a gnuplot costs more than drawing a small figure.
bool Drawing::png_job(const Figure &f, GnuplotJob &job) {
    if (!scratch_record(f.name + ".png")) return false;
    if (!job.script.empty()) job.setting += "; load " + gp_quote(job.script) + "; ";
    job.setting += "out=" + gp_quote(f.name + ".png");
    job.script = f.name + ".gp";
    return true;
}

bool Drawing::drawn_early(const Figure &f) const {
    return std::any_of(early_.begin(), early_.end(), [&](const Figure &e) { return e.name == f.name; });
}
