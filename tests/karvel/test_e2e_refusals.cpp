// Hostile answers and files through the real program: nothing is lost,
// nothing is mixed, nothing hangs.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "dialogue_texts.h"
#include "e2e.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

namespace {

// The answers that name the pair of dem_pair16 up to the result name.
std::string answers(const Folder &f) { return f.name() + "\n0\na\n0\nb\n0\n"; }

// The names in the folder that a run leaves behind as temporary files.
std::vector<std::string> leftovers(const Folder &f) {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(fs::path(f.path("")).parent_path()))
        if (e.path().filename().string()[0] == '.') names.push_back(e.path().filename().string());
    return names;
}

const char *const kResults[] = {"r_karvel.txt", "r_karvel.xls", "r_karvel_regres_lin.xls"};

void write_earlier_results(const Folder &f) {
    for (const char *name : kResults) f.write(name, std::string("earlier ") + name);
}
void expect_earlier_results(const Folder &f) {
    for (const char *name : kResults) EXPECT_EQ(f.read(name), std::string("earlier ") + name);
}

// Reads from fd until `until` appears in seen or the time is up.
bool read_until(int fd, const std::string &until, std::string &seen, int seconds = 10) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (seen.find(until) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        struct pollfd p {
            fd, POLLIN, 0
        };
        if (poll(&p, 1, 50) <= 0) continue;
        char buf[4096];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) return seen.find(until) != std::string::npos;
        seen.append(buf, size_t(n));
    }
    return true;
}

// Waits for a child for at most `seconds`; kills it when it does not end.
int wait_bounded(pid_t pid, int seconds) {
    int status = 0;
    for (int k = 0; k < seconds * 100; k++) {
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

// The program on a pseudo-terminal that is its controlling terminal, with
// answers from a pipe. In the background, it runs in a process group of
// its own that is not the terminal's foreground.
struct TerminalRun {
    int master = -1, answers = -1;
    pid_t pid = -1;
    explicit TerminalRun(bool background = false) {
        int slave = -1, in[2];
        EXPECT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        EXPECT_EQ(pipe2(in, O_CLOEXEC), 0);  // the program's copy of in[0] is its standard input
        pid = spawn_on_terminal(KARVEL_LOCAL_BIN, in[0], slave, master, background);
        close(in[0]);
        close(slave);
        answers = in[1];
    }
    void say(const std::string &text) const {
        EXPECT_EQ(write(answers, text.data(), text.size()), ssize_t(text.size()));
    }
    ~TerminalRun() {
        close(answers);
        close(master);
    }
};

// Starts the program with answers from a pipe and output to a file; the
// caller feeds the answers and waits.
struct PipedRun {
    int answers = -1;
    pid_t pid = -1;
    std::string out_path;
    explicit PipedRun(const std::string &out) : out_path(out) {
        int in[2];
        EXPECT_EQ(pipe(in), 0);
        pid = fork();
        if (pid == 0) {
            setsid();
            dup2(in[0], 0);
            int o = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(o, 1);
            close(in[1]);
            execl(KARVEL_LOCAL_BIN, KARVEL_LOCAL_BIN, (char *)nullptr);
            _exit(127);
        }
        close(in[0]);
        answers = in[1];
    }
    void say(const std::string &text) const {
        EXPECT_EQ(write(answers, text.data(), text.size()), ssize_t(text.size()));
    }
    bool shows(const std::string &text, int seconds = 10) const {
        for (int k = 0; k < seconds * 100; k++) {
            std::ifstream in(out_path, std::ios::binary);
            std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (s.find(text) != std::string::npos) return true;
            usleep(10000);
        }
        return false;
    }
    ~PipedRun() {
        if (answers >= 0) close(answers);
        unlink(out_path.c_str());
    }
};

}  // namespace

TEST(Refusals, ControlBytesInAnAnswerAreRefusedNamingThePrompt) {
    Folder f;
    dem_pair16(f);
    const std::string raster = f.read("a_m2.raw");
    // A result name cut at its NUL byte would be the first raster.
    RunResult r = run_karvel(answers(f) + std::string("a_m2.raw\0x\n0\n0\n", 15));
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("\n\n\tThe answer a_m2.raw\\x00x to \"Name of this File (without any extension)\" is "
                                 "refused: it holds the control byte \\x00 at character 9\n"));
    EXPECT_EQ(f.read("a_m2.raw"), raster);
    EXPECT_FALSE(f.exists("a_m2.raw_karvel.txt"));

    r = run_karvel(answers(f) + std::string("x\0\n0\n0\n", 7));
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(f.exists("x"));
    EXPECT_TRUE(leftovers(f).empty());

    // At the folder prompt the escape sequence is shown, not sent to the terminal.
    r = run_karvel("\x1b[2J" + f.name() + "\n");
    EXPECT_THAT(r.out, HasSubstr("The answer \\x1b[2J" + f.name() +
                                 " to \"Name of the File Folder located in the Directory c:\\images\\\" is refused"));
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);

    // At a menu.
    r = run_karvel(f.name() + "\n0\x7f\n");
    EXPECT_THAT(r.out, HasSubstr("The answer 0\\x7f to \"Type of data\" is refused: it holds the control byte \\x7f at "
                                 "character 2\n"));
    EXPECT_EQ(r.status, 0);
}

TEST(Refusals, FifosAndDevicesNeverBlockTheRun) {
    Folder f;
    dem_pair16(f);
    ASSERT_EQ(mkfifo(f.path("p_m2.raw").c_str(), 0600), 0);
    RunResult r = run_karvel(f.name() + "\n0\np\n0\nb\n0\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("\n\n\tNo File " + f.shown("p_m2.raw") +
                                 " inexistant\n\tIt exists but is not a regular file\n"));

    // The same for the second raster and for a description.
    r = run_karvel(f.name() + "\n0\na\n0\np\n0\n");
    EXPECT_THAT(r.out,
                HasSubstr("\n\n\tNo File " + f.shown("p_m2.raw") + " \n\tIt exists but is not a regular file\n"));
    unlink(f.path("b_m2.txt").c_str());
    ASSERT_EQ(mkfifo(f.path("b_m2.txt").c_str(), 0600), 0);
    r = run_karvel(answers(f) + "r\n");
    EXPECT_THAT(r.out, HasSubstr("\n\n\tThe description file " + f.shown("b_m2.txt") +
                                 " cannot be used: it is not a regular file\n"));
    EXPECT_EQ(r.status, 0);
}

TEST(Refusals, UnboundedInputsEndInOrderInBoundedMemory) {
    Folder f;
    dem_pair16(f);
    // A 3 GB sparse description and 3 GB of NUL bytes as answers.
    f.write("b_m2.txt", "");
    ASSERT_EQ(truncate(f.path("b_m2.txt").c_str(), 3LL << 30), 0);
    const std::string zeros = f.path("zeros");
    { std::ofstream(zeros) << ""; }
    ASSERT_EQ(truncate(zeros.c_str(), 3LL << 30), 0);
#ifdef KARVEL_SANITIZE  // the sanitizers' shadow memory needs more address space than a cap allows
    const uint64_t cap = 0;
#else
    const uint64_t cap = uint64_t(200) << 20;
#endif
    RunResult r = run_karvel(answers(f) + "r\n", cap);
    EXPECT_EQ(r.status, 0);
    std::string shown_zeros;
    for (int k = 0; k < 40; k++) shown_zeros += "\\x00";
    EXPECT_THAT(r.out, HasSubstr("\n\n\tThe description file " + f.shown("b_m2.txt") +
                                 " cannot be used: where the number of lines should stand it holds \"" + shown_zeros +
                                 "\", which is not a number\n"));

    r = run_karvel_input(zeros, cap);
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("to \"Name of the File Folder located in the Directory c:\\images\\\" is refused: it "
                                 "holds the control byte \\x00 at character 1\n"));
}

TEST(Refusals, ASignalAtThePauseLeavesTheEarlierResultsAndEndsTheRunByIt) {
    Folder f;
    dem_pair16(f);
    write_earlier_results(f);
    TerminalRun run;
    run.say(answers(f) + "r\n0\n0\n");
    std::string seen;
    ASSERT_TRUE(read_until(run.master, "Press any key to save the results ", seen)) << seen;
    // Wait until the pause has the terminal out of line mode.
    struct termios t;
    for (int k = 0; k < 1000 && tcgetattr(run.master, &t) == 0 && (t.c_lflag & ICANON); k++) usleep(10000);
    ASSERT_FALSE(t.c_lflag & ICANON) << seen;
    kill(run.pid, SIGINT);
    read_until(run.master, "regres_lin.xls\r\n", seen, 5);
    int status = wait_bounded(run.pid, 10);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    expect_earlier_results(f);
    EXPECT_TRUE(leftovers(f).empty());
    EXPECT_THAT(seen, HasSubstr("\r\n\tResult file not written: " + f.shown("r_karvel_regres_lin.xls")));
    EXPECT_TRUE(tcgetattr(run.master, &t) == 0 && (t.c_lflag & ICANON) && (t.c_lflag & ECHO));

    // Before the pause too: held at its unit question, then ended by SIGTERM.
    {
        PipedRun held(f.path("held.out"));
        held.say(answers(f) + "r\n");
        ASSERT_TRUE(held.shows("Are these values"));
        kill(held.pid, SIGTERM);
        status = wait_bounded(held.pid, 10);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
        EXPECT_TRUE(held.shows("\n\tResult file not written: " + f.shown("r_karvel.txt")));
    }
    expect_earlier_results(f);
    EXPECT_TRUE(leftovers(f).empty());

    // A run that could not create its last result file empties none.
    unlink(f.path("r_karvel_regres_lin.xls").c_str());
    ASSERT_EQ(mkdir(f.path("r_karvel_regres_lin.xls").c_str(), 0755), 0);
    f.write("r_karvel_regres_lin.xls/keep", "");
    RunResult r = run_karvel(answers(f) + "r\n0\n0\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(f.read("r_karvel.txt"), "earlier r_karvel.txt");
    EXPECT_EQ(f.read("r_karvel.xls"), "earlier r_karvel.xls");
    EXPECT_TRUE(leftovers(f).empty());
}

TEST(Refusals, TwoRunsOnOneResultNameNeverMix) {
    Folder f;
    dem_pair16(f);
    f.write("c_m2.raw", bytes16({100, 7, 3, 1000, 5, 6}));
    f.write("c_m2.txt", description(2, 3, 2));
    // Each run's results on their own, as references.
    const std::string first = answers(f), second = f.name() + "\n0\nc\n0\nb\n0\n";
    ASSERT_EQ(run_karvel(first + "one\n1\n2\n").status, 0);
    ASSERT_EQ(run_karvel(second + "two\n0\n0\n").status, 0);
    auto set_of = [&](const std::string &name) {
        return std::vector<std::string>{f.read(name + "_karvel.txt"), f.read(name + "_karvel.xls"),
                                        f.read(name + "_karvel_regres_lin.xls")};
    };
    const auto one = set_of("one"), two = set_of("two");
    ASSERT_NE(one, two);

    // The first run holds at its unit question while the second runs whole.
    PipedRun held(f.path("held.out"));
    held.say(first + "r\n");
    ASSERT_TRUE(held.shows("Are these values"));
    RunResult r = run_karvel(second + "r\n0\n0\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(set_of("r"), two);
    held.say("1\n2\n");
    close(held.answers);
    held.answers = -1;
    int status = wait_bounded(held.pid, 20);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(set_of("r"), one);  // the later rename wins, whole
    EXPECT_TRUE(leftovers(f).empty());
}

TEST(Refusals, AResultNeverReplacesAnInput) {
    Folder f;
    f.write("r_karvel.raw", bytes8({1, 2, 3}));
    f.write("r_karvel.txt", description(1, 3, 1));
    f.write("q.raw", bytes8({1, 2, 4}));
    f.write("q.txt", description(1, 3, 1));
    RunResult r = run_karvel(f.name() + "\n1\nr_karvel\nq\nr\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, HasSubstr("\n\n\tThe result file " + f.shown("r_karvel.txt") + " would replace " +
                                 f.shown("r_karvel.txt") + ", which this run reads\n"));
    EXPECT_THAT(r.out, HasSubstr("\n\tResult file not written: " + f.shown("r_karvel.xls")));
    EXPECT_EQ(f.read("r_karvel.txt"), description(1, 3, 1));
    EXPECT_FALSE(f.exists("r_karvel.xls"));

    // The same file under another name: a hard link to the second raster.
    ASSERT_EQ(link(f.path("q.raw").c_str(), f.path("s_karvel.xls").c_str()), 0);
    r = run_karvel(f.name() + "\n1\nr_karvel\nq\ns\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, HasSubstr("\n\n\tThe result file " + f.shown("s_karvel.xls") + " would replace " +
                                 f.shown("q.raw") + ", which this run reads\n"));
    EXPECT_EQ(f.read("q.raw"), bytes8({1, 2, 4}));
    EXPECT_FALSE(f.exists("s_karvel.txt"));
}

TEST(Refusals, TheUsersLinksAreNeverRemoved) {
    Folder f;
    f.write("a_m2.raw", bytes16({1, 2}));
    ASSERT_EQ(symlink("/nonexistent-karvel-dir/x.txt", f.path("a_m2.txt").c_str()), 0);
    RunResult r = run_karvel(f.name() + "\n0\na\n0\nb\n0\n1\n2\n1\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("a_m2.txt cannot be written: it is a symbolic link that leads to no file"));
    EXPECT_TRUE(fs::is_symlink(f.path("a_m2.txt")));
    // A link that leads to itself.
    unlink(f.path("a_m2.txt").c_str());
    ASSERT_EQ(symlink("a_m2.txt", f.path("a_m2.txt").c_str()), 0);
    r = run_karvel(f.name() + "\n0\na\n0\nb\n0\n1\n2\n1\n");
    EXPECT_THAT(r.out, HasSubstr("(Too many levels of symbolic links)\n"));
    EXPECT_TRUE(fs::is_symlink(f.path("a_m2.txt")));
    EXPECT_TRUE(leftovers(f).empty());
}

TEST(Refusals, MessagesSayWhatIsTrue) {
    Folder f;
    dem_pair16(f);
    // Typed counts beyond a 32-bit integer are asked again, never clamped.
    unlink(f.path("b_m2.txt").c_str());
    RunResult r = run_karvel(answers(f) + "99999999999\n2\n3\n1\nr\n0\n0\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr(kLinesPrompt + kLinesPrompt + kColumnsPrompt));
    EXPECT_EQ(f.read("b_m2.txt"), description(2, 3, 2));
    // A refusal of typed counts blames the answers, not a file.
    unlink(f.path("b_m2.txt").c_str());
    r = run_karvel(answers(f) + "2000000000\n2000000000\n1\n");
    EXPECT_THAT(r.out, HasSubstr("\n\n\tThe size typed for the new description file " + f.shown("b_m2.txt") +
                                 " cannot be used: 2000000000 lines by 2000000000 columns make"));
    EXPECT_THAT(r.out, Not(HasSubstr("The description file")));
    EXPECT_FALSE(f.exists("b_m2.txt"));
    // Bytes of a bad description that are not printable are shown escaped.
    f.write("b_m2.txt", "2 3 \x1b]0;owned\x07 0 65500 1");
    r = run_karvel(answers(f) + "r\n");
    EXPECT_THAT(r.out, HasSubstr("it holds \"\\x1b]0;owned\\x07\", which is not a number\n"));
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);

    // A raster that exists but cannot be read (root reads everything: run as nobody).
    struct passwd *nobody = getpwnam("nobody");
    const int uid = getuid() == 0 && nobody != nullptr ? int(nobody->pw_uid) : -1;
    // A checkout in a folder that other users cannot enter keeps nobody from
    // the binaries and the images directory: nothing can be shown then.
    if (uid >= 0) {
        const std::string why = unreachable_by(uid, {{KARVEL_LOCAL_BIN, X_OK}, {KARVEL_BIN, X_OK}, {f.path(""), X_OK}});
        if (!why.empty()) GTEST_SKIP() << why;
    }
    chmod(f.path("a_m2.raw").c_str(), 0);
    f.write("in", answers(f));
    r = run_karvel_input(f.path("in"), 0, 0, KARVEL_LOCAL_BIN, uid);
    EXPECT_THAT(r.out, HasSubstr("\n\n\tNo File " + f.shown("a_m2.raw") +
                                 " inexistant\n\tIt exists but cannot be read: Permission denied\n"));
    if (uid < 0) GTEST_SKIP() << "needs root to run as a user without an images directory";
    // The installed program's images directory, ~/images, of a user whose home does not exist.
    const std::string home = nobody->pw_dir;
    if (fs::exists(home + "/images")) GTEST_SKIP() << home << "/images exists";
    r = run_karvel_input(f.path("in"), 0, 0, KARVEL_BIN, int(nobody->pw_uid));
    EXPECT_THAT(r.out, HasSubstr("\n\n\tNo File c:\\images\\" + f.name() +
                                 "\\a_m2.raw inexistant\n\tThe images "
                                 "directory " +
                                 home +
                                 "/images, which stands for c:\\images\\, does not exist: "
                                 "create it (mkdir -p " +
                                 home +
                                 "/images) or build karvel with another "
                                 "(cmake -DKARVEL_IMAGES_ROOT=DIR)\n"));
}

TEST(Refusals, APauseInTheBackgroundReturnsAtOnce) {
    Folder f;
    dem_pair16(f);
    TerminalRun run(true);
    run.say(answers(f) + "r\n0\n0\n");
    std::string seen;
    read_until(run.master, "Press any key to save the results ", seen);
    int status = wait_bounded(run.pid, 10);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_THAT(f.read("r_karvel.txt"), HasSubstr("RMS_Error"));
}

TEST(Refusals, TheSummarySaysWhyTheHistogramTableIsEmpty) {
    Folder f;
    f.write("a_m4.raw", bytes32({0, 1, 0, 1}));
    f.write("a_m4.txt", description(1, 4, 4));
    f.write("b_m4.raw", bytes32({0, 1, 2000000000, -2000000000}));
    f.write("b_m4.txt", description(1, 4, 4));
    RunResult r = run_karvel(f.name() + "\n0\na\n1\nb\n1\nr\n0\n0\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(f.read("r_karvel.txt"),
                HasSubstr(crlf("\n\tcf. diagram\n\tThe largest error, 1000000000.500000, needs more histogram bins "
                               "than a count can hold: the histogram table stays empty \n\n\tvariance")));
}
