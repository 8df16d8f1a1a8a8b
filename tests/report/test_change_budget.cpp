// The change budget's parts: its options, the normal quantile, and one
// line's cells summed by rule, class and area.
#include <gtest/gtest.h>

#include <cmath>

#include "readers/change_budget.h"
#include "readers/change_histogram.h"

TEST(ChangeOptions, EachThresholdAloneAndItsValuesChecked) {
    struct Case {
        std::vector<std::pair<std::string, std::string>> given;  // option, value ("" for --change)
        std::string problem;                                     // part of the problem, empty: taken
    };
    const Case cases[] = {
        {{{"change", ""}, {"lod", "0.2"}}, ""},
        {{{"change", ""}, {"lod", "0"}}, ""},
        {{{"change", ""}, {"sigma", " 0.1 "}, {"confidence", "0.8"}}, ""},
        {{{"change", ""}, {"sigma", "stable"}, {"stable", "m.tif"}}, ""},
        {{}, ""},
        {{{"change", ""}}, "needs a threshold"},
        {{{"change", ""}, {"sigma", "0.1"}, {"sigma", "0.2"}}, "one threshold"},
        {{{"change", ""}, {"lod", "-0.1"}}, "negative"},
        {{{"change", ""}, {"lod", "1e999"}}, "not a number of metres"},
        {{{"change", ""}, {"sigma", "0.1,-2"}}, "negative"},
        {{{"change", ""}, {"sigma", "0.1,"}}, "not a number"},
        {{{"change", ""}, {"sigma", "0.1"}, {"confidence", "1.5"}}, "between 0 and 1"},
        {{{"change", ""}, {"lod", "1"}, {"confidence", "0.5"}}, "--confidence applies to --sigma"},
        {{{"change", ""}, {"sigma", "stable"}}, "--sigma stable needs --stable"},
        {{{"change", ""}, {"sigma", "1"}, {"stable", "m.tif"}}, "--stable belongs to --sigma stable"},
        {{{"sigma", "1"}}, "belong to --change"},
    };
    for (const Case &c : cases) {
        ChangeOptions o;
        std::string p;
        for (const auto &[option, value] : c.given) {
            if (option == "change") o.on = true;
            if (option == "lod") p = take_lod(value, o);
            if (option == "sigma") p = take_sigma(value, o);
            if (option == "confidence") p = take_confidence(value, o);
            if (option == "stable") o.stable = value;
            if (!p.empty()) break;
        }
        if (p.empty()) p = change_options_problem(o);
        if (c.problem.empty()) {
            EXPECT_EQ(p, "") << c.given.size();
        } else {
            EXPECT_NE(p.find(c.problem), std::string::npos) << p;
        }
    }
    ChangeOptions o;
    EXPECT_EQ(take_sigma("0.3,0.4", o), "");
    EXPECT_EQ(fixed_detection(o).error, 0.5);
    EXPECT_EQ(take_sigma("2", o), "");
    EXPECT_EQ(o.sigma2, 2);
}

TEST(ChangeOptions, TheNormalQuantileOfTheConfidence) {
    EXPECT_NEAR(confidence_z(0.95), 1.959963984540054, 1e-15);
    EXPECT_NEAR(confidence_z(0.80), 1.2815515655446004, 1e-15);
    EXPECT_NEAR(confidence_z(0.6826894921370859), 1.0, 1e-14);
}

TEST(BudgetSums, ALineByRuleClassAndArea) {
    // Eight cells of 2 m²: one left out, one unchanged, a cell exactly at a
    // strict and at an inclusive limit, one without a class (the fallback).
    const double d[] = {-3, 0.5, 0, -0.5, 9, 0.25, -1, 0.25};
    const unsigned char keep[] = {1, 1, 1, 1, 0, 1, 1, 1};
    const int32_t cls[] = {0, 0, 0, 1, 0, 1, -1, 0};
    const std::vector<Detection> rules = {{0.5, true, 0.5}, {0.25, false, 0.1}};
    const Detection fallback{2, false, 1};
    float dod[8];
    BudgetSums s;
    s.add_line(d, keep, 8, 2.0, cls, rules, fallback, dod);
    const ChangeBudget &b = s.budget();
    EXPECT_EQ(b.area_m2, 14);
    EXPECT_EQ(b.raw_erosion.cells, 3);
    EXPECT_EQ(b.raw_erosion.volume_m3, 9);
    EXPECT_EQ(b.raw_deposition.cells, 3);
    EXPECT_EQ(b.raw_deposition.volume_m3, 2);
    // Detected: -3 (class 0), -0.5 (class 1, at its inclusive limit), 0.25
    // (class 1 at its limit); not 0.5 (at class 0's strict limit), -1 (the
    // fallback's 2), 0.25 of class 0.
    EXPECT_EQ(b.erosion.cells, 2);
    EXPECT_EQ(b.erosion.volume_m3, 7);
    EXPECT_DOUBLE_EQ(b.erosion.volume_error_m3, 1.2);
    EXPECT_EQ(b.deposition.cells, 1);
    EXPECT_EQ(b.deposition.area_m2, 2);
    EXPECT_EQ(b.deposition.mean_depth_m(), 0.25);
    EXPECT_EQ(b.net_m3(), 0.5 - 7);
    EXPECT_DOUBLE_EQ(b.net_error_m3(), std::sqrt(1.2 * 1.2 + 0.2 * 0.2));
    EXPECT_DOUBLE_EQ(b.area_detected_percent(), 100 * 6.0 / 14);
    EXPECT_DOUBLE_EQ(b.percent_imbalance(), 100 * (0.5 - 7) / (2 * 7.5));
    const float want[] = {-3, NAN, NAN, -0.5, NAN, 0.25, NAN, NAN};
    for (int j = 0; j < 8; j++) {
        if (std::isnan(want[j])) {
            EXPECT_TRUE(std::isnan(dod[j])) << j;
        } else {
            EXPECT_EQ(dod[j], want[j]) << j;
        }
    }
    // A second line of other cells adds in: nothing detected means no depth.
    BudgetSums t;
    t.add_line(d, nullptr, 2, 1.0, nullptr, {{5, true, 5}}, fallback);
    EXPECT_EQ(t.budget().erosion.cells, 0);
    EXPECT_TRUE(std::isnan(t.budget().erosion.mean_depth_m()));
    EXPECT_TRUE(std::isnan(t.budget().percent_imbalance()));
    EXPECT_EQ(t.budget().raw_deposition.mean_depth_m(), 0.5);
}

TEST(BudgetSums, ALongLineSumsEveryCellInColumnOrder) {
    // 1000 cells (the line is summed in blocks): each sum the very double
    // that adding each cell's |d| in column order gives, with cells left out,
    // unchanged cells and cells at the limit among them.
    std::vector<double> d(1000);
    std::vector<unsigned char> keep(d.size());
    for (size_t j = 0; j < d.size(); j++) {
        d[j] = j % 11 == 0 ? 0.0 : j % 13 == 0 ? -0.75 : std::sin(double(j) * 0.37) * (1 + double(j % 5));
        keep[j] = j % 17 != 3;
    }
    const Detection rule{0.75, false, 0.3};
    for (const bool some_left_out : {false, true}) {
        const unsigned char *k = some_left_out ? keep.data() : nullptr;
        long long n = 0, cells[4] = {0, 0, 0, 0};
        double sum[4] = {0, 0, 0, 0}, error[2] = {0, 0};  // raw ero, raw dep, ero, dep
        for (size_t j = 0; j < d.size(); j++) {
            if (k && !k[j]) continue;
            n++;
            if (d[j] == 0) continue;
            const int side = d[j] > 0, detected = std::fabs(d[j]) >= rule.limit;
            cells[side]++;
            sum[side] += std::fabs(d[j]);
            if (!detected) continue;
            cells[2 + side]++;
            sum[2 + side] += std::fabs(d[j]);
            error[side] += rule.error;
        }
        std::vector<float> dod(d.size());
        BudgetSums s;
        s.add_line(d.data(), k, int(d.size()), 3.0, nullptr, {rule}, rule, dod.data());
        const ChangeBudget &b = s.budget();
        EXPECT_EQ(b.area_m2, double(n) * 3.0);
        const ChangeSide *sides[4] = {&b.raw_erosion, &b.raw_deposition, &b.erosion, &b.deposition};
        for (int i = 0; i < 4; i++) {
            EXPECT_EQ(sides[i]->cells, cells[i]) << i;
            EXPECT_EQ(sides[i]->volume_m3, sum[i] * 3.0) << i;
        }
        EXPECT_EQ(b.erosion.volume_error_m3, error[0] * 3.0);
        EXPECT_EQ(b.deposition.volume_error_m3, error[1] * 3.0);
        for (size_t j = 0; j < d.size(); j++) {
            const bool detected = (!k || k[j]) && d[j] != 0 && std::fabs(d[j]) >= rule.limit;
            if (detected) EXPECT_EQ(dod[j], float(d[j])) << j;
            else EXPECT_TRUE(std::isnan(dod[j])) << j;
        }
    }
    // A difference that is not a number counts as eroded and is never
    // detected; −0 is no change.
    const double odd[] = {NAN, -0.0, 2};
    BudgetSums t;
    t.add_line(odd, nullptr, 3, 1.0, nullptr, {rule}, rule);
    EXPECT_EQ(t.budget().raw_erosion.cells, 1);
    EXPECT_TRUE(std::isnan(t.budget().raw_erosion.volume_m3));
    EXPECT_EQ(t.budget().erosion.cells, 0);
    EXPECT_EQ(t.budget().deposition.cells, 1);
    EXPECT_EQ(t.budget().area_m2, 3);
}

TEST(ChangeHistogram, AValueThatIsNotFiniteHasNoBinAndAWildOneWidensTheBins) {
    const double d[] = {0.5, NAN, INFINITY, -INFINITY, 0.25, 1e300, -0.5};
    ChangeHistogram h(0.125);
    h.add(d, nullptr, 7, 1.0);
    double area = 0;
    for (double a : h.areas()) area += a;
    EXPECT_EQ(area, 4.0);  // the four finite cells with a change
    EXPECT_GE(h.width(), 1e300 / double(ChangeHistogram::kMostBins) / 2);
    EXPECT_LE(h.areas().size(), ChangeHistogram::kMostBins);
}

TEST(ChangeHistogram, CellsAfterTheBinsWidenInTheirLineTakeTheNewBins) {
    auto total = [](const ChangeHistogram &h) {
        double a = 0;
        for (double x : h.areas()) a += x;
        return a;
    };
    // Two cells 1.2 km apart widen bins of 1 m past kMostBins; the hundred
    // after them in the same line fall in the bin of 1000.5 at the new width.
    std::vector<double> d = {-600000, 600000};
    d.insert(d.end(), 100, 1000.5);
    ChangeHistogram h(1.0);
    h.add(d.data(), nullptr, int(d.size()), 1.0);
    EXPECT_GT(h.width(), 1.0);
    const long long b = (long long)std::floor(1000.5 / h.width()) - h.first_bin();
    ASSERT_GE(b, 0);
    ASSERT_LT(b, (long long)h.areas().size());
    EXPECT_EQ(h.areas()[size_t(b)], 100);
    EXPECT_EQ(total(h), 102);
    // Bin numbers past a double's whole numbers (2^53) and near the largest
    // kept: each cell in the bins, none written outside them, no overflow.
    const double f = 0x1p55 + 8192;
    ChangeHistogram g(1.0);
    for (double v : {f, f + 8, f - 8, f - 16, f - 32, f - 64}) g.add(&v, nullptr, 1, 1.0);
    EXPECT_EQ(total(g), 6);
    const double low = -0x1p62 + 1024;
    ChangeHistogram e(1.0);
    for (double v : {low, low + 0x1p19, low - 512, 0x1p62 - 512}) e.add(&v, nullptr, 1, 1.0);
    EXPECT_EQ(total(e), 4);
    EXPECT_LE(e.areas().size(), ChangeHistogram::kMostBins);
}

TEST(ChangeHistogram, BinsWidenedStillHoldEachCellInItsBin) {
    // Cells from -3 to 5 m in bins of a nanometre to begin with: far more
    // than kMostBins, so the bins widen until they fit, each cell in the bin
    // of its d at the final width; erosion and deposition never share one.
    std::vector<double> d;
    for (int k = 0; k < 4000; k++) d.push_back(k % 7 == 0 ? 0.0 : -3 + 8 * std::fmod(k * 0.6180339887, 1.0));
    std::vector<unsigned char> keep(d.size(), 1);
    keep[5] = 0;
    ChangeHistogram h(1e-9);
    h.add(d.data(), keep.data(), int(d.size()), 2.0);
    EXPECT_LE(h.areas().size(), ChangeHistogram::kMostBins);
    EXPECT_GT(h.width(), 8.0 / double(ChangeHistogram::kMostBins));
    std::vector<double> area(h.areas().size()), volume(h.areas().size());
    for (size_t k = 0; k < d.size(); k++) {
        if (!keep[k] || d[k] == 0) continue;
        const long long b = (long long)std::floor(d[k] / h.width()) - h.first_bin();
        ASSERT_GE(b, 0);
        ASSERT_LT(b, (long long)area.size());
        area[size_t(b)] += 2.0;
        volume[size_t(b)] += std::fabs(d[k]) * 2.0;
    }
    for (size_t b = 0; b < area.size(); b++) {
        EXPECT_EQ(h.areas()[b], area[b]) << b;
        EXPECT_NEAR(h.volumes()[b], volume[b], 1e-12 * volume[b]) << b;
    }
    // Bin -1 ends at 0, bin 0 begins there.
    const double w = h.width();
    EXPECT_EQ(std::floor(-1e-300 / w), -1.0);
}
