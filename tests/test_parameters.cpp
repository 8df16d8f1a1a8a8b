#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "console.h"
#include "stdin_answers.h"
#include "nrutil.h"
#include "state.h"

namespace {


// Two DEMs of one line; returns the console output of the conversion.
std::string convert(const std::vector<int> &a, const std::vector<int> &b, const std::string &units) {
    frimatrice(itab1, nb_lig);
    frimatrice(itab2, nb_lig);
    frdmatrice(dtab1, nb_lig);
    frdmatrice(dtab2, nb_lig);
    image_type = 0;
    hypso_scale = 0;
    nb_lig = 1;
    nb_col = int(a.size());
    itab1 = imatrice(nb_col, 1);
    itab2 = imatrice(nb_col, 1);
    for (int j = 0; j < nb_col; j++) {
        itab1[0][j] = a[j];
        itab2[0][j] = b[j];
    }
    answers(units);
    testing::internal::CaptureStdout();
    parameters();
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(Parameters, UnitsAreMultipliedByTheirFactor) {
    convert({12, 35, 3}, {1200, 9, 3}, "0\n2\n");
    EXPECT_EQ(dtab1[0][0], 12.0);
    EXPECT_EQ(dtab2[0][0], 12.0);
    EXPECT_EQ(dtab2[0][1], 0.09);  // 9 cm
    convert({35, 3}, {9, 3}, "2\n3\n");
    EXPECT_EQ(dtab1[0][0], 0.35000000000000003);
    EXPECT_NE(dtab1[0][0], 0.35);
    EXPECT_EQ(dtab2[0][0], 0.009000000000000001);
    EXPECT_NE(dtab2[0][0], 0.009);
    convert({3}, {3}, "1\n1\n");
    EXPECT_EQ(dtab1[0][0], 0.30000000000000004);
    EXPECT_EQ(hypso_scale, 1);
}

TEST(Parameters, RangesAreShownAndRecordedAsLoaded) {
    range_min[0] = -7;
    range_max[0] = 200000;
    range_min[1] = 150000;
    range_max[1] = 150001;
    std::string said = convert({1}, {2}, "3\n0\n");
    EXPECT_THAT(said, testing::HasSubstr("\n\n\tHypsometric scale of the first DEM :\n\t\tMin = -7 \n\t\tMax = 200000 \n"));
    EXPECT_THAT(said, testing::HasSubstr("\n\n\tHypsometric scale of the second DEM :\n\t\tMin = 150000 \n\t\tMax = 150001 \n"));
}

TEST(Parameters, ImagesNeedNoUnit) {
    image_type = 1;
    nb_lig = 1;
    nb_col = 2;
    tab1 = ucmatrice(2, 1);
    tab2 = ucmatrice(2, 1);
    tab1[0][0] = 255;
    tab2[0][1] = 9;
    answers("");
    testing::internal::CaptureStdout();
    parameters();
    std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(dtab1[0][0], 255.0);
    EXPECT_EQ(dtab2[0][1], 9.0);
    EXPECT_THAT(said, testing::Not(testing::HasSubstr("Are these values")));
}
