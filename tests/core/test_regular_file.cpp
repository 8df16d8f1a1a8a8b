// Files read without waiting on them, and binary files replaced whole.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "outfile.h"
#include "regular_file.h"
#include "staged.h"

namespace fs = std::filesystem;

namespace {

struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/karvel_regular_XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path); }
};

std::string slurp(const std::string &p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace

TEST(RegularFile, OnlyRegularFilesOpenAndNothingWaitsOnAFifo) {
    TempDir d;
    const std::string file = d.path + "/f", fifo = d.path + "/p";
    std::ofstream(file) << "12345";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct stat st;
    std::string problem;

    int fd = open_regular(file, &st, &problem);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(st.st_size, 5);
    char buf[16];
    EXPECT_EQ(read_fully(fd, buf, sizeof buf), 5);  // all the file holds, in one call
    close(fd);

    // Without a writer, a blocking open of the FIFO would never return.
    EXPECT_EQ(open_regular(fifo, &st, &problem), -1);
    EXPECT_EQ(problem, kNotRegularFile);
    EXPECT_EQ(open_regular(d.path, &st, &problem), -1);
    EXPECT_EQ(problem, kNotRegularFile);
    EXPECT_EQ(open_regular(d.path + "/none", &st, &problem), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(problem, std::strerror(ENOENT));
}

TEST(RegularFile, ABoundedReadTakesAWholeFileOrAPrefixAndTellsWhatLiesBeyond) {
    TempDir d;
    const std::string file = d.path + "/f", fifo = d.path + "/p";
    std::ofstream(file) << std::string(70000, 'a') + "bc";  // more than one read's buffer
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string text = "left over";
    BoundedRead r = read_bounded(file, 70002, text, false);
    EXPECT_EQ(r.problem, "");
    EXPECT_EQ(r.size, 70002);
    EXPECT_FALSE(r.beyond);
    EXPECT_EQ(text, std::string(70000, 'a') + "bc");
    // One byte short of the limit: a whole read is refused unread, a prefix is cut.
    r = read_bounded(file, 70001, text, false);
    EXPECT_TRUE(r.beyond);
    EXPECT_EQ(r.size, 70002);
    EXPECT_EQ(text, "");
    r = read_bounded(file, 70001, text, true);
    EXPECT_TRUE(r.beyond);
    EXPECT_EQ(text, std::string(70000, 'a') + "b");
    r = read_bounded(file, 0, text, true);
    EXPECT_TRUE(r.beyond);
    EXPECT_EQ(text, "");
    // Nothing waits on a FIFO; a missing file says so.
    EXPECT_EQ(read_bounded(fifo, 10, text, false).problem, kNotRegularFile);
    EXPECT_EQ(read_bounded(d.path + "/none", 10, text, true).problem, std::strerror(ENOENT));
}

TEST(OutFile, TheEarlierFileStaysUntilTheNewOneIsCommitted) {
    TempDir d;
    const std::string target = d.path + "/out.raw";
    std::ofstream(target) << "earlier";
    {
        OutFile f;
        // More than the write buffer, so that it is written in several pieces.
        std::string bytes(3 << 20, 'x');
        bytes.back() = 'y';
        ASSERT_TRUE(write_staged(f, target, bytes));
        EXPECT_EQ(slurp(target), "earlier");
        EXPECT_EQ(slurp(f.staged.temp_path), bytes);
        ASSERT_TRUE(staged_commit(f.staged));
        EXPECT_EQ(slurp(target), bytes);
    }
    {
        OutFile f;
        ASSERT_TRUE(f.begin(target));
        f.write("abc", 3);
    }  // dropped without being committed: its temporary file goes, the file stays
    EXPECT_EQ(std::distance(fs::directory_iterator(d.path), fs::directory_iterator()), 1);
    EXPECT_EQ(slurp(target).size(), size_t(3 << 20));
    OutFile missing;
    EXPECT_FALSE(write_staged(missing, d.path + "/no/such/folder/x", "abc"));
    EXPECT_EQ(missing.err, ENOENT);
}
