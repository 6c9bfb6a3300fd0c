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

#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
// AVX-512: the prefix sums p[1 ... 32] of the 32 samples x[0 ... 31] (of
// |x| when absolute) plus carry, and the carry for the next samples, with
// fewer lane crossings than two blocks of PrefixOfLanes: the samples at even
// and odd places are summed in place (shifts and masks, or a multiply-add by
// 1; no shuffles), their pair sums are scanned as sixteen lanes, and the two
// interleaved results are stored.
HWY_INLINE __m512i ScanSamplePairs(const int16_t* x, bool absolute, int32_t* p, __m512i carry) {
    const hn::Full512<int32_t> d;
    const hn::Full512<uint32_t> du;
    const hn::Full512<int16_t> d16;
    const auto v = hn::LoadU(d16, x);
    hn::Vec<decltype(d)> odd, s;  // x[2j + 1] and x[2j] + x[2j + 1] (of |x| when absolute)
    if (absolute) {
        // |x| as unsigned 16-bit values (|-32768| is 0x8000), then split.
        const auto a = hn::BitCast(du, hn::Abs(v));
        odd = hn::BitCast(d, hn::ShiftRight<16>(a));
        s = hn::Add(hn::BitCast(d, hn::And(a, hn::Set(du, 0xFFFFu))), odd);
    } else {
        odd = hn::ShiftRight<16>(hn::BitCast(d, v));
        s.raw = _mm512_madd_epi16(v.raw, hn::Set(d16, int16_t{1}).raw);
    }
    // s[j] = the sum of the pairs 0 ... j, the prefix at 2j + 2.
    s = PrefixOfLanes(d, s);
    const __m512i atEven = _mm512_add_epi32(s.raw, carry);    // p[2j + 2]
    const __m512i atOdd = _mm512_sub_epi32(atEven, odd.raw);  // p[2j + 1]
    const __m512i first = _mm512_set_epi32(23, 7, 22, 6, 21, 5, 20, 4, 19, 3, 18, 2, 17, 1, 16, 0);
    const __m512i second = _mm512_set_epi32(31, 15, 30, 14, 29, 13, 28, 12, 27, 11, 26, 10, 25, 9, 24, 8);
    _mm512_storeu_si512(p, _mm512_permutex2var_epi32(atOdd, first, atEven));
    _mm512_storeu_si512(p + 16, _mm512_permutex2var_epi32(atOdd, second, atEven));
    return _mm512_add_epi32(carry, hn::TableLookupLanes(s, hn::IndicesFromVec(d, hn::Set(d, 15))).raw);
}
#endif

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
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
    for (; k + 2 * lanes <= n; k += 2 * lanes) carry.raw = ScanSamplePairs(x + k, absolute, p + 1 + k, carry.raw);
#else
    for (; k + 2 * lanes <= n; k += 2 * lanes) {
        scan(x + k, k);
        scan(x + k + lanes, k + lanes);
    }
#endif
    for (; k + lanes <= n; k += lanes) scan(x + k, k);
    if (k < n) {
        // Zeros after the last sample keep the total.
        int16_t tail[HWY_MAX_BYTES / sizeof(int32_t)] = {};
        std::copy(x + k, x + n, tail);
        scan(tail, k);
        k += lanes;
    }
    // Up to the last entry that a window of the last block reads.
    const auto total = hn::Set(d, p[n]);
    for (const int32_t end = n + window.Half() + lanes; k < end; k += lanes) hn::StoreU(total, d, p + 1 + k);
}

// The window sums of the samples i0 ... i0 + lanes - 1 (of |x| when the
// scan took magnitudes) after ScanTrace, as 32-bit lanes, for every i0 below
// the trace's n: lower is window.Prefix() and upper lower + 2h + 1 (taken
// once per trace, as the compiler may not keep the window's members in
// registers across the blocks' stores).
template <class D32>
HWY_INLINE hn::Vec<D32> WindowSums(D32 d, const int32_t* lower, const int32_t* upper, int32_t i0) {
    return hn::Sub(hn::LoadU(d, upper + i0), hn::LoadU(d, lower + i0));
}

// Runs block(i0, x, y) over the blocks of samples i0 = 0, lanes, ... of the
// trace x as ForEachSampleBlockAt does (x and y then address the block,
// perhaps in copies), after ScanTrace: the prefix sums of the whole trace are
// taken first, then the blocks (WindowSums) find them in the cache. Each
// block prefetches the same place one trace further on, the next trace where
// traces follow each other in memory: spread over the blocks, the reads of
// the next trace overlap the arithmetic.
template <class D32, class Block>
HWY_INLINE void ForEachWindowBlock(D32 d, const RunningWindow& window, const int16_t* x, int16_t* y, bool absolute,
                                   Block&& block) {
    ScanTrace(d, window, x, absolute);
    const int32_t n = window.Size();
    const int32_t lanes = static_cast<int32_t>(hn::Lanes(d));
    const uintptr_t nextTrace = 2 * static_cast<uintptr_t>(n);  // bytes
    // Two blocks a step (one prefetch: 2N samples of 16 bits are 64 bytes at
    // most on x86), then the rest.
    int32_t i0 = 0;
    for (; i0 + 2 * lanes <= n; i0 += 2 * lanes) {
        PrefetchAhead(x + i0, nextTrace);
        block(i0, x + i0, y + i0);
        block(i0 + lanes, x + i0 + lanes, y + i0 + lanes);
    }
    ForEachSampleBlockAt(lanes, x + i0, y + i0, n - i0, [=, &block](int32_t k, const int16_t* xb, int16_t* yb) {
        PrefetchAhead(x + i0 + k, nextTrace);
        block(i0 + k, xb, yb);
    });
}

}  // namespace HWY_NAMESPACE
}  // namespace vantir3
HWY_AFTER_NAMESPACE();
#endif  // VANTIR3_SAMPLE_VECTORS

#endif  // VANTIR3_NUMERIC_RUNNING_WINDOW_INL_H_
