#include "vantir3/processes/dewow.h"

#include <cstring>

#include "vantir3/framework/buffer_walk.h"
#include "vantir3/framework/status.h"
#include "vantir3/framework/toolbox.h"

// The vector kernel below is compiled once per instruction set.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vantir3/processes/dewow.cc"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"
#include "vantir3/numeric/running_window-inl.h"
#include "vantir3/numeric/sample_vectors-inl.h"

HWY_BEFORE_NAMESPACE();
namespace vantir3 {
namespace HWY_NAMESPACE {

#if VANTIR3_SAMPLE_VECTORS
// The whole parts (toward zero) of floats below 2^31 in magnitude: AVX-512
// and AVX2 convert without the limit that Highway's conversion adds.
template <class D32>
HWY_INLINE hn::Vec<D32> TruncateFloats(D32 d, hn::Vec<hn::RebindToFloat<D32>> v) {
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
    (void)d;
    return hn::Vec<D32>{_mm512_cvttps_epi32(v.raw)};
#elif HWY_TARGET == HWY_AVX2
    (void)d;
    return hn::Vec<D32>{_mm256_cvttps_epi32(v.raw)};
#else
    return hn::ConvertTo(d, v);
#endif
}

// Whether the means are taken in floats where the window allows: not with
// AVX-512, whose double path measured faster on the benchmark profile (3.7
// against 4.4 ms on a Zen 5), where with AVX2 the float path is the faster
// (4.3 against 5.9 ms).
constexpr bool kFloatMeans = !(HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL);

// The truncated means of the window sums s (N lanes) at i0 as 32-bit lanes:
// S * RoundedUpInverses() in floats (8 lanes a vector with AVX2) where the
// window allows, S * TruncatingInverses() in doubles otherwise.
template <class D32>
HWY_INLINE hn::Vec<D32> TruncatedMeans(D32 d, hn::Vec<D32> s, const float* floatInverse, const double* inverse,
                                       int32_t i0) {
    if (floatInverse != nullptr) {
        const hn::RebindToFloat<D32> df;
        return TruncateFloats(d, hn::Mul(hn::ConvertTo(df, s), hn::LoadU(df, floatInverse + i0)));
    }
    const hn::Half<D32> dh;
    const hn::Repartition<double, D32> d64;
    const auto lo = hn::Mul(hn::PromoteTo(d64, hn::LowerHalf(dh, s)), hn::LoadU(d64, inverse + i0));
    const auto hi = hn::Mul(hn::PromoteTo(d64, hn::UpperHalf(dh, s)), hn::LoadU(d64, inverse + i0 + hn::Lanes(d64)));
    return TruncateWithin31Bits(d64, lo, hi);
}

// Dewow of a trace a block of 2N samples at a time from its window sums S:
// the truncated means S / c, narrowed in order, subtracted from a whole
// vector of samples with SubtractSaturated.
void DewowBlocks(const RunningWindow& window, const int16_t* x, int16_t* y) {
    const hn::ScalableTag<int32_t> d;
    const hn::Repartition<int16_t, decltype(d)> d16;
    const int32_t lanes = static_cast<int32_t>(hn::Lanes(d));
    const float* floatInverse = kFloatMeans ? window.RoundedUpInverses() : nullptr;
    const double* inverse = window.TruncatingInverses();
    const int32_t* lower = window.Prefix();
    const int32_t* upper = lower + 2 * window.Half() + 1;
    ForEachWindowBlock(d, window, x, y, false, [=](int32_t i0, const int16_t* xb, int16_t* yb) {
        const auto m0 = TruncatedMeans(d, WindowSums(d, lower, upper, i0), floatInverse, inverse, i0);
        const auto m1 = TruncatedMeans(d, WindowSums(d, lower, upper, i0 + lanes), floatInverse, inverse, i0 + lanes);
        hn::StoreU(SubtractSaturated(d16, hn::LoadU(d16, xb), DemoteInOrder(d, m0, m1)), d16, yb);
    });
}
#endif

// sums[i] += a[i] + b[i] for i < n (b null: a[i] alone), for the averaged
// trace: two traces' outputs at a time, added in 32-bit lanes (the sum of two
// 16-bit values is exact there), so that the sums are loaded and stored once
// for both.
void AddOutputSums(const int16_t* a, const int16_t* b, int32_t* sums, int32_t n) {
    int32_t i = 0;
#if VANTIR3_SAMPLE_VECTORS
    const hn::ScalableTag<int32_t> d;
    const hn::Repartition<int16_t, decltype(d)> d16;
    const hn::Half<decltype(d16)> dh16;
    const int32_t lanes = static_cast<int32_t>(hn::Lanes(d));
    for (; i + 2 * lanes <= n; i += 2 * lanes) {
        const auto va = hn::LoadU(d16, a + i);
        auto lo = hn::PromoteTo(d, hn::LowerHalf(dh16, va));
        auto hi = hn::PromoteTo(d, hn::UpperHalf(dh16, va));
        if (b != nullptr) {
            const auto vb = hn::LoadU(d16, b + i);
#if HWY_TARGET == HWY_AVX2
            // AVX2 adds the pairs of interleaved samples by a multiply-add
            // by 1 (within 128-bit halves: samples 0-3 and 8-11, 4-7 and
            // 12-15) and puts the halves back in order, where widening both
            // traces takes twice the conversions.
            const __m256i one = _mm256_set1_epi16(1);
            const __m256i l = _mm256_madd_epi16(_mm256_unpacklo_epi16(va.raw, vb.raw), one);
            const __m256i h = _mm256_madd_epi16(_mm256_unpackhi_epi16(va.raw, vb.raw), one);
            lo = hn::Vec<decltype(d)>{_mm256_permute2x128_si256(l, h, 0x20)};
            hi = hn::Vec<decltype(d)>{_mm256_permute2x128_si256(l, h, 0x31)};
#else
            lo = hn::Add(lo, hn::PromoteTo(d, hn::LowerHalf(dh16, vb)));
            hi = hn::Add(hi, hn::PromoteTo(d, hn::UpperHalf(dh16, vb)));
#endif
        }
        hn::StoreU(hn::Add(hn::LoadU(d, sums + i), lo), d, sums + i);
        hn::StoreU(hn::Add(hn::LoadU(d, sums + i + lanes), hi), d, sums + i + lanes);
    }
#endif
    for (; i < n; ++i) sums[i] += a[i] + (b != nullptr ? b[i] : 0);
}

void DewowTraceVectors(const RunningWindow& window, const int16_t* x, int16_t* y) {
#if VANTIR3_SAMPLE_VECTORS
    DewowBlocks(window, x, y);
#else
    DewowTraceScalar(window, x, y);
#endif
}

}  // namespace HWY_NAMESPACE
}  // namespace vantir3
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace vantir3 {

HWY_EXPORT(DewowTraceVectors);
HWY_EXPORT(AddOutputSums);

namespace {
constexpr ParamDecl kDewowParams[] = {
    {"WINDOW", 'D', 2, 1.33, 1.0, 500.0, 0.01,
     "1.33\nWindow width\nDefines the width of signal be allowed through Dewow filter, measured in "
     "GPR transmit pulse widths.\nNA"},
};

// A whole-numbered double as a 32-bit integer by truncation; the most
// negative 32-bit value for NaN and for values beyond the range.
int32_t TruncateToInt32(double v) {
    if (!(v >= -2147483648.0 && v < 2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(v);
}
}  // namespace

const ProcessDecl kDewowDecl = {
    "DEWOW@", "Dewow",
    "Dewow removes unwanted low frequency 'wow' from GPR trace while preserving high frequency "
    "signal. Wow is a slowly decaying low frequency signal that may be induced on the trace by the "
    "transmit signal due to proximity of transmitter and receiver, and electrical properties of "
    "ground. Data is usually Dewowed before use.",
    1, kDewowParams};

int32_t RunningMeanHalf(double window, double antennaFrequency, double sampleInterval) {
    int32_t w = TruncateToInt32(std::floor(1500.0 * window / antennaFrequency / sampleInterval));
    if (w % 2 == 0) w += 1;
    const int32_t half = (w - 1) / 2;
    return half < 0 ? 0 : half;
}

void DewowTraceScalar(const RunningWindow& window, const int16_t* x, int16_t* y) {
    window.ForEach<false>(x, [x, y](int32_t i, double sum, double count) {
        const double mean = sum / count;
        y[i] = SubtractSaturated16(x[i], static_cast<int16_t>(static_cast<int32_t>(mean)));
    });
}

void DewowTrace(const RunningWindow& window, const int16_t* x, int16_t* y) {
    if (window.Vector()) {
        HWY_DYNAMIC_DISPATCH(DewowTraceVectors)(window, x, y);
    } else {
        DewowTraceScalar(window, x, y);
    }
}

int Dewow(MeboDataPtr& out, const MeboDataPtr& in, MeboDataPtr* average, double window,
          double antennaFrequency, double sampleInterval) {
    const int32_t half = RunningMeanHalf(window, antennaFrequency, sampleInterval);
    RunningWindow run;
    Scratch<int16_t> inCopy, outCopy;
    // The averaged trace: the outputs of up to kTracesPerPartial traces are
    // added in 32-bit partial sums (they cannot overflow), which are carried
    // into 64-bit totals. All are exact whole numbers, as the sums of the
    // outputs are. A trace's outputs wait (pending) for the next trace's, and
    // the two are added together (AddOutputSums); they are in the output, or
    // in one half of outCopy while the next trace takes the other.
    constexpr int64_t kTracesPerPartial = 65535;
    Scratch<int32_t> partial;
    Scratch<int64_t> totals;
    int64_t inPartial = 0;
    int32_t n = 0;
    int64_t traces = 0;
    const auto addSums = HWY_DYNAMIC_DISPATCH(AddOutputSums);
    const int16_t* pending = nullptr;
    ptrdiff_t nextCopy = 0;  // the half of outCopy that the next trace takes
    auto addPending = [&] {
        if (pending != nullptr) addSums(pending, nullptr, partial.get(), n);
        pending = nullptr;
    };
    auto carry = [&] {
        addPending();
        for (int32_t k = 0; k < n; ++k) {
            totals[k] += partial[k];
            partial[k] = 0;
        }
        inPartial = 0;
    };
    const int status = WalkTraces(
        out, in,
        [&](const CommonRegion& region) {
            const MeboAxisDim& d = region.InAxis().dim[0];
            n = d.max - d.min + 1;
            if (average != nullptr && !HoldsSamplesFromCursor(*average, n)) return kAuxTooSmall;
            inCopy = NewScratch<int16_t>(static_cast<size_t>(n));
            // (Two traces' room where a trace's outputs wait for the next's.)
            outCopy = NewScratch<int16_t>((average != nullptr ? 2 : 1) * static_cast<size_t>(n));
            if (!inCopy || !outCopy || !run.Reserve(n, half)) return kStatusAllocationFailed;
            if (average != nullptr) {
                partial = NewScratch<int32_t>(static_cast<size_t>(n));
                totals = NewScratch<int64_t>(static_cast<size_t>(n));
                if (!partial || !totals) return kStatusAllocationFailed;
                std::memset(partial.get(), 0, sizeof(int32_t) * static_cast<size_t>(n));
                std::memset(totals.get(), 0, sizeof(int64_t) * static_cast<size_t>(n));
            }
            traces = region.TraceCount();
            return 0;
        },
        [&](const TraceSpan& s) {
            if (partial && inPartial == kTracesPerPartial) carry();
            // (Output traces that share samples would overwrite the waiting
            // outputs: those are added alone first.)
            if (pending != nullptr && s.outStep == 1 && pending < s.out + n && s.out < pending + n) addPending();
            OnContiguousTrace(
                s, inCopy.get(), outCopy.get() + nextCopy * n,
                [&](const int16_t* x, int16_t* y) {
                    DewowTrace(run, x, y);
                    if (!partial) return;
                    if (pending == nullptr) {
                        pending = y;
                        nextCopy ^= 1;
                    } else {
                        addSums(pending, y, partial.get(), n);
                        pending = nullptr;
                    }
                },
                true);
            ++inPartial;
        });
    if (partial) {
        // The walk ran (the sums exist only once the region was accepted).
        carry();
        const double count = static_cast<double>(traces);
        uint8_t* dst = average->cur;
        for (int32_t k = 0; k < n; ++k, dst += sizeof(int16_t)) {
            const int16_t v = static_cast<int16_t>(static_cast<int32_t>(static_cast<double>(totals[k]) / count));
            std::memcpy(dst, &v, sizeof v);
        }
    }
    return status;
}

}  // namespace vantir3

CCdpPrcDewow::CCdpPrcDewow() : CTableProcess(vantir3::kDewowDecl) { SetDefaults(); }

double* CCdpPrcDewow::ParamSlot(uint32_t) { return &window_; }

int CCdpPrcDewow::ProcessData(MeboDataPtr& out, MeboDataPtr& in, MeboDataPtr* aux) {
    const SEGprParam* gpr = GprParamPtr();
    if (gpr == nullptr) return vantir3::kStatusNoGprParam;
    return vantir3::Dewow(out, in, aux, window_, gpr->antennaFrequency, gpr->sampleInterval);
}

int CCdpProcessToolbox::CdpDewow(MeboDataPtr& out, const MeboDataPtr& in, MeboDataPtr* aux,
                                 double window, double antennaFrequency, double sampleInterval) {
    return vantir3::Dewow(out, in, aux, window, antennaFrequency, sampleInterval);
}

#endif  // HWY_ONCE
