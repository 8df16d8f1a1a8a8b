#include "console.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cerrno>

#include "numfmt.h"

void out(const std::string &text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void out_now(const std::string &text) {
    out(text);
    std::fflush(stdout);
}

void err_out(const std::string &text) {
    std::fflush(stdout);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

namespace {

// The current answer line and how far it has been taken.
std::string line;
size_t pos = 0;
bool input_ended = false;

bool next_line() {
    if (input_ended) return false;
    line.clear();
    pos = 0;
    int c;
    while ((c = std::getchar()) != EOF) {
        line += char(c);
        if (c == '\n') return true;
    }
    if (line.empty()) {
        input_ended = true;
        return false;
    }
    return true;
}

// Skips white space, reading further lines as needed. Returns false at the
// end of the input.
bool skip_space() {
    std::fflush(stdout);
    for (;;) {
        while (pos < line.size() && std::isspace(static_cast<unsigned char>(line[pos]))) pos++;
        if (pos < line.size()) return true;
        if (!next_line()) return false;
    }
}

}  // namespace

void reset_answers() {
    line.clear();
    pos = 0;
    input_ended = false;
    std::clearerr(stdin);
}

Answer read_int(int &value) {
    if (!skip_space()) return Answer::ended;
    int v = 0;
    bool out_of_range = false;
    if (!scan_int(line.data(), line.size(), &pos, &v, &out_of_range)) return Answer::not_number;
    value = v;
    return Answer::given;
}

Answer read_word(std::string &word) {
    if (!skip_space()) return Answer::ended;
    size_t start = pos;
    while (pos < line.size() && !std::isspace(static_cast<unsigned char>(line[pos]))) pos++;
    word.assign(line, start, pos - start);
    return Answer::given;
}

void skip_word() {
    std::string dropped;
    read_word(dropped);
}

namespace {

// The terminal and its settings while a pause is waiting, so that a signal
// can put them back before the process ends.
volatile sig_atomic_t pause_fd = -1;
struct termios saved_settings;

const int kPauseSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void restore_and_reraise(int sig) {
    if (pause_fd >= 0) tcsetattr(pause_fd, TCSANOW, &saved_settings);
    signal(sig, SIG_DFL);
    raise(sig);
}

}  // namespace

void wait_key() {
    std::fflush(stdout);
    int fd = open("/dev/tty", O_RDWR | O_NOCTTY);
    if (fd < 0) return;
    if (tcgetattr(fd, &saved_settings) != 0) {
        close(fd);
        return;
    }
    struct sigaction old_actions[4];
    struct sigaction act{};
    act.sa_handler = restore_and_reraise;
    sigemptyset(&act.sa_mask);
    for (int i = 0; i < 4; i++) sigaction(kPauseSignals[i], &act, &old_actions[i]);
    pause_fd = fd;

    struct termios raw = saved_settings;
    raw.c_lflag &= tcflag_t(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &raw);

    unsigned char key = 0;
    ssize_t got;
    do {
        got = read(fd, &key, 1);
    } while (got < 0 && errno == EINTR);
    // Function and arrow keys send an escape sequence: drop its remaining
    // bytes, which arrive right behind the first one.
    if (got == 1) {
        struct pollfd pfd{fd, POLLIN, 0};
        unsigned char rest[32];
        while (poll(&pfd, 1, key == 27 ? 50 : 0) > 0 && (pfd.revents & POLLIN)) {
            if (read(fd, rest, sizeof rest) <= 0) break;
        }
    }

    tcsetattr(fd, TCSANOW, &saved_settings);
    pause_fd = -1;
    for (int i = 0; i < 4; i++) sigaction(kPauseSignals[i], &old_actions[i], nullptr);
    close(fd);
}
