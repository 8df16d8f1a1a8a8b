#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "description.h"

TEST(Description, SixValuesOnLinesOrOnOneLine) {
    int v[6];
    EXPECT_EQ(parse_description("1000\n800\n2\n0\n65500\n5\n", v), "");
    EXPECT_EQ(v[0], 1000);
    EXPECT_EQ(v[1], 800);
    EXPECT_EQ(v[5], 5);
    EXPECT_EQ(parse_description("400 300 4 0 0 10", v), "");
    EXPECT_EQ(v[0], 400);
    EXPECT_EQ(v[1], 300);
    EXPECT_EQ(v[5], 10);
    EXPECT_EQ(parse_description("\t 2\n\n 3 1 -5 +7 -1 anything after\n", v), "");
    EXPECT_EQ(v[3], -5);
    EXPECT_EQ(v[5], -1);
}

TEST(Description, ShortOrMalformedFilesAreRefusedWithTheReason) {
    int v[6];
    EXPECT_EQ(parse_description("", v), "it holds 0 of the six numbers it needs (the number of lines is missing)");
    EXPECT_EQ(parse_description("10 20 2 0 65500", v),
              "it holds 5 of the six numbers it needs (the pixel size is missing)");
    EXPECT_EQ(parse_description("10 twenty 2 0 65500 5", v),
              "where the number of columns should stand it holds \"twenty\", which is not a number");
    EXPECT_EQ(parse_description("10 20 2 0 99999999999 5", v),
              "its maximum value lies beyond the range of a 32-bit integer");
}

TEST(Description, SizesBelowOneOrBeyondAddressingAreRefused) {
    int v[6];
    EXPECT_EQ(parse_description("0 20 2 0 65500 5", v), "it gives 0 lines; a raster has at least 1");
    EXPECT_EQ(parse_description("20 -4 2 0 65500 5", v), "it gives -4 columns; a raster has at least 1");
    EXPECT_EQ(size_problem(2000000000, 2000000000),
              "2000000000 lines by 2000000000 columns make 4000000000000000000 positions, more than the "
              "17592186044416 a grid can address");
    // Counted in 64 bits: 50000 x 50000 overflows an int but is a valid size.
    EXPECT_EQ(size_problem(50000, 50000), "");
    EXPECT_EQ(size_problem(1, 1), "");
}

namespace {
std::string tmp(const char *name) { return "/tmp/karvel_descr_" + std::to_string(getpid()) + "_" + name; }
void put(const std::string &p, const std::string &bytes) { std::ofstream(p, std::ios::binary) << bytes; }
}  // namespace

TEST(Description, ReadFromABoundedPrefixWithoutBlocking) {
    int v[6] = {0, 0, 0, 0, 0, 0};
    const std::string p = tmp("d");
    put(p, "2\r\n3\r\n2\r\n0\r\n65500\r\n7\r\n");
    EXPECT_EQ(read_description(p, v), "");
    EXPECT_EQ(v[0], 2);
    EXPECT_EQ(v[1], 3);
    EXPECT_EQ(v[5], 7);
    // Whatever follows the sixth value, however long, does not matter.
    put(p, "2 3 2 0 65500 7\n" + std::string(1 << 20, 'z'));
    EXPECT_EQ(read_description(p, v), "");
    // Six values that do not lie within the prefix are refused.
    put(p, std::string(kDescriptionPrefix - 3, ' ') + "2 3 2 0 65500 7");
    EXPECT_EQ(read_description(p, v), "its six numbers do not lie within its first 4096 bytes");
    // A value that reaches the end of the prefix may go on beyond it.
    put(p, std::string(kDescriptionPrefix - 15, ' ') + "2 3 2 0 65500 71");
    EXPECT_EQ(read_description(p, v), "its six numbers do not lie within its first 4096 bytes");
    put(p, "2 3 2 0 65500 \x1b[31m");
    EXPECT_EQ(read_description(p, v),
              "where the pixel size should stand it holds \"\\x1b[31m\", which is not a number");
    unlink(p.c_str());
    EXPECT_EQ(read_description(p, v), "it cannot be read (No such file or directory)");

    ASSERT_EQ(mkfifo(p.c_str(), 0600), 0);
    EXPECT_EQ(read_description(p, v), "it is not a regular file");  // returns at once, no writer needed
    unlink(p.c_str());
}

TEST(Description, CreatedTextHoldsTheSixValuesOnePerLine) {
    const int v[6] = {1000, 800, 2, 0, 65500, -5};
    EXPECT_EQ(description_text(v), "1000\n800\n2\n0\n65500\n-5\n");
    EXPECT_EQ(crlf_text(description_text(v)), "1000\r\n800\r\n2\r\n0\r\n65500\r\n-5\r\n");
}
