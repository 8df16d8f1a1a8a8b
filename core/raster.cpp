#include "raster.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "numfmt.h"
#include "regular_file.h"

static_assert(std::endian::native == std::endian::little,
              "raster samples are stored least significant byte first and read as they are");

namespace {

const double kUnitFactors[4] = {1.0, 0.1, 0.01, 0.001};

template <class T>
void convert_typed(const unsigned char *samples, size_t cols, double factor, double *out) {
    const T *in = reinterpret_cast<const T *>(samples);
    for (size_t j = 0; j < cols; j++) out[j] = double(in[j]) * factor;
}

}  // namespace

double unit_factor(int unit_answer) {
    if (unit_answer < 0 || unit_answer > 3) return 0.0;
    return kUnitFactors[unit_answer];
}

std::string raster_open(RasterFile &f, const std::string &real_path, const std::string &shown) {
    raster_close(f);
    struct stat st;
    std::string problem;
    const int fd = open_regular(real_path, &st, &problem);
    if (fd < 0) return problem;
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    f.fd = fd;
    f.real_path = real_path;
    f.shown = shown;
    f.dev = st.st_dev;
    f.ino = st.st_ino;
    f.size = st.st_size;
    f.mtime = st.st_mtim;
    return "";
}

void raster_close(RasterFile &f) {
    if (f.fd >= 0) ::close(f.fd);
    f.fd = -1;
}

std::string raster_changed(const RasterFile &f) {
    struct stat st;
    if (f.fd < 0 || fstat(f.fd, &st) != 0) return "it can no longer be read";
    if (st.st_size != f.size)
        return "its size went from " + std::to_string((long long)f.size) + " to " +
               std::to_string((long long)st.st_size) + " bytes";
    if (st.st_mtim.tv_sec != f.mtime.tv_sec || st.st_mtim.tv_nsec != f.mtime.tv_nsec) return "it was modified";
    // The open file stays the same; the path may now name another one.
    if (stat(f.real_path.c_str(), &st) != 0) return "it was removed";
    if (st.st_dev != f.dev || st.st_ino != f.ino) return "it was replaced by another file";
    return "";
}

void convert_samples(const unsigned char *samples, int sample_bytes, size_t cols, double factor, double *out) {
    switch (sample_bytes) {
        case 1:
            convert_typed<uint8_t>(samples, cols, factor, out);
            break;
        case 2:
            convert_typed<uint16_t>(samples, cols, factor, out);
            break;
        default:
            convert_typed<int32_t>(samples, cols, factor, out);
            break;
    }
}

RasterLines::~RasterLines() { release(); }

void RasterLines::release() {
    std::free(chunk_);
    std::free(line_);
    chunk_ = nullptr;
    line_ = nullptr;
    cols_ = 0;
}

bool RasterLines::init(const RasterFile &file, int lines, int cols, int sample_bytes, double factor) {
    release();
    if (lines < 1 || cols < 1) return false;
    fd_ = file.fd;
    error_ = 0;
    cols_ = cols;
    sample_bytes_ = sample_bytes;
    factor_ = factor;
    line_bytes_ = size_t(cols) * size_t(sample_bytes);
    chunk_lines_ = std::max<size_t>(1, std::min<size_t>(kReadBytes / line_bytes_, size_t(lines)));
    chunk_bytes_ = chunk_lines_ * line_bytes_;
    expected_ = uint64_t(lines) * line_bytes_;  // below 2^31 · 2^31 · 4 = 2^64
    wanted_ = chunk_bytes_ + size_t(cols) * sizeof(double);
    // Rows of 2- and 4-byte samples stay aligned: every line is a whole number of samples.
    chunk_ = static_cast<unsigned char *>(std::aligned_alloc(16, (chunk_bytes_ + 15) / 16 * 16));
    line_ = static_cast<double *>(std::malloc(size_t(cols) * sizeof(double)));
    if (chunk_ == nullptr || line_ == nullptr) {
        release();
        return false;
    }
    rewind();
    return true;
}

void RasterLines::rewind() {
    unread_ = expected_;
    held_ = taken_ = 0;
    ended_ = false;
    if (lseek(fd_, 0, SEEK_SET) != 0) {
        error_ = errno;
        ended_ = true;
    }
}

void RasterLines::fill() {
    const size_t want = size_t(std::min<uint64_t>(chunk_bytes_, unread_));
    const size_t lines = std::max<size_t>(1, want / line_bytes_);
    const size_t bytes = lines * line_bytes_;
    size_t got = 0;
    if (!ended_ && want > 0) {
        const ssize_t r = read_fully(fd_, chunk_, want);
        if (r < 0) error_ = errno;  // the run stops on it; meanwhile the line reads as zeros
        got = r < 0 ? 0 : size_t(r);
        if (got < want) ended_ = true;
    }
    unread_ -= want;
    std::memset(chunk_ + got, 0, bytes - got);
    held_ = lines;
    taken_ = 0;
}

const unsigned char *RasterLines::next_samples() {
    if (taken_ == held_) fill();
    return chunk_ + line_bytes_ * taken_++;
}

const double *RasterLines::next_line() {
    convert_samples(next_samples(), sample_bytes_, size_t(cols_), factor_, line_);
    return line_;
}

int RasterLines::read_samples_at(int line, unsigned char *samples) const {
    const uint64_t at = uint64_t(line) * line_bytes_;
    size_t got = 0;
    int err = 0;
    if (line >= 0 && at < expected_) {
        while (got < line_bytes_) {
            const ssize_t r = pread(fd_, samples + got, line_bytes_ - got, off_t(at + got));
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) err = errno;
            if (r <= 0) break;
            got += size_t(r);
        }
    }
    std::memset(samples + got, 0, line_bytes_ - got);
    return err;
}

int RasterLines::read_line_at(int line, double *out) const {
    std::vector<unsigned char> samples(line_bytes_);
    const int err = read_samples_at(line, samples.data());
    convert_samples(samples.data(), sample_bytes_, size_t(cols_), factor_, out);
    return err;
}

std::string length_mismatch(const RasterFile &f, const RasterLines &lines, int nb_lines) {
    const uint64_t expected = lines.expected_bytes();
    if (uint64_t(f.size) == expected) return "";
    return kfmt("the file %s holds %lld bytes, but %d lines of %d columns of %d-byte samples need %lld bytes",
                f.shown.c_str(), (long long)f.size, nb_lines, lines.cols(), lines.sample_bytes(), (long long)expected);
}
