// libFuzzer target: the ENVI header reader on arbitrary file contents, then
// its checks against a description and its no-data value for every kind.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "envi_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const int fd = memfd_create("header", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size)) std::abort();

    EnviHeader read, parsed;
    bool found = false;
    const std::string problem = read_envi_header(path, &found, read);
    if (!found) std::abort();
    // The file reader and the text parser agree.
    if (parse_envi_header(std::string(reinterpret_cast<const char *>(data), size), parsed) != problem) std::abort();
    if (!problem.empty()) return 0;
    header_disagreement(read, 100, 200, Kind::dem16);
    for (Kind k : {Kind::image8, Kind::dem16, Kind::dem32}) {
        NoData nd;
        if (!header_nodata(read, k, nd).empty()) continue;
        if (nd.declared != read.has_ignore) std::abort();
        // A declared value is one that a sample of the kind can hold.
        if (nd.declared && (nd.value < (k == Kind::dem32 ? -2147483648LL : 0) ||
                            nd.value > (k == Kind::image8 ? 255 : k == Kind::dem16 ? 65535 : 2147483647LL)))
            std::abort();
    }
    return 0;
}
