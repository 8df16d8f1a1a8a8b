// The classes' vector forms are written once in Highway and compiled for
// each instruction set it has (this file is read again for each one).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "key_classes.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "dispatch.h"
#include "key_classes.h"

#ifndef KARVEL_KEY_CLASSES_ONCE
#define KARVEL_KEY_CLASSES_ONCE
namespace {

// Class c (-1: none) of key v, or near(v, context) when v lies within a
// hair of c's bounds.
inline int32_t class_near(const ClassKeys &keys, NearKeyClass near, const void *context, double v, long long c) {
    if (c >= 0 && (v <= keys.near_low[size_t(c)] || v >= keys.near_high[size_t(c)])) [[unlikely]]
        return near(v, context);
    return int32_t(c);
}

}  // namespace
#endif

HWY_BEFORE_NAMESPACE();
namespace karvel_key_classes {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// One added to each lane of count where m holds: a masked addition where
// masks have registers of their own, else the mask's all-ones (−1)
// subtracted.
template <class DI, class VI, class M>
HWY_INLINE VI CountWhere(DI di, VI count, M m) {
#if HWY_TARGET <= HWY_AVX3
    return hn::IfThenElse(hn::RebindMask(di, m), hn::Add(count, hn::Set(di, 1)), count);
#else
    return hn::Sub(count, hn::VecFromMask(di, hn::RebindMask(di, m)));
#endif
}

// A vector of keys at a time: the inner edges passed counted without a
// branch, and the bounds of each key's class chosen lane by lane, so that
// only a group with a key near them is looked at key by key. Returns where
// the keys left to the plain loop begin.
size_t Classes(const double *key, size_t n, const ClassKeys &keys, NearKeyClass near, const void *context,
               int32_t *out) {
    const hn::ScalableTag<double> d;
    const hn::RebindToSigned<decltype(d)> di;
    const hn::RebindToUnsigned<decltype(d)> du;
    const hn::Rebind<uint32_t, decltype(d)> du32;
    const size_t L = hn::Lanes(d);
    const size_t k = keys.at_least.size() - 1;
    const double *at_least = keys.at_least.data();
    const auto lo = hn::Set(d, at_least[0]), hi = hn::Set(d, keys.at_most);
    size_t j = 0;
    for (; j + L <= n; j += L) {
        const auto v = hn::LoadU(d, key + j);
        auto c = hn::Zero(di);
        for (size_t m = 1; m < k; m++)
            c = CountWhere(di, c, hn::Ge(v, hn::Set(d, at_least[m])));
        auto near_low = hn::Set(d, keys.near_low[0]), near_high = hn::Set(d, keys.near_high[0]);
        for (size_t m = 1; m < k; m++) {
            const auto is = hn::RebindMask(d, hn::Eq(c, hn::Set(di, int64_t(m))));
            near_low = hn::IfThenElse(is, hn::Set(d, keys.near_low[m]), near_low);
            near_high = hn::IfThenElse(is, hn::Set(d, keys.near_high[m]), near_high);
        }
        const auto inside = hn::And(hn::Ge(v, lo), hn::Le(v, hi));
        const auto near_bounds = hn::And(inside, hn::Or(hn::Le(v, near_low), hn::Ge(v, near_high)));
        c = hn::IfThenElse(hn::RebindMask(di, inside), c, hn::Set(di, -1));
        if (HWY_UNLIKELY(!hn::AllFalse(d, near_bounds))) {
            HWY_ALIGN int64_t cl[hn::MaxLanes(di)];
            HWY_ALIGN double vl[hn::MaxLanes(d)];
            hn::Store(c, di, cl);
            hn::Store(v, d, vl);
            for (size_t l = 0; l < L; l++) out[j + l] = class_near(keys, near, context, vl[l], cl[l]);
        } else {
            // The low halves of the classes (-1 stays -1).
            hn::StoreU(hn::TruncateTo(du32, hn::BitCast(du, c)), du32, reinterpret_cast<uint32_t *>(out + j));
        }
    }
    return j;
}

}  // namespace HWY_NAMESPACE
}  // namespace karvel_key_classes
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace karvel_key_classes {
HWY_EXPORT(Classes);
}  // namespace karvel_key_classes

void classes_of_keys(const double *key, size_t n, const ClassKeys &keys, NearKeyClass near, const void *context,
                     int32_t *out, size_t lanes) {
    const auto form = KARVEL_HWY_FORM(karvel_key_classes::Classes, lanes);
    // The plain loop: what the classes are. A key outside the edges (or not
    // a number) is in no class.
    const size_t k = keys.at_least.size() - 1;
    const double lo = keys.at_least[0], hi = keys.at_most;
    for (size_t j = form ? form(key, n, keys, near, context, out) : 0; j < n; j++) {
        const double v = key[j];
        long long c = 0;
        for (size_t m = 1; m < k; m++) c += v >= keys.at_least[m];
        out[j] = class_near(keys, near, context, v, v >= lo && v <= hi ? c : -1);
    }
}
#endif
