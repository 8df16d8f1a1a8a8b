// karvel-report: the comparison of one karvel run as headline figures,
// georeferenced difference maps and figures drawn by gnuplot.
#ifndef KARVEL_REPORT_REPORT_H
#define KARVEL_REPORT_REPORT_H

#include <string>
#include <vector>

// Exit statuses.
constexpr int kReportDone = 0;     // everything was written
constexpr int kReportRefused = 1;  // refused, or a file could not be written
constexpr int kReportUsage = 2;    // the command line is wrong

// Runs the program on its arguments (without the program name), with the
// images directory configured as `images_root` ("~" for the user's home).
int report_main(const std::vector<std::string> &args, const std::string &images_root);

#endif
