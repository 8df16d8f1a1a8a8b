#include "outfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {
constexpr size_t kBufferBytes = 1 << 20;
}

OutFile::~OutFile() { discard(); }

bool OutFile::begin(const std::string &final_path) {
    err = 0;
    if (!staged_begin(staged, final_path)) {
        err = errno != 0 ? errno : EIO;
        return false;
    }
    fd_ = open(staged.temp_path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd_ < 0) {
        err = errno;
        staged_discard(staged);
        return false;
    }
    buf_.clear();
    buf_.reserve(kBufferBytes);
    return true;
}

void OutFile::flush() {
    size_t done = 0;
    while (err == 0 && done < buf_.size()) {
        ssize_t n = ::write(fd_, buf_.data() + done, buf_.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
        } else {
            done += size_t(n);
        }
    }
    buf_.clear();
}

void OutFile::write(const void *bytes, size_t n) {
    if (fd_ < 0 || err != 0) return;
    const char *p = static_cast<const char *>(bytes);
    while (n > 0) {
        size_t room = kBufferBytes - buf_.size();
        size_t take = n < room ? n : room;
        buf_.insert(buf_.end(), p, p + take);
        p += take;
        n -= take;
        if (buf_.size() == kBufferBytes) flush();
    }
}

bool OutFile::finish() {
    if (fd_ < 0) return false;
    flush();
    if (close(fd_) != 0 && err == 0) err = errno;
    fd_ = -1;
    std::vector<char>().swap(buf_);
    return err == 0;
}

void OutFile::discard() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    std::vector<char>().swap(buf_);
    if (!staged.temp_path.empty()) staged_discard(staged);
}

bool write_staged(OutFile &f, const std::string &final_path, const std::string &bytes) {
    if (!f.begin(final_path)) return false;
    f.write(bytes.data(), bytes.size());
    if (f.finish()) return true;
    const int e = f.err;
    f.discard();
    f.err = e;
    return false;
}
