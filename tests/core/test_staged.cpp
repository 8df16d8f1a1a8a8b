#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

TEST(Staged, LeftoversOfProcessesThatNoLongerRunAreRemovedAndNothingElse) {
    char tmpl[] = "/tmp/karvel_stale_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    // A process that has ended: its id is free until reused.
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    const std::string dead = std::to_string(child), alive = std::to_string(getpid());
    auto touch = [&](const std::string &name) { std::fclose(std::fopen((dir + "/" + name).c_str(), "w")); };
    touch(".a_m4.raw." + dead + ".0.tmp");
    touch(".a_m4.raw." + alive + ".1.tmp");
    touch(".a_m4.raw." + dead + ".tmp");  // a file named like a folder is no temporary
    touch("a_m4.raw." + dead + ".0.tmp");  // not hidden
    touch(".a_m4.raw.x" + dead + ".0.tmp");
    const std::string scratch = dir + "/.r_report." + dead + ".tmp";
    ASSERT_EQ(mkdir(scratch.c_str(), 0777), 0);
    std::fclose(std::fopen((scratch + "/profiles.png").c_str(), "w"));
    ASSERT_EQ(mkdir((dir + "/.r_report." + alive + ".tmp").c_str(), 0777), 0);

    std::vector<std::string> removed = staged_remove_stale(dir);
    std::sort(removed.begin(), removed.end());
    EXPECT_EQ(removed, (std::vector<std::string>{".a_m4.raw." + dead + ".0.tmp", ".r_report." + dead + ".tmp"}));
    size_t left = 0;
    for (const auto &e : std::filesystem::directory_iterator(dir)) left += e.exists() ? 1 : 0;
    EXPECT_EQ(left, 5u);
    EXPECT_TRUE(staged_remove_stale(dir).empty());
    std::filesystem::remove_all(dir);
}

TEST(Staged, SpaceIsCheckedAgainstWhatTheFileSystemHasFree) {
    EXPECT_EQ(space_problem("/tmp", 1), "");
    const std::string p = space_problem("/tmp", uint64_t(1) << 62);
    EXPECT_EQ(p.rfind("it needs 4.6 EB but the file system of /tmp has ", 0), 0u) << p;
    EXPECT_EQ(space_problem("/no/such/folder", uint64_t(1) << 62), "");  // unknown: the writes are checked
    EXPECT_EQ(byte_count(999), "999 bytes");
    EXPECT_EQ(byte_count(96000000), "96.0 MB");
    EXPECT_EQ(byte_count(4000000000000ULL), "4.0 TB");
}
