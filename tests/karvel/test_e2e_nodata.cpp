// Positions without data: the no-data value a raster's ENVI header declares
// leaves them out of every figure, and what declares nothing changes nothing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>

#include "e2e.h"

using ::testing::HasSubstr;

namespace {

std::string header(int lines, int cols, int type, const std::string &extra = "") {
    return "ENVI\nsamples = " + std::to_string(cols) + "\nlines = " + std::to_string(lines) +
           "\nbands = 1\nheader offset = 0\ndata type = " + std::to_string(type) + "\nbyte order = 0\n" +
           "band names = {\n a }\n" + extra;
}

std::string lf(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%f", v);
    return std::isnan(v) ? (std::signbit(v) ? "-NAN" : "+NAN") : buf;
}

const int kLines = 6, kCols = 7;
const int kNoA = -9999, kNoB = -2147483647 - 1;

// Two 32-bit DEMs in metres: the first without data outside a round outline,
// the second with holes; line 2 has no position with data in both, line 4
// only one.
void irregular_pair(const Folder &f, std::vector<int> &a, std::vector<int> &b, bool headers) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> v(-300, 900), noise(-7, 7);
    a.assign(kLines * kCols, 0);
    b.assign(kLines * kCols, 0);
    for (int i = 0; i < kLines; i++)
        for (int j = 0; j < kCols; j++) {
            const int k = i * kCols + j;
            a[k] = v(rng);
            b[k] = a[k] / 2 + noise(rng) + 40;
            const double di = i - 2.5, dj = j - 3.0;
            if (di * di + dj * dj > 10.5) a[k] = kNoA;
            if ((i * 7 + j * 3) % 5 == 0 || i == 2 || (i == 4 && j != 3)) b[k] = kNoB;
        }
    f.write("a_m4.raw", bytes32(a));
    f.write("a_m4.txt", description(kLines, kCols, 4));
    f.write("b_m4.raw", bytes32(b));
    f.write("b_m4.txt", description(kLines, kCols, 4));
    if (headers) {
        f.write("a_m4.hdr", header(kLines, kCols, 3, "data ignore value = -9999\n"));
        f.write("b_m4.hdr", header(kLines, kCols, 3, "data ignore value = -2147483648\n"));
    }
}

const std::string kAnswers = "\n0\na\n1\nb\n1\nr\n0\n0\n";

}  // namespace

TEST(NoData, AnIrregularOutlineWithHolesEqualsAPlainLoopOverTheKeptPositions) {
    Folder f;
    std::vector<int> a, b;
    irregular_pair(f, a, b, true);
    RunResult r = run_karvel(f.name() + kAnswers);
    ASSERT_EQ(r.status, 0) << r.out;

    // Every figure again, over the kept positions only, in column order.
    // The values are whole numbers small enough that every sum is exact.
    double N = 0, X = 0, Y = 0, XY = 0, X2 = 0, D2 = 0;
    int min_a = 1 << 30, max_a = -(1 << 30), min_b = 1 << 30, max_b = -(1 << 30);
    std::string table = "Line\tSt. Dev.\tSlope\tr\tr2\n";
    for (int i = 0; i < kLines; i++) {
        std::vector<double> x, y;
        for (int j = 0; j < kCols; j++) {
            const int k = i * kCols + j;
            if (a[k] == kNoA || b[k] == kNoB) continue;
            x.push_back(a[k]);
            y.push_back(b[k]);
            min_a = std::min(min_a, a[k]), max_a = std::max(max_a, a[k]);
            min_b = std::min(min_b, b[k]), max_b = std::max(max_b, b[k]);
        }
        double n = double(x.size()), lx = 0, ly = 0, lxy = 0, lx2 = 0, ly2 = 0, dsum = 0;
        for (size_t k = 0; k < x.size(); k++) {
            lx += x[k], ly += y[k], lxy += x[k] * y[k], lx2 += x[k] * x[k], ly2 += y[k] * y[k];
            dsum += std::fabs(x[k] - y[k]);
            D2 += (x[k] - y[k]) * (x[k] - y[k]);
        }
        N += n, X += lx, Y += ly, XY += lxy, X2 += lx2;
        const double v1 = n * lxy - lx * ly, v2 = n * lx2 - lx * lx, v3 = n * ly2 - ly * ly;
        const double rr = v1 / std::sqrt(v2 * v3);
        double spread = 0;
        for (size_t k = 0; k < x.size(); k++) {
            const double d = std::fabs(x[k] - y[k]) - dsum / n;
            spread += d * d;
        }
        const double desv = x.empty() ? dsum / n : std::sqrt(spread / (n - 1));
        table += std::to_string(i) + "\t" + lf(desv) + "\t" + lf(v1 / v2) + "\t" + lf(rr) + "\t" + lf(rr * rr) + "\n";
    }
    EXPECT_EQ(f.read("r_karvel.xls"), crlf(table));
    const double B1 = (XY * N - Y * X) / (X2 * N - X * X), B0 = (Y - X * B1) / N;
    const std::string summary = f.read("r_karvel.txt");
    EXPECT_THAT(summary, HasSubstr(crlf("\n\tB1 = " + lf(B1) + "\tB0 = " + lf(B0) + " ")));
    EXPECT_THAT(summary, HasSubstr(crlf("\n\n\tRMS_Error = " + lf(std::sqrt(D2 / (N - 1))))));
    EXPECT_THAT(summary, HasSubstr(crlf("\n\tSum_X = " + lf(X) + "\n\tSum_Y = " + lf(Y))));
    EXPECT_THAT(r.out, HasSubstr("N_by_Neg_Sum_X = " + lf(-N * X) + "\t"));
    EXPECT_THAT(summary, HasSubstr(crlf("\n\t\tMin = " + std::to_string(min_a) + "\n\t\tMax = " +
                                        std::to_string(max_a))));
    EXPECT_THAT(summary, HasSubstr(crlf("\n\t\tMin = " + std::to_string(min_b) + "\n\t\tMax = " +
                                        std::to_string(max_b))));
    const long long left = kLines * kCols - (long long)N;
    const std::string said = "Positions left out (no data in either raster): " + std::to_string(left) + " of 42";
    EXPECT_THAT(summary, HasSubstr(crlf("\n\t" + said + " \n\n\tRMS_Error")));
    EXPECT_THAT(r.out, HasSubstr("\n\t" + said));
    // Lines 2 (no position) and 4 (one) weigh on none of the means.
    EXPECT_THAT(summary, HasSubstr("Lines left out of the means (not a finite number): St. Dev. 2, Slope 2, r 2, r2 2"));

    // The histogram counts every kept error of a tenth or more, and no other.
    long long counted = 0, expected = 0;
    const std::string hist = f.read("r_karvel_regres_lin.xls");
    for (size_t at = hist.find('\t'); at != std::string::npos; at = hist.find('\t', at + 1))
        counted += std::stoll(hist.substr(at + 1));
    for (size_t k = 0; k < a.size(); k++)
        if (a[k] != kNoA && b[k] != kNoB && std::fabs(b[k] - (a[k] * B1 + B0)) >= 0.1) expected++;
    EXPECT_EQ(counted, expected);
}

TEST(NoData, AHeaderThatDeclaresNoValueChangesNoByte) {
    Folder plain, declared;
    std::vector<int> a, b;
    irregular_pair(plain, a, b, false);
    irregular_pair(declared, a, b, false);
    declared.write("a_m4.hdr", header(kLines, kCols, 3, "description = {a survey\n over two lines}\n"));
    RunResult r1 = run_karvel(plain.name() + kAnswers), r2 = run_karvel(declared.name() + kAnswers);
    ASSERT_EQ(r1.status, 0);
    ASSERT_EQ(r2.status, 0);
    auto same_folder = [&](std::string text) {
        for (size_t at; (at = text.find(declared.name())) != std::string::npos;)
            text.replace(at, declared.name().size(), plain.name());
        return text;
    };
    EXPECT_EQ(same_folder(r2.out), r1.out);
    for (const char *file : {"r_karvel.txt", "r_karvel.xls", "r_karvel_regres_lin.xls"})
        EXPECT_EQ(same_folder(declared.read(file)), plain.read(file)) << file;
}

TEST(NoData, HeadersThatCannotBeTrustedAndTooFewPositionsAreRefused) {
    Folder f;
    std::vector<int> a, b;
    irregular_pair(f, a, b, true);
    const struct {
        std::string header, said;
    } cases[] = {
        {header(kLines, 8, 3), "\n\n\tThe header " + f.shown("a_m4.hdr") + " does not agree with the description file " +
                                   f.shown("a_m4.txt") + ": it gives 8 samples where the description gives 7 columns\n"},
        {header(kLines, kCols, 12), "it gives data type 12 where a 32-bit DEM is data type 3\n"},
        // Byte order 1 in place of the 0 the helper writes: a key given twice is refused for that alone.
        {"ENVI\nsamples = 7\nlines = 6\ndata type = 3\nbyte order = 1\n", "it gives byte order 1 where the samples"},
        {header(kLines, kCols, 3, "data ignore value = none\n"),
         "\n\n\tThe header " + f.shown("a_m4.hdr") + " cannot be used: its data ignore value \"none\" is not a whole number\n"},
        {header(kLines, kCols, 3, "data ignore value = 3000000000\n"), "is not a value that a sample of a 32-bit DEM holds"},
        {"NCOLS 7\nNROWS 6\n", "it is not an ENVI header"},
        {header(kLines, kCols, 3, "map info = {UTM, 1, 1\n"), "has no closing brace"},
        {header(kLines, kCols, 3, "data ignore value = -9999\ndata ignore value = -2147483648\n"),
         "\n\n\tThe header " + f.shown("a_m4.hdr") +
             " cannot be used: it gives the key \"data ignore value\" more than once, so that which of its values "
             "holds is not clear\n"},
        {"ENVI\nsamples = 99999999999999999999\n",
         "its samples 99999999999999999999 is too large a number to hold (a field holds at most 9223372036854775807)"},
    };
    for (const auto &c : cases) {
        f.write("a_m4.hdr", c.header);
        RunResult r = run_karvel(f.name() + kAnswers);
        EXPECT_EQ(r.status, 0) << c.said;
        EXPECT_THAT(r.out, HasSubstr(c.said));
        EXPECT_FALSE(f.exists("r_karvel.txt"));
    }
    // One position with data in both.
    std::vector<int> lone(kLines * kCols, kNoA);
    lone[9] = 5;
    f.write("a_m4.raw", bytes32(lone));
    f.write("a_m4.hdr", header(kLines, kCols, 3, "data ignore value = -9999\n"));
    RunResult r = run_karvel(f.name() + kAnswers);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, HasSubstr("\n\n\tThe rasters " + f.shown("a_m4.raw") + " and " + f.shown("b_m4.raw") +
                                 " have 1 positions with data in both: a comparison needs at least 2\n"));
    EXPECT_THAT(r.out, HasSubstr("Result file not written: " + f.shown("r_karvel.txt")));
    EXPECT_FALSE(f.exists("r_karvel.txt"));
}
