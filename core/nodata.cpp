#include "nodata.h"

#include <cstdint>
#include <cstring>
#include <limits>

#include "raster.h"

namespace {

// Clears keep[j] where the sample is the no-data value (samples of T, least
// significant byte first, as the machine holds them). A value that no T
// holds marks nothing. The comparison is in T, so that the loop vectorizes.
template <class T>
void clear_nodata(const unsigned char *s, long long value, size_t cols, unsigned char *keep) {
    if (value < (long long)std::numeric_limits<T>::min() || value > (long long)std::numeric_limits<T>::max()) return;
    const T nd = T(value);
    const T *v = reinterpret_cast<const T *>(s);
    for (size_t j = 0; j < cols; j++) keep[j] &= (unsigned char)(v[j] != nd);
}

void clear(const unsigned char *s, Kind k, NoData n, size_t cols, unsigned char *keep) {
    if (!n.declared) return;
    switch (k) {
        case Kind::image8: clear_nodata<uint8_t>(s, n.value, cols, keep); break;
        case Kind::dem16: clear_nodata<uint16_t>(s, n.value, cols, keep); break;
        case Kind::dem32: clear_nodata<int32_t>(s, n.value, cols, keep); break;
    }
}

}  // namespace

size_t mark_kept(const unsigned char *s1, Kind k1, NoData n1, const unsigned char *s2, Kind k2, NoData n2, size_t cols,
                 unsigned char *keep) {
    std::memset(keep, 1, cols);
    clear(s1, k1, n1, cols, keep);
    clear(s2, k2, n2, cols, keep);
    size_t n = 0;
    for (size_t j = 0; j < cols; j++) n += keep[j];
    return n;
}

void kept_runs(const unsigned char *keep, size_t cols, KeptRuns &runs) {
    runs.clear();
    const unsigned char *end = keep + cols;
    const unsigned char *p = keep;
    while (p < end) {
        p = static_cast<const unsigned char *>(std::memchr(p, 1, size_t(end - p)));
        if (p == nullptr) break;
        const unsigned char *q = static_cast<const unsigned char *>(std::memchr(p, 0, size_t(end - p)));
        if (q == nullptr) q = end;
        runs.push_back({size_t(p - keep), size_t(q - keep)});
        p = q;
    }
}

size_t compact_kept(double *x, double *y, const unsigned char *keep, size_t cols) {
    size_t n = 0;
    for (size_t j = 0; j < cols; j++) {
        x[n] = x[j];
        y[n] = y[j];
        n += keep[j];
    }
    return n;
}

size_t convert_kept(const unsigned char *s1, Kind k1, NoData n1, double f1, const unsigned char *s2, Kind k2,
                    NoData n2, double f2, size_t cols, double *x, double *y, KeptScratch &scratch, size_t *start) {
    convert_samples(s1, kind_bytes(k1), cols, f1, x);
    convert_samples(s2, kind_bytes(k2), cols, f2, y);
    scratch.keep.resize(cols);
    *start = 0;
    if (mark_kept(s1, k1, n1, s2, k2, n2, cols, scratch.keep.data()) == cols) return cols;
    kept_runs(scratch.keep.data(), cols, scratch.runs);
    if (scratch.runs.empty()) return 0;
    const size_t from = scratch.runs[0].first;
    size_t n = 0;
    for (const auto &[first, last] : scratch.runs) {
        if (first != from + n) {
            std::memmove(x + from + n, x + first, (last - first) * sizeof(double));
            std::memmove(y + from + n, y + first, (last - first) * sizeof(double));
        }
        n += last - first;
    }
    *start = from;
    return n;
}
