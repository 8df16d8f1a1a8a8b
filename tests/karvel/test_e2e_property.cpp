// Random rasters through the real program, checked against a computation
// written here from the definitions (plain loops over the samples).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <cstdio>
#include <random>

#include "e2e.h"

namespace {

std::string lf(double v) {
    if (std::isnan(v)) return std::signbit(v) ? "-NAN" : "+NAN";
    if (std::isinf(v)) return v < 0 ? "-INF" : "+INF";
    char buf[400];
    std::snprintf(buf, sizeof buf, "%f", v);
    return buf;
}

// Mean, smallest and largest of the finite values, as the summary shows them.
struct Figure {
    double total = 0, lo = 0, hi = 0;
    long long count = 0;
    void add(double v) {
        if (!std::isfinite(v)) return;
        total += v;
        lo = count == 0 ? v : std::min(lo, v);
        hi = count == 0 ? v : std::max(hi, v);
        count++;
    }
    std::string text(const std::string &label, const std::string &tabs) const {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        return "\r\n\t" + label + " = " + lf(count ? total / double(count) : nan) + tabs + "Min. " +
               lf(count ? lo : nan) + "\tMax. " + lf(count ? hi : nan) + " ";
    }
};

// The figure printed after "label = " in the summary file.
std::string figure(const std::string &summary, const std::string &label) {
    size_t at = summary.find("\t" + label + " = ");
    if (at == std::string::npos) return "(missing " + label + ")";
    at += label.size() + 4;
    size_t end = summary.find_first_of(" \t\r", at);
    return summary.substr(at, end - at);
}

struct Kind {
    const char *suffix;  // file name ending
    int bytes;           // per sample
    int lo, hi;          // range of the first raster's samples
};

void check_random_pair(const Kind &kind, int lines, int cols, int unit1, int unit2, unsigned seed) {
    SCOPED_TRACE(std::string(kind.suffix) + " " + std::to_string(lines) + "x" + std::to_string(cols) + " units " +
                 std::to_string(unit1) + "," + std::to_string(unit2) + " seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> first(kind.lo, kind.hi);
    std::uniform_int_distribution<int> noise(-40, 40);
    const size_t n = size_t(lines) * size_t(cols);
    std::vector<int> a(n), b(n);
    for (size_t k = 0; k < n; k++) {
        a[k] = first(rng);
        // The second raster follows the first, in its own unit, with noise.
        long long v = (long long)a[k] * 3 / 2 + noise(rng) + 7;
        if (kind.bytes < 4) v = std::min<long long>(std::max<long long>(v, 0), kind.bytes == 1 ? 255 : 65535);
        b[k] = int(v);
    }
    Folder f;
    const std::string enc1 = kind.bytes == 1 ? bytes8(a) : kind.bytes == 2 ? bytes16(a) : bytes32(a);
    const std::string enc2 = kind.bytes == 1 ? bytes8(b) : kind.bytes == 2 ? bytes16(b) : bytes32(b);
    f.write(std::string("a") + kind.suffix + ".raw", enc1);
    f.write(std::string("a") + kind.suffix + ".txt", description(lines, cols, kind.bytes));
    f.write(std::string("b") + kind.suffix + ".raw", enc2);
    f.write(std::string("b") + kind.suffix + ".txt", description(lines, cols, kind.bytes));
    std::string answers = f.name() + "\n";
    if (kind.bytes == 1)
        answers += "1\na\nb\nr\n";
    else {
        const std::string w = kind.bytes == 2 ? "0" : "1";
        answers += "0\na\n" + w + "\nb\n" + w + "\nr\n" + std::to_string(unit1) + "\n" + std::to_string(unit2) + "\n";
    }
    RunResult r = run_karvel(answers);
    ASSERT_EQ(r.status, 0);

    // The samples in meters (or grey levels).
    const double factors[4] = {1.0, 0.1, 0.01, 0.001};
    const double f1 = kind.bytes == 1 ? 1.0 : factors[unit1];
    const double f2 = kind.bytes == 1 ? 1.0 : factors[unit2];
    double sx = 0, sy = 0, sxy = 0, sx2 = 0, sd2 = 0;
    for (size_t k = 0; k < n; k++) {
        const double x = a[k] * f1, y = b[k] * f2;
        sx += x;
        sy += y;
        sxy += x * y;
        sx2 += x * x;
        sd2 += (x - y) * (x - y);
    }
    const double N = double(n);
    const double b1 = (N * sxy - sx * sy) / (N * sx2 - sx * sx);
    const double b0 = (sy - sx * b1) / N;
    const double rms = std::sqrt(sd2 / (N - 1));
    std::vector<long long> bins;
    double max_err = 0;
    for (size_t k = 0; k < n; k++) {
        const double x = a[k] * f1, y = b[k] * f2;
        const double e = std::fabs(y - (x * b1 + b0));
        max_err = std::max(max_err, e);
        const size_t bin = size_t(10.0L * (long double)e);  // 64-bit significand: exact
        if (bins.size() <= bin) bins.resize(bin + 1);
        bins[bin]++;
    }
    std::string histogram;
    const size_t rows = size_t(10.0L * (long double)max_err);
    long long outside_bin0 = 0;
    for (size_t k = 1; k <= rows; k++) {
        histogram += std::to_string(k) + "\t" + std::to_string(bins[k]) + "\r\n";
        outside_bin0 += bins[k];
    }

    const std::string summary = f.read("r_karvel.txt");
    EXPECT_EQ(figure(summary, "Sum_X"), lf(sx));
    EXPECT_EQ(figure(summary, "Sum_Y"), lf(sy));
    EXPECT_EQ(figure(summary, "Sum_XY"), lf(sxy));
    EXPECT_EQ(figure(summary, "Sum_X2"), lf(sx2));
    EXPECT_EQ(figure(summary, "B1"), lf(b1));
    EXPECT_EQ(figure(summary, "B0"), lf(b0));
    EXPECT_EQ(figure(summary, "RMS_Error"), lf(rms));
    EXPECT_EQ(figure(summary, "max_err"), lf(max_err));
    EXPECT_EQ(f.read("r_karvel_regres_lin.xls"), histogram);
    EXPECT_EQ(outside_bin0 + bins[0], (long long)n);

    // The per-line table and the means of its figures.
    std::string table = "Line\tSt. Dev.\tSlope\tr\tr2\r\n";
    Figure desv_f, slope_f, r_f, r2_f;
    for (int i = 0; i < lines; i++) {
        double X = 0, Y = 0, XY = 0, X2 = 0, Y2 = 0, dsum = 0;
        for (int j = 0; j < cols; j++) {
            const double x = a[size_t(i) * cols + j] * f1, y = b[size_t(i) * cols + j] * f2;
            X += x, Y += y, XY += x * y, X2 += x * x, Y2 += y * y;
            dsum += std::fabs(x - y);
        }
        const double m = cols;
        const double val1 = m * XY - X * Y, val2 = m * X2 - X * X, val3 = m * Y2 - Y * Y;
        const double slope = val1 / val2, r = val1 / std::sqrt(val2 * val3), r2 = r * r;
        const double d_mean = dsum / m;
        double dev = 0;
        for (int j = 0; j < cols; j++) {
            const double x = a[size_t(i) * cols + j] * f1, y = b[size_t(i) * cols + j] * f2;
            const double d = std::fabs(x - y) - d_mean;
            dev += d * d;
        }
        const double desv = std::sqrt(dev / (m - 1));
        table += std::to_string(i) + "\t" + lf(desv) + "\t" + lf(slope) + "\t" + lf(r) + "\t" + lf(r2) + "\r\n";
        desv_f.add(desv), slope_f.add(slope), r_f.add(r), r2_f.add(r2);
    }
    EXPECT_EQ(f.read("r_karvel.xls"), table);
    EXPECT_THAT(summary, ::testing::HasSubstr(desv_f.text("St. Dev.", "\t\t") + slope_f.text("Slope", "\t\t") +
                                              r_f.text("r", "\t\t\t") + r2_f.text("r2", "\t\t\t")));
}

}  // namespace

TEST(Property, RandomRastersAgreeWithAnIndependentComputation) {
    const Kind dem16{"_m2", 2, 0, 65535}, dem32{"_m4", 4, -2000000, 2000000}, image{"", 1, 0, 170};
    const int sizes[][2] = {{1, 5}, {7, 3}, {40, 61}, {123, 77}};
    unsigned seed = 1;
    for (const auto &size : sizes) {
        check_random_pair(image, size[0], size[1], 0, 0, seed++);
        for (int u = 0; u < 4; u++) {
            check_random_pair(dem16, size[0], size[1], u, (u + 1) % 4, seed++);
            check_random_pair(dem32, size[0], size[1], (u + 3) % 4, u, seed++);
        }
    }
}

TEST(Property, RastersOfManyLinesAndOfOneLineOrColumn) {
    // More lines than one read request holds, one line longer than a
    // request, one column.
    const Kind dem16{"_m2", 2, 0, 65535}, dem32{"_m4", 4, -2000000, 2000000}, image{"", 1, 0, 170};
    check_random_pair(dem16, 2100, 300, 1, 2, 101);
    check_random_pair(dem32, 1, 300000, 2, 3, 102);
    check_random_pair(image, 5000, 1, 0, 0, 103);
    check_random_pair(dem16, 3, 1, 0, 0, 104);
}
