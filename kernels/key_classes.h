// Classes by keys: a value's class among the classes [e0, e1), ..., [ek-1,
// ek] found by comparing a key of it (the squared gradient for the
// report's slope classes, report/classes.h) with the keys of the edges.
#ifndef KARVEL_KERNELS_KEY_CLASSES_H
#define KARVEL_KERNELS_KEY_CLASSES_H

#include <cstddef>
#include <cstdint>
#include <vector>

// The edges' keys: a value is at least edge m exactly when its key is at
// least at_least[m], and at most the last edge when its key is at most
// at_most. A key of class c at most near_low[c] or at least near_high[c]
// lies within a hair of its class's bounds.
struct ClassKeys {
    std::vector<double> at_least;
    double at_most = 0;
    std::vector<double> near_low, near_high;
};

// The class of a key within a hair of its class's bounds.
using NearKeyClass = int32_t (*)(double key, const void *context);

// The classes of n keys: each one's index, or -1 (outside every class, or
// not a number); a key near its class's bounds gets near(key, context)
// instead. The keys are taken `lanes` at a time (see kernels/dispatch.h):
// the classes are the same every way.
void classes_of_keys(const double *key, size_t n, const ClassKeys &keys, NearKeyClass near, const void *context,
                     int32_t *out, size_t lanes = 0);

#endif
