#include "robust.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

double median_of(std::vector<double> &v) {
    const size_t n = v.size(), h = n / 2;
    std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(h), v.end());
    const double upper = v[h];
    if (n % 2) return upper;
    return (*std::max_element(v.begin(), v.begin() + std::ptrdiff_t(h)) + upper) / 2;
}

double nmad_about(std::vector<double> &v, double center) {
    for (double &x : v) x = std::fabs(x - center);
    return kNmadScale * median_of(v);
}
