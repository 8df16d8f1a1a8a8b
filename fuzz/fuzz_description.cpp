// libFuzzer target: the description-file reader (text mode, then the six
// integers and the size checks) on arbitrary file contents.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "description.h"
#include "textfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const int fd = memfd_create("description", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size)) std::abort();

    std::string text;
    int err = 0;
    if (!text_read(path, text, &err)) std::abort();
    for (char c : text)
        if (c == '\r' || c == 26) std::abort();  // text mode drops CRs and ends at byte 26

    int values[6] = {0, 0, 0, 0, 0, 0};
    const std::string problem = parse_description(text, values);
    if (problem.empty()) {
        // An accepted description gives a grid that can be addressed.
        if (values[0] < 1 || values[1] < 1) std::abort();
        if ((long long)values[0] * values[1] > kMaxPositions) std::abort();
    }
    // The file reader, from its bounded prefix, agrees with the text reader
    // wherever the six values lie within that prefix.
    int read_values[6] = {0, 0, 0, 0, 0, 0};
    const std::string read_problem = read_description(path, read_values);
    if (size <= kDescriptionPrefix && read_problem != problem) std::abort();
    return 0;
}
