#include "envi_header.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>

#include "paths.h"
#include "regular_file.h"

namespace {

std::string trimmed(const std::string &s) {
    const size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    const size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::string lower(std::string s) {
    for (char &c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

// The value of an integer field (a whole decimal number): empty when it is
// one that a long long holds, else what is wrong with it.
std::string whole(const std::string &key, const std::string &v, long long &out) {
    char *end = nullptr;
    errno = 0;
    out = v.empty() ? 0 : std::strtoll(v.c_str(), &end, 10);
    if (!v.empty() && errno == 0 && end == v.c_str() + v.size()) return "";
    const std::string shown = printable(v.substr(0, 40)) + (v.size() > 40 ? "..." : "");
    // All digits, yet beyond what strtoll takes: a number too large to hold.
    const bool negative = !v.empty() && v[0] == '-';
    const size_t first = !v.empty() && (negative || v[0] == '+') ? 1 : 0;
    if (errno == ERANGE && v.size() > first && v.find_first_not_of("0123456789", first) == std::string::npos)
        return "its " + key + " " + shown + " is too " + (negative ? "small" : "large") +
               " a number to hold (a field holds " + (negative ? "at least -9223372036854775808" : "at most 9223372036854775807") + ")";
    return "its " + key + " \"" + shown + "\" is not a whole number";
}

}  // namespace

std::string parse_envi_header(const std::string &text, EnviHeader &h) {
    h = EnviHeader{};
    // Each key once: a header that gives one twice leaves unsure which holds.
    std::set<std::string> keys;
    size_t pos = text.find('\n');
    if (trimmed(text.substr(0, pos)) != "ENVI") return "it is not an ENVI header (its first line is not ENVI)";
    while (pos != std::string::npos && pos < text.size()) {
        const size_t start = pos + 1;
        size_t eq = text.find('=', start);
        size_t nl = text.find('\n', start);
        if (eq == std::string::npos || (nl != std::string::npos && nl < eq)) {
            // A line without a key: blank lines are allowed, nothing else.
            if (!trimmed(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start)).empty())
                return "its line \"" + printable(trimmed(text.substr(start, nl - start)).substr(0, 60)) +
                       "\" is not \"key = value\"";
            pos = nl;
            continue;
        }
        const std::string key = lower(trimmed(text.substr(start, eq - start)));
        size_t vb = eq + 1;
        while (vb < text.size() && (text[vb] == ' ' || text[vb] == '\t')) vb++;
        size_t ve;
        if (vb < text.size() && text[vb] == '{') {
            ve = text.find('}', vb);
            if (ve == std::string::npos) return "the value of \"" + printable(key) + "\" has no closing brace";
            ve++;
            nl = text.find('\n', ve);
        } else {
            ve = nl == std::string::npos ? text.size() : nl;
        }
        const std::string value = trimmed(text.substr(vb, ve - vb));
        if (!keys.insert(key).second)
            return "it gives the key \"" + printable(key.substr(0, 60)) +
                   "\" more than once, so that which of its values holds is not clear";
        long long *field = key == "samples" ? &h.samples
                           : key == "lines" ? &h.lines
                           : key == "data type" ? &h.data_type
                           : key == "byte order" ? &h.byte_order
                                                : nullptr;
        if (field != nullptr) {
            const std::string problem = whole(key, value, *field);
            if (!problem.empty()) return problem;
        }
        if (key == "data ignore value") {
            h.has_ignore = true;
            h.ignore_text = value;
        }
        pos = nl;
    }
    return "";
}

std::string read_envi_header(const std::string &real_path, bool *found, EnviHeader &h) {
    h = EnviHeader{};
    *found = false;
    if (access(real_path.c_str(), F_OK) != 0 && errno == ENOENT) return "";
    *found = true;
    std::string text;
    const BoundedRead read = read_bounded(real_path, kHeaderLimit, text, false);
    if (read.problem == kNotRegularFile) return "it is not a regular file";
    if (!read.problem.empty()) return "it cannot be read (" + read.problem + ")";
    if (uint64_t(read.size) > kHeaderLimit)
        return "it holds more than " + std::to_string(kHeaderLimit) + " bytes, more than a header does";
    // More than it held when opened: it grew since.
    if (read.beyond || text.size() > size_t(read.size)) return "it changed while it was read";
    return parse_envi_header(text, h);
}

std::string header_disagreement(const EnviHeader &h, int lines, int cols, Kind kind) {
    // ENVI data types: 1 unsigned 8-bit, 12 unsigned 16-bit, 3 signed 32-bit.
    const long long type = kind == Kind::image8 ? 1 : kind == Kind::dem16 ? 12 : 3;
    if (h.samples >= 0 && h.samples != cols)
        return "it gives " + std::to_string(h.samples) + " samples where the description gives " +
               std::to_string(cols) + " columns";
    if (h.lines >= 0 && h.lines != lines)
        return "it gives " + std::to_string(h.lines) + " lines where the description gives " + std::to_string(lines);
    if (h.data_type >= 0 && h.data_type != type)
        return "it gives data type " + std::to_string(h.data_type) + " where a " + kind_words(kind) + " is data type " +
               std::to_string(type);
    if (h.byte_order >= 0 && h.byte_order != 0)
        return "it gives byte order " + std::to_string(h.byte_order) +
               " where the samples are stored least significant byte first (byte order 0)";
    return "";
}

std::string header_nodata(const EnviHeader &h, Kind kind, NoData &nd) {
    nd = NoData{};
    if (!h.has_ignore) return "";
    const std::string &t = h.ignore_text;
    // A whole number, written as such or with a fraction of zeros (65535.0).
    char *end = nullptr;
    errno = 0;
    const double v = t.empty() ? NAN : std::strtod(t.c_str(), &end);
    const bool number = !t.empty() && end == t.c_str() + t.size() && errno == 0 && std::isfinite(v) &&
                        t.find_first_not_of("+-0123456789.eE") == std::string::npos;
    if (!number || v != std::floor(v))
        return "its data ignore value \"" + printable(t.substr(0, 40)) + "\" is not a whole number";
    const double lo = kind == Kind::dem32 ? -2147483648.0 : 0.0;
    const double hi = kind == Kind::image8 ? 255.0 : kind == Kind::dem16 ? 65535.0 : 2147483647.0;
    if (v < lo || v > hi)
        return "its data ignore value " + printable(t) + " is not a value that a sample of a " + kind_words(kind) +
               " holds";
    nd.declared = true;
    nd.value = (long long)v;
    return "";
}

HeaderUse read_header_nodata(const std::string &real_path, int lines, int cols, Kind kind, NoData &nd,
                             std::string &why) {
    nd = NoData{};
    EnviHeader h;
    bool found = false;
    why = read_envi_header(real_path, &found, h);
    if (!found) return HeaderUse::fine;
    if (!why.empty()) return HeaderUse::unusable;
    why = header_disagreement(h, lines, cols, kind);
    if (!why.empty()) return HeaderUse::disagrees;
    why = header_nodata(h, kind, nd);
    return why.empty() ? HeaderUse::fine : HeaderUse::unusable;
}

namespace {

std::string g17(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

}  // namespace

std::string envi_header(const std::string &band_name, int lines, int cols, Kind kind, const double *gt,
                        const std::string &wkt, const NoData &nodata) {
    // ENVI data types: 1 unsigned 8-bit, 12 unsigned 16-bit, 3 signed 32-bit.
    const int type = kind == Kind::image8 ? 1 : kind == Kind::dem16 ? 12 : 3;
    std::string h = "ENVI\n";
    h += "description = {" + band_name + "}\n";
    h += "samples = " + std::to_string(cols) + "\n";
    h += "lines = " + std::to_string(lines) + "\n";
    h += "bands = 1\n";
    h += "header offset = 0\n";
    h += "file type = ENVI Standard\n";
    h += "data type = " + std::to_string(type) + "\n";
    h += "interleave = bsq\n";
    h += "byte order = 0\n";
    // map info names the upper left corner of the first cell (1, 1) and the
    // cell size, positive downwards; ENVI has no form for a sheared grid.
    if (gt != nullptr && gt[2] == 0 && gt[4] == 0) {
        h += "map info = {Arbitrary, 1, 1, " + g17(gt[0]) + ", " + g17(gt[3]) + ", " + g17(gt[1]) + ", " +
             g17(-gt[5]) + "}\n";
        if (!wkt.empty()) h += "coordinate system string = {" + wkt + "}\n";
    }
    h += "band names = {" + band_name + "}\n";
    if (nodata.declared) h += "data ignore value = " + std::to_string(nodata.value) + "\n";
    return h;
}

