#include "zones_reader.h"

#include <algorithm>

#include "class_figures.h"
#include "numfmt.h"
#include "paths.h"

std::string ZoneFigures::prepare(const Setup &setup) {
    if (given_.empty()) return "";
    setup_ = &setup;
    const Rasters &r = *setup.rasters;
    if (!r.geo.known)
        return "--zones " + printable(given_) + " cannot be laid on the compared rasters, which have no georeferencing: " +
               r.geo_note;
    ground_ = r.ground();
    const int lines = setup.run->s.lines, cols = setup.run->s.cols;
    const std::string p = zones_.open(given_, ground_, lines, cols);
    if (!p.empty()) return "--zones: " + p;
    outlines_ = zones_.outlines();
    table_.classes(zones_.size());
    budgets_.resize(zones_.size());
    lines_ = std::make_unique<ZoneLines>(zones_, lines, cols);
    if (o_.on && o_.method != ChangeMethod::stable) rule_ = fixed_detection(o_);
    return "";
}

// A large comparison's zones: a sample of each zone's differences from 64
// bands of 8 lines spread over the rasters, so that the ranks of the zones
// large enough are sought during the walk (the others hold their
// differences), as the classes' are.
std::string ZoneFigures::start() {
    if (given_.empty() || stats_.held()) return "";
    const int lines = setup_->run->s.lines, cols = setup_->run->s.cols;
    const int band_lines = std::min(lines, 8);
    const int bands = std::max(1, std::min(lines / band_lines, 64));
    const size_t stride = std::max<size_t>(1, size_t(bands) * size_t(band_lines) * size_t(cols) / kRankSample);
    std::vector<std::vector<double>> samples(zones_.size());
    size_t seen = 0;
    for (int b = 0; b < bands; b++) {
        const int from = std::clamp(int((2LL * b + 1) * lines / (2LL * bands)) - band_lines / 2, 0,
                                    std::max(0, lines - band_lines));
        const std::string p = sample_band(from, std::min(lines, from + band_lines), stride, samples, seen);
        if (!p.empty()) return "--zones: " + p;
    }
    const long long n = setup_->run->n;
    for (size_t k = 0; k < samples.size(); k++) {
        const size_t in = seen ? size_t(double(n) * double(samples[k].size()) / double(seen)) : 0;
        if (in >= 4 * kRankSample && samples[k].size() >= 1024) table_.seek(k, in, std::move(samples[k]));
    }
    return "";
}

std::string ZoneFigures::sample_band(int from, int to, size_t stride, std::vector<std::vector<double>> &out,
                                     size_t &seen) {
    const size_t cols = size_t(setup_->run->s.cols), count = size_t(to - from);
    std::vector<int32_t> ids(zones_.layers() * count * cols);
    for (size_t l = 0; l < zones_.layers(); l++) {
        const std::string p = zones_.rasterize(l, from, int(count), ids.data() + l * count * cols, cols);
        if (!p.empty()) return p;
    }
    BothLines &pairs = setup_->rasters->pairs;
    std::vector<double> d(cols);
    std::vector<float> elevations(cols);
    for (int t = from; t < to; t++) {
        const std::string p = pairs.read_at(t);
        if (!p.empty()) return p;
        pairs.first_floats(elevations.data(), d.data());
        const unsigned char *keep = pairs.keep();
        for (size_t j = size_t(t) * 2654435761u % stride; j < cols; j += stride) {
            if (keep && !keep[j]) continue;
            seen++;
            for (size_t l = 0; l < zones_.layers(); l++) {
                const int32_t z = ids[(l * count + size_t(t - from)) * cols + j];
                if (z >= 0) out[size_t(z)].push_back(d[j]);
            }
        }
    }
    return "";
}

void ZoneFigures::add(int line, const double *d, const unsigned char *keep, const int32_t *ids, bool budget,
                      const int32_t *slope, const std::vector<Detection> &rules, const Detection &fallback) {
    const int cols = setup_->run->s.cols;
    const double area = budget ? cell_area(ground_, line) : 0;
    for (size_t l = 0; l < zones_.layers(); l++) {
        const int32_t *zone = ids + l * size_t(cols);
        if (!budget) table_.add(d, keep, zone, cols);
        // Run by run of one zone, each run summed as a line of its own.
        for (int j = 0; budget && j < cols;) {
            int end = j + 1;
            while (end < cols && zone[end] == zone[j]) end++;
            if (zone[j] >= 0)
                budgets_[size_t(zone[j])].add_line(d + j, keep ? keep + j : nullptr, end - j, area,
                                                   slope ? slope + j : nullptr, rules, fallback);
            j = end;
        }
    }
}

std::string ZoneFigures::take_behind(BehindLine &l) {
    const int32_t *ids = nullptr;
    const std::string p = lines_->line(l.index, ids);
    if (!p.empty()) return "--zones: " + p;
    for (const Watch &w : watches_) w(l.index, ids);
    const unsigned char *keep = l.has_keep ? l.keep.data() : nullptr;
    add(l.index, l.d.data(), keep, ids, false, nullptr, {}, rule_);
    if (o_.on && o_.method != ChangeMethod::stable) add(l.index, l.d.data(), keep, ids, true, nullptr, {rule_}, rule_);
    return "";
}

// The rasters walked again, each line with its zones and (with --sigma
// stable) its slope classes.
std::string ZoneFigures::walk_again(const std::function<void(int line, const double *d, const unsigned char *keep,
                                                             const int32_t *ids, const int32_t *slope)> &take) {
    ZoneLines zones(zones_, setup_->run->s.lines, setup_->run->s.cols);
    std::string p;
    auto line = [&](int i, const double *d, const unsigned char *keep, const int32_t *slope) {
        const int32_t *ids = nullptr;
        if (p.empty()) p = zones.line(i, ids);
        if (p.empty()) take(i, d, keep, ids, slope);
    };
    if (o_.on && o_.method == ChangeMethod::stable) {
        const std::string q = stable_.walk_again(false, [&](const ClassLines::Ready &r, const double *, const unsigned char *) {
            line(r.line, r.d, r.keep, r.slope);
        });
        return q.empty() ? p : q;
    }
    const std::string q = ::walk_again(setup_->rasters->pairs, setup_->run->s.lines, setup_->run->s.cols,
                                       [&](int i, const float *, const double *d, const unsigned char *keep) {
                                           line(i, d, keep, nullptr);
                                           return p;
                                       });
    return q.empty() ? p : q;
}

// The differences of zone k walked again, in the order they were added.
ValueStream ZoneFigures::again(size_t k) {
    return [this, k](const ValueBlock &take) {
        const int cols = setup_->run->s.cols;
        std::vector<double> row;
        const std::string p = walk_again([&](int, const double *d, const unsigned char *keep, const int32_t *ids,
                                             const int32_t *) {
            for (size_t l = 0; l < zones_.layers(); l++) {
                row.clear();
                for (int j = 0; j < cols; j++)
                    if (ids[l * size_t(cols) + size_t(j)] == int32_t(k) && (!keep || keep[j])) row.push_back(d[j]);
                if (!row.empty()) take(row.data(), row.size());
            }
        });
        if (!p.empty() && problem_.empty()) problem_ = "--zones: " + p;
    };
}

std::string ZoneFigures::finish() {
    if (given_.empty()) return "";
    fill_rows(rows_, table_.finish([&](size_t k) { return again(k); }, setup_->unit));
    if (!problem_.empty() || !o_.on || o_.method != ChangeMethod::stable) return problem_;
    // The σ of each slope class known: the zones' budgets.
    const std::string p = walk_again([&](int line, const double *d, const unsigned char *keep, const int32_t *ids,
                                         const int32_t *slope) {
        add(line, d, keep, ids, true, slope, stable_.rules(), stable_.fallback());
    });
    return p.empty() ? p : "--zones: " + p;
}

void ZoneFigures::table_lines(std::vector<std::string> &out) const {
    if (given_.empty()) return;
    auto cell = [](const std::string &s, size_t w) { return s.size() >= w ? s + " " : std::string(w - s.size(), ' ') + s; };
    // The classes' table, each row's class given the zone's name.
    std::vector<ClassRow> rows = rows_;
    for (size_t k = 0; k < rows.size(); k++) rows[k].value = (long long)k;
    std::vector<std::string> lines = class_rows_lines(rows, false, setup_->unit);
    out.push_back("");
    out.push_back("By zone of " + printable(given_) + " (figures of d = second - first in " + setup_->unit + ")");
    out.push_back(cell("zone", 9) + lines[1].substr(9));
    for (size_t k = 0; k < rows.size(); k++) out.push_back(cell(zones_.name(k), 9) + lines[k + 2].substr(9));
    if (!o_.on) return;
    out.push_back("");
    out.push_back("Change by zone (detected, m3)");
    out.push_back(cell("zone", 9) + cell("erosion", 16) + cell("deposition", 16) + cell("net", 16) + cell("+/-", 14));
    for (size_t k = 0; k < budgets_.size(); k++) {
        const ChangeBudget &b = budgets_[k].budget();
        out.push_back(cell(zones_.name(k), 9) + cell(fixed_decimals(b.erosion.volume_m3, 1), 16) +
                      cell(fixed_decimals(b.deposition.volume_m3, 1), 16) + cell(fixed_decimals(b.net_m3(), 1), 16) +
                      cell(fixed_decimals(b.net_error_m3(), 1), 14));
    }
}

void ZoneFigures::json(Json &doc) const {
    if (given_.empty()) return;
    const Json figures = class_rows_json(rows_, false);
    Json rows = Json::array();
    for (size_t k = 0; k < rows_.size(); k++) {
        Json o = Json::object();
        o["zone"] = zones_.name(k);
        for (const auto &[key, value] : figures[k].items())
            if (key != "class") o[key] = value;
        if (o_.on) {
            Json c = Json::object();
            budget_json(budgets_[k].budget(), c);
            o["change"] = c;
        }
        rows.push_back(o);
    }
    doc["by_zone"] = rows;
}
