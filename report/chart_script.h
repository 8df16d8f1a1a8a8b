// What the figures' scripts (charts.cpp, map_chart.cpp) are made of: their
// numbers, their first lines and their binary data.
#ifndef KARVEL_REPORT_CHART_SCRIPT_H
#define KARVEL_REPORT_CHART_SCRIPT_H

#include <string>
#include <vector>

#include "charts.h"

// A number in a script: not-a-number and infinities become gnuplot's NaN,
// which draws nothing.
std::string num(double v);

// The lines every script begins with: drawn alone it writes its PNG (or the
// file named by the variable out); loaded by the PDF script it draws a page.
std::string preamble(const Figure &f, const std::string &title);

// The bytes of the values, as a figure's data file holds them.
template <class T>
std::string bytes_of(const std::vector<T> &v) {
    return std::string(reinterpret_cast<const char *>(v.data()), v.size() * sizeof(T));
}

#endif
