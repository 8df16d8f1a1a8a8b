#include "run.h"

#include <cstdlib>
#include <cstring>

#include "console.h"
#include "numfmt.h"
#include "state.h"

namespace {
TextFile *const kResults[] = {&f2d, &f4d, &f5d};
}

[[noreturn]] void stop_run(const std::string &message) {
    // Once the result files exist, a stop leaves them incomplete.
    for (TextFile *f : kResults)
        if (f->fp != nullptr) fail_run(message);
    out(message);
    wait_key();
    std::exit(0);
}

[[noreturn]] void fail_run(const std::string &message) {
    out(message);
    for (TextFile *f : kResults) {
        if (f->fp == nullptr) continue;
        text_close(*f);
        out(kfmt("\n\tIncomplete result file: %s", f->shown.c_str()));
    }
    out("\n");
    wait_key();
    std::exit(1);
}

int finish_run() {
    int status = 0;
    for (TextFile *f : kResults) {
        if (!text_close(*f)) {
            out(kfmt("\n\n\tThe result file %s could not be written completely: %s\n", f->shown.c_str(),
                     std::strerror(f->err)));
            status = 1;
        }
    }
    std::fflush(stdout);
    return status;
}

void need_memory(const void *block, const char *what, long long lines, long long cols, long long elem_bytes) {
    if (block != nullptr) return;
    fail_run(kfmt("\n\n\tNot enough memory for %s: %lld lines by %lld columns of %lld bytes need %lld bytes\n", what,
                  lines, cols, elem_bytes, lines * cols * elem_bytes));
}
