#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include <fstream>
#include <sstream>

#include "textfile.h"

namespace {
std::string tmp_path(const char *name) { return "/tmp/karvel_tf_" + std::to_string(getpid()) + "_" + name; }
std::string read_bytes(const std::string &p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}
}  // namespace

TEST(TextFile, LineFeedsAreStoredAsCrLfAndTabsUnchanged) {
    const std::string p = tmp_path("w");
    TextFile f;
    ASSERT_TRUE(text_create(f, p, "shown"));
    text_write(f, "a\tb\n\nc");
    text_write(f, "\n");
    EXPECT_TRUE(text_close(f));
    EXPECT_EQ(read_bytes(p), "a\tb\r\n\r\nc\r\n");
    unlink(p.c_str());
}

TEST(TextFile, CreationReplacesAnExistingFile) {
    const std::string p = tmp_path("r");
    { std::ofstream(p) << "old content that is longer"; }
    TextFile f;
    ASSERT_TRUE(text_create(f, p, "shown"));
    text_write(f, "new");
    EXPECT_TRUE(text_close(f));
    EXPECT_EQ(read_bytes(p), "new");
    unlink(p.c_str());
}

TEST(TextFile, FailuresAreReported) {
    TextFile missing;
    EXPECT_FALSE(text_create(missing, "/nonexistent-dir/x.txt", "x"));
    EXPECT_NE(missing.err, 0);
    text_write(missing, "ignored");  // writes nothing through a handle that failed to open

    // A write that fails (here beyond a file size limit, in a child) is
    // reported at the close, and the file is not given its name.
    const std::string p = tmp_path("big");
    unlink(p.c_str());
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim{1000, 1000};
        setrlimit(RLIMIT_FSIZE, &lim);
        TextFile full;
        if (!text_create(full, p, "full")) _exit(2);
        for (int k = 0; k < 100; k++) text_write(full, std::string(1000, 'x'));
        _exit(!text_close(full) && full.err == EFBIG ? 0 : 1);
    }
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(access(p.c_str(), F_OK), 0);
}

TEST(TextFile, ReadingDropsCarriageReturnsAndStopsAtByte26) {
    const std::string p = tmp_path("t");
    { std::ofstream(p, std::ios::binary) << std::string("1\r\n2\r\n\x1a" "3\n", 8); }
    std::string text;
    int err = 0;
    ASSERT_TRUE(text_read(p, text, &err));
    EXPECT_EQ(text, "1\n2\n");
    unlink(p.c_str());
    EXPECT_FALSE(text_read(p, text, &err));
    EXPECT_NE(err, 0);
}
