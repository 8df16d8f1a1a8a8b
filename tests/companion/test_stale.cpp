// What killed runs left in a folder, removed and named on standard error.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "stale.h"

TEST(Stale, RemovedAndNamedAfterTheProgramOrNothingSaid) {
    char tmpl[] = "/tmp/karvel_companion_stale_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const pid_t child = fork();  // a process that has ended
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    const std::string stale = ".a_m4.raw." + std::to_string(child) + ".0.tmp";
    const std::string mine = ".b_m4.raw." + std::to_string(getpid()) + ".0.tmp";
    for (const std::string &name : {stale, mine}) std::fclose(std::fopen((dir + "/" + name).c_str(), "w"));

    testing::internal::CaptureStderr();
    remove_stale("karvel-import", dir);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "karvel-import: removed what runs that were killed left in " + dir + ": " + stale + "\n");
    EXPECT_FALSE(std::filesystem::exists(dir + "/" + stale));
    EXPECT_TRUE(std::filesystem::exists(dir + "/" + mine));
    testing::internal::CaptureStderr();
    remove_stale("karvel-report", dir);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    std::filesystem::remove_all(dir);
}
