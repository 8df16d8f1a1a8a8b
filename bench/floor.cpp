// floor: the least work a streamed comparison can cost, to measure karvel
// against.
//
//   floor FIRST.raw SECOND.raw LINES COLUMNS WIDTH
//
// Makes the four passes karvel makes over both rasters (WIDTH 1, 2 or 4
// bytes per sample), each reading both files again from their first byte,
// line by line, in requests of about a megabyte: the value ranges, the sums
// of the line pass, the errors against the fitted line, and their
// histogram. Each line is converted to doubles (times 0.1 for DEMs). It
// writes nothing but a checksum on standard error.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// One raster read line by line, pass after pass.
struct Reader {
    int fd;
    size_t cols, width, line_bytes, chunk_lines, held = 0, taken = 0, lines_left = 0, lines;
    std::vector<unsigned char> chunk;
    std::vector<double> line;
    double factor;

    Reader(const char *path, size_t lines_, size_t cols_, int width_)
        : cols(cols_), width(size_t(width_)), line_bytes(cols_ * size_t(width_)), lines(lines_), line(cols_) {
        fd = open(path, O_RDONLY);
        if (fd < 0) {
            std::perror(path);
            std::exit(1);
        }
        posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        chunk_lines = std::max<size_t>(1, (size_t(1) << 20) / line_bytes);
        chunk.resize(chunk_lines * line_bytes);
        factor = width == 1 ? 1.0 : 0.1;
    }
    void rewind() {
        lseek(fd, 0, SEEK_SET);
        held = taken = 0;
        lines_left = lines;
    }
    const unsigned char *samples() {
        if (taken == held) {
            held = std::min(chunk_lines, lines_left);
            lines_left -= held;
            size_t want = held * line_bytes, got = 0;
            while (got < want) {
                ssize_t r = read(fd, chunk.data() + got, want - got);
                if (r <= 0) break;
                got += size_t(r);
            }
            std::memset(chunk.data() + got, 0, want - got);
            taken = 0;
        }
        return chunk.data() + line_bytes * taken++;
    }
    template <class T>
    void convert(const unsigned char *s) {
        const T *v = reinterpret_cast<const T *>(s);
        for (size_t j = 0; j < cols; j++) line[j] = double(v[j]) * factor;
    }
    const double *doubles() {
        const unsigned char *s = samples();
        if (width == 1)
            convert<uint8_t>(s);
        else if (width == 2)
            convert<uint16_t>(s);
        else
            convert<int32_t>(s);
        return line.data();
    }
};

template <class T>
void range(const unsigned char *s, size_t cols, int &lo, int &hi) {
    const T *v = reinterpret_cast<const T *>(s);
    for (size_t j = 0; j < cols; j++) {
        lo = std::min(lo, int(v[j]));
        hi = std::max(hi, int(v[j]));
    }
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: floor FIRST.raw SECOND.raw LINES COLUMNS WIDTH\n");
        return 2;
    }
    const size_t lines = std::strtoul(argv[3], nullptr, 10), cols = std::strtoul(argv[4], nullptr, 10);
    const int width = std::atoi(argv[5]);
    Reader a(argv[1], lines, cols, width), b(argv[2], lines, cols, width);
    const size_t n = lines * cols;

    int lo = INT_MAX, hi = INT_MIN;
    for (Reader *r : {&a, &b}) {
        r->rewind();
        for (size_t i = 0; i < lines; i++) {
            const unsigned char *s = r->samples();
            if (width == 1)
                range<uint8_t>(s, cols, lo, hi);
            else if (width == 2)
                range<uint16_t>(s, cols, lo, hi);
            else
                range<int32_t>(s, cols, lo, hi);
        }
    }

    double sx = 0, sy = 0, sxy = 0, sx2 = 0, sd2 = 0, lines_r = 0;
    a.rewind();
    b.rewind();
    for (size_t i = 0; i < lines; i++) {
        const double *x = a.doubles(), *y = b.doubles();
        // The whole-raster sums position by position, as the results need
        // them in that order, beside the line's own.
        double X = 0, Y = 0, XY = 0, X2 = 0, Y2 = 0, D = 0;
        for (size_t j = 0; j < cols; j++) {
            const double p = x[j], q = y[j];
            sx += p, sy += q, sxy += p * q, sx2 += p * p;
            X += p, Y += q, XY += p * q, X2 += p * p, Y2 += q * q;
            D += std::fabs(p - q);
            sd2 += (p - q) * (p - q);
        }
        double dev = 0;
        for (size_t j = 0; j < cols; j++) {
            const double d = std::fabs(x[j] - y[j]) - D / double(cols);
            dev += d * d;
        }
        lines_r += (cols * XY - X * Y) / std::sqrt((cols * X2 - X * X) * (cols * Y2 - Y * Y)) + std::sqrt(dev);
    }
    const double b1 = (n * sxy - sx * sy) / (n * sx2 - sx * sx), b0 = (sy - sx * b1) / n;

    const double mean_x = sx / double(n);
    double sm2 = 0, sest = 0, se = 0, se2 = 0, min_err = INFINITY, max_err = 0;
    a.rewind();
    b.rewind();
    for (size_t i = 0; i < lines; i++) {
        const double *x = a.doubles(), *y = b.doubles();
        for (size_t j = 0; j < cols; j++) {
            const double m = x[j] - mean_x;
            sm2 += m * m;
            const double est = x[j] * b1 + b0, e = std::fabs(y[j] - est);
            sest += est;
            se += e;
            se2 += e * e;
            min_err = e < min_err ? e : min_err;
            max_err = e > max_err ? e : max_err;
        }
    }

    std::vector<int> histogram(size_t(max_err * 10) + 1);
    a.rewind();
    b.rewind();
    for (size_t i = 0; i < lines; i++) {
        const double *x = a.doubles(), *y = b.doubles();
        for (size_t j = 0; j < cols; j++) histogram[size_t(std::fabs(y[j] - (x[j] * b1 + b0)) * 10)]++;
    }
    std::fprintf(stderr, "%d %d %g %g %g %g %g %g %g %g %d\n", lo, hi, sd2, lines_r, sm2, sest, se, se2, min_err, b1,
                 histogram[0]);
    return 0;
}
