#include "stale.h"

#include <cstdio>
#include <vector>

#include "paths.h"
#include "staged.h"

void remove_stale(const std::string &program, const std::string &dir) {
    const std::vector<std::string> stale = staged_remove_stale(dir);
    if (stale.empty()) return;
    std::string names;
    for (const std::string &n : stale) {
        names += ' ';
        names += printable(n);
    }
    std::fprintf(stderr, "%s: removed what runs that were killed left in %s:%s\n", program.c_str(),
                 printable(dir).c_str(), names.c_str());
}
