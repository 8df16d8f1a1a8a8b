// Loading through the real program: sample layouts, files of the wrong
// length, and grids that do not fit in memory.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "e2e.h"

using ::testing::HasSubstr;

TEST(Loading, SampleLayoutsReachTheStatistics) {
    Folder f;
    f.write("a_m2.raw", std::string("\x01\x00\x02\x00\xFF\xFF\x00\x01\x10\x27\x34\x12", 12));
    f.write("a_m2.txt", description(2, 3, 2));
    f.write("b_m4.raw", std::string("\xFF\xFF\xFF\xFF\x10\x27\x00\x00", 8) + bytes32({3, 4, 5, 6}));
    f.write("b_m4.txt", description(2, 3, 4));
    RunResult r = run_karvel(f.name() + "\n0\na\n0\nb\n1\nr\n0\n0\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("\n\t\tMin = 1 \n\t\tMax = 65535 \n"));
    EXPECT_THAT(r.out, HasSubstr("\n\t\tMin = -1 \n\t\tMax = 10000 \n"));
    const std::string s = f.read("r_karvel.txt");
    EXPECT_THAT(s, HasSubstr("\tSum_X = 80454.000000\r\n"));  // 1 + 2 + 65535 + 256 + 10000 + 4660
    EXPECT_THAT(s, HasSubstr("\tSum_Y = 10017.000000\r\n"));
    EXPECT_THAT(r.out, testing::Not(HasSubstr("Warning")));
}

TEST(Loading, FilesOfTheWrongLengthAreLoadedWithAWarning) {
    Folder f;
    f.write("a_m2.raw", std::string("\x01\x00\x02\x00\x07", 5));
    f.write("a_m2.txt", description(1, 3, 2));
    f.write("b_m2.raw", bytes16({4, 5, 6, 7, 8}));
    f.write("b_m2.txt", description(1, 3, 2));
    RunResult r = run_karvel(f.name() + "\n0\na\n0\nb\n0\nr\n0\n0\n");
    EXPECT_EQ(r.status, 0);
    const std::string dir = "c:\\images\\" + f.name() + "\\";
    EXPECT_THAT(r.out, HasSubstr("\n\tWarning: the file " + dir +
                                 "a_m2.raw holds 5 bytes, but 1 lines of 3 columns of 2-byte samples need 6 bytes"));
    EXPECT_THAT(r.out, HasSubstr("\n\tWarning: the file " + dir +
                                 "b_m2.raw holds 10 bytes, but 1 lines of 3 columns of 2-byte samples need 6 bytes"));
    EXPECT_THAT(f.read("r_karvel.txt"), HasSubstr("\tSum_X = 10.000000\r\n\tSum_Y = 15.000000\r\n"));
}

#ifndef KARVEL_SANITIZE  // the sanitizers' shadow memory needs more address space than the cap allows
TEST(Loading, AGridThatDoesNotFitInMemoryEndsTheRunWithStatusOne) {
    Folder f;
    f.write("a_m2.raw", "");
    f.write("a_m2.txt", description(30000, 30000, 2));
    f.write("b_m2.raw", "");
    f.write("b_m2.txt", description(30000, 30000, 2));
    RunResult r = run_karvel(f.name() + "\n0\na\n0\nb\n0\nr\n0\n0\n", uint64_t(1) << 30);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, HasSubstr("\n\n\tNot enough memory for the first elevation grid: 30000 lines by 30000 columns "
                                 "of 4 bytes need 3600000000 bytes\n"));
    EXPECT_THAT(r.out, HasSubstr("\n\tResult file not written: c:\\images\\" + f.name() + "\\r_karvel_regres_lin.xls"));
}
#endif
