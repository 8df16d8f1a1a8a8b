#include "nodata.h"

#include <cstdint>
#include <cstring>

namespace {

// Sets keep[j] to 0 where the sample is the no-data value (samples of T,
// least significant byte first, as the machine holds them).
template <class T>
void clear_nodata(const unsigned char *s, long long value, size_t cols, unsigned char *keep) {
    for (size_t j = 0; j < cols; j++) {
        T v;
        std::memcpy(&v, s + j * sizeof(T), sizeof(T));
        if ((long long)v == value) keep[j] = 0;
    }
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

size_t compact_kept(double *x, double *y, const unsigned char *keep, size_t cols) {
    size_t n = 0;
    for (size_t j = 0; j < cols; j++) {
        x[n] = x[j];
        y[n] = y[j];
        n += keep[j];
    }
    return n;
}
