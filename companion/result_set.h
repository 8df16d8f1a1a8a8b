// A result set: the files one run of a companion writes for a result,
// committed as one under a manifest.
//
// The files are renamed into place one by one, so a run killed among the
// renames (SIGKILL cannot be held off) would leave some files new and the
// rest old. The manifest, a small JSON file in the same folder, marks the
// commit: it is renamed into place first, naming every file of the set
// with its size and the run that wrote it (a hash of what the set holds,
// so that the same inputs give the same manifest); then every file takes
// its name (and the files the set must not hold are removed); last the
// manifest is removed. The whole commit holds the folder's lock. So a
// manifest found in a folder whose lock is free says the set is torn: a
// reader refuses it, naming it, and the next run of the result replaces
// the set whole, manifest included. A whole set leaves no file beside its
// own, so the folder lists what it always did.
#ifndef KARVEL_COMPANION_RESULT_SET_H
#define KARVEL_COMPANION_RESULT_SET_H

#include <cstddef>
#include <string>
#include <vector>

#include "outfile.h"
#include "staged.h"

// A manifest as written and read.
struct Manifest {
    struct Entry {
        std::string name;  // in the manifest's folder ("R_report/headline.png" below it)
        long long bytes = 0;
    };
    std::string program;  // the companion that wrote the set
    std::string result;   // the result's name
    std::string run;      // 16 hexadecimal digits
    std::vector<Entry> files;
};

std::string manifest_text(const Manifest &m);

// Empty when `text` is a manifest, read into m; else what is wrong with it.
std::string parse_manifest(const std::string &text, Manifest &m);

// The name of the manifest of the import of result `result`.
std::string import_manifest_name(const std::string &result);
// The name of the manifest of the report of result `result`.
std::string report_manifest_name(const std::string &result);
// The name of the manifest of the check points of result `result`.
std::string points_manifest_name(const std::string &result);

// The files of one set, collected and then committed together.
class ResultSet {
public:
    // The set that `program` writes for result `result` into folder dir
    // (no final slash), under the manifest named `manifest` there.
    ResultSet(const std::string &dir, const std::string &manifest, const std::string &program,
              const std::string &result);
    ResultSet(const ResultSet &) = delete;
    ResultSet &operator=(const ResultSet &) = delete;

    // A staged file of the set, complete under its temporary name, in dir
    // or a folder below it. `in_run` puts its bytes into the run's hash
    // (small files whose bytes follow from the inputs alone).
    void add(StagedFile &f, bool in_run);
    // A file of dir that the set must not hold: removed in the commit.
    void remove(const std::string &name);

    // What a failed commit says.
    struct Failure {
        std::string path;                   // the file that could not take its name (or be written)
        int err = 0;                        // errno
        std::vector<std::string> replaced;  // the files that had already taken theirs
    };
    // Writes the manifest and commits the set: the manifest, the files in
    // the order added, the removals, the manifest's removal. True when all
    // is in place; else false with *failure filled in (every file not yet
    // renamed is discarded; the manifest, once in place, stays to say that
    // the set is torn).
    bool commit(Failure *failure);

private:
    std::string name_of(const StagedFile &f) const;

    std::string dir_, manifest_path_;
    Manifest m_;
    std::vector<StagedFile *> files_;
    std::vector<bool> in_run_;
    std::vector<StagedFile> removals_;
    OutFile manifest_;
};

// Holds the shared lock of folder dir while a reader reads a result set
// there: a commit into the folder waits until it is released, and the
// reader waits for a commit under way to end.
class SetReadLock {
public:
    explicit SetReadLock(const std::string &dir);
    ~SetReadLock();
    SetReadLock(const SetReadLock &) = delete;
    SetReadLock &operator=(const SetReadLock &) = delete;

private:
    int fd_ = -1;
};

// What a reader makes of the set whose manifest is `manifest` in folder
// dir, shown as `shown_dir` (with its final slash), before it reads the
// set, holding the folder's SetReadLock: empty when there is no manifest
// (the set is whole); else that the set is torn, naming it.
std::string check_result_set(const std::string &dir, const std::string &shown_dir, const std::string &manifest);

#endif
