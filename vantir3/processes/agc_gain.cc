#include "vantir3/processes/agc_gain.h"

#include "vantir3/framework/buffer_walk.h"

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

#if defined(VANTIR3_HAVE_AVX512_PATH)
// GCC 12 reports the deliberately undefined vectors inside the intrinsics as
// maybe uninitialised.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// The vector path avoids both divisions of the scalar formula, whose
// throughput would bound the whole kernel, and still gives its bits:
// - Silence is decided exactly as S <= c for the window sum S over c
//   samples (S / c > 1 means S / c >= 1 + 1 / c, which rounds above 1).
// - Otherwise g' = q + q (1 - S r) with q = (32767 c) r and r the 14-bit
//   reciprocal estimate of S: one Newton step, so g' lies within 2^-27.9 g
//   of the scalar gain g = 32767 / (S / c) (both divisions rounded). The cap
//   at maxGain keeps that bound.
// - Every gain is at most 32767 (a capped one, or 32767 / mean with a mean
//   above 1), so t = 0.5 + x g, the scalar value before the floor, has
//   |t| < 2^31.
// - The vector path forms w = (0.5 + d) + x g' (one rounding), d = 2^-12.
//   Where |w| < 32770, w - d lies within 2^-12.8 of t, so a w whose fraction
//   is at least 2d has floor(t) = floor(w); farther out both saturate alike.
//   The samples whose w has a smaller fraction (about one in 2000 on noise)
//   are recomputed with the scalar formula.
constexpr double kNearWhole = 0x1p-12;

// The scalar formula for the samples of a block marked in `redo`. x holds
// the block's input samples and sums their window sums (copied before the
// block's output was stored, as input and output may share memory).
__attribute__((noinline, cold)) void RedoSamples(uint32_t redo, const int16_t* x, const int32_t* sums,
                                                 const int32_t* counts, double maxGain, int16_t* y) {
    for (int k = 0; redo != 0; ++k, redo >>= 1) {
        if (redo & 1u) {
            y[k] = AgcSample(x[k], static_cast<double>(sums[k]), static_cast<double>(counts[k]), maxGain);
        }
    }
}

// Outputs of eight samples (widened to doubles) from their window sums, the
// full-scale counts 32767 c and the mask of the lanes that are not silent,
// before the floor; `exact` marks the lanes whose floor is sure.
VANTIR3_TARGET_AVX512 __attribute__((always_inline)) inline __m512d AgcEight(__m512d x, __m512d sum,
                                                                             __m512d fullScale, __mmask8 loud,
                                                                             __m512d maxGain,
                                                                             __m512d silentGain,
                                                                             __mmask8& exact) {
    const __m512d r = _mm512_rcp14_pd(sum);
    const __m512d q = _mm512_mul_pd(fullScale, r);
    const __m512d g = _mm512_fmadd_pd(q, _mm512_fnmadd_pd(sum, r, _mm512_set1_pd(1.0)), q);
    // min gives its second operand unless the first is smaller: the gain
    // capped at maxGain, as AgcGainFor caps it; silent lanes keep silentGain.
    const __m512d w = _mm512_fmadd_pd(_mm512_mask_min_pd(silentGain, loud, maxGain, g), x,
                                      _mm512_set1_pd(0.5 + kNearWhole));
    // w - floor(w) in one instruction.
    const __m512d frac = _mm512_reduce_pd(w, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    exact = _mm512_cmp_pd_mask(frac, _mm512_set1_pd(2.0 * kNearWhole), _CMP_GE_OQ);
    return w;
}

// AGC of the blocks that RunningWindow::Stream hands out.
struct AgcBlocks {
    const int32_t* counts;
    const double* fullScale;
    const int16_t* x;
    int16_t* y;
    double maxGain;

    VANTIR3_TARGET_AVX512 __attribute__((always_inline)) void operator()(int32_t i0, __mmask16 m,
                                                                        __m512i s) const {
        const __m512d top = _mm512_set1_pd(maxGain);
        const __m512d silent = _mm512_set1_pd(maxGain < 32767.0 ? maxGain : 32767.0);
        const __mmask8 lo = static_cast<__mmask8>(m), hi = static_cast<__mmask8>(m >> 8);
        const __m256i xs = _mm256_maskz_loadu_epi16(m, x + i0);
        __m512d xl, xh;
        avx512::Widen(xs, xl, xh);
        // Silence (S <= c) of all sixteen in one integer comparison.
        const __mmask16 loud = _mm512_mask_cmpgt_epi32_mask(m, s, _mm512_maskz_loadu_epi32(m, counts + i0));
        __mmask8 exactLo, exactHi;
        const __m512d tl = AgcEight(xl, _mm512_cvtepi32_pd(_mm512_castsi512_si256(s)),
                                    _mm512_maskz_loadu_pd(lo, fullScale + i0), static_cast<__mmask8>(loud), top,
                                    silent, exactLo);
        const __m512d th = AgcEight(xh, _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(s, 1)),
                                    _mm512_maskz_loadu_pd(hi, fullScale + i0 + 8),
                                    static_cast<__mmask8>(loud >> 8), top, silent, exactHi);
        const __mmask16 redo = _mm512_kandn(_mm512_kunpackb(exactHi, exactLo), m);
        if (_mm512_kortestz(redo, redo)) {
            _mm256_mask_storeu_epi16(y + i0, m, avx512::FloorSaturate16Within31Bits(tl, th));
            return;
        }
        alignas(64) int16_t xCopy[16];
        alignas(64) int32_t sums[16];
        _mm256_store_si256(reinterpret_cast<__m256i*>(xCopy), xs);
        _mm512_store_si512(sums, s);
        _mm256_mask_storeu_epi16(y + i0, m, avx512::FloorSaturate16Within31Bits(tl, th));
        RedoSamples(redo, xCopy, sums, counts + i0, maxGain, y + i0);
    }
};

VANTIR3_TARGET_AVX512 void AgcTraceAvx512(const RunningWindow& window, const int16_t* x, int16_t* y,
                                          double maxGain) {
    AgcBlocks blocks = {window.Counts(), window.FullScaleCounts(), x, y, maxGain};
    window.Stream(x, true, blocks);
}
#pragma GCC diagnostic pop
#endif
}  // namespace

const ProcessDecl kAgcGainDecl = {
    "AGC@@@", "AGC Gain",
    "AGC (Automatic Gain Control) applies a variable gain inversely proportional to signal strength, "
    "attempting to equalize all the signals. It is often used to enhance continuity of reflection "
    "events. Relative signal amplitude information is NOT preserved (i.e. after AGC relative signal "
    "strength between reflectors becomes meaningless).",
    2, kAgcGainParams};

void AgcTrace(const RunningWindow& window, const int16_t* x, int16_t* y, double maxGain) {
#if defined(VANTIR3_HAVE_AVX512_PATH)
    if (window.Vector()) {
        AgcTraceAvx512(window, x, y, maxGain);
        return;
    }
#endif
    window.ForEach<true>(x, [x, y, maxGain](int32_t i, double sum, double count) {
        y[i] = AgcSample(x[i], sum, count, maxGain);
    });
}

int AgcGain(MeboDataPtr& out, const MeboDataPtr& in, double window, double maxGain,
            double antennaFrequency, double sampleInterval) {
    const int32_t half = RunningMeanHalf(window, antennaFrequency, sampleInterval);
    RunningWindow run;
    std::unique_ptr<int16_t[]> inCopy, outCopy;
    return WalkTraces(
        out, in,
        [&](const CommonRegion& region) {
            const MeboAxisDim& d = region.InAxis().dim[0];
            const size_t n = static_cast<size_t>(d.max - d.min + 1);
            inCopy = NewScratch<int16_t>(n);
            outCopy = NewScratch<int16_t>(n);
            if (!inCopy || !outCopy) return -1;
            return run.Reserve(static_cast<int32_t>(n), half, CpuSimdLevel()) ? 0 : -1;
        },
        [&](const TraceSpan& s) {
            OnContiguousTrace(s, inCopy.get(), outCopy.get(),
                              [&](const int16_t* x, int16_t* y) { AgcTrace(run, x, y, maxGain); });
        });
}

}  // namespace vantir3

CCdpPrcAgcGain::CCdpPrcAgcGain() : CTableProcess(vantir3::kAgcGainDecl) { SetDefaults(); }

double* CCdpPrcAgcGain::ParamSlot(uint32_t index) { return index == 0 ? &window_ : &maxGain_; }

int CCdpPrcAgcGain::ProcessData(MeboDataPtr& out, MeboDataPtr& in, MeboDataPtr*) {
    const SEGprParam* gpr = GprParamPtr();
    if (gpr == nullptr) return -201;
    return vantir3::AgcGain(out, in, window_, maxGain_, gpr->antennaFrequency, gpr->sampleInterval);
}
