// The rank brackets' counts, every form against the definition.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "brackets.h"
#include "edge_values.h"

namespace {

// What a walk of the kernel gives for one bracket: its counts and the
// positions of the values inside, in the order the flags list them.
struct Seen {
    BracketCounts counts;
    std::vector<size_t> inside;
};

std::vector<Seen> walk(const std::vector<Bracket> &b, const double *v, size_t n, size_t lanes) {
    std::vector<BracketCounts> counts(b.size());
    std::vector<BracketFlag> flagged(bracket_flags_room(n, lanes));  // no more: the sanitizers see past it
    const size_t f = count_brackets(b.data(), b.size(), v, n, counts.data(), flagged.data(), lanes);
    std::vector<Seen> out(b.size());
    for (size_t q = 0; q < b.size(); q++) out[q].counts = counts[q];
    for (size_t k = 0; k < f; k++) {
        EXPECT_NE(flagged[k].inside, 0u) << "a group flagged with nothing inside";
        for (int bit = 0; bit < 32; bit++)
            if ((flagged[k].inside >> bit) & 1u) out[size_t(bit / 8)].inside.push_back(flagged[k].at + size_t(bit % 8));
    }
    return out;
}

// The definition: each value as the bracket sees it against its ends.
Seen defined(const Bracket &b, const double *v, size_t n) {
    Seen s;
    for (size_t i = 0; i < n; i++) {
        double w = v[i] - b.center;
        if (b.magnitude) w = std::fabs(w);
        EXPECT_EQ(std::signbit(w), std::signbit(seen_by(b, v[i])));
        s.counts.below += w < b.lo;
        s.counts.at_lo += w == b.lo;
        s.counts.at_hi += w == b.hi;
        if (w > b.lo && w < b.hi) s.inside.push_back(i);
    }
    return s;
}

}  // namespace

// Values on and next to the ends, both zeros, not-a-number and infinities
// in every lane, blocks of every length up to past two groups of eight and
// one long one, one to four brackets of each view (one of a single value).
TEST(Brackets, EveryFormCountsAndFlagsAsTheDefinition) {
    const std::vector<double> v = edge_values(3001, {-0.25, 0.0, 0.5, 1.0}, 5);
    const std::vector<Bracket> all = {{0, false, -0.25, 0.5}, {0, true, 0.0, 1.0}, {0.5, true, 0.0, 0.25},
                                      {0, false, 0.5, 0.5}};
    for (size_t m = 1; m <= kBracketsAtOnce; m++) {
        const std::vector<Bracket> b(all.begin(), all.begin() + ptrdiff_t(m));
        for (size_t n : {size_t(0), size_t(1), size_t(7), size_t(8), size_t(9), size_t(17), size_t(23), v.size()})
            for (size_t at : {size_t(0), size_t(3)}) {
                if (at + n > v.size()) continue;
                for (size_t lanes : {0, 1, 2, 3, 4, 7, 8}) {
                    const auto got = walk(b, v.data() + at, n, lanes);
                    for (size_t q = 0; q < m; q++) {
                        const Seen want = defined(b[q], v.data() + at, n);
                        const std::string where = std::to_string(n) + " values, " + std::to_string(lanes) +
                                                  " lanes, bracket " + std::to_string(q);
                        EXPECT_EQ(got[q].counts.below, want.counts.below) << where;
                        EXPECT_EQ(got[q].counts.at_lo, want.counts.at_lo) << where;
                        EXPECT_EQ(got[q].counts.at_hi, want.counts.at_hi) << where;
                        EXPECT_EQ(got[q].inside, want.inside) << where;
                    }
                }
            }
    }
}
