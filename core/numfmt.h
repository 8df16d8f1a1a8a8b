// Numbers in text: formatting for every console and file text of the run,
// and reading decimal integers from answers and description files.
#ifndef KARVEL_NUMFMT_H
#define KARVEL_NUMFMT_H

#include <cstddef>
#include <string>

// "%lf": fixed notation, six decimals, rounded to the nearest; non-finite
// values print as "+INF", "-INF", "+NAN" or "-NAN" (sign from the sign bit).
void append_lf(std::string &out, double v);

// Fixed notation with `decimals` decimals, rounded to the nearest ("%.Nf").
std::string fixed_decimals(double v, int decimals);

// The shortest text that reads back as exactly v.
std::string exact_number(double v);

// Formats with the conversions the program uses: %d, %lld, %zu, %s, %lf
// and %%. Any other conversion is a programming error and prints as is.
std::string kfmt(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Reads an optionally signed decimal integer starting exactly at s[*pos]
// (no white space is skipped). On success advances *pos past the digits,
// stores the value and returns true; *out_of_range tells whether the value
// lies outside a 32-bit int (the stored value is then clamped to it).
// Without a digit, nothing is consumed and false is returned.
bool scan_int(const char *s, size_t len, size_t *pos, int *value, bool *out_of_range);

#endif
