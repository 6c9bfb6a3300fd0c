// Pieces shared by the time-axis kernels (SEC2, AGC and DVL gains, dewow,
// background subtraction): the vector level of the processor, per-call
// scratch arrays, contiguous working copies of strided traces, the capacity
// check of auxiliary buffers, and the AVX-512 forms of the saturating
// difference and of the running prefix sum (the sample conversions that other
// kernels share too are in numeric/sample_vectors.h).
//
// Every kernel has a scalar path, written as the algorithm is described, and
// an AVX-512 path that gives exactly the same bits; a call picks the path once.
#ifndef VANTIR3_PROCESSES_TRACE_KERNELS_H_
#define VANTIR3_PROCESSES_TRACE_KERNELS_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>

#include "vantir3/data/data_buffer.h"
#include "vantir3/framework/buffer_walk.h"
#include "vantir3/framework/status.h"
#include "vantir3/numeric/sample_vectors.h"
#include "vantir3/numeric/simd_path.h"

// Signed 16-bit a - b with clamping: the wrapped difference, except that a
// subtraction that wrapped downward gives -32767 (not -32768) and one that
// wrapped upward gives 32767. -32768 still results when nothing wrapped
// (-32767 - 1). Shared by dewow and background subtraction.
inline int16_t SubtractSaturated16(int16_t a, int16_t b) {
    const int16_t r = static_cast<int16_t>(a - b);  // two's-complement wrap
    if (b >= 1 && r >= a) return -32767;
    if (b < 0 && r <= a) return 32767;
    return r;
}

namespace vantir3 {

// The vector instructions a kernel may use. Every level gives the same bits.
enum class SimdLevel { kScalar, kAvx512 };

// The best level of this processor.
inline SimdLevel CpuSimdLevel() {
    return ChooseSimdPath() == SimdPath::kAvx512 ? SimdLevel::kAvx512 : SimdLevel::kScalar;
}

// Per-call arrays: n elements (uninitialised) starting on a 64-byte
// boundary, so that the vector kernels' full-width loads and stores of
// aligned blocks do not straddle cache lines whatever else the heap holds;
// null when memory runs out. Only for plain element types.
struct ScratchDelete {
    void operator()(void* p) const { ::operator delete[](p, std::align_val_t{kScratchAlignment}); }
    static constexpr size_t kScratchAlignment = 64;
};
template <class T>
using Scratch = std::unique_ptr<T[], ScratchDelete>;

template <class T>
Scratch<T> NewScratch(size_t n) {
    static_assert(std::is_trivially_default_constructible<T>::value && std::is_trivially_destructible<T>::value,
                  "scratch arrays hold plain values");
    void* p = ::operator new[](sizeof(T) * (n > 0 ? n : 1), std::align_val_t{ScratchDelete::kScratchAlignment},
                               std::nothrow);
    return Scratch<T>(static_cast<T*>(p));
}

// Runs f(const int16_t* x, int16_t* y) with the trace's samples as contiguous
// arrays of s.count elements: the trace itself where its step is 1, otherwise
// a copy in inCopy (read before f) or outCopy (written back after f). Both
// copies hold s.count samples. Input and output may be the same samples; with
// separateInput, x is then a copy, for kernels that read input samples after
// writing output samples.
template <class F>
inline void OnContiguousTrace(const TraceSpan& s, int16_t* inCopy, int16_t* outCopy, F&& f,
                              bool separateInput = false) {
    const int16_t* x = s.in;
    int16_t* y = s.outStep == 1 ? s.out : outCopy;
    bool copyIn = s.inStep != 1;
    if (!copyIn && separateInput && y == s.out) {
        const uintptr_t a = reinterpret_cast<uintptr_t>(s.in);
        const uintptr_t b = reinterpret_cast<uintptr_t>(s.out);
        const uintptr_t bytes = sizeof(int16_t) * static_cast<uintptr_t>(s.count);
        copyIn = a < b + bytes && b < a + bytes;
    }
    if (copyIn) {
        const int16_t* p = s.in;
        for (int32_t k = 0; k < s.count; ++k, p += s.inStep) inCopy[k] = *p;
        x = inCopy;
    }
    f(x, y);
    if (y != s.out) {
        int16_t* q = s.out;
        for (int32_t k = 0; k < s.count; ++k, q += s.outStep) *q = y[k];
    }
}

// True when buf has storage and at least `count` 16-bit samples fit between
// its cursor and the end of that storage.
bool HoldsSamplesFromCursor(const MeboDataPtr& buf, int64_t count);

#if defined(VANTIR3_HAVE_AVX512_PATH)
namespace avx512 {

// SubtractSaturated16 on sixteen lanes: the saturating difference, except
// that a difference that saturated at -32768 (it wrapped downward) becomes
// -32767; a true difference of -32768 stays.
VANTIR3_TARGET_AVX512 inline __m256i SubtractSaturated16(__m256i a, __m256i b) {
    const __m256i lowest = _mm256_set1_epi16(INT16_MIN);
    const __m256i s = _mm256_subs_epi16(a, b);
    const __mmask16 wrapped = _mm256_cmpeq_epi16_mask(s, lowest) &
                              _mm256_cmpneq_epi16_mask(_mm256_sub_epi16(a, b), lowest);
    return _mm256_mask_mov_epi16(s, wrapped, _mm256_set1_epi16(-32767));
}

// SubtractSaturated16 on 32 lanes.
VANTIR3_TARGET_AVX512 inline __m512i SubtractSaturated16(__m512i a, __m512i b) {
    const __m512i lowest = _mm512_set1_epi16(INT16_MIN);
    const __m512i s = _mm512_subs_epi16(a, b);
    const __mmask32 wrapped = _mm512_cmpeq_epi16_mask(s, lowest) &
                              _mm512_cmpneq_epi16_mask(_mm512_sub_epi16(a, b), lowest);
    return _mm512_mask_mov_epi16(s, wrapped, _mm512_set1_epi16(-32767));
}

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

}  // namespace vantir3

#endif  // VANTIR3_PROCESSES_TRACE_KERNELS_H_
