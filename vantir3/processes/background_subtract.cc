#include "vantir3/processes/background_subtract.h"

#include <cstring>

#include "vantir3/framework/buffer_walk.h"
#include "vantir3/framework/status.h"
#include "vantir3/framework/toolbox.h"

// The vector kernels below are compiled once per instruction set.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vantir3/processes/background_subtract.cc"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"
#include "vantir3/numeric/sample_vectors-inl.h"

HWY_BEFORE_NAMESPACE();
namespace vantir3 {
namespace HWY_NAMESPACE {

// A vector of samples at a time.
void SubtractTraceVectors(const int16_t* x, const int16_t* b, int16_t* y, int32_t n) {
#if VANTIR3_SAMPLE_VECTORS
    const hn::ScalableTag<int16_t> d;
    ForEachSampleBlockAt(static_cast<int32_t>(hn::Lanes(d)), x, y, n, [&](int32_t k, const int16_t* xb, int16_t* yb) {
        PrefetchAhead(x + k);
        hn::StoreU(SubtractSaturated(d, hn::LoadU(d, xb), hn::LoadU(d, b + k)), d, yb);
    });
#else
    SubtractTraceScalar(x, b, y, n);
#endif
}

// 4N samples (a whole vector of them) a block: widened, folded into the
// average in doubles (the division as written), the average truncated by
// conversion, the halves narrowed in one pack, subtracted as one vector. The
// divisions of two blocks are in flight together (PipelineSampleBlocks).
void RunningBackgroundVectors(const int16_t* x, double* average, double window, int16_t* y, int32_t n) {
#if VANTIR3_SAMPLE_VECTORS
    const hn::ScalableTag<double> d;
    using D = decltype(d);
    const hn::Repartition<int32_t, D> d32;
    const hn::Repartition<int16_t, D> d16;
    using V32 = hn::Vec<decltype(d32)>;
    const size_t lanes = hn::Lanes(d);
    const auto w = hn::Set(d, window);
    // The truncated new averages of the 2N samples at xb, a as 32-bit lanes.
    auto update = [&](const int16_t* xb, double* a) {
        hn::Vec<D> lo, hi;
        LoadWidenSamples(d, xb, lo, hi);
        const auto a0 = hn::LoadU(d, a), a1 = hn::LoadU(d, a + lanes);
        const auto b0 = hn::Add(a0, hn::Div(hn::Sub(lo, a0), w));
        const auto b1 = hn::Add(a1, hn::Div(hn::Sub(hi, a1), w));
        hn::StoreU(b0, d, a);
        hn::StoreU(b1, d, a + lanes);
        return TruncateWithin31Bits(d, b0, b1);
    };
    // A block's averages updated into m0, m1; then its samples less them.
    auto start = [&](const int16_t* xb, double* a, V32& m0, V32& m1) {
        PrefetchAhead(xb);
        m0 = update(xb, a);
        m1 = update(xb + 2 * lanes, a + 2 * lanes);
    };
    auto finish = [&](V32 m0, V32 m1, const int16_t* xb, int16_t* yb) {
        hn::StoreU(SubtractSaturated(d16, hn::LoadU(d16, xb), DemoteInOrder(d32, m0, m1)), d16, yb);
    };
    const int32_t step = static_cast<int32_t>(4 * lanes);
    const int32_t done = PipelineSampleBlocks<2, V32>(
        step, n, [&](int32_t k, V32& m0, V32& m1) { start(x + k, average + k, m0, m1); },
        [&](V32 m0, V32 m1, int32_t k) { finish(m0, m1, x + k, y + k); });
    ForEachSampleBlockAt(step, x + done, y + done, n - done, [&](int32_t k, const int16_t* xb, int16_t* yb) {
        V32 m0, m1;
        start(xb, average + done + k, m0, m1);
        finish(m0, m1, xb, yb);
    });
#else
    RunningBackgroundTraceScalar(x, average, window, y, n);
#endif
}

}  // namespace HWY_NAMESPACE
}  // namespace vantir3
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace vantir3 {

HWY_EXPORT(SubtractTraceVectors);
HWY_EXPORT(RunningBackgroundVectors);

namespace {
constexpr ParamDecl kBackgroundSubtractParams[] = {
    {"WINDOW", 'D', 0, 10.0, 1.0, 32767.0, 2.0,
     "10\nWindow Width\nSpecifies the width in traces used to compute the average signal for "
     "background subtraction."},
};

// The whole part (toward zero) of an average of 16-bit samples.
inline int16_t Truncated(double v) { return static_cast<int16_t>(static_cast<int32_t>(v)); }
}  // namespace

const ProcessDecl kBackgroundSubtractDecl = {
    "BGSUB@", "Background Subtraction",
    "Background Subtraction subtracts an average computed over a number of traces in a moving window "
    "from the current trace.",
    1, kBackgroundSubtractParams};

void SubtractTraceScalar(const int16_t* x, const int16_t* b, int16_t* y, int32_t n) {
    for (int32_t k = 0; k < n; ++k) y[k] = SubtractSaturated16(x[k], b[k]);
}

void RunningBackgroundTraceScalar(const int16_t* x, double* average, double window, int16_t* y, int32_t n) {
    for (int32_t k = 0; k < n; ++k) {
        average[k] = average[k] + (static_cast<double>(x[k]) - average[k]) / window;
        y[k] = SubtractSaturated16(x[k], Truncated(average[k]));
    }
}

void SubtractTrace(const int16_t* x, const int16_t* b, int16_t* y, int32_t n) {
    HWY_DYNAMIC_DISPATCH(SubtractTraceVectors)(x, b, y, n);
}

void RunningBackgroundTrace(const int16_t* x, double* average, double window, int16_t* y, int32_t n) {
    HWY_DYNAMIC_DISPATCH(RunningBackgroundVectors)(x, average, window, y, n);
}

int BackgroundSubtract(MeboDataPtr& out, const MeboDataPtr& in, const MeboDataPtr* background,
                       int window) {
    if (background == nullptr && window < 2) return 0;
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
            subtrahend = NewScratch<int16_t>(static_cast<size_t>(n) + kBackgroundPadding);
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
            average = NewScratch<double>(static_cast<size_t>(n) + kBackgroundPadding);
            return average ? kStatusOk : kStatusAllocationFailed;
        },
        [&](const TraceSpan& s) {
            const bool running = background == nullptr;
            if (running && s.trace == firstTrace) {
                // A new plane: the mean of its first w traces.
                double* b = average.get();
                for (int32_t k = 0; k < n; ++k) b[k] = 0.0;
                for (int32_t j = 0; j < w; ++j) {  // (counted: the indices may end at INT32_MAX)
                    const TraceSpan u = region->Trace(firstTrace + j, s.plane);
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
                if (!running || int64_t{s.trace} < int64_t{firstTrace} + w) {
                    SubtractTrace(x, subtrahend.get(), y, n);
                } else {
                    RunningBackgroundTrace(x, average.get(), static_cast<double>(w), y, n);
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

#endif  // HWY_ONCE
