// The scratch folder of a report: the figures, their scripts and data are
// drawn in a folder beside RESULT_report/ and moved into it only once
// everything is written, so that a report that fails or is stopped never
// leaves new scripts beside earlier pictures. What lies in the scratch
// folder is recorded in fixed buffers, so that a signal can remove it
// without allocating.
#ifndef KARVEL_REPORT_SCRATCH_H
#define KARVEL_REPORT_SCRATCH_H

#include <string>
#include <vector>

#include "staged.h"

// Creates the scratch folder at `dir`, removed by remove_scratch() (which
// the signals run too). Empty on success, else the problem.
std::string scratch_begin(const std::string &dir);

// Records a name of the scratch folder before it is written there; false
// when it cannot be recorded (too many, or too long a name).
bool scratch_record(const std::string &name);

// Every file recorded, as a staged file whose commit moves it into
// `final_dir` under its own name (committed with the rest of the report).
std::vector<StagedFile> scratch_moves(const std::string &final_dir);

// Removes the scratch folder and what was recorded in it, once no gnuplot
// draws there any more. Async-signal-safe.
void remove_scratch();

// Which result set a commit makes: the set that `program` writes for
// result `result` into folder dir, under the manifest named `manifest`.
struct SetOf {
    std::string dir, manifest, program, result;
    std::vector<std::string> removed = {};  // files of dir the new set must not leave behind
};

// The list of the files a run drew, in its folder of figures beside them, a
// name a line (and of those of an earlier run it removed): the next run of
// the result removes those it does not draw again.
inline constexpr const char *kDrawnList = ".drawn";
inline constexpr size_t kDrawnListLimit = 1 << 16;

// Whether path is a file (or a link) that a commit may remove as a result's
// own: never a folder or anything else a user made of the name.
bool removable_file(const std::string &path);

// The names listed in final_dir's list of what a report drew that are not
// among `now`: plain names of files (or links) there, each once. None when
// there is no list.
std::vector<std::string> earlier_drawn(const std::string &final_dir, const std::vector<std::string> &now);

// The files in place: the folder final_dir made first (one that cannot be
// made refuses the result before anything is replaced), then the staged
// files and the figures recorded in the scratch folder (moved into
// final_dir) committed as one result set under its manifest, with every
// signal held, so that a signal finds either the earlier set or the new
// one, whole, and a kill a manifest that says which. The figures an earlier
// report drew and this one does not are removed with the commit (by the
// list of kDrawnList, written with it); any other file a user keeps in
// final_dir stays. `in_run` is the file whose bytes name the run.
// The scratch folder is then removed, and signals are ignored from then
// on. Empty on success, else the problem.
std::string scratch_commit(const std::vector<StagedFile *> &files, const StagedFile *in_run,
                           const std::string &final_dir, const SetOf &set_of);

#endif
