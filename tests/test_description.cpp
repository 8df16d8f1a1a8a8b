#include <gtest/gtest.h>

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
