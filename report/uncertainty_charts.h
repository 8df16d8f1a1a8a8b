// The figures of --uncertainty: the variogram of the standardised
// differences with its pair counts and the fitted model (its ranges
// marked), and σ_dh by slope class.
#ifndef KARVEL_REPORT_UNCERTAINTY_CHARTS_H
#define KARVEL_REPORT_UNCERTAINTY_CHARTS_H

#include <vector>

#include "charts.h"
#include "variogram.h"

Figure variogram_figure(const Variogram &v, const std::vector<Spherical> &model);
// Each slope class's σ_dh (sigmas[k], of the class or of all stable cells)
// and its stable cells (counts[k]); the last of each is all stable cells'.
Figure sigma_slope_figure(const std::vector<double> &edges, const std::vector<long long> &counts,
                          const std::vector<double> &sigmas);

#endif
