// The checks of karvel-import: co-registration and its alignment, cells
// without data and the crop, refused answers and inputs, and that a refusal
// writes nothing.
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

namespace {


// GDAL's own warp (gdalwarp) of a raster onto the grid of `onto`, as
// doubles; NaN outside the raster.
std::vector<double> gdal_warp(const std::string &path, const char *method, const TestRaster &onto) {
    GDALDatasetH src = GDALOpen(path.c_str(), GA_ReadOnly);
    auto g = [](double v) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", v);
        return std::string(buf);
    };
    const std::string te[4] = {g(onto.gt[0]), g(onto.gt[3] + onto.lines * onto.gt[5]), g(onto.gt[0] + onto.cols * onto.gt[1]),
                               g(onto.gt[3])};
    const std::string ts[2] = {std::to_string(onto.cols), std::to_string(onto.lines)};
    const char *args[] = {"-of", "MEM", "-r", method, "-ot", "Float64", "-dstnodata", "nan", "-te", te[0].c_str(),
                          te[1].c_str(), te[2].c_str(), te[3].c_str(), "-ts", ts[0].c_str(), ts[1].c_str(), nullptr};
    GDALWarpAppOptions *o = GDALWarpAppOptionsNew(const_cast<char **>(args), nullptr);
    GDALDatasetH warped = GDALWarp("", nullptr, 1, &src, o, nullptr);
    GDALWarpAppOptionsFree(o);
    std::vector<double> w(size_t(onto.lines) * size_t(onto.cols));
    EXPECT_NE(warped, nullptr);
    if (warped != nullptr) {
        EXPECT_EQ(GDALRasterIO(GDALGetRasterBand(warped, 1), GF_Read, 0, 0, onto.cols, onto.lines, w.data(), onto.cols,
                               onto.lines, GDT_Float64, 0, 0),
                  CE_None);
        GDALClose(warped);
    }
    GDALClose(src);
    return w;
}

TestRaster ramp(int lines, int cols, double step) {
    std::vector<double> v;
    for (int i = 0; i < lines * cols; i++) v.push_back(100 + step * i);
    return raster(lines, cols, GDT_Float32, v);
}

}  // namespace

TEST(ImportChecks, GridsThatDifferAreRefused) {
    Folder in, out;
    const TestRaster a = ramp(4, 5, 1);
    TestRaster size = ramp(5, 4, 1);
    TestRaster shifted = ramp(4, 5, 1);
    shifted.gt[0] += 30 * 1e-5;  // a hundred-thousandth of a cell
    TestRaster nudged = ramp(4, 5, 1);
    nudged.gt[0] += 30 * 1e-7;  // within a millionth of a cell: the same grid
    TestRaster other_crs = ramp(4, 5, 1);
    other_crs.epsg = 32611;
    struct Case {
        const TestRaster &b;
        const char *says;
    } cases[] = {{size, "the first has 4 lines and 5 columns, the second 5 lines and 4 columns"},
                 {shifted, "their grids differ in origin x"},
                 {other_crs, "their coordinate systems differ"}};
    for (const Case &c : cases) {
        RunResult r = import_pair(in, out, a, c.b);
        EXPECT_EQ(r.status, 1) << c.says;
        EXPECT_THAT(r.err, HasSubstr(c.says));
        EXPECT_THAT(r.err, HasSubstr("FIRST " + in.path("a.tif")));
        EXPECT_THAT(r.err, HasSubstr("SECOND " + in.path("b.tif")));
        EXPECT_THAT(r.err, HasSubstr("--align"));
        EXPECT_EQ(files_in(out.path("")), std::vector<std::string>{});
    }
    EXPECT_EQ(import_pair(in, out, a, nudged).status, 0);

    // Both DEMs or both images.
    RunResult r = import_pair(in, out, a, raster(4, 5, GDT_Byte, std::vector<double>(20, 1)));
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("both inputs must be DEMs or both 8-bit images"));
}

TEST(ImportChecks, AlignResamplesLikeGdalsOwnWarp) {
    Folder in, out;
    TestRaster a = ramp(6, 8, 0.5);
    // A coarser second survey, shifted by a third of its cell, covering more than a.
    std::vector<double> v;
    for (int i = 0; i < 5; i++)
        for (int j = 0; j < 6; j++) v.push_back(90 + 3.7 * i + 1.3 * j + 0.01 * i * j);
    // Whole metres in 16 bits: once resampled they are no longer whole, so they are converted.
    TestRaster b = raster(5, 6, GDT_UInt16, v);
    b.unit = "m";
    const double gt[6] = {500000 - 40 + 15, 50, 0, 5400000 + 40, 0, -50};
    std::copy(gt, gt + 6, b.gt);
    RunResult r = import_pair(in, out, a, b, {"--align"});
    ASSERT_EQ(r.status, 0) << r.err;

    std::vector<long long> want;
    for (double x : gdal_warp(in.path("b.tif"), "bilinear", a)) want.push_back((long long)std::round(x * 1000.0));
    EXPECT_EQ(samples(out.read("b_m4.raw"), 4, true), want);
    ReadBack rb = read_raster(out.path("b_m4.raw"));
    for (int k = 0; k < 6; k++) EXPECT_DOUBLE_EQ(rb.gt[k], a.gt[k]);

    // Cells outside SECOND have no data after the warp: marked, or cropped.
    TestRaster small = b;
    small.gt[0] = 500000 + 60;
    r = import_pair(in, out, a, small, {"--align=near"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("Cells without data: 0 of FIRST, "));
    r = import_pair(in, out, a, small, {"--align=near", "--crop"});
    EXPECT_EQ(r.status, 0) << r.err;

    // Resampled grey levels take the nearest level.
    Folder out2;
    std::vector<double> levels;
    for (int k = 0; k < 30; k++) levels.push_back(k % 2 ? 255 : 0);
    TestRaster g = raster(5, 6, GDT_Byte, levels);
    std::copy(gt, gt + 6, g.gt);
    r = import_pair(in, out2, raster(6, 8, GDT_Byte, std::vector<double>(48, 7)), g, {"--align=cubic"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<long long> grey;
    for (double x : gdal_warp(in.path("b.tif"), "cubic", a)) grey.push_back((long long)std::round(x));
    EXPECT_EQ(samples(out2.read("b.raw"), 1, false), grey);
}

TEST(ImportChecks, AlignedRastersOfManyBlocksMatchGdalwarpUpToWhereSecondEnds) {
    // FIRST spans several of the warper's blocks (512 x 128) each way, with
    // partial blocks at its far edges; SECOND, of 40 m cells a third of a
    // FIRST cell off its grid, ends within FIRST on every side.
    Folder in;
    const TestRaster a = ramp(300, 1100, 0.01);
    std::vector<double> v;
    const int lines = 218, cols = 812;
    for (int i = 0; i < lines; i++)
        for (int j = 0; j < cols; j++)
            v.push_back(50 + 0.013 * j - 0.021 * i + 7 * std::sin(i / 9.0) * std::cos(j / 13.0));
    TestRaster b = raster(lines, cols, GDT_Float32, v);
    const double gt[6] = {500000 + 30 * 4 + 10, 40, 0, 5400000 - 30 * 3 - 10, 0, -40};
    std::copy(gt, gt + 6, b.gt);
    for (const char *method : {"bilinear", "cubic"}) {
        Folder out;
        const std::string align = std::string("--align=") + method;
        RunResult r = import_pair(in, out, a, b, {align});
        ASSERT_EQ(r.status, 0) << method << r.err;
        const std::vector<double> want = gdal_warp(in.path("b.tif"), method, a);
        // Cells outside SECOND lack data, as in gdalwarp's warp; they bound a window.
        int top = a.lines, bottom = -1, left = a.cols, right = -1;
        long long outside = 0;
        for (int i = 0; i < a.lines; i++)
            for (int j = 0; j < a.cols; j++) {
                if (std::isnan(want[size_t(i) * a.cols + j])) {
                    outside++;
                    continue;
                }
                top = std::min(top, i);
                bottom = std::max(bottom, i);
                left = std::min(left, j);
                right = std::max(right, j);
            }
        EXPECT_GT(top, 0);
        EXPECT_LT(bottom, a.lines - 1);
        EXPECT_GT(left, 0);
        EXPECT_LT(right, a.cols - 1);
        // Written whole, SECOND's cells outside it marked where gdalwarp has none.
        EXPECT_THAT(r.out, HasSubstr("Cells without data: 0 of FIRST, " + std::to_string(outside) +
                                     " of SECOND (data ignore value -2147483648), " + std::to_string(outside) +
                                     " in either"));
        const std::vector<long long> marked = samples(out.read("b_m4.raw"), 4, true);
        ASSERT_EQ(marked.size(), want.size());
        for (size_t k = 0; k < want.size(); k++) ASSERT_EQ(marked[k] == -2147483648LL, std::isnan(want[k])) << k;

        // Cropped to it, the values are gdalwarp's to the millimetre, its edges included.
        r = import_pair(in, out, a, b, {align, "--crop"});
        ASSERT_EQ(r.status, 0) << r.err;
        const ReadBack rb = read_raster(out.path("b_m4.raw"));
        ASSERT_EQ(rb.lines, bottom - top + 1);
        ASSERT_EQ(rb.cols, right - left + 1);
        EXPECT_DOUBLE_EQ(rb.gt[0], a.gt[0] + left * a.gt[1]);
        EXPECT_DOUBLE_EQ(rb.gt[3], a.gt[3] + top * a.gt[5]);
        const std::vector<long long> got = samples(out.read("b_m4.raw"), 4, true);
        ASSERT_EQ(got.size(), size_t(rb.lines) * size_t(rb.cols));
        long long differ = 0;
        for (int i = 0; i < rb.lines; i++)
            for (int j = 0; j < rb.cols; j++) {
                const double w = want[size_t(top + i) * a.cols + size_t(left + j)];
                if (got[size_t(i) * rb.cols + j] != (long long)std::round(w * 1000.0)) differ++;
            }
        EXPECT_EQ(differ, 0) << method;
    }
}

TEST(ImportChecks, TheCacheHoldsTheSourceLinesOfARowOfWarpedBlocks) {
    // A row of the warper's blocks is 128 lines of FIRST (30 m cells); the
    // source lines it draws on follow the ratio of the cells, and the kernel
    // reaches beyond them by its radius in source cells, or more when the
    // source's cells are the smaller.
    Folder in;
    write_tif(in.path("a.tif"), ramp(600, 700, 0.01));
    const struct {
        double cell;
        const char *method;
        double lines;
    } cases[] = {{40, "bilinear", 128 * 30 / 40.0 + 4}, {90, "cubic", 128 * 30 / 90.0 + 6},
                 {10, "near", 128 * 3 + 2 * 3}, {30, "lanczos", 128 + 8}};
    for (const auto &c : cases) {
        TestRaster b = ramp(int(600 * 30 / c.cell) + 4, int(700 * 30 / c.cell) + 4, 1);
        b.gt[0] -= 2 * c.cell + c.cell / 3;
        b.gt[1] = c.cell;
        b.gt[3] += 2 * c.cell;
        b.gt[5] = -c.cell;
        write_tif(in.path("b.tif"), b);
        Source sa, sb;
        ASSERT_EQ(open_source(in.path("a.tif"), 1, sa), "");
        ASSERT_EQ(open_source(in.path("b.tif"), 1, sb), "");
        ASSERT_EQ(align_source(sb, sa, c.method), "");
        EXPECT_NEAR(sb.warp_source_lines, c.lines, 1.5) << c.cell << " " << c.method;
        close_source(sa);
        close_source(sb);
    }
}

TEST(ImportChecks, CellsWithoutDataAreCountedAndCropped) {
    std::mt19937 rng(3);
    for (int round = 0; round < 6; round++) {
        Folder in, out;
        const int lines = 5 + round % 3, cols = 6 + round % 2;
        TestRaster a = ramp(lines, cols, 0.25), b = ramp(lines, cols, -0.5);
        a.has_nodata = true;
        a.nodata = -9999;
        long long holes_a = 0, holes_b = 0;
        std::vector<uint8_t> valid(size_t(lines * cols), 1);
        // Holes at the edges and inside: nodata in a, NaN in b.
        for (int k = 0; k < 4; k++) {
            const size_t ia = rng() % valid.size(), ib = rng() % valid.size();
            if (a.bands[0][ia] != -9999) holes_a++;
            if (!std::isnan(b.bands[0][ib])) holes_b++;
            a.bands[0][ia] = -9999;
            b.bands[0][ib] = NAN;
            valid[ia] = valid[ib] = 0;
        }
        // Without --crop both are written whole, each cell without data
        // holding its raster's no-data value.
        RunResult r = import_pair(in, out, a, b);
        ASSERT_EQ(r.status, 0) << r.err;
        long long either = 0;
        for (uint8_t v : valid) either += !v;
        EXPECT_THAT(r.out, HasSubstr("Cells without data: " + std::to_string(holes_a) +
                                     " of FIRST (data ignore value -2147483648), " + std::to_string(holes_b) +
                                     " of SECOND (data ignore value -2147483648), " + std::to_string(either) +
                                     " in either; karvel leaves them out."));
        const std::vector<long long> whole = samples(out.read("a_m4.raw"), 4, true);
        ASSERT_EQ(whole.size(), size_t(lines * cols));
        long long marked = 0, lo = LLONG_MAX;
        for (size_t k = 0; k < whole.size(); k++) {
            const bool hole = a.bands[0][k] == -9999;
            EXPECT_EQ(whole[k] == -2147483648LL, hole) << k;
            marked += hole;
            if (!hole) lo = std::min(lo, whole[k]);
        }
        EXPECT_EQ(marked, holes_a);
        EXPECT_THAT(out.read("a_m4.txt"), HasSubstr("\r\n" + std::to_string(lo) + "\r\n"));  // its true minimum
        EXPECT_THAT(out.read("a_m4.hdr"), HasSubstr("\ndata ignore value = -2147483648\n"));

        r = import_pair(in, out, a, b, {"--crop"});
        ASSERT_EQ(r.status, 0) << r.err;
        // The window: the largest of at least 2 x 2 cells with data in both, by trying every one.
        long long best = 0;
        for (int t = 0; t < lines; t++)
            for (int l = 0; l < cols; l++)
                for (int h = 2; t + h <= lines; h++)
                    for (int wd = 2; l + wd <= cols; wd++) {
                        bool full = true;
                        for (int i = t; i < t + h; i++)
                            for (int j = l; j < l + wd; j++) full = full && valid[size_t(i * cols + j)];
                        if (full) best = std::max(best, (long long)h * wd);
                    }
        ReadBack rb = read_raster(out.path("a_m4.raw"));
        ASSERT_EQ((long long)rb.lines * rb.cols, best) << "round " << round;
        // Its cells are the source cells of the window, and its origin moves with it.
        const std::vector<long long> got = samples(out.read("a_m4.raw"), 4, true);
        ASSERT_EQ(got.size(), size_t(best));
        const double row0 = (rb.gt[3] - a.gt[3]) / a.gt[5], col0 = (rb.gt[0] - a.gt[0]) / a.gt[1];
        for (int i = 0; i < rb.lines; i++)
            for (int j = 0; j < rb.cols; j++) {
                const int si = int(row0) + i, sj = int(col0) + j;
                ASSERT_TRUE(valid[size_t(si * cols + sj)]);
                EXPECT_EQ(got[size_t(i * rb.cols + j)],
                          (long long)std::round(double(float(a.bands[0][size_t(si * cols + sj)])) * 1000.0));
            }
        EXPECT_THAT(r.out, HasSubstr("cells with data left outside it: " +
                                     std::to_string(lines * cols - holes_a - best) + " of FIRST"));
    }

    // The band's mask tells cells without data too.
    {
        Folder in, out;
        TestRaster m = raster(3, 4, GDT_Int16, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
        m.mask = {255, 255, 255, 0, 255, 255, 255, 255, 255, 255, 255, 255};
        RunResult r = import_pair(in, out, m, ramp(3, 4, 1));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_THAT(r.out, HasSubstr("Cells without data: 1 of FIRST (data ignore value -2147483648), 0 of SECOND, "
                                     "1 in either"));
        EXPECT_EQ(samples(out.read("a_m4.raw"), 4, true),
                  (std::vector<long long>{1, 2, 3, -2147483648LL, 5, 6, 7, 8, 9, 10, 11, 12}));
        EXPECT_THAT(out.read("b_m4.hdr"), Not(HasSubstr("data ignore value")));
        r = import_pair(in, out, m, ramp(3, 4, 1), {"--crop"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(samples(out.read("a_m4.raw"), 4, true),
                  (std::vector<long long>{1, 2, 3, 5, 6, 7, 9, 10, 11}));
    }

    // No window of 2 x 2 cells with data in both.
    Folder in, out;
    TestRaster a = ramp(3, 3, 1), b = ramp(3, 3, 1);
    a.bands[0][4] = NAN;
    RunResult r = import_pair(in, out, a, b, {"--crop"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("no window of at least 2 x 2 cells has data in both"));
}

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
