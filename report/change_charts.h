// The figures of the change budget: the budget as bars with the detected
// volumes' errors, and the detected change as a map over the shaded relief.
#ifndef KARVEL_REPORT_CHANGE_CHARTS_H
#define KARVEL_REPORT_CHANGE_CHARTS_H

#include <string>

#include "charts.h"
#include "readers/change_budget.h"

// Eroded, deposited and net volumes, of all change and of the detected
// change (with its error bars).
Figure budget_figure(const ChangeBudget &b);

#endif
