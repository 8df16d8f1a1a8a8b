// Classes by key, every form against the definition.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "key_classes.h"

namespace {

// Edges whose keys are their squares; a key near its class's bounds is
// classed as 100 + its class, so that the tests see which way it went.
ClassKeys keys_of(const std::vector<double> &edges, bool last_unbounded) {
    ClassKeys k;
    for (double e : edges) k.at_least.push_back(e * e);
    k.at_most = last_unbounded ? INFINITY : edges.back() * edges.back();
    for (size_t c = 0; c + 1 < edges.size(); c++) {
        const double l = k.at_least[c], h = c + 2 < edges.size() ? k.at_least[c + 1] : k.at_most;
        k.near_low.push_back(l > 0 ? l * (1 + 1e-9) : -1.0);
        k.near_high.push_back(std::isinf(h) ? h : h * (1 - 1e-9));
    }
    return k;
}

int32_t class_of(const ClassKeys &k, double v) {
    int32_t c = 0;
    for (size_t m = 1; m + 1 < k.at_least.size(); m++) c += v >= k.at_least[m];
    return v >= k.at_least[0] && v <= k.at_most ? c : -1;
}

int32_t near_class(double v, const void *keys) { return 100 + class_of(*static_cast<const ClassKeys *>(keys), v); }

// The definition: the edges passed, -1 outside, near_class near the bounds.
int32_t defined(const ClassKeys &k, double v) {
    const int32_t c = class_of(k, v);
    if (c >= 0 && (v <= k.near_low[size_t(c)] || v >= k.near_high[size_t(c)])) return near_class(v, &k);
    return c;
}

}  // namespace

// Keys on, beside and a hair from every edge's key, 0, negative, +inf and
// not a number, in every lane; one class, a few and more than a vector's
// lanes; runs of every length to past two groups of eight.
TEST(KeyClasses, EveryFormClassesAsTheDefinition) {
    const std::vector<std::vector<double>> edge_sets = {{0, 90}, {0, 5, 10, 25, 40, 90}, {2, 5.5, 30},
                                                        {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 20, 45, 60, 89.9}};
    for (const auto &edges : edge_sets)
        for (bool unbounded : {false, true}) {
            const ClassKeys k = keys_of(edges, unbounded);
            std::vector<double> key = {0, -0.0, -1, INFINITY, NAN, 1e-300, 1e300};
            for (double e : k.at_least)
                for (double f : {1.0, 1 - 1e-9, 1 + 1e-9, 1 - 1e-7, 1 + 1e-7, 0.5, 1.5})
                    key.push_back(e * f), key.push_back(std::nextafter(e * f, 0.0)), key.push_back(std::nextafter(e * f, 1e9));
            for (int t = 0; t < 300; t++) key.push_back(std::pow(10.0, -2 + t * 0.015));
            for (size_t n : {size_t(0), size_t(1), size_t(5), size_t(8), size_t(11), size_t(19), key.size()})
                for (size_t lanes : {0, 1, 2, 3, 4, 8}) {
                    std::vector<int32_t> got(n + 1, -7);
                    classes_of_keys(key.data(), n, k, near_class, &k, got.data(), lanes);
                    for (size_t j = 0; j < n; j++)
                        EXPECT_EQ(got[j], defined(k, key[j]))
                            << key[j] << " among " << edges.size() << " edges, " << lanes << " lanes, " << n << " keys";
                    EXPECT_EQ(got[n], -7) << "written past the keys";
                }
        }
}
