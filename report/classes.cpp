#include "classes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "command_line.h"
#include "numfmt.h"
#include "paths.h"
#include "sums.h"

std::vector<double> default_slope_edges() { return {0, 5, 10, 25, 40, 90}; }

std::string parse_slope_edges(const std::string &text, std::vector<double> &edges) {
    edges.clear();
    size_t at = 0;
    while (at <= text.size()) {
        const size_t comma = std::min(text.find(',', at), text.size());
        const std::string given = text.substr(at, comma - at), word = unblanked(given);
        const std::optional<double> number = decimal_number(given);
        if (!number) return kfmt("\"%s\" is not a number of degrees", printable(given).c_str());
        const double v = *number;
        if (v < 0 || v > 90) return "the edge " + word + " lies outside 0 to 90 degrees";
        if (!edges.empty() && !(v > edges.back())) return "the edges must increase (" + word + " follows " +
                                                          exact_number(edges.back()) + ")";
        edges.push_back(v);
        at = comma + 1;
    }
    if (edges.size() < 2) return "at least two edges are needed, the bounds of one class";
    return "";
}

int slope_class(double s, const std::vector<double> &edges) {
    int32_t c = 0;
    slope_classes(&s, 1, edges, &c);
    return c;
}

template <class T>
void slope_classes(const T *s, size_t n, const std::vector<double> &edges, int32_t *out) {
    const size_t k = edges.size() - 1;
    const double lo = edges[0], hi = edges[k];
    // The inner edges passed, counted without a branch; the last class holds
    // its upper bound, and a slope outside the edges (or not a number) is in
    // none.
    for (size_t j = 0; j < n; j++) out[j] = 0;
    for (size_t m = 1; m < k; m++) {
        const double e = edges[m];
        for (size_t j = 0; j < n; j++) out[j] += double(s[j]) >= e;
    }
    for (size_t j = 0; j < n; j++)
        if (!(double(s[j]) >= lo && double(s[j]) <= hi)) out[j] = -1;
}
template void slope_classes(const float *, size_t, const std::vector<double> &, int32_t *);
template void slope_classes(const double *, size_t, const std::vector<double> &, int32_t *);

SlopeKeys::SlopeKeys(const std::vector<double> &e, double s) : edges(e), scale(s) {
    at_most = horn_key_at_most(e.back(), s);
    for (double d : e) at_least.push_back(horn_key_at_least(d, s));
    // A key within a hair of its class's bounds is classed by its degrees
    // (the key 0 is the slope 0 and no key is beyond +inf: those bounds
    // are exact), so that nothing rests on the degrees rising with the key.
    for (size_t c = 0; c + 1 < e.size(); c++) {
        const double l = at_least[c], h = c + 2 < e.size() ? at_least[c + 1] : at_most;
        near_low.push_back(l > 0 ? l * (1 + 1e-9) : -1.0);
        near_high.push_back(std::isinf(h) ? h : h * (1 - 1e-9));
    }
}

void key_classes(const double *key, size_t n, const SlopeKeys &keys, int32_t *out, size_t lanes) {
    auto by_degrees = [](double v, const void *slope_keys) {
        const SlopeKeys &k = *static_cast<const SlopeKeys *>(slope_keys);
        return int32_t(slope_class(horn_degrees(v, k.scale), k.edges));
    };
    classes_of_keys(key, n, keys, by_degrees, &keys, out, lanes);
}

int ClassValues::index(long long c) {
    if (last_index_ >= 0 && c == last_) return last_index_;
    auto it = index_.find(c);
    if (it == index_.end()) {
        if (values_.size() >= kMaxClasses) return -1;
        it = index_.emplace(c, int(values_.size())).first;
        values_.push_back(c);
    }
    last_ = c;
    last_index_ = it->second;
    return last_index_;
}

std::string ClassLines::begin(const ClassSources &src, int from, int to) {
    src_ = src;
    from_ = from, to_ = to;
    pushed_ = 0;
    held_.clear();
    problem_.clear();
    horn_.reset();
    onto_.reset();
    push_from_ = from, push_to_ = to;
    const Ground &g = *src.ground;
    // A band's own grid: the compared grid from its first line.
    auto band = [&](int first) {
        Ground b = g;
        b.gt[0] += first * g.gt[2];
        b.gt[3] += first * g.gt[5];
        return b;
    };
    if (src.slope_edges) {
        push_from_ = std::max(0, from - 1);
        push_to_ = std::min(src.lines, to + 1);
        horn_ = std::make_unique<HornLines>(band(push_from_), push_to_ - push_from_, src.cols);
        if (!slope_keys_ || slope_keys_->edges != *src.slope_edges || slope_keys_->scale != src.slope_scale)
            slope_keys_ = std::make_unique<SlopeKeys>(*src.slope_edges, src.slope_scale);
    }
    if (!src.classes_path.empty()) {
        onto_ = std::make_unique<Onto>();
        const std::string p = onto_->open(src.classes_path, src.classes_shown, band(from), to - from, src.cols);
        if (!p.empty()) return problem_ = p;
    }
    return "";
}

std::string ClassLines::push(const float *elevations, const double *d, const unsigned char *keep) {
    std::vector<double> dv;
    std::vector<unsigned char> kv;
    if (pushed_ + push_from_ >= from_ && pushed_ + push_from_ < to_) {
        // The buffers of the line handed out last, reused.
        dv.swap(out_.d), kv.swap(out_.keep);
        dv.assign(d, d + src_.cols);
        if (keep) kv.assign(keep, keep + src_.cols);
    }
    return push(elevations, nullptr, dv, keep ? &kv : nullptr);
}

std::string ClassLines::push(std::vector<float> &elevations, std::vector<double> &d,
                             std::vector<unsigned char> *keep) {
    return push(elevations.data(), &elevations, d, keep);
}

std::string ClassLines::push(const float *elevations, std::vector<float> *owned, std::vector<double> &d,
                             std::vector<unsigned char> *keep) {
    if (!problem_.empty()) return problem_;
    const int line = push_from_ + pushed_++;
    if (horn_) {
        if (owned) horn_->push(*owned);
        else horn_->push(elevations);
    }
    if (line < from_ || line >= to_) return "";
    const size_t cols = size_t(src_.cols);
    Held h = std::move(out_);
    out_ = Held();
    h.line = line;
    // The caller's buffers are taken, and given the line handed out last's.
    h.d.swap(d);
    h.all_kept = keep == nullptr;
    if (keep) h.keep.swap(*keep);
    if (onto_) {
        h.cls.resize(cols);
        const std::string p = line_classes(line, h.cls.data());
        if (!p.empty()) return problem_ = p;
    }
    held_.push_back(std::move(h));
    return "";
}

std::string ClassLines::line_classes(int line, int32_t *cls) {
    const double *v = nullptr;
    const unsigned char *valid = nullptr;
    if (!onto_->next(v, valid)) return onto_->problem();
    // Integer bands come exact, as 64-bit integers; any other value must be
    // a whole number that one holds.
    const int64_t *ints = onto_->integers();
    const uint64_t *uints = onto_->unsigned_integers();
    constexpr double kBeyond = 9223372036854775808.0;  // 2^63
    for (size_t j = 0; j < size_t(src_.cols); j++) {
        if (!valid[j]) {
            cls[j] = -1;
            continue;
        }
        const bool whole = ints || uints || v[j] == std::floor(v[j]);
        const bool held = ints || (uints ? uints[j] <= uint64_t(INT64_MAX) : v[j] >= -kBeyond && v[j] < kBeyond);
        if (!whole || !held) {
            const std::string stored = uints ? std::to_string(uints[j]) : exact_number(v[j]);
            return "the raster of classes " + src_.classes_shown + " holds " + stored +
                   kfmt(" at line %d, column %zu of the compared rasters, which is ", line, j) +
                   (!whole ? "not a whole number: classes are whole numbers"
                           : "beyond the whole numbers of 64 bits (-9223372036854775808 to 9223372036854775807) "
                             "that classes are");
        }
        const long long c = ints ? ints[j] : uints ? (long long)uints[j] : (long long)v[j];
        const int k = src_.values->index(c);
        if (k < 0)
            return "the raster of classes " + src_.classes_shown +
                   kfmt(" holds more than %zu classes", ClassValues::kMaxClasses) +
                   " within the compared rasters: it is not a raster of classes";
        cls[j] = k;
    }
    return "";
}

bool ClassLines::next(Ready &r) {
    if (!problem_.empty() || held_.empty()) return false;
    if (horn_) {
        // The slopes of lines before the band are only its neighbours'.
        int line = -1;
        const double *keys = nullptr;
        do {
            if (!horn_->next(line, keys)) return false;
            line += push_from_;  // the lines are counted from the first pushed
        } while (line < from_);
        if (line != held_.front().line) {
            problem_ = "the slopes came for another line than the one awaited";
            return false;
        }
        slope_.resize(size_t(src_.cols));
        key_classes(keys, size_t(src_.cols), *slope_keys_, slope_.data());
    }
    out_ = std::move(held_.front());
    held_.pop_front();
    r.line = out_.line;
    r.d = out_.d.data();
    r.keep = out_.all_kept ? nullptr : out_.keep.data();
    r.slope = horn_ ? slope_.data() : nullptr;
    r.cls = onto_ ? out_.cls.data() : nullptr;
    return true;
}

void ClassTable::classes(size_t count) {
    while (stats_.size() < count) {
        stats_.push_back(std::make_unique<DiffStats>());
        held_.emplace_back();
        holds_.push_back(true);
        row_.emplace_back();
    }
}

void ClassTable::seek(size_t k, size_t n, std::vector<double> sample) {
    classes(k + 1);
    holds_[k] = false;
    to_seek_.push_back({k, n, std::move(sample)});
}

void ClassTable::start_seeking() {
    for (Sought &s : to_seek_)
        stats_[s.k]->rank_during_walk(s.n, std::move(s.sample), std::max<size_t>(1, sought_held_ / to_seek_.size()));
    to_seek_.clear();
}

void ClassTable::split(const double *d, const unsigned char *keep, const int32_t *cls, int cols) {
    for (auto &r : row_) r.clear();
    // Run by run of positions of one class (kept, or all left out), each run
    // appended to its class whole: neighbouring cells mostly share a class.
    for (int j = 0; j < cols;) {
        const int32_t k = cls[j];
        const bool kept = !keep || keep[j];
        int end = j + 1;
        if (keep)
            while (end < cols && cls[end] == k && bool(keep[end]) == kept) end++;
        else
            while (end < cols && cls[end] == k) end++;
        if (k >= 0 && kept) {
            if (size_t(k) >= stats_.size()) classes(size_t(k) + 1);
            row_[size_t(k)].insert(row_[size_t(k)].end(), d + j, d + end);
        }
        j = end;
    }
}

void ClassTable::add(const double *d, const unsigned char *keep, const int32_t *cls, int cols) {
    if (!to_seek_.empty()) start_seeking();
    split(d, keep, cls, cols);
    for (size_t k = 0; k < row_.size(); k++) {
        const std::vector<double> &r = row_[k];
        if (r.empty()) continue;
        // The class's sums are taken as the whole raster's, of d alone.
        stats_[k]->add_line(nullptr, r.data(), int(r.size()));
        if (!holds_[k]) continue;
        held_[k].insert(held_[k].end(), r.begin(), r.end());
        held_total_ += r.size();
    }
    // Beyond the room, the class that holds most is walked again instead.
    while (held_total_ > held_room_) {
        size_t most = 0;
        for (size_t k = 1; k < held_.size(); k++)
            if (held_[k].size() > held_[most].size()) most = k;
        held_total_ -= held_[most].size();
        std::vector<double>().swap(held_[most]);
        holds_[most] = false;
        stats_[most]->rank_during_walk(stats_[most]->count(), {});
    }
}

bool ClassTable::plan_again() {
    if (!to_seek_.empty()) start_seeking();
    again_.assign(stats_.size(), false);
    bool any = false;
    for (size_t k = 0; k < stats_.size(); k++)
        if (!holds_[k] && stats_[k]->plan_again()) again_[k] = any = true;
    return any;
}

void ClassTable::add_again(const double *d, const unsigned char *keep, const int32_t *cls, int cols) {
    split(d, keep, cls, cols);
    for (size_t k = 0; k < row_.size() && k < again_.size(); k++)
        if (again_[k] && !row_[k].empty()) stats_[k]->add_again(row_[k].data(), row_[k].size());
}

std::vector<Headline> ClassTable::finish(const std::function<ValueStream(size_t)> &again,
                                         const std::string &unit) {
    if (!to_seek_.empty()) start_seeking();
    std::vector<Headline> out;
    for (size_t k = 0; k < stats_.size(); k++) {
        const DiffStats &s = *stats_[k];
        const size_t n = s.count();
        const double rms = n > 0 ? rms_error(s.sum_squares(), (long long)n) : NAN;
        Headline h;
        if (holds_[k]) {
            h = s.finish_held(0, 0, rms, unit);  // the sums' figures: the ranks are those held
            held_ranks(held_[k].data(), held_[k].size(), h);
        } else {
            h = s.finish_walked(0, 0, rms, unit, again(k));
        }
        out.push_back(h);
    }
    return out;
}

namespace {

struct Key {
    const char *name;
    double Headline::*figure;
};
const Key kRowKeys[] = {{"mean_diff", &Headline::mean_diff}, {"sd_diff", &Headline::sd_diff},
                        {"median_diff", &Headline::median_diff}, {"nmad", &Headline::nmad},
                        {"rms", &Headline::rms},             {"le90", &Headline::le90},
                        {"le95", &Headline::le95}};

}  // namespace

Json class_rows_json(const std::vector<ClassRow> &rows, bool slope) {
    Json j = Json::array();
    for (const ClassRow &row : rows) {
        Json o = Json::object();
        if (slope) {
            o["from_deg"] = row.from_deg;
            o["to_deg"] = row.to_deg;
        } else {
            o["class"] = row.value;
        }
        o["n"] = row.h.n;
        // An empty class has no figure (its sums would say 0 or not a number).
        for (const Key &k : kRowKeys) o[k.name] = row.h.n > 0 ? row.h.*k.figure : NAN;
        j.push_back(std::move(o));
    }
    return j;
}

std::vector<std::string> class_rows_lines(const std::vector<ClassRow> &rows, bool slope, const std::string &unit) {
    // The cells of the head and of each row: the label, n, the figures.
    std::vector<std::vector<std::string>> cells(1, {slope ? "slope" : "class", "n"});
    for (const char *k : {"mean", "sd", "median", "NMAD", "RMS", "LE90", "LE95"}) cells[0].push_back(k);
    for (const ClassRow &row : rows) {
        std::vector<std::string> c = {
            slope ? exact_number(row.from_deg) + "-" + exact_number(row.to_deg) : std::to_string(row.value),
            std::to_string(row.h.n)};
        for (const Key &k : kRowKeys) {
            const double v = row.h.n > 0 ? row.h.*k.figure : NAN;
            c.push_back(std::isfinite(v) ? fixed_decimals(v, 3) : "-");
        }
        cells.push_back(std::move(c));
    }
    // Right-aligned columns of 9, 9 and 10 characters, wider where a value
    // needs it, so that a space always parts it from the column before.
    std::vector<size_t> width(cells[0].size());
    for (size_t c = 0; c < width.size(); c++) {
        width[c] = c < 2 ? 9 : 10;
        for (const auto &line : cells) width[c] = std::max(width[c], line[c].size() + 1);
    }
    std::vector<std::string> out;
    out.push_back(slope ? "By slope of the first DEM (degrees; figures of d = second - first in " + unit + ")"
                        : "By class (figures of d = second - first in " + unit + ")");
    for (const auto &line : cells) {
        std::string text;
        for (size_t c = 0; c < line.size(); c++) text += std::string(width[c] - line[c].size(), ' ') + line[c];
        out.push_back(text);
    }
    return out;
}

void fill_rows(std::vector<ClassRow> &rows, const std::vector<Headline> &figures) {
    rows.resize(figures.size());
    for (size_t k = 0; k < figures.size(); k++) rows[k].h = figures[k];
}
