// Runs gnuplot as separate processes, never waiting on a terminal.
#ifndef KARVEL_REPORT_GNUPLOT_H
#define KARVEL_REPORT_GNUPLOT_H

#include <string>
#include <vector>

// The gnuplot found on the PATH, or empty when there is none.
std::string find_gnuplot();

// One script to run: `gnuplot -e setting script`. problem is empty when
// gnuplot ran the script to its end, else what went wrong (with what
// gnuplot said).
struct GnuplotJob {
    std::string setting, script;
    std::string problem;
};

// Runs every job at once, each in folder dir with standard input from
// /dev/null, and waits for them all; a job still running after timeout_s
// seconds is stopped and fails.
void run_gnuplot(const std::string &gnuplot, const std::string &dir, std::vector<GnuplotJob> &jobs, int timeout_s);

#endif
