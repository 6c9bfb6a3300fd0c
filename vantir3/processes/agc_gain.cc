#include "vantir3/processes/agc_gain.h"

#include <algorithm>
#include <cmath>

#include "vantir3/framework/buffer_walk.h"
#include "vantir3/framework/status.h"

// The vector kernel below is compiled once per instruction set.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vantir3/processes/agc_gain.cc"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"
#include "vantir3/numeric/running_window-inl.h"
#include "vantir3/numeric/sample_vectors-inl.h"

HWY_BEFORE_NAMESPACE();
namespace vantir3 {
namespace HWY_NAMESPACE {
#if VANTIR3_SAMPLE_VECTORS
namespace {

// The vector kernel gives the scalar formula's bits without its two double
// divisions. For a window sum S over c samples and a sample x, the scalar
// path rounds T = 0.5 + 32767 c x / S = (S + 65534 c x) / (2 S):
// - Capped lanes (the gain is maxGain) are those whose S lies below the
//   position's UncappedFrom; they get floor(0.5 + maxGain x) in doubles, as
//   the scalar path computes it (|0.5 + maxGain x| < 2^31).
// - Otherwise S > c. Where |T| < 32770, the scalar value lies within 2^-36
//   of T, and a T that is not a whole number lies at least 1 / (2 S) > 2^-30
//   from the next one, so the scalar result is floor(T) (beyond, both
//   saturate alike). Only a whole T may come out one lower: such lanes (rare)
//   are recomputed with the scalar formula.
// - floor(T) from one single-precision division: g = 32767 c / S, with c, S
//   and the quotient each rounded to a float, is within 2^-22.4 of the exact
//   ratio, so x g lies within 2^-7.4 of T - 0.5 where |T| < 32770, and
//   e = (1 - 2^-5) + x g, rounded to a float once (fused, or the product
//   and the sum each where the instruction set has no fused form: below 2^16
//   in size, 2^-9 each), within 2^-6.4 of T + 1/2 - 2^-5, so in
//   [T + 0.456, T + 0.481]: k = e rounded to the nearest whole number (the
//   conversion's own rounding, ties either way) is floor(T) or one more.
//   The remainder R = S + 65534 c x - 2 S k (exact modulo 2^32, and at most
//   2 S < 2^30 in size) tells which: R < 0 means one less (its sign bit,
//   added). As e stays below T + 1/2, a whole T gives k = T and R = 0, and
//   R = 0 means a whole T. Where |T| >= 32770, k lies beyond the 16-bit
//   range on the same side as T and saturates as the scalar result does.

// The scalar formula for the lanes j of a block (at most a vector) whose
// redo[j] is set; x, sums and counts hold the lanes' samples, window sums and
// window sizes.
HWY_NOINLINE void RedoSamples(size_t lanes, const int32_t* redo, const int32_t* x, const int32_t* sums,
                              const int32_t* counts, double maxGain, int16_t* y) {
    for (size_t j = 0; j < lanes; ++j) {
        if (redo[j] != 0) {
            y[j] = AgcSample(static_cast<int16_t>(x[j]), static_cast<double>(sums[j]),
                             static_cast<double>(counts[j]), maxGain);
        }
    }
}

// e rounded to the nearest whole number (ties either way), for floats below
// 2^31 in size, as 32-bit integers: AVX-512 and AVX2 convert in the default
// rounding mode without Highway's correction for values beyond 2^31.
template <class D32>
HWY_INLINE hn::Vec<D32> NearestToInt32(D32 d, hn::Vec<hn::RebindToFloat<D32>> e) {
    (void)d;
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
    return hn::Vec<D32>{_mm512_cvtps_epi32(e.raw)};
#elif HWY_TARGET == HWY_AVX2
    return hn::Vec<D32>{_mm256_cvtps_epi32(e.raw)};
#else
    return hn::NearestInt(e);
#endif
}

// Stores the outputs k (32-bit lanes) to y as samples limited to -32767 ...
// 32767: AVX-512 narrows with saturation in one instruction, where
// DemoteTo packs and then permutes.
template <class D32>
HWY_INLINE void StoreOutputs(D32 d, hn::Vec<D32> k, int16_t* y) {
    k = hn::Max(k, hn::Set(d, -32767));
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
    // (The zero-masked form with every lane set: the plain one starts from an
    // undefined vector, which GCC 12 reports as maybe uninitialised.)
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(y), _mm512_maskz_cvtsepi32_epi16(0xFFFF, k.raw));
#else
    const hn::Rebind<int16_t, D32> d16;
    hn::StoreU(hn::DemoteTo(d16, k), d16, y);
#endif
}

// Off the fast path, the N samples at i whose window sums are s, samples
// xi, remainders rem and estimates k (corrected): capped lanes get
// floor(0.5 + maxGain x) in doubles (below 2^31 in size), lanes of a whole T
// the scalar formula.
template <class D32>
HWY_NOINLINE void FinishBlock(D32 d, const AgcKernel& kernel, int32_t i, hn::Vec<D32> s, hn::Vec<D32> xi,
                              hn::Vec<D32> rem, hn::Vec<D32> k, int16_t* y) {
    const hn::Half<D32> dh;
    const hn::Repartition<double, D32> d64;
    const auto gain = hn::Set(d64, kernel.MaxGain());
    const auto half = hn::Set(d64, 0.5);
    const auto capped = hn::Lt(s, hn::LoadU(d, kernel.UncappedFrom() + i));
    const auto redo = hn::AndNot(capped, hn::Eq(rem, hn::Zero(d)));
    const auto lo = hn::Add(half, hn::Mul(gain, hn::PromoteTo(d64, hn::LowerHalf(dh, xi))));
    const auto hi = hn::Add(half, hn::Mul(gain, hn::PromoteTo(d64, hn::UpperHalf(dh, xi))));
    k = hn::IfThenElse(capped, hn::Combine(d, hn::DemoteTo(dh, hn::Floor(hi)), hn::DemoteTo(dh, hn::Floor(lo))), k);
    StoreOutputs(d, k, y);
    if (hn::AllFalse(d, redo)) return;
    constexpr size_t kMax = HWY_MAX_BYTES / sizeof(int32_t);
    int32_t redoLanes[kMax], xs[kMax], sums[kMax];
    hn::StoreU(hn::VecFromMask(d, redo), d, redoLanes);
    hn::StoreU(xi, d, xs);
    hn::StoreU(s, d, sums);
    RedoSamples(hn::Lanes(d), redoLanes, xs, sums, kernel.Window().Counts() + i, kernel.MaxGain(), y);
}

}  // namespace
#endif

void AgcTraceVectors(const AgcKernel& kernel, const int16_t* x, int16_t* y) {
#if VANTIR3_SAMPLE_VECTORS
    const hn::ScalableTag<int32_t> d;
    using V = hn::Vec<decltype(d)>;
    const hn::RebindToFloat<decltype(d)> df;
    const hn::Rebind<int16_t, decltype(d)> d16;
    const float* fullScale = kernel.FullScale();
    const int32_t* twiceFullScale = kernel.TwiceFullScale();
    const int32_t* uncappedFrom = kernel.UncappedFrom();
    const auto offset = hn::Set(df, 1.0f - 0x1p-5f);
    const RunningWindow& window = kernel.Window();
    const int32_t* lower = window.Prefix();
    const int32_t* upper = lower + 2 * window.Half() + 1;
    const int32_t lanes = static_cast<int32_t>(hn::Lanes(d));
    const hn::Repartition<int16_t, decltype(d)> dOut;
    // The estimate k of N samples at i, corrected by the remainder rem (0
    // where T is whole), from the window sums s and the samples xi.
    auto estimate = [&](int32_t i, const int16_t* xb, V& s, V& xi, V& rem) {
        s = WindowSums(d, lower, upper, i);
        xi = hn::PromoteTo(d, hn::LoadU(d16, xb));
        const auto g = hn::Div(hn::LoadU(df, fullScale + i), hn::ConvertTo(df, s));
        const V k = NearestToInt32(d, hn::MulAdd(g, hn::ConvertTo(df, xi), offset));
        rem = hn::Sub(hn::Add(s, hn::Mul(hn::LoadU(d, twiceFullScale + i), xi)), hn::Mul(k, hn::Add(s, s)));
        // One less where the remainder is negative (all ones in its sign bits).
        return hn::Add(k, hn::ShiftRight<31>(rem));
    };
    // The lower limit after narrowing: the pack saturates at -32768, and one
    // 16-bit maximum then lifts both halves to -32767.
    const auto lowest = hn::Set(dOut, int16_t{-32767});
    ForEachWindowBlock(d, window, x, y, true, [&](int32_t i0, const int16_t* xb, int16_t* yb) {
        V s0, x0, rem0, s1, x1, rem1;
        const V k0 = estimate(i0, xb, s0, x0, rem0);
        const V k1 = estimate(i0 + lanes, xb + lanes, s1, x1, rem1);
        // Capped lanes (S below the position's UncappedFrom) and whole values
        // of T, in either half, leave the fast path.
        const auto capped = hn::Or(hn::Lt(s0, hn::LoadU(d, uncappedFrom + i0)),
                                   hn::Lt(s1, hn::LoadU(d, uncappedFrom + i0 + lanes)));
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
        // (Comparisons write mask registers here, joined in one step.)
        const auto whole = hn::Or(hn::Eq(rem0, hn::Zero(d)), hn::Eq(rem1, hn::Zero(d)));
#else
        // (A remainder of 0 in either half: the smaller of the two taken as
        // unsigned is 0, one comparison of vectors instead of two and an Or.)
        const hn::RebindToUnsigned<decltype(d)> du;
        const auto smaller = hn::Min(hn::BitCast(du, rem0), hn::BitCast(du, rem1));
        const auto whole = hn::RebindMask(d, hn::Eq(smaller, hn::Zero(du)));
#endif
        if (HWY_LIKELY(hn::AllFalse(d, hn::Or(capped, whole)))) {
            hn::StoreU(hn::Max(DemoteInOrder(d, k0, k1), lowest), dOut, yb);
            return;
        }
        FinishBlock(d, kernel, i0, s0, x0, rem0, k0, yb);
        FinishBlock(d, kernel, i0 + lanes, s1, x1, rem1, k1, yb + lanes);
    });
#else
    kernel.TraceScalar(x, y);
#endif
}

}  // namespace HWY_NAMESPACE
}  // namespace vantir3
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace vantir3 {

HWY_EXPORT(AgcTraceVectors);

namespace {
constexpr ParamDecl kAgcGainParams[] = {
    {"WINDOW", 'D', 1, 1.5, 0.1, 1000.0, 0.1,
     "1.5\nWindow Width\nSpecifies the width (time duration) of signal used to determine signal "
     "strength. Measured in units of GPR transmit pulse widths."},
    {"MAXGN@", 'D', 0, 500.0, 1.0, 32767.0, 1.0,
     "20;50;200;500;2000;5000\nMaximum Gain\nSpecifies the maximum applied gain. Once this value is "
     "reached, the gain will not increase further. Used to avoid excessive gain for very small "
     "signals."},
};

// The largest window of the vector path: its window sums S stay below 2^29,
// so that 4 S fits in a signed 32-bit lane.
constexpr int32_t kMaxVectorWindow = 16383;

// Whether the scalar formula gives a window with sum S over c samples the
// gain maxGain (silence, a gain capped at maxGain, or one equal to it;
// maxGain <= 32767).
bool Capped(int64_t sum, int64_t count, double maxGain) {
    return AgcGainFor(static_cast<double>(sum) / static_cast<double>(count), maxGain) == maxGain;
}

// The smallest window sum over c samples whose gain is not capped (32768 c +
// 1 when none is). Capped holds for every sum below it and none above, as the
// rounded mean never decreases when S grows; the search starts one below
// 32767 c / maxGain (whose roundings move it by far less than one), under
// the answer and a step or two from it.
int32_t FirstUncappedSum(int64_t count, double maxGain) {
    const int64_t last = 32768 * count;
    const double start = std::floor(32767.0 * static_cast<double>(count) / maxGain) - 1.0;
    int64_t s = start < static_cast<double>(count + 1) ? count + 1
                : start > static_cast<double>(last + 1) ? last + 1
                                                        : static_cast<int64_t>(start);
    while (s <= last && Capped(s, count, maxGain)) ++s;
    return static_cast<int32_t>(s);
}

}  // namespace

const ProcessDecl kAgcGainDecl = {
    "AGC@@@", "AGC Gain",
    "AGC (Automatic Gain Control) applies a variable gain inversely proportional to signal strength, "
    "attempting to equalize all the signals. It is often used to enhance continuity of reflection "
    "events. Relative signal amplitude information is NOT preserved (i.e. after AGC relative signal "
    "strength between reflectors becomes meaningless).",
    2, kAgcGainParams};

bool AgcKernel::Reserve(int32_t n, int32_t half, double maxGain) {
    maxGain_ = maxGain;
    vector_ = false;
    fullScale_.reset();
    twiceFullScale_.reset();
    uncappedFrom_.reset();
    if (!window_.Reserve(n, half)) return false;
    if (!window_.Vector() || window_.Widest() > kMaxVectorWindow || !(maxGain >= 1.0 && maxGain <= 32767.0)) {
        return true;
    }
    const size_t size = static_cast<size_t>(window_.Size()) + RunningWindow::kPadding;
    fullScale_ = NewScratch<float>(size);
    twiceFullScale_ = NewScratch<int32_t>(size);
    uncappedFrom_ = NewScratch<int32_t>(size);
    if (!fullScale_ || !twiceFullScale_ || !uncappedFrom_) return false;
    // Window sizes repeat inside the trace, and sample n - 1 - i has the
    // size of sample i: each size is searched once. The padding serves
    // masked-off lanes only.
    const int32_t* counts = window_.Counts();
    const size_t total = static_cast<size_t>(window_.Size());
    for (size_t i = 0; i < size; ++i) {
        const int32_t c = i < total ? counts[i] : 1;
        fullScale_[i] = static_cast<float>(32767 * c);
        twiceFullScale_[i] = 65534 * c;
        if (i >= total) {
            uncappedFrom_[i] = 0;
        } else if (i > 0 && c == counts[i - 1]) {
            uncappedFrom_[i] = uncappedFrom_[i - 1];
        } else if (2 * i >= total) {
            uncappedFrom_[i] = uncappedFrom_[total - 1 - i];
        } else {
            uncappedFrom_[i] = FirstUncappedSum(c, maxGain);
        }
    }
    vector_ = true;
    return true;
}

void AgcKernel::Trace(const int16_t* x, int16_t* y) const {
    if (vector_) {
        HWY_DYNAMIC_DISPATCH(AgcTraceVectors)(*this, x, y);
    } else {
        TraceScalar(x, y);
    }
}

void AgcKernel::TraceScalar(const int16_t* x, int16_t* y) const {
    const double maxGain = maxGain_;
    window_.ForEach<true>(x, [x, y, maxGain](int32_t i, double sum, double count) {
        y[i] = AgcSample(x[i], sum, count, maxGain);
    });
}

int AgcGain(MeboDataPtr& out, const MeboDataPtr& in, double window, double maxGain,
            double antennaFrequency, double sampleInterval) {
    const int32_t half = RunningMeanHalf(window, antennaFrequency, sampleInterval);
    AgcKernel kernel;
    Scratch<int16_t> inCopy, outCopy;
    return WalkTraces(
        out, in,
        [&](const CommonRegion& region) {
            const MeboAxisDim& d = region.InAxis().dim[0];
            const size_t n = static_cast<size_t>(d.max - d.min + 1);
            inCopy = NewScratch<int16_t>(n);
            outCopy = NewScratch<int16_t>(n);
            if (!inCopy || !outCopy) return kStatusAllocationFailed;
            return kernel.Reserve(static_cast<int32_t>(n), half, maxGain) ? kStatusOk : kStatusAllocationFailed;
        },
        [&](const TraceSpan& s) {
            // The scalar walk reads input samples after writing outputs.
            OnContiguousTrace(
                s, inCopy.get(), outCopy.get(), [&](const int16_t* x, int16_t* y) { kernel.Trace(x, y); }, true);
        });
}

}  // namespace vantir3

CCdpPrcAgcGain::CCdpPrcAgcGain() : CTableProcess(vantir3::kAgcGainDecl) { SetDefaults(); }

double* CCdpPrcAgcGain::ParamSlot(uint32_t index) { return index == 0 ? &window_ : &maxGain_; }

int CCdpPrcAgcGain::ProcessData(MeboDataPtr& out, MeboDataPtr& in, MeboDataPtr*) {
    const SEGprParam* gpr = GprParamPtr();
    if (gpr == nullptr) return vantir3::kStatusNoGprParam;
    return vantir3::AgcGain(out, in, window_, maxGain_, gpr->antennaFrequency, gpr->sampleInterval);
}

#endif  // HWY_ONCE
