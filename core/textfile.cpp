#include "textfile.h"

#include <cerrno>

std::string crlf_text(const std::string &text) {
    std::string bytes;
    bytes.reserve(text.size() + text.size() / 8 + 8);
    for (char c : text) {
        if (c == '\n') bytes += '\r';
        bytes += c;
    }
    return bytes;
}

std::string text_from_bytes(const char *bytes, size_t n, bool *ended) {
    std::string text;
    if (ended != nullptr) *ended = false;
    for (size_t i = 0; i < n; i++) {
        if (bytes[i] == 26) {
            if (ended != nullptr) *ended = true;
            break;
        }
        if (bytes[i] != '\r') text += bytes[i];
    }
    return text;
}

bool text_create(TextFile &f, const std::string &real_path, const std::string &shown) {
    f.shown = shown;
    f.err = 0;
    f.fp = nullptr;
    if (!staged_begin(f.staged, real_path)) {
        f.err = errno != 0 ? errno : EIO;
        return false;
    }
    f.fp = std::fopen(f.staged.temp_path.c_str(), "wb");
    if (f.fp == nullptr) {
        f.err = errno != 0 ? errno : EIO;
        staged_discard(f.staged);
        return false;
    }
    return true;
}

void text_write(TextFile &f, const std::string &s) {
    if (f.fp == nullptr) return;
    const std::string bytes = crlf_text(s);
    if (std::fwrite(bytes.data(), 1, bytes.size(), f.fp) != bytes.size() && f.err == 0)
        f.err = errno != 0 ? errno : EIO;
}

bool text_finish(TextFile &f) {
    if (f.fp == nullptr) return f.err == 0;
    errno = 0;
    bool flushed = std::fflush(f.fp) == 0 && !std::ferror(f.fp);
    if (!flushed && f.err == 0) f.err = errno != 0 ? errno : EIO;
    if (std::fclose(f.fp) != 0 && f.err == 0) f.err = errno != 0 ? errno : EIO;
    f.fp = nullptr;
    return f.err == 0;
}

bool text_commit(TextFile &f) {
    if (f.err != 0) {
        staged_discard(f.staged);
        return false;
    }
    if (!staged_commit(f.staged)) {
        f.err = errno != 0 ? errno : EIO;
        return false;
    }
    return true;
}

bool text_close(TextFile &f) {
    if (f.fp == nullptr && f.staged.temp_path.empty()) return f.err == 0;
    if (!text_finish(f)) {
        staged_discard(f.staged);
        return false;
    }
    return text_commit(f);
}

void text_discard(TextFile &f) {
    if (f.fp != nullptr) {
        std::fclose(f.fp);
        f.fp = nullptr;
    }
    staged_discard(f.staged);
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
    while (!ended && (n = std::fread(buf, 1, sizeof buf, fp)) > 0) content += text_from_bytes(buf, n, &ended);
    bool ok = ended || !std::ferror(fp);
    if (!ok) *err = errno != 0 ? errno : EIO;
    std::fclose(fp);
    return ok;
}
