#include "vantir3/processes/dvl_gain.h"

#include <algorithm>

#include "vantir3/framework/status.h"

namespace vantir3 {

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

#if defined(VANTIR3_HAVE_AVX512_PATH)
// GCC 12 reports the deliberately undefined vectors inside the intrinsics as
// maybe uninitialised.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// L * P / (|L| + Q) with L = g * x on eight lanes, in DvlSample's order.
VANTIR3_TARGET_AVX512 __attribute__((always_inline)) inline __m512d Curve(__m512d g, __m512d x, __m512d p,
                                                                          __m512d q) {
    const __m512d l = _mm512_mul_pd(g, x);
    return _mm512_div_pd(_mm512_mul_pd(l, p), _mm512_add_pd(_mm512_abs_pd(l), q));
}

template <bool kBounded>
VANTIR3_TARGET_AVX512 __attribute__((always_inline)) inline void DvlBlock(const int16_t* x, int16_t* y,
                                                                          const double* gains, __m512d p,
                                                                          __m512d q, int32_t k, __mmask16 m) {
    __m512d lo, hi;
    avx512::PrefetchAhead(x + k);
    avx512::LoadWiden(x + k, m, lo, hi);
    lo = Curve(_mm512_maskz_loadu_pd(static_cast<__mmask8>(m), gains + k), lo, p, q);
    hi = Curve(_mm512_maskz_loadu_pd(static_cast<__mmask8>(m >> 8), gains + k + 8), hi, p, q);
    if (kBounded) {
        _mm256_mask_storeu_epi16(y + k, m, avx512::RoundHalfUp16(lo, hi));
    } else {
        const __m512d half = _mm512_set1_pd(0.5);
        _mm256_mask_storeu_epi16(y + k, m,
                                 avx512::FloorSaturate16(_mm512_add_pd(half, lo), _mm512_add_pd(half, hi)));
    }
}

template <bool kBounded>
VANTIR3_TARGET_AVX512 void DvlCurveAvx512(const int16_t* x, int16_t* y, int32_t from, int32_t n,
                                          const double* gains, double p, double q) {
    const __m512d pv = _mm512_set1_pd(p);
    const __m512d qv = _mm512_set1_pd(q);
    int32_t k = from;
    for (; k + 16 <= n; k += 16) DvlBlock<kBounded>(x, y, gains, pv, qv, k, 0xFFFF);
    if (k < n) DvlBlock<kBounded>(x, y, gains, pv, qv, k, avx512::FirstLanes(n - k));
}
#pragma GCC diagnostic pop
#endif
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
              const DvlCurve& curve, SimdLevel level) {
    if (x != y) std::copy(x, x + before, y);
#if defined(VANTIR3_HAVE_AVX512_PATH)
    if (level == SimdLevel::kAvx512) {
        if (curve.bounded) {
            DvlCurveAvx512<true>(x, y, before, n, gains, curve.p, curve.q);
        } else {
            DvlCurveAvx512<false>(x, y, before, n, gains, curve.p, curve.q);
        }
        return;
    }
#endif
    (void)level;
    for (int32_t k = before; k < n; ++k) y[k] = DvlSample(gains[k], x[k], curve);
}

int DvlGain(MeboDataPtr& out, const MeboDataPtr& in, double alpha, double beta,
            double timeZeroSample, double sampleInterval) {
    DvlCurve curve = DvlCurveFor(alpha);
    const SimdLevel level = CpuSimdLevel();
    Scratch<double> gains;
    int32_t before = 0;
    return WalkTraces(
        out, in,
        [&](const CommonRegion& region) {
            const MeboAxisDim& d = region.InAxis().dim[0];
            const int32_t count = d.max - d.min + 1;
            // 16 more entries: the last vector block addresses them (masked).
            gains = NewScratch<double>(static_cast<size_t>(count) + 16);
            if (!gains) return kStatusAllocationFailed;
            before = DvlGainTable(beta, timeZeroSample, sampleInterval, d.min, count, gains.get());
            BoundDvlCurve(curve, gains.get(), count);
            return 0;
        },
        [&](const TraceSpan& s) {
            const double* g = gains.get();
            if (s.Contiguous()) {
                DvlTrace(s.in, s.out, s.count, before, g, curve, level);
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
