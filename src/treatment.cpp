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

void treatment() {
    Stats s;
    line_pass(s);
    regression(s);
    residual_pass(s);
    histogram_pass(s);
    summary_report(s);
}
