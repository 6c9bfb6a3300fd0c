#include "vantir3/processes/agc_gain.h"

#include <algorithm>
#include <cmath>

#include "vantir3/framework/buffer_walk.h"
#include "vantir3/framework/status.h"

namespace vantir3 {

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
int32_t UncappedFrom(int64_t count, double maxGain) {
    const int64_t last = 32768 * count;
    const double start = std::floor(32767.0 * static_cast<double>(count) / maxGain) - 1.0;
    int64_t s = start < static_cast<double>(count + 1) ? count + 1
                : start > static_cast<double>(last + 1) ? last + 1
                                                        : static_cast<int64_t>(start);
    while (s <= last && Capped(s, count, maxGain)) ++s;
    return static_cast<int32_t>(s);
}

#if defined(VANTIR3_HAVE_AVX512_PATH)
VANTIR3_INTRINSICS_BEGIN
// The vector path gives the scalar formula's bits without its two double
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
//   ratio, so e = (0.5 - 2^-5) + x g lies within 2^-6 of T - 2^-5 where
//   |T| < 32770, and k = floor(e) is floor(T) or one less. The remainder
//   R = S + 65534 c x - 2 S k (exact modulo 2^32, and below 4 S < 2^31) tells
//   which: R >= 2 S means one more; a remainder of 0 after that means a whole
//   T. Where |T| >= 32770, k lies beyond the 16-bit range on the same side as
//   T and saturates as the scalar result does.

// The scalar formula for the samples of a block marked in `redo`; x holds the
// block's input samples and sums their window sums.
__attribute__((noinline, cold)) void RedoSamples(uint32_t redo, const int32_t* x, const int32_t* sums,
                                                 const int32_t* counts, double maxGain, int16_t* y) {
    for (int k = 0; redo != 0; ++k, redo >>= 1) {
        if (redo & 1u) {
            y[k] = AgcSample(static_cast<int16_t>(x[k]), static_cast<double>(sums[k]),
                             static_cast<double>(counts[k]), maxGain);
        }
    }
}

// floor(0.5 + maxGain x) of sixteen samples, in doubles.
VANTIR3_TARGET_AVX512 inline __m512i CappedOutputs(__m512i x, double maxGain) {
    const __m512d g = _mm512_set1_pd(maxGain), half = _mm512_set1_pd(0.5);
    const __m512d lo = _mm512_add_pd(half, _mm512_mul_pd(g, _mm512_cvtepi32_pd(_mm512_castsi512_si256(x))));
    const __m512d hi = _mm512_add_pd(half, _mm512_mul_pd(g, _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(x, 1))));
    const __m256i a = _mm512_cvt_roundpd_epi32(lo, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    const __m256i b = _mm512_cvt_roundpd_epi32(hi, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    return _mm512_inserti64x4(_mm512_castsi256_si512(a), b, 1);
}

// AGC of the blocks that RunningWindow::Stream hands out, with the kernel's
// per-position tables.
struct AgcBlocks {
    const float* fullScale;
    const int32_t* twiceFullScale;
    const int32_t* uncappedFrom;
    const int32_t* counts;
    const int16_t* x;
    int16_t* y;
    double maxGain;

    // The block's estimate settled: k = floor(T) for the lanes that are not
    // capped, `capped` the lanes whose gain is maxGain, `redo` the lanes whose
    // T is a whole number (among the others). The tables are read whole
    // (they are padded); m limits only the results.
    VANTIR3_TARGET_AVX512 __attribute__((always_inline)) void Settle(int32_t i0, __mmask16 m, __m512i s, __m512i xi,
                                                                    __m512i& k, __mmask16& capped,
                                                                    __mmask16& redo) const {
        const __m512 sf = _mm512_cvtepi32_ps(s);
        const __m512 g = _mm512_div_ps(_mm512_loadu_ps(fullScale + i0), sf);
        const __m512 e = _mm512_fmadd_ps(g, _mm512_cvtepi32_ps(xi), _mm512_set1_ps(0.5f - 0x1p-5f));
        k = _mm512_cvt_roundps_epi32(e, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
        const __m512i twoS = _mm512_add_epi32(s, s);
        __m512i rem = _mm512_sub_epi32(
            _mm512_add_epi32(s, _mm512_mullo_epi32(_mm512_loadu_si512(twiceFullScale + i0), xi)),
            _mm512_mullo_epi32(k, twoS));
        const __mmask16 low = _mm512_cmpge_epi32_mask(rem, twoS);
        k = _mm512_mask_add_epi32(k, low, k, _mm512_set1_epi32(1));
        rem = _mm512_mask_sub_epi32(rem, low, rem, twoS);
        capped = _mm512_mask_cmplt_epi32_mask(m, s, _mm512_loadu_si512(uncappedFrom + i0));
        redo = _mm512_mask_testn_epi32_mask(_mm512_kandn(capped, m), rem, rem);
    }

    // The outputs k of the lanes in m, saturated to -32767 ... 32767.
    VANTIR3_TARGET_AVX512 __attribute__((always_inline)) void Store(int32_t i0, __mmask16 m, __m512i k) const {
        _mm256_mask_storeu_epi16(y + i0, m, _mm512_cvtsepi32_epi16(_mm512_max_epi32(k, _mm512_set1_epi32(-32767))));
    }

    // Stores the block's outputs (the lanes in m): k, the capped lanes in
    // doubles, then the redone lanes by the scalar formula.
    VANTIR3_TARGET_AVX512 __attribute__((always_inline)) void Finish(int32_t i0, __mmask16 m, __m512i s, __m512i xi,
                                                                    __m512i k, __mmask16 capped,
                                                                    __mmask16 redo) const {
        if (capped != 0) k = _mm512_mask_mov_epi32(k, capped, CappedOutputs(xi, maxGain));
        Store(i0, m, k);
        if (redo != 0) {
            alignas(64) int32_t xs[16];
            alignas(64) int32_t sums[16];
            _mm512_store_si512(xs, xi);
            _mm512_store_si512(sums, s);
            RedoSamples(redo, xs, sums, counts + i0, maxGain, y + i0);
        }
    }

    VANTIR3_TARGET_AVX512 __attribute__((always_inline)) void operator()(int32_t i0, __mmask16 m,
                                                                        __m512i s) const {
        const __m512i xi = _mm512_cvtepi16_epi32(_mm256_maskz_loadu_epi16(m, x + i0));
        __m512i k;
        __mmask16 capped, redo;
        Settle(i0, m, s, xi, k, capped, redo);
        Finish(i0, m, s, xi, k, capped, redo);
    }

    // Two full blocks, whose rare cases (capped or redone lanes) are looked
    // for with one test.
    VANTIR3_TARGET_AVX512 __attribute__((always_inline)) void Pair(int32_t i0, __m512i s0, __m512i s1) const {
        const __mmask16 all = 0xFFFF;
        const __m512i x0 = _mm512_cvtepi16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + i0)));
        const __m512i x1 = _mm512_cvtepi16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + i0 + 16)));
        __m512i k0, k1;
        __mmask16 capped0, capped1, redo0, redo1;
        Settle(i0, all, s0, x0, k0, capped0, redo0);
        Settle(i0 + 16, all, s1, x1, k1, capped1, redo1);
        if (((capped0 | capped1) | (redo0 | redo1)) != 0) {
            Finish(i0, all, s0, x0, k0, capped0, redo0);
            Finish(i0 + 16, all, s1, x1, k1, capped1, redo1);
            return;
        }
        Store(i0, all, k0);
        Store(i0 + 16, all, k1);
    }
};

VANTIR3_TARGET_AVX512 void StreamAgc(const RunningWindow& window, const AgcBlocks& blocks) {
    AgcBlocks b = blocks;
    window.Stream(b.x, true, b);
}
VANTIR3_INTRINSICS_END
#endif
}  // namespace

const ProcessDecl kAgcGainDecl = {
    "AGC@@@", "AGC Gain",
    "AGC (Automatic Gain Control) applies a variable gain inversely proportional to signal strength, "
    "attempting to equalize all the signals. It is often used to enhance continuity of reflection "
    "events. Relative signal amplitude information is NOT preserved (i.e. after AGC relative signal "
    "strength between reflectors becomes meaningless).",
    2, kAgcGainParams};

bool AgcKernel::Reserve(int32_t n, int32_t half, double maxGain, SimdPath level) {
    maxGain_ = maxGain;
    vector_ = false;
    fullScale_.reset();
    twiceFullScale_.reset();
    uncappedFrom_.reset();
    if (!window_.Reserve(n, half, level)) return false;
    const int64_t widest = std::min<int64_t>(2 * int64_t{window_.Half()} + 1, window_.Size());
    if (!window_.Vector() || widest > kMaxVectorWindow || !(maxGain >= 1.0 && maxGain <= 32767.0)) return true;
    const size_t size = static_cast<size_t>(window_.Size()) + 16;
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
            uncappedFrom_[i] = UncappedFrom(c, maxGain);
        }
    }
    vector_ = true;
    return true;
}

void AgcKernel::Trace(const int16_t* x, int16_t* y) const {
#if defined(VANTIR3_HAVE_AVX512_PATH)
    if (vector_) {
        StreamAgc(window_, {fullScale_.get(), twiceFullScale_.get(), uncappedFrom_.get(), window_.Counts(), x, y,
                            maxGain_});
        return;
    }
#endif
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
            return kernel.Reserve(static_cast<int32_t>(n), half, maxGain, ChooseSimdPath()) ? kStatusOk : kStatusAllocationFailed;
        },
        [&](const TraceSpan& s) {
            OnContiguousTrace(s, inCopy.get(), outCopy.get(),
                              [&](const int16_t* x, int16_t* y) { kernel.Trace(x, y); });
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
