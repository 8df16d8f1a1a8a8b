#include "units.h"

#include <cctype>

namespace {

struct KnownUnit {
    const char *names;  // spellings separated by '|', lower case
    double mm;
    int answer;
    const char *word;
};

// A US survey foot is 1200/3937 m exactly.
const KnownUnit kUnits[] = {
    {"m|metre|meter|metres|meters", 1000, 0, "m"},
    {"dm|decimetre|decimeter|decimetres|decimeters", 100, 1, "dm"},
    {"cm|centimetre|centimeter|centimetres|centimeters", 10, 2, "cm"},
    {"mm|millimetre|millimeter|millimetres|millimeters", 1, 3, "mm"},
    {"km|kilometre|kilometer|kilometres|kilometers", 1000000, -1, "km"},
    {"ft|foot|feet|international foot|international feet|ft (international)", 304.8, -1, "ft"},
    {"us survey foot|us survey feet|us-ft|us ft|ftus|ft_us|us_survey_foot|survey foot|survey feet|us foot|us feet",
     1200000.0 / 3937.0, -1, "us-ft"},
};

std::string normalized(const std::string &s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) b++;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) e--;
    std::string out;
    for (size_t i = b; i < e; i++) out += char(std::tolower(static_cast<unsigned char>(s[i])));
    return out;
}

bool listed(const char *names, const std::string &word) {
    std::string list = names;
    size_t start = 0;
    while (true) {
        size_t bar = list.find('|', start);
        if (list.compare(start, bar == std::string::npos ? std::string::npos : bar - start, word) == 0) return true;
        if (bar == std::string::npos) return false;
        start = bar + 1;
    }
}

}  // namespace

int unit_answer_of(const std::string &word) {
    for (int a = 0; a < 4; a++)
        if (word == unit_word(a)) return a;
    return -1;
}

const char *unit_word(int answer) {
    static const char *const kWords[4] = {"m", "dm", "cm", "mm"};
    return answer >= 0 && answer < 4 ? kWords[answer] : "?";
}

double mm_per_unit(int answer) {
    static const double kMm[4] = {1000, 100, 10, 1};
    return kMm[answer];
}

bool unit_of_type(const std::string &unit_type, ElevationUnit &unit) {
    const std::string word = normalized(unit_type);
    if (word.empty()) {
        unit = ElevationUnit{1000, 0, "m", true};
        return true;
    }
    for (const KnownUnit &k : kUnits) {
        if (listed(k.names, word)) {
            unit = ElevationUnit{k.mm, k.answer, k.word, false};
            return true;
        }
    }
    return false;
}

bool is_unit_word(const std::string &word) {
    for (const KnownUnit &k : kUnits)
        if (word == k.word) return true;
    return false;
}

double unit_factor(const ElevationUnit &unit, int target) { return unit.mm / mm_per_unit(target); }
