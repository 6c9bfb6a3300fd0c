#include "vantir3/numeric/depth_plan.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "vantir3/framework/buffer_walk.h"

// What the walk shares across instruction sets: defined once, before the
// per-target passes below re-include this file.
#ifndef VANTIR3_NUMERIC_DEPTH_PLAN_SHARED_
#define VANTIR3_NUMERIC_DEPTH_PLAN_SHARED_
namespace vantir3 {
namespace {

inline const int16_t* SampleAddress(const Mebo3DDataAxis& a, int32_t i0, int32_t i1, int32_t i2) {
    return reinterpret_cast<const int16_t*>(
        a.base + static_cast<ptrdiff_t>(i0 - a.dim[0].min) * a.dim[0].stride +
        static_cast<ptrdiff_t>(i1 - a.dim[1].min) * a.dim[1].stride +
        static_cast<ptrdiff_t>(i2 - a.dim[2].min) * a.dim[2].stride);
}

// The scalar formula of one output sample, for strided traces, for the
// instruction sets without vectors, and as the vectors' reference: every
// operation is an exact integer operation or a single IEEE double operation,
// evaluated as written.
template <DepthRule kRule>
inline int16_t DepthSample(int32_t p, int32_t c, double f) {
    if constexpr (kRule == DepthRule::kTruncate) {
        return static_cast<int16_t>(p + static_cast<int32_t>(f * static_cast<double>(c - p)));
    } else {
        // floor(y) limited to +-32767 (the value of FloorSaturate16), formed
        // in whole numbers: with f in [0, 1], |y| stays below 65536.
        const double y = 0.5 + static_cast<double>(c - p) * f;
        int32_t t = static_cast<int32_t>(y);
        t -= y < static_cast<double>(t) ? 1 : 0;
        t = t < -32767 ? -32767 : t;
        t = t > 32767 ? 32767 : t;
        return static_cast<int16_t>(p + t);
    }
}

// One step for traces at any distance: p null stands for zeros.
template <DepthRule kRule>
void RowSamplesStrided(const int16_t* p, const int16_t* c, ptrdiff_t inStep, double f, int16_t* out,
                       ptrdiff_t outStep, int32_t n) {
    for (int32_t k = 0; k < n; ++k) {
        out[k * outStep] = DepthSample<kRule>(p == nullptr ? 0 : p[k * inStep], c[k * inStep], f);
    }
}

// n samples from src to dst (not overlapping) in 16-byte moves, the last
// one overlapping its predecessor: fast for the short runs of traces that
// share one shift.
inline void CopySamples(int16_t* dst, const int16_t* src, int32_t n) {
    if (n < 8) {
        for (int32_t k = 0; k < n; ++k) dst[k] = src[k];
        return;
    }
    int32_t k = 0;
    for (; k + 8 <= n; k += 8) std::memcpy(dst + k, src + k, 16);
    if (k < n) std::memcpy(dst + n - 8, src + n - 8, 16);
}

// Neighbouring traces that share one shift.
struct ShiftRun {
    int32_t first;  // trace offset from the walk's first trace
    int32_t count;
    int64_t shift;
};

// The lanes of a block of neighbouring traces (as many as one vector of
// samples holds) that share one shift, and where their samples of output row
// r lie: offset samples from row r + 0.
struct BlockLanes {
    int64_t shift;
    uint64_t lanes;    // bit k: the block's trace k
    ptrdiff_t offset;  // shift * outSample + the block's first trace
};

// Consecutive steps of a plan. In a unit segment both input indices advance
// by one sample per step, so that the samples of a trace are read straight
// from it; the steps of other segments are gathered first.
struct StepSegment {
    int64_t first, end;
    bool unit;
};

// Shortest run of steps worth reading straight from the trace.
constexpr int64_t kMinUnitSteps = 8;

// The shifted row-by-row walk (see WalkByStep): traces per band, and how
// many steps ahead it asks the processor to fetch the input rows and the
// output rows of a run (neither is a sequential pattern that the processor
// would detect by itself).
constexpr int32_t kBandTraces = 1024;
constexpr int64_t kReadAhead = 4;
constexpr int64_t kWriteAhead = 8;
constexpr int32_t kLineSamples = 32;  // 16-bit samples per 64-byte cache line

// Asks for the cache line `offset` samples from p, for writing. The address
// may lie outside any buffer: a prefetch never faults, and the address is
// formed as an integer.
inline void PrefetchForWrite(const int16_t* p, ptrdiff_t offset) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(p) + static_cast<uintptr_t>(offset * 2);
    __builtin_prefetch(reinterpret_cast<const void*>(address), 1);
}

// The rounded step floor(0.5 + (c - p) f) of one plan step in 16-bit
// integer arithmetic (RoundStepFixed). With m = c - p and g = f, or, for
// f >= 0.5, m = p - c and g = 1 - f (exact for such f) and the sample counted
// from c instead of p, the value is q + floor(0.5 + m g) with g in [0, 0.5].
// g 2^16 = high + rest, and the rest is carried by low = rest 2^15; both
// factors are limited to 32767 (g = 0.5 gives 32768 + 0), which costs at
// most one unit of 2^-16 in m g (|m| < 2^15).
struct FixedFactor {
    bool usable;      // false for a fraction outside [0, 1]
    bool complement;  // g = 1 - f, counted from c
    int16_t high, low;
};

inline FixedFactor FixedFactorOf(double f) {
    if (!(f >= 0.0 && f <= 1.0)) return {false, false, 0, 0};
    const bool complement = f >= 0.5;
    const double g = (complement ? 1.0 - f : f) * 65536.0;  // in [0, 32768], exact
    const double high = std::min(std::floor(g), 32767.0);
    const double low = std::min(std::floor((g - high) * 32768.0), 32767.0);  // g - high is exact
    return {true, complement, static_cast<int16_t>(high), static_cast<int16_t>(low)};
}

// What ApplyDepthPlan prepares once per call for the walk.
struct PlanWalk {
    const DepthPlan* plan;
    const DepthWalk* walk;
    int64_t count;            // steps
    int64_t places;           // output samples per trace
    int32_t traces;
    ptrdiff_t inSample, inTrace, outSample, outTrace;  // strides in samples
    bool rowWise;
    // Trace by trace: the segments, element offsets of the input samples of
    // every step with a mask that zeroes a zero sample, and scratch rows.
    std::vector<StepSegment> segments;
    std::vector<ptrdiff_t> prevOffset, curOffset;
    std::vector<int16_t> prevMask;
    std::vector<int16_t> p, c, o;
    // Row by row: the runs of equal shift of one section and a scratch row.
    std::vector<ShiftRun> runs;
    std::vector<int16_t> row;
    // Row by row in blocks of traces stored under lane masks: the lanes of
    // each run in each block, block by block; block b's are
    // blockLanes[blockStart[b] ... blockStart[b + 1] - 1].
    std::vector<BlockLanes> blockLanes;
    std::vector<int32_t> blockStart;
};

// The runs of equal shift among the walk's traces of one section.
void FindShiftRuns(PlanWalk& pw, const int64_t* shifts) {
    pw.runs.clear();
    for (int32_t t = 0; t < pw.traces;) {
        int32_t end = t + 1;
        while (end < pw.traces && shifts[end] == shifts[t]) ++end;
        pw.runs.push_back({t, end - t, shifts[t]});
        t = end;
    }
}

// Sets places from ... to - 1 of the traces first ... first + count - 1 to 0.
void ZeroPlaces(const PlanWalk& pw, int16_t* out, int32_t first, int32_t count, int64_t from, int64_t to) {
    if (from >= to) return;
    if (pw.outSample == 1) {
        for (int32_t i = 0; i < count; ++i) {
            int16_t* trace = out + (first + i) * pw.outTrace;
            std::fill(trace + from, trace + to, int16_t{0});
        }
        return;
    }
    for (int64_t place = from; place < to; ++place) {
        int16_t* row = out + place * pw.outSample + first * pw.outTrace;
        if (pw.outTrace == 1) {
            std::fill(row, row + count, int16_t{0});
        } else {
            for (int32_t i = 0; i < count; ++i) row[i * pw.outTrace] = 0;
        }
    }
}

// Sets to 0 the places of those traces that a walk moving them by `shift`
// does not write (its steps land on places shift ... shift + count - 1):
// for Unwritten::kZero, before the walk.
void ZeroOutside(const PlanWalk& pw, int16_t* out, int32_t first, int32_t count, int64_t shift) {
    const int64_t lo = std::clamp<int64_t>(shift, 0, pw.places);
    const int64_t hi = std::clamp<int64_t>(shift + pw.count, lo, pw.places);
    ZeroPlaces(pw, out, first, count, 0, lo);
    ZeroPlaces(pw, out, first, count, hi, pw.places);
}

}  // namespace
}  // namespace vantir3
#endif  // VANTIR3_NUMERIC_DEPTH_PLAN_SHARED_

// The sample loops below are compiled once per instruction set.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vantir3/numeric/depth_plan.cc"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"
#include "vantir3/numeric/sample_vectors-inl.h"

HWY_BEFORE_NAMESPACE();
namespace vantir3 {
namespace HWY_NAMESPACE {
namespace {

// Set anew in each pass: instruction sets whose stores of 16-bit lanes under
// a mask are single instructions (elsewhere Highway stores such lanes one by
// one).
#undef VANTIR3_DEPTH_MASKED_STORES
#if VANTIR3_SAMPLE_VECTORS && (HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL)
#define VANTIR3_DEPTH_MASKED_STORES 1
#endif

#if VANTIR3_SAMPLE_VECTORS
// FloorSaturateWithin31Bits: AVX2 floors, converts without Highway's limit
// (the values stay below 2^31 in magnitude) and narrows the two halves with
// one saturating pack, where Highway's forms add a limit and a permutation.
template <class D>
HWY_INLINE hn::Vec<SampleTag<D>> FloorToSamples(D d, hn::Vec<D> lo, hn::Vec<D> hi) {
#if HWY_TARGET == HWY_AVX2
    const SampleTag<D> d16;
    const hn::Vec<decltype(d16)> s{_mm_packs_epi32(_mm256_cvttpd_epi32(_mm256_floor_pd(lo.raw)),
                                                   _mm256_cvttpd_epi32(_mm256_floor_pd(hi.raw)))};
    return hn::Max(s, hn::Set(d16, -32767));
#else
    return FloorSaturateWithin31Bits(d, lo, hi);
#endif
}

// DepthSample of the 2N samples p, c (int16 lanes) with the fractions f0
// (first N) and f1. c - p is exact in 32-bit integers and in doubles, and
// with f in [0, 1] both the truncated step and p + step stay in the 16-bit
// range, so the final narrowing is exact; the rounded step is limited to
// +-32767 before its 16-bit addition, which wraps as the scalar cast does.
template <DepthRule kRule, class D, class V16>
HWY_INLINE V16 StepBlock(D d, V16 p, V16 c, hn::Vec<D> f0, hn::Vec<D> f1) {
    const hn::Repartition<int32_t, D> d32;
    const hn::Half<decltype(d32)> dh;
    const SampleTag<D> d16;
    const auto wideP = hn::PromoteTo(d32, p);
    const auto diff = hn::Sub(hn::PromoteTo(d32, c), wideP);
    const auto x0 = hn::PromoteTo(d, hn::LowerHalf(dh, diff));
    const auto x1 = hn::PromoteTo(d, hn::UpperHalf(dh, diff));
    if constexpr (kRule == DepthRule::kTruncate) {
        return hn::DemoteTo(d16, hn::Add(wideP, TruncateWithin31Bits(d, hn::Mul(f0, x0), hn::Mul(f1, x1))));
    } else {
        const auto half = hn::Set(d, 0.5);
        return hn::Add(p, FloorToSamples(d, hn::Add(half, hn::Mul(x0, f0)), hn::Add(half, hn::Mul(x1, f1))));
    }
}
#endif

#if VANTIR3_SAMPLE_VECTORS
// The neighbouring traces that the shifted row-by-row walk computes and
// stores at a time: one block of 2N where stores under a mask are single
// instructions; elsewhere (with vectors of at most 32 bytes, so that a
// band's lanes fit 64 mask bits) two blocks side by side, so that the runs'
// lanes are looked up and stored once for twice the traces.
#undef VANTIR3_DEPTH_TWO_BLOCKS
#if !defined(VANTIR3_DEPTH_MASKED_STORES) && HWY_MAX_BYTES <= 32
#define VANTIR3_DEPTH_TWO_BLOCKS 1
template <class D>
using BandTag = hn::Twice<SampleTag<D>>;
constexpr bool kFixedRound = true;
#else
constexpr bool kFixedRound = false;
template <class D>
using BandTag = SampleTag<D>;
#endif

// StepBlock of the Lanes(BandTag) samples p, c, all with fraction f.
template <DepthRule kRule, class D, class VB>
HWY_INLINE VB StepBand(D d, VB p, VB c, hn::Vec<D> f) {
#if defined(VANTIR3_DEPTH_TWO_BLOCKS)
    const SampleTag<D> d16;
    const auto lo = StepBlock<kRule>(d, hn::LowerHalf(d16, p), hn::LowerHalf(d16, c), f, f);
    const auto hi = StepBlock<kRule>(d, hn::UpperHalf(d16, p), hn::UpperHalf(d16, c), f, f);
    return hn::Combine(BandTag<D>(), hi, lo);
#else
    return StepBlock<kRule>(d, p, c, f, f);
#endif
}
#endif

#if VANTIR3_SAMPLE_VECTORS
// The rounded DepthSample of the samples p, c with the fraction of k, where
// it is exact; lanes it cannot vouch for are set in `unsure`.
//
// Let V = (0.5 + m g) 2^16 (see FixedFactor). The kernel forms
// A = m high + 2 floor(m low / 2^16) + 2^15 exactly, as the 16-bit halves
// H:s, and takes H + carry = floor(A / 2^16). A stands for V up to
// V - A in (-1, 3): m (rest 2^15 - low) / 2^15 lies in (-1, 1) and
// m low / 2^15 - 2 floor(m low / 2^16) in [0, 2). The scalar formula rounds
// twice in doubles of magnitude below 2^16 (m g below 2^15), so its
// 0.5 + (c - p) f differs from V / 2^16 by less than 2^-37 and floors to
// floor(V / 2^16) unless V lies within 2^-21 of a multiple of 2^16. Both
// hold when the low half s of A is in [4, 65531]: then no multiple of 2^16
// lies in [A - 2, A + 4], which holds V and its margin. Lanes with s outside
// are unsure, and so are lanes whose difference m, limited to the 16-bit
// range, reaches 32767 or -32768 (it may have been limited, or the scalar
// limit of the step to +-32767 may apply). Elsewhere |m high| and |m low|
// stay below 2^30, so H, 2 floor(m low / 2^16) and H + carry are exact in
// 16 bits, and q + floor(0.5 + m g) lies between p and c.
template <class DB>
HWY_INLINE hn::Vec<DB> RoundStepFixed(DB d16, hn::Vec<DB> p, hn::Vec<DB> c, const FixedFactor& k,
                                      hn::Mask<DB>& unsure) {
    const hn::RebindToUnsigned<DB> du;
    const auto q = k.complement ? c : p;
    const auto m = k.complement ? hn::SaturatedSub(p, c) : hn::SaturatedSub(c, p);
    const auto high = hn::Set(d16, k.high);
    const auto e = hn::MulHigh(m, hn::Set(d16, k.low));
    // The low halves: l = m high mod 2^16 and 2 e + 2^15 (as unsigned 16-bit
    // numbers). Their sum s, kept as s - 2^15 = l + 2 e, carries into the
    // high half when it comes out below l (compared with both offset by
    // 2^15, as signed numbers).
    const auto l = hn::Mul(m, high);
    const auto sLess = hn::Add(l, hn::Add(e, e));
    const auto carry = hn::Gt(hn::Xor(l, hn::Set(d16, static_cast<int16_t>(-32768))), sLess);
    const auto t = hn::Sub(hn::MulHigh(m, high), hn::VecFromMask(d16, carry));
    // s in [65532, 65535] or [0, 3]: (s + 4) mod 2^16 below 8; m = 32767 or
    // -32768: (m + 32769) mod 2^16 below 2.
    const auto edge = hn::And(hn::Add(sLess, hn::Set(d16, static_cast<int16_t>(-32764))), hn::Set(d16, int16_t{-8}));
    const auto limit = hn::And(hn::Add(m, hn::Set(d16, int16_t{-32767})), hn::Set(d16, int16_t{-2}));
    unsure = hn::RebindMask(d16, hn::Eq(hn::Min(hn::BitCast(du, edge), hn::BitCast(du, limit)), hn::Zero(du)));
    return hn::Add(q, t);
}

// StepBand out of line, for the rare blocks that the 16-bit rounded step
// cannot vouch for (it keeps the doubles' registers out of the common loop).
template <DepthRule kRule, class D, class VB>
HWY_NOINLINE VB StepBandApart(D d, VB p, VB c, hn::Vec<D> f) {
    return StepBand<kRule>(d, p, c, f);
}
#endif

// DepthSample over n steps side by side: p[k] (zeros for kZeroPrev), c[k]
// and one f for all (kPerStep false) or fs[k]. 2N samples at a time; the
// last (n mod 2N) by one more block that ends at n and overlaps its
// predecessor (it writes the same values again: the output is none of the
// inputs), or, for fewer than 2N samples in all, through zero-filled copies
// that hold a whole block.
template <DepthRule kRule, bool kZeroPrev, bool kPerStep>
void StepSamples(const int16_t* p, const int16_t* c, const double* fs, double f, int16_t* out, int32_t n) {
#if VANTIR3_SAMPLE_VECTORS
    const hn::ScalableTag<double> d;
    const SampleTag<decltype(d)> d16;
    const int32_t lanes = static_cast<int32_t>(hn::Lanes(d));
    const auto one = hn::Set(d, f);
    const auto block = [&](int32_t k) {
        const auto pv = kZeroPrev ? hn::Zero(d16) : hn::LoadU(d16, p + k);
        const auto f0 = kPerStep ? hn::LoadU(d, fs + k) : one;
        const auto f1 = kPerStep ? hn::LoadU(d, fs + k + lanes) : one;
        hn::StoreU(StepBlock<kRule>(d, pv, hn::LoadU(d16, c + k), f0, f1), d16, out + k);
    };
    if (n >= 2 * lanes) {
        int32_t k = 0;
        for (; k + 2 * lanes <= n; k += 2 * lanes) block(k);
        if (k < n) block(n - 2 * lanes);
        return;
    }
    constexpr size_t kMax = 2 * HWY_MAX_BYTES / sizeof(double);
    int16_t pt[kMax] = {}, ct[kMax] = {}, ot[kMax];
    double ft[kMax] = {};
    if (!kZeroPrev) std::copy(p, p + n, pt);
    std::copy(c, c + n, ct);
    if (kPerStep) std::copy(fs, fs + n, ft);
    StepSamples<kRule, kZeroPrev, kPerStep>(pt, ct, ft, f, ot, 2 * lanes);
    std::copy(ot, ot + n, out);
#else
    for (int32_t k = 0; k < n; ++k) out[k] = DepthSample<kRule>(kZeroPrev ? 0 : p[k], c[k], kPerStep ? fs[k] : f);
#endif
}

// One step for n traces side by side (contiguous): p null stands for zeros.
template <DepthRule kRule>
void RowSamples(const int16_t* p, const int16_t* c, double f, int16_t* out, int32_t n) {
    if (p == c) {
        std::copy(c, c + n, out);
    } else if (p == nullptr) {
        StepSamples<kRule, true, false>(nullptr, c, nullptr, f, out, n);
    } else {
        StepSamples<kRule, false, false>(p, c, nullptr, f, out, n);
    }
}

template <DepthRule kRule>
void WalkByTrace(PlanWalk& pw, const int16_t* in, int16_t* out, const int64_t* shifts) {
    const DepthPlan& plan = *pw.plan;
    const double* frac = plan.frac.data();
    const ptrdiff_t* po = pw.prevOffset.data();
    const ptrdiff_t* co = pw.curOffset.data();
    const int16_t* mask = pw.prevMask.data();
    int16_t* p = pw.p.data();
    int16_t* c = pw.c.data();
    int16_t* o = pw.o.data();
    for (int32_t t = 0; t < pw.traces; ++t) {
        const int64_t shift = shifts != nullptr ? shifts[t] : 0;
        const int64_t rLo = std::max<int64_t>(0, -shift);
        const int64_t rHi = std::min(pw.count, pw.places - shift);
        if (pw.walk->unwritten == Unwritten::kZero) ZeroOutside(pw, out, t, 1, shift);
        if (rLo >= rHi) continue;
        const int16_t* src = in + t * pw.inTrace;
        int16_t* traceOut = out + t * pw.outTrace;  // step r goes to place r + shift
        for (const StepSegment& seg : pw.segments) {
            const int64_t a = std::max(seg.first, rLo);
            const int64_t b = std::min(seg.end, rHi);
            if (a >= b) continue;
            const int32_t n = static_cast<int32_t>(b - a);
            const int16_t* ps;
            const int16_t* cs;
            if (seg.unit) {
                ps = src + plan.prev[a];
                cs = src + plan.cur[a];
            } else {
                for (int64_t r = a; r < b; ++r) {
                    p[r] = static_cast<int16_t>(src[po[r]] & mask[r]);
                    c[r] = src[co[r]];
                }
                ps = p + a;
                cs = c + a;
            }
            int16_t* dst = traceOut + (a + shift) * pw.outSample;
            if (pw.outSample == 1) {
                StepSamples<kRule, false, true>(ps, cs, frac + a, 0.0, dst, n);
            } else {
                StepSamples<kRule, false, true>(ps, cs, frac + a, 0.0, o, n);
                for (int32_t k = 0; k < n; ++k) dst[k * pw.outSample] = o[k];
            }
        }
    }
}

// Without shifts: every step is one output row, computed in one sweep.
template <DepthRule kRule>
void WalkByRow(PlanWalk& pw, const int16_t* in, int16_t* out) {
    const DepthPlan& plan = *pw.plan;
    const bool contiguous = pw.inTrace == 1 && pw.outTrace == 1;
    const int64_t rows = std::min(pw.count, pw.places);
    for (int64_t r = 0; r < rows; ++r) {
        const int16_t* c = in + plan.cur[r] * pw.inSample;
        const int16_t* p = plan.prev[r] < 0 ? nullptr : in + plan.prev[r] * pw.inSample;
        int16_t* dst = out + r * pw.outSample;
        if (contiguous) {
            RowSamples<kRule>(p, c, plan.frac[r], dst, pw.traces);
        } else {
            RowSamplesStrided<kRule>(p, c, pw.inTrace, plan.frac[r], dst, pw.outTrace, pw.traces);
        }
    }
}

// With shifts: each step is computed for a band of neighbouring traces into a
// scratch row in one sweep, then every run of traces sharing a shift is moved
// to its output row. Bands are narrow enough that the output rows one band
// writes stay in the cache until they are complete.
template <DepthRule kRule>
void WalkByStep(PlanWalk& pw, const int16_t* in, int16_t* out) {
    const DepthPlan& plan = *pw.plan;
    pw.row.resize(static_cast<size_t>(pw.traces));
    int16_t* row = pw.row.data();
    const ShiftRun* runs = pw.runs.data();
    const size_t runCount = pw.runs.size();
    for (size_t bandFirst = 0; bandFirst < runCount;) {
        // Whole runs, at least kBandTraces traces (or what is left).
        size_t bandEnd = bandFirst;
        int64_t lowest = runs[bandFirst].shift, highest = lowest;
        const int32_t first = runs[bandFirst].first;
        do {
            lowest = std::min(lowest, runs[bandEnd].shift);
            highest = std::max(highest, runs[bandEnd].shift);
            ++bandEnd;
        } while (bandEnd < runCount && runs[bandEnd].first - first < kBandTraces);
        const int32_t width = runs[bandEnd - 1].first + runs[bandEnd - 1].count - first;
        const int16_t* bandIn = in + first * pw.inTrace;
        const int64_t rLo = std::max<int64_t>(0, -highest);
        const int64_t rHi = std::min(pw.count, pw.places - lowest);
        for (int64_t r = rLo; r < rHi; ++r) {
            if (r + kReadAhead < rHi && pw.inTrace == 1) {
                const int16_t* ahead = bandIn + plan.cur[r + kReadAhead] * pw.inSample;
                for (int32_t k = 0; k < width; k += kLineSamples) __builtin_prefetch(ahead + k, 0);
            }
            const int16_t* c = bandIn + plan.cur[r] * pw.inSample;
            const int16_t* p = plan.prev[r] < 0 ? nullptr : bandIn + plan.prev[r] * pw.inSample;
            if (pw.inTrace == 1) {
                RowSamples<kRule>(p, c, plan.frac[r], row, width);
            } else {
                RowSamplesStrided<kRule>(p, c, pw.inTrace, plan.frac[r], row, 1, width);
            }
            for (size_t k = bandFirst; k < bandEnd; ++k) {
                const ShiftRun& run = runs[k];
                const int64_t place = r + run.shift;
                if (place < 0 || place >= pw.places) continue;
                int16_t* dst = out + place * pw.outSample + run.first * pw.outTrace;
                const int16_t* src = row + (run.first - first);
                if (pw.outTrace == 1) {
                    PrefetchForWrite(dst, kWriteAhead * pw.outSample);
                    CopySamples(dst, src, run.count);
                } else {
                    for (int32_t i = 0; i < run.count; ++i) dst[i * pw.outTrace] = src[i];
                }
            }
        }
        bandFirst = bandEnd;
    }
}

#if VANTIR3_SAMPLE_VECTORS
// The lanes of every run in every block of `width` (at most 64) traces,
// block by block; a block of a single run gets a second entry without lanes.
// Shifts are limited to -count ... places: a run moved further lands none of
// its steps on an output place either way, so the places it writes (none)
// and leaves (all) are the same, and the walk's steps stay within
// -places ... places + count.
void SplitRunsIntoBlocks(PlanWalk& pw, int32_t width) {
    const int32_t blocks = (pw.traces + width - 1) / width;
    pw.blockLanes.clear();
    pw.blockLanes.reserve(pw.runs.size() + 2 * static_cast<size_t>(blocks));  // the most it takes
    pw.blockStart.assign(static_cast<size_t>(blocks) + 1, 0);
    size_t k = 0;   // the run that trace t belongs to
    int32_t t = 0;  // runs cover the traces 0 ... traces - 1 in order
    for (int32_t b = 0; b < blocks; ++b) {
        pw.blockStart[static_cast<size_t>(b)] = static_cast<int32_t>(pw.blockLanes.size());
        const int32_t blockEnd = std::min(pw.traces, (b + 1) * width);
        while (t < blockEnd) {
            const ShiftRun& run = pw.runs[k];
            const int32_t end = std::min(run.first + run.count, blockEnd);
            const uint64_t bits = end - t == 64 ? ~uint64_t{0} : (uint64_t{1} << (end - t)) - 1u;
            const int64_t shift = std::clamp<int64_t>(run.shift, -pw.count, pw.places);
            pw.blockLanes.push_back({shift, bits << (t - b * width),
                                     static_cast<ptrdiff_t>(shift) * pw.outSample + ptrdiff_t{b} * width});
            if (end == run.first + run.count) ++k;
            t = end;
        }
        if (pw.blockLanes.size() - static_cast<size_t>(pw.blockStart[static_cast<size_t>(b)]) < 2) {
            pw.blockLanes.push_back({pw.blockLanes.back().shift, 0u, pw.blockLanes.back().offset});
        }
    }
    pw.blockStart[static_cast<size_t>(blocks)] = static_cast<int32_t>(pw.blockLanes.size());
}

// One step r of the shifted row-by-row walk over the blocks b0 ... b1 - 1 of
// a band: Lanes(BandTag) neighbouring traces at a time are computed from the two input
// rows of the step and stored straight into the output rows of their runs
// (under each run's lanes), without a scratch row. kInside: every run of the
// band lands on an output place at this step, so the stores need no check.
// kZeroStep: r is no step of the plan (before the first or after the last),
// and zeros are stored instead, which clears the places that the plan leaves
// in the same sweep as the others are written. rAhead: the step whose input
// row is fetched ahead.
template <DepthRule kRule, bool kInside, bool kZeroStep>
HWY_INLINE void BandStep(const PlanWalk& pw, const int16_t* in, int16_t* out, int64_t r, int64_t rAhead, int32_t b0,
                         int32_t b1) {
    const hn::ScalableTag<double> d;
    const BandTag<decltype(d)> d16;
    const int32_t width = static_cast<int32_t>(hn::Lanes(d16));
    const DepthPlan& plan = *pw.plan;
    const BlockLanes* lanes = pw.blockLanes.data();
    const int32_t* start = pw.blockStart.data();
    const uint64_t places = static_cast<uint64_t>(pw.places);
    const int32_t fullBlocks = pw.traces / width;  // the last block may hold fewer traces
    const int32_t rest = pw.traces - fullBlocks * width;
    // The samples of the last, partial block: under a mask where masked
    // loads are single instructions (elsewhere Highway's masked load reads
    // the whole vector), otherwise through a zero-filled copy.
    const auto loadRest = [&](const int16_t* src) {
#if defined(VANTIR3_DEPTH_MASKED_STORES)
        return hn::MaskedLoad(hn::FirstN(d16, static_cast<size_t>(rest)), d16, src);
#else
        int16_t part[HWY_MAX_BYTES / sizeof(int16_t)] = {};
        std::copy(src, src + rest, part);
        return hn::LoadU(d16, part);
#endif
    };
    // The input row a few steps ahead, fetched block by block.
    const int16_t* ahead = kZeroStep ? nullptr : in + plan.cur[rAhead] * pw.inSample;
    const ptrdiff_t writeAhead = kWriteAhead * pw.outSample;
    const int16_t* c = kZeroStep ? nullptr : in + plan.cur[r] * pw.inSample;
    const int16_t* p = kZeroStep || plan.prev[r] < 0 ? nullptr : in + plan.prev[r] * pw.inSample;
    // Row r's offset in samples (r may lie outside the output; only the
    // places of the runs are formed into addresses).
    const ptrdiff_t row = static_cast<ptrdiff_t>(r) * pw.outSample;
    const auto f = hn::Set(d, kZeroStep ? 0.0 : plan.frac[r]);
    const FixedFactor fixed = !kZeroStep && kRule == DepthRule::kRound && kFixedRound ? FixedFactorOf(plan.frac[r])
                                                                                       : FixedFactor{false, false, 0, 0};
    const uint64_t allLanes = width == 64 ? ~uint64_t{0} : (uint64_t{1} << width) - 1u;
    // Stores the lanes of one run. With single-instruction masked stores
    // always under the run's mask (a run without lanes stores nothing).
    // Elsewhere a block of one run is a plain store, a share of a block a
    // load, a blend and a store of the whole block (the other lanes get
    // their own samples back), and a share of the last, partial block lane
    // by lane, so that nothing beyond the walk's traces is touched.
    const auto store = [&](const BlockLanes& run, ptrdiff_t column, hn::Vec<decltype(d16)> y, bool full) {
        static constexpr uint64_t kNoLanes = 0;
        int16_t* dst;
        const uint64_t* lanesOf = &run.lanes;
        if (kInside) {
            dst = out + (row + run.offset);
        } else {
            // (A run far outside gets a place of row 0 and no lanes: its
            // offset is not formed into an address.)
            const uint64_t place = static_cast<uint64_t>(r + run.shift);
            const bool inside = place < places;
            dst = out + static_cast<int64_t>(inside ? place : 0) * pw.outSample + column;
            lanesOf = inside ? lanesOf : &kNoLanes;
        }
        PrefetchForWrite(dst, writeAhead);
#if defined(VANTIR3_DEPTH_MASKED_STORES)
        (void)full;
        hn::BlendedStore(y, hn::LoadMaskBits(d16, reinterpret_cast<const uint8_t*>(lanesOf)), d16, dst);
#else
        const uint64_t bits = *lanesOf;
        if (bits == allLanes) {
            hn::StoreU(y, d16, dst);
        } else if (bits != 0 && full) {
            const auto m = hn::LoadMaskBits(d16, reinterpret_cast<const uint8_t*>(lanesOf));
            hn::StoreU(hn::IfThenElse(m, y, hn::LoadU(d16, dst)), d16, dst);
        } else if (bits != 0) {
            int16_t lanes16[HWY_MAX_BYTES / sizeof(int16_t)];
            hn::StoreU(y, d16, lanes16);
            for (int32_t k = 0; k < width; ++k) {
                if ((bits >> k & 1u) != 0) dst[k] = lanes16[k];
            }
        }
#endif
    };
    for (int32_t b = b0; b < b1; ++b) {
        const ptrdiff_t column = ptrdiff_t{b} * width;
        const bool full = b < fullBlocks;
        const auto zero = hn::Zero(d16);
        hn::Vec<decltype(d16)> y;
        if constexpr (kZeroStep) {
            y = zero;
        } else {
            __builtin_prefetch(ahead + column, 0);
            const auto pv = p == nullptr ? zero : full ? hn::LoadU(d16, p + column) : loadRest(p + column);
            const auto cv = full ? hn::LoadU(d16, c + column) : loadRest(c + column);
            // Without AVX-512 the rounded step in 16-bit arithmetic where
            // that is exact (AVX-512's doubles, eight a vector with a
            // rounding conversion, are faster); the few blocks with an
            // unsure lane take the doubles.
            if (kRule == DepthRule::kRound && kFixedRound && fixed.usable) {
                hn::Mask<decltype(d16)> unsure;
                y = RoundStepFixed(d16, pv, cv, fixed, unsure);
                if (HWY_UNLIKELY(!hn::AllFalse(d16, unsure))) y = StepBandApart<kRule>(d, pv, cv, f);
            } else {
                y = StepBand<kRule>(d, pv, cv, f);
            }
        }
        // Every block has at least two entries (the second may have no
        // lanes), so the common blocks of one or two runs store without a
        // data-dependent branch.
        store(lanes[start[b]], column, y, full);
        store(lanes[start[b] + 1], column, y, full);
        for (int32_t e = start[b] + 2; e < start[b + 1]; ++e) store(lanes[e], column, y, full);
    }
}

// The steps from ... to - 1 of a band that lie before or after the plan's
// steps: BandStep storing zeros (out of line; they are few).
template <DepthRule kRule>
HWY_NOINLINE void ZeroSteps(const PlanWalk& pw, int16_t* out, int64_t from, int64_t to, int64_t lowest,
                            int64_t highest, int32_t b0, int32_t b1) {
    for (int64_t r = from; r < to; ++r) {
        if (r + lowest >= 0 && r + highest < pw.places) {
            BandStep<kRule, true, true>(pw, nullptr, out, r, 0, b0, b1);
        } else {
            BandStep<kRule, false, true>(pw, nullptr, out, r, 0, b0, b1);
        }
    }
}

// The shifted row-by-row walk where the traces lie next to each other in
// input and output: band by band and step by step (BandStep). With `zero`
// the walk goes on before the plan's first step and after its last as far as
// any of the band's runs lands on an output place, storing zeros there.
template <DepthRule kRule>
void WalkByStepMasked(PlanWalk& pw, const int16_t* in, int16_t* out, bool zero) {
    const int32_t width = static_cast<int32_t>(hn::Lanes(BandTag<hn::ScalableTag<double>>()));
    SplitRunsIntoBlocks(pw, width);
    const BlockLanes* lanes = pw.blockLanes.data();
    const int32_t* start = pw.blockStart.data();
    const int32_t blocks = static_cast<int32_t>(pw.blockStart.size()) - 1;
    const int32_t bandBlocks = kBandTraces / width;
    for (int32_t b0 = 0; b0 < blocks; b0 += bandBlocks) {
        const int32_t b1 = std::min(blocks, b0 + bandBlocks);
        int64_t lowest = lanes[start[b0]].shift, highest = lowest;
        for (int32_t e = start[b0]; e < start[b1]; ++e) {
            lowest = std::min(lowest, lanes[e].shift);
            highest = std::max(highest, lanes[e].shift);
        }
        // Steps r of the plan land on places r + shift.
        const int64_t rLo = std::max<int64_t>(0, -highest);
        const int64_t rHi = std::min(pw.count, pw.places - lowest);
        if (zero) ZeroSteps<kRule>(pw, out, -highest, rLo, lowest, highest, b0, b1);
        for (int64_t r = rLo; r < rHi; ++r) {
            const int64_t ahead = std::min(r + kReadAhead, rHi - 1);
            if (r + lowest >= 0 && r + highest < pw.places) {
                BandStep<kRule, true, false>(pw, in, out, r, ahead, b0, b1);
            } else {
                BandStep<kRule, false, false>(pw, in, out, r, ahead, b0, b1);
            }
        }
        if (zero) ZeroSteps<kRule>(pw, out, std::max(rLo, rHi), pw.places - lowest, lowest, highest, b0, b1);
    }
}
#endif

template <DepthRule kRule>
void WalkPlan(PlanWalk& pw) {
    const DepthWalk& w = *pw.walk;
    for (int64_t p = w.firstPlane; p <= w.lastPlane; ++p) {  // (the range may end at INT32_MAX)
        const int32_t plane = static_cast<int32_t>(p);
        const int16_t* in = SampleAddress(*w.in, w.in->dim[0].min, w.firstTrace, plane);
        int16_t* out = const_cast<int16_t*>(SampleAddress(*w.out, w.out->dim[0].min, w.firstTrace, plane));
        const int64_t* shifts =
            w.shifts != nullptr ? w.shifts + static_cast<ptrdiff_t>(plane - w.firstPlane) * pw.traces : nullptr;
        if (!pw.rowWise) {
            WalkByTrace<kRule>(pw, in, out, shifts);
        } else if (shifts == nullptr) {
            WalkByRow<kRule>(pw, in, out);
            if (w.unwritten == Unwritten::kZero) ZeroOutside(pw, out, 0, pw.traces, 0);
        } else {
            FindShiftRuns(pw, shifts);
#if VANTIR3_SAMPLE_VECTORS
            if (pw.inTrace == 1 && pw.outTrace == 1) {
                WalkByStepMasked<kRule>(pw, in, out, w.unwritten == Unwritten::kZero);
                continue;
            }
#endif
            if (w.unwritten == Unwritten::kZero) {
                for (const ShiftRun& run : pw.runs) ZeroOutside(pw, out, run.first, run.count, run.shift);
            }
            WalkByStep<kRule>(pw, in, out);
        }
    }
}

}  // namespace

void WalkPlanVectors(PlanWalk& pw) {
    if (pw.plan->rule == DepthRule::kTruncate) {
        WalkPlan<DepthRule::kTruncate>(pw);
    } else {
        WalkPlan<DepthRule::kRound>(pw);
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace vantir3
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace vantir3 {

HWY_EXPORT(WalkPlanVectors);

namespace {

// Segments, offsets and scratch for the trace-by-trace walk.
void PrepareTraceWalk(PlanWalk& pw) {
    const DepthPlan& plan = *pw.plan;
    const size_t n = static_cast<size_t>(pw.count);
    pw.prevOffset.resize(n);
    pw.curOffset.resize(n);
    pw.prevMask.resize(n);
    for (size_t r = 0; r < n; ++r) {
        const bool zero = plan.prev[r] < 0;
        pw.prevOffset[r] = (zero ? plan.cur[r] : plan.prev[r]) * pw.inSample;
        pw.curOffset[r] = plan.cur[r] * pw.inSample;
        pw.prevMask[r] = zero ? 0 : -1;
    }
    pw.p.resize(n);
    pw.c.resize(n);
    if (pw.outSample != 1) pw.o.resize(n);
    // Unit steps continue their predecessor's pattern; runs of at least
    // kMinUnitSteps of them are read straight from the trace, everything in
    // between is gathered.
    auto continues = [&](int64_t r) {
        return pw.inSample == 1 && plan.prev[r] >= 0 && plan.prev[r - 1] >= 0 &&
               plan.cur[r] == plan.cur[r - 1] + 1 && plan.prev[r] - plan.cur[r] == plan.prev[r - 1] - plan.cur[r - 1];
    };
    int64_t gatherFrom = 0;
    for (int64_t first = 0; first < pw.count;) {
        int64_t end = first + 1;
        while (end < pw.count && continues(end)) ++end;
        if (end - first >= kMinUnitSteps && plan.prev[first] >= 0) {
            if (gatherFrom < first) pw.segments.push_back({gatherFrom, first, false});
            pw.segments.push_back({first, end, true});
            gatherFrom = end;
        }
        first = end;
    }
    if (gatherFrom < pw.count) pw.segments.push_back({gatherFrom, pw.count, false});
}

}  // namespace

int64_t TruncClamp(double x, int64_t lo, int64_t hi) {
    if (!(x >= static_cast<double>(lo))) return lo;  // NaN too
    if (x >= static_cast<double>(hi)) return hi;
    return static_cast<int64_t>(x);
}

void ApplyDepthPlan(const DepthPlan& plan, const DepthWalk& walk) {
    PlanWalk pw;
    pw.plan = &plan;
    pw.walk = &walk;
    pw.count = plan.Size();
    pw.places = int64_t{walk.out->dim[0].max} - walk.out->dim[0].min + 1;
    pw.traces = walk.lastTrace - walk.firstTrace + 1;
    if (pw.traces <= 0 || walk.lastPlane < walk.firstPlane) return;
    // A plan without steps still clears the walk's places for kZero (the
    // walks below then write no step and zero every place).
    if (pw.count == 0 && walk.unwritten == Unwritten::kKeep) return;
    constexpr ptrdiff_t kSize = static_cast<ptrdiff_t>(sizeof(int16_t));
    pw.inSample = walk.in->dim[0].stride / kSize;
    pw.inTrace = walk.in->dim[1].stride / kSize;
    pw.outSample = walk.out->dim[0].stride / kSize;
    pw.outTrace = walk.out->dim[1].stride / kSize;
    // Row by row when neighbouring traces lie closer together in the output
    // than neighbouring samples (storage whose innermost axis is the trace):
    // each output row is then written in one sweep. Otherwise trace by trace.
    pw.rowWise = std::llabs(pw.outTrace) < std::llabs(pw.outSample);
    if (!pw.rowWise) PrepareTraceWalk(pw);
    HWY_DYNAMIC_DISPATCH(WalkPlanVectors)(pw);
}

void ZeroSamples(MeboDataPtr& buf) {
    if (buf.storage == nullptr || buf.axis.elemSize != static_cast<int32_t>(sizeof(int16_t))) return;
    WalkTraces(buf, buf, [](const TraceSpan& s) { MapTrace(s, [](int16_t) { return int16_t{0}; }); });
}

void UnwrittenSamples::Ready(DepthWalk& walk) {
    pending_ = false;
    const Mebo3DDataAxis& a = out_.axis;
    const bool covered = walk.firstTrace == a.dim[0].min && walk.lastTrace == a.dim[0].max &&
                         walk.firstPlane == a.dim[2].min && walk.lastPlane == a.dim[2].max;
    walk.unwritten = unwritten_;
    if (unwritten_ == Unwritten::kZero && !covered) {
        ZeroSamples(out_);
        walk.unwritten = Unwritten::kKeep;
    }
}

}  // namespace vantir3
#endif  // HWY_ONCE
