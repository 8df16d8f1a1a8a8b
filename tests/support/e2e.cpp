#include "e2e.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

std::atomic<int> folder_count{0};

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

Folder::Folder() {
    char name[64];
    std::snprintf(name, sizeof name, "t%d_%d", int(getpid()), folder_count++);
    name_ = name;
    dir_ = std::string(KARVEL_LOCAL_IMAGES) + "/" + name_;
    fs::remove_all(dir_);
    fs::create_directories(dir_);
}

Folder::~Folder() {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
}

std::string Folder::path(const std::string &file) const { return dir_ + "/" + file; }
std::string Folder::shown(const std::string &file) const { return "c:\\images\\" + name_ + "\\" + file; }

void Folder::write(const std::string &file, const std::string &bytes) const {
    std::ofstream o(path(file), std::ios::binary | std::ios::trunc);
    o << bytes;
}

std::string Folder::read(const std::string &file) const { return slurp(path(file)); }
bool Folder::exists(const std::string &file) const { return fs::exists(path(file)); }

RunResult run_karvel(const std::string &answers, uint64_t memory_limit, uint64_t file_size_limit) {
    return run_program(KARVEL_LOCAL_BIN, {}, answers, memory_limit, file_size_limit);
}

RunResult run_program(const std::string &binary, const std::vector<std::string> &args, const std::string &input,
                      uint64_t memory_limit, uint64_t file_size_limit) {
    char dir_template[] = "/tmp/karvel_e2e_in_XXXXXX";
    if (mkdtemp(dir_template) == nullptr) throw std::runtime_error("mkdtemp failed");
    const std::string tmp = dir_template;
    {
        std::ofstream in(tmp + "/in", std::ios::binary);
        in << input;
    }
    RunResult r = run_program_input(binary, args, tmp + "/in", memory_limit, file_size_limit);
    fs::remove_all(tmp);
    return r;
}

RunResult run_karvel_input(const std::string &stdin_path, uint64_t memory_limit, uint64_t file_size_limit,
                           const char *binary, int uid) {
    return run_program_input(binary == nullptr ? KARVEL_LOCAL_BIN : binary, {}, stdin_path, memory_limit,
                             file_size_limit, uid);
}

std::string unreachable_by(int uid, const std::vector<std::pair<std::string, int>> &paths) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgid(gid_t(uid)) != 0 || setuid(uid_t(uid)) != 0) _exit(255);
        for (size_t k = 0; k < paths.size() && k < 250; k++)
            if (access(paths[k].first.c_str(), paths[k].second) != 0) _exit(int(k) + 1);
        _exit(0);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    const int code = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 255;
    if (code == 0) return "";
    if (code == 255 || size_t(code) > paths.size()) return "user " + std::to_string(uid) + " cannot be taken on";
    return "user " + std::to_string(uid) + " cannot reach " + paths[size_t(code) - 1].first;
}

RunResult run_program_input(const std::string &binary, const std::vector<std::string> &args,
                            const std::string &stdin_path, uint64_t memory_limit, uint64_t file_size_limit, int uid) {
    char dir_template[] = "/tmp/karvel_e2e_XXXXXX";
    if (mkdtemp(dir_template) == nullptr) throw std::runtime_error("mkdtemp failed");
    const std::string tmp = dir_template;
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(binary.c_str()));
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        setsid();  // no controlling terminal
        int in = open(stdin_path.c_str(), O_RDONLY);
        int out = open((tmp + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open((tmp + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (memory_limit > 0) {
            struct rlimit lim {
                memory_limit, memory_limit
            };
            setrlimit(RLIMIT_AS, &lim);
        }
        if (file_size_limit > 0) {
            signal(SIGXFSZ, SIG_IGN);  // stays ignored across exec: the write fails instead
            struct rlimit lim {
                file_size_limit, file_size_limit
            };
            setrlimit(RLIMIT_FSIZE, &lim);
        }
        if (uid >= 0 && (setgid(gid_t(uid)) != 0 || setuid(uid_t(uid)) != 0)) _exit(126);
        execv(binary.c_str(), argv.data());
        _exit(127);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    RunResult r;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    r.out = slurp(tmp + "/out");
    r.err = slurp(tmp + "/err");
    fs::remove_all(tmp);
    return r;
}

std::string usable_strace() {
    static const std::string found = [] {
        for (const char *p : {"/usr/bin/strace", "/bin/strace", "/usr/local/bin/strace"})
            if (access(p, X_OK) == 0 && run_program(p, {"-f", "-qq", "-o", "/dev/null", "/bin/true"}, "").status == 0)
                return std::string(p);
        return std::string();
    }();
    return found;
}

namespace {

const char kRenames[] = "rename,renameat,renameat2";

// strace's options that run the traced program with the leak checker of a
// sanitized build off: it stops the program's threads with ptrace at exit,
// which fails under strace's own. The other checks stay as they were set.
std::vector<std::string> traced_options(std::vector<std::string> options) {
    const char *set = std::getenv("ASAN_OPTIONS");
    options.push_back("-E");
    options.push_back(std::string("ASAN_OPTIONS=") + (set != nullptr && *set ? std::string(set) + ":" : "") +
                      "detect_leaks=0");
    return options;
}

}  // namespace

RunResult run_killed_at_rename(const std::string &binary, const std::vector<std::string> &args, int n, bool *killed) {
    std::vector<std::string> all =
        traced_options({"-f", "-qq", "-o", "/dev/null", "-e", std::string("trace=") + kRenames, "-e",
                        std::string("inject=") + kRenames + ":signal=SIGKILL:when=" + std::to_string(n)});
    all.push_back(binary);
    all.insert(all.end(), args.begin(), args.end());
    RunResult r = run_program(usable_strace(), all, "");
    // strace ends as its child did: killed by the same signal.
    *killed = r.status == -1 || r.status == 128 + SIGKILL;
    return r;
}

std::vector<FileSet> killed_at_each_rename(const std::string &binary, const std::vector<std::string> &args, int first,
                                           const std::function<void()> &restore, const std::function<FileSet()> &state,
                                           FileSet *done) {
    std::vector<FileSet> states;
    done->clear();
    for (int n = first; n < first + 500; n++) {
        restore();
        bool killed = false;
        const RunResult r = run_killed_at_rename(binary, args, n, &killed);
        if (!killed) {
            EXPECT_EQ(r.status, 0) << r.err;
            if (r.status == 0) *done = state();
            break;
        }
        states.push_back(state());
    }
    return states;
}

FileSet result_set_files(const Folder &f, const std::vector<std::string> &names, const std::string &sub) {
    FileSet all;
    for (const std::string &name : names)
        if (f.exists(name)) all[name] = f.read(name);
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(f.path(sub), ec)) {
        const std::string name = sub + "/" + e.path().filename().string();
        all[name] = f.read(name);
    }
    return all;
}

void restore_result_set(const Folder &f, const std::vector<std::string> &names, const std::string &sub,
                        const FileSet &set) {
    for (const std::string &name : names) fs::remove(f.path(name));
    fs::remove_all(f.path(sub));
    fs::create_directory(f.path(sub));
    for (const auto &[name, bytes] : set) f.write(name, bytes);
}

std::vector<std::string> renames_of(const std::string &binary, const std::vector<std::string> &args) {
    char log[] = "/tmp/karvel_renames_XXXXXX";
    const int fd = mkstemp(log);
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    close(fd);
    std::vector<std::string> all = traced_options({"-f", "-qq", "-o", log, "-e", std::string("trace=") + kRenames});
    all.push_back(binary);
    all.insert(all.end(), args.begin(), args.end());
    run_program(usable_strace(), all, "");
    std::vector<std::string> lines;
    std::istringstream text(slurp(log));
    for (std::string line; std::getline(text, line);)
        if (line.find("rename") != std::string::npos) lines.push_back(line);
    unlink(log);
    return lines;
}

int spawn_on_terminal(const char *binary, int stdin_fd, int slave, int master, bool background) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    setsid();
    ioctl(slave, TIOCSCTTY, 0);
    dup2(stdin_fd, 0);
    dup2(slave, 1);
    dup2(slave, 2);
    close(master);
    if (background) {
        pid_t job = fork();
        if (job != 0) {
            int status = 0;
            waitpid(job, &status, 0);
            _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
        }
        setpgid(0, 0);
    }
    execl(binary, binary, (char *)nullptr);
    _exit(127);
}

void dem_pair16(const Folder &f) {
    f.write("a_m2.raw", bytes16({10, 12, 14, 16, 18, 20}));
    f.write("a_m2.txt", description(2, 3, 2));
    f.write("b_m2.raw", bytes16({15, 17, 20, 22, 25, 30}));
    f.write("b_m2.txt", description(2, 3, 2));
}

std::string crlf(const std::string &text) {
    std::string s;
    for (char c : text) {
        if (c == '\n') s += '\r';
        s += c;
    }
    return s;
}

std::string description(int lines, int cols, int bytes, int pix) {
    return crlf(std::to_string(lines) + "\n" + std::to_string(cols) + "\n" + std::to_string(bytes) + "\n0\n65500\n" +
                std::to_string(pix) + "\n");
}

namespace {
std::string little_endian(const std::vector<int> &values, int width) {
    std::string s;
    for (int v : values) {
        unsigned u = unsigned(v);
        for (int b = 0; b < width; b++) s += char((u >> (8 * b)) & 0xFF);
    }
    return s;
}
}  // namespace

std::string bytes16(const std::vector<int> &values) { return little_endian(values, 2); }
std::string bytes32(const std::vector<int> &values) { return little_endian(values, 4); }
std::string bytes8(const std::vector<int> &values) { return little_endian(values, 1); }

int torn_or_whole(const std::vector<FileSet> &states, const FileSet &earlier, const FileSet &replaced,
                  const std::string &manifest, const std::string &program, const std::vector<std::string> &dated,
                  const std::string &listed) {
    auto undated = [&](FileSet set) {
        for (const std::string &d : dated) set.erase(d);
        return set;
    };
    int torn = 0;
    for (size_t k = 0; k < states.size(); k++) {
        const FileSet &s = states[k];
        if (s == earlier) continue;
        if (!s.count(manifest)) {
            EXPECT_EQ(undated(s), undated(replaced)) << "a mixed set after a kill at rename " << k + 1;
            for (const std::string &d : dated)
                EXPECT_NE(s.at(d), earlier.at(d)) << d << " after a kill at rename " << k + 1;
            continue;
        }
        torn++;
        const std::string &m = s.at(manifest);
        EXPECT_NE(m.find("\"program\": \"" + program + "\""), std::string::npos) << m;
        EXPECT_NE(m.find("{\"name\": \"" + listed + "\", \"bytes\": "), std::string::npos) << m;
    }
    return torn;
}
