#include "treatment.h"

#include <cmath>
#include <limits>

#include "state.h"

Stats::Stats() {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    min_desv = max_desv = min_slope = max_slope = nan;
    min_r = max_r = min_r2 = max_r2 = nan;
    min_err = max_err = nan;
}

long long tenths(double e) {
    // 10·e = 8·e + 2·e, both products exact; the sum's rounding error is
    // recovered exactly (8·e ≥ 2·e), so the whole part of the true sum is
    // known even when the rounded sum lands on an integer.
    double a = 8.0 * e;
    double b = 2.0 * e;
    double s = a + b;
    if (!(s < 4503599627370496.0)) return std::numeric_limits<long long>::max();  // 2^52, or not a number
    double lost = b - (s - a);
    double whole = std::floor(s);
    if (whole == s && lost < 0) whole -= 1.0;
    return (long long)whole;
}

void treatment() {
    Stats s;
    line_pass(s);
    regression(s);
    residual_pass(s);
    histogram_pass(s);
    summary_report(s);
}
