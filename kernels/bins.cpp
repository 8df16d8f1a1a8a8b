// The bins' vector forms are written once in Highway and compiled for each
// instruction set it has (this file is read again for each one).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "bins.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "bins.h"
#include "dispatch.h"

HWY_BEFORE_NAMESPACE();
namespace karvel_bins {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// clamped_bin of a vector of values, as whole doubles (not a number never
// gets this far: the differences' bins put it in the extra one, and the
// density's values are finite).
template <class D, class V>
HWY_INLINE V ClampedBins(D d, V v, V lo, V scale, V last) {
    return hn::Trunc(hn::Min(hn::Max(hn::Mul(hn::Sub(v, lo), scale), hn::Zero(d)), last));
}

// Each form returns where the values left to the plain loop begin.

size_t DiffBins(const double *v, size_t n, double lo, double hi, double scale, int bins, int32_t *index) {
    const hn::ScalableTag<double> d;
    const hn::Rebind<int32_t, decltype(d)> di;
    const size_t L = hn::Lanes(d);
    const auto lo_v = hn::Set(d, lo), hi_v = hn::Set(d, hi), scale_v = hn::Set(d, scale);
    const auto last_v = hn::Set(d, double(bins - 1)), extra_v = hn::Set(d, double(bins));
    size_t i = 0;
    for (; i + L <= n; i += L) {
        const auto x = hn::LoadU(d, v + i);
        const auto in = hn::And(hn::Ge(x, lo_v), hn::Le(x, hi_v));
        const auto k = hn::IfThenElse(in, ClampedBins(d, x, lo_v, scale_v, last_v), extra_v);
        hn::StoreU(hn::DemoteTo(di, k), di, index + i);
    }
    return i;
}

// The cell, a whole number below 2^31, formed exactly in doubles.
size_t DensityBins(const double *x, const double *y, size_t n, double lo, double scale, int bins, int32_t *index) {
    const hn::ScalableTag<double> d;
    const hn::Rebind<int32_t, decltype(d)> di;
    const size_t L = hn::Lanes(d);
    const auto lo_v = hn::Set(d, lo), scale_v = hn::Set(d, scale);
    const auto last_v = hn::Set(d, double(bins - 1)), bins_v = hn::Set(d, double(bins));
    size_t i = 0;
    for (; i + L <= n; i += L) {
        const auto by = ClampedBins(d, hn::LoadU(d, y + i), lo_v, scale_v, last_v);
        const auto bx = ClampedBins(d, hn::LoadU(d, x + i), lo_v, scale_v, last_v);
        hn::StoreU(hn::DemoteTo(di, hn::Add(hn::Mul(by, bins_v), bx)), di, index + i);
    }
    return i;
}

size_t BinLanes() { return hn::Lanes(hn::ScalableTag<double>()); }

}  // namespace HWY_NAMESPACE
}  // namespace karvel_bins
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace karvel_bins {
HWY_EXPORT(DiffBins);
HWY_EXPORT(DensityBins);
HWY_EXPORT(BinLanes);
}  // namespace karvel_bins

size_t bin_lanes(size_t asked) {
    const auto form = KARVEL_HWY_FORM(karvel_bins::BinLanes, asked);
    return form ? form() : 1;
}

void diff_bins(const double *v, size_t n, double lo, double hi, double scale, int bins, int32_t *index, size_t lanes) {
    const auto form = KARVEL_HWY_FORM(karvel_bins::DiffBins, lanes);
    const size_t from = form ? form(v, n, lo, hi, scale, bins, index) : 0;
    const double last = bins - 1;
    for (size_t i = from; i < n; i++) index[i] = v[i] >= lo && v[i] <= hi ? clamped_bin(v[i], lo, scale, last) : bins;
}

void density_bins(const double *x, const double *y, size_t n, double lo, double scale, int bins, int32_t *index,
                  size_t lanes) {
    const auto form = KARVEL_HWY_FORM(karvel_bins::DensityBins, lanes);
    const size_t from = form ? form(x, y, n, lo, scale, bins, index) : 0;
    const double last = bins - 1;
    for (size_t i = from; i < n; i++)
        index[i] = clamped_bin(y[i], lo, scale, last) * bins + clamped_bin(x[i], lo, scale, last);
}
#endif
