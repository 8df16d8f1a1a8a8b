#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include "kind.h"
#include "paths.h"

TEST(Paths, ShownPathsMapIntoTheImagesDirectory) {
    std::string msg;
    ImagesDir images;
    ASSERT_TRUE(resolve_images_dir("/data/img", images, msg));
    EXPECT_EQ(images.real_path("c:\\images\\dem\\a_m2.raw"), "/data/img/dem/a_m2.raw");
    EXPECT_EQ(images.real_path("c:\\images\\dem\\sub\\r_karvel.txt"), "/data/img/dem/sub/r_karvel.txt");
    ASSERT_TRUE(resolve_images_dir("/data/img/", images, msg));
    EXPECT_EQ(images.real_path("c:\\images\\x\\b.raw"), "/data/img/x/b.raw");
}

TEST(Paths, TildeIsTheHomeDirectoryFromTheUserDatabase) {
    std::string msg;
    ImagesDir images;
    ASSERT_TRUE(resolve_images_dir("~/images", images, msg));
    struct passwd *pw = getpwuid(getuid());
    ASSERT_NE(pw, nullptr);
    EXPECT_EQ(images.dir, std::string(pw->pw_dir) + "/images");
    EXPECT_EQ(images.real_path("c:\\images\\d\\a.raw"), std::string(pw->pw_dir) + "/images/d/a.raw");
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

TEST(Paths, FoldersNamesAndPathsThatCompanionsHandKarvel) {
    // Taken lexically: a ".." that stays within the images directory is taken.
    for (const char *folder : {"dem", "dem/2024", "dem\\2024", "a..b", "...", "x/..y/z", "./dem", "a/../b",
                               "a/..\\b", "x/..", "x\\..", "a/b/../../c", "a//b/./../c", "ab:"})
        EXPECT_EQ(folder_problem(folder), "") << folder;
    for (const char *folder : {"..", "../x", "x/../../y", "./..", "a/b/../../../c", "a//../..", "x\\..\\..\\y"})
        EXPECT_EQ(folder_problem(folder), "leads out of the images directory") << folder;
    // Joined to the shown root an absolute folder would name another.
    for (const char *folder : {"/abs", "/", "\\abs", "d:\\x", "C:/x", "c:"})
        EXPECT_EQ(folder_problem(folder), "is an absolute path; a folder lies within the images directory c:\\images\\")
            << folder;
    EXPECT_EQ(folder_problem("two words"), "is not an answer karvel's dialogue takes: it holds white space");
    EXPECT_EQ(folder_problem(std::string(kMaxFolder, 'f')), "");
    EXPECT_EQ(folder_problem(std::string(kMaxFolder + 1, 'f')),
              "is not an answer karvel's dialogue takes: it has 128 characters; at most 127 are allowed");
    // The answer's own rule comes first: ".. " is refused for its space.
    EXPECT_EQ(folder_problem(".. "), "is not an answer karvel's dialogue takes: it holds white space");

    EXPECT_EQ(name_problem("survey_2024"), "");
    EXPECT_EQ(name_problem(".."), "");  // a file name, however odd
    for (const char *name : {"x/y", "x\\y", "/"})
        EXPECT_EQ(name_problem(name),
                  "is not an answer karvel's dialogue takes: a name is one file name, without a folder")
            << name;
    EXPECT_EQ(name_problem(std::string(kMaxName + 1, 'n')),
              "is not an answer karvel's dialogue takes: it has 100 characters; at most 99 are allowed");
    EXPECT_EQ(name_problem(""), "is not an answer karvel's dialogue takes: it is empty");

    EXPECT_EQ(path_problem(std::string(kMaxPath, 'p')), "");
    EXPECT_EQ(path_problem(std::string(kMaxPath + 3, 'p')), "has 130 characters; karvel takes paths of at most 127");
}

TEST(Paths, SuffixesAndBytesFollowTheKindBothWays) {
    const struct {
        int image_type, width;
        Kind kind;
        int bytes;
        const char *raw, *txt;
    } kinds[] = {{1, 0, Kind::image8, 1, ".raw", ".txt"},
                 {0, 0, Kind::dem16, 2, "_m2.raw", "_m2.txt"},
                 {0, 1, Kind::dem32, 4, "_m4.raw", "_m4.txt"},
                 {0, -7, Kind::dem32, 4, "_m4.raw", "_m4.txt"}};
    for (const auto &k : kinds) {
        EXPECT_EQ(kind_of_answers(k.image_type, k.width), k.kind);
        EXPECT_EQ(kind_bytes(k.kind), k.bytes);
        EXPECT_STREQ(raster_suffix(k.kind), k.raw);
        EXPECT_STREQ(description_suffix(k.kind), k.txt);
        Kind back = Kind::image8;
        ASSERT_TRUE(kind_of_name(std::string("c:\\images\\d\\a") + k.raw, k.kind == Kind::image8, back));
        EXPECT_EQ(back, k.kind);
        if (k.kind != Kind::image8) {
            EXPECT_EQ(kind_of_answers(0, width_answer(k.kind)), k.kind);
        }
    }
    Kind k = Kind::image8;
    EXPECT_FALSE(kind_of_name("a.txt", true, k));
    EXPECT_FALSE(kind_of_name("a.raw", false, k));  // a DEM's name carries its width
}

TEST(Paths, TheHeaderOfARawRasterTakesThePlaceOfItsExtension) {
    EXPECT_EQ(header_name("/d/a_m4.raw"), "/d/a_m4.hdr");
    EXPECT_EQ(header_name("c:\\images\\d\\img.raw"), "c:\\images\\d\\img.hdr");
    EXPECT_EQ(header_name("/d/a.bin"), "/d/a.bin.hdr");
}
