#include "horn.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "dispatch.h"

namespace {

const double kDegrees = 180.0 / M_PI;

// A neighbour without data takes the centre's value, as GDAL's processing
// with its edges computed does.
inline float or_centre(float v, float c) { return v != v ? c : v; }

// GDAL's extension of a raster beyond its edge: twice the edge cell less
// the one inside (not a number when either is).
inline float beyond(float edge, float inside) { return 2 * edge - inside; }

// The squared gradient of the window w0..w8 (row by row, north-west first)
// around centre w4, each sum in float and in GDAL's order.
inline double key_of(float w0, float w1, float w2, float w3, float w4, float w5, float w6, float w7, float w8,
                     double ew, double ns) {
    w0 = or_centre(w0, w4), w1 = or_centre(w1, w4), w2 = or_centre(w2, w4);
    w3 = or_centre(w3, w4), w5 = or_centre(w5, w4);
    w6 = or_centre(w6, w4), w7 = or_centre(w7, w4), w8 = or_centre(w8, w4);
    const double dx = double((w0 + w3 + w3 + w6) - (w2 + w5 + w5 + w8)) / ew;
    const double dy = double((w6 + w7 + w7 + w8) - (w0 + w1 + w1 + w2)) / ns;
    // No data at the centre: w4 - w4 is not a number, else 0 (and key + 0
    // is key), without a branch, so that the lines' loop is vectorized.
    return (dx * dx + dy * dy) + double(w4 - w4);
}

// The smallest double x >= 0 for which holds(x), among those from lo to hi
// (holds is false below it and true from it on); hi when none is.
template <class P>
double first_where(P holds) {
    uint64_t lo = 0, hi = 0x7ff0000000000000ull;  // 0 and +inf, in the order of their bits
    auto of = [](uint64_t bits) {
        double x;
        std::memcpy(&x, &bits, sizeof x);
        return x;
    };
    if (holds(of(lo))) return 0;
    if (!holds(of(hi))) return of(hi);
    while (hi - lo > 1) {
        const uint64_t mid = lo + (hi - lo) / 2;
        (holds(of(mid)) ? hi : lo) = mid;
    }
    return of(hi);
}

}  // namespace

float horn_degrees(double key, double scale) {
    return static_cast<float>(std::atan(std::sqrt(key) / (8 * scale)) * kDegrees);
}

double horn_key_at_least(double degrees, double scale) {
    return first_where([&](double key) { return double(horn_degrees(key, scale)) >= degrees; });
}

double horn_key_at_most(double degrees, double scale) {
    const double above = first_where([&](double key) { return double(horn_degrees(key, scale)) > degrees; });
    return std::isinf(above) ? above : std::nextafter(above, 0.0);
}

[[KARVEL_VECTOR_CLONES]] void horn_keys(const float *a, const float *r, const float *b, int cols, double ew, double ns,
                                        double *key) {
    if (cols < 2 || (!a && !b)) {
        for (int j = 0; j < cols; j++) key[j] = std::numeric_limits<double>::quiet_NaN();
        return;
    }
    if (!a || !b) {
        // The first or last line: the line beyond is the edge line extended,
        // and the columns beyond the edge are the edge column repeated.
        const float *in = a ? a : b;
        for (int j = 0; j < cols; j++) {
            const int l = j == 0 ? j : j - 1, h = j == cols - 1 ? j : j + 1;
            const float o0 = beyond(r[l], in[l]), o1 = beyond(r[j], in[j]), o2 = beyond(r[h], in[h]);
            key[j] = a ? key_of(a[l], a[j], a[h], r[l], r[j], r[h], o0, o1, o2, ew, ns)
                       : key_of(o0, o1, o2, r[l], r[j], r[h], b[l], b[j], b[h], ew, ns);
        }
        return;
    }
    // An inner line: its first and last cells extend the line beyond the
    // edge column.
    const int e = cols - 1;
    key[0] = key_of(beyond(a[0], a[1]), a[0], a[1], beyond(r[0], r[1]), r[0], r[1], beyond(b[0], b[1]), b[0], b[1],
                    ew, ns);
    for (int j = 1; j < e; j++)
        key[j] = key_of(a[j - 1], a[j], a[j + 1], r[j - 1], r[j], r[j + 1], b[j - 1], b[j], b[j + 1], ew, ns);
    key[e] = key_of(a[e - 1], a[e], beyond(a[e], a[e - 1]), r[e - 1], r[e], beyond(r[e], r[e - 1]), b[e - 1], b[e],
                    beyond(b[e], b[e - 1]), ew, ns);
}

HornLines::HornLines(const Ground &grid, int lines, int cols) : grid_(grid), lines_(lines), cols_(cols) {
    keys_.resize(size_t(cols > 0 ? cols : 0));
}

void HornLines::push(const float *elevations) {
    if (given_ >= lines_) return;
    held_[given_ % 3].assign(elevations, elevations + cols_);
    given_++;
}

void HornLines::push(std::vector<float> &elevations) {
    if (given_ >= lines_) return;
    std::vector<float> &line = held_[given_ % 3];
    line.swap(elevations);
    // Another length: cut, or filled with no data.
    line.resize(size_t(std::max(cols_, 0)), std::numeric_limits<float>::quiet_NaN());
    given_++;
}

bool HornLines::next(int &line, const double *&keys) {
    if (taken_ >= lines_ || given_ < std::min(lines_, taken_ + 2)) return false;
    line = taken_++;
    const float *above = line > 0 ? held_[(line - 1) % 3].data() : nullptr;
    const float *below = line + 1 < lines_ ? held_[(line + 1) % 3].data() : nullptr;
    double ew = 1, ns = 1;
    cell_metres(grid_, line, ew, ns);
    // GDAL takes the geotransform's signed sizes; the squares do not mind.
    horn_keys(above, held_[line % 3].data(), below, cols_, ew, ns, keys_.data());
    keys = keys_.data();
    return true;
}
