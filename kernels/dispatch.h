// How the vector kernels choose their form. Each kernel has a plain loop
// that defines it and forms that take 2, 4 or 8 doubles at a time (SSE2,
// which every x86-64 has, AVX2 and AVX-512), all giving the same results;
// the widest form the processor takes is chosen once, when first asked.
#ifndef KARVEL_KERNELS_DISPATCH_H
#define KARVEL_KERNELS_DISPATCH_H

#include <cstddef>

// 8 with AVX-512, 4 with AVX2, else 2.
inline size_t widest_lanes() {
    static const size_t lanes = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f")) return size_t(8);
        return __builtin_cpu_supports("avx2") ? size_t(4) : size_t(2);
    }();
    return lanes;
}

// The lanes a kernel takes when asked for `asked` (0: the most): a power of
// two, at most the widest. 1 is the plain loop.
inline size_t lanes_taken(size_t asked) {
    const size_t most = widest_lanes();
    if (asked == 0 || asked >= most) return most;
    size_t l = 1;
    while (l * 2 <= asked) l *= 2;
    return l;
}

// The form of a kernel for `asked` lanes: the plain loop, or its form of
// 2, 4 or 8 lanes.
template <class Form>
Form form_for(size_t asked, Form plain, Form two, Form four, Form eight) {
    switch (lanes_taken(asked)) {
        case 1: return plain;
        case 2: return two;
        case 4: return four;
        default: return eight;
    }
}

// A plain loop that the compiler makes vector code of, compiled for each
// width as well and chosen when the program starts (the same operations in
// the same order on every value, so the same results):
//     [[KARVEL_VECTOR_CLONES]] void f(...)
#define KARVEL_VECTOR_CLONES gnu::target_clones("avx512f", "avx2", "default")

#endif
