// The warnings of an import: what the values of two DEMs say about them
// that usually means an error in what was declared of them. Each is one
// line that says what was seen and what usually causes it; the console
// gives them after "warning:", and R_inputs.json keeps them.
#ifndef KARVEL_IMPORT_WARNINGS_H
#define KARVEL_IMPORT_WARNINGS_H

#include <string>
#include <vector>

#include "input.h"
#include "passes.h"

// Of the rasters written (their value ranges, from the tallies of the last
// pass, and the mean difference of the cells with data in both): each input
// that declares no value for cells without data yet holds the smallest or
// largest value of its samples' type (extreme_value_warning), ranges that
// do not overlap, a mean difference larger than the spread of either
// raster's values and, after either of those two, each input whose values
// were converted from the unit its band declares. None for 8-bit images.
std::vector<std::string> plausibility_warnings(const Input &a, const Input &b, const PairTally &pair);

// The warning for an input stored as it is (its samples whole numbers,
// kept) that declares no value for cells without data (no nodata value, no
// mask) and whose values reach the smallest value of its signed samples'
// type or the largest of its type (-2147483648 of Int32, 65535 of UInt16):
// values that usually mark cells without data, left undeclared, which would
// be compared as elevations. Empty when there is none to give.
std::string extreme_value_warning(const Input &in);

// Prints them on standard error, each after "warning: ".
void print_warnings(const std::vector<std::string> &warnings);

#endif
