// The set-up dialogue through the real program: prompts, paths, descriptions,
// refused answers and every orderly stop.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "dialogue_texts.h"
#include "e2e.h"

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

const std::string kFirstRangeDem = "\n\n\tHypsometric scale of the first DEM :";
const std::string kSecondRangeDem = "\n\n\tHypsometric scale of the second DEM :";

}  // namespace

TEST(Dialogue, ElevationRunShowsEveryPromptInOrder) {
    Folder f;
    dem_pair16(f);
    RunResult r = run_karvel(f.name() + "\n0\na\n0\nb\n0\nr\n0\n0\n");
    EXPECT_EQ(r.status, 0);
    const std::string expected = kBannerText + kFolderPrompt + kTypeMenu + kFirstDem + kWidthMenu + kSecondDem +
                                 kWidthMenu + size_text(2, 3) + kResultPrompt +
                                 range_text(kFirstRangeDem, 10, 20) + kUnitQuestion +
                                 range_text(kSecondRangeDem, 15, 30) + kUnitQuestion + "\n\n\tFirst Treatment\n\n";
    EXPECT_EQ(r.out.substr(0, expected.size()), expected);
    EXPECT_EQ(r.err, "");

    const std::string summary = f.read("r_karvel.txt");
    const std::string head = crlf("\n\n\tTreatment on the image c:\\images\\" + f.name() +
                                  "\\a_m2.raw\n\tand on the image c:\\images\\" + f.name() +
                                  "\\b_m2.raw\n\n\tThese two images have 2 lines and 3 columns \n"
                                  "\n\tHypsometric scale of the first DEM :\n\t\tMin = 10\n\t\tMax = 20"
                                  "\n\tScale in meters"
                                  "\n\n\tHypsometric scale of the second DEM :\n\t\tMin = 15\n\t\tMax = 30"
                                  "\n\tScale in meters"
                                  "\n\n\tTreatment applied to the whole image\n");
    EXPECT_EQ(summary.substr(0, head.size()), head);
    EXPECT_TRUE(f.exists("r_karvel.xls"));
    EXPECT_TRUE(f.exists("r_karvel_regres_lin.xls"));
}

TEST(Dialogue, AnswersTypedAheadOnOneLineServeTheFollowingPrompts) {
    Folder f;
    dem_pair16(f);
    RunResult r = run_karvel(f.name() + " 0 a 0 b 0 r 0 0\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr(size_text(2, 3)));
    EXPECT_THAT(f.read("r_karvel.txt"), HasSubstr("Max = 30"));
}

TEST(Dialogue, ImagesAreNamedWithoutWidthAndConvertedWithoutUnit) {
    Folder f;
    f.write("p.raw", bytes8({0, 127, 255, 3}));
    f.write("p.txt", description(2, 2, 1));
    f.write("q.raw", bytes8({1, 2, 3, 4}));
    f.write("q.txt", description(2, 2, 1));
    RunResult r = run_karvel(f.name() + "\n1\np\nq\nres\n");
    EXPECT_EQ(r.status, 0);
    const std::string expected =
        kBannerText + kFolderPrompt + kTypeMenu + kFirstImage + kSecondImage + size_text(2, 2) + kResultPrompt +
        range_text("\n\n\tDynamic scale of the first 8 bits image :", 0, 255) +
        range_text("\n\n\tDynamic scale of the second 8 bits image :", 1, 4) + "\n\n\tFirst Treatment\n\n";
    EXPECT_EQ(r.out.substr(0, expected.size()), expected);
    const std::string head = crlf("\n\n\tTreatment on the image c:\\images\\" + f.name() +
                                  "\\p.raw\n\tand on the image c:\\images\\" + f.name() +
                                  "\\q.raw\n\n\tThese two images have 2 lines and 2 columns \n"
                                  "\n\n\tDynamic scale of the first 8 bits image :\n\t\tMin = 0\n\t\tMax = 255"
                                  "\n\n\tDynamic scale of the second 8 bits image :\n\t\tMin = 1\n\t\tMax = 4"
                                  "\n\n\tTreatment applied to the whole image\n");
    EXPECT_EQ(f.read("res_karvel.txt").substr(0, head.size()), head);
}

TEST(Dialogue, EachDemIsReadWithItsOwnWidth) {
    Folder f;
    f.write("a_m2.raw", bytes16({1, 2, 65535, 256}));
    f.write("b_m4.raw", bytes32({-1, 10000, 7, 8}));
    // Width answers 0 then 1; the descriptions are asked for and created.
    RunResult r = run_karvel(f.name() + "\n0\na\n0\nb\n1\n2\n2\n5\n2\n2\n5\nr\n0\n0\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(f.read("a_m2.txt"), description(2, 2, 2, 5));
    EXPECT_EQ(f.read("b_m4.txt"), description(2, 2, 4, 5));
    EXPECT_THAT(r.out, HasSubstr(range_text(kFirstRangeDem, 1, 65535)));
    EXPECT_THAT(r.out, HasSubstr(range_text(kSecondRangeDem, -1, 10000)));
    EXPECT_THAT(r.out, HasSubstr("\n\n\tNo File c:\\images\\" + f.name() + "\\a_m2.txt \n\n" + kLinesPrompt +
                                 kColumnsPrompt + kPixelPrompt));
}

TEST(Dialogue, AnyWidthAnswerOtherThanZeroMeans32Bits) {
    Folder f;
    f.write("a_m4.raw", bytes32({-5, 100000}));
    f.write("b_m4.raw", bytes32({7, 8}));
    f.write("b_m4.txt", description(1, 2, 4));
    RunResult r = run_karvel(f.name() + "\n0\na\n7\nb\n-1\n1\n2\n3\nr\n3\n3\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(f.read("a_m4.txt"), description(1, 2, 4, 3));
    EXPECT_THAT(r.out, HasSubstr(range_text(kFirstRangeDem, -5, 100000)));
    EXPECT_THAT(f.read("r_karvel.txt"), HasSubstr(crlf("\n\tScale in millimeters\n\n\tHypsometric")));
}

TEST(Dialogue, AWordWhereANumberIsAskedGoesToTheNextPrompt) {
    Folder f;
    dem_pair16(f);
    // "a" at the data-type prompt keeps the type 0 and becomes the first name.
    RunResult r = run_karvel(f.name() + "\na\n0\nb\n0\nr\n0\n0\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(f.read("r_karvel.txt"), HasSubstr("\\a_m2.raw"));
    const std::string expected = kTypeMenu + kFirstDem + kWidthMenu;
    EXPECT_THAT(r.out, HasSubstr(expected));
}

TEST(Dialogue, MenusAskAgainUntilTheAnswerIsAChoice) {
    Folder f;
    dem_pair16(f);
    // Data type 5, -1 and a word after an invalid answer are refused; so are
    // units 4, -1 and a word after an invalid answer.
    RunResult r = run_karvel(f.name() + "\n5\n-1\nxyz\n0\na\n0\nb\n0\nr\n4\n-1\nfoo\n2\n1\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr(kFolderPrompt + kTypeMenu + kTypeMenu + kTypeMenu + kTypeMenu + kFirstDem));
    EXPECT_THAT(r.out, HasSubstr(kUnitQuestion + kUnitQuestion + kUnitQuestion + kUnitQuestion + kSecondRangeDem));
    const std::string summary = f.read("r_karvel.txt");
    EXPECT_THAT(summary, HasSubstr(crlf("Max = 20\n\tScale in centimeters\n")));
    EXPECT_THAT(summary, HasSubstr(crlf("Max = 30\n\tScale in decimeters\n")));
}

TEST(Dialogue, MissingFirstRasterStopsWithStatusZero) {
    Folder f;
    RunResult r = run_karvel(f.name() + "\n0\nnone\n0\nb\n0\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("\n\n\tNo File c:\\images\\" + f.name() + "\\none_m2.raw inexistant\n"));
    EXPECT_FALSE(f.exists("none_m2.txt"));
}

TEST(Dialogue, ADirectoryIsNoRaster) {
    Folder f;
    mkdir(f.path("d.raw").c_str(), 0755);
    RunResult r = run_karvel(f.name() + "\n1\nd\ne\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("\n\n\tNo File c:\\images\\" + f.name() + "\\d.raw inexistant\n"));
}

TEST(Dialogue, MissingSecondRasterLeavesTheCreatedDescriptionComplete) {
    Folder f;
    f.write("a_m2.raw", bytes16({1, 2}));
    RunResult r = run_karvel(f.name() + "\n0\na\n0\nnone\n0\n1\n2\n9\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("\n\n\tNo File c:\\images\\" + f.name() + "\\none_m2.raw \n"));
    EXPECT_EQ(f.read("a_m2.txt"), description(1, 2, 2, 9));
    EXPECT_FALSE(f.exists("r_karvel.txt"));
}

TEST(Dialogue, SizesThatDifferStopTheRun) {
    Folder f;
    f.write("a_m2.raw", bytes16({1, 2}));
    f.write("a_m2.txt", description(1, 2, 2));
    f.write("b_m2.raw", bytes16({1, 2}));
    f.write("b_m2.txt", description(2, 1, 2));
    RunResult r = run_karvel(f.name() + "\n0\na\n0\nb\n0\nr\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("\n The two files have not the same size"));
    EXPECT_THAT(r.out, Not(HasSubstr("THE TWO FILES HAVE")));
    EXPECT_FALSE(f.exists("r_karvel.txt"));
}

TEST(Dialogue, DescriptionsReadAlikeWithCrLfLfOrOneLine) {
    Folder f;
    f.write("a_m2.raw", bytes16({1, 2, 3, 4, 5, 6}));
    f.write("a_m2.txt", "2\n3\n2\n0\n65500\n1\n");
    f.write("b_m2.raw", bytes16({1, 2, 3, 4, 5, 7}));
    // Field 3 contradicts the width answer and the pixel size differs: no matter.
    f.write("b_m2.txt", "2 3 4 0 0 10");
    RunResult r = run_karvel(f.name() + "\n0\na\n0\nb\n0\nr\n0\n0\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr(size_text(2, 3)));
    EXPECT_EQ(f.read("b_m2.txt"), "2 3 4 0 0 10");  // never rewritten
}

TEST(Dialogue, CreatedDescriptionIsOnDiskAtOnceSoARasterCanBeComparedWithItself) {
    Folder f;
    f.write("a.raw", bytes8({1, 2, 3, 4, 5, 6}));
    // Line counts below 1 are asked again before the file is created.
    RunResult r = run_karvel(f.name() + "\n1\na\na\n0\n-3\n2\n0\n3\n4\nr\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(f.read("a.txt"), description(2, 3, 1, 4));
    EXPECT_THAT(r.out, HasSubstr(kLinesPrompt + kLinesPrompt + kLinesPrompt + kColumnsPrompt + kColumnsPrompt +
                                 kPixelPrompt));
    EXPECT_THAT(r.out, HasSubstr(size_text(2, 3)));
    EXPECT_EQ(r.out.find("No File"), r.out.rfind("No File"));  // asked once only
}

TEST(Dialogue, BadDescriptionsAreRefusedBeforeAnyResultFile) {
    struct Case {
        std::string text, reason;
    } cases[] = {
        {"2 3 2 0", "it holds 4 of the six numbers it needs (the maximum value is missing)"},
        {"2 x3 2 0 65500 1", "where the number of columns should stand it holds \"x3\", which is not a number"},
        {"0 3 2 0 65500 1", "it gives 0 lines; a raster has at least 1"},
        {"2 0 2 0 65500 1", "it gives 0 columns; a raster has at least 1"},
        {"2000000000 2000000000 2 0 65500 1",
         "2000000000 lines by 2000000000 columns make 4000000000000000000 positions, more than the 17592186044416 a "
         "grid can address"},
        {"2 3 2 0 65500 3000000000", "its pixel size lies beyond the range of a 32-bit integer"},
    };
    for (const Case &c : cases) {
        Folder f;
        f.write("a_m2.raw", bytes16({1, 2, 3, 4, 5, 6}));
        f.write("a_m2.txt", c.text);
        RunResult r = run_karvel(f.name() + "\n0\na\n0\nb\n0\nr\n");
        EXPECT_EQ(r.status, 0);
        EXPECT_THAT(r.out, HasSubstr("\n\n\tThe description file c:\\images\\" + f.name() +
                                     "\\a_m2.txt cannot be used: " + c.reason + "\n"));
        EXPECT_FALSE(f.exists("r_karvel.txt"));
    }
    Folder f;
    f.write("a_m2.raw", bytes16({1, 2}));
    mkdir(f.path("a_m2.txt").c_str(), 0755);
    RunResult r = run_karvel(f.name() + "\n0\na\n0\nb\n0\nr\n");
    EXPECT_THAT(r.out, HasSubstr("a_m2.txt cannot be used: it is not a regular file\n"));
}

TEST(Dialogue, DescriptionThatCannotBeCreatedIsReported) {
    Folder f;
    f.write("a_m2.raw", bytes16({1, 2}));
    // A dangling link into a folder that does not exist: it cannot be read or created.
    symlink("/nonexistent-karvel-dir/x.txt", f.path("a_m2.txt").c_str());
    RunResult r = run_karvel(f.name() + "\n0\na\n0\nb\n0\n1\n2\n1\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("\n\n\tThe description file c:\\images\\" + f.name() +
                                 "\\a_m2.txt cannot be written: it is a symbolic link that leads to no file (No "
                                 "such file or directory)\n"));
}

TEST(Dialogue, OverLongAnswersAreRefused) {
    Folder f;
    RunResult r = run_karvel(std::string(128, 'd') + "\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("\n\n\tThe folder name " + std::string(128, 'd') +
                                 " has 128 characters; at most 127 are allowed\n"));

    r = run_karvel(f.name() + "\n0\n" + std::string(100, 'n') + "\n0\n");
    EXPECT_THAT(r.out, HasSubstr("\n\n\tThe name " + std::string(100, 'n') + " has 100 characters; at most 99 are allowed\n"));

    // A name within its limit whose path would be too long.
    const std::string name(99, 'n');
    r = run_karvel(f.name() + "\\deeper\n0\n" + name + "\n0\n");
    const std::string path = "c:\\images\\" + f.name() + "\\deeper\\" + name + "_m2.raw";
    EXPECT_THAT(r.out, HasSubstr("\n\n\tThe path " + path + " would have " + std::to_string(path.size()) +
                                 " characters; at most 127 are allowed\n"));
    EXPECT_EQ(r.status, 0);
}

TEST(Dialogue, ResultFilesThatCannotBeCreatedEndTheRun) {
    Folder f;
    dem_pair16(f);
    mkdir(f.path("r_karvel.xls").c_str(), 0755);
    RunResult r = run_karvel(f.name() + "\n0\na\n0\nb\n0\nr\n0\n0\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, HasSubstr("\n\n\tThe result file c:\\images\\" + f.name() +
                                 "\\r_karvel.xls cannot be created: Is a directory\n"));
    EXPECT_THAT(r.out, HasSubstr("\n\tResult file not written: c:\\images\\" + f.name() + "\\r_karvel.txt"));
    EXPECT_THAT(r.out, Not(HasSubstr("Hypsometric")));
    EXPECT_FALSE(f.exists("r_karvel.txt"));  // nothing written through any of the handles
}

TEST(Dialogue, EndOfInputAtEveryKindOfPrompt) {
    Folder f;
    dem_pair16(f);
    const std::string ended = "\n\n\tThe answers have ended before this question was answered\n";
    // At the folder, at a name, at the line count of a missing description, at the result name.
    for (const std::string &answers :
         {std::string(""), f.name() + "\n0\n", f.name() + "\n0\na\n0\n", f.name() + "\n0\na\n0\nb\n0\n"}) {
        RunResult r = run_karvel(answers);
        EXPECT_EQ(r.status, 0) << answers;
        EXPECT_THAT(r.out, HasSubstr(ended)) << answers;
        EXPECT_FALSE(f.exists("r_karvel.txt"));
    }
    // A menu without a valid answer.
    RunResult r = run_karvel(f.name() + "\n7\n");
    EXPECT_THAT(r.out, HasSubstr(kTypeMenu + kTypeMenu + ended));
    // A missing description's line count.
    f.write("c_m2.raw", bytes16({1}));
    r = run_karvel(f.name() + "\n0\nc\n0\nb\n0\n");
    EXPECT_THAT(r.out, HasSubstr(kLinesPrompt + ended));
    EXPECT_FALSE(f.exists("c_m2.txt"));
    // A refused unit and then no more answers: the result files exist already,
    // so the run ends with status 1 and names them.
    r = run_karvel(f.name() + "\n0\na\n0\nb\n0\nr\n4\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, HasSubstr(kUnitQuestion + kUnitQuestion + ended));
    EXPECT_THAT(r.out, HasSubstr("\n\tResult file not written: c:\\images\\" + f.name() + "\\r_karvel.txt"));
    // At the unit question the first choice, meters, stands and the run completes.
    r = run_karvel(f.name() + "\n0\na\n0\nb\n0\nr\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(f.read("r_karvel.txt"), HasSubstr("RMS_Error"));
}

TEST(Dialogue, AUserWithoutAHomeDirectoryIsToldSo) {
    // The installed program's images directory is ~/images; a user that the
    // user database does not know has no ~.
    if (getuid() != 0) GTEST_SKIP() << "needs root to run as an unknown user";
    const std::string copy = "/tmp/karvel_nohome_" + std::to_string(getpid());
    std::filesystem::copy_file(KARVEL_BIN, copy, std::filesystem::copy_options::overwrite_existing);
    chmod(copy.c_str(), 0755);
    const std::string out = copy + ".out";
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        int in = open("/dev/null", O_RDONLY);
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        dup2(in, 0);
        dup2(o, 1);
        if (setgid(54321) != 0 || setuid(54321) != 0) _exit(126);
        execl(copy.c_str(), copy.c_str(), (char *)nullptr);
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    std::ifstream in(out);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    unlink(copy.c_str());
    unlink(out.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_THAT(text, StartsWith(kBannerText));
    EXPECT_THAT(text, HasSubstr("\n\n\tThe user running karvel has no home directory in the user database, so the "
                                "images directory ~/images does not exist\n"));
    EXPECT_THAT(text, Not(HasSubstr("Name of the File Folder")));
}
