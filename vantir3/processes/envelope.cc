#include "vantir3/processes/envelope.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "vantir3/framework/buffer_walk.h"
#include "vantir3/framework/status.h"
#include "vantir3/framework/toolbox.h"

// The scalar formula, defined once; the vector kernels below are compiled
// once per instruction set and use it for their reference-free parts.
#ifndef VANTIR3_PROCESSES_ENVELOPE_ONCE_
#define VANTIR3_PROCESSES_ENVELOPE_ONCE_
namespace vantir3 {
namespace {

constexpr double kHilbertGain = 0.6366197832271441;
// Doubles of padding after a trace's mirrored end: the vector kernel reads
// up to two whole vectors (of up to 2048 bits, 32 doubles) past the last
// sample.
constexpr int32_t kPad = 64;
// Lags below this divide through a split reciprocal (DivideByLag).
constexpr int32_t kSplitLagLimit = 1 << 17;

// 1 / k as yHi + yLo for the split division: yHi is 1 / k rounded, cut to
// 36 significant bits, so that k * yHi (k < 2^17) is exact, 1 - k * yHi
// exact (Sterbenz: the product is within 2^-35 of 1) and yLo that
// remainder's quotient by k, rounded once: yHi + yLo is 1 / k within a
// relative 2^-88.
struct SplitReciprocal {
    double hi;
    double lo;
};
inline SplitReciprocal SplitReciprocalOf(int32_t k) {
    double hi = 1.0 / k;
    uint64_t bits;
    std::memcpy(&bits, &hi, sizeof bits);
    bits &= ~((uint64_t{1} << 17) - 1);
    std::memcpy(&hi, &bits, sizeof hi);
    return {hi, (1.0 - k * hi) / k};
}

// The output sample for v = (x^2 + h^2) / 2.
inline int16_t RoundEnvelope(double v) {
    const double e = std::sqrt(v);
    const double c = e > 32767.0 ? 32767.0 : (e < -32768.0 ? -32768.0 : e);
    return static_cast<int16_t>(static_cast<int32_t>(c + 0.5));
}

// The mirrored entries of a trace's padded row (see PaddedTrace), from the
// trace x itself: row[-k] = x[k], row[count - 1 + k] = x[count - 1 - k] for
// k = 1 ... lag (lag <= count - 1).
inline void MirrorEnds(const int16_t* x, ptrdiff_t step, double* row, int32_t count, int32_t lag) {
    for (int32_t k = 1; k <= lag; ++k) {
        row[-k] = x[k * step];
        row[count - 1 + k] = x[(count - 1 - k) * step];
    }
}

// The whole padded row of a trace, one sample at a time.
inline void FillPaddedRow(const int16_t* x, ptrdiff_t step, double* row, int32_t count, int32_t lag) {
    for (int32_t j = 0; j < count; ++j) row[j] = x[j * step];
    MirrorEnds(x, step, row, count, lag);
}

// The output sample at row[0] with lags up to `lag`.
inline int16_t EnvelopeAt(const double* row, int32_t lag) {
    double h = 0.0;
    for (int32_t k = 1; k <= lag; k += 2) h += (row[k] - row[-k]) / k;
    h = h * kHilbertGain;
    const double x = row[0];
    return RoundEnvelope((x * x + h * h) / 2.0);
}

}  // namespace
}  // namespace vantir3
#endif  // VANTIR3_PROCESSES_ENVELOPE_ONCE_

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vantir3/processes/envelope.cc"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"
#include "vantir3/numeric/sample_vectors-inl.h"

HWY_BEFORE_NAMESPACE();
namespace vantir3 {
namespace HWY_NAMESPACE {
namespace {

#if VANTIR3_SAMPLE_VECTORS
static_assert(2 * HWY_MAX_BYTES / sizeof(double) <= kPad, "padding holds two whole vectors");

// t / k for whole numbers t with |t| <= 65535 (differences of samples). With
// a fused multiply-add, without a division, in one of two ways:
//  - split (k < kSplitLagLimit): t * yHi is exact (16 + 36 bits), so one
//    fused t * yLo + t * yHi is t * (yHi + yLo) rounded once. That lies
//    within 2^-88 of t / k relative, 2^-35 of a unit in its last place,
//    while t / k (k odd) is exact or at least 1 / (2k) of a unit away from a
//    midpoint between neighbouring doubles: both round to the same double.
//  - corrected (any k): with y = 1 / k rounded, q = t * y rounded lies
//    within one unit in the last place of t / k, so the residual t - q * k
//    is exact in one fused operation, and q + residual * y rounded once is
//    t / k correctly rounded (a classical property of division through a
//    correctly rounded reciprocal, for operands far from overflow and
//    underflow, as these are).
// Without one (SSE4, portable), the division.
template <bool kSplit, class D>
HWY_INLINE hn::Vec<D> DivideByLag(D d, hn::Vec<D> t, int32_t k, SplitReciprocal y) {
#if HWY_NATIVE_FMA
    if (kSplit) return hn::MulAdd(t, hn::Set(d, y.lo), hn::Mul(t, hn::Set(d, y.hi)));
    const auto q = hn::Mul(t, hn::Set(d, y.hi));
    return hn::MulAdd(hn::NegMulAdd(q, hn::Set(d, k), t), hn::Set(d, y.hi), q);
#else
    (void)y;
    return hn::Div(t, hn::Set(d, k));
#endif
}

// The quadrature sum h of EnvelopeAt for the N samples at p[0 ... N - 1],
// each lane doing the scalar operations in the scalar order (the division
// by 1 left out: same bits). kLag is the lag when it is fixed at compile
// time (the common short filters, unrolled), or -1; kSplit chooses
// DivideByLag's split form (lag < kSplitLagLimit).
template <int kLag, bool kSplit, class D>
HWY_INLINE hn::Vec<D> Quadrature(D d, const double* p, int32_t lag, const SplitReciprocal* reciprocal) {
    if (kLag >= 0) lag = kLag;
    auto h = lag >= 1 ? hn::Sub(hn::LoadU(d, p + 1), hn::LoadU(d, p - 1)) : hn::Zero(d);
    for (int32_t k = 3; k <= lag; k += 2) {
        const auto t = hn::Sub(hn::LoadU(d, p + k), hn::LoadU(d, p - k));
        h = hn::Add(h, DivideByLag<kSplit>(d, t, k, reciprocal[k / 2]));
    }
    return h;
}

// The rest of EnvelopeAt for N samples at p, before the truncation and the
// upper limit: the division by 2.0 is a multiplication by 0.5 (same bits).
// sqrt(v) >= 0, so only the upper limit can apply, and it is applied by the
// narrowing (LimitToSamples): min(e, 32767) + 0.5 and e + 0.5 have the same
// whole part up to 32767 and both give 32767 from there on.
template <class D>
HWY_INLINE hn::Vec<D> Envelopes(D d, const double* p, hn::Vec<D> h) {
    h = hn::Mul(h, hn::Set(d, kHilbertGain));
    const auto x = hn::LoadU(d, p);
    const auto v = hn::Mul(hn::Add(hn::Mul(x, x), hn::Mul(h, h)), hn::Set(d, 0.5));
    return hn::Add(hn::Sqrt(v), hn::Set(d, 0.5));
}

// The whole parts of 2N values in 0.5 ... 2^21 as samples, those above 32767
// limited to it. (The envelope stays far below 2^21: |h| <= 0.64 * 65535 *
// the sum of 1 / k over odd k <= 2^31, below 5 * 10^5.) AVX2's pack and
// Highway's narrowing in TruncateToSamples saturate; AVX-512's narrowing
// there wraps, so the values are limited first.
template <class D>
HWY_INLINE hn::Vec<SampleTag<D>> LimitToSamples(D d, hn::Vec<D> lo, hn::Vec<D> hi) {
#if defined(VANTIR3_AVX512_ROUNDING)
    const auto limit = hn::Set(d, 32767.5);
    return TruncateToSamples(d, hn::Min(lo, limit), hn::Min(hi, limit));
#else
    return TruncateToSamples(d, lo, hi);
#endif
}

// The 2N output samples of two vectors of quadrature sums, into out.
template <class D>
HWY_INLINE void StoreEnvelopes(D d, const double* p, hn::Vec<D> h0, hn::Vec<D> h1, int16_t* out) {
    const size_t lanes = hn::Lanes(d);
    hn::StoreU(LimitToSamples(d, Envelopes(d, p, h0), Envelopes(d, p + lanes, h1)), SampleTag<D>(), out);
}

// 2N samples x[0 ...] into row[0 ...]. Widened to 32 bits, then converted:
// the row is read from the cache many times over, so its one conversion
// costs little, and this form needs fewer instructions than
// LoadWidenSamples where conversions are cheap (AVX-512: 0.13 -> 0.15 of
// the envelope's time the other way).
template <class D>
HWY_INLINE void WidenBlock(D d, const int16_t* x, double* row) {
    const hn::Repartition<int32_t, D> d32;
    const hn::Half<decltype(d32)> dh;
    const auto w = hn::PromoteTo(d32, hn::LoadU(SampleTag<D>(), x));
    hn::StoreU(hn::PromoteTo(d, hn::LowerHalf(dh, w)), d, row);
    hn::StoreU(hn::PromoteTo(d, hn::UpperHalf(dh, w)), d, row + hn::Lanes(d));
}

// row[j] = x[j] for j = from ... to - 1.
HWY_INLINE void FillRow(const int16_t* x, double* row, int32_t from, int32_t to) {
    const hn::ScalableTag<double> d;
    const int32_t lanes = static_cast<int32_t>(hn::Lanes(d));
    for (; from + 2 * lanes <= to; from += 2 * lanes) WidenBlock(d, x + from, row + from);
    for (; from < to; ++from) row[from] = x[from];
}

// The first row entry that the four-vector steps of EnvelopeVectors widen
// from x, `lead` (>= lag + 4N) samples ahead of the step's own.
static_assert(4 * HWY_MAX_BYTES / sizeof(double) <= 128, "a step's 4N samples fit in the lead");
HWY_INLINE int32_t RowLead(int32_t lag) { return lag + 128; }

// Four vectors a step (independent sums in flight together), then pairs;
// the last samples from the padding's whole pair of vectors. With x (the
// contiguous trace), each four-vector step n also widens x[n + lead ...
// + 4N - 1] into the row while that lies inside the trace, so that the
// conversion overlaps the square roots instead of stalling them before the
// trace starts (EnvelopeRow fills the rest).
template <int kLag, bool kSplit = true>
void EnvelopeVectors(double* row, int16_t* out, int32_t count, int32_t lag, const SplitReciprocal* reciprocal,
                     const int16_t* x) {
    const hn::ScalableTag<double> d;
    const int32_t lanes = static_cast<int32_t>(hn::Lanes(d));
    const int32_t lead = RowLead(lag);
    int32_t n = 0;
    for (; n + 4 * lanes <= count; n += 4 * lanes) {
        const double* p = row + n;
        if (x != nullptr && n + lead + 4 * lanes <= count) {
            WidenBlock(d, x + n + lead, row + n + lead);
            WidenBlock(d, x + n + lead + 2 * lanes, row + n + lead + 2 * lanes);
        }
        const auto h0 = Quadrature<kLag, kSplit>(d, p, lag, reciprocal);
        const auto h1 = Quadrature<kLag, kSplit>(d, p + lanes, lag, reciprocal);
        const auto h2 = Quadrature<kLag, kSplit>(d, p + 2 * lanes, lag, reciprocal);
        const auto h3 = Quadrature<kLag, kSplit>(d, p + 3 * lanes, lag, reciprocal);
        StoreEnvelopes(d, p, h0, h1, out + n);
        StoreEnvelopes(d, p + 2 * lanes, h2, h3, out + n + 2 * lanes);
    }
    const auto pair = [&](const double* p, int16_t* y) {
        StoreEnvelopes(d, p, Quadrature<kLag, kSplit>(d, p, lag, reciprocal), Quadrature<kLag, kSplit>(d, p + lanes, lag, reciprocal),
                       y);
    };
    for (; n + 2 * lanes <= count; n += 2 * lanes) pair(row + n, out + n);
    if (n == count) return;
    int16_t rest[2 * HWY_MAX_BYTES / sizeof(double)];
    pair(row + n, rest);
    std::copy(rest, rest + (count - n), out + n);
}
#endif

}  // namespace

// Output samples 0 ... count - 1 of a padded row (reciprocal[i]: 1 / (2i + 1)
// split, its hi part alone the rounded reciprocal when lag >= kSplitLagLimit).
// With x (a contiguous trace of count samples) the row is filled from it
// here (its samples, then the mirrored ends); without, it has been filled.
void EnvelopeRow(const int16_t* x, double* row, int16_t* out, int32_t count, int32_t lag,
                 const SplitReciprocal* reciprocal) {
#if VANTIR3_SAMPLE_VECTORS
    if (x != nullptr) {
        // The entries before the steps' first widening and after their
        // last: the steps widen whole 4N blocks from lead on, one for each
        // step n with n + lead + 4N <= count.
        const int32_t step = static_cast<int32_t>(4 * hn::Lanes(hn::ScalableTag<double>()));
        const int32_t lead = RowLead(lag), head = std::min(lead, count);
        const int32_t tail = count >= lead + step ? lead + step * ((count - lead) / step) : head;
        FillRow(x, row, 0, head);
        FillRow(x, row, tail, count);
        MirrorEnds(x, 1, row, count, lag);
    }
    if (lag >= kSplitLagLimit) return EnvelopeVectors<-1, false>(row, out, count, lag, reciprocal, x);
    switch (lag) {
        case 0: return EnvelopeVectors<0>(row, out, count, lag, reciprocal, x);
        case 1: return EnvelopeVectors<1>(row, out, count, lag, reciprocal, x);
        case 3: return EnvelopeVectors<3>(row, out, count, lag, reciprocal, x);
        case 5: return EnvelopeVectors<5>(row, out, count, lag, reciprocal, x);
        case 7: return EnvelopeVectors<7>(row, out, count, lag, reciprocal, x);
        case 9: return EnvelopeVectors<9>(row, out, count, lag, reciprocal, x);
        default: return EnvelopeVectors<-1>(row, out, count, lag, reciprocal, x);
    }
#else
    (void)reciprocal;
    if (x != nullptr) FillPaddedRow(x, 1, row, count, lag);
    for (int32_t n = 0; n < count; ++n) out[n] = EnvelopeAt(row + n, lag);
#endif
}

// DivideByLag over whole vectors; returns the number done.
int32_t DivideValues(const double* t, int32_t k, double* out, int32_t count) {
    int32_t n = 0;
#if VANTIR3_SAMPLE_VECTORS
    const hn::ScalableTag<double> d;
    const int32_t lanes = static_cast<int32_t>(hn::Lanes(d));
    if (k < kSplitLagLimit) {
        const SplitReciprocal y = SplitReciprocalOf(k);
        for (; n + lanes <= count; n += lanes) hn::StoreU(DivideByLag<true>(d, hn::LoadU(d, t + n), k, y), d, out + n);
    } else {
        const SplitReciprocal y = {1.0 / k, 0.0};
        for (; n + lanes <= count; n += lanes) hn::StoreU(DivideByLag<false>(d, hn::LoadU(d, t + n), k, y), d, out + n);
    }
#else
    (void)t, (void)k, (void)out, (void)count;
#endif
    return n;
}

}  // namespace HWY_NAMESPACE
}  // namespace vantir3
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace vantir3 {

HWY_EXPORT(EnvelopeRow);
HWY_EXPORT(DivideValues);

int32_t EnvelopeLag(int32_t window) {
    const int32_t w = window / 2;
    return (w / 2) * 2 + 1;
}

namespace {

// One trace copied into doubles with `lag` mirrored samples before and after
// it (the end sample not repeated), so that the filter needs no index
// mirroring: sample n of the trace is at row[n], and row[n - k], row[n + k]
// are the mirrored neighbours for every k <= lag. Differences of these
// whole numbers are exact, so (row[n + k] - row[n - k]) / k is exactly
// (x[a] - x[b]) / k. The row is padded so that the vector kernel may read a
// whole vector past the trace end.
class PaddedTrace {
public:
    bool Reserve(int32_t samples, int32_t lag) {
        lag_ = lag;
        const int64_t size = int64_t{samples} + 2 * int64_t{lag} + kPad;
        data_.reset(new (std::nothrow) double[size]);
        out_.reset(new (std::nothrow) int16_t[samples]);
        reciprocal_.reset(new (std::nothrow) SplitReciprocal[lag / 2 + 1]);
        if (!data_ || !out_ || !reciprocal_) return false;
        for (int64_t i = 0; i < size; ++i) data_[i] = 0.0;
        for (int32_t i = 0; i <= lag / 2; ++i)
            reciprocal_[i] = lag < kSplitLagLimit ? SplitReciprocalOf(2 * i + 1) : SplitReciprocal{1.0 / (2 * i + 1), 0.0};
        return true;
    }
    const double* Row() const { return data_.get() + lag_; }
    double* Row() { return data_.get() + lag_; }
    int16_t* Out() { return out_.get(); }
    // reciprocal[i]: 1 / (2i + 1), for the odd lags (EnvelopeRow).
    const SplitReciprocal* Reciprocals() const { return reciprocal_.get(); }

private:
    std::unique_ptr<double[]> data_;
    std::unique_ptr<int16_t[]> out_;
    std::unique_ptr<SplitReciprocal[]> reciprocal_;
    int32_t lag_ = 0;
};

// One trace of the common region, through the padded row (filled by the
// kernel itself from a contiguous trace): straight into a contiguous output,
// through pad.Out() into a strided one.
void EnvelopeTrace(const TraceSpan& t, int32_t lag, PaddedTrace& pad) {
    if (t.inStep != 1) FillPaddedRow(t.in, t.inStep, pad.Row(), t.count, lag);
    int16_t* out = t.outStep == 1 ? t.out : pad.Out();
    HWY_DYNAMIC_DISPATCH(EnvelopeRow)(t.inStep == 1 ? t.in : nullptr, pad.Row(), out, t.count, lag,
                                      pad.Reciprocals());
    if (t.outStep == 1) return;
    for (int32_t n = 0; n < t.count; ++n) t.out[n * t.outStep] = out[n];
}

}  // namespace

void EnvelopeDivideValues(const double* t, int32_t k, double* out, int32_t count) {
    int32_t n = HWY_DYNAMIC_DISPATCH(DivideValues)(t, k, out, count);
    for (; n < count; ++n) out[n] = t[n] / k;
}

int Envelope(MeboDataPtr& out, const MeboDataPtr& in, SCDPPrc_DataStatsMode* stats, int32_t window) {
    if (in.storage == nullptr || out.storage == nullptr) return kStatusNoCommonRegion;
    if (in.axis.elemSize != out.axis.elemSize || in.axis.elemSize != static_cast<int32_t>(sizeof(int16_t)))
        return kStatusElemSizeMismatch;
    // The output's region must lie inside the input's.
    Mebo3DDataAxis common = in.axis;
    const int code = MeboIntersectRanges(&common, &in.axis, &out.axis, 0, 3);
    if (code < 0 || (code & kIntersectNarrowerThanSecond) != 0) return kStatusNoCommonRegion;

    // Lags beyond S - 1 would reflect out of the trace; only odd lags count.
    const int32_t s = out.axis.dim[0].max - out.axis.dim[0].min + 1;
    int32_t lag = EnvelopeLag(window);
    if (lag > s - 1) lag = s - 1;
    if (lag % 2 == 0) lag -= 1;
    if (lag < 1) lag = 0;  // no quadrature term
    PaddedTrace pad;
    if (!pad.Reserve(s, lag)) return kStatusAllocationFailed;
    const int n = stats != nullptr && stats->indexStats != nullptr ? s : 0;
    SCDPPrc_DataStatsMode* work = stats != nullptr ? CDPPrc_create_work_stats(stats, n) : nullptr;
    // The output samples, trace by trace, as they are written.
    const int64_t samples = static_cast<int64_t>(s) * (out.axis.dim[1].max - out.axis.dim[1].min + 1) *
                            (out.axis.dim[2].max - out.axis.dim[2].min + 1);
    RunStats gathered(work, n, samples);
    const int status = WalkTraces(out, in, [&](const TraceSpan& t) {
        EnvelopeTrace(t, lag, pad);
        gathered.Add(t.out, t.count, t.outStep);
    });
    if (work != nullptr) {
        gathered.Finish();
        if (status >= 0) CDPPrc_finish_stats(stats, work, n);
        CDPPrc_free_work_stats(work, n);
    }
    return status;
}

}  // namespace vantir3

int CCdpProcessToolbox::CdpEnvelope(MeboDataPtr& out, const MeboDataPtr& in, SCDPPrc_DataStatsMode& stats,
                                    int window) {
    return vantir3::Envelope(out, in, &stats, window);
}

#endif  // HWY_ONCE
