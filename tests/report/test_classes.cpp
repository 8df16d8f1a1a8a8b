// The figures of the classes, whichever way each class's ranks are found:
// held, sought during the walk from a sample (with an estimated count), or
// walked again once a held class outgrew its room.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "classes.h"

namespace {

double sorted_median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// n differences and their classes, as `make(i, d, cls)` gives each, and
// each class's differences in order.
struct Classed {
    std::vector<double> d;
    std::vector<int32_t> cls;
    std::vector<std::vector<double>> by;
    Classed(size_t n, size_t classes, const std::function<void(size_t, double &, int32_t &)> &make)
        : d(n), cls(n), by(classes) {
        for (size_t i = 0; i < n; i++) {
            make(i, d[i], cls[i]);
            by[size_t(cls[i])].push_back(d[i]);
        }
    }
};

// A class's median, NMAD, LE90 and LE95 against sorting its differences.
void expect_sorted_ranks(const Headline &h, const std::vector<double> &v, size_t k) {
    const double m = sorted_median(v);
    std::vector<double> off, mag;
    for (double x : v) off.push_back(std::fabs(x - m)), mag.push_back(std::fabs(x));
    std::sort(mag.begin(), mag.end());
    EXPECT_EQ(h.median_diff, m) << k;
    EXPECT_EQ(h.nmad, 1.4826 * sorted_median(off)) << k;
    EXPECT_EQ(h.le90, mag[size_t(std::ceil(0.9 * double(v.size()))) - 1]) << k;
    EXPECT_EQ(h.le95, mag[size_t(std::ceil(0.95 * double(v.size()))) - 1]) << k;
}

}  // namespace

TEST(ClassTable, HeldSoughtAndWalkedAgainGiveTheSortedRanks) {
    // 1.25 million differences with many ties: class 2 (5000) outgrows a
    // room of 2000 values, class 1 (about 300) is held, class 0 is sought
    // during the walk for a count estimated 10 % too high.
    const size_t n = 1250000;
    Classed c(n, 3, [](size_t i, double &d, int32_t &cls) {
        d = double(int64_t(i * 7919 % 1013) - 500) * 0.25 + (i % 97 == 0 ? 300 : 0);
        cls = i % 250 == 0 ? 2 : i % 4001 == 1 ? 1 : 0;
    });
    std::vector<double> &d = c.d;
    std::vector<int32_t> &cls = c.cls;
    const std::vector<std::vector<double>> &by = c.by;
    ClassTable table(2000);
    table.classes(3);
    std::vector<double> sample;
    for (size_t i = 0; i < by[0].size() && sample.size() < kRankSample; i += 4) sample.push_back(by[0][i]);
    table.seek(0, by[0].size() * 11 / 10, sample);
    for (size_t at = 0; at < n; at += 1000) table.add(d.data() + at, nullptr, cls.data() + at, 1000);
    std::vector<int> walks(3, 0);
    const std::vector<Headline> h = table.finish(
        [&](size_t k) -> ValueStream {
            return [&, k](const ValueBlock &take) {
                walks[k]++;
                take(by[k].data(), by[k].size());
            };
        },
        "m");
    ASSERT_EQ(h.size(), 3u);
    EXPECT_EQ(walks[0], 0);  // settled in the one walk
    EXPECT_EQ(walks[1], 0);
    EXPECT_GT(walks[2], 0);
    for (size_t k = 0; k < 3; k++) {
        const std::vector<double> &v = by[k];
        EXPECT_EQ(h[k].n, (long long)v.size());
        expect_sorted_ranks(h[k], v, k);
        long double s = 0, sq = 0;
        for (double x : v) s += x, sq += (long double)x * x;
        EXPECT_NEAR(h[k].mean_diff, double(s / v.size()), 1e-9) << k;
        EXPECT_NEAR(h[k].rms, double(std::sqrt(sq / (v.size() - 1))), 1e-9) << k;
    }

    // Positions left out and positions in no class, in runs of every length
    // across the lines: each class takes its kept positions alone.
    std::vector<unsigned char> keep(n);
    std::vector<std::vector<double>> kept(3);
    for (size_t i = 0; i < n; i++) {
        keep[i] = (i / 7) % 5 != 0 && i % 11 != 3;
        cls[i] = int32_t((i / 13 + i / 1700) % 4) - 1;
        if (keep[i] && cls[i] >= 0) kept[size_t(cls[i])].push_back(d[i]);
    }
    ClassTable masked;
    for (size_t at = 0; at < n; at += 999) {
        const int len = int(std::min<size_t>(999, n - at));
        masked.add(d.data() + at, keep.data() + at, cls.data() + at, len);
    }
    const std::vector<Headline> m = masked.finish(
        [&](size_t k) -> ValueStream { return [&, k](const ValueBlock &take) { take(kept[k].data(), kept[k].size()); }; },
        "m");
    ASSERT_EQ(m.size(), 3u);
    for (size_t k = 0; k < 3; k++) {
        std::vector<double> mag;
        for (double x : kept[k]) mag.push_back(std::fabs(x));
        std::sort(mag.begin(), mag.end());
        EXPECT_EQ(m[k].n, (long long)kept[k].size()) << k;
        EXPECT_EQ(m[k].median_diff, sorted_median(kept[k])) << k;
        EXPECT_EQ(m[k].le95, mag[size_t(std::ceil(0.95 * double(mag.size()))) - 1]) << k;
    }
}

TEST(ClassTable, SlopeEdgesAndClasses) {
    const std::vector<double> e = default_slope_edges();
    EXPECT_EQ(slope_class(0, e), 0);
    EXPECT_EQ(slope_class(4.999, e), 0);
    EXPECT_EQ(slope_class(5, e), 1);
    EXPECT_EQ(slope_class(39.9, e), 3);
    EXPECT_EQ(slope_class(90, e), 4);  // the last class holds its upper edge
    EXPECT_EQ(slope_class(NAN, e), -1);
    std::vector<double> given;
    ASSERT_EQ(parse_slope_edges("2,5.5,30", given), "");
    EXPECT_EQ(given, (std::vector<double>{2, 5.5, 30}));
    EXPECT_EQ(slope_class(1, given), -1);
    EXPECT_EQ(slope_class(31, given), -1);
    EXPECT_EQ(slope_class(30, given), 1);
    for (const char *bad : {"", "5", "0,,5", "0,5x", "0,nan", "10,5", "5,5"})
        EXPECT_NE(parse_slope_edges(bad, given), "") << bad;
    // Decimal numbers alone, blanks around each taken alike on either side.
    for (const char *blanks : {" 2,5.5,30", "2 ,5.5,30", "2, 5.5 ,30 ", "\t2\t,5.5,30"}) {
        ASSERT_EQ(parse_slope_edges(blanks, given), "") << blanks;
        EXPECT_EQ(given, (std::vector<double>{2, 5.5, 30})) << blanks;
    }
    EXPECT_EQ(parse_slope_edges("0,0x10,30", given), "\"0x10\" is not a number of degrees");
    EXPECT_EQ(parse_slope_edges("0,10,inf", given), "\"inf\" is not a number of degrees");
    EXPECT_EQ(parse_slope_edges("0, 95 ", given), "the edge 95 lies outside 0 to 90 degrees");
    EXPECT_EQ(parse_slope_edges("0,10 , 5", given), "the edges must increase (5 follows 10)");
    ClassValues values;
    EXPECT_EQ(values.index(7), 0);
    EXPECT_EQ(values.index(-3), 1);
    EXPECT_EQ(values.index(7), 0);
    // Whole numbers of 64 bits, each its own class however near 2^63.
    EXPECT_EQ(values.index(9007199254740993LL), 2);
    EXPECT_EQ(values.index(9007199254740992LL), 3);
    EXPECT_EQ(values.index(INT64_MAX), 4);
    EXPECT_EQ(values.index(INT64_MAX - 1), 5);
    EXPECT_EQ(values.index(9007199254740993LL), 2);
    EXPECT_EQ(values.value(4), INT64_MAX);
    for (int k = 0; k < int(ClassValues::kMaxClasses) - 6; k++) values.index(100 + k);
    EXPECT_EQ(values.index(-100000), -1);
}

// Classes taken on the squared gradient are the classes of GDAL's degrees:
// at and beside every edge's key, at 0, +inf and not a number, between the
// edges, and with more edges than the fast loop holds.
TEST(ClassTable, SlopeClassesByKeyAreThoseOfTheDegrees) {
    std::vector<double> many;
    ASSERT_EQ(parse_slope_edges("0,1,2,3,4,5,6,7,8,9,10,20,45,60,89.9", many), "");
    std::vector<double> given;
    ASSERT_EQ(parse_slope_edges("2,5.5,30", given), "");
    std::vector<double> one;
    ASSERT_EQ(parse_slope_edges("0,90", one), "");
    // Elevations in metres, and stored in millimetres (keys a million times larger).
    for (double scale : {1.0, 1000.0})
    for (const std::vector<double> &edges : {default_slope_edges(), given, many, one}) {
        const SlopeKeys keys(edges, scale);
        std::vector<double> key = {0, INFINITY, NAN, 1e-300, 1e300};
        for (double e : edges)
            for (double k : {horn_key_at_least(e, scale), horn_key_at_most(e, scale)})
                for (double d = k, step = 0; step < 4; step++, d = std::nextafter(d, 0.0)) key.push_back(d);
        for (double e : edges)
            for (double f : {1 - 1e-9, 1 + 1e-9, 1 - 1e-7, 1 + 1e-7}) key.push_back(horn_key_at_least(e, scale) * f);
        for (int t = 0; t < 2000; t++) key.push_back(scale * scale * std::pow(10.0, -4 + t * 0.005));
        for (size_t lanes : {1, 2, 3, 4, 8}) {
            std::vector<int32_t> got(key.size());
            key_classes(key.data(), key.size(), keys, got.data(), lanes);
            for (size_t j = 0; j < key.size(); j++)
                EXPECT_EQ(got[j], slope_class(horn_degrees(key[j], scale), edges))
                    << key[j] << " among " << edges.size() << ", " << lanes << " lanes, scale " << scale;
        }
    }
}

// The class table on the console: columns of 9, 9 and 10 characters, as
// long as every value fits with a space before it; wider ones make their
// column wider for every row, so that no two values run together.
TEST(ClassTable, ColumnsMakeRoomForTheWidestValue) {
    auto row = [](long long value, long long n, double mean) {
        ClassRow r;
        r.value = value;
        r.h.n = n;
        r.h.mean_diff = r.h.sd_diff = r.h.median_diff = r.h.nmad = r.h.rms = r.h.le90 = r.h.le95 = mean;
        return r;
    };
    const std::vector<std::string> plain = class_rows_lines({row(3, 120, 0.5), row(17, 80, -1.25)}, false, "m");
    ASSERT_EQ(plain.size(), 4u);
    EXPECT_EQ(plain[1], "    class        n      mean        sd    median      NMAD       RMS      LE90      LE95");
    EXPECT_EQ(plain[2], "        3      120     0.500     0.500     0.500     0.500     0.500     0.500     0.500");
    EXPECT_EQ(plain[3], "       17       80    -1.250    -1.250    -1.250    -1.250    -1.250    -1.250    -1.250");

    const std::vector<std::string> wide =
        class_rows_lines({row(9007199254740993LL, 123456789, -2147483.648), row(1, 5, 0)}, false, "m");
    ASSERT_EQ(wide.size(), 4u);
    EXPECT_EQ(wide[1], "            class         n         mean           sd       median         NMAD          RMS"
                       "         LE90         LE95");
    EXPECT_EQ(wide[2], " 9007199254740993 123456789 -2147483.648 -2147483.648 -2147483.648 -2147483.648 -2147483.648"
                       " -2147483.648 -2147483.648");
    EXPECT_EQ(wide[3], "                1         5        0.000        0.000        0.000        0.000        0.000"
                       "        0.000        0.000");
}

TEST(ClassTable, ClassesSoughtBeyondTheirShareAreWalkedAgainTogether) {
    // Two classes of about 1.1 million differences each, sought with 4096
    // values held between them, one nearly continuous, one of few values
    // with rounding noise: the ranks their walk only placed between values
    // of their samples are found in one walk again of the table, the same
    // as sorting.
    const size_t n = 2200001;
    const Classed c(n, 2, [](size_t i, double &d, int32_t &cls) {
        cls = int32_t(i % 2);
        d = cls ? double(int64_t(i * 2654435761u % 1000003) - 400000) * 1e-5
                : double(1000 + i * 7919 % 37) * 0.1 - double(1000 + i % 5) * 0.1;
    });
    const std::vector<double> &d = c.d;
    const std::vector<int32_t> &cls = c.cls;
    const std::vector<std::vector<double>> &by = c.by;
    ClassTable table(ClassTable::kHeldRoom, 4096);
    for (size_t k = 0; k < 2; k++) {
        std::vector<double> sample;
        for (size_t i = 0; i < by[k].size(); i += 7) sample.push_back(by[k][i]);
        table.seek(k, by[k].size(), sample);
    }
    const size_t line = 1000;
    for (size_t at = 0; at < n; at += line)
        table.add(d.data() + at, nullptr, cls.data() + at, int(std::min(line, n - at)));
    ASSERT_TRUE(table.plan_again());
    for (size_t at = 0; at < n; at += line)
        table.add_again(d.data() + at, nullptr, cls.data() + at, int(std::min(line, n - at)));
    int walks = 0;
    const std::vector<Headline> h = table.finish(
        [&](size_t k) -> ValueStream {
            return [&, k](const ValueBlock &take) {
                walks++;
                take(by[k].data(), by[k].size());
            };
        },
        "m");
    EXPECT_EQ(walks, 0);  // nothing left to walk class by class
    ASSERT_EQ(h.size(), 2u);
    for (size_t k = 0; k < 2; k++) expect_sorted_ranks(h[k], by[k], k);
}
