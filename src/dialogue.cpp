#include "dialogue.h"

#include "console.h"
#include "numfmt.h"
#include "paths.h"
#include "run.h"

namespace {

[[noreturn]] void input_ended() { stop_run("\n\n\tThe answers have ended before this question was answered\n"); }

}  // namespace

void ask_choice(const std::string &prompt, int &value, int lo, int hi) {
    for (;;) {
        out(prompt);
        bool valid = value >= lo && value <= hi;
        switch (read_int(value)) {
            case Answer::given:
                if (value >= lo && value <= hi) return;
                break;
            case Answer::not_number:
                if (valid) return;
                skip_word();
                break;
            case Answer::ended:
                if (valid) return;
                input_ended();
        }
    }
}

std::string ask_name(const std::string &prompt, size_t max_len, const char *what) {
    out(prompt);
    std::string word;
    if (read_word(word) == Answer::ended) input_ended();
    if (word.size() > max_len)
        stop_run(kfmt("\n\n\tThe %s %s has %zu characters; at most %zu are allowed\n", what, word.c_str(), word.size(),
                      max_len));
    return word;
}

void check_path_length(const std::string &path) {
    if (path.size() > kMaxPath)
        stop_run(kfmt("\n\n\tThe path %s would have %zu characters; at most %zu are allowed\n", path.c_str(),
                      path.size(), kMaxPath));
}
