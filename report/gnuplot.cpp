#include "gnuplot.h"

#include "behind.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <vector>

std::string find_gnuplot() {
    const char *path = std::getenv("PATH");
    std::string p = path ? path : "/usr/bin:/bin";
    size_t b = 0;
    while (b <= p.size()) {
        size_t e = p.find(':', b);
        if (e == std::string::npos) e = p.size();
        // An empty entry stands for the current folder.
        const std::string cand = (e > b ? p.substr(b, e - b) : std::string(".")) + "/gnuplot";
        struct stat st;
        if (stat(cand.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(cand.c_str(), X_OK) == 0) return cand;
        b = e + 1;
    }
    return "";
}

std::string gnuplot_tunables(const char *given) {
    std::string t = given ? given : "";
    // A setting the user made is kept as it is.
    if (t.find("glibc.malloc.hugetlb") == std::string::npos) t += (t.empty() ? "" : ":") + std::string(kHugePages);
    return "GLIBC_TUNABLES=" + t;
}

namespace {

// The gnuplots running, in a fixed table a signal handler can read.
constexpr int kMaxRunning = 64;
volatile pid_t running_pids[kMaxRunning];

void note_running(pid_t pid) {
    for (int k = 0; k < kMaxRunning; k++)
        if (running_pids[k] == 0) {
            running_pids[k] = pid;
            return;
        }
}

void note_ended(pid_t pid) {
    for (int k = 0; k < kMaxRunning; k++)
        if (running_pids[k] == pid) running_pids[k] = 0;
}

double now_s() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

}  // namespace

void GnuplotBatch::start(const std::string &gnuplot, const std::string &dir, std::vector<GnuplotJob> jobs,
                         bool behind) {
    gnuplot_ = gnuplot;
    const size_t first = jobs_.size();
    for (auto &j : jobs) jobs_.push_back(std::move(j));
    run_.resize(jobs_.size());
    std::vector<std::string> env_text = {"GNUTERM=dumb", gnuplot_tunables(std::getenv("GLIBC_TUNABLES"))};
    std::vector<char *> env = {env_text[0].data(), env_text[1].data()};
    for (char **e = environ; *e; e++)
        if (std::strncmp(*e, "GNUTERM=", 8) != 0 && std::strncmp(*e, "GLIBC_TUNABLES=", 15) != 0) env.push_back(*e);
    env.push_back(nullptr);
    for (size_t k = first; k < jobs_.size(); k++) {
        Running &r = run_[k];
        r.said = std::tmpfile();
        if (!r.said) {
            jobs_[k].problem = std::string("cannot start gnuplot: ") + std::strerror(errno);
            r.done = true;
            continue;
        }
        // Spawned without copying this process's memory: standard input
        // from /dev/null, both output streams into the temporary file, in
        // the report folder.
        const int out = fileno(r.said);
        posix_spawn_file_actions_t acts;
        posix_spawn_file_actions_init(&acts);
        posix_spawn_file_actions_addopen(&acts, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&acts, out, 1);
        posix_spawn_file_actions_adddup2(&acts, out, 2);
        posix_spawn_file_actions_addchdir_np(&acts, dir.c_str());
        const char *argv[] = {gnuplot.c_str(), "-e", jobs_[k].setting.c_str(), jobs_[k].script.c_str(), nullptr};
        const int err = posix_spawn(&r.pid, gnuplot.c_str(), &acts, nullptr, const_cast<char *const *>(argv), env.data());
        posix_spawn_file_actions_destroy(&acts);
        if (err != 0) {
            jobs_[k].problem = "cannot start gnuplot (" + gnuplot + "): " + std::strerror(err);
            r.done = true;
        } else {
            note_running(r.pid);
            if (behind) put_behind(int(r.pid));
        }
    }
}

void gnuplot_stop_all() {
    for (int k = 0; k < kMaxRunning; k++) {
        const pid_t pid = running_pids[k];
        if (pid <= 0) continue;
        kill(pid, SIGKILL);
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        running_pids[k] = 0;
    }
}

void GnuplotBatch::stop() {
    for (auto &r : run_) {
        if (!r.done) {
            kill(r.pid, SIGKILL);
            while (waitpid(r.pid, &r.status, 0) < 0 && errno == EINTR) {
            }
            r.done = true;
            note_ended(r.pid);
        }
        if (r.said) std::fclose(r.said);
        r.said = nullptr;
    }
}

std::vector<GnuplotJob> GnuplotBatch::wait(int timeout_s) {
    const double deadline = now_s() + timeout_s;
    while (true) {
        bool all_done = true;
        for (auto &r : run_) {
            if (r.done) continue;
            const pid_t got = waitpid(r.pid, &r.status, WNOHANG);
            if (got == r.pid || (got < 0 && errno != EINTR)) {
                r.done = true;
                note_ended(r.pid);
            } else {
                all_done = false;
            }
        }
        if (all_done) break;
        if (now_s() > deadline) {
            for (size_t k = 0; k < run_.size(); k++) {
                if (run_[k].done) continue;
                kill(run_[k].pid, SIGKILL);
                while (waitpid(run_[k].pid, &run_[k].status, 0) < 0 && errno == EINTR) {
                }
                run_[k].done = true;
                note_ended(run_[k].pid);
                jobs_[k].problem =
                    "gnuplot did not finish " + jobs_[k].script + " within " + std::to_string(timeout_s) + " s";
            }
            break;
        }
        const timespec pause{0, 5000000};
        nanosleep(&pause, nullptr);
    }
    for (size_t k = 0; k < run_.size(); k++) {
        Running &r = run_[k];
        std::string said;
        if (r.said) {
            std::rewind(r.said);
            char buf[4096];
            size_t got;
            while (said.size() < 16384 && (got = std::fread(buf, 1, sizeof buf, r.said)) > 0) said.append(buf, got);
            std::fclose(r.said);
            r.said = nullptr;
        }
        while (!said.empty() && (said.back() == '\n' || said.back() == ' ')) said.pop_back();
        if (!jobs_[k].problem.empty()) continue;
        // gnuplot ends a script at its first error with a non-zero status; what
        // it says otherwise are warnings (an empty axis range it widened).
        if (WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0) continue;
        if (WIFEXITED(r.status) && WEXITSTATUS(r.status) == 127)
            jobs_[k].problem = "gnuplot could not be run (" + gnuplot_ + ")";
        else
            jobs_[k].problem = "gnuplot failed on " + jobs_[k].script + (said.empty() ? "" : ": " + said);
    }
    std::vector<GnuplotJob> done = std::move(jobs_);
    jobs_.clear();
    run_.clear();
    return done;
}
