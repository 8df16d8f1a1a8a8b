#include "position_error.h"

#include <cstring>

void position_errors(const double *x, const double *y, int n, double B1, double B0, double *Y_estim, double *err) {
    int j = 0;
    for (; j + 2 <= n; j += 2) {
        double2 xv, yv, est, e;
        std::memcpy(&xv, x + j, sizeof xv);
        std::memcpy(&yv, y + j, sizeof yv);
        pair_errors(xv, yv, B1, B0, est, e);
        std::memcpy(Y_estim + j, &est, sizeof est);
        std::memcpy(err + j, &e, sizeof e);
    }
    if (j < n) err[j] = position_error(x[j], y[j], B1, B0, Y_estim[j]);
}
