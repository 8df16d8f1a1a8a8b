// The single-key pause on a real (pseudo-)terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <chrono>
#include <string>

#include "e2e.h"

namespace {

// Reads what the probe writes on the terminal until `until` appears or
// two seconds pass.
std::string read_until(int master, const std::string &until, std::string &seen) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (seen.find(until) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        struct pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        char buf[256];
        ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) break;
        seen.append(buf, size_t(n));
    }
    return seen;
}

// Runs the probe with "first second" buffered on its standard input and the
// pseudo-terminal as its terminal; presses `key` once the pause waits, or,
// when key is empty, ends the probe with SIGTERM and tells in *restored
// whether the terminal was put back in line mode with echo.
std::string press(const std::string &key, bool *restored = nullptr) {
    int master = -1, slave = -1;
    EXPECT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    int in[2];
    EXPECT_EQ(pipe(in), 0);
    EXPECT_EQ(write(in[1], "first second\n", 13), 13);
    close(in[1]);
    pid_t pid = spawn_on_terminal(PAUSE_PROBE_BIN, in[0], slave, master);
    close(in[0]);
    close(slave);
    std::string seen;
    read_until(master, "READY", seen);
    // Wait until the pause has put the terminal out of line mode.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    struct termios t;
    while (std::chrono::steady_clock::now() < deadline) {
        if (tcgetattr(master, &t) == 0 && !(t.c_lflag & ICANON)) break;
        usleep(2000);
    }
    int status = 0;
    if (key.empty()) {
        kill(pid, SIGTERM);
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
        *restored = tcgetattr(master, &t) == 0 && (t.c_lflag & ICANON) && (t.c_lflag & ECHO);
        close(master);
        return seen;
    }
    EXPECT_EQ(write(master, key.data(), key.size()), ssize_t(key.size()));
    read_until(master, "SECOND", seen);
    read_until(master, "\n", seen);
    waitpid(pid, &status, 0);
    close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return seen;
}

}  // namespace

TEST(Pause, AKeyEndsItWithoutEchoAndTheAnswersStayBuffered) {
    std::string seen = press("x");
    EXPECT_EQ(seen, "FIRST first\r\nREADY\r\nAFTER\r\nRESTORED 1\r\nLEFT 0\r\nSECOND second\r\n");
}

TEST(Pause, AFunctionKeyIsTakenWhole) {
    // An arrow key sends three bytes; none of them is left for later.
    std::string seen = press("\x1b[A");
    EXPECT_EQ(seen, "FIRST first\r\nREADY\r\nAFTER\r\nRESTORED 1\r\nLEFT 0\r\nSECOND second\r\n");
}

TEST(Pause, ASignalDuringThePauseStillRestoresTheTerminal) {
    bool restored = false;
    press("", &restored);
    EXPECT_TRUE(restored);
}
