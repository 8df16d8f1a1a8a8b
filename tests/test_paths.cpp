#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include "paths.h"

TEST(Paths, ShownPathsMapIntoTheImagesDirectory) {
    std::string msg;
    ASSERT_TRUE(set_images_dir("/data/img", msg));
    EXPECT_EQ(real_path("c:\\images\\dem\\a_m2.raw"), "/data/img/dem/a_m2.raw");
    EXPECT_EQ(real_path("c:\\images\\dem\\sub\\r_karvel.txt"), "/data/img/dem/sub/r_karvel.txt");
    ASSERT_TRUE(set_images_dir("/data/img/", msg));
    EXPECT_EQ(real_path("c:\\images\\x\\b.raw"), "/data/img/x/b.raw");
}

TEST(Paths, TildeIsTheHomeDirectoryFromTheUserDatabase) {
    std::string msg;
    ASSERT_TRUE(set_images_dir("~/images", msg));
    struct passwd *pw = getpwuid(getuid());
    ASSERT_NE(pw, nullptr);
    EXPECT_EQ(images_dir(), std::string(pw->pw_dir) + "/images");
    EXPECT_EQ(real_path("c:\\images\\d\\a.raw"), std::string(pw->pw_dir) + "/images/d/a.raw");
}

TEST(Paths, AnswersAreTakenOnlyAsPrintableWordsWithinTheirLimit) {
    EXPECT_EQ(answer_problem("dem", kMaxFolder), "");
    EXPECT_EQ(answer_problem(std::string(99, 'n'), kMaxName), "");
    EXPECT_EQ(answer_problem(std::string(100, 'n'), kMaxName), "it has 100 characters; at most 99 are allowed");
    EXPECT_EQ(answer_problem("", kMaxName), "it is empty");
    EXPECT_EQ(answer_problem("a b", kMaxName), "it holds white space");
    EXPECT_EQ(answer_problem(std::string("a_m2.raw\0x", 10), kMaxName),
              "it holds the control byte \\x00 at character 9");
    EXPECT_EQ(answer_problem("x\x7f", kMaxName), "it holds the control byte \\x7f at character 2");
    EXPECT_EQ(answer_problem("\x1b[31m", kMaxName), "it holds the control byte \\x1b at character 1");
    // Bytes beyond ASCII (UTF-8 names) are no control bytes.
    EXPECT_EQ(answer_problem("r\xc3\xa9sultat", kMaxName), "");
    EXPECT_EQ(printable(std::string("a\x1b[0m\0\xff\\", 8)), "a\\x1b[0m\\x00\\xff\\");
}

TEST(Paths, SuffixesFollowTheSampleSize) {
    EXPECT_STREQ(raster_suffix(1), ".raw");
    EXPECT_STREQ(description_suffix(1), ".txt");
    EXPECT_STREQ(raster_suffix(2), "_m2.raw");
    EXPECT_STREQ(description_suffix(2), "_m2.txt");
    EXPECT_STREQ(raster_suffix(4), "_m4.raw");
    EXPECT_STREQ(description_suffix(4), "_m4.txt");
}

TEST(Paths, TheHeaderOfARawRasterTakesThePlaceOfItsExtension) {
    EXPECT_EQ(header_name("/d/a_m4.raw"), "/d/a_m4.hdr");
    EXPECT_EQ(header_name("c:\\images\\d\\img.raw"), "c:\\images\\d\\img.hdr");
    EXPECT_EQ(header_name("/d/a.bin"), "/d/a.bin.hdr");
}
