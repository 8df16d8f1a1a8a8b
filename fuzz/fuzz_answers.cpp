// libFuzzer target: the answer reader ("%d" and "%s" answers, type-ahead,
// words left for the next question) on arbitrary standard input.
#include <sys/mman.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "console.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const int fd = memfd_create("answers", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size)) std::abort();
    if (std::freopen(path.c_str(), "r", stdin) == nullptr) std::abort();
    reset_answers();

    // Questions in a fixed rotation, as a dialogue asks them; every answer
    // consumes input, so the loop ends with the input.
    size_t words = 0;
    for (unsigned k = 0;; k++) {
        Answer got;
        if (k % 3 == 1) {
            std::string word;
            got = read_word(word);
            if (got == Answer::given) {
                if (word.empty()) std::abort();
                for (char c : word)
                    if (std::isspace(static_cast<unsigned char>(c))) std::abort();
                words += word.size();
                if (words > size) std::abort();
            }
        } else {
            int value = 12345;
            got = read_int(value);
            if (got != Answer::given && value != 12345) std::abort();  // no number: the value stays
            if (got == Answer::not_number) skip_word();
        }
        if (got == Answer::ended) break;
        if (k > 2 * size + 2) std::abort();  // the reader must not stand still
    }
    return 0;
}
