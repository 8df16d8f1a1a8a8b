#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <limits>
#include <cmath>
#include <random>
#include <vector>

#include "position_error.h"
#include "state.h"
#include "sums.h"
#include "treatment.h"

TEST(Bins, TenthsAreTheExactWholePartOfTenTimesTheError) {
    EXPECT_EQ(tenths(0.0), 0);
    EXPECT_EQ(tenths(0.3), 2);  // the double nearest 0.3 lies below it
    EXPECT_EQ(tenths(0.5), 5);  // a lower bound belongs to its bin
    EXPECT_EQ(tenths(0.25), 2);
    EXPECT_EQ(tenths(0.7), 6);  // 0.6999999999999999555...
    EXPECT_EQ(tenths(0.09999999999999999), 0);
    EXPECT_EQ(tenths(214748364.75), 2147483647);
    EXPECT_EQ(tenths(214748364.8), std::numeric_limits<long long>::max());  // a tenfold of 2^31: too many bins
    EXPECT_EQ(tenths(std::nextafter(0.1, 0.0)), 0);
    EXPECT_EQ(tenths(0.1), 1);
    EXPECT_EQ(tenths(INFINITY), std::numeric_limits<long long>::max());
    EXPECT_EQ(tenths(NAN), std::numeric_limits<long long>::max());
}

TEST(Bins, TenthsAgreeWithAWideProductOnManyValues) {
    // x87 long double holds 64 significant bits, enough for ten times a double exactly.
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> scale(-8, 8.3);  // up to 2e8, a tenfold below 2^31
    for (int k = 0; k < 200000; k++) {
        double e = std::pow(10.0, scale(rng));
        if (k % 3 == 0) e = std::round(e * 10) / 10;  // values near bin bounds
        if (k % 5 == 0) e = std::nextafter(e, 0.0);
        long long wide = (long long)(10.0L * (long double)e);
        ASSERT_EQ(tenths(e), wide < INT_MAX ? wide : LLONG_MAX) << e;
    }
}

TEST(Slope, LeastSquaresSlopeOfYOnX) {
    const double x[] = {1, 2, 3, 4};
    const double y[] = {2, 4, 6, 8};
    EXPECT_EQ(slope(x, y, 4), 2.0);
    const double y2[] = {1, 3, 2, 6};
    EXPECT_DOUBLE_EQ(slope(x, y2, 4), 1.4);
    const double c[] = {5, 5, 5};
    EXPECT_TRUE(std::isnan(slope(c, y, 3)));  // 0/0 when every x is equal
}

TEST(PositionError, AbsoluteDistanceToTheLine) {
    double est = 0;
    EXPECT_DOUBLE_EQ(position_error(2.0, 5.0, 1.0, 1.5, est), 1.5);
    EXPECT_DOUBLE_EQ(est, 3.5);
    EXPECT_DOUBLE_EQ(position_error(2.0, 2.0, 1.0, 1.5, est), 1.5);
}

namespace {
// Lines held in memory, handed out as the passes ask for them; every pass
// must walk every line.
struct MemoryPairs : LinePairs {
    std::vector<std::vector<double>> a, b;
    std::vector<const double *> rows1, rows2;
    size_t taken = 0;
    void begin_pass() override { taken = 0; }
    int next(const double *&row1, const double *&row2) override {
        row1 = rows1.at(taken);
        row2 = rows2.at(taken);
        taken++;
        return nb_col;
    }
    void end_pass() override { EXPECT_EQ(taken, rows1.size()); }
};
MemoryPairs pairs;

// Sets the lines of both rasters.
void grids(const std::vector<std::vector<double>> &a, const std::vector<std::vector<double>> &b) {
    pairs.a = a;
    pairs.b = b;
    pairs.rows1.clear();
    pairs.rows2.clear();
    for (size_t i = 0; i < a.size(); i++) {
        pairs.rows1.push_back(pairs.a[i].data());
        pairs.rows2.push_back(pairs.b[i].data());
    }
    nb_lig = int(a.size());
    nb_col = int(a[0].size());
    nb_kept = (long long)nb_lig * nb_col;
}
}  // namespace

TEST(LinePass, ExtremesAreTheTrueOnesBeyondTheOldStartValues) {
    // Every slope above 200, every r negative on the second pair of lines.
    grids({{1, 2, 3}, {1, 2, 4}}, {{300, 600, 901}, {-1, -2, -3}});
    Stats s;
    line_pass(s, pairs);
    EXPECT_GT(s.min_slope, -3.0);
    EXPECT_LT(s.min_slope, 0.0);
    EXPECT_GT(s.max_slope, 200.0);
    EXPECT_LT(s.min_r, 0.0);
    EXPECT_GT(s.max_r, 0.99);
    EXPECT_EQ(s.slope_n, 2);
    EXPECT_EQ(s.kco, 6);
    EXPECT_EQ(s.N_tot, 6.0);
}

TEST(LinePass, NonFiniteFiguresStayOutOfTotalsAndExtremes) {
    // Line 1 is constant in the first raster: its slope, r and r² are not finite.
    grids({{1, 2, 3}, {4, 4, 4}, {1, 2, 3}}, {{2, 4, 6}, {1, 2, 3}, {3, 6, 9}});
    Stats s;
    line_pass(s, pairs);
    EXPECT_EQ(s.jco, 3);
    EXPECT_EQ(s.slope_n, 2);
    EXPECT_EQ(s.slope_tot, 5.0);
    EXPECT_EQ(s.min_slope, 2.0);
    EXPECT_EQ(s.max_slope, 3.0);
    EXPECT_EQ(s.r_n, 2);
    EXPECT_EQ(s.desv_n, 3);
}

TEST(LinePass, OneColumnLeavesNoFigureAndExtremesAreNotANumber) {
    grids({{1}, {2}}, {{1}, {5}});
    Stats s;
    line_pass(s, pairs);
    EXPECT_EQ(s.desv_n, 0);
    EXPECT_EQ(s.slope_n, 0);
    EXPECT_TRUE(std::isnan(s.min_desv));
    EXPECT_TRUE(std::isnan(s.max_slope));
    EXPECT_EQ(s.Suma_X, 3.0);
    EXPECT_EQ(s.dif_carre_tot, 9.0);
}

TEST(Stages, WorkedExampleThroughRegressionAndResiduals) {
    grids({{1, 2}, {3, 4}}, {{1, 3}, {2, 6}});
    Stats s;
    line_pass(s, pairs);
    regression(s);
    residual_pass(s, pairs);
    EXPECT_DOUBLE_EQ(s.B1, 1.4);
    EXPECT_DOUBLE_EQ(s.B0, -0.5);
    EXPECT_DOUBLE_EQ(s.Suma_err2, 4.2);
    EXPECT_NEAR(s.min_err, 0.1, 1e-15);
    EXPECT_DOUBLE_EQ(s.max_err, 1.7);
    EXPECT_DOUBLE_EQ(s.Var_Resid, 2.1);
    EXPECT_DOUBLE_EQ(s.Var_B1, 0.42);
}

TEST(Stages, ErrorExtremesAreTrueAboveTenMillion) {
    // x constant except one value: the fitted line misses y by far more than 1e7.
    grids({{0, 1, 0, 1}}, {{0, 1, 4e8, -4e8}});
    Stats s;
    line_pass(s, pairs);
    regression(s);
    residual_pass(s, pairs);
    EXPECT_GT(s.min_err, 1e7);
    EXPECT_GE(s.max_err, s.min_err);
}

namespace {
// Runs the histogram pass on one line of errors y - x against y = x, and
// returns the histogram table it writes.
std::string histogram_of(const std::vector<double> &errors) {
    std::vector<double> zeros(errors.size(), 0.0);
    grids({zeros}, {errors});
    Stats s;
    s.B1 = 1.0;
    s.B0 = 0.0;
    s.max_err = 0.0;
    for (double e : errors) s.max_err = std::max(s.max_err, e);
    const std::string p = "/tmp/karvel_hist_" + std::to_string(getpid());
    EXPECT_TRUE(text_create(f5d, p, "h"));
    histogram_pass(s, pairs);
    EXPECT_TRUE(text_close(f5d));
    std::string text;
    int err = 0;
    text_read(p, text, &err);
    unlink(p.c_str());
    return text;
}
}  // namespace

TEST(Histogram, BinBoundsAndRows) {
    // 0.3 (just below three tenths) and 0.25 fall into bin 2, 0.05 into bin 0.
    EXPECT_EQ(histogram_of({0.3, 0.25, 0.05}), "1\t0\n2\t2\n");
    // max_err 0.25: three bins, rows for bins 1 and 2, empty bins included.
    EXPECT_EQ(histogram_of({0.25, 0.05}), "1\t0\n2\t1\n");
    EXPECT_EQ(histogram_of({0.5, 0.0}), "1\t0\n2\t0\n3\t0\n4\t0\n5\t1\n");
    // Every error below a tenth: no row at all.
    EXPECT_EQ(histogram_of({0.09, 0.0}), "");
}

TEST(Bins, PairsAndSinglesAgree) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> any(0.0, 200.0);
    for (int k = 0; k < 100000; k++) {
        double a = any(rng), b = std::round(any(rng) * 10) / 10;
        const int2 pair = pair_tenths(double2{a, b});
        ASSERT_EQ(pair[0], tenths(a)) << a;
        ASSERT_EQ(pair[1], tenths(b)) << b;
        ASSERT_EQ(pair[1], (long long)(10.0L * (long double)b)) << b;
    }
    double est_pair[3], err_pair[3];
    const double x[3] = {1.0, 2.5, -3.0}, y[3] = {0.5, 9.0, -3.25};
    position_errors(x, y, 3, 1.5, -0.25, est_pair, err_pair);
    for (int j = 0; j < 3; j++) {
        double est = 0;
        EXPECT_EQ(err_pair[j], position_error(x[j], y[j], 1.5, -0.25, est));
        EXPECT_EQ(est_pair[j], est);
        EXPECT_EQ(err_pair[j], std::fabs(y[j] - (x[j] * 1.5 + -0.25)));
    }
}

// The histogram passes' counter against a plain count of tenths(): both
// count types, one copy or interleaved ones, lines shorter and longer than
// a block, odd lengths, errors past the last bin and errors not finite.
TEST(Bins, CountedTenthsAreThoseOfEachError) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> any(-30.0, 30.0);
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    for (const int n : {0, 1, 7, 512, 1001, 2050}) {
        std::vector<double> x(static_cast<size_t>(n)), y(static_cast<size_t>(n));
        for (int j = 0; j < n; j++) {
            x[size_t(j)] = any(rng), y[size_t(j)] = x[size_t(j)] * 1.25 - 0.5 + any(rng) / 8;
            if (j % 97 == 3) y[size_t(j)] = j % 2 ? nan : inf;
            if (j % 89 == 4) y[size_t(j)] = std::round(10 * y[size_t(j)]) / 10;  // on a bin's bound
        }
        for (const long long bins : {1LL, 12LL, 40LL}) {
            const double max_err = largest_error_below_bin(bins);
            ASSERT_LT(tenths(max_err), bins);
            ASSERT_GE(tenths(std::nextafter(max_err, inf)), bins);
            std::vector<long long> expected(size_t(bins), 0);
            long long beyond = 0;
            for (int j = 0; j < n; j++) {
                double est = 0;
                const double e = position_error(x[size_t(j)], y[size_t(j)], 1.25, -0.5, est);
                if (!std::isfinite(e)) continue;
                const long long k = tenths(e);
                if (k < bins)
                    expected[size_t(k)]++;
                else
                    beyond++;
            }
            for (const int ways : {1, kCountWays}) {
                std::vector<int> small(size_t(ways * bins), 0);
                std::vector<long long> large(size_t(ways * bins), 0);
                EXPECT_EQ(count_tenths(x.data(), y.data(), n, 1.25, -0.5, max_err, small.data(), size_t(bins), ways),
                          beyond);
                EXPECT_EQ(count_tenths(x.data(), y.data(), n, 1.25, -0.5, max_err, large.data(), size_t(bins), ways),
                          beyond);
                for (long long k = 0; k < bins; k++) {
                    long long a = 0, b = 0;
                    for (int w = 0; w < ways; w++) a += small[size_t(w * bins + k)], b += large[size_t(w * bins + k)];
                    EXPECT_EQ(a, expected[size_t(k)]) << "n " << n << " bins " << bins << " ways " << ways;
                    EXPECT_EQ(b, expected[size_t(k)]);
                }
            }
        }
    }
    EXPECT_EQ(largest_error_below_bin(3), 0.3);  // the double nearest 0.3 lies just below three tenths
}

#ifndef KARVEL_SANITIZE  // 2^31 positions are walked: too slow under the sanitizers
TEST(LargeCounts, PositionsBeyondTwoToThe31AreCountedIn64Bits) {
    // 46341 lines of 46341 columns: 2147488281 positions, past the largest
    // int. Every line is the same row in memory, so nothing large is allocated.
    const int n = 46341;
    std::vector<double> row1(n), row2(n);
    for (int j = 0; j < n; j++) row1[j] = 1.0, row2[j] = j % 2 ? 2.0 : 1.0;
    pairs.rows1.assign(n, row1.data());
    pairs.rows2.assign(n, row2.data());
    nb_lig = nb_col = n;
    nb_kept = (long long)n * n;
    Stats s;
    testing::internal::CaptureStdout();
    line_pass(s, pairs);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(s.kco, 2147488281LL);
    EXPECT_EQ(s.N_tot, 2147488281.0);
    EXPECT_EQ(s.N_lig, 2147488281.0);
    EXPECT_EQ(s.jco, n);
    EXPECT_EQ(s.Suma_X, 2147488281.0);
    EXPECT_EQ(s.Prom_X, 1.0);
    EXPECT_EQ(s.dif_carre_tot, double(n) * 23170);  // 23170 odd columns per line differ by 1
}
#endif

TEST(LargeCounts, TheRmsErrorDividesByTheWholeCountLessOne) {
    Stats s;
    s.kco = 3000000001LL;  // beyond any int
    s.dif_carre_tot = 12000000000.0;
    s.jco = 1;
    const std::string p = "/tmp/karvel_rms_" + std::to_string(getpid());
    // The report waits for a key on the terminal: run it where there is none.
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        if (!text_create(f2d, p, "s")) _exit(1);
        std::freopen("/dev/null", "w", stdout);
        summary_report(s);
        _exit(text_commit(f2d) ? 0 : 1);
    }
    int status = 1;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::string text;
    int err = 0;
    text_read(p, text, &err);
    unlink(p.c_str());
    EXPECT_NE(text.find("\n\n\tRMS_Error = 2.000000\n"), std::string::npos) << text;
}
