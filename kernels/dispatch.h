// How the vector kernels choose their form. Each kernel has a plain loop
// that defines it and forms that take 2, 4 or 8 doubles at a time (SSE2,
// which every x86-64 has, AVX2 and AVX-512), all giving the same results;
// the widest form the processor takes is chosen when first asked. A
// kernel's forms are written by hand for each width (form_for), or once
// in Highway and compiled for each of its targets (KARVEL_HWY_FORM); a
// plain loop the compiler makes vector code of is compiled for each width
// (KARVEL_VECTOR_CLONES).
#ifndef KARVEL_KERNELS_DISPATCH_H
#define KARVEL_KERNELS_DISPATCH_H

#include <hwy/targets.h>

#include <cstddef>
#include <cstdint>

// Highway's targets compiled here that the processor takes, asked once
// (each time costs several CPUID instructions, slow in a virtual machine).
inline int64_t hwy_targets() {
    static const int64_t have = hwy::SupportedTargets() & HWY_TARGETS;
    return have;
}

// 8 with AVX-512, 4 with AVX2, else 2: the widths of Highway's targets for
// this processor (AVX3, AVX2, SSE4 or SSSE3), which its dynamic dispatch
// chooses among.
inline size_t widest_lanes() {
    const int64_t have = hwy_targets();
    return (have & HWY_AVX3) ? size_t(8) : (have & HWY_AVX2) ? size_t(4) : size_t(2);
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

// A kernel written once in Highway: its form for `asked` lanes (0: the
// one Highway's dynamic dispatch chooses, the widest), null for one lane
// (the caller's plain loop). FN is the kernel's name, exported by
// HWY_EXPORT in the same file. Each form takes the values in whole groups
// of its own lanes and leaves the rest to the plain loop.
#define KARVEL_HWY_FORM(FN, asked) \
    ((asked) == 0 ? &HWY_DYNAMIC_DISPATCH(FN) : hwy_form(HWY_DISPATCH_TABLE(FN), (asked)))

// Highway's target of `lanes` doubles on this processor: the best of the
// 128-bit ones for 2, or 0 without SSSE3 (its portable fallback).
inline int64_t hwy_target(size_t lanes) {
    const int64_t t = hwy_targets() & (lanes == 8 ? HWY_AVX3 : lanes == 4 ? HWY_AVX2 : HWY_SSE4 | HWY_SSSE3);
    return t & -t;
}

// The entry of a kernel's table of forms (HWY_DISPATCH_TABLE) for `asked`
// lanes, found as Highway's dynamic dispatch finds the entry of the target
// it chose. With a single target compiled, the table holds it alone.
template <class Form>
Form hwy_form(const Form *table, size_t asked) {
    const size_t lanes = lanes_taken(asked);
    if (lanes == 1) return nullptr;
#if (HWY_TARGETS & (HWY_TARGETS - 1)) == 0
    return table[0];
#else
    const int64_t chosen = HWY_CHOSEN_TARGET_SHIFT(hwy_target(lanes)) | HWY_CHOSEN_TARGET_MASK_SCALAR;
    return table[hwy::Num0BitsBelowLS1Bit_Nonzero64(uint64_t(chosen & HWY_CHOSEN_TARGET_MASK_TARGETS))];
#endif
}

// A plain loop that the compiler makes vector code of, compiled for each
// width as well and chosen when the program starts (the same operations in
// the same order on every value, so the same results):
//     [[KARVEL_VECTOR_CLONES]] void f(...)
#define KARVEL_VECTOR_CLONES gnu::target_clones("avx512f", "avx2", "default")

#endif
