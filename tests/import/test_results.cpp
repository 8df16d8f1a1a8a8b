// Results that keep each other: an import does not replace the rasters
// that another result in the folder compares, unless told to.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "rasters.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// Metres rising by half a metre a cell.
TestRaster slope(int lines, int cols, double top) {
    std::vector<double> v;
    for (int i = 0; i < lines * cols; i++) v.push_back(top + 0.5 * i);
    return raster(lines, cols, GDT_Float32, v);
}

// The files of a folder with their contents.
std::vector<std::pair<std::string, std::string>> contents(const Folder &f) {
    std::vector<std::pair<std::string, std::string>> all;
    for (const std::string &name : files_in(f.path(""))) all.emplace_back(name, f.read(name));
    return all;
}

}  // namespace

TEST(ImportKeepsResults, ARasterThatAnotherResultComparesIsNotReplaced) {
    Folder in, out;
    const TestRaster a = slope(3, 4, 100), b = slope(3, 4, 101);
    ASSERT_EQ(import_pair(in, out, a, b, {"--result", "old"}).status, 0);
    const RunResult k = run_karvel(out.read("old.answers"));
    ASSERT_EQ(k.status, 0) << k.out;
    const auto before = contents(out);

    // Another result whose rasters take the same names: refused, with
    // nothing written, and the earlier result still reports.
    RunResult r = import_pair(in, out, slope(3, 4, 90), b, {"--result", "new"});
    EXPECT_EQ(r.status, 1);
    const std::string first_raw = out.shown("a_m4.raw"), summary = out.shown("old_karvel.txt");
    EXPECT_THAT(r.err, HasSubstr("the raster " + first_raw + " would be replaced, which the result \"old\" compares"));
    EXPECT_THAT(r.err, HasSubstr("(its summary " + summary +
                                 " names it), so that it could no longer be reported on; give the rasters other names "
                                 "(--names A B), import into another FOLDER, or give --replace to replace it all the "
                                 "same\nNothing was written.\n"));
    EXPECT_TRUE(contents(out) == before);
    const RunResult report = run_program(KARVEL_REPORT_LOCAL_BIN, {out.name(), "old"}, "");
    EXPECT_EQ(report.status, 0) << report.err;
    const auto reported = contents(out);

    // A raster whose name the reading changes (16-bit metres that store
    // 65535 become a 32-bit DEM beside a cell without data) is checked again.
    TestRaster wide = raster(3, 4, GDT_UInt16, {65535, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0});
    wide.unit = "m";
    wide.has_nodata = true;
    wide.nodata = 0;
    r = import_pair(in, out, wide, b, {"--result", "new", "--names", "a", "e"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("the raster " + first_raw + " would be replaced"));
    EXPECT_TRUE(contents(out) == reported);

    // Under other names the new result lies beside the old; the result
    // itself imported again is not another's.
    r = import_pair(in, out, slope(3, 4, 90), b, {"--result", "new", "--names", "c", "d"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = import_pair(in, out, slope(3, 4, 90), b, {"--result", "old"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, Not(HasSubstr("--replace")));

    // --replace replaces them all the same, and says which result it leaves
    // without its rasters.
    ASSERT_EQ(run_karvel(out.read("old.answers")).status, 0);
    r = import_pair(in, out, a, b, {"--result", "other", "--replace"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string replaced = ", which the result \"old\" compared, was replaced (--replace): that result no "
                                 "longer matches its rasters.\n";
    EXPECT_THAT(r.out, HasSubstr("The raster " + first_raw + replaced + "The raster " + out.shown("b_m4.raw") + replaced));
}
