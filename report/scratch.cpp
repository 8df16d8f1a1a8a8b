#include "scratch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "gnuplot.h"
#include "paths.h"
#include "result_set.h"
#include "staged.h"

namespace {

constexpr size_t kScratchPath = 4096, kScratchNames = 64, kScratchName = 64;
char scratch_dir[kScratchPath];
char scratch_names[kScratchNames][kScratchName];
volatile sig_atomic_t scratch_count = 0;

void append(char *dst, size_t &len, const char *src) {
    while (*src != '\0' && len + 1 < kScratchPath) dst[len++] = *src++;
    dst[len] = '\0';
}

}  // namespace

std::string scratch_begin(const std::string &dir) {
    if (dir.size() >= kScratchPath) return "the path " + printable(dir) + " is too long";
    staged_add_signal_hook(remove_scratch);
    if (mkdir(dir.c_str(), 0777) != 0)
        return "cannot create the folder " + printable(dir) + ": " + std::strerror(errno);
    std::memcpy(scratch_dir, dir.c_str(), dir.size() + 1);
    return "";
}

bool scratch_record(const std::string &name) {
    if (scratch_count >= sig_atomic_t(kScratchNames) || name.size() >= kScratchName) return false;
    std::memcpy(scratch_names[scratch_count], name.c_str(), name.size() + 1);
    scratch_count = scratch_count + 1;
    return true;
}

std::vector<StagedFile> scratch_moves(const std::string &final_dir) {
    std::vector<StagedFile> moves;
    for (sig_atomic_t k = 0; k < scratch_count; k++) {
        const std::string name = scratch_names[k];
        moves.push_back(StagedFile{final_dir + "/" + name, std::string(scratch_dir) + "/" + name});
    }
    return moves;
}

void remove_scratch() {
    gnuplot_stop_all();
    if (scratch_dir[0] == '\0') return;
    static char path[kScratchPath];
    for (sig_atomic_t k = 0; k < scratch_count; k++) {
        size_t len = 0;
        path[0] = '\0';
        append(path, len, scratch_dir);
        append(path, len, "/");
        append(path, len, scratch_names[k]);
        unlink(path);
    }
    rmdir(scratch_dir);
    scratch_dir[0] = '\0';
    scratch_count = 0;
}

std::string scratch_commit(const std::vector<StagedFile *> &files, const StagedFile *in_run,
                           const std::string &final_dir, const SetOf &set_of) {
    if (mkdir(final_dir.c_str(), 0777) != 0 && errno != EEXIST)
        return "cannot create the folder " + printable(final_dir) + ": " + std::strerror(errno);
    std::vector<StagedFile> moves = scratch_moves(final_dir);
    ResultSet set(set_of.dir, set_of.manifest, set_of.program, set_of.result);
    for (StagedFile *f : files) set.add(*f, f == in_run);
    for (StagedFile &m : moves) set.add(m, false);
    for (const std::string &name : set_of.removed) set.remove(name);
    sigset_t held, old;
    sigfillset(&held);
    sigprocmask(SIG_BLOCK, &held, &old);
    ResultSet::Failure failure;
    std::string moved;
    if (set.commit(&failure)) {
        remove_scratch();
        // The new set is in place: a signal held meanwhile, or one that
        // comes now, no longer says otherwise with its status.
        staged_ignore_signals();
    } else {
        moved = "cannot write " + printable(failure.path) + ": " + std::strerror(failure.err);
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    return moved;
}
