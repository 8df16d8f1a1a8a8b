#include "nodata.h"

#include <cstdint>
#include <climits>
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

namespace {

// A no-data value that no sample equals when none is declared.
long long marker(NoData n) { return n.declared ? n.value : (long long)INT64_MIN; }

template <class A, class B>
size_t convert_kept_typed(const unsigned char *s1, long long nd1, double f1, const unsigned char *s2, long long nd2,
                          double f2, size_t cols, double *x, double *y) {
    const A *a = reinterpret_cast<const A *>(s1);
    const B *b = reinterpret_cast<const B *>(s2);
    size_t n = 0;
    // Every position is written at the front and kept by moving on: no
    // branch, and n never passes j.
    for (size_t j = 0; j < cols; j++) {
        const A va = a[j];
        const B vb = b[j];
        x[n] = double(va) * f1;
        y[n] = double(vb) * f2;
        n += size_t(((long long)va != nd1) & ((long long)vb != nd2));
    }
    return n;
}

template <class A>
size_t convert_kept_first(const unsigned char *s1, long long nd1, double f1, const unsigned char *s2, Kind k2,
                          long long nd2, double f2, size_t cols, double *x, double *y) {
    switch (k2) {
        case Kind::image8: return convert_kept_typed<A, uint8_t>(s1, nd1, f1, s2, nd2, f2, cols, x, y);
        case Kind::dem16: return convert_kept_typed<A, uint16_t>(s1, nd1, f1, s2, nd2, f2, cols, x, y);
        case Kind::dem32: break;
    }
    return convert_kept_typed<A, int32_t>(s1, nd1, f1, s2, nd2, f2, cols, x, y);
}

}  // namespace

size_t convert_kept(const unsigned char *s1, Kind k1, NoData n1, double f1, const unsigned char *s2, Kind k2,
                    NoData n2, double f2, size_t cols, double *x, double *y) {
    const long long nd1 = marker(n1), nd2 = marker(n2);
    switch (k1) {
        case Kind::image8: return convert_kept_first<uint8_t>(s1, nd1, f1, s2, k2, nd2, f2, cols, x, y);
        case Kind::dem16: return convert_kept_first<uint16_t>(s1, nd1, f1, s2, k2, nd2, f2, cols, x, y);
        case Kind::dem32: break;
    }
    return convert_kept_first<int32_t>(s1, nd1, f1, s2, k2, nd2, f2, cols, x, y);
}
