#include "textfile.h"

#include <cerrno>

bool text_create(TextFile &f, const std::string &real_path, const std::string &shown) {
    f.shown = shown;
    f.err = 0;
    f.fp = std::fopen(real_path.c_str(), "wb");
    if (f.fp == nullptr) {
        f.err = errno != 0 ? errno : EIO;
        return false;
    }
    return true;
}

void text_write(TextFile &f, const std::string &s) {
    if (f.fp == nullptr) return;
    std::string bytes;
    bytes.reserve(s.size() + 8);
    for (char c : s) {
        if (c == '\n') bytes += '\r';
        bytes += c;
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), f.fp) != bytes.size() && f.err == 0)
        f.err = errno != 0 ? errno : EIO;
}

bool text_close(TextFile &f) {
    if (f.fp == nullptr) return f.err == 0;
    errno = 0;
    bool flushed = std::fflush(f.fp) == 0 && !std::ferror(f.fp);
    if (!flushed && f.err == 0) f.err = errno != 0 ? errno : EIO;
    if (std::fclose(f.fp) != 0 && f.err == 0) f.err = errno != 0 ? errno : EIO;
    f.fp = nullptr;
    return f.err == 0;
}

bool text_read(const std::string &real_path, std::string &content, int *err) {
    content.clear();
    FILE *fp = std::fopen(real_path.c_str(), "rb");
    if (fp == nullptr) {
        *err = errno;
        return false;
    }
    char buf[4096];
    bool ended = false;
    size_t n = 0;
    while (!ended && (n = std::fread(buf, 1, sizeof buf, fp)) > 0) {
        for (size_t i = 0; i < n; i++) {
            if (buf[i] == 26) {
                ended = true;
                break;
            }
            if (buf[i] != '\r') content += buf[i];
        }
    }
    bool ok = ended || !std::ferror(fp);
    if (!ok) *err = errno != 0 ? errno : EIO;
    std::fclose(fp);
    return ok;
}
