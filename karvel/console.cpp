#include "console.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cerrno>

#include "numfmt.h"
#include "staged.h"

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

void say_sqrt_domain_error() { err_out("\r\nsqrt: DOMAIN error\r\n"); }

double ksqrt(double v) {
    if (v < 0) say_sqrt_domain_error();
    // The hardware's square root of a negative number is its default
    // not-a-number, which carries the sign bit.
    return std::sqrt(v);
}

namespace {

// The answers not yet taken: the rest of the current line, read in bounded
// pieces, so that no line and no word is ever held whole beyond what any
// answer may be.
constexpr size_t kPiece = 4096;
std::string line;
size_t pos = 0;
bool input_ended = false;

// Drops what was taken and reads more of the current line (up to its line
// feed, at most kPiece bytes). Returns false when nothing more came.
bool more() {
    if (input_ended) return false;
    line.erase(0, pos);
    pos = 0;
    const size_t had = line.size();
    int c;
    while (line.size() - had < kPiece && (c = std::getchar()) != EOF) {
        line += char(c);
        if (c == '\n') break;
    }
    if (line.size() == had) {
        input_ended = true;
        return false;
    }
    return true;
}

bool is_blank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Skips white space, reading further lines as needed. Returns false at the
// end of the input.
bool skip_space() {
    std::fflush(stdout);
    for (;;) {
        while (pos < line.size() && is_blank(line[pos])) pos++;
        if (pos < line.size()) return true;
        if (!more()) return false;
    }
}

// Where the word at pos ends, reading more as needed but never holding more
// than kLongestWord + 1 of its bytes.
size_t word_end() {
    size_t end = pos;
    for (;;) {
        while (end < line.size() && end - pos <= kLongestWord && !is_blank(line[end])) end++;
        if (end < line.size() || end - pos > kLongestWord) return end;
        const size_t taken = end - pos;
        if (!more()) return line.size();
        end = pos + taken;
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
    const size_t end = word_end();
    int v = 0;
    bool out_of_range = false;
    if (!scan_int(line.data(), end, &pos, &v, &out_of_range)) return Answer::not_number;
    if (out_of_range) return Answer::out_of_range;
    value = v;
    return Answer::given;
}

Answer peek_word(std::string &word) {
    if (!skip_space()) return Answer::ended;
    const size_t end = word_end();
    word.assign(line, pos, end - pos);
    return Answer::given;
}

Answer read_word(std::string &word) {
    const Answer got = peek_word(word);
    pos += word.size();
    return got;
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

void restore_terminal_on_signal() {
    if (pause_fd >= 0) tcsetattr(pause_fd, TCSANOW, &saved_settings);
}

// Puts the terminal's settings back even if the process has meanwhile been
// moved to the background, where changing them would stop it.
void restore_terminal(int fd) {
    sigset_t ttou, old;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    sigprocmask(SIG_BLOCK, &ttou, &old);
    tcsetattr(fd, TCSANOW, &saved_settings);
    sigprocmask(SIG_SETMASK, &old, nullptr);
}

}  // namespace

void wait_key() {
    std::fflush(stdout);
    int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return;
    // Only the terminal's foreground may change its modes and read from it:
    // in the background the pause returns at once, as without a terminal.
    if (tcgetpgrp(fd) != getpgrp() || tcgetattr(fd, &saved_settings) != 0) {
        close(fd);
        return;
    }
    // One handler removes the run's temporary files and puts the terminal back.
    staged_add_signal_hook(restore_terminal_on_signal);
    staged_catch_signals();
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

    restore_terminal(fd);
    pause_fd = -1;
    close(fd);
}
