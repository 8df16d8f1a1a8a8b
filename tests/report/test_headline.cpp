// The headline figures against an independent computation, and the
// co-registration's lines among them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>

#include "coreg.h"
#include "headline.h"

namespace {

// Order statistics by sorting, sums in long double: an independent route.
struct Expected {
    double mean, sd, rms_n, mae, median, nmad, le90, le95, r;
};

double sorted_median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

Expected expected(const std::vector<double> &x, const std::vector<double> &y) {
    const size_t n = x.size();
    std::vector<double> d(n), a(n);
    long double sd = 0, sa = 0, sq = 0, mx = 0, my = 0;
    for (size_t i = 0; i < n; i++) {
        d[i] = y[i] - x[i];
        a[i] = std::fabs(d[i]);
        sd += d[i], sa += a[i], sq += (long double)d[i] * d[i], mx += x[i], my += y[i];
    }
    Expected e;
    e.mean = double(sd / n);
    long double dev = 0, cxy = 0, cxx = 0, cyy = 0;
    mx /= n, my /= n;
    for (size_t i = 0; i < n; i++) {
        dev += (d[i] - sd / n) * (d[i] - sd / n);
        cxy += (x[i] - mx) * (y[i] - my), cxx += (x[i] - mx) * (x[i] - mx), cyy += (y[i] - my) * (y[i] - my);
    }
    e.sd = double(std::sqrt(dev / (n - 1)));
    e.rms_n = double(std::sqrt(sq / n));
    e.mae = double(sa / n);
    e.median = sorted_median(d);
    std::vector<double> off(n);
    for (size_t i = 0; i < n; i++) off[i] = std::fabs(d[i] - e.median);
    e.nmad = 1.4826 * sorted_median(off);
    std::sort(a.begin(), a.end());
    e.le90 = a[size_t(std::ceil(0.90 * n)) - 1];
    e.le95 = a[size_t(std::ceil(0.95 * n)) - 1];
    e.r = double(cxy / std::sqrt(cxx * cyy));
    return e;
}

Headline run(const std::vector<double> &x, const std::vector<double> &y, int cols) {
    DiffStats s;
    EXPECT_TRUE(s.reserve(x.size()));
    for (size_t i = 0; i < x.size(); i += size_t(cols)) s.add_line(&x[i], &y[i], cols);
    return s.finish_held(0.0, 1.0, 0.0, "m");
}

void expect_close(const Headline &h, const Expected &e) {
    const double tol = 1e-9;
    EXPECT_NEAR(h.mean_diff, e.mean, tol);
    EXPECT_NEAR(h.sd_diff, e.sd, tol);
    EXPECT_NEAR(h.rms_n, e.rms_n, tol);
    EXPECT_NEAR(h.mae, e.mae, tol);
    EXPECT_EQ(h.median_diff, e.median);  // exact order statistics
    EXPECT_EQ(h.nmad, e.nmad);
    EXPECT_EQ(h.le90, e.le90);
    EXPECT_EQ(h.le95, e.le95);
    EXPECT_NEAR(h.r, e.r, 1e-9);
}

}  // namespace

TEST(Headline, ElevationsFarFromZeroWithOutliers) {
    // High elevations with a small spread, then a far outlier at the first position.
    std::mt19937_64 gen(3);
    std::normal_distribution<double> terrain(2500.0, 40.0), noise(0.0, 0.3);
    for (int lines : {63, 64}) {  // an odd and an even count of positions
        const int cols = 33 + (lines % 2);
        std::vector<double> x, y;
        for (int i = 0; i < lines * cols; i++) {
            const double v = std::round(terrain(gen) * 100) / 100;
            x.push_back(v);
            y.push_back(1.001 * v - 2.0 + noise(gen) + (i % 500 == 7 ? 80.0 : 0.0));
        }
        expect_close(run(x, y, cols), expected(x, y));
        // A nodata-like first position, far from every other: the spread
        // and r lose nothing to it (sums about it would cancel away r's
        // digits and could even give |r| > 1).
        x[0] = -2e9, y[0] = 2.1e9;
        const Headline h = run(x, y, cols);
        const Expected e = expected(x, y);
        EXPECT_NEAR(h.r, e.r, 1e-13);
        EXPECT_LE(std::fabs(h.r), 1.0);
        EXPECT_NEAR(h.sd_diff, e.sd, 1e-13 * e.sd);
    }
}

TEST(Headline, ConstantOffsetAndDegenerateCases) {
    std::vector<double> x = {1, 2, 3, 4, 5, 6}, y = {3, 4, 5, 6, 7, 8};
    Headline h = run(x, y, 3);
    EXPECT_EQ(h.mean_diff, 2.0);
    EXPECT_EQ(h.sd_diff, 0.0);
    EXPECT_EQ(h.median_diff, 2.0);
    EXPECT_EQ(h.nmad, 0.0);
    EXPECT_EQ(h.le90, 2.0);
    EXPECT_EQ(h.min_diff, 2.0);
    EXPECT_EQ(h.max_diff, 2.0);
    EXPECT_NEAR(h.r, 1.0, 1e-15);
    // One position: no spread, no correlation; the JSON shows null, never a number made up.
    Headline one = run({5}, {6}, 1);
    EXPECT_TRUE(std::isnan(one.sd_diff));
    EXPECT_EQ(one.median_diff, 1.0);
    const std::string j = json_text(headline_json(one));
    EXPECT_NE(j.find("\"sd_diff\": null,"), std::string::npos) << j;
    EXPECT_NE(j.find("\"r\": null,"), std::string::npos) << j;
    EXPECT_NE(j.find("\"median_diff\": 1,"), std::string::npos) << j;
    // The console says so in words where the JSON file has null.
    const auto lines = headline_lines(one);
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        std::string("Standard deviation of the differences      not defined")),
              lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        std::string("Median difference                          1.000000 m")),
              lines.end());
}

TEST(Headline, JsonKeysInOrderAndNumbersExact) {
    Headline h;
    h.n = 4;
    h.unit = "grey level";
    h.mean_diff = 0.1 + 0.2;
    h.b1 = -1e-20;
    const std::string j = json_text(headline_json(h));
    const char *keys[] = {"n", "unit", "mean_diff", "sd_diff", "rms", "rms_n", "mae", "median_diff", "nmad",
                          "le90", "le95", "min_diff", "max_diff", "r", "r2", "b0", "b1"};
    size_t at = 0;
    for (const char *k : keys) {
        const size_t p = j.find(std::string("\"") + k + "\":", at);
        ASSERT_NE(p, std::string::npos) << k;
        at = p;
    }
    EXPECT_NE(j.find("\"unit\": \"grey level\""), std::string::npos);
    EXPECT_NE(j.find("\"mean_diff\": 0.30000000000000004,"), std::string::npos);
    EXPECT_NE(j.find("\"b1\": -1e-20\n}"), std::string::npos) << j;
}

TEST(Headline, SoughtDuringTheWalkGivesTheFiguresOfHoldingThem) {
    // Large enough for the sampled search; DEM-like values in decimeters
    // (many equal differences), an odd count of lines of an odd width.
    std::mt19937_64 gen(21);
    const int lines = 1031, cols = 1023;
    std::vector<double> x(size_t(lines) * cols), y(x.size());
    auto fill = [&](int spread) {
        for (size_t i = 0; i < x.size(); i++) {
            x[i] = double(1000 + gen() % 30000) * 0.1;
            y[i] = double(1000 + (gen() % size_t(spread)) + size_t(x[i] * 10.0 + 0.5) - 1000) * 0.1;
        }
    };
    std::vector<double> d(static_cast<size_t>(cols));
    auto sought = [&](std::vector<double> sample, int &walks) {
        DiffStats s;
        s.rank_during_walk(x.size(), std::move(sample));
        // Every other line with its differences formed beforehand, as the
        // report's walk hands them over.
        std::vector<double> given(static_cast<size_t>(cols));
        for (size_t i = 0, k = 0; i < x.size(); i += size_t(cols), k++) {
            if (k % 2 == 0) {
                s.add_line(&x[i], &y[i], cols);
                continue;
            }
            for (int j = 0; j < cols; j++) given[size_t(j)] = y[i + size_t(j)] - x[i + size_t(j)];
            s.add_line(&x[i], &y[i], given.data(), cols);
        }
        return s.finish_walked(0.0, 1.0, 0.0, "m",
                               [&](const ValueBlock &take) {
                                   for (size_t i = 0; i < x.size(); i += size_t(cols)) {
                                       for (int j = 0; j < cols; j++) d[size_t(j)] = y[i + size_t(j)] - x[i + size_t(j)];
                                       take(d.data(), size_t(cols));
                                   }
                               },
                               &walks);
    };
    auto regular = [&] {
        std::vector<double> s;
        for (size_t i = 0; i < x.size(); i += x.size() / kRankSample) s.push_back(y[i] - x[i]);
        return s;
    };
    for (int spread : {40, 3, 1}) {  // a few tens of values, three, and a constant offset
        fill(spread);
        const Headline held = run(x, y, cols);
        int walks = -1;
        const Headline walked = sought(regular(), walks);
        // Every figure, bit for bit.
        EXPECT_EQ(json_text(headline_json(walked)), json_text(headline_json(held))) << spread;
        EXPECT_EQ(walked.clip, held.clip);
        // Settled during the walk itself; a constant offset has no spread
        // to bracket its NMAD by, and walks once more for it.
        EXPECT_EQ(walks, spread == 1 ? 1 : 0) << spread;
        // A sample that misleads, or none at all, costs walks, never exactness.
        for (const auto &bad : {std::vector<double>(kRankSample, 1e6), std::vector<double>{}}) {
            EXPECT_EQ(json_text(headline_json(sought(bad, walks))), json_text(headline_json(held))) << spread;
            EXPECT_GT(walks, 0);
        }
    }
}

TEST(Headline, ASearchHeldToASmallShareGivesTheFiguresOfHoldingThem) {
    // Brackets far fuller than the search may hold: the ranks placed among
    // the sample's values inside them, and found exactly, on a sample's
    // value or in at most one walk again, however little it holds.
    std::mt19937_64 gen(33);
    std::normal_distribution<double> normal(0.3, 1.5);
    const int lines = 1031, cols = 1021;
    const size_t n = size_t(lines) * cols;
    std::vector<double> x(n), y(n);
    const struct {
        const char *what;
        std::function<double(double)> second;  // of the first
        int walks;                              // at most
    } cases[] = {
        {"decimetres, rounding noise", [&](double a) { return a + double(int(gen() % 41) - 20) * 0.1; }, 1},
        {"continuous", [&](double a) { return a + normal(gen); }, 1},
        {"three values", [&](double) { return double(gen() % 3) * 0.5 - 0.5; }, 0},  // all on the sample's values
        // More than half equal to the median: the NMAD is walked for apart.
        {"most equal", [&](double a) { return gen() % 8 ? a + 0.25 : a + normal(gen); }, 2},
    };
    for (const auto &c : cases) {
        for (size_t i = 0; i < n; i++) {
            x[i] = double(1000 + gen() % 30000) * 0.1;
            y[i] = c.second(x[i]);
        }
        if (std::string(c.what) == "three values") std::fill(x.begin(), x.end(), 0.0);
        const Headline held = run(x, y, cols);
        std::vector<double> sample;
        for (size_t i = 0; i < n; i += n / kRankSample) sample.push_back(y[i] - x[i]);
        for (size_t share : {size_t(1), size_t(4096), size_t(1) << 16}) {
            DiffStats s;
            s.rank_during_walk(n, sample, share);
            for (size_t i = 0; i < n; i += size_t(cols)) s.add_line(&x[i], &y[i], cols);
            int walks = -1;
            const Headline walked = s.finish_walked(0.0, 1.0, 0.0, "m", [&](const ValueBlock &take) {
                std::vector<double> d(static_cast<size_t>(cols));
                for (size_t i = 0; i < n; i += size_t(cols)) {
                    for (int j = 0; j < cols; j++) d[size_t(j)] = y[i + size_t(j)] - x[i + size_t(j)];
                    take(d.data(), d.size());
                }
            }, &walks);
            const std::string at = std::string(c.what) + ", share " + std::to_string(share);
            EXPECT_EQ(json_text(headline_json(walked)), json_text(headline_json(held))) << at;
            EXPECT_EQ(walked.clip, held.clip) << at;
            if (share > 1) {
                EXPECT_LE(walks, c.walks) << at;
            }
        }
    }
}

TEST(Headline, EachFinishRanksOnlyInItsOwnWay) {
    const std::vector<double> x = {1, 2, 3, 4, 5, 6}, y = {3, 5, 4, 6, 9, 8};
    const auto walk = [&](const ValueBlock &take) {
        std::vector<double> d(x.size());
        for (size_t i = 0; i < x.size(); i++) d[i] = y[i] - x[i];
        take(d.data(), d.size());
    };
    DiffStats held, walked, unchosen;
    EXPECT_EQ(held.ranks(), DiffStats::Ranks::unchosen);
    ASSERT_TRUE(held.reserve(x.size()));
    held.rank_during_walk(x.size(), {});  // the way is chosen once
    EXPECT_EQ(held.ranks(), DiffStats::Ranks::held);
    walked.rank_during_walk(x.size(), {});
    EXPECT_FALSE(walked.reserve(x.size()));
    EXPECT_EQ(walked.ranks(), DiffStats::Ranks::walked);
    for (DiffStats *s : {&held, &walked, &unchosen}) s->add_line(x.data(), y.data(), int(x.size()));
    const Headline a = held.finish_held(0, 1, 0, "m");
    int walks = -1;
    const Headline b = walked.finish_walked(0, 1, 0, "m", walk, &walks);
    EXPECT_EQ(json_text(headline_json(a)), json_text(headline_json(b)));
    EXPECT_EQ(a.clip, b.clip);
    EXPECT_EQ(a.median_diff, 2.0);  // of 1, 2, 2, 2, 3, 4
    EXPECT_GT(walks, 0);  // too few positions for a search during the walk
    // The other finish, or none chosen: the sums' figures, and no rank.
    for (const Headline &h : {held.finish_walked(0, 1, 0, "m", walk), walked.finish_held(0, 1, 0, "m"),
                              unchosen.finish_held(0, 1, 0, "m"), unchosen.finish_walked(0, 1, 0, "m", walk)}) {
        EXPECT_EQ(h.mean_diff, a.mean_diff);
        EXPECT_EQ(h.r, a.r);
        EXPECT_TRUE(std::isnan(h.median_diff) && std::isnan(h.nmad) && std::isnan(h.le90) && std::isnan(h.le95) &&
                    std::isnan(h.clip));
    }
}

// R_coreg.json as karvel-import writes it now: the NMAD before and after
// on the same cells, said so, a shift not applied and the tilt taken out
// said too; the file of an earlier import shows what it showed; figures of
// all the cells that are not whole are refused, named.
TEST(HeadlineCoreg, BothNmadsAreOnTheSameCellsAndEarlierFilesReadAsBefore) {
    const std::string earlier =
        "{\n  \"dx_m\": -12.500000,\n  \"dy_m\": 3.250000,\n  \"dz_m\": 0.750000,\n  \"bias_removed\": false,\n"
        "  \"iterations\": 3,\n  \"nmad_before\": 4.000000,\n  \"nmad_after\": 0.500000,\n  \"n_fit\": 1234,\n"
        "  \"method\": \"nuth_kaab\",\n  \"resampling\": \"bilinear\"";
    CoregFigures c;
    ASSERT_EQ(parse_coreg(earlier + "\n}\n", c), "");
    const std::vector<std::string> before = coreg_lines(c);
    ASSERT_EQ(before.size(), 5u);
    EXPECT_EQ(before[3], "NMAD before co-registration                4.000000 m");
    EXPECT_EQ(before[4], "NMAD after co-registration                 0.500000 m");
    EXPECT_EQ(json_text(coreg_json(c)).find("all"), std::string::npos);

    ASSERT_EQ(parse_coreg(earlier + ",\n  \"nmad_all_before\": 1.045000,\n  \"nmad_all_after\": 1.040000,\n"
                                    "  \"n_all\": 25600,\n  \"stable_only\": true,\n  \"applied\": false,\n"
                                    "  \"deramp_order\": 1,\n  \"warnings\": []\n}\n",
                          c),
              "");
    EXPECT_EQ(coreg_lines(c), (std::vector<std::string>{
                                  "Co-registration: SECOND moved east         -12.500000 m",
                                  "Co-registration: SECOND moved north        3.250000 m",
                                  "Co-registration: the shift found           not applied: it would not improve the "
                                  "agreement",
                                  "Co-registration: tilt taken out            a plane",
                                  "Vertical bias dz (left in)                 0.750000 m",
                                  "NMAD before co-registration                1.045000 m on the 25600 stable cells "
                                  "with data in both",
                                  "NMAD after co-registration                 1.040000 m on the same 25600 stable cells",
                              }));
    // As the report's JSON holds it: an object on one line.
    const std::string in_report = json_text(Json{{"coreg", coreg_json(c)}});
    EXPECT_NE(in_report.find("\"n_fit\": 1234, \"nmad_all_before\": 1.045000, \"nmad_all_after\": 1.040000, "
                                            "\"n_all\": 25600, \"stable_only\": true, \"applied\": false, "
                                            "\"deramp_order\": 1}"),
              std::string::npos)
        << in_report;

    EXPECT_EQ(parse_coreg(earlier + ",\n  \"nmad_all_before\": 1.045000,\n  \"nmad_all_after\": 1.0", c),
              "its \"n_all\" is missing or not a number");
    EXPECT_EQ(parse_coreg(earlier + ",\n  \"nmad_all_before\": 1,\n  \"nmad_all_after\": 1,\n  \"n_all\": 9,\n"
                                    "  \"deramp_order\": \"plane\"\n}\n",
                          c),
              "its \"deramp_order\" is missing or not a number");
}
