// What the passes of the statistics phase walk: the lines of both rasters,
// as doubles in one unit, line 0 first on every pass.
#ifndef KARVEL_LINE_PAIRS_H
#define KARVEL_LINE_PAIRS_H

struct LinePairs {
    virtual ~LinePairs() = default;
    // Starts a pass at line 0.
    virtual void begin_pass() = 0;
    // The next line of the first and of the second raster: the values of
    // the positions kept, in column order; they stay valid until the next
    // call. Returns how many there are.
    virtual int next(const double *&row1, const double *&row2) = 0;
    // Ends a pass after its last line.
    virtual void end_pass() = 0;
};

#endif
