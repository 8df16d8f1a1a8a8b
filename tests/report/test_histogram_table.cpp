// karvel's histogram table as the report reads it: its rows, and a table
// too long to hold bin by bin held in groups with their fingerprints.
#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "charts.h"
#include "histogram_table.h"

namespace {

std::string table_text(const std::vector<long long> &rows) {
    std::string t;
    for (size_t k = 0; k < rows.size(); k++) t += std::to_string(k + 1) + "\t" + std::to_string(rows[k]) + "\r\n";
    return t;
}

}  // namespace

TEST(HistogramTable, RowsInOrderWithTheirCounts) {
    HistogramTable t;
    ASSERT_EQ(parse_histogram_table("1\t8100\r\n2\t0\r\n3\t12\r\n", t), "");
    EXPECT_EQ(t.counts, (std::vector<long long>{0, 8100, 0, 12}));
    EXPECT_EQ(t.bins, 4u);
    ASSERT_TRUE(t.put_bin_zero(9000));
    EXPECT_EQ(t.counts[0], 888);
    EXPECT_FALSE(t.put_bin_zero(8000));  // more counted than compared
    ASSERT_EQ(parse_histogram_table("", t), "");  // every error below a tenth
    EXPECT_EQ(t.bins, 1u);
    ASSERT_EQ(parse_histogram_table("1\t5", t), "");  // the last row without its line end
    EXPECT_EQ(t.bins, 2u);
    EXPECT_EQ(parse_histogram_table("1\t8100\r\n3\t5\r\n", t), "row 2 is not a row of the table");
    EXPECT_EQ(parse_histogram_table("1\t-3\r\n", t), "row 1 is not a row of the table");
    EXPECT_EQ(parse_histogram_table("1\t\r\n", t), "row 1 is not a row of the table");
    EXPECT_EQ(parse_histogram_table("1\t5\n\n", t), "row 2 is not a row of the table");
    EXPECT_EQ(parse_histogram_table("1\t5\t6\n", t), "row 1 is not a row of the table");
    EXPECT_EQ(parse_histogram_table("1\t" + std::string(300, '0') + "5\n", t), "row 1 is not a row of the table");
}

// Held in groups past the bound, the table keeps each group's count and
// fingerprint whatever pieces it came in; the figure's counts stay within
// their bound and add up to the table's; a count moved to another bin of
// its group changes the group's fingerprint.
TEST(HistogramTable, ALongTableIsHeldInGroupsWithTheirFingerprints) {
    std::mt19937 rng(3);
    std::vector<long long> rows(1000);
    for (long long &c : rows) c = rng() % 4 == 0 ? rng() % 1000 : 0;
    const std::string text = table_text(rows);
    HistogramTable t;
    {
        HistogramRows in(t, 64);
        for (size_t at = 0; at < text.size(); at += 7) in.feed(text.data() + at, std::min<size_t>(7, text.size() - at));
        ASSERT_EQ(in.end(), "");
    }
    const long long total = std::accumulate(rows.begin(), rows.end(), 0LL);
    ASSERT_TRUE(t.put_bin_zero(total + 17));
    EXPECT_EQ(t.bins, 1001u);
    EXPECT_EQ(t.width, 16u);  // 1001 bins in at most 64 groups
    ASSERT_EQ(t.groups(), 63u);
    for (size_t g = 0; g < t.groups(); g++) {
        long long count = g == 0 ? 17 : 0;
        uint64_t print = g == 0 ? 17 * bin_print(0) : 0;
        for (size_t k = std::max<size_t>(1, g * 16); k < std::min<size_t>(1001, (g + 1) * 16); k++)
            count += rows[k - 1], print += uint64_t(rows[k - 1]) * bin_print(k);
        EXPECT_EQ(t.counts[g], count) << g;
        EXPECT_EQ(t.prints[g], print) << g;
    }
    size_t width = 0;
    const std::vector<long long> figure = figure_counts(t, width, 10);
    EXPECT_EQ(width, 128u);
    EXPECT_EQ(figure.size(), 8u);
    EXPECT_EQ(std::accumulate(figure.begin(), figure.end(), 0LL), total + 17);

    // One count moved within group 3: the counts agree, the fingerprints not.
    std::vector<long long> moved = rows;
    moved[48 - 1] += 5, moved[50 - 1] -= 5;
    if (moved[50 - 1] < 0) moved[50 - 1] += 10, moved[48 - 1] -= 10;
    HistogramTable u;
    ASSERT_EQ(parse_histogram_table(table_text(moved), u, 64), "");
    ASSERT_TRUE(u.put_bin_zero(total + 17));
    EXPECT_EQ(u.counts, t.counts);
    EXPECT_EQ(u.counts[3], t.counts[3]);
    EXPECT_NE(u.prints[3], t.prints[3]);
}

// Up to the figure's bound the figure has the table's own bins, its data
// and script as they always were; past it, bins of a power of two tenths.
TEST(HistogramTable, TheFigureMergesItsBinsPastTenThousand) {
    HistogramTable t;
    ASSERT_EQ(parse_histogram_table(table_text(std::vector<long long>(628, 3)), t), "");
    ASSERT_TRUE(t.put_bin_zero(2000));
    size_t width = 0;
    std::vector<long long> counts = figure_counts(t, width);
    EXPECT_EQ(width, 1u);
    EXPECT_EQ(counts, t.counts);
    Figure f = error_histogram_figure(counts, "m", false, width);
    EXPECT_EQ(f.data[0].second.substr(0, 40), "# bin\terror from (m)\tcount\n0\t0\t116\n1\t0.1");
    EXPECT_NE(f.script.find("set boxwidth 0.1 absolute"), std::string::npos);
    EXPECT_NE(f.script.find("using ($2+0.05):3 with boxes"), std::string::npos);
    EXPECT_NE(f.script.find("in tenths (bin 0 included)"), std::string::npos);

    ASSERT_EQ(parse_histogram_table(table_text(std::vector<long long>(9999, 1)), t), "");
    EXPECT_EQ(figure_counts(t, width).size(), 10000u);  // the bound itself: the table's bins
    EXPECT_EQ(width, 1u);
    ASSERT_EQ(parse_histogram_table(table_text(std::vector<long long>(30000, 1)), t), "");
    ASSERT_TRUE(t.put_bin_zero(40000));
    counts = figure_counts(t, width);
    EXPECT_EQ(width, 4u);
    EXPECT_EQ(counts.size(), 7501u);
    EXPECT_EQ(counts[0], 10003);
    EXPECT_EQ(counts[7500], 1);
    f = error_histogram_figure(counts, "m", true, width);
    EXPECT_NE(f.data[0].second.find("# bin of 4 bins\terror from (m)\tcount\n0\t0\t10003\n1\t0.4\t4\n"),
              std::string::npos);
    EXPECT_NE(f.script.find("set boxwidth 0.4 absolute"), std::string::npos);
    EXPECT_NE(f.script.find("set xrange [0:3000.4]"), std::string::npos);
    EXPECT_NE(f.script.find("using ($2+0.2):($3 > 0 ? $3 : NaN)"), std::string::npos);
    EXPECT_NE(f.script.find("in bins of 4 tenths (bin 0 included)"), std::string::npos);
}
