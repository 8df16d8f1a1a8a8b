// The JSON files the companions write and read.
//
// A file is built as one tree and written once by json_text(), which lays
// every file out alike: the top object's members one to a line, an array
// within it one element to a line, and an object below the top on one
// line with all it holds ("key": value, "key": value). Numbers are written
// in their shortest exact form (the shortest text that reads back as the
// same double), or with the decimals fixed_number() gives them; a number
// that is not finite is written as null.
#ifndef KARVEL_COMPANION_JSON_H
#define KARVEL_COMPANION_JSON_H

#include <nlohmann/json.hpp>
#include <string>

// Members in the order they are set.
using Json = nlohmann::ordered_json;

// A number written with `decimals` decimals, rounded to the nearest (as
// printf's "%.Nf").
Json fixed_number(double v, int decimals);

// The tree as a file's text, ending with a newline.
std::string json_text(const Json &tree);

// The members of the object that `text` holds, as far as it is JSON: a
// file cut short keeps those before the cut (none when it holds no object).
Json json_members(const std::string &text);

#endif
