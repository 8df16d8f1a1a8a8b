// How a run ends.
#ifndef KARVEL_RUN_H
#define KARVEL_RUN_H

#include <string>

// An orderly stop of the dialogue (missing raster, sizes that differ, a
// refused description or answer): prints the message, waits for a key and
// ends the run with status 0; once the dialogue has named the results, as
// fail_run.
[[noreturn]] void stop_run(const std::string &message);

// A stop once the results are named, or that leaves the run without results:
// prints the message, removes the run's temporary files, names the result
// files that were not written (earlier files of those names stay as they
// were), waits for a key and ends the run with status 1.
[[noreturn]] void fail_run(const std::string &message);

// The dialogue has named the three result files (shown paths, in the order
// summary, per-line table, histogram table): from now on every stop, failure
// or signal says that they were not written.
void name_results(const std::string &summary, const std::string &table, const std::string &histogram);

// Ends a completed run: finishes the three result files and gives them their
// names together, or, when any of them could not be written completely,
// none of them, and says so. Returns the exit status.
int finish_run();

// Stops the run when a grid or vector could not be obtained.
void need_memory(const void *block, const char *what, long long lines, long long cols, long long elem_bytes);

#endif
