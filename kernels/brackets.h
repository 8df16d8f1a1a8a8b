// The counts behind exact ranks (report/select.h): a block of values
// against up to four brackets at once, counting the values below each
// bracket and at its ends, and noting those strictly inside it.
#ifndef KARVEL_KERNELS_BRACKETS_H
#define KARVEL_KERNELS_BRACKETS_H

#include <cstddef>
#include <cstdint>

// A bracket [lo, hi] of values as it sees them: v − center, its sign bit
// kept or cleared (center 0 and the sign kept: v itself, −0 included;
// center 0 and the sign cleared: |v|).
struct Bracket {
    double center = 0;
    bool magnitude = false;  // the sign bit cleared
    double lo = 0, hi = 0;   // lo <= hi
};

// The brackets counted in one walk of a block, at most.
constexpr size_t kBracketsAtOnce = 4;

// A bracket's counts, added to.
struct BracketCounts {
    size_t below = 0, at_lo = 0, at_hi = 0;  // values below lo, equal to lo, equal to hi
};

// A group of values with some inside a bracket: its first index and, bit
// 8q + k, whether value at + k lies strictly inside bracket q.
struct BracketFlag {
    size_t at;
    uint32_t inside;
};

// A value as bracket b sees it.
double seen_by(const Bracket &b, double v);

// The room for the flags of n values taken `lanes` at a time: a flag for
// each group, and for each value after the last whole group.
size_t bracket_flags_room(size_t n, size_t lanes = 0);

// Counts the n values of v against brackets b[0..m) (1 ≤ m ≤
// kBracketsAtOnce) into counts[0..m), and lists in `flagged` (room for
// bracket_flags_room) the groups that hold a value inside a bracket, in
// the order of the values; returns how many. The values are taken `lanes` at a time (see
// kernels/dispatch.h): the counts and the values inside are the same every
// way.
size_t count_brackets(const Bracket *b, size_t m, const double *v, size_t n, BracketCounts *counts,
                      BracketFlag *flagged, size_t lanes = 0);

#endif
