#include "summary_text.h"

#include <cstring>

namespace summary_text {

std::string without_cr(const std::string &text) {
    std::string t;
    t.reserve(text.size());
    for (char c : text)
        if (c != '\r') t += c;
    return t;
}

bool word_after(const std::string &t, const std::string &label, size_t *pos, std::string &word) {
    const size_t at = t.find(label, *pos);
    if (at == std::string::npos) return false;
    size_t b = at + label.size();
    while (b < t.size() && (t[b] == ' ' || t[b] == '\t')) b++;
    size_t e = b;
    while (e < t.size() && t[e] != ' ' && t[e] != '\t' && t[e] != '\n') e++;
    if (e == b) return false;
    word = t.substr(b, e - b);
    *pos = e;
    return true;
}

std::string raster_paths(const std::string &t, size_t *pos, std::string &first, std::string &second) {
    const std::string tab = "\t";
    if (!word_after(t, tab + kFirstRaster, pos, first)) return "it does not name the first raster";
    if (!word_after(t, tab + kSecondRaster, pos, second)) return "it does not name the second raster";
    return "";
}

}  // namespace summary_text
