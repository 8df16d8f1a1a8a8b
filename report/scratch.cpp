#include "scratch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "gnuplot.h"
#include "outfile.h"
#include "paths.h"
#include "regular_file.h"
#include "result_set.h"
#include "staged.h"

namespace {

constexpr size_t kScratchPath = 4096, kScratchNames = 128, kScratchName = 64;
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

bool removable_file(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode));
}

std::vector<std::string> earlier_drawn(const std::string &final_dir, const std::vector<std::string> &now) {
    std::string text;
    if (!read_bounded(final_dir + "/" + kDrawnList, kDrawnListLimit, text, false).problem.empty()) return {};
    std::vector<std::string> gone;
    size_t b = 0;
    while (b < text.size()) {
        size_t e = text.find('\n', b);
        if (e == std::string::npos) e = text.size();
        const std::string name = text.substr(b, e - b);
        b = e + 1;
        // Only a plain name of the folder's own, as the report writes them:
        // no hidden name, no folder, no control character (a NUL would
        // name another file to the system than the one compared here).
        if (name.empty() || name[0] == '.' || name.size() >= kScratchName ||
            std::any_of(name.begin(), name.end(), [](char c) { return c == '/' || (unsigned char)c < 0x20 || c == 0x7f; }))
            continue;
        // A file, as the report left it, still there.
        if (!removable_file(final_dir + "/" + name)) continue;
        if (std::find(now.begin(), now.end(), name) == now.end() &&
            std::find(gone.begin(), gone.end(), name) == gone.end())
            gone.push_back(name);
    }
    return gone;
}

std::string scratch_commit(const std::vector<StagedFile *> &files, const StagedFile *in_run,
                           const std::string &final_dir, const SetOf &set_of) {
    if (mkdir(final_dir.c_str(), 0777) != 0 && errno != EEXIST)
        return "cannot create the folder " + printable(final_dir) + ": " + std::strerror(errno);
    // The list of what this report drew, for the next one, with what an
    // earlier report drew and this one removes: if the commit is cut after
    // the list takes its name, the next report still removes those.
    std::vector<std::string> now;
    for (sig_atomic_t k = 0; k < scratch_count; k++) now.push_back(scratch_names[k]);
    const std::vector<std::string> gone = earlier_drawn(final_dir, now);
    std::string list;
    for (const std::string &name : now) list += name + "\n";
    for (const std::string &name : gone) list += name + "\n";
    if (!scratch_record(kDrawnList)) return "too many figures";
    OutFile listed;
    const std::string list_path = std::string(scratch_dir) + "/" + kDrawnList;
    if (!write_staged(listed, list_path, list) || !staged_commit(listed.staged))
        return "cannot write " + printable(list_path) + ": " + std::strerror(listed.err ? listed.err : errno);

    std::vector<StagedFile> moves = scratch_moves(final_dir);
    ResultSet set(set_of.dir, set_of.manifest, set_of.program, set_of.result);
    for (StagedFile *f : files) set.add(*f, f == in_run);
    for (StagedFile &m : moves) set.add(m, false);
    for (const std::string &name : set_of.removed) set.remove(name);
    // What an earlier report drew and this one did not (a figure of an
    // option not given now) would be taken for this report's: it goes.
    const std::string below = final_dir.substr(set_of.dir.size() + 1) + "/";
    for (const std::string &name : gone) set.remove(below + name);
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
