#include "summary.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "summary_text.h"

using namespace summary_text;

namespace {

// A number as karvel prints it: fixed notation, or +INF, -INF, +NAN, -NAN.
bool to_double(const std::string &w, double &v) {
    if (w == "+INF" || w == "INF") return v = HUGE_VAL, true;
    if (w == "-INF") return v = -HUGE_VAL, true;
    if (w == "+NAN" || w == "NAN") return v = std::nan(""), true;
    if (w == "-NAN") return v = -std::nan(""), true;
    if (w.empty() || w.find_first_not_of("+-.0123456789") != std::string::npos) return false;
    char *end = nullptr;
    errno = 0;
    v = std::strtod(w.c_str(), &end);
    return end == w.c_str() + w.size() && errno == 0;
}

bool to_count(const std::string &w, long long &v) {
    if (w.empty() || w.size() > 18 || w.find_first_not_of("0123456789") != std::string::npos) return false;
    v = std::strtoll(w.c_str(), nullptr, 10);
    return true;
}

bool to_int(const std::string &w, int &v) {
    if (w.empty() || w.find_first_not_of("-0123456789") != std::string::npos) return false;
    char *end = nullptr;
    errno = 0;
    long long x = std::strtoll(w.c_str(), &end, 10);
    if (end != w.c_str() + w.size() || errno != 0 || x < -2147483648LL || x > 2147483647LL) return false;
    v = int(x);
    return true;
}

// What stands before a figure of the summary on its line: "\tLABEL =".
std::string key(const char *label) { return std::string("\t") + label + " ="; }

bool figure(const std::string &t, const char *label, size_t *pos, Printed &p) {
    return word_after(t, key(label), pos, p.text) && to_double(p.text, p.value);
}

// The positions left out, from "\tPositions left out (no data in either
// raster): L of T " before the RMS error (-1 without that line). Empty
// on success, else what is wrong with the line.
std::string left_out_of(const std::string &t, size_t pos, Summary &s) {
    const std::string tab = "\t";
    const size_t rms_at = t.find(key(kRms), pos);
    const size_t left_at = t.find(tab + kPositionsLeftOut, pos);
    s.left_out = -1;
    if (left_at == std::string::npos || left_at >= rms_at) return "";
    size_t at = left_at;
    long long all = 0;
    std::string w, of;
    if (!word_after(t, tab + kPositionsLeftOut, &at, w) || !to_count(w, s.left_out) || !word_after(t, "", &at, of) ||
        of != "of" || !word_after(t, "", &at, w) || !to_count(w, all))
        return "its line \"" + std::string(kPositionsLeftOut) + "\" does not give L of T positions";
    if (all != (long long)s.lines * s.cols || s.left_out > all)
        return "it leaves out " + std::to_string(s.left_out) + " of " + std::to_string(all) +
               " positions, which is not a count of its " + std::to_string(s.lines) + " lines and " +
               std::to_string(s.cols) + " columns";
    if (all - s.left_out < 2)
        return "it leaves out " + std::to_string(s.left_out) + " of " + std::to_string(all) +
               " positions, fewer than the two a comparison needs";
    return "";
}

}  // namespace

std::string parse_summary(const std::string &text, Summary &s) {
    const std::string t = without_cr(text);
    const std::string tab = "\t";
    size_t pos = 0;
    std::string w;
    const std::string named = raster_paths(t, &pos, s.first_shown, s.second_shown);
    if (!named.empty()) return named;
    if (!word_after(t, tab + kSize, &pos, w) || !to_int(w, s.lines)) return "it does not give the number of lines";
    if (!word_after(t, kSizeLines, &pos, w) || !to_int(w, s.cols)) return "it does not give the number of columns";
    if (s.lines < 1 || s.cols < 1) return "its size is not one of a raster";

    const size_t dem_at = t.find(kFirstDemRange, pos);
    const size_t img_at = t.find(kFirstImageRange, pos);
    if (dem_at == std::string::npos && img_at == std::string::npos) return "it gives no value range";
    s.image = dem_at == std::string::npos || (img_at != std::string::npos && img_at < dem_at);
    for (int k = 0; k < 2; k++) {
        if (!word_after(t, std::string(kMin) + " =", &pos, w) || !to_int(w, s.range_min[k]) ||
            !word_after(t, std::string(kMax) + " =", &pos, w) || !to_int(w, s.range_max[k]))
            return k == 0 ? "it gives no value range of the first raster" : "it gives no value range of the second raster";
        if (s.image) continue;
        // The unit line follows the range it belongs to.
        size_t line_end = t.find("\n\n", pos);
        s.unit[k] = -1;
        for (int u = 0; u < 4; u++) {
            const std::string unit_line = std::string(kUnitLines[u]) + "\n";
            size_t at = t.find(kUnitLines[u], pos);
            if (at != std::string::npos && at < line_end && t.compare(at, unit_line.size(), unit_line) == 0) {
                s.unit[k] = u;
                pos = at + unit_line.size() - 1;
                break;
            }
        }
        if (s.unit[k] < 0)
            return k == 0 ? "it gives no unit of the first raster" : "it gives no unit of the second raster";
    }
    if (t.find(kWholeImage, pos) == std::string::npos) return "it is incomplete";
    const std::string p = left_out_of(t, pos, s);
    if (!p.empty()) return p;
    if (!figure(t, kRms, &pos, s.rms)) return "it gives no RMS error";
    if (!figure(t, kSumX, &pos, s.sum_x) || !figure(t, kSumY, &pos, s.sum_y) || !figure(t, kSumXY, &pos, s.sum_xy) ||
        !figure(t, kSumX2, &pos, s.sum_x2))
        return "it gives no sums";
    if (!figure(t, kB1, &pos, s.b1) || !figure(t, kB0, &pos, s.b0)) return "it gives no B1 and B0";
    // A complete summary ends with the B1_Calc figure, a blank and three line ends.
    if (!word_after(t, key(kB1Calc), &pos, w) || t.compare(pos, std::string::npos, " \n\n\n") != 0)
        return "it is incomplete (it does not end with B1_Calc)";
    return "";
}

namespace {

// Splits a table into rows of tab-separated fields, dropping its header.
std::vector<std::vector<std::string>> rows_of(const std::string &text, bool header) {
    std::vector<std::vector<std::string>> rows;
    const std::string t = without_cr(text);
    size_t b = 0;
    bool first = true;
    while (b < t.size()) {
        size_t e = t.find('\n', b);
        if (e == std::string::npos) e = t.size();
        std::string line = t.substr(b, e - b);
        b = e + 1;
        if (first && header) {
            first = false;
            continue;
        }
        std::vector<std::string> fields;
        size_t fb = 0;
        while (true) {
            size_t fe = line.find('\t', fb);
            fields.push_back(line.substr(fb, fe == std::string::npos ? std::string::npos : fe - fb));
            if (fe == std::string::npos) break;
            fb = fe + 1;
        }
        rows.push_back(fields);
    }
    return rows;
}

}  // namespace

std::string parse_line_table(const std::string &text, int lines, std::vector<LineRow> &rows) {
    if (without_cr(text).rfind(kLineTableHeader, 0) != 0) return "it does not begin with its header";
    const auto fields = rows_of(text, true);
    rows.clear();
    for (size_t i = 0; i < fields.size(); i++) {
        const auto &f = fields[i];
        LineRow r;
        if (f.size() != 5 || !to_int(f[0], r.line) || r.line != int(i) || !to_double(f[1], r.desv) ||
            !to_double(f[2], r.slope) || !to_double(f[3], r.r) || !to_double(f[4], r.r2))
            return "row " + std::to_string(i + 2) + " is not a row of the table";
        rows.push_back(r);
    }
    if (int(rows.size()) != lines)
        return "it holds " + std::to_string(rows.size()) + " rows for " + std::to_string(lines) + " lines";
    return "";
}

bool histogram_row(const std::string &line, size_t i, long long &count) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos || line.find('\t', tab + 1) != std::string::npos) return false;
    const std::string bin = line.substr(0, tab), c = line.substr(tab + 1);
    int k = 0;
    char *end = nullptr;
    count = c.empty() ? -1 : std::strtoll(c.c_str(), &end, 10);
    return to_int(bin, k) && size_t(k) == i + 1 && !c.empty() && *end == '\0' && count >= 0;
}
