#include "gnuplot.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
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

namespace {

double now_s() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

}  // namespace

std::string run_gnuplot(const std::string &gnuplot, const std::string &dir, const std::string &setting,
                        const std::string &script, int timeout_s) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return std::string("cannot start gnuplot: ") + std::strerror(errno);
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return std::string("cannot start gnuplot: ") + std::strerror(errno);
    }
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        if (in < 0 || dup2(in, 0) < 0 || dup2(fds[1], 1) < 0 || dup2(fds[1], 2) < 0 || chdir(dir.c_str()) != 0)
            _exit(126);
        setenv("GNUTERM", "dumb", 1);
        const char *argv[] = {gnuplot.c_str(), "-e", setting.c_str(), script.c_str(), nullptr};
        execv(gnuplot.c_str(), const_cast<char *const *>(argv));
        _exit(127);
    }
    close(fds[1]);
    std::string said;
    const double deadline = now_s() + timeout_s;
    bool timed_out = false;
    while (true) {
        const double left = deadline - now_s();
        if (left <= 0) {
            timed_out = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int r = poll(&p, 1, int(left * 1000) + 1);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) continue;
        char buf[4096];
        const ssize_t got = read(fds[0], buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        if (said.size() < 16384) said.append(buf, size_t(got));
    }
    close(fds[0]);
    if (timed_out) kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    while (!said.empty() && (said.back() == '\n' || said.back() == ' ')) said.pop_back();
    if (timed_out) return "gnuplot did not finish " + script + " within " + std::to_string(timeout_s) + " s";
    // gnuplot ends a script at its first error with a non-zero status; what
    // it says otherwise are warnings (an empty axis range it widened).
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) return "gnuplot could not be run (" + gnuplot + ")";
    return "gnuplot failed on " + script + (said.empty() ? "" : ": " + said);
}
