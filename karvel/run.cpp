#include "run.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "console.h"
#include "numfmt.h"
#include "staged.h"
#include "state.h"

namespace {

TextFile *const kResults[] = {&f2d, &f4d, &f5d};
bool results_named = false;

// What a signal leaves to say, formed when the results are named.
char signal_note[1024];
volatile sig_atomic_t signal_note_len = 0;

void say_not_written_on_signal() {
    if (signal_note_len > 0 && write(STDOUT_FILENO, signal_note, size_t(signal_note_len)) < 0) {
        // Nothing more can be said.
    }
}

std::string not_written(const TextFile &f) { return kfmt("\n\tResult file not written: %s", f.shown.c_str()); }

// Removes every temporary result file and names the results not written.
void discard_results() {
    for (TextFile *f : kResults) text_discard(*f);
    staged_discard_all();
    if (!results_named) return;
    for (TextFile *f : kResults) out(not_written(*f));
    out("\n");
}

}  // namespace

void name_results(const std::string &summary, const std::string &table, const std::string &histogram) {
    f2d.shown = summary;
    f4d.shown = table;
    f5d.shown = histogram;
    std::string note = "\n\n\tStopped by a signal";
    for (TextFile *f : kResults) note += not_written(*f);
    note += "\n";
    const size_t n = std::min(note.size(), sizeof signal_note);
    std::memcpy(signal_note, note.data(), n);
    signal_note_len = sig_atomic_t(n);
    staged_add_signal_hook(say_not_written_on_signal);
    results_named = true;
}

[[noreturn]] void stop_run(const std::string &message) {
    if (results_named) fail_run(message);
    out(message);
    staged_discard_all();
    wait_key();
    std::exit(0);
}

[[noreturn]] void fail_run(const std::string &message) {
    out(message);
    discard_results();
    if (!results_named) out("\n");
    wait_key();
    std::exit(1);
}

int finish_run() {
    bool complete = true;
    for (TextFile *f : kResults) {
        if (!text_finish(*f)) {
            out(kfmt("\n\n\tThe result file %s could not be written completely: %s\n", f->shown.c_str(),
                     std::strerror(f->err)));
            complete = false;
        }
    }
    if (complete) {
        StagedFile *const staged[] = {&f2d.staged, &f4d.staged, &f5d.staged};
        size_t failed = 0;
        if (staged_commit_together(staged, 3, &failed)) {
            signal_note_len = 0;  // they are written now
            std::fflush(stdout);
            return 0;
        }
        out(kfmt("\n\n\tThe result file %s could not be given its name: %s\n", kResults[failed]->shown.c_str(),
                 std::strerror(errno)));
        // Those before it have their names already.
        for (size_t i = failed; i < 3; i++) out(not_written(*kResults[i]));
        out("\n");
        for (TextFile *f : kResults) text_discard(*f);
        std::fflush(stdout);
        return 1;
    }
    discard_results();
    std::fflush(stdout);
    return 1;
}

void need_memory(const void *block, const char *what, long long lines, long long cols, long long elem_bytes) {
    if (block != nullptr) return;
    fail_run(kfmt("\n\n\tNot enough memory for %s: %lld lines by %lld columns of %lld bytes need %lld bytes\n", what,
                  lines, cols, elem_bytes, lines * cols * elem_bytes));
}
