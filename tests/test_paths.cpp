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
