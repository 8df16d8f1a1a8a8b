// Runs gnuplot as separate processes, never waiting on a terminal.
#ifndef KARVEL_REPORT_GNUPLOT_H
#define KARVEL_REPORT_GNUPLOT_H

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

// The gnuplot found on the PATH, or empty when there is none.
std::string find_gnuplot();

// What gnuplot's environment sets GLIBC_TUNABLES to: what it was (given,
// or null), with glibc's allocator asked to give its large blocks huge
// pages where the system allows them. A map's gnuplot touches some 100 MB
// once, a point of 64 bytes for each of its cells; in pages of 4 kB the
// first touches cost it a third of its time. glibc without the setting,
// or a system without transparent huge pages, ignores it: the figures are
// the same bytes either way.
inline constexpr const char *kHugePages = "glibc.malloc.hugetlb=1";
std::string gnuplot_tunables(const char *given);

// One script to run: `gnuplot -e setting script`. problem is empty when
// gnuplot ran the script to its end, else what went wrong (with what
// gnuplot said).
struct GnuplotJob {
    std::string setting, script;
    std::string problem;
};

// Jobs started together, running while the caller goes on, and waited for
// together. Jobs still running when the batch is dropped are stopped.
class GnuplotBatch {
public:
    GnuplotBatch() = default;
    ~GnuplotBatch() { stop(); }
    GnuplotBatch(const GnuplotBatch &) = delete;
    GnuplotBatch &operator=(const GnuplotBatch &) = delete;
    // Starts each job, in folder dir with standard input from /dev/null;
    // `behind`, at the helpers' lower priority (behind.h): figures drawn
    // while the walk reads, which are needed only once it is over.
    void start(const std::string &gnuplot, const std::string &dir, std::vector<GnuplotJob> jobs,
               bool behind = false);
    // Waits for every job started until timeout_s seconds after the call,
    // stopping those still running then (they fail), and hands the jobs
    // back with their problems.
    std::vector<GnuplotJob> wait(int timeout_s);
    // Stops every job still running, at once.
    void stop();

private:
    struct Running {
        pid_t pid = -1;
        FILE *said = nullptr;  // what gnuplot writes on its output streams
        bool done = false;
        int status = 0;
    };
    std::string gnuplot_;
    std::vector<GnuplotJob> jobs_;
    std::vector<Running> run_;
};

// Stops every gnuplot still running and waits for it: async-signal-safe,
// for a signal handler that removes the folder they draw in.
void gnuplot_stop_all();

#endif
