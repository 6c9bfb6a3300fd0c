// Operations on 16-bit samples that the vector kernels share, written once
// for every instruction set: widening to doubles, and flooring and
// saturating back to samples. Each gives exactly the bits of the scalar form
// it names (FloorSaturate16 in framework/buffer_walk.h).
//
// Included by a kernel's source after hwy/highway.h, once per instruction
// set (the guard toggles with HWY_TARGET_TOGGLE, as Highway's per-target
// headers do). Highway's one-lane target (HWY_SCALAR, the portable fallback
// under GCC before 12.3) has no half vectors: there VANTIR3_SAMPLE_VECTORS
// is 0, nothing here is defined, and kernels use their scalar formula.
#if defined(VANTIR3_NUMERIC_SAMPLE_VECTORS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef VANTIR3_NUMERIC_SAMPLE_VECTORS_INL_H_
#undef VANTIR3_NUMERIC_SAMPLE_VECTORS_INL_H_
#else
#define VANTIR3_NUMERIC_SAMPLE_VECTORS_INL_H_
#endif

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "hwy/cache_control.h"
#include "hwy/highway.h"

#undef VANTIR3_SAMPLE_VECTORS
#define VANTIR3_SAMPLE_VECTORS (HWY_TARGET != HWY_SCALAR)

#if VANTIR3_SAMPLE_VECTORS
HWY_BEFORE_NAMESPACE();
namespace vantir3 {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// A kernel works on blocks of 2N samples, N being the number of doubles in a
// vector of D: the samples, as 2N 16-bit lanes, fill half a vector.
template <class D>
using SampleTag = hn::Rebind<int16_t, hn::Repartition<int32_t, D>>;

// Set anew in each pass: AVX-512's own instructions where Highway lacks them.
#undef VANTIR3_AVX512_ROUNDING
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
#define VANTIR3_AVX512_ROUNDING 1
#endif

// The samples p[0 ... 2N - 1] widened to two vectors of N doubles without a
// conversion instruction (conversions are the kernels' slowest step): each
// sample, sign-extended to 64 bits and added to the pattern of 1.5 * 2^52,
// is the pattern of 1.5 * 2^52 + x, from which one exact subtraction leaves
// x. AVX-512 and AVX2 sign-extend 16 to 64 bits in one step as they load,
// which Highway does in two.
#if HWY_TARGET == HWY_AVX2
// The four samples p[0 ... 3] as doubles, as LoadWidenSamples widens them.
HWY_INLINE __m256d LoadWidenFourSamples(const int16_t* p) {
    const __m256i x = _mm256_cvtepi16_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
    const __m256i bias = _mm256_set1_epi64x(0x4338000000000000);
    return _mm256_sub_pd(_mm256_castsi256_pd(_mm256_add_epi64(x, bias)), _mm256_set1_pd(0x1.8p52));
}
#endif

template <class D>
HWY_INLINE void LoadWidenSamples(D d, const int16_t* p, hn::Vec<D>& lo, hn::Vec<D>& hi) {
#if HWY_TARGET == HWY_AVX2
    (void)d;
    lo = hn::Vec<D>{LoadWidenFourSamples(p)};
    hi = hn::Vec<D>{LoadWidenFourSamples(p + 4)};
#else
    const hn::RebindToSigned<D> d64;
    using V64 = hn::Vec<decltype(d64)>;
#if defined(VANTIR3_AVX512_ROUNDING)
    // (The zero-masked forms with every lane set: the plain ones start from
    // an undefined vector, which GCC 12 reports as maybe uninitialised.)
    const V64 a{_mm512_maskz_cvtepi16_epi64(0xFF, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)))};
    const V64 b{_mm512_maskz_cvtepi16_epi64(0xFF, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)))};
#else
    const hn::Rebind<int32_t, D> d32;
    const hn::Rebind<int16_t, D> d16;
    const V64 a = hn::PromoteTo(d64, hn::PromoteTo(d32, hn::LoadU(d16, p)));
    const V64 b = hn::PromoteTo(d64, hn::PromoteTo(d32, hn::LoadU(d16, p + hn::Lanes(d))));
#endif
    const auto bias = hn::Set(d64, 0x4338000000000000);
    const auto offset = hn::Set(d, 0x1.8p52);
    lo = hn::Sub(hn::BitCast(d, hn::Add(a, bias)), offset);
    hi = hn::Sub(hn::BitCast(d, hn::Add(b, bias)), offset);
#endif
}

// FloorSaturate16 of 2N doubles that are finite and below 2^31 in magnitude
// (lo the first N): floors converted exactly to 32-bit integers, narrowed
// with saturation, -32768 raised to -32767.
// AVX-512 converts rounding toward minus infinity in one instruction, and
// narrows with saturation in one.
template <class D>
HWY_INLINE hn::Vec<SampleTag<D>> FloorSaturateWithin31Bits(D, hn::Vec<D> lo, hn::Vec<D> hi) {
    const hn::Repartition<int32_t, D> d32;
    const hn::Half<decltype(d32)> dh;
    const SampleTag<D> d16;
#if defined(VANTIR3_AVX512_ROUNDING)
    const hn::Vec<decltype(dh)> a{_mm512_maskz_cvt_roundpd_epi32(0xFF, lo.raw, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC)};
    const hn::Vec<decltype(dh)> b{_mm512_maskz_cvt_roundpd_epi32(0xFF, hi.raw, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC)};
    const hn::Vec<SampleTag<D>> s{_mm512_maskz_cvtsepi32_epi16(0xFFFF, hn::Combine(d32, b, a).raw)};
#elif HWY_TARGET == HWY_AVX2
    // The floors convert exactly without Highway's added limit, and one pack
    // narrows both halves with saturation, in order.
    (void)d32, (void)dh;
    const __m128i a = _mm256_cvttpd_epi32(_mm256_round_pd(lo.raw, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
    const __m128i b = _mm256_cvttpd_epi32(_mm256_round_pd(hi.raw, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
    const hn::Vec<SampleTag<D>> s{_mm_packs_epi32(a, b)};
#else
    const auto a = hn::DemoteTo(dh, hn::Floor(lo));
    const auto b = hn::DemoteTo(dh, hn::Floor(hi));
    const auto s = hn::DemoteTo(d16, hn::Combine(d32, b, a));
#endif
    return hn::Max(s, hn::Set(d16, -32767));
}

// y limited to -32767 ... 32767, NaN giving -32767, as FloorSaturate16 does
// before its floor (limits are whole numbers, so limiting first changes no
// floor). A comparison, not Max: Max of NaN differs between instruction sets.
template <class D>
HWY_INLINE hn::Vec<D> LimitToSamples(D d, hn::Vec<D> y) {
    const auto low = hn::Set(d, -32767.0);
    return hn::Min(hn::IfThenElse(hn::Ge(y, low), y, low), hn::Set(d, 32767.0));
}

// FloorSaturate16 of any 2N doubles.
template <class D>
HWY_INLINE hn::Vec<SampleTag<D>> FloorSaturate(D d, hn::Vec<D> lo, hn::Vec<D> hi) {
    return FloorSaturateWithin31Bits(d, LimitToSamples(d, lo), LimitToSamples(d, hi));
}

// FloorSaturate16(0.5 + y) of 2N finite doubles y below 2^30 - 1 in
// magnitude that are 0 or at least 1/2 in magnitude (the callers' per-call
// proofs: ModerateGains, BoundDvlCurve). With AVX-512 by one addition
// rounded down onto the half-integer grid of 1.5 * 2^51 + 0.5, which leaves
// floor(2y + 1) in the low 32 bits of each result; halving that gives
// floor(y + 0.5). That is the floor of the rounded sum 0.5 + y too, except
// for y = 0.5 - 2^-54 (kept out), whose sum rounds up to 1: everywhere else
// the rounding of 0.5 + y either is exact or stays within the same whole
// number. Elsewhere the sum is rounded as written and floored: the scalar
// formula itself, within 2^30, so without its limits.
template <class D>
HWY_INLINE hn::Vec<SampleTag<D>> RoundHalfUp(D d, hn::Vec<D> lo, hn::Vec<D> hi) {
#if defined(VANTIR3_AVX512_ROUNDING)
    const hn::Repartition<int32_t, D> d32;
    const SampleTag<D> d16;
    const __m512d grid = hn::Set(d, 0x1.8p51 + 0.5).raw;
    const hn::Vec<D> a{_mm512_maskz_add_round_pd(0xFF, lo.raw, grid, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC)};
    const hn::Vec<D> b{_mm512_maskz_add_round_pd(0xFF, hi.raw, grid, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC)};
    const auto twice = hn::ConcatEven(d32, hn::BitCast(d32, b), hn::BitCast(d32, a));
    return hn::Max(hn::DemoteTo(d16, hn::ShiftRight<1>(twice)), hn::Set(d16, -32767));
#else
    const auto half = hn::Set(d, 0.5);
    return FloorSaturateWithin31Bits(d, hn::Add(half, lo), hn::Add(half, hi));
#endif
}

// The whole parts (toward zero) of 2N doubles in the 16-bit range (lo the
// first N), as samples. AVX-512 and AVX2 convert without limiting first
// (the values are in range) and narrow 32-bit lanes in one step, where
// Highway's forms add a limit and a permutation.
template <class D>
HWY_INLINE hn::Vec<SampleTag<D>> TruncateToSamples(D, hn::Vec<D> lo, hn::Vec<D> hi) {
#if defined(VANTIR3_AVX512_ROUNDING)
    // (Zero-masked forms with every lane set, as in LoadWidenSamples.)
    const hn::Repartition<int32_t, D> d32;
    const hn::Half<decltype(d32)> dh;
    const hn::Vec<decltype(dh)> a{_mm512_maskz_cvttpd_epi32(0xFF, lo.raw)}, b{_mm512_maskz_cvttpd_epi32(0xFF, hi.raw)};
    return hn::Vec<SampleTag<D>>{_mm512_maskz_cvtepi32_epi16(0xFFFF, hn::Combine(d32, b, a).raw)};
#elif HWY_TARGET == HWY_AVX2
    // Two conversions and one narrowing pack (in range: nothing saturates).
    return hn::Vec<SampleTag<D>>{_mm_packs_epi32(_mm256_cvttpd_epi32(lo.raw), _mm256_cvttpd_epi32(hi.raw))};
#else
    const hn::Repartition<int32_t, D> d32;
    const hn::Half<decltype(d32)> dh;
    return hn::DemoteTo(SampleTag<D>(), hn::Combine(d32, hn::DemoteTo(dh, hi), hn::DemoteTo(dh, lo)));
#endif
}

// The whole parts (toward zero) of 2N doubles below 2^31 in magnitude (lo
// the first N), as 32-bit integers: AVX-512 and AVX2 convert without the
// limit that Highway's conversion adds.
template <class D>
HWY_INLINE hn::Vec<hn::Repartition<int32_t, D>> TruncateWithin31Bits(D, hn::Vec<D> lo, hn::Vec<D> hi) {
    const hn::Repartition<int32_t, D> d32;
    const hn::Half<decltype(d32)> dh;
#if defined(VANTIR3_AVX512_ROUNDING)
    const hn::Vec<decltype(dh)> a{_mm512_maskz_cvttpd_epi32(0xFF, lo.raw)}, b{_mm512_maskz_cvttpd_epi32(0xFF, hi.raw)};
#elif HWY_TARGET == HWY_AVX2
    const hn::Vec<decltype(dh)> a{_mm256_cvttpd_epi32(lo.raw)}, b{_mm256_cvttpd_epi32(hi.raw)};
#else
    const auto a = hn::DemoteTo(dh, lo);
    const auto b = hn::DemoteTo(dh, hi);
#endif
    return hn::Combine(d32, b, a);
}

// Runs block(k, x, y) over the blocks of `step` samples (at most a vector
// of 16-bit lanes) k = 0, step, ... of in[0 ... n - 1], out receiving the
// results: x and y address the block's first sample. The last n mod step
// samples go through zero-filled copies that hold a whole block, so that no
// read or write passes n and the tail costs one block (not a scalar loop,
// which for a divide-bound kernel costs as much as several blocks);
// per-position tables read at k need entries up to k + step - 1.
template <class Block>
HWY_INLINE void ForEachSampleBlockAt(int32_t step, const int16_t* in, int16_t* out, int32_t n, Block&& block) {
    int32_t k = 0;
    for (; k + step <= n; k += step) block(k, in + k, out + k);
    if (k >= n) return;
    constexpr size_t kMax = HWY_MAX_BYTES / sizeof(int16_t);
    int16_t x[kMax] = {};
    int16_t y[kMax];
    std::copy(in + k, in + n, x);
    block(k, static_cast<const int16_t*>(x), static_cast<int16_t*>(y));
    std::copy(y, y + (n - k), out + k);
}

// Runs block(x, g, y) over the samples from ... n - 1 of in (factors
// gains[k] when gains is not null), out receiving the results, 2N kBlocks
// samples per call, as ForEachSampleBlockAt: x, g and y address the block's
// first sample, and the tail's factors are a zero-filled copy too.
template <int kBlocks = 1, class D, class Block>
HWY_INLINE void ForEachSampleBlock(D d, const int16_t* in, const double* gains, int16_t* out, int32_t from,
                                   int32_t n, Block&& block) {
    // (ForEachSampleBlockAt's copies of the tail hold a vector of 16-bit
    // lanes: four vectors of doubles.)
    static_assert(kBlocks >= 1 && kBlocks <= 2, "at most a vector of samples per call");
    const int32_t step = 2 * kBlocks * static_cast<int32_t>(hn::Lanes(d));
    if (gains != nullptr) gains += from;
    ForEachSampleBlockAt(step, in + from, out + from, n - from, [&](int32_t k, const int16_t* x, int16_t* y) {
        if (gains == nullptr || k + step <= n - from) return block(x, gains != nullptr ? gains + k : nullptr, y);
        double g[2 * kBlocks * HWY_MAX_BYTES / sizeof(double)] = {};
        std::copy(gains + k, gains + (n - from), g);
        block(x, static_cast<const double*>(g), y);
    });
}

// SubtractSaturated16 (processes/trace_kernels.h) of 16-bit lanes: the
// saturating difference, raised to -32767 where it saturated downward; a
// true difference of -32768 (the wrapped difference is -32768 too) stays,
// as does a true 32768, which saturated to 32767.
template <class D16>
HWY_INLINE hn::Vec<D16> SubtractSaturated(D16 d, hn::Vec<D16> a, hn::Vec<D16> b) {
    const auto lowest = hn::Set(d, int16_t{-32768});
    const auto s = hn::SaturatedSub(a, b);
    return hn::IfThenElse(hn::Eq(hn::Sub(a, b), lowest), s, hn::Max(s, hn::Set(d, int16_t{-32767})));
}

// Prefetches the input `bytes` (by default 4 KiB) ahead of p: the
// processor's own prefetching falls behind on the first read of a trace. The
// address is only formed as a number, as it may lie beyond the buffer.
HWY_INLINE void PrefetchAhead(const void* p, uintptr_t bytes = 4096) {
    hwy::Prefetch(reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(p) + bytes));
}

// The 32-bit lanes of a and then b as 16-bit lanes in their order, with
// saturation: AVX2 and AVX-512 pack the two and restore the order with one
// permutation, where Highway narrows each and then combines them.
template <class D32>
HWY_INLINE hn::Vec<hn::Repartition<int16_t, D32>> DemoteInOrder(D32 d, hn::Vec<D32> a, hn::Vec<D32> b) {
    const hn::Repartition<int16_t, D32> d16;
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
    (void)d;
    const __m512i order = _mm512_set_epi64(7, 5, 3, 1, 6, 4, 2, 0);
    return hn::Vec<decltype(d16)>{_mm512_permutexvar_epi64(order, _mm512_packs_epi32(a.raw, b.raw))};
#elif HWY_TARGET == HWY_AVX2
    (void)d;
    return hn::Vec<decltype(d16)>{_mm256_permute4x64_epi64(_mm256_packs_epi32(a.raw, b.raw), 0xD8)};
#else
    const hn::Half<decltype(d16)> dh;
    const hn::Rebind<int32_t, decltype(dh)> d32;
    (void)d;
    return hn::Combine(d16, hn::DemoteTo(dh, hn::BitCast(d32, b)), hn::DemoteTo(dh, hn::BitCast(d32, a)));
#endif
}

// Runs the blocks of `step` samples at k = 0, step, ... of a trace of n
// samples in two stages, a whole number of rounds of kDepth blocks:
// start(k, a, b) sets a block's two vectors of type V (its quotients, say),
// finish(a, b, k) stores its results. The start of a block runs kDepth
// blocks before its finish, so that kDepth blocks' long-latency steps
// (divisions) are in flight at once, ahead of the work that waits for them
// (block by block, forced AVX2 on Zen 5 ran the DVL kernel a fifth slower
// and background subtraction a twentieth: the waiting steps take the
// processor's queues and the division unit idles between blocks). (Two
// arrays of vectors, not an array of pairs: GCC keeps those in registers.)
// Returns the first sample not done, a multiple of step: the caller ends the
// trace block by block.
// SVE's vectors have no size known when compiling and cannot be held in
// arrays: there nothing is done here.
template <int kDepth, class V, class Start, class Finish>
HWY_INLINE int32_t PipelineSampleBlocks(int32_t step, int32_t n, Start&& start, Finish&& finish) {
#if HWY_HAVE_SCALABLE
    (void)step, (void)n, (void)start, (void)finish;
    return 0;
#else
    const int32_t round = kDepth * step;
    if (n < round) return 0;
    V a[kDepth], b[kDepth];
    for (int j = 0; j < kDepth; ++j) start(j * step, a[j], b[j]);
    int32_t k = round;
    for (; n - k >= round; k += round) {
        for (int j = 0; j < kDepth; ++j) {
            V nextA, nextB;
            start(k + j * step, nextA, nextB);
            finish(a[j], b[j], k - round + j * step);
            a[j] = nextA;
            b[j] = nextB;
        }
    }
    for (int j = 0; j < kDepth; ++j) finish(a[j], b[j], k - round + j * step);
    return k;
#endif
}

}  // namespace HWY_NAMESPACE
}  // namespace vantir3
HWY_AFTER_NAMESPACE();
#endif  // VANTIR3_SAMPLE_VECTORS

#endif  // VANTIR3_NUMERIC_SAMPLE_VECTORS_INL_H_
