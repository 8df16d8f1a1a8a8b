#include "staged.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "paths.h"

namespace {

// The registry the signal handler walks: fixed slots, so that it needs no
// allocation and no lock. A slot is in use while `used` is set; its path is
// written before it is set and not changed while it is.
constexpr size_t kSlots = 32;
constexpr size_t kSlotPath = 4096;
struct Slot {
    volatile sig_atomic_t used;
    pid_t owner;  // the process that created the file: a forked child never removes it
    char path[kSlotPath];
};
Slot slots[kSlots];

const int kCaught[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ};

constexpr int kMaxHooks = 4;
void (*volatile signal_hooks[kMaxHooks])() = {};
volatile sig_atomic_t hook_count = 0;
volatile sig_atomic_t handlers_installed = 0;

// Blocks the caught signals while the registry and the file system change
// together, so that a signal never sees one without the other.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t set;
        sigemptyset(&set);
        for (int s : kCaught) sigaddset(&set, s);
        sigprocmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &old_, nullptr); }

private:
    sigset_t old_;
};

int record(const std::string &path) {
    if (path.size() >= kSlotPath) return -1;
    for (size_t i = 0; i < kSlots; i++) {
        if (slots[i].used) continue;
        std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
        slots[i].owner = getpid();
        std::atomic_signal_fence(std::memory_order_seq_cst);
        slots[i].used = 1;
        return int(i);
    }
    return -1;
}

void forget(const std::string &path) {
    for (size_t i = 0; i < kSlots; i++)
        if (slots[i].used && path == slots[i].path) slots[i].used = 0;
}

void on_signal(int sig) {
    for (int i = 0; i < hook_count; i++) signal_hooks[i]();
    staged_discard_all();
    signal(sig, SIG_DFL);
    raise(sig);
}

std::string folder_of(const std::string &path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

bool staged_begin(StagedFile &f, const std::string &final_path) {
    // A process that ends without committing leaves no temporary file.
    static const bool at_exit = std::atexit(staged_discard_all) == 0;
    (void)at_exit;
    f.final_path = final_path;
    f.temp_path.clear();
    f.removal = false;
    // What could not be replaced by writing it is refused now, not after
    // the whole file has been written.
    struct stat st;
    if (stat(final_path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            errno = EISDIR;
            return false;
        }
        // Renaming onto a device, a FIFO or a socket would replace it (a
        // process run as root would replace /dev/full with a file).
        if (!S_ISREG(st.st_mode)) {
            errno = EINVAL;
            return false;
        }
        if (access(final_path.c_str(), W_OK) != 0) return false;
    }
    const size_t slash = final_path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : final_path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? final_path : final_path.substr(slash + 1);
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; attempt++) {
        char tail[64];
        std::snprintf(tail, sizeof tail, ".%ld.%u.tmp", long(getpid()), counter++);
        const std::string temp = dir + "." + base + tail;
        SignalsHeld held;
        if (record(temp) < 0) {
            errno = temp.size() >= kSlotPath ? ENAMETOOLONG : EMFILE;
            return false;
        }
        int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            int err = errno;
            forget(temp);
            errno = err;
            if (err == EEXIST) continue;
            return false;
        }
        close(fd);
        f.temp_path = temp;
        return true;
    }
    errno = EEXIST;
    return false;
}

bool staged_commit(StagedFile &f) {
    if (f.removal) return unlink(f.final_path.c_str()) == 0 || errno == ENOENT;
    if (f.temp_path.empty()) {
        errno = ENOENT;
        return false;
    }
    SignalsHeld held;
    if (rename(f.temp_path.c_str(), f.final_path.c_str()) != 0) {
        int err = errno;
        unlink(f.temp_path.c_str());
        forget(f.temp_path);
        f.temp_path.clear();
        errno = err;
        return false;
    }
    forget(f.temp_path);
    f.temp_path.clear();
    return true;
}

bool staged_commit_together(StagedFile *const files[], size_t n, size_t *failed) {
    if (n == 0) return true;
    // A signal waits until every file is renamed (or discarded): it never
    // finds some replaced and the rest not.
    SignalsHeld held;
    // The lock is taken on the folder of the first file; files committed
    // together lie in one folder.
    int dir_fd = open(folder_of(files[0]->final_path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd >= 0) {
        while (flock(dir_fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    bool ok = true;
    int first_err = 0;
    for (size_t i = 0; i < n; i++) {
        if (!ok) {
            staged_discard(*files[i]);
            continue;
        }
        if (staged_commit(*files[i])) continue;
        first_err = errno;
        if (failed != nullptr) *failed = i;
        ok = false;
    }
    if (dir_fd >= 0) close(dir_fd);  // releases the lock
    if (!ok) errno = first_err;
    return ok;
}

void staged_removal(StagedFile &f, const std::string &final_path) {
    f.final_path = final_path;
    f.temp_path.clear();
    f.removal = true;
}

void staged_discard(StagedFile &f) {
    if (f.temp_path.empty()) return;
    SignalsHeld held;
    unlink(f.temp_path.c_str());
    forget(f.temp_path);
    f.temp_path.clear();
}

void staged_discard_all() {
    for (size_t i = 0; i < kSlots; i++) {
        if (!slots[i].used) continue;
        if (slots[i].owner == getpid()) unlink(slots[i].path);
        slots[i].used = 0;
    }
}

void staged_catch_signals() {
    if (handlers_installed) return;
    struct sigaction act {};
    act.sa_handler = on_signal;
    sigemptyset(&act.sa_mask);
    for (int s : kCaught) sigaddset(&act.sa_mask, s);
    // A signal ignored on entry (nohup, a background job of a script) stays
    // ignored, as the caller meant.
    for (int s : kCaught) {
        struct sigaction old {};
        if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaction(s, &act, nullptr);
    }
    handlers_installed = 1;
}

void staged_ignore_signals() {
    struct sigaction act {};
    act.sa_handler = SIG_IGN;
    sigemptyset(&act.sa_mask);
    for (int s : kCaught) sigaction(s, &act, nullptr);
}

bool staged_add_signal_hook(void (*hook)()) {
    for (int i = 0; i < hook_count; i++)
        if (signal_hooks[i] == hook) return true;
    if (hook_count >= kMaxHooks) return false;
    signal_hooks[hook_count] = hook;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    hook_count = hook_count + 1;
    return true;
}

namespace {

// The process id of a temporary name ".NAME.PID.N.tmp" (file) or
// ".NAME.PID.tmp" (folder), or 0 when the name is not one.
long temporary_pid(const std::string &name, bool folder) {
    const std::string tail = ".tmp";
    if (name.size() < 2 + tail.size() || name[0] != '.' ||
        name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
        return 0;
    size_t end = name.size() - tail.size();
    auto digits_before = [&](size_t e, size_t &b) {
        b = e;
        while (b > 1 && name[b - 1] >= '0' && name[b - 1] <= '9') b--;
        return b < e && b > 1 && name[b - 1] == '.';
    };
    size_t b = 0;
    if (!folder) {
        if (!digits_before(end, b)) return 0;
        end = b - 1;
    }
    if (!digits_before(end, b) || end - b > 9) return 0;
    return std::stol(name.substr(b, end - b));
}

// True when no process of that id exists (a process of another user
// counts as existing).
bool gone(long pid) { return pid > 0 && kill(pid_t(pid), 0) != 0 && errno == ESRCH; }

}  // namespace

std::vector<std::string> staged_remove_stale(const std::string &dir) {
    std::vector<std::string> removed;
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) return removed;
    std::vector<std::pair<std::string, bool>> found;  // name, is a folder
    while (struct dirent *e = readdir(d)) {
        const std::string name = e->d_name;
        struct stat st;
        if (name[0] != '.' || lstat((dir + "/" + name).c_str(), &st) != 0) continue;
        if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) found.push_back({name, S_ISDIR(st.st_mode)});
    }
    closedir(d);
    for (const auto &[name, folder] : found) {
        if (!gone(temporary_pid(name, folder))) continue;
        const std::string path = dir + "/" + name;
        if (folder) {
            // A scratch folder holds plain files only; anything else keeps it.
            if (DIR *sub = opendir(path.c_str())) {
                while (struct dirent *e = readdir(sub)) {
                    const std::string inner = path + "/" + e->d_name;
                    struct stat st;
                    if (lstat(inner.c_str(), &st) == 0 && S_ISREG(st.st_mode)) unlink(inner.c_str());
                }
                closedir(sub);
            }
            if (rmdir(path.c_str()) == 0) removed.push_back(name);
        } else if (unlink(path.c_str()) == 0) {
            removed.push_back(name);
        }
    }
    return removed;
}

std::string byte_count(uint64_t bytes) {
    if (bytes < 1000) return std::to_string(bytes) + " bytes";
    static const char *const kUnits[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
    double v = double(bytes);
    int u = -1;
    while (v >= 1000.0 && u < 5) {
        v /= 1000.0;
        u++;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f %s", v, kUnits[u]);
    return buf;
}

std::string space_problem(const std::string &dir, uint64_t need) {
    struct statvfs fs;
    if (statvfs(dir.c_str(), &fs) != 0) return "";  // nothing known: the writes themselves are checked
    const uint64_t free_bytes = uint64_t(fs.f_bavail) * uint64_t(fs.f_frsize);
    if (need <= free_bytes) return "";
    return "it needs " + byte_count(need) + " but the file system of " + printable(dir) + " has " + byte_count(free_bytes) +
           " free";
}
