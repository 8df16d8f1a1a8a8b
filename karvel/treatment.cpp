#include "treatment.h"

#include <limits>

#include "passes.h"

Stats::Stats() {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    min_desv = max_desv = min_slope = max_slope = nan;
    min_r = max_r = min_r2 = max_r2 = nan;
    min_err = max_err = nan;
}

void treatment() {
    Stats s;
    RasterPairs lines;
    line_pass(s, lines);
    regression(s);
    residual_pass(s, lines);
    histogram_pass(s, lines);
    summary_report(s);
}
