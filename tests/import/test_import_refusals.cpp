// The refusals of karvel-import: usage errors, inputs it cannot take, a
// disk too small, a no-data value among the stored ones; and that a refusal
// writes nothing and keeps the earlier files.

#include <gdal_utils.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <filesystem>
#include <random>

#include "rasters.h"
#include "source.h"

using ::testing::HasSubstr;
using ::testing::Not;

TEST(ImportChecks, RefusalsWriteNothingAndKeepEarlierFiles) {
    Folder in, out;
    const TestRaster a = ramp(2, 2, 1);
    out.write("a_m4.raw", "earlier");
    struct Case {
        std::vector<std::string> options;
        int status;
        const char *says;
    } cases[] = {
        {{"--names", "my dem", "b"}, 1, "holds white space"},
        {{"--names", std::string(100, 'n'), "b"}, 1, "at most 99"},
        {{"--names", "x/y", "b"}, 1, "without a folder"},
        {{"--names", "same", "same"}, 1, "give them two names"},
        {{"--result", "r\001"}, 1, "control byte"},
        {{"--result", std::string(99, 'r')}, 1, "karvel takes paths of at most 127"},
        {{"--unit", "ft"}, 2, "not one of m, dm, cm, mm"},
        {{"--align=sharpest"}, 2, "not a resampling method"},
        {{"--bogus"}, 2, "unknown option --bogus"},
        {{"--coregister=z"}, 2, "--coregister: \"z\" is neither xy nor xyz"},
        {{"--stable", "m.tif"}, 2, "--stable MASK works with --coregister only"},
        {{"--deramp"}, 2, "--deramp works with --coregister only"},
        {{"--coregister", "--deramp=3"}, 2, "--deramp: \"3\" is neither 1 nor 2"},
    };
    for (const Case &c : cases) {
        RunResult r = import_pair(in, out, a, a, c.options);
        EXPECT_EQ(r.status, c.status) << c.says;
        EXPECT_THAT(r.err, HasSubstr(c.says));
        EXPECT_EQ(files_in(out.path("")), std::vector<std::string>{"a_m4.raw"});
    }
    EXPECT_EQ(out.read("a_m4.raw"), "earlier");

    // A folder answer karvel would not take, and one that leads outside.
    const struct {
        std::string folder, says;
    } folders[] = {
        {"two words", "the folder \"two words\" is not an answer karvel's dialogue takes: it holds white space"},
        {"../elsewhere", "the folder \"../elsewhere\" leads out of the images directory"},
        {"x\\..\\..\\y", "the folder \"x\\..\\..\\y\" leads out of the images directory"},
    };
    for (const auto &f : folders) {
        RunResult r = run_import({in.path("a.tif"), in.path("a.tif"), f.folder});
        EXPECT_EQ(r.status, 1) << f.folder;
        EXPECT_EQ(r.err, "karvel-import: " + f.says + "\nNothing was written.\n");
    }
    // A folder that stays inside lexically but that the system cannot
    // follow (its "a" is missing): refused, and nothing it made is left.
    const std::string through = out.name() + "/gone/../made";
    RunResult r0 = run_import({in.path("a.tif"), in.path("a.tif"), through});
    EXPECT_EQ(r0.status, 1);
    EXPECT_THAT(r0.err, HasSubstr("is not a folder"));
    EXPECT_FALSE(out.exists("made"));
    // A name with a folder, and a path longer than karvel forms.
    RunResult named = import_pair(in, out, a, a, {"--names", "x/y", "b"});
    EXPECT_THAT(named.err, HasSubstr("the name \"x/y\" given for FIRST is not an answer karvel's dialogue takes: "
                                     "a name is one file name, without a folder\n"));
    RunResult longer = import_pair(in, out, a, a, {"--result", std::string(99, 'r')});
    const std::string shown = out.shown(std::string(99, 'r') + "_karvel_regres_lin.xls");
    EXPECT_THAT(longer.err, HasSubstr("the path " + shown + " has " + std::to_string(shown.size()) +
                                      " characters; karvel takes paths of at most 127\n"));
    // Bands that hold no elevations this program can store.
    TestRaster celsius = ramp(2, 2, 1);
    celsius.unit = "degree Celsius";
    RunResult r = import_pair(in, out, celsius, a);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("FIRST " + in.path("a.tif") + " cannot be imported: its band's unit type "
                                 "\"degree Celsius\" is not a unit of length"));
    r = import_pair(in, out, a, raster(2, 2, GDT_CFloat32, {1, 2, 3, 4}));
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("its samples are complex numbers"));
    EXPECT_EQ(out.read("a_m4.raw"), "earlier");

    // An input that is a pipe is refused without waiting on it; a missing one names itself.
    ASSERT_EQ(mkfifo(in.path("pipe.tif").c_str(), 0600), 0);
    r = run_import({in.path("pipe.tif"), in.path("a.tif"), out.name()});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("FIRST " + in.path("pipe.tif") + " cannot be used: it is not a regular file"));
    r = run_import({in.path("a.tif"), in.path("none.tif"), out.name()});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("SECOND " + in.path("none.tif") + " cannot be used"));
    EXPECT_EQ(out.read("a_m4.raw"), "earlier");

    // A write that fails (here: a cap on file sizes) leaves no file behind, half-written or whole.
    write_tif(in.path("big.tif"), ramp(100, 100, 1));
    r = run_program(KARVEL_IMPORT_BIN, {in.path("big.tif"), in.path("big.tif"), out.name()}, "", 0, 20000);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("cannot be written: File too large"));
    EXPECT_EQ(files_in(out.path("")), std::vector<std::string>{"a_m4.raw"});
    EXPECT_EQ(out.read("a_m4.raw"), "earlier");

    // A missing folder is created; the earlier file is replaced once all is written.
    EXPECT_EQ(run_import({in.path("a.tif"), in.path("a.tif"), out.name() + "/sub"}).status, 0);
    EXPECT_TRUE(out.exists("sub/first_m4.raw"));
    EXPECT_EQ(run_import({"--names", "a", "b", in.path("a.tif"), in.path("a.tif"), out.name()}).status, 0);
    EXPECT_EQ(out.read("a_m4.raw").size(), 16u);

    r = run_import({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("Usage: karvel-import [OPTIONS] FIRST SECOND FOLDER"));
    EXPECT_EQ(run_import({"-h"}).out, r.out);
}

TEST(ImportChecks, UsageErrorsSayWhatIsWrongThenTheUsageLine) {
    const std::string usage = "Usage: karvel-import [OPTIONS] FIRST SECOND FOLDER\nTry 'karvel-import --help'.\n";
    const struct {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{"a.tif"}, "expected FIRST SECOND FOLDER, got 1 operand"},
        {{"-x", "a.tif", "b.tif", "f"}, "unknown option -x"},
        {{"a.tif", "b.tif", "f", "--result"}, "--result needs a value"},
        {{"--names", "a"}, "--names needs two names"},
        {{"--band=0", "a.tif", "b.tif", "f"}, "--band: \"0\" is not a band number (1, 2, ...)"},
    };
    for (const auto &c : cases) {
        const RunResult r = run_import(c.args);
        EXPECT_EQ(r.status, 2) << c.says;
        EXPECT_EQ(r.err, "karvel-import: " + c.says + "\n" + usage);
        EXPECT_EQ(r.out, "");
    }
    // After "--" a word that looks like an option is an input.
    const RunResult r = run_import({"--", "--bogus", "b.tif", "f"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("FIRST --bogus cannot be used: it does not exist"));
}

TEST(ImportChecks, InputsThatCannotBeTakenAsTheyAreSayWhy) {
    Folder in, out;
    const TestRaster a = ramp(3, 4, 1);
    TestRaster infinite = ramp(3, 4, 1);
    infinite.bands[0][6] = -INFINITY;
    TestRaster polar = ramp(3, 4, 1);
    polar.epsg = 4326;
    const double beyond[6] = {10, 0.5, 0, 91, 0, -0.5};  // from 91° north down to 89.5°
    std::copy(beyond, beyond + 6, polar.gt);
    TestRaster rotated = ramp(3, 4, 1);
    rotated.gt[2] = 4;
    const struct {
        const TestRaster &b;
        std::vector<std::string> options;
        std::string says;
    } cases[] = {
        {infinite, {}, "SECOND " + in.path("b.tif") + ": the cell at line 1, column 2 is -infinite, which no sample holds"},
        {polar, {"--align"}, "SECOND " + in.path("b.tif") +
                                 " cannot be used: its grid is geographic but reaches latitude 91°, beyond the poles"},
        {rotated, {}, "SECOND " + in.path("b.tif") + " has a rotated grid (its geotransform turns by 4.000000 and "
                                                     "0.000000), which the header of karvel's rasters cannot record"},
    };
    for (const auto &c : cases) {
        // The folder does not exist before: a refusal leaves none behind.
        std::filesystem::remove_all(out.path(""));
        RunResult r = import_pair(in, out, a, c.b, c.options);
        EXPECT_EQ(r.status, 1) << c.says;
        EXPECT_THAT(r.err, HasSubstr(c.says));
        EXPECT_THAT(r.err, HasSubstr("Nothing was written."));
        EXPECT_FALSE(std::filesystem::exists(out.path(""))) << c.says;
    }
    RunResult r = run_import({in.path("missing.tif"), in.path("a.tif"), out.name()});
    EXPECT_EQ(r.err, "karvel-import: FIRST " + in.path("missing.tif") + " cannot be used: it does not exist\n"
                     "Nothing was written.\n");
}

TEST(ImportChecks, RastersLargerThanTheDiskAreRefusedAndLeftoversOfKilledRunsRemoved) {
    Folder in, out;
    // Two sparse 1000000 × 1000000 GeoTIFFs: 4 TB each as karvel's samples.
    for (const char *name : {"a.tif", "b.tif"}) {
        const char *options[] = {"SPARSE_OK=TRUE", "BIGTIFF=YES", "TILED=YES", "BLOCKXSIZE=4096", "BLOCKYSIZE=4096",
                                 nullptr};
        GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), in.path(name).c_str(), 1000000, 1000000, 1,
                                     GDT_Int32, const_cast<char **>(options));
        ASSERT_NE(ds, nullptr);
        GDALClose(ds);
    }
    RunResult r = run_import({in.path("a.tif"), in.path("b.tif"), out.name()});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("karvel-import: the two rasters do not fit on the disk: it needs 8.0 TB but the file "
                                 "system of " + out.path("").substr(0, out.path("").size() - 1) + " has "));
    EXPECT_TRUE(files_in(out.path("")).empty());

    // What a killed import left, and what a running one writes, in the folder.
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    const std::string dead = ".a_m4.raw." + std::to_string(child) + ".0.tmp";
    const std::string live = ".a_m4.raw." + std::to_string(getpid()) + ".0.tmp";
    out.write(dead, "partial");
    out.write(live, "being written");
    r = import_pair(in, out, ramp(2, 2, 1), ramp(2, 2, 2));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, HasSubstr("karvel-import: removed what runs that were killed left in " +
                                 out.path("").substr(0, out.path("").size() - 1) + ": " + dead + "\n"));
    EXPECT_FALSE(out.exists(dead));
    EXPECT_TRUE(out.exists(live));
}

TEST(ImportChecks, TheNoDataValueLiesOutsideTheStoredValues) {
    Folder in, out;
    // 16-bit: 65535 marks the holes, unless a cell stores it.
    TestRaster u16 = raster(2, 3, GDT_UInt16, {1, 2, 3, 4, 5, 6});
    u16.has_nodata = true;
    u16.nodata = 0;
    u16.bands[0][1] = 0;
    u16.unit = "m";
    RunResult r = import_pair(in, out, u16, u16, {"--names", "p", "q"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(samples(out.read("p_m2.raw"), 2, false), (std::vector<long long>{1, 65535, 3, 4, 5, 6}));
    EXPECT_THAT(out.read("p_m2.hdr"), HasSubstr("data ignore value = 65535\n"));
    u16.bands[0][5] = 65535;
    r = import_pair(in, out, u16, u16, {"--names", "p", "q"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("stores 65535, so that no 16-bit value is left to mark its cells without data: "
                                 "it was written as a 32-bit DEM."));
    EXPECT_EQ(samples(out.read("p_m4.raw"), 4, true), (std::vector<long long>{1, -2147483648LL, 3, 4, 5, 65535}));

    // 8-bit images: the highest grey level that no cell uses; none left, refused.
    std::vector<double> levels(256);
    for (int k = 0; k < 256; k++) levels[size_t(k)] = k == 254 ? 7 : k;
    TestRaster grey = raster(16, 16, GDT_Byte, levels), other = grey;
    other.has_nodata = true;
    other.nodata = 3;
    r = import_pair(in, out, grey, other, {"--names", "g", "h"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(out.read("h.hdr"), HasSubstr("data ignore value = 254\n"));
    EXPECT_THAT(out.read("g.hdr"), Not(HasSubstr("data ignore value")));
    // Every level used, and a hole that the band's mask tells.
    levels.assign(17 * 16, 9);
    for (int k = 0; k < 256; k++) levels[size_t(k)] = k;
    other = raster(17, 16, GDT_Byte, levels);
    other.mask.assign(17 * 16, 255);
    other.mask[16 * 16 + 3] = 0;
    TestRaster longer = raster(17, 16, GDT_Byte, std::vector<double>(17 * 16, 9));
    Folder in2, out2;
    r = import_pair(in2, out2, longer, other, {"--names", "g", "h"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("uses every grey level from 0 to 255, so that none is left to mark its"));

    // Fewer than two cells with data in both.
    TestRaster lone = ramp(2, 2, 1);
    lone.bands[0] = {NAN, NAN, NAN, 4};
    r = import_pair(in, out, lone, ramp(2, 2, 1));
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("have 1 cells with data in both: a comparison needs at least 2"));
}
