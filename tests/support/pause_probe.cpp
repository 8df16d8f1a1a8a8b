// Runs the single-key pause between two answers, for the terminal test:
// prints the first answer, READY, waits for a key, then whether the
// terminal's settings came back, how many key bytes were left behind, and
// the second answer.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "console.h"

int main() {
    std::string word;
    read_word(word);
    std::printf("FIRST %s\nREADY\n", word.c_str());
    std::fflush(stdout);
    wait_key();
    std::printf("AFTER\n");

    int fd = open("/dev/tty", O_RDWR | O_NOCTTY);
    struct termios t;
    tcgetattr(fd, &t);
    std::printf("RESTORED %d\n", (t.c_lflag & ICANON) && (t.c_lflag & ECHO) ? 1 : 0);
    struct termios raw = t;
    raw.c_lflag &= tcflag_t(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 2;
    tcsetattr(fd, TCSANOW, &raw);
    char rest[16];
    ssize_t left = read(fd, rest, sizeof rest);
    tcsetattr(fd, TCSANOW, &t);
    std::printf("LEFT %d\n", int(left));

    read_word(word);
    std::printf("SECOND %s\n", word.c_str());
    return 0;
}
