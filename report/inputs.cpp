#include "inputs.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "description.h"
#include "envi_header.h"
#include "maps.h"
#include "numfmt.h"

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

void BothLines::init(Input &a, Input &b, int cols) {
    a_ = &a, b_ = &b;
    cols_ = size_t(cols);
    masked_ = a.nodata.declared || b.nodata.declared;
    x_.resize(cols_);
    y_.resize(cols_);
    if (masked_) keep_.resize(cols_);
    if (a.nodata.declared) first_keep_.resize(cols_);
}

void BothLines::rewind() {
    a_->lines.rewind();
    b_->lines.rewind();
}

void BothLines::next() {
    if (!masked_) {
        x_at_ = a_->lines.next_line();
        y_at_ = b_->lines.next_line();
        return;
    }
    convert(a_->lines.next_samples(), b_->lines.next_samples());
}

std::string BothLines::read_at(int line) {
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

void BothLines::first_floats(float *elevations, double *d) const {
    const double *x = x_at_, *y = y_at_;
    const unsigned char *first = first_keep();
    // x is the stored value times the unit's factor: the stored value comes
    // back whole, exactly (it is below 2^31, the product off by an ulp at most).
    // Rounded by a conversion, which the compiler does inline, where
    // std::round is a call per cell: the same whole number, since the
    // product lies within an ulp of it, far from any half.
    const double per_unit = std::round(1 / a_->lines.factor());
    for (size_t j = 0; j < cols_; j++) {
        if (d) d[j] = y[j] - x[j];
        const double v = x[j] * per_unit;
        elevations[j] = !first || first[j] ? float(int64_t(v < 0 ? v - 0.5 : v + 0.5)) : NAN;
    }
}

void BothLines::convert(const unsigned char *s1, const unsigned char *s2) {
    if (masked_) mark_kept(s1, a_->kind, a_->nodata, s2, b_->kind, b_->nodata, cols_, keep_.data());
    if (!first_keep_.empty()) mark_kept(s1, a_->kind, a_->nodata, s1, a_->kind, NoData(), cols_, first_keep_.data());
    convert_samples(s1, a_->lines.sample_bytes(), cols_, a_->lines.factor(), x_.data());
    convert_samples(s2, b_->lines.sample_bytes(), cols_, b_->lines.factor(), y_.data());
    x_at_ = x_.data();
    y_at_ = y_.data();
}

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

namespace {

// A summary that leaves positions out where no header declares a no-data
// value, or none where one does, was not made from these rasters.
std::string left_out_agree(const Input (&in)[2], const Summary &s, const std::string &summary_shown) {
    for (const Input &one : in) {
        if (!one.nodata.declared || s.left_out >= 0) continue;
        return "the summary " + printable(summary_shown) + " leaves no position out, but the header " +
               printable(header_name(one.shown)) + " declares the no-data value " + std::to_string(one.nodata.value) +
               ": the header is newer than the run";
    }
    if (s.left_out >= 0 && !in[0].nodata.declared && !in[1].nodata.declared)
        return "the summary " + printable(summary_shown) + " leaves out " + std::to_string(s.left_out) +
               " positions without data, but neither " + printable(header_name(in[0].shown)) + " nor " +
               printable(header_name(in[1].shown)) + " declares a no-data value";
    return "";
}

}  // namespace

std::string Rasters::open(const ImagesDir &images, const Summary &s, const std::string &summary_shown) {
    for (int k = 0; k < 2; k++) {
        const std::string p = open_input(in[k], images, k == 0 ? s.first_shown : s.second_shown, s, k);
        if (!p.empty()) return p;
    }
    const std::string p = left_out_agree(in, s, summary_shown);
    if (!p.empty()) return p;
    lines = s.lines;
    pairs.init(in[0], in[1], s.cols);
    geo = georef_of(in[0].real, in[0].shown, s.lines, s.cols, geo_note);
    return "";
}

Ground Rasters::ground(bool *sized) const {
    const double side = in[0].values[5] > 0 ? double(in[0].values[5]) : 1.0;
    if (sized) *sized = geo.known || in[0].values[5] > 0;
    if (geo.known) return ground_of(geo.transform, geo.wkt);
    const double gt[6] = {0, side, 0, 0, 0, -side};
    return ground_of(gt, "");
}

std::string Rasters::unchanged() const {
    for (int k = 0; k < 2; k++) {
        const std::string p = raster_changed(in[k].file);
        if (!p.empty()) return "the raster " + printable(in[k].shown) + " changed while the report read it: " + p;
    }
    return "";
}

void Rasters::walk_kept(const std::function<void(const double *x, const double *y, int n)> &take) {
    pairs.rewind();
    for (int i = 0; i < lines; i++) {
        pairs.next();
        const int n = pairs.compact();
        take(pairs.x(), pairs.y(), n);
    }
}

ValueStream Rasters::differences() {
    return [this](const ValueBlock &take) {
        std::vector<double> d(size_t(pairs.cols()));
        walk_kept([&](const double *x, const double *y, int n) {
            for (int j = 0; j < n; j++) d[size_t(j)] = y[j] - x[j];
            take(d.data(), size_t(n));
        });
    };
}
