// mkraster: writes a sample raster of synthetic terrain and its description.
//
//   mkraster DIR NAME KIND LINES COLUMNS SEED NOISE SHIFT [NODATA]
//
// KIND is m2 (16-bit DEM in decimeters), m4 (32-bit DEM in millimeters) or
// 8 (8-bit image). The terrain is the same for every SEED; SEED draws the
// noise added to it, uniform within ±NOISE meters, and SHIFT (meters) is
// added everywhere. Two calls with different seeds and noise give a pair of
// rasters to compare. Writes DIR/NAME{_m2,_m4,}.raw and the matching .txt.
// With NODATA, the cells outside the ellipse inscribed in the raster (about
// a fifth of them) hold that sample value, and DIR/NAME{_m2,_m4,}.hdr, an
// ENVI header, declares it as the value of positions without data.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

uint64_t state;
double uniform() {  // xorshift64*, in [-1, 1)
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return double((state * 2685821657736338717ULL) >> 11) / 4503599627370496.0 - 1.0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 9 && argc != 10) {
        std::fprintf(stderr, "usage: mkraster DIR NAME m2|m4|8 LINES COLUMNS SEED NOISE SHIFT [NODATA]\n");
        return 2;
    }
    const std::string dir = argv[1], name = argv[2], kind = argv[3];
    const long lines = std::atol(argv[4]), cols = std::atol(argv[5]);
    state = std::strtoull(argv[6], nullptr, 10) * 0x9E3779B97F4A7C15ULL + 1;
    const double noise = std::atof(argv[7]), shift = std::atof(argv[8]);
    const bool outline = argc == 10;
    const double nodata = outline ? std::atof(argv[9]) : 0.0;
    int width;
    double scale;
    std::string suffix;
    if (kind == "m2") {
        width = 2, scale = 10.0, suffix = "_m2";
    } else if (kind == "m4") {
        width = 4, scale = 1000.0, suffix = "_m4";
    } else if (kind == "8") {
        width = 1, scale = 0.1, suffix = "";
    } else {
        std::fprintf(stderr, "mkraster: KIND is m2, m4 or 8\n");
        return 2;
    }
    if (lines < 1 || cols < 1) {
        std::fprintf(stderr, "mkraster: LINES and COLUMNS must be at least 1\n");
        return 2;
    }

    // Separable pieces of the terrain: ridges, valleys and a diagonal grain.
    std::vector<double> a(lines), b(cols), c(lines + cols), d(lines), e(cols);
    for (long i = 0; i < lines; i++) a[i] = 600.0 * std::sin(double(i) / 97.0), d[i] = std::cos(double(i) / 23.0);
    for (long j = 0; j < cols; j++) b[j] = std::cos(double(j) / 131.0), e[j] = 45.0 * std::sin(double(j) / 29.0);
    for (long k = 0; k < lines + cols; k++) c[k] = 150.0 * std::sin(double(k) / 61.0);

    const std::string raw = dir + "/" + name + suffix + ".raw";
    FILE *fp = std::fopen(raw.c_str(), "wb");
    if (fp == nullptr) {
        std::perror(raw.c_str());
        return 1;
    }
    std::vector<unsigned char> row(size_t(cols) * width);
    for (long i = 0; i < lines; i++) {
        for (long j = 0; j < cols; j++) {
            double meters = 1000.0 + a[i] * b[j] + c[i + j] + d[i] * e[j] + shift + noise * uniform();
            double v = std::floor(meters * scale + 0.5);
            const double di = (double(i) + 0.5) / double(lines) - 0.5, dj = (double(j) + 0.5) / double(cols) - 0.5;
            if (outline && di * di + dj * dj > 0.25) v = nodata;
            unsigned char *p = &row[size_t(j) * width];
            if (width == 2) {
                uint16_t s = uint16_t(std::fmin(std::fmax(v, 0.0), 65535.0));
                std::memcpy(p, &s, 2);
            } else if (width == 4) {
                int32_t s = int32_t(v);
                std::memcpy(p, &s, 4);
            } else {
                *p = uint8_t(std::fmin(std::fmax(v, 0.0), 255.0));
            }
        }
        std::fwrite(row.data(), 1, row.size(), fp);
    }
    if (std::fclose(fp) != 0) {
        std::perror(raw.c_str());
        return 1;
    }
    const std::string txt = dir + "/" + name + suffix + ".txt";
    fp = std::fopen(txt.c_str(), "wb");
    if (fp == nullptr) {
        std::perror(txt.c_str());
        return 1;
    }
    std::fprintf(fp, "%ld\r\n%ld\r\n%d\r\n0\r\n65500\r\n25\r\n", lines, cols, width);
    if (std::fclose(fp) != 0) return 1;
    if (!outline) return 0;
    const std::string hdr = dir + "/" + name + suffix + ".hdr";
    fp = std::fopen(hdr.c_str(), "wb");
    if (fp == nullptr) {
        std::perror(hdr.c_str());
        return 1;
    }
    std::fprintf(fp, "ENVI\nsamples = %ld\nlines = %ld\nbands = 1\nheader offset = 0\ndata type = %d\n"
                 "byte order = 0\ndata ignore value = %.0f\n",
                 cols, lines, width == 1 ? 1 : width == 2 ? 12 : 3, nodata);
    return std::fclose(fp) == 0 ? 0 : 1;
}
