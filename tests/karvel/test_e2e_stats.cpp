// The statistics through the real program: the five stages, their console
// texts and the three result files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "dialogue_texts.h"
#include "e2e.h"

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// Runs a comparison of two 8-bit images p and q of the given size and values.
RunResult compare_images(const Folder &f, int lines, int cols, const std::vector<int> &p, const std::vector<int> &q) {
    f.write("p.raw", bytes8(p));
    f.write("p.txt", description(lines, cols, 1));
    f.write("q.raw", bytes8(q));
    f.write("q.txt", description(lines, cols, 1));
    return run_karvel(f.name() + "\n1\np\nq\nr\n");
}

// Runs a comparison of two 32-bit DEMs in meters (with a cap on the
// program's address space when memory_limit is not 0).
RunResult compare_dems(const Folder &f, int lines, int cols, const std::vector<int> &a, const std::vector<int> &b,
                       uint64_t memory_limit = 0) {
    f.write("a_m4.raw", bytes32(a));
    f.write("a_m4.txt", description(lines, cols, 4));
    f.write("b_m4.raw", bytes32(b));
    f.write("b_m4.txt", description(lines, cols, 4));
    return run_karvel(f.name() + "\n0\na\n1\nb\n1\nr\n0\n0\n", memory_limit);
}

// The lines of a result table, without their CR LF.
std::vector<std::string> rows(const std::string &file) {
    std::vector<std::string> out;
    size_t start = 0, end;
    while ((end = file.find("\r\n", start)) != std::string::npos) {
        out.push_back(file.substr(start, end - start));
        start = end + 2;
    }
    EXPECT_EQ(start, file.size()) << "the file ends with an unfinished line";
    return out;
}

}  // namespace

TEST(Statistics, WorkedExampleByteForByte) {
    Folder f;
    RunResult r = compare_images(f, 2, 2, {1, 2, 3, 4}, {1, 3, 2, 6});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::string console =
        "\n\n\tFirst Treatment\n\n"
        "\n\n\tInput Values"
        "\n\t\tSum_X = 10.000000\tSum_Y = 12.000000\n\t\tSum_XY = 37.000000\tSum_X2 = 30.000000 "
        "\n\n\tEquation 1"
        "\n\t\tNeg_Sum_X = -10.000000\tSum_Y_by_Neg_Sum_X = -120.000000 "
        "\n\t\tN_by_Neg_Sum_X = -40.000000\tSum_X_by_Neg_Sum_X = -100.000000 "
        "\n\n\tEquation 2"
        "\n\t\tSum_XY_by_N = 148.000000\tSum_X_by_N = 40.000000\n\t\tSum_X2_by_N = 120.000000 "
        "\n\n\tNote : N corresponds to the total number of points"
        "\n\n\tDifferences"
        "\n\t\tDif_XY_Y = 28.000000\tDif_X2_X = 20.000000 \n"
        "\n\n\tcalculation of B1 and B0"
        "\n\n\tB1 = Dif_XY_Y/Dif_X2_X"
        "\n\tB0 = (Sum_Y-(Sum_X*B1))/N"
        "\n\n\tB1 = 1.400000 B0 = -0.500000 "
        "\n\n\tSecond Treatment\n\n"
        "\t\tline 0                    \r    "
        "\n\n\tSum_Y_estim = 12.000000\tSum_err = 3.400000\n\tSum_err2 = 4.200000 "
        "\n\tmin_err = 0.100000\t\tmax_err = 1.700000 "
        "\n\n\tVariance = 2.100000\n\tVar B0 = 3.150000\n\tVar_B1 = 0.420000 "
        "\n\tErr_St_B0 = 1.774824\n\tErr_St_B1 = 0.648074 "
        "\n\tB0_Calc = -0.158730\n\tB1_Calc = 3.333333 "
        "\n\n\tThird Treatment \n\n"
        "\t\tline 0                    \r    "
        "\n\n\tPress any key to save the results ";
    EXPECT_THAT(r.out, EndsWith(console));

    const std::string dir = "c:\\images\\" + f.name() + "\\";
    EXPECT_EQ(f.read("r_karvel.txt"),
              crlf("\n\n\tTreatment on the image " + dir + "p.raw" + "\n\tand on the image " + dir + "q.raw\n" +
                   "\n\tThese two images have 2 lines and 2 columns \n"
                   "\n\n\tDynamic scale of the first 8 bits image :\n\t\tMin = 1\n\t\tMax = 4"
                   "\n\n\tDynamic scale of the second 8 bits image :\n\t\tMin = 1\n\t\tMax = 6"
                   "\n\n\tTreatment applied to the whole image\n"
                   "\n\tSt. Dev. = 0.707107\t\tMin. 0.707107\tMax. 0.707107 "
                   "\n\tSlope = 3.000000\t\tMin. 2.000000\tMax. 4.000000 "
                   "\n\tr = 1.000000\t\t\tMin. 1.000000\tMax. 1.000000 "
                   "\n\tr2 = 1.000000\t\t\tMin. 1.000000\tMax. 1.000000 "
                   "\n\n\tRMS_Error = 1.414214"
                   "\n\n\tSum_X = 10.000000\n\tSum_Y = 12.000000\n\tSum_XY = 37.000000\n\tSum_X2 = 30.000000 "
                   "\n\tB1 = 1.400000\tB0 = -0.500000 "
                   "\n\n\tSum_Y_estim = 12.000000\n\tSum_err = 3.400000\n\tSum_err2 = 4.200000 "
                   "\n\tmin_err = 0.100000\tmax_err = 1.700000 "
                   "\n\tcf. diagram"
                   "\n\n\tvariance = 2.100000\n\tVar B0 = 3.150000\n\tVar_B1 = 0.420000 "
                   "\n\n\tErr_St_B0 = 1.774824\tErr_St_B1 = 0.648074 "
                   "\n\n\tB0_Calc = -0.158730\n\tB1_Calc = 3.333333 "
                   "\n\n\n"));
    EXPECT_EQ(f.read("r_karvel.xls"),
              crlf("Line\tSt. Dev.\tSlope\tr\tr2\n0\t0.707107\t2.000000\t1.000000\t1.000000\n"
                   "1\t0.707107\t4.000000\t1.000000\t1.000000\n"));
    // The errors 0.1, 0.7, 1.7 and 0.9 as computed in doubles lie just
    // above, above, below and above their tenths: bins 1, 7, 16 and 9.
    std::string histogram;
    const int counts[] = {1, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 1};
    for (int k = 1; k <= 16; k++) histogram += std::to_string(k) + "\t" + std::to_string(counts[k - 1]) + "\n";
    EXPECT_EQ(f.read("r_karvel_regres_lin.xls"), crlf(histogram));
}

TEST(Statistics, IdenticalRastersCompleteWithInfinitiesPrintedAsSuch) {
    Folder f;
    RunResult r = compare_dems(f, 2, 3, {1, 5, 2, 7, 7, 7}, {1, 5, 2, 7, 7, 7});
    EXPECT_EQ(r.status, 0);
    // Line 1 is constant: its slope and r are 0/0; every error is 0.
    EXPECT_EQ(f.read("r_karvel.xls"),
              crlf("Line\tSt. Dev.\tSlope\tr\tr2\n0\t0.000000\t1.000000\t1.000000\t1.000000\n"
                   "1\t0.000000\t-NAN\t-NAN\t-NAN\n"));
    const std::string s = f.read("r_karvel.txt");
    EXPECT_THAT(s, HasSubstr(crlf("\n\tSlope = 1.000000\t\tMin. 1.000000\tMax. 1.000000 ")));
    EXPECT_THAT(s, HasSubstr(crlf("\n\tr2 = 1.000000\t\t\tMin. 1.000000\tMax. 1.000000 "
                                  "\n\tLines left out of the means (not a finite number): Slope 1, r 1, r2 1 "
                                  "\n\n\tRMS_Error = 0.000000")));
    EXPECT_THAT(s, HasSubstr(crlf("\n\tB1 = 1.000000\tB0 = 0.000000 ")));
    EXPECT_THAT(s, HasSubstr(crlf("\n\tmin_err = 0.000000\tmax_err = 0.000000 ")));
    EXPECT_THAT(s, HasSubstr(crlf("\n\n\tB0_Calc = -NAN\n\tB1_Calc = +INF \n\n\n")));
    EXPECT_EQ(f.read("r_karvel_regres_lin.xls"), "");  // every error below 0.1
    EXPECT_EQ(r.err, "");
}

TEST(Statistics, AConstantShiftGivesSlopeOneAndTheShiftAsIntercept) {
    Folder f;
    RunResult r = compare_dems(f, 2, 3, {1, 2, 3, 4, 6, 9}, {6, 7, 8, 9, 11, 14});
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("\n\n\tB1 = 1.000000 B0 = 5.000000 "));
    EXPECT_EQ(f.read("r_karvel.xls"),
              crlf("Line\tSt. Dev.\tSlope\tr\tr2\n0\t0.000000\t1.000000\t1.000000\t1.000000\n"
                   "1\t0.000000\t1.000000\t1.000000\t1.000000\n"));
}

TEST(Statistics, PerLineSlopeSpreadAndSignOfR) {
    Folder f;
    // Line 0: y = 2x. Line 1: y - x alternates +1, -1. Line 2: y falls as x rises.
    RunResult r = compare_dems(f, 3, 4, {1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4}, {2, 4, 6, 8, 2, 1, 4, 3, 8, 6, 4, 2});
    EXPECT_EQ(r.status, 0);
    std::vector<std::string> table = rows(f.read("r_karvel.xls"));
    ASSERT_EQ(table.size(), 4u);
    EXPECT_EQ(table[1], "0\t1.290994\t2.000000\t1.000000\t1.000000");
    EXPECT_EQ(table[2].substr(0, 11), "1\t0.000000\t");
    EXPECT_EQ(table[3], "2\t2.645751\t-2.000000\t-1.000000\t1.000000");
    // Extremes are the true ones: the largest r is 1, the smallest -1.
    EXPECT_THAT(f.read("r_karvel.txt"), HasSubstr("Min. -1.000000\tMax. 1.000000 "));
}

TEST(Statistics, ExtremesBeyondTheOldStartValues) {
    Folder f;
    // Slopes 300 and 250 (all above 200), r all -1 (all below 0), errors above ten million.
    RunResult r = compare_dems(f, 2, 2, {1, 2, 1, 2}, {-300, -600, -250, -500});
    EXPECT_EQ(r.status, 0);
    const std::string s = f.read("r_karvel.txt");
    EXPECT_THAT(s, HasSubstr(crlf("\n\tSlope = -275.000000\t\tMin. -300.000000\tMax. -250.000000 ")));
    EXPECT_THAT(s, HasSubstr(crlf("\n\tr = -1.000000\t\t\tMin. -1.000000\tMax. -1.000000 ")));
    Folder g;
    r = compare_dems(g, 1, 4, {0, 1, 0, 1}, {0, 1, 2000000000, -2000000000});
    EXPECT_THAT(g.read("r_karvel.txt"), HasSubstr("\n\tmin_err = 1000000000.000000\tmax_err = 1000000000.500000 "));
    EXPECT_THAT(r.out, HasSubstr("more histogram bins than a count can hold: the histogram table stays empty\n"));
    EXPECT_EQ(g.read("r_karvel_regres_lin.xls"), "");
    EXPECT_THAT(g.read("r_karvel.txt"), EndsWith(" \r\n\r\n\r\n"));
}

#ifndef KARVEL_SANITIZE  // the sanitizers' shadow memory needs more address space than the cap allows
TEST(Statistics, AHistogramThatDoesNotFitInMemoryIsLeftEmpty) {
    Folder f;
    // Errors of 100 million need a billion bins (4 GB); the program may have 1 GB.
    RunResult r = compare_dems(f, 1, 4, {0, 1, 0, 1}, {0, 1, 200000000, -200000000}, uint64_t(1) << 30);
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("\n\n\tNot enough memory for 1000000006 histogram bins (4000000024 bytes): the "
                                 "histogram table stays empty\n"));
    EXPECT_THAT(r.out, Not(HasSubstr("Third Treatment")));
    EXPECT_EQ(f.read("r_karvel_regres_lin.xls"), "");
    EXPECT_THAT(f.read("r_karvel.txt"), HasSubstr("\tmax_err = 100000000.500000 \r\n\tcf. diagram"));
}
#endif

TEST(Statistics, ErrorsOfExactlyOneHalfFallIntoBinFive) {
    Folder f;
    // y does not follow x at all: B1 is 0 and B0 the mean 10.5, so every error is 0.5.
    RunResult r = compare_images(f, 2, 2, {1, 2, 1, 2}, {10, 11, 11, 10});
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("\n\n\tB1 = 0.000000 B0 = 10.500000 "));
    EXPECT_EQ(f.read("r_karvel_regres_lin.xls"), crlf("1\t0\n2\t0\n3\t0\n4\t0\n5\t4\n"));
}

TEST(Statistics, LinesAndProgressCountsOf2500Lines) {
    Folder f;
    std::vector<int> a(2500 * 2), b(2500 * 2);
    for (size_t k = 0; k < a.size(); k++) a[k] = int(k % 7), b[k] = int((k * 3) % 11);
    RunResult r = compare_dems(f, 2500, 2, a, b);
    EXPECT_EQ(r.status, 0);
    const std::string first = "\t\tline 1000                  \r    \t\tline 2000                  \r    \n\n\tInput";
    EXPECT_THAT(r.out, HasSubstr("\n\n\tFirst Treatment\n\n" + first));
    const std::string later = "\t\tline 0                    \r    \t\tline 1000                    \r    "
                              "\t\tline 2000                    \r    \n\n";
    EXPECT_THAT(r.out, HasSubstr("\n\n\tSecond Treatment\n\n" + later + "\tSum_Y_estim"));
    EXPECT_THAT(r.out, HasSubstr("\n\n\tThird Treatment \n\n" + later + "\tPress any key"));
    std::vector<std::string> table = rows(f.read("r_karvel.xls"));
    ASSERT_EQ(table.size(), 2501u);
    EXPECT_EQ(table.back().substr(0, 5), "2499\t");
}

TEST(Statistics, DegenerateGridsCompleteTheRun) {
    struct Case {
        int lines, cols;
        std::vector<int> a, b;
    } cases[] = {
        {1, 1, {5}, {7}},                   // one position
        {1, 2, {5, 6}, {7, 9}},             // two positions
        {3, 1, {1, 2, 3}, {2, 2, 5}},       // one column
        {2, 2, {4, 4, 4, 4}, {1, 2, 3, 4}}, // first raster of one value
        {1, 4, {1, 2, 3, 4}, {3, 5, 7, 9}}, // exact linear relation on one line
    };
    for (const Case &c : cases) {
        Folder f;
        RunResult r = compare_dems(f, c.lines, c.cols, c.a, c.b);
        EXPECT_EQ(r.status, 0) << c.lines << "x" << c.cols;
        EXPECT_THAT(r.out, EndsWith("\n\n\tPress any key to save the results "));
        const std::string s = f.read("r_karvel.txt");
        EXPECT_THAT(s, HasSubstr("\r\n\tcf. diagram\r\n"));
        EXPECT_THAT(s, EndsWith(" \r\n\r\n\r\n"));
        EXPECT_EQ(rows(f.read("r_karvel.xls")).size(), size_t(c.lines) + 1);
    }
}

TEST(Statistics, OneColumnLeavesEveryLineOutOfTheMeans) {
    Folder f;
    RunResult r = compare_dems(f, 3, 1, {1, 2, 3}, {2, 2, 5});
    std::vector<std::string> table = rows(f.read("r_karvel.xls"));
    EXPECT_EQ(table[1], "0\t-NAN\t-NAN\t-NAN\t-NAN");
    const std::string s = f.read("r_karvel.txt");
    EXPECT_THAT(s, HasSubstr(crlf("\n\tSt. Dev. = +NAN\t\tMin. +NAN\tMax. +NAN ")));
    EXPECT_THAT(s, HasSubstr("Lines left out of the means (not a finite number): St. Dev. 3, Slope 3, r 3, r2 3 "));
    // RMS over N - 1 = 2: differences 1, 0, 2.
    EXPECT_THAT(s, HasSubstr("RMS_Error = 1.581139"));
}

TEST(Statistics, ANegativeSquareRootArgumentIsReportedAndTheRunGoesOn) {
    Folder f;
    // A nearly constant second line: n·Σy² − (Σy)² rounds to -64.
    const int big = 211561926;
    RunResult r = compare_dems(f, 1, 3, {1, 2, 3}, {big, big + 1, big});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "\r\nsqrt: DOMAIN error\r\n");
    std::vector<std::string> table = rows(f.read("r_karvel.xls"));
    EXPECT_EQ(table[1], "0\t1.154701\t0.000000\t-NAN\t-NAN");
    EXPECT_THAT(f.read("r_karvel.txt"), HasSubstr("Lines left out of the means (not a finite number): r 1, r2 1 "));
    EXPECT_THAT(f.read("r_karvel.txt"), EndsWith(" \r\n\r\n\r\n"));
}

TEST(Statistics, AFailedWriteIsReportedWithStatusOneAndReplacesNothing) {
    Folder f;
    std::vector<int> p, q;
    for (int k = 0; k < 400; k++) {
        p.push_back(k % 7);
        q.push_back(k % 5);
    }
    f.write("p.raw", bytes8(p));
    f.write("p.txt", description(200, 2, 1));
    f.write("q.raw", bytes8(q));
    f.write("q.txt", description(200, 2, 1));
    f.write("r_karvel.txt", "earlier summary");
    // The per-line table (200 rows) outgrows the file size limit; the
    // console output and the summary stay within it.
    RunResult r = run_karvel(f.name() + "\n1\np\nq\nr\n", 0, 6000);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, HasSubstr("\n\n\tThe result file c:\\images\\" + f.name() +
                                 "\\r_karvel.xls could not be written completely: File too large\n"));
    EXPECT_THAT(r.out, HasSubstr("\n\tResult file not written: c:\\images\\" + f.name() + "\\r_karvel.txt"));
    EXPECT_EQ(f.read("r_karvel.txt"), "earlier summary");
    EXPECT_FALSE(f.exists("r_karvel.xls"));
    EXPECT_FALSE(f.exists("r_karvel_regres_lin.xls"));
}
