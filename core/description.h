// Raster description files: six decimal integers, one per line when created:
// lines, columns, bytes per sample, minimum, maximum, pixel size.
#ifndef KARVEL_DESCRIPTION_H
#define KARVEL_DESCRIPTION_H

#include <string>

#include "textfile.h"

// The most positions a grid may have: beyond this no grid can be addressed.
constexpr long long kMaxPositions = 1LL << 44;

// Checks a line and column count; returns an empty string when they are
// usable, else what is wrong with them.
std::string size_problem(int lines, int cols);

// Reads the six values from the text of a description file. Returns an
// empty string when all six were read and the size is usable, else what is
// wrong with the file. *end (when given) receives where the sixth value ends.
std::string parse_description(const std::string &text, int values[6], size_t *end = nullptr);

// Only this many first bytes of a description file are read: its six values
// must lie within them.
constexpr size_t kDescriptionPrefix = 4096;

// Reads the description file at real_path into values. Empty on success,
// else the problem. The file is opened without blocking, anything but a
// regular file is refused, and only its first kDescriptionPrefix bytes are
// read.
std::string read_description(const std::string &real_path, int values[6]);

// The text of a created description file: the six values, "%d\n" each
// (a text file stores each "\n" as CR LF).
std::string description_text(const int values[6]);

#endif
