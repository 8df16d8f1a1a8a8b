#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "staged.h"

namespace fs = std::filesystem;

namespace {

struct Dir {
    std::string path = "/tmp/karvel_staged_" + std::to_string(getpid());
    Dir() {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~Dir() { fs::remove_all(path); }
    std::string at(const std::string &name) const { return path + "/" + name; }
    size_t entries() const { return size_t(std::distance(fs::directory_iterator(path), fs::directory_iterator())); }
};

std::string read(const std::string &p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void put(const std::string &p, const std::string &bytes) { std::ofstream(p, std::ios::binary) << bytes; }

}  // namespace

TEST(Staged, TheEarlierFileStaysUntilTheCommit) {
    Dir d;
    put(d.at("r.txt"), "earlier");
    StagedFile f;
    ASSERT_TRUE(staged_begin(f, d.at("r.txt")));
    EXPECT_EQ(fs::path(f.temp_path).parent_path(), fs::path(d.path));
    EXPECT_EQ(read(f.temp_path), "");
    put(f.temp_path, "new");
    EXPECT_EQ(read(d.at("r.txt")), "earlier");
    ASSERT_TRUE(staged_commit(f));
    EXPECT_EQ(read(d.at("r.txt")), "new");
    EXPECT_TRUE(f.temp_path.empty());
    EXPECT_EQ(d.entries(), 1u);
}

TEST(Staged, DiscardsAndFailuresLeaveNoTemporaryFile) {
    Dir d;
    StagedFile a, b, c;
    ASSERT_TRUE(staged_begin(a, d.at("a")));
    ASSERT_TRUE(staged_begin(b, d.at("b")));
    EXPECT_NE(a.temp_path, b.temp_path);
    staged_discard(a);
    EXPECT_EQ(d.entries(), 1u);
    staged_discard_all();
    EXPECT_EQ(d.entries(), 0u);

    // A folder where the final name stands cannot be replaced.
    fs::create_directories(d.at("dir"));
    EXPECT_FALSE(staged_begin(c, d.at("dir")));
    EXPECT_EQ(errno, EISDIR);
    // Nor a FIFO (or a device): renaming onto it would replace it.
    ASSERT_EQ(mkfifo(d.at("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(staged_begin(c, d.at("fifo")));
    EXPECT_EQ(errno, EINVAL);
    fs::remove(d.at("fifo"));
    EXPECT_FALSE(staged_begin(c, "/nonexistent-karvel-dir/x"));
    EXPECT_EQ(errno, ENOENT);

    // A rename that fails removes the temporary file.
    ASSERT_TRUE(staged_begin(c, d.at("c")));
    c.final_path = d.at("missing/c");
    EXPECT_FALSE(staged_commit(c));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(d.entries(), 1u);  // only the folder "dir"
}

TEST(Staged, FilesCommittedTogetherStopAtTheFirstFailure) {
    Dir d;
    StagedFile a, b, c;
    ASSERT_TRUE(staged_begin(a, d.at("a")));
    ASSERT_TRUE(staged_begin(b, d.at("b")));
    ASSERT_TRUE(staged_begin(c, d.at("c")));
    b.final_path = d.at("missing/b");
    StagedFile *const all[] = {&a, &b, &c};
    size_t failed = 99;
    EXPECT_FALSE(staged_commit_together(all, 3, &failed));
    EXPECT_EQ(failed, 1u);
    EXPECT_TRUE(fs::exists(d.at("a")));
    EXPECT_FALSE(fs::exists(d.at("c")));
    EXPECT_EQ(d.entries(), 1u);
}

TEST(Staged, ASignalRemovesTheTemporaryFilesAndEndsTheProcessByIt) {
    Dir d;
    pid_t pid = fork();
    if (pid == 0) {
        staged_catch_signals();
        StagedFile f;
        if (!staged_begin(f, d.at("r"))) _exit(2);
        raise(SIGTERM);
        _exit(3);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(d.entries(), 0u);

    // A forked child that exits leaves its parent's files alone.
    StagedFile mine;
    ASSERT_TRUE(staged_begin(mine, d.at("mine")));
    pid = fork();
    if (pid == 0) std::exit(0);
    waitpid(pid, &status, 0);
    EXPECT_EQ(d.entries(), 1u);
    staged_discard(mine);

    // Nor does a process that exits without committing.
    pid = fork();
    if (pid == 0) {
        StagedFile f;
        if (!staged_begin(f, d.at("r"))) _exit(2);
        std::exit(0);
    }
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(d.entries(), 0u);
}
