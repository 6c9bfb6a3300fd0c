#include "vantir3/processes/dewow.h"

#include <cstring>

#include "vantir3/framework/buffer_walk.h"
#include "vantir3/framework/status.h"
#include "vantir3/framework/toolbox.h"

namespace vantir3 {

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

#if defined(VANTIR3_HAVE_AVX512_PATH)
VANTIR3_INTRINSICS_BEGIN
// Dewow of the blocks that RunningWindow::Stream hands out.
struct DewowBlocks {
    const double* inverse;
    const int16_t* x;
    int16_t* y;
    int32_t* sums;

    VANTIR3_TARGET_AVX512 __attribute__((always_inline)) void Pair(int32_t i0, __m512i s0, __m512i s1) const {
        (*this)(i0, 0xFFFF, s0);
        (*this)(i0 + 16, 0xFFFF, s1);
    }
    VANTIR3_TARGET_AVX512 __attribute__((always_inline)) void operator()(int32_t i0, __mmask16 m,
                                                                        __m512i s) const {
        const __mmask8 lo = static_cast<__mmask8>(m), hi = static_cast<__mmask8>(m >> 8);
        const __m512d ql = _mm512_mul_pd(_mm512_cvtepi32_pd(_mm512_castsi512_si256(s)),
                                         _mm512_maskz_loadu_pd(lo, inverse + i0));
        const __m512d qh = _mm512_mul_pd(_mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(s, 1)),
                                         _mm512_maskz_loadu_pd(hi, inverse + i0 + 8));
        const __m256i xs = _mm256_maskz_loadu_epi16(m, x + i0);
        const __m256i ys = avx512::SubtractSaturated16(xs, avx512::Truncate16(ql, qh));
        _mm256_mask_storeu_epi16(y + i0, m, ys);
        if (sums != nullptr) {
            _mm512_mask_storeu_epi32(sums + i0, m,
                                     _mm512_add_epi32(_mm512_maskz_loadu_epi32(m, sums + i0),
                                                      _mm512_cvtepi16_epi32(ys)));
        }
    }
};

VANTIR3_TARGET_AVX512 void DewowTraceAvx512(const RunningWindow& window, const int16_t* x, int16_t* y,
                                            int32_t* sums) {
    DewowBlocks blocks = {window.TruncatingInverses(), x, y, sums};
    window.Stream(x, false, blocks);
}
VANTIR3_INTRINSICS_END
#endif
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

void DewowTrace(const RunningWindow& window, const int16_t* x, int16_t* y, int32_t* sums) {
#if defined(VANTIR3_HAVE_AVX512_PATH)
    if (window.Vector()) {
        DewowTraceAvx512(window, x, y, sums);
        return;
    }
#endif
    window.ForEach<false>(x, [x, y, sums](int32_t i, double sum, double count) {
        const double mean = sum / count;
        y[i] = SubtractSaturated16(x[i], static_cast<int16_t>(static_cast<int32_t>(mean)));
        if (sums != nullptr) sums[i] += y[i];
    });
}

int Dewow(MeboDataPtr& out, const MeboDataPtr& in, MeboDataPtr* average, double window,
          double antennaFrequency, double sampleInterval) {
    const int32_t half = RunningMeanHalf(window, antennaFrequency, sampleInterval);
    RunningWindow run;
    Scratch<int16_t> inCopy, outCopy;
    // The averaged trace: the outputs of up to kTracesPerPartial traces are
    // added in 32-bit partial sums (they cannot overflow), which are carried
    // into 64-bit totals. All are exact whole numbers, as the sums of the
    // outputs are.
    constexpr int64_t kTracesPerPartial = 65535;
    Scratch<int32_t> partial;
    Scratch<int64_t> totals;
    int64_t inPartial = 0;
    int32_t n = 0;
    int64_t traces = 0;
    auto carry = [&] {
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
            outCopy = NewScratch<int16_t>(static_cast<size_t>(n));
            if (!inCopy || !outCopy || !run.Reserve(n, half, ChooseSimdPath())) return kStatusAllocationFailed;
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
            OnContiguousTrace(
                s, inCopy.get(), outCopy.get(),
                [&](const int16_t* x, int16_t* y) { DewowTrace(run, x, y, partial.get()); }, true);
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
