// Units of elevations: karvel's four unit answers and the units that a
// band's unit type may name.
#ifndef KARVEL_IMPORT_UNITS_H
#define KARVEL_IMPORT_UNITS_H

#include <string>

// karvel's unit answer (0 m, 1 dm, 2 cm, 3 mm) for "m", "dm", "cm", "mm";
// -1 for any other word.
int unit_answer_of(const std::string &word);

// "m", "dm", "cm" or "mm" for a unit answer.
const char *unit_word(int answer);

// Millimetres in one unit of a unit answer (1000, 100, 10, 1).
double mm_per_unit(int answer);

struct ElevationUnit {
    double mm = 1000;     // millimetres in one unit
    int answer = 0;       // karvel's unit answer when it is one of its four units, else -1
    std::string word;     // its short word: m, dm, cm, mm, km, ft or us-ft
    bool assumed = false; // the band named no unit: metres were assumed
};

// The unit that a band's unit type names (m, metre, meter, ft, foot,
// US survey foot, ...; case and surrounding blanks do not matter). An empty
// unit type gives metres, assumed. False for a unit it does not know.
bool unit_of_type(const std::string &unit_type, ElevationUnit &unit);

// True for the short word of a unit (m, dm, cm, mm, km, ft, us-ft), as the
// command line gives the unit of an input's values.
bool is_unit_word(const std::string &word);

// The factor that turns a value in `unit` into the unit of answer `target`.
double unit_factor(const ElevationUnit &unit, int target);

#endif
