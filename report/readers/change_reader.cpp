#include "change_reader.h"

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "change_charts.h"
#include "class_figures.h"
#include "dispatch.h"
#include "map_means.h"
#include "numfmt.h"
#include "paths.h"

std::string ChangeReader::prepare(const Setup &setup) {
    if (!o_.on) return "";
    const Summary &s = setup.run->s;
    if (s.image)
        return "--change: the rasters of " + printable(setup.run->summary_shown) +
               " are 8-bit images: a change budget is made of elevation models only";
    setup_ = &setup;
    ground_ = setup.rasters->ground();
    cols_ = s.cols;
    detected_ = std::make_unique<BlockMeans>(s.lines, s.cols, kPictureSide);
    row_.resize(size_t(s.cols));
    rule_ = fixed_detection(o_);
    const std::string space = space_problem(setup.dir, uint64_t(s.lines) * uint64_t(s.cols) * 4);
    if (!space.empty())
        return "the GeoTIFF of the detected change may not fit on the disk (uncompressed, at most): " + space;
    if (!staged_begin(dod_file_, setup.out_base + kDodSuffix))
        return "cannot create a file in " + printable(setup.folder_shown) + ": " + std::strerror(errno);
    const std::string p = dod_tif_.create(dod_file_.temp_path, s.lines, s.cols, setup.rasters->geo, setup.unit, true);
    return p.empty() ? p : "cannot write a GeoTIFF in " + printable(setup.folder_shown) + ": " + p;
}

namespace {

// The distribution's bins to begin with: an eighth of the threshold (a
// centimetre without one).
double bin_width(double limit) { return limit > 0 ? limit / 8 : 0.01; }

// Each float as a double, 0 where it is not a number: by a mask of bits,
// in vector code.
[[KARVEL_VECTOR_CLONES]] void numbers_or_zero(const float *__restrict in, size_t n, double *__restrict out) {
    for (size_t j = 0; j < n; j++) {
        const double x = in[j];
        const uint64_t number = uint64_t(0) - uint64_t(x == x);
        out[j] = std::bit_cast<double>(std::bit_cast<uint64_t>(x) & number);
    }
}

}  // namespace

void ChangeReader::add(int line, const double *d, const unsigned char *keep, const int32_t *slope,
                       const std::vector<Detection> &rules, const Detection &fallback) {
    float *dod = dod_tif_.next_line();
    const double area = cell_area(ground_, line);
    sums_.add_line(d, keep, cols_, area, slope, rules, fallback, dod);
    histogram_->add(d, keep, cols_, area);
    written_ = dod && dod_tif_.line_filled() && written_;
    if (!dod) return;
    numbers_or_zero(dod, row_.size(), row_.data());
    detected_->add_line(line, row_.data(), keep);
}

std::string ChangeReader::line(const Line &l) {
    if (!o_.on) return "";
    if (!stable_.budget_sigma()) {
        if (!histogram_) histogram_ = std::make_unique<ChangeHistogram>(bin_width(rule_.limit));
        add(l.index, l.d, l.keep, nullptr, {rule_}, rule_);
    }
    return "";
}

// The σ of each slope class known, each line again with its slope classes.
std::string ChangeReader::finish() {
    if (!stable_.budget_sigma()) return "";
    histogram_ = std::make_unique<ChangeHistogram>(bin_width(stable_.fallback().limit));
    return stable_.walk_again(false, [&](const ClassLines::Ready &r, const double *, const unsigned char *) {
        add(r.line, r.d, r.keep, r.slope, stable_.rules(), stable_.fallback());
        for (const Watch &w : watches_) w(r);
    });
}

// The detected change over the relief, and the budget as bars.
std::string ChangeReader::figures(const Headline &h, std::vector<Figure> &out) {
    if (!o_.on) return "";
    const Rasters &r = *setup_->rasters;
    MapCells m;
    const std::string p = map_cells(r.geo, double(r.in[0].values[5]), maps_.first(), *detected_, m);
    if (!p.empty()) return "GDAL could not shade the relief of the first DEM: " + p;
    m.outlines = &maps_.outlines();
    out.push_back(map_figure("change_detected", "change detected, second - first", m, h.unit));
    out.push_back(
        change_histogram_figure(*histogram_, stable_.budget_sigma() ? stable_.fallback().limit : rule_.limit));
    out.push_back(budget_figure(sums_.budget()));
    return "";
}

std::string ChangeReader::threshold_text() const {
    if (o_.method == ChangeMethod::lod) return "|d| > " + exact_number(o_.lod) + " m";
    if (stable_.budget_sigma())
        return "|d| >= z " + fixed_decimals(confidence_z(o_.confidence), 3) +
               " x sigma_DoD of the slope class, the NMAD of d on stable cells";
    return "|d| >= " + fixed_decimals(rule_.limit, 3) + " m, z " + fixed_decimals(confidence_z(o_.confidence), 3) +
           " x sigma_DoD " + fixed_decimals(rule_.error, 3) + " m";
}

void ChangeReader::table_lines(std::vector<std::string> &out) const {
    if (!o_.on) return;
    out.push_back("");
    for (auto &l : budget_lines(sums_.budget(), threshold_text())) out.push_back(l);
}

void ChangeReader::json(Json &doc) const {
    if (!o_.on) return;
    Json c = Json::object();
    if (o_.method == ChangeMethod::lod) {
        c["method"] = "lod";
        c["lod_m"] = o_.lod;
    } else {
        c["method"] = stable_.budget_sigma() ? "stable" : "sigma";
        if (stable_.budget_sigma())
            stable_.change_json(c);
        else
            c["sigma_dod_m"] = rule_.error;
        c["confidence"] = o_.confidence;
        c["z"] = confidence_z(o_.confidence);
    }
    budget_json(sums_.budget(), c);
    doc["change"] = c;
}

std::string ChangeReader::files(std::vector<StagedFile *> &out) {
    if (!o_.on) return "";
    const std::string p = dod_tif_.close();
    if (!p.empty() || !written_) return "the GeoTIFF of the detected change could not be written: " + p;
    out.push_back(&dod_file_);
    return "";
}
