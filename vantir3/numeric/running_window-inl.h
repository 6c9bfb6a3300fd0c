// The running window's sums in the vector kernels (dewow, AGC), written
// once for every instruction set: the prefix sums of a trace, then the window
// sums of each block of samples as one subtraction of two loads.
//
// Included by a kernel's source after sample_vectors-inl.h, once per
// instruction set (the guard toggles with HWY_TARGET_TOGGLE).
#if defined(VANTIR3_NUMERIC_RUNNING_WINDOW_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef VANTIR3_NUMERIC_RUNNING_WINDOW_INL_H_
#undef VANTIR3_NUMERIC_RUNNING_WINDOW_INL_H_
#else
#define VANTIR3_NUMERIC_RUNNING_WINDOW_INL_H_
#endif

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "hwy/highway.h"
#include "vantir3/numeric/running_window.h"
#include "vantir3/numeric/sample_vectors-inl.h"

#if VANTIR3_SAMPLE_VECTORS
HWY_BEFORE_NAMESPACE();
namespace vantir3 {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// The inclusive prefix sums of the 32-bit lanes of v (modulo 2^32): lane j
// becomes v[0] + ... + v[j]. Lanes are shifted up and added in log2(lanes)
// steps: across the whole vector with AVX-512 (one instruction a step), in
// each 128-bit block and then from block to block elsewhere; scalable
// vectors shift by table lookups.
template <class D32>
HWY_INLINE hn::Vec<D32> PrefixOfLanes(D32 d, hn::Vec<D32> v) {
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
    // (The zero-masked forms with every lane set: the plain ones start from
    // an undefined vector, which GCC 12 reports as maybe uninitialised.)
    const __m512i zero = _mm512_setzero_si512();
    v.raw = _mm512_add_epi32(v.raw, _mm512_maskz_alignr_epi32(0xFFFF, v.raw, zero, 15));
    v.raw = _mm512_add_epi32(v.raw, _mm512_maskz_alignr_epi32(0xFFFF, v.raw, zero, 14));
    v.raw = _mm512_add_epi32(v.raw, _mm512_maskz_alignr_epi32(0xFFFF, v.raw, zero, 12));
    v.raw = _mm512_add_epi32(v.raw, _mm512_maskz_alignr_epi32(0xFFFF, v.raw, zero, 8));
    return v;
#elif HWY_TARGET & (HWY_SVE | HWY_SVE2 | HWY_SVE_256 | HWY_SVE2_128)
    const hn::RebindToSigned<D32> di;
    const auto lane = hn::Iota(di, 0);
    for (int32_t k = 1; k < static_cast<int32_t>(hn::Lanes(d)); k *= 2) {
        const auto from = hn::Max(hn::Sub(lane, hn::Set(di, k)), hn::Zero(di));
        const auto up = hn::TableLookupLanes(v, hn::IndicesFromVec(d, from));
        v = hn::Add(v, hn::IfThenElseZero(hn::Gt(lane, hn::Set(di, k - 1)), up));
    }
    return v;
#else
    v = hn::Add(v, hn::ShiftLeftLanes<1>(d, v));
    v = hn::Add(v, hn::ShiftLeftLanes<2>(d, v));
#if HWY_TARGET == HWY_AVX2
    // The lower block's total onto every lane of the upper block.
    v = hn::Add(v, hn::ConcatLowerLower(d, hn::Broadcast<3>(v), hn::Zero(d)));
#endif
    return v;
#endif
}

// The pair sums x[2j] + x[2j + 1] of the 2N samples at x as N 32-bit lanes
// (of |x| when absolute), and in odd the samples x[2j + 1] (|x[2j + 1]|).
// The magnitudes are taken as unsigned 16-bit values (|-32768| is 0x8000)
// and split by a shift and a mask; signed samples are split by shifts, or
// summed by a multiply-add by 1 on x86.
template <class D32>
HWY_INLINE hn::Vec<D32> PairSums(D32 d, const int16_t* x, bool absolute, hn::Vec<D32>& odd) {
    const hn::Repartition<int16_t, D32> d16;
    const hn::RebindToUnsigned<D32> du;
    const auto v = hn::LoadU(d16, x);
    if (absolute) {
        const auto a = hn::BitCast(du, hn::Abs(v));
        odd = hn::BitCast(d, hn::ShiftRight<16>(a));
        return hn::Add(hn::BitCast(d, hn::And(a, hn::Set(du, 0xFFFFu))), odd);
    }
    odd = hn::ShiftRight<16>(hn::BitCast(d, v));
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
    return hn::Vec<D32>{_mm512_madd_epi16(v.raw, hn::Set(d16, int16_t{1}).raw)};
#elif HWY_TARGET == HWY_AVX2
    return hn::Vec<D32>{_mm256_madd_epi16(v.raw, hn::Set(d16, int16_t{1}).raw)};
#else
    return hn::Add(hn::ShiftRight<16>(hn::ShiftLeft<16>(hn::BitCast(d, v))), odd);
#endif
}

// Stores odd[0], even[0], odd[1], even[1], ... at p: AVX-512 interleaves with
// two two-table permutations, where Highway's form takes more shuffles.
template <class D32>
HWY_INLINE void StorePairs(D32 d, hn::Vec<D32> odd, hn::Vec<D32> even, int32_t* p) {
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
    (void)d;
    const __m512i first = _mm512_set_epi32(23, 7, 22, 6, 21, 5, 20, 4, 19, 3, 18, 2, 17, 1, 16, 0);
    const __m512i second = _mm512_set_epi32(31, 15, 30, 14, 29, 13, 28, 12, 27, 11, 26, 10, 25, 9, 24, 8);
    _mm512_storeu_si512(p, _mm512_permutex2var_epi32(odd.raw, first, even.raw));
    _mm512_storeu_si512(p + 16, _mm512_permutex2var_epi32(odd.raw, second, even.raw));
#else
    hn::StoreInterleaved2(odd, even, d, p);
#endif
}

// The prefix sums p[1 ... 2N] of the 2N samples x[0 ... 2N - 1] (of |x| when
// absolute) plus carry, and the carry for the next samples: half the lane
// shifts of two blocks of PrefixOfLanes, as the pair sums are scanned as N
// lanes (the prefix at every even place), and the odd places are those less
// the sample that follows them.
template <class D32>
HWY_INLINE hn::Vec<D32> ScanSamplePairs(D32 d, const int16_t* x, bool absolute, int32_t* p, hn::Vec<D32> carry) {
    hn::Vec<D32> odd;
    const auto s = PrefixOfLanes(d, PairSums(d, x, absolute, odd));  // s[j]: the prefix at 2j + 2
    const auto atEven = hn::Add(s, carry);
    StorePairs(d, hn::Sub(atEven, odd), atEven, p);
    const auto last = hn::IndicesFromVec(d, hn::Set(d, static_cast<int32_t>(hn::Lanes(d)) - 1));
    return hn::Add(carry, hn::TableLookupLanes(s, last));
}

// Fills the window's prefix array (RunningWindow::Prefix) for the trace x
// (of |x| when absolute): the scan stores a block of sums at a time, each
// block's own prefix plus the running total of the blocks before (added in
// one step, so that blocks do not wait on each other's shuffles); the
// entries past the trace get the total.
template <class D32>
HWY_INLINE void ScanTrace(D32 d, const RunningWindow& window, const int16_t* x, bool absolute) {
    const hn::Rebind<int16_t, D32> d16;
    const int32_t lanes = static_cast<int32_t>(hn::Lanes(d));
    const int32_t n = window.Size();
    int32_t* p = window.Prefix() + window.Half();
    p[0] = 0;
    const auto last = hn::IndicesFromVec(d, hn::Set(d, lanes - 1));
    auto carry = hn::Zero(d);
    auto scan = [&](const int16_t* block, int32_t k) {
        auto v = hn::PromoteTo(d, hn::LoadU(d16, block));
        if (absolute) v = hn::Abs(v);
        v = PrefixOfLanes(d, v);
        hn::StoreU(hn::Add(v, carry), d, p + 1 + k);
        carry = hn::Add(carry, hn::TableLookupLanes(v, last));
    };
    int32_t k = 0;
    for (; k + 2 * lanes <= n; k += 2 * lanes) carry = ScanSamplePairs(d, x + k, absolute, p + 1 + k, carry);
    for (; k + lanes <= n; k += lanes) scan(x + k, k);
    if (k < n) {
        // Zeros after the last sample keep the total.
        int16_t tail[HWY_MAX_BYTES / sizeof(int32_t)] = {};
        std::copy(x + k, x + n, tail);
        scan(tail, k);
        k += lanes;
    }
    // Up to the last entry that a window of the last block (2N samples) reads.
    const auto total = hn::Set(d, p[n]);
    for (const int32_t end = n + window.Half() + 2 * lanes; k < end; k += lanes) hn::StoreU(total, d, p + 1 + k);
}

// The window sums of the samples i0 ... i0 + N - 1 (of |x| when the
// scan took magnitudes) after ScanTrace, as 32-bit lanes, for every i0 below
// the trace's n: lower is window.Prefix() and upper lower + 2h + 1 (taken
// once per trace, as the compiler may not keep the window's members in
// registers across the blocks' stores).
template <class D32>
HWY_INLINE hn::Vec<D32> WindowSums(D32 d, const int32_t* lower, const int32_t* upper, int32_t i0) {
    return hn::Sub(hn::LoadU(d, upper + i0), hn::LoadU(d, lower + i0));
}

// Runs block(i0, x, y) over the blocks of 2N samples i0 = 0, 2N, ... of the
// trace x as ForEachSampleBlockAt does (x and y then address the block,
// perhaps in copies; the window sums of its two halves are WindowSums at i0
// and i0 + N), after ScanTrace: the prefix sums of the whole trace are
// taken first, then the blocks find them in the cache. Each block
// prefetches the same place one trace further on, the next trace where
// traces follow each other in memory: spread over the blocks, the reads of
// the next trace overlap the arithmetic.
template <class D32, class Block>
HWY_INLINE void ForEachWindowBlock(D32 d, const RunningWindow& window, const int16_t* x, int16_t* y, bool absolute,
                                   Block&& block) {
    ScanTrace(d, window, x, absolute);
    const int32_t step = 2 * static_cast<int32_t>(hn::Lanes(d));
    const uintptr_t nextTrace = 2 * static_cast<uintptr_t>(window.Size());  // bytes
    ForEachSampleBlockAt(step, x, y, window.Size(), [=, &block](int32_t i0, const int16_t* xb, int16_t* yb) {
        PrefetchAhead(x + i0, nextTrace);
        block(i0, xb, yb);
    });
}

}  // namespace HWY_NAMESPACE
}  // namespace vantir3
HWY_AFTER_NAMESPACE();
#endif  // VANTIR3_SAMPLE_VECTORS

#endif  // VANTIR3_NUMERIC_RUNNING_WINDOW_INL_H_
