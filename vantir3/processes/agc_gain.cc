#include "vantir3/processes/agc_gain.h"

#include "vantir3/framework/buffer_walk.h"
#include "vantir3/numeric/scale_kernels.h"

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
// AgcGainFor on eight windows: the same two divisions and comparisons. With
// a maximum gain of at most 32767 the test for silence is left out: a mean
// of at most 1 makes 32767 / mean at least 32767, so the minimum below gives
// exactly the maximum gain, which is then the gain for silence.
template <bool CheckSilence>
VANTIR3_TARGET_AVX512 __attribute__((always_inline)) inline __m512d GainsFor(__m512d sum, __m512d count,
                                                                              __m512d maxGain, __m512d silent) {
    const __m512d mean = _mm512_div_pd(sum, count);
    // min returns its second operand unless the first is smaller: maxGain
    // when 32767 / mean exceeds it.
    const __m512d g = _mm512_min_pd(_mm512_div_pd(_mm512_set1_pd(32767.0), mean), maxGain);
    if (!CheckSilence) return g;
    return _mm512_mask_mov_pd(g, _mm512_cmp_pd_mask(mean, _mm512_set1_pd(1.0), _CMP_LE_OQ), silent);
}

// AGC gains of the blocks that RunningWindow::Stream hands out.
template <bool CheckSilence>
struct GainBlocks {
    const double* counts;
    double* gains;
    double maxGain;

    VANTIR3_TARGET_AVX512 __attribute__((always_inline)) void operator()(int32_t i0, __mmask16 m,
                                                                        __m512i s) const {
        const __m512d top = _mm512_set1_pd(maxGain);
        const __m512d silent = _mm512_set1_pd(maxGain < 32767.0 ? maxGain : 32767.0);
        const __m512d one = _mm512_set1_pd(1.0);
        const __mmask8 lo = static_cast<__mmask8>(m), hi = static_cast<__mmask8>(m >> 8);
        _mm512_mask_storeu_pd(gains + i0, lo,
                              GainsFor<CheckSilence>(_mm512_cvtepi32_pd(_mm512_castsi512_si256(s)),
                                                     _mm512_mask_loadu_pd(one, lo, counts + i0), top, silent));
        _mm512_mask_storeu_pd(gains + i0 + 8, hi,
                              GainsFor<CheckSilence>(_mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(s, 1)),
                                                     _mm512_mask_loadu_pd(one, hi, counts + i0 + 8), top, silent));
    }
};

VANTIR3_TARGET_AVX512 void AgcGainsAvx512(const RunningWindow& window, const int16_t* x, double maxGain,
                                          double* gains) {
    if (maxGain <= 32767.0) {
        GainBlocks<false> blocks = {window.Counts(), gains, maxGain};
        window.Stream(x, true, blocks);
    } else {
        GainBlocks<true> blocks = {window.Counts(), gains, maxGain};
        window.Stream(x, true, blocks);
    }
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

void AgcTrace(const RunningWindow& window, const int16_t* x, int16_t* y, double maxGain, double* gains) {
#if defined(VANTIR3_HAVE_AVX512_PATH)
    if (window.Vector()) {
        AgcGainsAvx512(window, x, maxGain, gains);
    } else
#endif
    {
        window.ForEach<true>(x, [gains, maxGain](int32_t i, double sum, double count) {
            gains[i] = AgcGainFor(sum / count, maxGain);
        });
    }
    ScaleSamplesByTable(x, y, window.Size(), gains);
}

int AgcGain(MeboDataPtr& out, const MeboDataPtr& in, double window, double maxGain,
            double antennaFrequency, double sampleInterval) {
    const int32_t half = RunningMeanHalf(window, antennaFrequency, sampleInterval);
    RunningWindow run;
    std::unique_ptr<int16_t[]> inCopy, outCopy;
    std::unique_ptr<double[]> gains;
    return WalkTraces(
        out, in,
        [&](const CommonRegion& region) {
            const MeboAxisDim& d = region.InAxis().dim[0];
            const size_t n = static_cast<size_t>(d.max - d.min + 1);
            inCopy = NewScratch<int16_t>(n);
            outCopy = NewScratch<int16_t>(n);
            gains = NewScratch<double>(n);
            if (!inCopy || !outCopy || !gains) return -1;
            return run.Reserve(static_cast<int32_t>(n), half, CpuSimdLevel()) ? 0 : -1;
        },
        [&](const TraceSpan& s) {
            OnContiguousTrace(s, inCopy.get(), outCopy.get(), [&](const int16_t* x, int16_t* y) {
                AgcTrace(run, x, y, maxGain, gains.get());
            });
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
