#include "change_budget.h"

#include <boost/math/distributions/normal.hpp>
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "command_line.h"
#include "dispatch.h"
#include "numfmt.h"
#include "paths.h"

namespace {

// A value of metres: a finite number, not negative.
std::string metres(const std::string &option, const std::string &text, double &out) {
    const std::optional<double> v = decimal_number(text);
    if (!v) return option + " " + printable(text) + ": not a number of metres";
    if (*v < 0) return option + " " + printable(text) + ": the value is negative";
    out = *v;
    return "";
}

}  // namespace

std::string take_lod(const std::string &text, ChangeOptions &o) {
    o.method = ChangeMethod::lod;
    o.thresholds++;
    return metres("--lod", text, o.lod);
}

std::string take_sigma(const std::string &text, ChangeOptions &o) {
    o.thresholds++;
    if (unblanked(text) == "stable") {
        o.method = ChangeMethod::stable;
        return "";
    }
    o.method = ChangeMethod::sigma;
    const size_t comma = text.find(',');
    std::string p = metres("--sigma", text.substr(0, comma), o.sigma1);
    if (!p.empty()) return p;
    if (comma == std::string::npos) {
        o.sigma2 = o.sigma1;
        return "";
    }
    return metres("--sigma", text.substr(comma + 1), o.sigma2);
}

std::string take_confidence(const std::string &text, ChangeOptions &o) {
    const std::optional<double> v = decimal_number(text);
    if (!v || !(*v > 0 && *v < 1)) return "--confidence " + printable(text) + ": the confidence lies between 0 and 1";
    o.confidence = *v;
    o.confidence_given = true;
    return "";
}

std::string change_options_problem(const ChangeOptions &o) {
    if (!o.on) {
        if (o.thresholds > 0 || o.confidence_given || !o.stable.empty())
            return "--lod, --sigma, --confidence and --stable belong to --change";
        return "";
    }
    if (o.thresholds == 0) return "--change needs a threshold: --lod M, --sigma S1[,S2] or --sigma stable --stable MASK";
    if (o.thresholds > 1) return "--change takes one threshold: --lod or --sigma, once";
    if (o.method == ChangeMethod::lod && o.confidence_given)
        return "--confidence applies to --sigma, not to a level of detection (--lod)";
    if (o.method == ChangeMethod::stable && o.stable.empty()) return "--sigma stable needs --stable MASK";
    if (o.method != ChangeMethod::stable && !o.stable.empty()) return "--stable belongs to --sigma stable";
    return "";
}

double confidence_z(double confidence) {
    return boost::math::quantile(boost::math::normal_distribution<double>(), (1 + confidence) / 2);
}

Detection fixed_detection(const ChangeOptions &o) {
    if (o.method == ChangeMethod::lod) return {o.lod, true, o.lod};
    const double sigma = std::sqrt(o.sigma1 * o.sigma1 + o.sigma2 * o.sigma2);
    return {confidence_z(o.confidence) * sigma, false, sigma};
}

double ChangeSide::mean_depth_m() const { return cells > 0 ? volume_m3 / area_m2 : NAN; }

double ChangeBudget::net_error_m3() const {
    return std::sqrt(erosion.volume_error_m3 * erosion.volume_error_m3 +
                     deposition.volume_error_m3 * deposition.volume_error_m3);
}

double ChangeBudget::area_detected_percent() const {
    return area_m2 > 0 ? 100 * (erosion.area_m2 + deposition.area_m2) / area_m2 : NAN;
}

double ChangeBudget::percent_imbalance() const {
    const double total = erosion.volume_m3 + deposition.volume_m3;
    return total > 0 ? 100 * net_m3() / (2 * total) : NAN;
}

namespace {

// A line's own sums, in column order: cells kept, and raw and detected
// cells, |d| and the detected cells' errors, eroded [0] and deposited [1].
struct LineSums {
    long long n = 0, raw_cells[2] = {0, 0}, cells[2] = {0, 0};
    double raw_sum[2] = {0, 0}, sum[2] = {0, 0}, error[2] = {0, 0};
};

// A line is summed a block of cells at a time: first what each cell adds
// to each of the six sums, +0 where it adds nothing (a loop without a
// branch, in vector code), then the six sums of those terms in column
// order, one addition after the other as before.
constexpr int kSumBlock = 256;
enum Term { kRawUp, kRawDown, kUp, kDown, kErrUp, kErrDown, kTerms };

// Counts, added to: kept, raw deposited, raw eroded, detected deposited,
// detected eroded.
struct BlockCounts {
    long long n = 0, raw_up = 0, raw_down = 0, up = 0, down = 0;
};

// All ones where c holds, else all zeros.
inline uint64_t mask_of(bool c) { return uint64_t(0) - uint64_t(c); }

// v where the mask is all ones, else +0: the sums take +0 for the cells of
// the other side or not detected, which leaves them as they are (they are
// never −0).
inline double when(uint64_t mask, double v) { return std::bit_cast<double>(std::bit_cast<uint64_t>(v) & mask); }

// The terms of m ≤ kSumBlock cells, rule_of(j) the rule of cell j. A cell
// without change (d = 0) adds nothing; one that is not a number counts as
// eroded, and is never detected. keep holds m flags; dod m floats (the
// detected change, not a number elsewhere). Written with masks of bits
// rather than branches, so that the compiler makes vector code of it.
template <class RuleOf>
inline void terms_of(const double *__restrict d, const unsigned char *__restrict keep, int m, RuleOf rule_of,
                     double *__restrict t, float *__restrict dod, BlockCounts *__restrict c) {
    const uint32_t blank = std::bit_cast<uint32_t>(std::numeric_limits<float>::quiet_NaN());
    long long n = 0, raw_up = 0, raw_down = 0, up_n = 0, down_n = 0;
    for (int j = 0; j < m; j++) {
        const Detection r = rule_of(j);
        const double v = d[j], a = std::fabs(v);
        const uint64_t kept = mask_of(keep[j] != 0), pos = mask_of(v > 0);
        const uint64_t up = kept & pos, down = kept & ~pos & mask_of(v != 0);
        const uint64_t past = mask_of(a > r.limit) | (mask_of(!r.strict) & mask_of(a == r.limit));
        const uint64_t det_up = up & past, det_down = down & past;
        n += int(kept & 1);
        raw_up += int(up & 1);
        raw_down += int(down & 1);
        up_n += int(det_up & 1);
        down_n += int(det_down & 1);
        t[kRawUp * kSumBlock + j] = when(up, a);
        t[kRawDown * kSumBlock + j] = when(down, a);
        t[kUp * kSumBlock + j] = when(det_up, a);
        t[kDown * kSumBlock + j] = when(det_down, a);
        t[kErrUp * kSumBlock + j] = when(det_up, r.error);
        t[kErrDown * kSumBlock + j] = when(det_down, r.error);
        const uint32_t det = uint32_t(det_up | det_down);
        dod[j] = std::bit_cast<float>((std::bit_cast<uint32_t>(float(v)) & det) | (blank & ~det));
    }
    c->n += n, c->raw_up += raw_up, c->raw_down += raw_down, c->up += up_n, c->down += down_n;
}

// One rule for every cell: vector code.
[[KARVEL_VECTOR_CLONES]] void block_terms(const double *__restrict d, const unsigned char *__restrict keep, int m,
                                          Detection rule, double *__restrict t, float *__restrict dod,
                                          BlockCounts *__restrict c) {
    const double limit = rule.limit, error = rule.error;
    const bool strict = rule.strict;
    terms_of(d, keep, m, [=](int) { return Detection{limit, strict, error}; }, t, dod, c);
}

// The flags of a block of cells all kept.
constexpr std::array<unsigned char, kSumBlock> kAllKept = [] {
    std::array<unsigned char, kSumBlock> a{};
    a.fill(1);
    return a;
}();

void line_sums(const double *d, const unsigned char *keep, int cols, const int32_t *cls,
               const std::vector<Detection> &rules, const Detection &fallback, float *dod, LineSums &s) {
    const Detection &one = rules.empty() ? fallback : rules[0];
    alignas(64) double t[kTerms * kSumBlock];
    alignas(64) float no_dod[kSumBlock];
    BlockCounts c;
    double raw_up = 0, raw_down = 0, up = 0, down = 0, err_up = 0, err_down = 0;
    for (int start = 0; start < cols; start += kSumBlock) {
        const int m = std::min(kSumBlock, cols - start);
        const unsigned char *k = keep ? keep + start : kAllKept.data();
        float *f = dod ? dod + start : no_dod;
        if (cls) {
            // Each cell's class among rules (-1 or beyond them: fallback).
            const int32_t *in = cls + start;
            terms_of(d + start, k, m,
                     [&](int j) { return in[j] >= 0 && size_t(in[j]) < rules.size() ? rules[size_t(in[j])] : fallback; },
                     t, f, &c);
        } else {
            block_terms(d + start, k, m, one, t, f, &c);
        }
        for (int j = 0; j < m; j++) {
            raw_up += t[kRawUp * kSumBlock + j];
            raw_down += t[kRawDown * kSumBlock + j];
            up += t[kUp * kSumBlock + j];
            down += t[kDown * kSumBlock + j];
            err_up += t[kErrUp * kSumBlock + j];
            err_down += t[kErrDown * kSumBlock + j];
        }
    }
    s.n = c.n;
    s.raw_cells[0] = c.raw_down, s.raw_cells[1] = c.raw_up, s.cells[0] = c.down, s.cells[1] = c.up;
    s.raw_sum[0] = raw_down, s.raw_sum[1] = raw_up, s.sum[0] = down, s.sum[1] = up;
    s.error[0] = err_down, s.error[1] = err_up;
}

}  // namespace

void BudgetSums::add_line(const double *d, const unsigned char *keep, int cols, double area, const int32_t *cls,
                          const std::vector<Detection> &rules, const Detection &fallback, float *dod) {
    LineSums l;
    line_sums(d, keep, cols, cls, rules, fallback, dod, l);
    b_.area_m2 += double(l.n) * area;
    ChangeSide *raw[2] = {&b_.raw_erosion, &b_.raw_deposition}, *det[2] = {&b_.erosion, &b_.deposition};
    for (int s = 0; s < 2; s++) {
        raw[s]->cells += l.raw_cells[s];
        raw[s]->area_m2 += double(l.raw_cells[s]) * area;
        raw[s]->volume_m3 += l.raw_sum[s] * area;
        det[s]->cells += l.cells[s];
        det[s]->area_m2 += double(l.cells[s]) * area;
        det[s]->volume_m3 += l.sum[s] * area;
        det[s]->volume_error_m3 += l.error[s] * area;
    }
}

namespace {

Json side_json(const ChangeSide &s, bool detected) {
    Json o = Json::object();
    o["cells"] = s.cells;
    o["area_m2"] = s.area_m2;
    o["volume_m3"] = s.volume_m3;
    o["mean_depth_m"] = s.mean_depth_m();
    if (detected) o["volume_error_m3"] = s.volume_error_m3;
    return o;
}

}  // namespace

void budget_json(const ChangeBudget &b, Json &change) {
    change["area_m2"] = b.area_m2;
    Json raw = Json::object();
    raw["erosion"] = side_json(b.raw_erosion, false);
    raw["deposition"] = side_json(b.raw_deposition, false);
    raw["net_volume_m3"] = b.net_raw_m3();
    change["raw"] = raw;
    Json det = Json::object();
    det["erosion"] = side_json(b.erosion, true);
    det["deposition"] = side_json(b.deposition, true);
    det["net_volume_m3"] = b.net_m3();
    det["net_volume_error_m3"] = b.net_error_m3();
    det["area_detected_percent"] = b.area_detected_percent();
    det["percent_imbalance"] = b.percent_imbalance();
    change["detected"] = det;
}

std::vector<std::string> budget_lines(const ChangeBudget &b, const std::string &threshold) {
    auto cell = [](const std::string &s, size_t w) { return s.size() >= w ? s + " " : std::string(w - s.size(), ' ') + s; };
    auto num = [](double v, int decimals) { return std::isfinite(v) ? fixed_decimals(v, decimals) : "-"; };
    std::vector<std::string> out;
    out.push_back("Change budget (d = second - first; erosion d < 0, deposition d > 0; detected: " + threshold + ")");
    out.push_back(cell("", 20) + cell("cells", 12) + cell("area m2", 16) + cell("volume m3", 16) +
                  cell("mean depth m", 14) + cell("error m3", 16));
    auto row = [&](const char *name, const ChangeSide &s, bool detected) {
        out.push_back(cell(name, 20) + cell(std::to_string(s.cells), 12) + cell(num(s.area_m2, 1), 16) +
                      cell(num(s.volume_m3, 1), 16) + cell(num(s.mean_depth_m(), 3), 14) +
                      cell(detected ? num(s.volume_error_m3, 1) : "", 16));
    };
    row("erosion, all", b.raw_erosion, false);
    row("deposition, all", b.raw_deposition, false);
    row("erosion, detected", b.erosion, true);
    row("deposition, detected", b.deposition, true);
    out.push_back("Net volume: " + num(b.net_raw_m3(), 1) + " m3 of all change, " + num(b.net_m3(), 1) + " +/- " +
                  num(b.net_error_m3(), 1) + " m3 detected; detected change on " +
                  num(b.area_detected_percent(), 2) + " % of " + num(b.area_m2, 1) +
                  " m2 compared; imbalance " + num(b.percent_imbalance(), 2) + " %");
    return out;
}
