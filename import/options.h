// The command line of karvel-import.
#ifndef KARVEL_IMPORT_OPTIONS_H
#define KARVEL_IMPORT_OPTIONS_H

#include <string>

struct ImportOptions {
    std::string first, second, folder;  // the two inputs and the folder answer
    std::string name1, name2;           // --names; empty: taken from the inputs
    std::string result = "cmp";         // --result
    int band = 1;                       // --band
    int unit = 3;                       // --unit as karvel's unit answer: 0 m, 1 dm, 2 cm, 3 mm
    bool crop = false;                  // --crop
    bool align = false;                 // --align
    std::string method = "bilinear";    // --align=METHOD
    bool coregister = false;            // --coregister
    bool remove_bias = false;           // --coregister=xyz
    std::string stable;                 // --stable MASK
    bool help = false;                  // --help
};

// Reads the arguments (without the program name). Returns an empty string
// when they make a command, else what is wrong with them.
std::string parse_options(int argc, const char *const *argv, ImportOptions &o);

// The usage text printed by --help and after a usage error.
std::string usage_text(const std::string &program);

#endif
