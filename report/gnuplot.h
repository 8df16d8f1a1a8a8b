// Runs gnuplot as a separate process, never waiting on a terminal.
#ifndef KARVEL_REPORT_GNUPLOT_H
#define KARVEL_REPORT_GNUPLOT_H

#include <string>

// The gnuplot found on the PATH, or empty when there is none.
std::string find_gnuplot();

// Runs `gnuplot -e SETTING SCRIPT` in folder dir with standard input from
// /dev/null; gives up after timeout_s seconds. Empty when gnuplot ran the
// script to its end, else what went wrong (with what gnuplot said).
std::string run_gnuplot(const std::string &gnuplot, const std::string &dir, const std::string &setting,
                        const std::string &script, int timeout_s);

#endif
