// Loading through the real program: sample layouts and files of the wrong
// length.
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
