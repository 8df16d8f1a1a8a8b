#include "dialogue.h"

#include "console.h"
#include "numfmt.h"
#include "paths.h"
#include "run.h"

namespace {

[[noreturn]] void input_ended() { stop_run("\n\n\tThe answers have ended before this question was answered\n"); }

// The question a prompt asks, as a message names it: its first line without
// the white space around it and without its final " ?" or " :".
std::string question_of(const std::string &prompt) {
    size_t start = prompt.find_first_not_of(" \t\n");
    if (start == std::string::npos) return "";
    size_t end = prompt.find('\n', start);
    std::string q = prompt.substr(start, end == std::string::npos ? std::string::npos : end - start);
    while (!q.empty() && (q.back() == ' ' || q.back() == '?' || q.back() == ':')) q.pop_back();
    return q;
}

// Stops the run when the next answer holds a byte no answer may hold.
void refuse_control_bytes(const std::string &prompt, const std::string &word) {
    for (char c : word) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 32 || u == 127)
            stop_run(kfmt("\n\n\tThe answer %s%s to \"%s\" is refused: %s\n", printable(word.substr(0, 40)).c_str(),
                          word.size() > 40 ? "..." : "", question_of(prompt).c_str(),
                          answer_problem(word, kLongestWord).c_str()));
    }
}

}  // namespace

void ask_choice(const std::string &prompt, int &value, int lo, int hi) {
    for (;;) {
        out(prompt);
        bool valid = value >= lo && value <= hi;
        std::string next;
        if (peek_word(next) == Answer::given) refuse_control_bytes(prompt, next);
        switch (read_int(value)) {
            case Answer::given:
                if (value >= lo && value <= hi) return;
                break;
            case Answer::out_of_range:
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
    if (answer_problem(word, max_len).empty()) return word;
    refuse_control_bytes(prompt, word);
    // What is left wrong is the length.
    if (word.size() > kLongestWord)
        stop_run(kfmt("\n\n\tThe %s %s... has more than %zu characters; at most %zu are allowed\n", what,
                      word.substr(0, 40).c_str(), kLongestWord, max_len));
    stop_run(kfmt("\n\n\tThe %s %s has %zu characters; at most %zu are allowed\n", what, word.c_str(), word.size(),
                  max_len));
}

void check_path_length(const std::string &path) {
    if (path.size() > kMaxPath)
        stop_run(kfmt("\n\n\tThe path %s would have %zu characters; at most %zu are allowed\n", path.c_str(),
                      path.size(), kMaxPath));
}
