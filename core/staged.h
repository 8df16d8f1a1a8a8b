// Files replaced whole, or not at all.
//
// A file is written under a temporary name in the folder of its final name
// and renamed onto that name only once it is complete and closed, so that an
// earlier file of that name stays untouched until then. Every temporary file
// is recorded: a stop, a failure, the end of the process (exit) or a signal
// removes it.
#ifndef KARVEL_STAGED_H
#define KARVEL_STAGED_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct StagedFile {
    std::string final_path;  // the name the file gets when committed
    std::string temp_path;   // where it is written meanwhile; empty when none
    bool removal = false;    // committing it removes final_path (see staged_removal)
};

// Creates a new, empty, uniquely named temporary file beside final_path
// (created exclusively, with the usual permissions under the umask) and
// records it. The caller opens temp_path to write it. Returns false with
// errno set when it cannot be created.
bool staged_begin(StagedFile &f, const std::string &final_path);

// Renames the temporary file onto final_path. Returns false with errno set
// when it cannot; the temporary file is then removed.
bool staged_commit(StagedFile &f);

// Commits n files as one: while one run renames its files into a folder no
// other run renames files into that folder, so files committed together
// always come from one run. They are renamed in order; at the first that
// cannot be, it and every later one have their temporary files removed and
// *failed (when given) receives its index. Returns false with errno set
// when one failed.
bool staged_commit_together(StagedFile *const files[], size_t n, size_t *failed = nullptr);

// Makes f a removal: committing it removes the file final_path, when there
// is one (a file that the files committed with it must not find beside
// them); discarding it does nothing.
void staged_removal(StagedFile &f, const std::string &final_path);

// Removes the temporary file, if any, and forgets it.
void staged_discard(StagedFile &f);

// Removes every temporary file this process recorded (a forked child that
// ends leaves its parent's files alone). Async-signal-safe.
void staged_discard_all();

// Installs one handler for SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE and
// SIGXFSZ (a file grown beyond the size limit; when that signal is ignored
// the write fails instead, as any failed write): it
// runs the hooks, removes every recorded temporary file, restores the
// default action and raises the signal again. A signal ignored when this is
// first called stays ignored. Safe to call repeatedly.
void staged_catch_signals();

// Ignores from now on the signals that staged_catch_signals catches, one
// pending among them included: called, with the signals held, once a
// program's files are in place, so that no signal then ends it with a
// status that says they are not.
void staged_ignore_signals();

// Adds an async-signal-safe function for the handler to run first, in the
// order added (for instance to put a terminal back into its modes, or to say
// what was not written). Adding one twice has no effect. Returns false when
// no more can be added.
bool staged_add_signal_hook(void (*hook)());

// Removes from folder dir what a process killed without a chance to clean
// up left there: hidden temporary files ".NAME.PID.N.tmp" and scratch
// folders ".NAME.PID.tmp" (with the files in them) whose process PID no
// longer runs. What belongs to a running process, or to a process that may
// run under another user, stays. Returns the names removed.
std::vector<std::string> staged_remove_stale(const std::string &dir);

// Empty when the file system of folder dir has `need` bytes free for an
// unprivileged writer; else what is missing, with both figures ("it needs
// 4.0 TB but the file system of DIR has 53.1 GB free").
std::string space_problem(const std::string &dir, uint64_t need);

// A byte count for people: "512 bytes", "1.5 kB", "96.0 MB", "4.0 TB".
std::string byte_count(uint64_t bytes);

#endif
