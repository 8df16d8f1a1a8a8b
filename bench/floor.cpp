// floor: the least work a comparison can cost, to measure karvel against.
//
//   floor FIRST.raw SECOND.raw LINES COLUMNS WIDTH
//
// Reads both rasters (WIDTH 1, 2 or 4 bytes per sample) into grids of the
// element types that karvel keeps (8-bit or int grids, then double grids),
// one read per line, and makes three passes over the double grids: the
// sums of the line pass, the errors against the fitted line, and their
// histogram. It writes nothing but a checksum on standard error.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

template <class T>
T *grid(size_t n) {
    T *p = static_cast<T *>(std::calloc(n, sizeof(T)));  // a fresh, zero-filled mapping
    if (p == nullptr) {
        std::fprintf(stderr, "floor: out of memory\n");
        std::exit(1);
    }
    return p;
}

// Loads a raster and returns it as doubles; the integer grid is kept, as karvel keeps it.
double *load(const char *path, size_t lines, size_t cols, int width) {
    FILE *fp = std::fopen(path, "rb");
    if (fp == nullptr) {
        std::perror(path);
        std::exit(1);
    }
    const size_t n = lines * cols;
    double *d = grid<double>(n);
    if (width == 1) {
        unsigned char *g = grid<unsigned char>(n);
        for (size_t i = 0; i < lines; i++) (void)!std::fread(g + i * cols, 1, cols, fp);
        for (size_t k = 0; k < n; k++) d[k] = g[k];
    } else {
        int *g = grid<int>(n);
        std::vector<uint16_t> line(cols);
        for (size_t i = 0; i < lines; i++) {
            int *row = g + i * cols;
            if (width == 2) {
                (void)!std::fread(line.data(), 2, cols, fp);
                for (size_t j = 0; j < cols; j++) row[j] = line[j];
            } else {
                (void)!std::fread(row, 4, cols, fp);
            }
        }
        for (size_t k = 0; k < n; k++) d[k] = g[k] * 0.1;
    }
    std::fclose(fp);
    return d;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: floor FIRST.raw SECOND.raw LINES COLUMNS WIDTH\n");
        return 2;
    }
    const size_t lines = std::strtoul(argv[3], nullptr, 10), cols = std::strtoul(argv[4], nullptr, 10);
    const int width = std::atoi(argv[5]);
    const double *x = load(argv[1], lines, cols, width);
    const double *y = load(argv[2], lines, cols, width);
    const size_t n = lines * cols;

    double sx = 0, sy = 0, sxy = 0, sx2 = 0, sd2 = 0, lines_r = 0;
    for (size_t i = 0; i < lines; i++) {
        double X = 0, Y = 0, XY = 0, X2 = 0, Y2 = 0;
        for (size_t k = i * cols; k < (i + 1) * cols; k++) {
            const double a = x[k], b = y[k];
            X += a, Y += b, XY += a * b, X2 += a * a, Y2 += b * b;
            sd2 += (a - b) * (a - b);
        }
        sx += X, sy += Y, sxy += XY, sx2 += X2;
        lines_r += (cols * XY - X * Y) / std::sqrt((cols * X2 - X * X) * (cols * Y2 - Y * Y));
    }
    const double b1 = (n * sxy - sx * sy) / (n * sx2 - sx * sx), b0 = (sy - sx * b1) / n;
    double se = 0, max_err = 0;
    for (size_t k = 0; k < n; k++) {
        const double e = std::fabs(y[k] - (x[k] * b1 + b0));
        se += e;
        max_err = e > max_err ? e : max_err;
    }
    std::vector<int> histogram(size_t(max_err * 10) + 1);
    for (size_t k = 0; k < n; k++) histogram[size_t(std::fabs(y[k] - (x[k] * b1 + b0)) * 10)]++;
    std::fprintf(stderr, "%g %g %g %g %d\n", sd2, lines_r, se, b1, histogram[0]);
    return 0;
}
