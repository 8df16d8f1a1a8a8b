#include "regular_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

const char kNotRegularFile[] = "not a regular file";

int open_regular(const std::string &path, struct stat *st, std::string *problem) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        *problem = std::strerror(e);
        errno = e;
        return -1;
    }
    if (fstat(fd, st) != 0) {
        const int e = errno;
        ::close(fd);
        *problem = std::strerror(e);
        errno = e;
        return -1;
    }
    if (!S_ISREG(st->st_mode)) {
        ::close(fd);
        *problem = kNotRegularFile;
        return -1;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    problem->clear();
    return fd;
}

ssize_t read_fully(int fd, void *buf, size_t n) {
    size_t got = 0;
    while (got < n) {
        const ssize_t r = ::read(fd, static_cast<char *>(buf) + got, n - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) break;
        got += size_t(r);
    }
    return ssize_t(got);
}

BoundedRead read_bounded(const std::string &path, size_t limit, std::string &text, bool prefix) {
    BoundedRead r;
    text.clear();
    struct stat st;
    const int fd = open_regular(path, &st, &r.problem);
    if (fd < 0) return r;
    r.size = (long long)st.st_size;
    if (size_t(st.st_size) > limit && !prefix) {
        ::close(fd);
        r.beyond = true;
        return r;
    }
    // One byte past the limit tells a file that holds more.
    char buf[1 << 16];
    while (text.size() <= limit) {
        const ssize_t got = read_fully(fd, buf, std::min(sizeof buf, limit + 1 - text.size()));
        if (got < 0) r.problem = std::strerror(errno);
        if (got <= 0) break;
        text.append(buf, size_t(got));
    }
    ::close(fd);
    r.beyond = text.size() > limit;
    if (r.beyond) text.resize(limit);
    return r;
}
