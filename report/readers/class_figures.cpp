#include "class_figures.h"

#include <algorithm>
#include <cmath>

#include "paths.h"

std::string walk_again(BothLines &pairs, int lines, int cols, const AgainLine &take) {
    std::vector<double> d(static_cast<size_t>(cols));
    std::vector<float> elevations(static_cast<size_t>(cols));
    pairs.rewind();
    std::string p;
    for (int i = 0; i < lines && p.empty(); i++) {
        pairs.next();
        pairs.first_floats(elevations.data(), d.data());
        p = take(i, elevations.data(), d.data(), pairs.keep());
    }
    return p;
}

// The slope classes of DEMs (images have none) and the raster of classes,
// opened and brought onto the compared grid before anything is written.
std::string ClassFigures::prepare(const Setup &setup) {
    setup_ = &setup;
    const Summary &s = setup.run->s;
    const Rasters &r = *setup.rasters;
    if (s.image && setup.edges_given)
        return "--slope-edges: the rasters of " + printable(setup.run->summary_shown) +
               " are 8-bit images, which have no slope: slope classes are made for DEMs only";
    ground_ = r.ground();
    sources_.ground = &ground_;
    sources_.lines = s.lines;
    sources_.cols = s.cols;
    sources_.slope_edges = s.image ? nullptr : &setup.slope_edges;
    // The slopes are those of the stored values, of which this many make a metre.
    sources_.slope_scale = std::round(1 / r.in[0].lines.factor());
    sources_.classes_path = setup.classes;
    sources_.classes_shown = printable(setup.classes);
    sources_.values = &values_;
    if (!setup.classes.empty() && !r.geo.known)
        return "--classes: the raster of classes " + printable(setup.classes) +
               " cannot be brought onto the compared rasters, which have no georeferencing: " + r.geo_note;
    if (!behind()) return "";
    slope_table_.classes(setup.slope_edges.size() - 1);
    const std::string p = walk_.begin(sources_, 0, s.lines);
    return p.empty() ? p : "--classes: " + p + " (the compared rasters' grid: the header " +
                               printable(header_name(r.in[0].shown)) + ")";
}

// A large comparison's classes are sampled before the walk (a small one
// holds every class's differences).
std::string ClassFigures::start() { return stats_.held() ? "" : sample(); }

std::string ClassFigures::take_behind(BehindLine &l) {
    std::string p = walk_.push(l.elevations, l.d, l.has_keep ? &l.keep : nullptr);
    if (p.empty()) p = take_lines(walk_);
    return p.empty() ? walk_.problem() : p;
}

std::string ClassFigures::take_lines(ClassLines &lines) {
    const int cols = setup_->run->s.cols;
    ClassLines::Ready r;
    while (lines.next(r)) {
        if (r.slope) slope_table_.add(r.d, r.keep, r.slope, cols);
        if (r.cls) {
            class_table_.classes(values_.size());
            class_table_.add(r.d, r.keep, r.cls, cols);
        }
        for (const Watch &w : watches_)
            if (std::string p = w(r); !p.empty()) return p;
    }
    return "";
}

// The figures of each class, the ranks the walk left unsettled found by
// walking that class again.
std::string ClassFigures::finish() {
    const std::string &unit = setup_->unit;
    const bool slope_again = slopes() && slope_table_.plan_again();
    const bool class_again = classes() && class_table_.plan_again();
    if (slope_again || class_again) {
        const std::string p = walk_tables_again(slope_again, class_again);
        if (!p.empty()) return p;
    }
    if (slopes()) {
        fill_rows(by_slope_, slope_table_.finish([&](size_t k) { return again(true, k); }, unit));
        for (size_t k = 0; k < by_slope_.size(); k++) {
            by_slope_[k].from_deg = setup_->slope_edges[k];
            by_slope_[k].to_deg = setup_->slope_edges[k + 1];
        }
    }
    if (classes()) {
        class_table_.classes(values_.size());
        fill_rows(by_class_, class_table_.finish([&](size_t k) { return again(false, k); }, unit));
        for (size_t k = 0; k < by_class_.size(); k++) by_class_[k].value = values_.value(k);
        std::sort(by_class_.begin(), by_class_.end(),
                  [](const ClassRow &a, const ClassRow &b) { return a.value < b.value; });
    }
    return problem_;
}

// The classes of both tables (those asked) walked again together, for
// what their walk only placed between two values of their samples.
std::string ClassFigures::walk_tables_again(bool slope, bool cls) {
    ClassSources src = sources_;
    if (!slope) src.slope_edges = nullptr;
    if (!cls) src.classes_path.clear();
    const int lines = setup_->run->s.lines, cols = setup_->run->s.cols;
    ClassLines band;
    std::string p = band.begin(src, 0, lines);
    if (!p.empty()) return p;
    return walk_again(setup_->rasters->pairs, lines, cols,
                      [&](int, const float *elevations, const double *d, const unsigned char *keep) {
                          std::string q = band.push(elevations, d, keep);
                          ClassLines::Ready r;
                          while (q.empty() && band.next(r)) {
                              if (slope) slope_table_.add_again(r.d, r.keep, r.slope, cols);
                              if (cls) class_table_.add_again(r.d, r.keep, r.cls, cols);
                          }
                          return q.empty() ? band.problem() : q;
                      });
}

// The differences of class k (of the slopes, or of the raster of classes)
// walked again: both rasters read, their classes taken again.
ValueStream ClassFigures::again(bool slope, size_t k) {
    return [this, slope, k](const ValueBlock &take) {
        ClassSources src = sources_;
        if (slope) src.classes_path.clear();
        else src.slope_edges = nullptr;
        const int lines = setup_->run->s.lines, cols = setup_->run->s.cols;
        BothLines &pairs = setup_->rasters->pairs;
        ClassLines band;
        std::string p = band.begin(src, 0, lines);
        std::vector<double> row;
        if (p.empty())
            p = walk_again(pairs, lines, cols, [&](int, const float *elevations, const double *d, const unsigned char *keep) {
                std::string q = band.push(elevations, d, keep);
                ClassLines::Ready r;
                while (q.empty() && band.next(r)) {
                    const int32_t *c = slope ? r.slope : r.cls;
                    row.clear();
                    for (int j = 0; j < cols; j++)
                        if (c[j] == int32_t(k) && (!r.keep || r.keep[j])) row.push_back(r.d[j]);
                    if (!row.empty()) take(row.data(), row.size());
                }
                return q.empty() ? band.problem() : q;
            });
        if (!p.empty() && problem_.empty()) problem_ = p;
    };
}

void ClassFigures::table_lines(std::vector<std::string> &out) const {
    if (slopes()) {
        out.push_back("");
        for (auto &l : class_rows_lines(by_slope_, true, setup_->unit)) out.push_back(l);
    }
    if (classes()) {
        out.push_back("");
        for (auto &l : class_rows_lines(by_class_, false, setup_->unit)) out.push_back(l);
    }
}

std::string ClassFigures::figures(const Headline &h, std::vector<Figure> &out) {
    if (slopes()) out.push_back(class_figure(by_slope_, true, h.unit));
    if (classes()) out.push_back(class_figure(by_class_, false, h.unit));
    return "";
}

// Each class's sample: its differences at every so many positions of the bands.
struct ClassFigures::Sample {
    std::vector<std::vector<double>> by_slope, by_class;
    size_t seen = 0;  // positions looked at
};

// A large comparison's classes: a sample of each class's differences, from
// bands of lines spread over the rasters (each band's slopes and classes
// taken as the walk takes them), so that the ranks of the classes large
// enough are sought during the walk; the others hold their differences.
std::string ClassFigures::sample() {
    if (!behind()) return "";
    const int lines = setup_->run->s.lines, cols = setup_->run->s.cols;
    // 64 bands of 8 lines spread over the rasters (the slopes of a band
    // need a line more on either side, and a raster of classes a warp set
    // up for each band).
    const int band_lines = std::min(lines, 8);
    const int bands = std::max(1, std::min(lines / band_lines, 64));
    const size_t stride = std::max<size_t>(1, size_t(bands) * size_t(band_lines) * size_t(cols) / kRankSample);
    Sample s;
    s.by_slope.resize(slope_table_.size());
    for (int b = 0; b < bands; b++) {
        const int from = std::clamp(int((2LL * b + 1) * lines / (2LL * bands)) - band_lines / 2, 0,
                                    std::max(0, lines - band_lines));
        const std::string p = sample_band(from, std::min(lines, from + band_lines), stride, s);
        if (!p.empty()) return p;
    }
    // A class of about n positions is sought during the walk where its
    // sample can bracket its ranks, as the whole raster's is.
    const long long n = setup_->run->n;
    auto seek = [&](ClassTable &table, std::vector<std::vector<double>> &samples) {
        for (size_t k = 0; k < samples.size(); k++) {
            const size_t in = s.seen ? size_t(double(n) * double(samples[k].size()) / double(s.seen)) : 0;
            if (in >= 4 * kRankSample && samples[k].size() >= 1024) table.seek(k, in, std::move(samples[k]));
        }
    };
    seek(slope_table_, s.by_slope);
    class_table_.classes(values_.size());
    seek(class_table_, s.by_class);
    return "";
}

// The sample of the band of lines [from, to).
std::string ClassFigures::sample_band(int from, int to, size_t stride, Sample &out) {
    const int cols = setup_->run->s.cols;
    BothLines &pairs = setup_->rasters->pairs;
    std::vector<double> d(static_cast<size_t>(cols));
    std::vector<float> elevations(static_cast<size_t>(cols));
    ClassLines band;
    std::string p = band.begin(sources_, from, to);
    for (int t = band.first_pushed(); t <= band.last_pushed() && p.empty(); t++) {
        p = pairs.read_at(t);
        if (!p.empty()) break;
        pairs.first_floats(elevations.data(), d.data());
        p = band.push(elevations.data(), d.data(), pairs.keep());
        ClassLines::Ready r;
        while (p.empty() && band.next(r))
            for (size_t j = size_t(r.line) * 2654435761u % stride; j < size_t(cols); j += stride) {
                if (r.keep && !r.keep[j]) continue;
                out.seen++;
                if (r.slope && r.slope[j] >= 0) out.by_slope[size_t(r.slope[j])].push_back(r.d[j]);
                if (r.cls && r.cls[j] >= 0) {
                    if (out.by_class.size() <= size_t(r.cls[j])) out.by_class.resize(size_t(r.cls[j]) + 1);
                    out.by_class[size_t(r.cls[j])].push_back(r.d[j]);
                }
            }
        if (p.empty()) p = band.problem();
    }
    return p;
}

void ClassFigures::json(Json &doc) const {
    if (slopes()) doc["by_slope"] = class_rows_json(by_slope_, true);
    if (classes()) doc["by_class"] = class_rows_json(by_class_, false);
}
