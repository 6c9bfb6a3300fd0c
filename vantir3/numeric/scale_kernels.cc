#include "vantir3/numeric/scale_kernels.h"

#include <cmath>

#include "vantir3/framework/buffer_walk.h"

// The vector kernel below is compiled once per instruction set.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vantir3/numeric/scale_kernels.cc"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"
#include "vantir3/numeric/sample_vectors-inl.h"

HWY_BEFORE_NAMESPACE();
namespace vantir3 {
namespace HWY_NAMESPACE {
namespace {

// 2N samples at a time: widen to doubles, 0.5 + g * x, floor, saturate,
// narrow back. Moderate factors make every g * x 0 or at least 1/2 in
// magnitude and within 2^28, as RoundHalfUp needs; otherwise 0.5 + g * x is
// limited as FloorSaturate16 does (NaN included).
template <bool kTable, bool kModerate>
void ScaleBlocks(const int16_t* in, int16_t* out, int32_t n, double gain, const double* gains) {
#if VANTIR3_SAMPLE_VECTORS
    const hn::ScalableTag<double> d;
    using D = decltype(d);
    const size_t lanes = hn::Lanes(d);
    const auto half = hn::Set(d, 0.5);
    const auto factor = hn::Set(d, gain);
    ForEachSampleBlock(d, in, gains, out, 0, n, [&](const int16_t* x, const double* g, int16_t* y) {
        hn::Vec<D> lo, hi;
        LoadWidenSamples(d, x, lo, hi);
        lo = hn::Mul(kTable ? hn::LoadU(d, g) : factor, lo);
        hi = hn::Mul(kTable ? hn::LoadU(d, g + lanes) : factor, hi);
        const auto r = kModerate ? RoundHalfUp(d, lo, hi) : FloorSaturate(d, hn::Add(half, lo), hn::Add(half, hi));
        hn::StoreU(r, SampleTag<D>(), y);
    });
#else
    ScaleSamplesScalar(in, out, n, gain, gains);
#endif
}

}  // namespace

void ScaleSamplesVectors(const int16_t* in, int16_t* out, int32_t n, double gain, const double* gains,
                         bool moderate) {
    if (gains == nullptr) {
        moderate ? ScaleBlocks<false, true>(in, out, n, gain, nullptr)
                 : ScaleBlocks<false, false>(in, out, n, gain, nullptr);
    } else {
        moderate ? ScaleBlocks<true, true>(in, out, n, 0.0, gains)
                 : ScaleBlocks<true, false>(in, out, n, 0.0, gains);
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace vantir3
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace vantir3 {

HWY_EXPORT(ScaleSamplesVectors);

bool ModerateGains(const double* gains, int32_t count) {
    for (int32_t k = 0; k < count; ++k) {
        if (!ModerateGain(gains[k])) return false;
    }
    return true;
}

void ScaleSamplesScalar(const int16_t* in, int16_t* out, int32_t n, double gain,
                        const double* gains) {
    if (gains == nullptr) {
        for (int32_t k = 0; k < n; ++k) out[k] = FloorSaturate16(0.5 + gain * static_cast<double>(in[k]));
    } else {
        for (int32_t k = 0; k < n; ++k) out[k] = FloorSaturate16(0.5 + gains[k] * static_cast<double>(in[k]));
    }
}

void ScaleSamples(const int16_t* in, int16_t* out, int32_t n, double gain) {
    HWY_DYNAMIC_DISPATCH(ScaleSamplesVectors)(in, out, n, gain, nullptr, ModerateGain(gain));
}

void ScaleSamplesByTable(const int16_t* in, int16_t* out, int32_t n, const double* gains, bool moderate) {
    HWY_DYNAMIC_DISPATCH(ScaleSamplesVectors)(in, out, n, 0.0, gains, moderate);
}

}  // namespace vantir3
#endif  // HWY_ONCE
