// Reading the rasters again on every pass, through the real program: files
// shorter than described, files that change during the run, and memory that
// does not grow with the number of lines.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "e2e.h"

using ::testing::HasSubstr;

namespace {

const char *const kResults[] = {"r_karvel.txt", "r_karvel.xls", "r_karvel_regres_lin.xls"};

// A 16-bit raster of the given size whose samples vary from line to line
// and from column to column.
std::string terrain16(int lines, int cols, int seed) {
    std::vector<int> v(size_t(lines) * size_t(cols));
    for (int i = 0; i < lines; i++)
        for (int j = 0; j < cols; j++) v[size_t(i) * cols + j] = (i * 37 + j * 11 + seed * (i ^ j)) % 4000 + 1000;
    return bytes16(v);
}

// Writes 16-bit rasters a and b with their descriptions.
void write_pair16(const Folder &f, int lines, int cols, int seed_a, int seed_b) {
    f.write("a_m2.raw", terrain16(lines, cols, seed_a));
    f.write("a_m2.txt", description(lines, cols, 2));
    f.write("b_m2.raw", terrain16(lines, cols, seed_b));
    f.write("b_m2.txt", description(lines, cols, 2));
}

// Runs the program with `before` on its standard input; once it has printed
// `cue`, calls act() and gives it `after`. Returns what it printed.
RunResult run_with_cue(const std::string &before, const std::string &cue, const std::function<void()> &act,
                       const std::string &after) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        setsid();  // no controlling terminal
        dup2(in[0], 0);
        dup2(out[1], 1);
        int err = open("/dev/null", O_WRONLY);
        dup2(err, 2);
        close(in[1]);
        close(out[0]);
        execl(KARVEL_LOCAL_BIN, KARVEL_LOCAL_BIN, (char *)nullptr);
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    signal(SIGPIPE, SIG_IGN);
    RunResult r;
    (void)!write(in[1], before.data(), before.size());
    bool cued = false;
    char buf[4096];
    for (;;) {
        const ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        r.out.append(buf, size_t(n));
        if (!cued && r.out.find(cue) != std::string::npos) {
            cued = true;
            act();
            (void)!write(in[1], after.data(), after.size());
            close(in[1]);
        }
    }
    if (!cued) close(in[1]);
    close(out[0]);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    return r;
}

const std::string kUnitCue = "\t\t3 ====> in millimeters\n\t\t";

}  // namespace

TEST(Streaming, AShortRasterReadsTheSameOnEveryPass) {
    // 900 lines of 700 16-bit samples (1.26 MB, more than one read request);
    // the first file stops partway through line 500, inside a sample.
    const int lines = 900, cols = 700;
    const std::string full = terrain16(lines, cols, 3);
    const std::string cut = full.substr(0, 500 * 1400 + 333);
    std::string padded = cut + std::string(full.size() - cut.size(), '\0');
    Folder f;
    f.write("a_m2.txt", description(lines, cols, 2));
    f.write("b_m2.raw", terrain16(lines, cols, 5));
    f.write("b_m2.txt", description(lines, cols, 2));
    const std::string answers = f.name() + "\n0\na\n0\nb\n0\nr\n1\n1\n";

    f.write("a_m2.raw", padded);
    RunResult whole = run_karvel(answers);
    ASSERT_EQ(whole.status, 0);
    std::string expected[3];
    for (int k = 0; k < 3; k++) expected[k] = f.read(kResults[k]);

    f.write("a_m2.raw", cut);
    RunResult shortened = run_karvel(answers);
    ASSERT_EQ(shortened.status, 0);
    EXPECT_THAT(shortened.out, HasSubstr("a_m2.raw holds 700333 bytes, but 900 lines of 700 columns of 2-byte "
                                         "samples need 1260000 bytes"));
    for (int k = 0; k < 3; k++) EXPECT_EQ(f.read(kResults[k]), expected[k]) << kResults[k];
    // Zeros after the cut: the smallest sample is 0 and the per-line table
    // shows those lines.
    EXPECT_THAT(shortened.out, HasSubstr("\n\t\tMin = 0 \n"));
    EXPECT_THAT(expected[1], HasSubstr("\r\n899\t"));
}

TEST(Streaming, ARasterThatChangesDuringTheRunStopsItAndLeavesEarlierResults) {
    const int lines = 40, cols = 30;
    Folder f;
    write_pair16(f, lines, cols, 1, 2);
    const std::string before = f.name() + "\n0\na\n0\nb\n0\nr\n";
    ASSERT_EQ(run_karvel(before + "1\n1\n").status, 0);
    std::string earlier[3];
    for (int k = 0; k < 3; k++) earlier[k] = f.read(kResults[k]);

    // The second raster is rewritten, same length, new samples, while the
    // run waits for the first unit.
    const std::string path = f.path("b_m2.raw");
    RunResult r = run_with_cue(
        before, kUnitCue,
        [&] {
            struct stat old_st;
            stat(path.c_str(), &old_st);
            f.write("b_m2.raw", terrain16(lines, cols, 9));
            struct stat st;
            stat(path.c_str(), &st);
            if (st.st_mtim.tv_sec == old_st.st_mtim.tv_sec && st.st_mtim.tv_nsec == old_st.st_mtim.tv_nsec) {
                const timespec later[2] = {{0, UTIME_OMIT}, {old_st.st_mtim.tv_sec + 1, 0}};
                utimensat(AT_FDCWD, path.c_str(), later, 0);  // the clock did not move on
            }
        },
        "1\n1\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, HasSubstr("\n\n\tThe file " + f.shown("b_m2.raw") +
                                 " changed while the run was reading it (it was modified): the results are not "
                                 "written\n"));
    EXPECT_THAT(r.out, testing::Not(HasSubstr("Second Treatment")));
    EXPECT_THAT(r.out, HasSubstr("\n\tResult file not written: " + f.shown("r_karvel.xls")));
    for (int k = 0; k < 3; k++) EXPECT_EQ(f.read(kResults[k]), earlier[k]) << kResults[k];
}

TEST(Streaming, ARasterReplacedDuringTheRunStopsIt) {
    Folder f;
    f.write("a.raw", bytes8({1, 2, 3, 4, 5, 6}));
    f.write("a.txt", description(2, 3, 1));
    f.write("b.raw", bytes8({2, 2, 4, 4, 6, 7}));
    f.write("b.txt", description(2, 3, 1));
    // Images have no unit question: the cue is the result name question.
    RunResult r = run_with_cue(
        f.name() + "\n1\na\nb\n", "Name of this File (without any extension) ? ",
        [&] {
            f.write("c.raw", bytes8({2, 2, 4, 4, 6, 7}));
            rename(f.path("c.raw").c_str(), f.path("a.raw").c_str());
        },
        "r\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, HasSubstr("The file " + f.shown("a.raw") +
                                 " changed while the run was reading it (it was replaced by another file)"));
}

#ifndef KARVEL_SANITIZE  // the sanitizers' shadow memory needs more address space than the cap allows
TEST(Streaming, NoAllocationGrowsWithTheNumberOfLines) {
    // 200000 lines of 60 columns: grids of the whole rasters would take
    // 24 bytes a position, 288 MB, six times the address space allowed.
    const int lines = 200000, cols = 60;
    Folder f;
    write_pair16(f, lines, cols, 4, 6);
    RunResult r = run_karvel(f.name() + "\n0\na\n0\nb\n0\nr\n0\n0\n", uint64_t(48) << 20);
    EXPECT_EQ(r.status, 0) << r.out.substr(r.out.size() > 400 ? r.out.size() - 400 : 0);
    EXPECT_THAT(r.out, HasSubstr("\t\tline 200000                  \r    "));
    EXPECT_THAT(f.read("r_karvel.xls"), HasSubstr("\r\n199999\t"));
}

TEST(Streaming, LineBuffersThatCannotBeHadEndTheRunWithStatusOne) {
    Folder f;
    f.write("a_m2.raw", "");
    f.write("a_m2.txt", description(1, 2000000000, 2));
    f.write("b_m2.raw", "");
    f.write("b_m2.txt", description(1, 2000000000, 2));
    RunResult r = run_karvel(f.name() + "\n0\na\n0\nb\n0\nr\n0\n0\n", uint64_t(1) << 30);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, HasSubstr("\n\n\tNot enough memory for the line buffers of the first raster: lines of "
                                 "2000000000 columns need 20000000000 bytes\n"));
    EXPECT_THAT(r.out, HasSubstr("\n\tResult file not written: " + f.shown("r_karvel_regres_lin.xls")));
}
#endif
