#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <vector>

#include "console.h"
#include "state.h"
#include "stdin_answers.h"

namespace {

// A raster of one line of 32-bit samples, opened as `f` and read by `lines`.
void one_line(RasterFile &f, RasterLines &lines, const std::vector<int> &values, const std::string &tag) {
    const std::string p = "/tmp/karvel_param_" + std::to_string(getpid()) + tag;
    {
        std::ofstream o(p, std::ios::binary);
        o.write(reinterpret_cast<const char *>(values.data()), std::streamsize(values.size() * 4));
    }
    ASSERT_EQ(raster_open(f, p, tag), "");
    unlink(p.c_str());
    ASSERT_TRUE(lines.init(f, 1, int(values.size()), 4, 1.0));
}

// The first line of a raster as the statistics passes get it.
std::vector<double> first_line(RasterLines &lines) {
    lines.rewind();
    const double *row = lines.next_line();
    return std::vector<double>(row, row + lines.cols());
}

// Two DEMs of one line; returns the console output of the conversion.
std::string convert(const std::vector<int> &a, const std::vector<int> &b, const std::string &units) {
    image_type = 0;
    hypso_scale = 0;
    nb_lig = 1;
    nb_col = int(a.size());
    one_line(f1, dtab1, a, "1");
    one_line(f3, dtab2, b, "3");
    answers(units);
    testing::internal::CaptureStdout();
    parameters();
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(Parameters, UnitsAreMultipliedByTheirFactor) {
    convert({12, 35, 3}, {1200, 9, 3}, "0\n2\n");
    EXPECT_EQ(first_line(dtab1)[0], 12.0);
    EXPECT_EQ(first_line(dtab2)[0], 12.0);
    EXPECT_EQ(first_line(dtab2)[1], 0.09);  // 9 cm
    convert({35, 3}, {9, 3}, "2\n3\n");
    EXPECT_EQ(first_line(dtab1)[0], 0.35000000000000003);
    EXPECT_NE(first_line(dtab1)[0], 0.35);
    EXPECT_EQ(first_line(dtab2)[0], 0.009000000000000001);
    EXPECT_NE(first_line(dtab2)[0], 0.009);
    convert({3}, {3}, "1\n1\n");
    EXPECT_EQ(first_line(dtab1)[0], 0.30000000000000004);
    EXPECT_EQ(hypso_scale, 1);
}

TEST(Parameters, RangesAreShownAndRecordedAsLoaded) {
    range_min[0] = -7;
    range_max[0] = 200000;
    range_min[1] = 150000;
    range_max[1] = 150001;
    std::string said = convert({1}, {2}, "3\n0\n");
    EXPECT_THAT(said,
                testing::HasSubstr("\n\n\tHypsometric scale of the first DEM :\n\t\tMin = -7 \n\t\tMax = 200000 \n"));
    EXPECT_THAT(said, testing::HasSubstr(
                          "\n\n\tHypsometric scale of the second DEM :\n\t\tMin = 150000 \n\t\tMax = 150001 \n"));
}

TEST(Parameters, ImagesNeedNoUnit) {
    nb_lig = 1;
    nb_col = 2;
    one_line(f1, dtab1, {255, 0}, "1");
    one_line(f3, dtab2, {0, 9}, "3");
    dtab1.set_factor(0.5);  // whatever the readers held before, grey levels are taken as they are
    dtab2.set_factor(0.5);
    image_type = 1;
    answers("");
    testing::internal::CaptureStdout();
    parameters();
    std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(first_line(dtab1)[0], 255.0);
    EXPECT_EQ(first_line(dtab2)[1], 9.0);
    EXPECT_THAT(said, testing::Not(testing::HasSubstr("Are these values")));
}
