// How a run ends.
#ifndef KARVEL_RUN_H
#define KARVEL_RUN_H

#include <string>

// An orderly stop of the dialogue (missing raster, sizes that differ, a
// refused description or answer): prints the message, waits for a key and
// ends the run with status 0; once the result files exist, as fail_run.
[[noreturn]] void stop_run(const std::string &message);

// A stop after the result files were created, or that leaves the run without
// results: prints the message, names the result files left incomplete, waits
// for a key and ends the run with status 1.
[[noreturn]] void fail_run(const std::string &message);

// Ends a completed run: flushes and closes every result file still open and
// reports any that could not be written completely. Returns the exit status.
int finish_run();

// Stops the run when a grid or vector could not be obtained.
void need_memory(const void *block, const char *what, long long lines, long long cols, long long elem_bytes);

#endif
