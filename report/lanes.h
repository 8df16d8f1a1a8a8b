// The widest vectors of doubles the processor takes, for the kernels that
// have a form for each: their results are the same every way.
#ifndef KARVEL_REPORT_LANES_H
#define KARVEL_REPORT_LANES_H

#include <cstddef>

// 8 with AVX-512, 4 with AVX2, else 2 (SSE2, which every x86-64 has).
inline size_t widest_lanes() {
    static const size_t lanes = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f")) return size_t(8);
        return __builtin_cpu_supports("avx2") ? size_t(4) : size_t(2);
    }();
    return lanes;
}

// The lanes a kernel takes when asked for `asked` (0: the most): a power of
// two, at most the widest.
inline size_t lanes_taken(size_t asked) {
    const size_t most = widest_lanes();
    if (asked == 0 || asked >= most) return most;
    size_t l = 1;
    while (l * 2 <= asked) l *= 2;
    return l;
}

#endif
