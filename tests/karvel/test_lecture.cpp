#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <vector>

#include "state.h"

namespace {

std::string tmp_file(const std::string &tag, const std::string &bytes) {
    const std::string p = "/tmp/karvel_lect_" + std::to_string(getpid()) + "_" + tag;
    std::ofstream(p, std::ios::binary) << bytes;
    return p;
}

// Reads two rasters of the given bytes and returns the console output.
std::string load(int type, int width1, int width3, int lines, int cols, const std::string &first,
                 const std::string &second) {
    image_type = type;
    itype1 = width1;
    itype3 = itype = width3;
    nb_lig = lines;
    nb_col = cols;
    nomim1 = "c:\\images\\t\\first";
    nomim3 = "c:\\images\\t\\second";
    const std::string p1 = tmp_file("1", first), p3 = tmp_file("3", second);
    EXPECT_EQ(raster_open(f1, p1, nomim1), "");
    EXPECT_EQ(raster_open(f3, p3, nomim3), "");
    testing::internal::CaptureStdout();
    lecture();
    std::string said = testing::internal::GetCapturedStdout();
    unlink(p1.c_str());
    unlink(p3.c_str());
    return said;
}

// The samples of a raster as the later passes get them (before any unit).
std::vector<std::vector<double>> lines_of(RasterLines &r) {
    std::vector<std::vector<double>> rows;
    r.rewind();
    for (int i = 0; i < nb_lig; i++) {
        const double *row = r.next_line();
        rows.emplace_back(row, row + nb_col);
    }
    return rows;
}

using Rows = std::vector<std::vector<double>>;

std::string bytes(std::initializer_list<int> b) {
    std::string s;
    for (int v : b) s += char(v);
    return s;
}

std::string bytes32le(std::initializer_list<int> values) {
    std::string s;
    for (int v : values)
        for (int b = 0; b < 4; b++) s += char((unsigned(v) >> (8 * b)) & 0xFF);
    return s;
}

}  // namespace

TEST(Lecture, SixteenBitSamplesAreWidenedWithoutSign) {
    const std::string a = bytes({0x01, 0x00, 0x02, 0x00, 0xFF, 0xFF, 0x00, 0x01, 0x10, 0x27, 0x34, 0x12});
    std::string said = load(0, 0, 0, 2, 3, a, a);
    EXPECT_EQ(said, "");
    EXPECT_EQ(lines_of(dtab1), (Rows{{1, 2, 65535}, {256, 10000, 4660}}));
    // The files stay open for the later passes, which read them again.
    EXPECT_GE(f1.fd, 0);
    EXPECT_GE(f3.fd, 0);
    EXPECT_EQ(lines_of(dtab2), lines_of(dtab1));
}

TEST(Lecture, ThirtyTwoBitSamplesAreSigned) {
    load(0, 1, 1, 1, 2, bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x10, 0x27, 0x00, 0x00}), bytes({0, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(lines_of(dtab1), (Rows{{-1, 10000}}));
    EXPECT_EQ(lines_of(dtab2), (Rows{{0, 1}}));
}

TEST(Lecture, EachRasterHasItsOwnWidth) {
    load(0, 0, 1, 1, 2, bytes({0xFF, 0xFF, 0x02, 0x00}), bytes({0xFE, 0xFF, 0xFF, 0xFF, 0x03, 0, 0, 0}));
    EXPECT_EQ(lines_of(dtab1), (Rows{{65535, 2}}));
    EXPECT_EQ(lines_of(dtab2), (Rows{{-2, 3}}));
}

TEST(Lecture, ImagesAreBytes) {
    load(1, 0, 0, 1, 3, bytes({0x00, 0x7F, 0xFF}), bytes({1, 2, 3}));
    EXPECT_EQ(lines_of(dtab1), (Rows{{0, 127, 255}}));
}

TEST(Lecture, ShortAndLongFilesLoadWhatTheyHoldWithAWarning) {
    std::string said = load(0, 0, 0, 1, 3, bytes({0x01, 0x00, 0x02, 0x00, 0x07}), "");
    EXPECT_EQ(lines_of(dtab1), (Rows{{1, 2, 7}}));  // a cut sample keeps its low byte
    EXPECT_EQ(lines_of(dtab2), (Rows{{0, 0, 0}}));
    EXPECT_EQ(said,
              "\n\tWarning: the file c:\\images\\t\\first holds 5 bytes, but 1 lines of 3 columns of 2-byte samples "
              "need 6 bytes"
              "\n\tWarning: the file c:\\images\\t\\second holds 0 bytes, but 1 lines of 3 columns of 2-byte samples "
              "need 6 bytes");

    said = load(1, 0, 0, 2, 2, bytes({1, 2, 3, 4, 5, 6}), bytes({1, 2, 3, 4}));
    EXPECT_EQ(lines_of(dtab1), (Rows{{1, 2}, {3, 4}}));
    EXPECT_THAT(said, testing::HasSubstr("first holds 6 bytes, but 2 lines of 2 columns of 1-byte samples need 4"));
    EXPECT_THAT(said, testing::Not(testing::HasSubstr("second")));
}

TEST(Lecture, RangesAreTheTrueSmallestAndLargestSamples) {
    // Every value above 100000 in the first raster, every value below 0 in the second.
    load(0, 1, 1, 2, 1, bytes32le({150000, 200000}), bytes32le({-7, -3}));
    EXPECT_EQ(range_min[0], 150000);
    EXPECT_EQ(range_max[0], 200000);
    EXPECT_EQ(range_min[1], -7);
    EXPECT_EQ(range_max[1], -3);
    load(0, 0, 0, 1, 3, bytes({0x01, 0x00, 0xFF, 0xFF, 0x00, 0x01}), bytes({0, 0, 0, 0, 9, 0}));
    EXPECT_EQ(range_min[0], 1);
    EXPECT_EQ(range_max[0], 65535);
    EXPECT_EQ(range_min[1], 0);
    EXPECT_EQ(range_max[1], 9);
    load(1, 0, 0, 1, 3, bytes({7, 200, 9}), bytes({3, 3, 3}));
    EXPECT_EQ(range_min[0], 7);
    EXPECT_EQ(range_max[0], 200);
    EXPECT_EQ(range_max[1], 3);
}
