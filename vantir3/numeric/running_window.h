// The centred running window along a trace, shared by dewow and the AGC
// gain: the sum of the samples (or of their magnitudes) within half samples
// either side of every sample, by an incremental scalar walk or, with
// AVX-512, from prefix sums sixteen samples at a time.
#ifndef VANTIR3_NUMERIC_RUNNING_WINDOW_H_
#define VANTIR3_NUMERIC_RUNNING_WINDOW_H_

#include <cmath>
#include <cstdint>

#include "vantir3/numeric/sample_vectors.h"
#include "vantir3/numeric/scratch.h"
#include "vantir3/numeric/simd_path.h"

namespace vantir3 {

#if defined(VANTIR3_HAVE_AVX512_PATH)
namespace avx512 {

// One block of a running prefix sum: p[k + 1 ... k + 16] (the lanes in m)
// = carry + x[0] + ... + x[k + j] (of |x| when absolute), modulo 2^32, where
// carry holds the sum of x[0 ... k - 1] in every lane; returns the carry for
// the next block. The block is scanned in four shift-and-add steps.
VANTIR3_TARGET_AVX512 __attribute__((always_inline)) inline __m512i ScanBlock(
    const int16_t* x, int32_t k, __mmask16 m, bool absolute, int32_t* p, __m512i carry) {
    const __m512i zero = _mm512_setzero_si512();
    __m512i v = _mm512_cvtepi16_epi32(_mm256_maskz_loadu_epi16(m, x + k));
    if (absolute) v = _mm512_abs_epi32(v);
    v = _mm512_add_epi32(v, _mm512_alignr_epi32(v, zero, 15));
    v = _mm512_add_epi32(v, _mm512_alignr_epi32(v, zero, 14));
    v = _mm512_add_epi32(v, _mm512_alignr_epi32(v, zero, 12));
    v = _mm512_add_epi32(v, _mm512_alignr_epi32(v, zero, 8));
    _mm512_mask_storeu_epi32(p + 1 + k, m, _mm512_add_epi32(v, carry));
    return _mm512_add_epi32(carry, _mm512_permutexvar_epi32(_mm512_set1_epi32(15), v));
}

// Two blocks of the running prefix sum at once: p[k + 1 ... k + 32] for the
// 32 samples x[k ... k + 31] (all of which exist), with fewer lane
// crossings than two ScanBlock calls: the samples at even and odd places are
// summed in place (shifts and masks, or a multiply-add by 1; no shuffles),
// their pair sums are scanned as sixteen lanes, and the two interleaved
// results are stored.
VANTIR3_TARGET_AVX512 __attribute__((always_inline)) inline __m512i ScanPairBlock(
    const int16_t* x, int32_t k, bool absolute, int32_t* p, __m512i carry) {
    const __m512i zero = _mm512_setzero_si512();
    const __m512i v = _mm512_loadu_si512(x + k);
    __m512i odd, s;  // x[k + 2j + 1] and x[k + 2j] + x[k + 2j + 1] (of |x| when absolute)
    if (absolute) {
        // |x| as unsigned 16-bit values (|-32768| is 0x8000), then split.
        const __m512i a = _mm512_abs_epi16(v);
        odd = _mm512_srli_epi32(a, 16);
        s = _mm512_add_epi32(_mm512_and_si512(a, _mm512_set1_epi32(0xFFFF)), odd);
    } else {
        odd = _mm512_srai_epi32(v, 16);
        s = _mm512_madd_epi16(v, _mm512_set1_epi16(1));
    }
    // s[j] = the sum of the pairs 0 ... j, the prefix at k + 2j + 2.
    s = _mm512_add_epi32(s, _mm512_alignr_epi32(s, zero, 15));
    s = _mm512_add_epi32(s, _mm512_alignr_epi32(s, zero, 14));
    s = _mm512_add_epi32(s, _mm512_alignr_epi32(s, zero, 12));
    s = _mm512_add_epi32(s, _mm512_alignr_epi32(s, zero, 8));
    const __m512i atEven = _mm512_add_epi32(s, carry);            // p[k + 2j + 2]
    const __m512i atOdd = _mm512_sub_epi32(atEven, odd);           // p[k + 2j + 1]
    const __m512i first = _mm512_set_epi32(23, 7, 22, 6, 21, 5, 20, 4, 19, 3, 18, 2, 17, 1, 16, 0);
    const __m512i second = _mm512_set_epi32(31, 15, 30, 14, 29, 13, 28, 12, 27, 11, 26, 10, 25, 9, 24, 8);
    _mm512_storeu_si512(p + 1 + k, _mm512_permutex2var_epi32(atOdd, first, atEven));
    _mm512_storeu_si512(p + 17 + k, _mm512_permutex2var_epi32(atOdd, second, atEven));
    return _mm512_add_epi32(carry, _mm512_permutexvar_epi32(_mm512_set1_epi32(15), s));
}

}  // namespace avx512
#endif

// The centred running window over traces of n samples: the window of sample i
// spans samples max(0, i - half) ... min(n - 1, i + half), so it shrinks at
// both ends of a trace. Its sums are exact whole numbers (at most 2^47 in
// size), so the incremental double sums of the scalar path and the prefix
// sums of the vector path give the same values, and so the same means.
class RunningWindow {
public:
    // Prepares for traces of n >= 1 samples at the given level. The vector
    // path is taken at the AVX-512 level when every window sum fits in 32
    // bits (windows of at most 65535 samples); false when its memory cannot
    // be had.
    bool Reserve(int32_t n, int32_t half, SimdPath level);
    int32_t Size() const { return n_; }
    // The half width, limited to n - 1 (a wider window covers the whole trace
    // for every sample, as this one does).
    int32_t Half() const { return h_; }
    bool Vector() const { return vector_; }

    // Scalar path: calls f(i, sum, count) for i = 0 ... n - 1 with the sum of
    // the window's samples (of their magnitudes when Absolute) and their
    // number, as doubles: the first min(half + 1, n) samples are added, then
    // after each sample the one at i - half leaves (from i = half on) and the
    // one at i + 1 + half enters (while i < n - 1 - half).
    template <bool Absolute, class F>
    void ForEach(const int16_t* x, F&& f) const {
        auto value = [x](int32_t j) {
            const double v = static_cast<double>(x[j]);
            return Absolute ? std::abs(v) : v;
        };
        double sum = 0.0;
        double count = 0.0;
        const int32_t first = h_ + 1 < n_ ? h_ + 1 : n_;
        for (int32_t j = 0; j < first; ++j) {
            sum += value(j);
            count += 1.0;
        }
        for (int32_t i = 0; i < n_; ++i) {
            f(i, sum, count);
            if (i >= h_) {
                sum -= value(i - h_);
                count -= 1.0;
            }
            if (i < n_ - 1 - h_) {
                sum += value(i + 1 + h_);
                count += 1.0;
            }
        }
    }

    // Vector path, per sample (n entries, readable 16 beyond): the number of
    // samples c of its window; and (1 / c) * (1 + 2^-40), with which the
    // truncation of sum * it is exactly that of the mean sum / c, for dewow.
    const int32_t* Counts() const { return counts_.get(); }
    const double* TruncatingInverses() const { return inverse_.get(); }

#if defined(VANTIR3_HAVE_AVX512_PATH)
    // Vector path: calls block(i0, m, sums) for the blocks of sixteen samples
    // i0 = 0, 16, ... of the trace x, with m marking the samples that exist
    // (all of them but in the last block) and sums the window sums of those
    // samples (of |x| when absolute) as 32-bit integers; where two full
    // blocks follow each other under the same rule, block.Pair(i0, sums0,
    // sums1) takes both (a kernel may settle two blocks with one test of
    // their rare cases). The prefix sums of the whole trace are taken first,
    // then the blocks find it in the cache. (Running the scan only a little
    // ahead of the blocks measured slower on large data.) Each step of full
    // blocks prefetches the same place one trace further on, the next trace
    // where traces follow each other in memory: spread over the blocks, the
    // reads of the next trace overlap the arithmetic, where a prefetch in the
    // fast scan came in bursts and left the scan waiting for memory.
    template <class Block>
    VANTIR3_TARGET_AVX512 __attribute__((always_inline)) void Stream(const int16_t* x, bool absolute,
                                                                    Block& block) const {
        // Locals, so that the stores of the prefix sums do not make the
        // compiler reload the members.
        const int32_t n = n_;
        const int32_t h = h_;
        const int32_t* base = prefix_;
        int32_t* p = prefix_ + h;
        p[0] = 0;
        __m512i carry = _mm512_setzero_si512();
        int32_t k = 0;
        for (; k + 32 <= n; k += 32) carry = avx512::ScanPairBlock(x, k, absolute, p, carry);
        for (; k + 16 <= n; k += 16) carry = avx512::ScanBlock(x, k, 0xFFFF, absolute, p, carry);
        if (k < n) avx512::ScanBlock(x, k, avx512::FirstLanes(n - k), absolute, p, carry);
        const __m512i total = _mm512_set1_epi32(p[n]);
        int32_t i0 = 0;
        const uintptr_t nextTrace = 2 * static_cast<uintptr_t>(n);  // bytes
        const __mmask16 all = 0xFFFF;
        // Blocks whose windows all end inside the trace: plain loads.
        for (; i0 + 32 <= n - h; i0 += 32) {
            avx512::PrefetchAhead(x + i0, nextTrace);
            block.Pair(i0, InnerSums(base, h, i0), InnerSums(base, h, i0 + 16));
        }
        for (; i0 + 16 <= n - h; i0 += 16) {
            avx512::PrefetchAhead(x + i0, nextTrace);
            block(i0, all, InnerSums(base, h, i0));
        }
        for (; i0 < n - h && i0 + 16 <= n; i0 += 16) {
            avx512::PrefetchAhead(x + i0, nextTrace);
            block(i0, all, WindowSums(base, n, h, total, i0, all));
        }
        // Blocks whose windows all reach the end of the trace.
        for (; i0 + 32 <= n; i0 += 32) {
            avx512::PrefetchAhead(x + i0, nextTrace);
            block.Pair(i0, _mm512_sub_epi32(total, _mm512_loadu_si512(base + i0)),
                       _mm512_sub_epi32(total, _mm512_loadu_si512(base + i0 + 16)));
        }
        for (; i0 + 16 <= n; i0 += 16) {
            avx512::PrefetchAhead(x + i0, nextTrace);
            block(i0, all, _mm512_sub_epi32(total, _mm512_loadu_si512(base + i0)));
        }
        if (i0 < n) {
            const __mmask16 m = avx512::FirstLanes(n - i0);
            block(i0, m, WindowSums(base, n, h, total, i0, m));
        }
    }
#endif

private:
#if defined(VANTIR3_HAVE_AVX512_PATH)
    // Sums of the windows of samples i0 ... i0 + 15, all of which end inside
    // the trace; base is the padded prefix array.
    VANTIR3_TARGET_AVX512 __attribute__((always_inline)) static __m512i InnerSums(const int32_t* base, int32_t h,
                                                                                 int32_t i0) {
        return _mm512_sub_epi32(_mm512_loadu_si512(base + i0 + 2 * h + 1), _mm512_loadu_si512(base + i0));
    }
    // Sums of the windows of samples i0 ... i0 + 15 (those in m); base is
    // the padded prefix array, total its last entry in every lane.
    VANTIR3_TARGET_AVX512 __attribute__((always_inline)) static __m512i WindowSums(
        const int32_t* base, int32_t n, int32_t h, __m512i total, int32_t i0, __mmask16 m) {
        // Windows that reach the end of the trace end at its total.
        const __mmask16 inside = m & avx512::FirstLanes(int64_t{n} - h - i0);
        const __m512i upper = _mm512_mask_loadu_epi32(total, inside, base + i0 + 2 * h + 1);
        return _mm512_sub_epi32(upper, _mm512_maskz_loadu_epi32(m, base + i0));
    }
#endif

    int32_t n_ = 0;
    int32_t h_ = 0;
    bool vector_ = false;
    // prefix_[h + j] = x[0] + ... + x[j - 1] (modulo 2^32) for j = 0 ... n,
    // after h zeros, so that the sum of the window of sample i is
    // prefix_[i + 2h + 1] - prefix_[i], with the total prefix_[h + n]
    // standing for the entries beyond the last. prefix_ lies inside
    // prefixStorage_ where prefix_ + h + 1, the first entry that the scan
    // stores, starts a cache line: every full-width store of the scan is
    // then aligned. The allocation reaches 16 entries beyond every address
    // that a (masked) load starts from.
    Scratch<int32_t> prefixStorage_;
    int32_t* prefix_ = nullptr;
    Scratch<int32_t> counts_;  // n entries, 16 more allocated, as below
    Scratch<double> inverse_;
};

}  // namespace vantir3

#endif  // VANTIR3_NUMERIC_RUNNING_WINDOW_H_
