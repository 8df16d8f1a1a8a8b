// Values that find the faults of comparisons against given ends: on them
// and a step past them, their negatives and −0, not-a-number and the
// infinities, and values of a coarse grid between.
#ifndef KARVEL_TESTS_EDGE_VALUES_H
#define KARVEL_TESTS_EDGE_VALUES_H

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

inline std::vector<double> edge_values(size_t n, const std::vector<double> &ends, uint64_t seed) {
    std::mt19937_64 gen(seed);
    std::vector<double> v(n);
    for (double &x : v) {
        const double e = ends[gen() % ends.size()];
        switch (gen() % 6) {
            case 0: x = e; break;
            case 1: x = std::nextafter(e, 9.0); break;
            case 2: x = gen() % 2 ? -e : -0.0; break;
            case 3: x = gen() % 50 == 0 ? NAN : gen() % 50 == 1 ? -INFINITY : INFINITY; break;
            default: x = double(int(gen() % 400) - 200) / 128.0;
        }
    }
    return v;
}

#endif
