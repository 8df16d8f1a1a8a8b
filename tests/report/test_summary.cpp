// Reading karvel's summary and tables.
#include <gtest/gtest.h>

#include <cmath>

#include "summary.h"

namespace {

// A summary as karvel writes it (CR LF line ends), for two 16-bit DEMs.
const std::string kSummary =
    "\r\n\r\n\tTreatment on the image c:\\images\\demo\\survey_m2.raw\r\n"
    "\tand on the image c:\\images\\demo\\resurvey_m2.raw\r\n\r\n"
    "\tThese two images have 300 lines and 400 columns \r\n\r\n"
    "\tHypsometric scale of the first DEM :\r\n\t\tMin = 3832\r\n\t\tMax = 17112\r\n\tScale in decimeters\r\n\r\n"
    "\tHypsometric scale of the second DEM :\r\n\t\tMin = 3837\r\n\t\tMax = 17130\r\n\tScale in millimeters\r\n\r\n"
    "\tTreatment applied to the whole image\r\n\r\n"
    "\tSt. Dev. = 0.515400\t\tMin. 0.467087\tMax. 0.548106 \r\n"
    "\tSlope = 1.000033\t\tMin. 0.999319\tMax. 1.000592 \r\n"
    "\tr = 0.999993\t\t\tMin. 0.999970\tMax. 0.999997 \r\n"
    "\tr2 = 0.999986\t\t\tMin. 0.999940\tMax. 0.999995 \r\n\r\n"
    "\tRMS_Error = 0.956395\r\n\r\n"
    "\tSum_X = 121569127.400000\r\n\tSum_Y = 121617525.299998\r\n\tSum_XY = 132758466527.448807\r\n"
    "\tSum_X2 = 132709215468.742096 \r\n"
    "\tB1 = 1.000023\tB0 = -0.379947 \r\n\r\n"
    "\tSum_Y_estim = 121617525.299999\r\n\tSum_err = 90049.515725\r\n\tSum_err2 = 90237.328750 \r\n"
    "\tmin_err = 0.000001\tmax_err = 1.519401 \r\n\tcf. diagram\r\n\r\n"
    "\tvariance = 0.751990\r\n\tVar B0 = 0.000087\r\n\tVar_B1 = 0.000000 \r\n\r\n"
    "\tErr_St_B0 = 0.009332\tErr_St_B1 = 0.000009 \r\n\r\n"
    "\tB0_Calc = 4363.290490\r\n\tB1_Calc = 12700513973.199839 \r\n\r\n\r\n";

std::string replaced(std::string s, const std::string &from, const std::string &to) {
    const size_t at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return s.replace(at, from.size(), to);
}

}  // namespace

TEST(Summary, ReadsEveryFigureTheReportNeeds) {
    Summary s;
    ASSERT_EQ(parse_summary(kSummary, s), "");
    EXPECT_EQ(s.first_shown, "c:\\images\\demo\\survey_m2.raw");
    EXPECT_EQ(s.second_shown, "c:\\images\\demo\\resurvey_m2.raw");
    EXPECT_EQ(s.lines, 300);
    EXPECT_EQ(s.cols, 400);
    EXPECT_FALSE(s.image);
    EXPECT_EQ(s.unit[0], 1);
    EXPECT_EQ(s.unit[1], 3);
    EXPECT_EQ(s.range_min[1], 3837);
    EXPECT_EQ(s.range_max[0], 17112);
    EXPECT_EQ(s.rms.text, "0.956395");
    EXPECT_EQ(s.sum_xy.value, 132758466527.448807);
    EXPECT_EQ(s.b1.value, 1.000023);
    EXPECT_EQ(s.b0.value, -0.379947);
    EXPECT_EQ(s.b0.text, "-0.379947");
}

TEST(Summary, ImagesAndNonFiniteFigures) {
    std::string t = replaced(kSummary, "Hypsometric scale of the first DEM :", "Dynamic scale of the first 8 bits image :");
    t = replaced(t, "Hypsometric scale of the second DEM :", "Dynamic scale of the second 8 bits image :");
    t = replaced(t, "\r\n\tScale in decimeters", "");
    t = replaced(t, "\r\n\tScale in millimeters", "");
    t = replaced(t, "B1 = 1.000023\tB0 = -0.379947", "B1 = -NAN\tB0 = +INF");
    Summary s;
    ASSERT_EQ(parse_summary(t, s), "");
    EXPECT_TRUE(s.image);
    EXPECT_TRUE(std::isnan(s.b1.value));
    EXPECT_EQ(s.b0.value, HUGE_VAL);
}

TEST(Summary, RefusesWhatIsIncomplete) {
    Summary s;
    // Cut anywhere before its final line ends, a summary is incomplete.
    for (size_t cut : {size_t(0), size_t(40), size_t(300), kSummary.find("RMS_Error"), kSummary.find("B0 ="),
                       kSummary.size() - 3, kSummary.size() - 1})
        EXPECT_NE(parse_summary(kSummary.substr(0, cut), s), "") << "cut at " << cut;
    EXPECT_NE(parse_summary(replaced(kSummary, "\tScale in millimeters", "\tScale in furlongs"), s), "");
    EXPECT_NE(parse_summary(replaced(kSummary, "RMS_Error = 0.956395", "RMS_Error = 0.95x395"), s), "");
    EXPECT_NE(parse_summary(replaced(kSummary, "300 lines", "0 lines"), s), "");
}

TEST(Summary, PositionsLeftOutWhereARasterDeclaresNoData) {
    Summary s;
    ASSERT_EQ(parse_summary(kSummary, s), "");
    EXPECT_EQ(s.left_out, -1) << "no line: nothing declared, nothing left out";
    const std::string before = "Max. 0.999995 \r\n";
    auto with = [&](const std::string &line) { return replaced(kSummary, before, before + "\t" + line + "\r\n"); };
    ASSERT_EQ(parse_summary(with("Positions left out (no data in either raster): 1500 of 120000 "), s), "");
    EXPECT_EQ(s.left_out, 1500);
    ASSERT_EQ(parse_summary(with("Positions left out (no data in either raster): 0 of 120000 "), s), "");
    EXPECT_EQ(s.left_out, 0);
    for (const char *bad : {"1500 of 119999", "1500 120000", "-3 of 120000", "119999 of 120000", "many of 120000"})
        EXPECT_NE(parse_summary(with(std::string("Positions left out (no data in either raster): ") + bad + " "), s), "")
            << bad;
}

TEST(Tables, PerLineRowsAndHistogramCounts) {
    std::vector<LineRow> rows;
    const std::string lines = "Line\tSt. Dev.\tSlope\tr\tr2\r\n0\t0.5\t1.0\t0.9\t0.81\r\n1\t+NAN\t-INF\t+NAN\t+NAN\r\n";
    ASSERT_EQ(parse_line_table(lines, 2, rows), "");
    EXPECT_EQ(rows[0].r2, 0.81);
    EXPECT_TRUE(std::isnan(rows[1].desv));
    EXPECT_EQ(rows[1].slope, -HUGE_VAL);
    EXPECT_NE(parse_line_table(lines, 3, rows), "");                                  // a row missing
    EXPECT_NE(parse_line_table(lines.substr(lines.find('\n') + 1), 2, rows), "");  // no header
    EXPECT_NE(parse_line_table(replaced(lines, "1\t+NAN", "5\t+NAN"), 2, rows), "");  // out of order

    // The histogram table's rows: test_histogram_table.cpp.
}
