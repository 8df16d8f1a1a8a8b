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
