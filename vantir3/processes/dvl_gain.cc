#include "vantir3/processes/dvl_gain.h"

#include <algorithm>

#include "vantir3/framework/status.h"

// The curve below is compiled once per instruction set.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vantir3/processes/dvl_gain.cc"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"
#include "vantir3/numeric/sample_vectors-inl.h"

HWY_BEFORE_NAMESPACE();
namespace vantir3 {
namespace HWY_NAMESPACE {
namespace {

#if VANTIR3_SAMPLE_VECTORS
// L * P / (|L| + Q) with L = g * x on N lanes, in DvlSample's order.
template <class D, class V = hn::Vec<D>>
HWY_INLINE V Curve(V g, V x, V p, V q) {
    const V l = hn::Mul(g, x);
    return hn::Div(hn::Mul(l, p), hn::Add(hn::Abs(l), q));
}
#endif

// DvlSample of x[k], gains[k] for k = from ... n - 1, 2N samples a block,
// the divisions of six blocks in flight at once (fewer leave the divider
// idle at times on AVX2; more spill registers). A bounded curve keeps
// every y as RoundHalfUp needs; otherwise 0.5 + y is limited as
// FloorSaturate16 does.
template <bool kBounded>
void CurveBlocks(const int16_t* x, int16_t* y, int32_t from, int32_t n, const double* gains,
                 const DvlCurve& curve) {
#if VANTIR3_SAMPLE_VECTORS
    const hn::ScalableTag<double> d;
    using D = decltype(d);
    using V = hn::Vec<D>;
    const size_t lanes = hn::Lanes(d);
    const auto half = hn::Set(d, 0.5);
    const auto p = hn::Set(d, curve.p);
    const auto q = hn::Set(d, curve.q);
    // The curve values of the 2N samples at xs, and their rounding into ys.
    auto values = [&](const int16_t* xs, const double* g, V& lo, V& hi) {
        PrefetchAhead(xs);
        LoadWidenSamples(d, xs, lo, hi);
        lo = Curve<D>(hn::LoadU(d, g), lo, p, q);
        hi = Curve<D>(hn::LoadU(d, g + lanes), hi, p, q);
    };
    auto store = [&](V lo, V hi, int16_t* ys) {
        const auto r = kBounded ? RoundHalfUp(d, lo, hi) : FloorSaturate(d, hn::Add(half, lo), hn::Add(half, hi));
        hn::StoreU(r, SampleTag<D>(), ys);
    };
    x += from, y += from, gains += from;
    const int32_t done = PipelineSampleBlocks<6, V>(
        static_cast<int32_t>(2 * lanes), n - from, [&](int32_t k, V& lo, V& hi) { values(x + k, gains + k, lo, hi); },
        [&](V lo, V hi, int32_t k) { store(lo, hi, y + k); });
    ForEachSampleBlock(d, x, gains, y, done, n - from, [&](const int16_t* xs, const double* g, int16_t* ys) {
        V lo, hi;
        values(xs, g, lo, hi);
        store(lo, hi, ys);
    });
#else
    for (int32_t k = from; k < n; ++k) y[k] = DvlSample(gains[k], x[k], curve);
#endif
}

}  // namespace

void DvlCurveVectors(const int16_t* x, int16_t* y, int32_t from, int32_t n, const double* gains,
                     const DvlCurve& curve) {
    curve.bounded ? CurveBlocks<true>(x, y, from, n, gains, curve)
                  : CurveBlocks<false>(x, y, from, n, gains, curve);
}

}  // namespace HWY_NAMESPACE
}  // namespace vantir3
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace vantir3 {

HWY_EXPORT(DvlCurveVectors);

namespace {
constexpr ParamDecl kDvlGainParams[] = {
    {"ALPHA@", 'D', 2, 1.0, 0.01, 100.0, 0.01,
     "0.10;0.20;0.30;0.50;0.75;1.00;2.00;5.00;10.00;100.00;\nAlpha\nDefines 'S' shape of gain (small "
     "signals gained more than large). Decreasing Alpha increases small signal gain (and reduces large "
     "signal gain). An Alpha of 0.1, 1.0, or 100 causes small signals to be gained by 10, 2, or 1 time "
     "more than large signals."},
    {"BETA@@", 'D', 2, 0.4, 0.01, 100.0, 0.01,
     "0.05;0.10;0.20;0.40;0.80;1.60;3.00;6.00;12.00\nBeta\nDefines linear gain as function of time. "
     "Beta = gain / ns."},
};

}  // namespace

const ProcessDecl kDvlGainDecl = {
    "DVLGN@", "DVL Gain",
    "DVL gain applies a linearly increasing gain (Beta) as a function of time, and then increases the "
    "sensitivity to smaller signals by applying an S-curve gain (Alpha).",
    2, kDvlGainParams};

int32_t DvlGainTable(double beta, double timeZeroSample, double sampleInterval, int32_t first,
                     int32_t count, double* gains) {
    const double z = timeZeroSample;
    const bool usable = std::isfinite(z) && std::isfinite(sampleInterval);
    const double t0 = std::ceil(z) - 1.0;
    const double step = sampleInterval * beta;
    const double g0 = 1.0 + (z - std::floor(z)) * step;
    int32_t before = 0;
    for (int32_t k = 0; k < count; ++k) {
        const double i = static_cast<double>(first) + static_cast<double>(k);
        if (!usable || i < t0) {
            gains[k] = 1.0;
            ++before;
        } else {
            gains[k] = g0 + (i - t0) * step;
        }
    }
    return before;
}

void BoundDvlCurve(DvlCurve& curve, const double* gains, int32_t count) {
    curve.bounded = curve.q > 0.0 && curve.p <= 0x1p29;
    for (int32_t k = 0; k < count && curve.bounded; ++k) {
        const double a = std::fabs(gains[k]);
        curve.bounded = a <= 0x1p900 && (a == 0.0 || a * curve.p >= 0.75 * (a + curve.q));
    }
}

void DvlTrace(const int16_t* x, int16_t* y, int32_t n, int32_t before, const double* gains,
              const DvlCurve& curve) {
    if (x != y) std::copy(x, x + before, y);
    HWY_DYNAMIC_DISPATCH(DvlCurveVectors)(x, y, before, n, gains, curve);
}

int DvlGain(MeboDataPtr& out, const MeboDataPtr& in, double alpha, double beta,
            double timeZeroSample, double sampleInterval) {
    DvlCurve curve = DvlCurveFor(alpha);
    Scratch<double> gains;
    int32_t before = 0;
    return WalkTraces(
        out, in,
        [&](const CommonRegion& region) {
            const MeboAxisDim& d = region.InAxis().dim[0];
            const int32_t count = d.max - d.min + 1;
            gains = NewScratch<double>(static_cast<size_t>(count));
            if (!gains) return kStatusAllocationFailed;
            before = DvlGainTable(beta, timeZeroSample, sampleInterval, d.min, count, gains.get());
            BoundDvlCurve(curve, gains.get(), count);
            return 0;
        },
        [&](const TraceSpan& s) {
            const double* g = gains.get();
            if (s.Contiguous()) {
                DvlTrace(s.in, s.out, s.count, before, g, curve);
            } else {
                MapTraceIndexed(s, [&](int16_t x, int32_t k) {
                    return k < before ? x : DvlSample(g[k], x, curve);
                });
            }
        });
}

}  // namespace vantir3

CCdpPrcDvlGain::CCdpPrcDvlGain() : CTableProcess(vantir3::kDvlGainDecl) { SetDefaults(); }

double* CCdpPrcDvlGain::ParamSlot(uint32_t index) { return index == 0 ? &alpha_ : &beta_; }

int CCdpPrcDvlGain::ProcessData(MeboDataPtr& out, MeboDataPtr& in, MeboDataPtr*) {
    const SEGprParam* gpr = GprParamPtr();
    if (gpr == nullptr) return vantir3::kStatusNoGprParam;
    return vantir3::DvlGain(out, in, alpha_, beta_, gpr->timeZeroSample, gpr->sampleInterval);
}

#endif  // HWY_ONCE
