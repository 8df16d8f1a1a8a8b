#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <vector>

#include "raster.h"

namespace {

struct TmpRaster {
    std::string path;
    explicit TmpRaster(const std::string &bytes, const std::string &tag = "r")
        : path("/tmp/karvel_raster_" + std::to_string(getpid()) + "_" + tag) {
        write(bytes);
    }
    ~TmpRaster() { unlink(path.c_str()); }
    void write(const std::string &bytes) const { std::ofstream(path, std::ios::binary) << bytes; }
};

std::string bytes(std::initializer_list<int> b) {
    std::string s;
    for (int v : b) s += char(v);
    return s;
}

// Every line of every pass, converted.
std::vector<std::vector<double>> read_all(const std::string &path, int lines, int cols, int width, double factor,
                                          int passes = 1) {
    RasterFile f;
    EXPECT_EQ(raster_open(f, path, "shown"), "");
    RasterLines r;
    EXPECT_TRUE(r.init(f, lines, cols, width, factor));
    std::vector<std::vector<double>> got;
    for (int p = 0; p < passes; p++) {
        r.rewind();
        for (int i = 0; i < lines; i++) {
            const double *row = r.next_line();
            got.emplace_back(row, row + cols);
        }
    }
    raster_close(f);
    return got;
}

}  // namespace

TEST(Raster, SamplesAreConvertedByTheirWidth) {
    TmpRaster a(bytes({0x01, 0x00, 0x02, 0x00, 0xFF, 0xFF, 0x00, 0x01, 0x10, 0x27, 0x34, 0x12}));
    using Rows = std::vector<std::vector<double>>;
    EXPECT_EQ(read_all(a.path, 2, 3, 2, 1.0), (Rows{{1, 2, 65535}, {256, 10000, 4660}}));
    EXPECT_EQ(read_all(a.path, 1, 3, 4, 1.0), (Rows{{2 * 65536 + 1, 256 * 65536 + 65535, 0x12342710}}));
    a.write(bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x10, 0x27, 0x00, 0x00}));
    EXPECT_EQ(read_all(a.path, 1, 2, 4, 1.0), (Rows{{-1, 10000}}));
    a.write(bytes({0x00, 0x7F, 0xFF}));
    EXPECT_EQ(read_all(a.path, 1, 3, 1, 1.0), (Rows{{0, 127, 255}}));
}

TEST(Raster, UnitsMultiplyByTheDoubleConstants) {
    EXPECT_EQ(unit_factor(0), 1.0);
    EXPECT_EQ(unit_factor(1), 0.1);
    EXPECT_EQ(unit_factor(2), 0.01);
    EXPECT_EQ(unit_factor(3), 0.001);
    EXPECT_EQ(unit_factor(4), 0.0);
    TmpRaster a(bytes({3, 0, 35, 0, 9, 0}));
    auto dm = read_all(a.path, 1, 3, 2, unit_factor(1))[0];
    EXPECT_EQ(dm[0], 0.30000000000000004);
    auto cm = read_all(a.path, 1, 3, 2, unit_factor(2))[0];
    EXPECT_EQ(cm[1], 0.35000000000000003);
    auto mm = read_all(a.path, 1, 3, 2, unit_factor(3))[0];
    EXPECT_EQ(mm[2], 0.009000000000000001);
}

TEST(Raster, ShortAndLongFilesReadTheSameOnEveryPass) {
    // A sample cut short keeps its low byte; the rest reads as zero.
    TmpRaster a(bytes({0x01, 0x00, 0x02, 0x00, 0x07}));
    auto got = read_all(a.path, 2, 3, 2, 1.0, 3);
    for (int p = 0; p < 3; p++) {
        EXPECT_EQ(got[2 * p], (std::vector<double>{1, 2, 7}));
        EXPECT_EQ(got[2 * p + 1], (std::vector<double>{0, 0, 0}));
    }
    a.write(bytes({1, 2, 3, 4, 5, 6, 7}));
    got = read_all(a.path, 2, 2, 1, 1.0, 2);
    EXPECT_EQ(got[3], (std::vector<double>{3, 4}));
    a.write("");
    EXPECT_EQ(read_all(a.path, 1, 2, 4, 1.0, 2)[1], (std::vector<double>{0, 0}));
}

TEST(Raster, LinesBeyondOneBufferComeInOrder) {
    // 700 lines of 1000 16-bit samples: 1.4 MB, more than one request, and
    // the last request holds fewer lines than the others.
    const int lines = 700, cols = 1000;
    std::string data;
    for (int i = 0; i < lines; i++)
        for (int j = 0; j < cols; j++) {
            const int v = (i * 131 + j * 7) % 65536;
            data += char(v & 0xFF);
            data += char(v >> 8);
        }
    TmpRaster a(data);
    RasterFile f;
    ASSERT_EQ(raster_open(f, a.path, "a"), "");
    RasterLines r;
    ASSERT_TRUE(r.init(f, lines, cols, 2, 1.0));
    EXPECT_LT(r.buffer_bytes(), data.size());
    for (int pass = 0; pass < 2; pass++) {
        r.rewind();
        for (int i = 0; i < lines; i++) {
            const double *row = r.next_line();
            for (int j = 0; j < cols; j++) ASSERT_EQ(row[j], (i * 131 + j * 7) % 65536) << i << " " << j;
        }
    }
    raster_close(f);
}

TEST(Raster, OnlyRegularFilesOpen) {
    RasterFile f;
    EXPECT_EQ(raster_open(f, "/tmp", "t"), "not a regular file");
    EXPECT_EQ(f.fd, -1);
    EXPECT_NE(raster_open(f, "/nonexistent/karvel/raster", "t"), "");
    const std::string fifo = "/tmp/karvel_fifo_" + std::to_string(getpid());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(raster_open(f, fifo, "t"), "not a regular file");  // returns at once: no writer is awaited
    unlink(fifo.c_str());
}

TEST(Raster, ChangesAreNoticed) {
    TmpRaster a(bytes({1, 2, 3, 4}), "c");
    RasterFile f;
    ASSERT_EQ(raster_open(f, a.path, "a"), "");
    EXPECT_EQ(raster_changed(f), "");
    { std::ofstream(a.path, std::ios::binary | std::ios::app) << "x"; }
    EXPECT_EQ(raster_changed(f), "its size went from 4 to 5 bytes");
    raster_close(f);

    ASSERT_EQ(raster_open(f, a.path, "a"), "");
    const timespec times[2] = {{0, UTIME_OMIT}, {12345, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, a.path.c_str(), times, 0), 0);
    EXPECT_EQ(raster_changed(f), "it was modified");
    raster_close(f);

    ASSERT_EQ(raster_open(f, a.path, "a"), "");
    TmpRaster b(bytes({1, 2, 3, 4, 5}), "d");
    ASSERT_EQ(utimensat(AT_FDCWD, b.path.c_str(), times, 0), 0);
    ASSERT_EQ(rename(b.path.c_str(), a.path.c_str()), 0);
    EXPECT_EQ(raster_changed(f), "it was replaced by another file");
    unlink(a.path.c_str());
    EXPECT_EQ(raster_changed(f), "it was removed");
    raster_close(f);
}

TEST(Raster, AFailedReadIsRecorded) {
    // A directory opened by hand: every read of it fails.
    RasterFile f;
    f.fd = open("/tmp", O_RDONLY | O_DIRECTORY);
    ASSERT_GE(f.fd, 0);
    RasterLines r;
    ASSERT_TRUE(r.init(f, 2, 3, 2, 1.0));
    EXPECT_EQ(r.read_error(), 0);
    const double *row = r.next_line();
    EXPECT_EQ(r.read_error(), EISDIR);
    EXPECT_EQ(std::vector<double>(row, row + 3), (std::vector<double>{0, 0, 0}));
    raster_close(f);
}

TEST(Raster, ALineReadWhereItLiesIsTheLineOfAPassAndLeavesThePassAlone) {
    // Three lines of two 16-bit samples, the last cut short by one byte.
    TmpRaster t(bytes({1, 0, 2, 0, 3, 1, 4, 0, 5, 0}), "at");
    RasterFile f;
    ASSERT_EQ(raster_open(f, t.path, "shown"), "");
    RasterLines r;
    ASSERT_TRUE(r.init(f, 3, 2, 2, 0.1));
    const double *first = r.next_line();
    EXPECT_EQ(first[0], 1 * 0.1);
    double line[2] = {-1, -1};
    EXPECT_EQ(r.read_line_at(1, line), 0);
    EXPECT_EQ(line[0], 259 * 0.1);
    EXPECT_EQ(line[1], 4 * 0.1);
    EXPECT_EQ(r.read_line_at(2, line), 0);  // the missing byte reads as zero, as in a pass
    EXPECT_EQ(line[0], 5 * 0.1);
    EXPECT_EQ(line[1], 0.0);
    const double *second = r.next_line();  // the pass goes on where it was
    EXPECT_EQ(second[0], 259 * 0.1);
    raster_close(f);
}
