#include "vantir3/processes/background_subtract.h"

#include <cstring>

#include "vantir3/framework/buffer_walk.h"
#include "vantir3/framework/status.h"
#include "vantir3/framework/toolbox.h"

namespace vantir3 {

namespace {
constexpr ParamDecl kBackgroundSubtractParams[] = {
    {"WINDOW", 'D', 0, 10.0, 1.0, 32767.0, 2.0,
     "10\nWindow Width\nSpecifies the width in traces used to compute the average signal for "
     "background subtraction."},
};

#if defined(VANTIR3_HAVE_AVX512_PATH)
VANTIR3_INTRINSICS_BEGIN
VANTIR3_TARGET_AVX512 void SubtractAvx512(const int16_t* x, const int16_t* b, int16_t* y, int32_t n) {
    int32_t k = 0;
    for (; k + 32 <= n; k += 32) {
        avx512::PrefetchAhead(x + k);
        _mm512_storeu_si512(y + k, avx512::SubtractSaturated16(_mm512_loadu_si512(x + k),
                                                                _mm512_loadu_si512(b + k)));
    }
    for (; k < n; k += 16) {
        const __mmask16 m = avx512::FirstLanes(n - k);
        _mm256_mask_storeu_epi16(y + k, m, avx512::SubtractSaturated16(_mm256_maskz_loadu_epi16(m, x + k),
                                                                        _mm256_maskz_loadu_epi16(m, b + k)));
    }
}

VANTIR3_TARGET_AVX512 __attribute__((always_inline)) inline void RunningBlock(const int16_t* x, double* average,
                                                                              __m512d window, int16_t* y,
                                                                              int32_t k, __mmask16 m) {
    avx512::PrefetchAhead(x + k);
    const __mmask8 lo = static_cast<__mmask8>(m), hi = static_cast<__mmask8>(m >> 8);
    const __m256i xs = _mm256_maskz_loadu_epi16(m, x + k);
    __m512d xl, xh;
    avx512::Widen(xs, xl, xh);
    __m512d bl = _mm512_maskz_loadu_pd(lo, average + k);
    __m512d bh = _mm512_maskz_loadu_pd(hi, average + k + 8);
    bl = _mm512_add_pd(bl, _mm512_div_pd(_mm512_sub_pd(xl, bl), window));
    bh = _mm512_add_pd(bh, _mm512_div_pd(_mm512_sub_pd(xh, bh), window));
    _mm512_mask_storeu_pd(average + k, lo, bl);
    _mm512_mask_storeu_pd(average + k + 8, hi, bh);
    _mm256_mask_storeu_epi16(y + k, m, avx512::SubtractSaturated16(xs, avx512::Truncate16(bl, bh)));
}

VANTIR3_TARGET_AVX512 void RunningAvx512(const int16_t* x, double* average, double window, int16_t* y,
                                         int32_t n) {
    const __m512d w = _mm512_set1_pd(window);
    int32_t k = 0;
    for (; k + 16 <= n; k += 16) RunningBlock(x, average, w, y, k, 0xFFFF);
    if (k < n) RunningBlock(x, average, w, y, k, avx512::FirstLanes(n - k));
}
VANTIR3_INTRINSICS_END
#endif

// The whole part (toward zero) of an average of 16-bit samples.
inline int16_t Truncated(double v) { return static_cast<int16_t>(static_cast<int32_t>(v)); }
}  // namespace

const ProcessDecl kBackgroundSubtractDecl = {
    "BGSUB@", "Background Subtraction",
    "Background Subtraction subtracts an average computed over a number of traces in a moving window "
    "from the current trace.",
    1, kBackgroundSubtractParams};

void SubtractTrace(const int16_t* x, const int16_t* b, int16_t* y, int32_t n, SimdPath level) {
#if defined(VANTIR3_HAVE_AVX512_PATH)
    if (level == SimdPath::kAvx512) {
        SubtractAvx512(x, b, y, n);
        return;
    }
#endif
    (void)level;
    for (int32_t k = 0; k < n; ++k) y[k] = SubtractSaturated16(x[k], b[k]);
}

void RunningBackgroundTrace(const int16_t* x, double* average, double window, int16_t* y, int32_t n,
                            SimdPath level) {
#if defined(VANTIR3_HAVE_AVX512_PATH)
    if (level == SimdPath::kAvx512) {
        RunningAvx512(x, average, window, y, n);
        return;
    }
#endif
    (void)level;
    for (int32_t k = 0; k < n; ++k) {
        average[k] = average[k] + (static_cast<double>(x[k]) - average[k]) / window;
        y[k] = SubtractSaturated16(x[k], Truncated(average[k]));
    }
}

int BackgroundSubtract(MeboDataPtr& out, const MeboDataPtr& in, const MeboDataPtr* background,
                       int window) {
    if (background == nullptr && window < 2) return 0;
    const SimdPath level = ChooseSimdPath();
    const CommonRegion* region = nullptr;
    Scratch<int16_t> inCopy, outCopy, subtrahend;
    Scratch<double> average;
    int32_t n = 0;
    int32_t firstTrace = 0;
    int32_t w = 0;
    return WalkTraces(
        out, in,
        [&](const CommonRegion& r) {
            // Bit 0 of the intersection: the common region is narrower than
            // the input, so the output does not cover it.
            if (r.Status() & kIntersectNarrowerThanFirst) return kOutputDoesNotCoverInput;
            const Mebo3DDataAxis& a = r.InAxis();
            n = a.dim[0].max - a.dim[0].min + 1;
            inCopy = NewScratch<int16_t>(static_cast<size_t>(n));
            outCopy = NewScratch<int16_t>(static_cast<size_t>(n));
            subtrahend = NewScratch<int16_t>(static_cast<size_t>(n));
            if (!inCopy || !outCopy || !subtrahend) return kStatusAllocationFailed;
            if (background != nullptr) {
                const Mebo3DDataAxis& b = background->axis;
                if (background->storage == nullptr || b.elemSize != static_cast<int32_t>(sizeof(int16_t)) ||
                    int64_t{b.dim[0].max} - b.dim[0].min + 1 < n) {
                    return kAuxTooSmall;
                }
                const uint8_t* p = b.base;
                for (int32_t k = 0; k < n; ++k, p += b.dim[0].stride) {
                    std::memcpy(&subtrahend[k], p, sizeof(int16_t));
                }
                return 0;
            }
            region = &r;
            firstTrace = a.dim[1].min;
            const int64_t traces = int64_t{a.dim[1].max} - a.dim[1].min + 1;
            w = window < traces ? window : static_cast<int32_t>(traces);
            // 16 more entries: the last vector block addresses them (masked).
            average = NewScratch<double>(static_cast<size_t>(n) + 16);
            return average ? kStatusOk : kStatusAllocationFailed;
        },
        [&](const TraceSpan& s) {
            const bool running = background == nullptr;
            if (running && s.trace == firstTrace) {
                // A new plane: the mean of its first w traces.
                double* b = average.get();
                for (int32_t k = 0; k < n; ++k) b[k] = 0.0;
                for (int32_t t = firstTrace; t < firstTrace + w; ++t) {
                    const TraceSpan u = region->Trace(t, s.plane);
                    const int16_t* p = u.in;
                    if (u.inStep == 1) {
                        for (int32_t k = 0; k < n; ++k) b[k] += static_cast<double>(p[k]);
                    } else {
                        for (int32_t k = 0; k < n; ++k, p += u.inStep) b[k] += static_cast<double>(*p);
                    }
                }
                for (int32_t k = 0; k < n; ++k) {
                    b[k] = b[k] / static_cast<double>(w);
                    subtrahend[k] = Truncated(b[k]);
                }
            }
            OnContiguousTrace(s, inCopy.get(), outCopy.get(), [&](const int16_t* x, int16_t* y) {
                if (!running || s.trace < firstTrace + w) {
                    SubtractTrace(x, subtrahend.get(), y, n, level);
                } else {
                    RunningBackgroundTrace(x, average.get(), static_cast<double>(w), y, n, level);
                }
            });
        });
}

}  // namespace vantir3

CCdpPrcBackgroundSubtract::CCdpPrcBackgroundSubtract()
    : CTableProcess(vantir3::kBackgroundSubtractDecl) {
    SetDefaults();
}

double* CCdpPrcBackgroundSubtract::ParamSlot(uint32_t) { return &window_; }

int CCdpPrcBackgroundSubtract::ProcessData(MeboDataPtr& out, MeboDataPtr& in, MeboDataPtr* aux) {
    if (GprParamPtr() == nullptr) return vantir3::kStatusNoGprParam;
    return vantir3::BackgroundSubtract(out, in, aux, Window());
}

int CCdpProcessToolbox::CdpBackgroundSubtract(MeboDataPtr& out, MeboDataPtr& in,
                                              MeboDataPtr* background, int window) {
    return vantir3::BackgroundSubtract(out, in, background, window);
}
