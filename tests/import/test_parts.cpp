// The parts of karvel-import that need no raster: units, the
// largest-window search, the words of the commands it prints and the
// tilt's least squares, the numbers of its options.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "deramp.h"
#include "e2e.h"
#include "options.h"
#include "table.h"
#include "units.h"
#include "window.h"

TEST(ImportUnits, UnitTypesAndFactors) {
    ElevationUnit u;
    for (const char *m : {"m", "metre", " Meter ", "METRES"}) {
        ASSERT_TRUE(unit_of_type(m, u)) << m;
        EXPECT_EQ(u.answer, 0) << m;
        EXPECT_FALSE(u.assumed);
    }
    ASSERT_TRUE(unit_of_type("", u));
    EXPECT_TRUE(u.assumed);
    EXPECT_EQ(u.answer, 0);
    ASSERT_TRUE(unit_of_type("centimetre", u));
    EXPECT_EQ(u.answer, 2);
    ASSERT_TRUE(unit_of_type("ft", u));
    EXPECT_EQ(u.answer, -1);
    EXPECT_EQ(unit_factor(u, 3), 304.8);
    ASSERT_TRUE(unit_of_type("US survey foot", u));
    EXPECT_EQ(unit_factor(u, 3), 1200000.0 / 3937.0);
    ASSERT_TRUE(unit_of_type("foot", u));
    EXPECT_DOUBLE_EQ(unit_factor(u, 0), 0.3048);
    EXPECT_FALSE(unit_of_type("degree Celsius", u));
    EXPECT_EQ(unit_answer_of("dm"), 1);
    EXPECT_EQ(unit_answer_of("km"), -1);
}

namespace {

// The largest window of at least 2 x 2 cells with data, by trying every one.
long long brute_force_best(const std::vector<uint8_t> &grid, int lines, int cols) {
    long long best = 0;
    for (int t = 0; t < lines; t++)
        for (int l = 0; l < cols; l++)
            for (int b = t + 1; b < lines; b++)
                for (int r = l + 1; r < cols; r++) {
                    bool full = true;
                    for (int i = t; i <= b && full; i++)
                        for (int j = l; j <= r && full; j++) full = grid[size_t(i * cols + j)] != 0;
                    if (full) best = std::max(best, (long long)(b - t + 1) * (r - l + 1));
                }
    return best;
}

}  // namespace

TEST(ImportWindow, LargestWindowMatchesBruteForce) {
    std::mt19937 rng(7);
    for (int round = 0; round < 400; round++) {
        const int lines = 1 + int(rng() % 9), cols = 1 + int(rng() % 9);
        const unsigned holes = 1 + rng() % 5;  // about one cell in holes+1 lacks data
        std::vector<uint8_t> grid(size_t(lines * cols));
        for (auto &c : grid) c = rng() % (holes + 1) != 0;
        WindowSearch s(cols, 2, 2);
        for (int i = 0; i < lines; i++) s.add_line(&grid[size_t(i * cols)]);
        const Window &w = s.best();
        ASSERT_EQ(w.cells(), brute_force_best(grid, lines, cols)) << "round " << round;
        if (w.cells() == 0) continue;
        EXPECT_GE(w.lines, 2);
        EXPECT_GE(w.cols, 2);
        for (int i = w.line; i < w.line + w.lines; i++)
            for (int j = w.col; j < w.col + w.cols; j++)
                ASSERT_TRUE(grid[size_t(i * cols + j)]) << "round " << round << " cell " << i << "," << j;
    }
}

TEST(ImportCommands, ShellWordsComeBackFromTheShellAsTheyWere) {
    // Paths and answers as the printed commands hold them; the shell gives
    // each back as one word, unchanged.
    const std::vector<std::string> words = {"/usr/bin/karvel", "dem/2024", "a-b_c+d.e:f,g@h%i~j", "", "it's",
                                            "$HOME", "a b", "`id`", "back\\slash", "\"q\"", "~", "~root/x", "*",
                                            "a;b&c|d", "!x", "#x", "x=y", "caf\xc3\xa9", "line\nbreak"};
    std::string command = "printf '%s\\0'";
    std::string expected;
    for (const std::string &w : words) {
        command += ' ';
        command += shell_word(w);
        expected += w;
        expected += '\0';
    }
    const RunResult r = run_program("/bin/sh", {"-c", command}, "");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected);
    // Words the shell keeps as they are stay unquoted.
    for (const char *plain : {"/usr/bin/karvel", "dem/2024", "a-b_c+d.e:f,g@h%i~j"})
        EXPECT_EQ(shell_word(plain), plain);
}

// Points on an exact plane, and on an exact quadric, given back by the
// least squares to rounding (the coordinates of a UTM grid, centred and in
// km); points that do not determine the surface are said not to; the tilt
// taken out is the surface less its constant, cell by cell.
TEST(ImportTilt, LeastSquaresGiveBackAnExactPlaneAndAnExactQuadric) {
    const double plane[6] = {3, 0.5, -1.25, 0, 0, 0}, quadric[6] = {-1, 0.2, 0.3, -0.05, 0.07, 0.11};
    for (const double *c : {plane, quadric}) {
        const int order = c == plane ? 1 : 2;
        Surface s;
        s.order = order;
        s.origin_x = 500000 + 40 * 30 / 2.0, s.origin_y = 5400000 - 30 * 30 / 2.0;
        s.km_x = s.km_y = 0.001;
        const double gt[6] = {500000, 30, 0, 5400000, 0, -30};
        SurfaceFit fit(order);
        for (int i = 0; i < 30; i++)
            for (int j = 0; j < 40; j++) {
                double x, y;
                s.km_at(gt, i, j, x, y);
                fit.add(x, y, c[0] + c[1] * x + c[2] * y + c[3] * x * x + c[4] * x * y + c[5] * y * y);
            }
        EXPECT_EQ(fit.points(), 1200);
        ASSERT_TRUE(fit.solve(s)) << order;
        EXPECT_EQ(s.order, order);
        for (int k = 0; k < 6; k++) EXPECT_NEAR(s.c[size_t(k)], c[k], 1e-12) << order << " term " << k;
        // A line of the grid, times 1000 (metres into millimetres).
        std::vector<double> line(10);
        s.tilt_of_line(gt, 7, 25, 10, 1000, line.data());
        for (int j = 0; j < 10; j++) {
            const double x = ((25 + j + 0.5) * 30 - 40 * 30 / 2.0) / 1000, y = (30 * 30 / 2.0 - 7.5 * 30) / 1000;
            const double z = c[1] * x + c[2] * y + c[3] * x * x + c[4] * x * y + c[5] * y * y;
            EXPECT_NEAR(line[size_t(j)], 1000 * z, 1e-9) << order << " column " << j;
        }
    }
    // On a line, or too few: undetermined.
    SurfaceFit on_a_line(1), few(2), no_curve(2);
    for (int k = 0; k < 20; k++) {
        on_a_line.add(k, 2 * k - 1, 0.5 * k);
        no_curve.add(k % 2, k, 1);  // two columns: no x² term
    }
    for (int k = 0; k < 5; k++) few.add(k, k * k, k);
    Surface s;
    EXPECT_FALSE(on_a_line.solve(s));
    EXPECT_FALSE(few.solve(s));
    EXPECT_FALSE(no_curve.solve(s));
    EXPECT_EQ(s.order, 0);
}

TEST(ImportCommands, TheBandIsAWholeDecimalNumberWithBlanksAlikeOnEitherSide) {
    ImportOptions o;
    auto band = [&o](const std::string &given) {
        std::string problem;
        parse_command_line(import_command_line("karvel-import", "", o), {"--band", given, "a", "b", "f"}, problem);
        return problem;
    };
    for (const char *two : {" 2", "2 ", "\t2 ", "+2"}) {
        o.band = 1;
        EXPECT_EQ(band(two), "") << two;
        EXPECT_EQ(o.band, 2) << two;
    }
    for (const std::string bad : {"0x2", "2.0", "2 x", "0", "1000001"})
        EXPECT_EQ(band(bad), "--band: \"" + bad + "\" is not a band number (1, 2, ...)");
}
