// AVX-512 forms of the operations on 16-bit samples that several kernels
// share: widening to doubles, rounding and saturating back, lane masks and
// prefetching. Each gives exactly the bits of the scalar form it names. (The
// forms written once for every instruction set are in sample_vectors-inl.h.)
#ifndef VANTIR3_NUMERIC_SAMPLE_VECTORS_H_
#define VANTIR3_NUMERIC_SAMPLE_VECTORS_H_

#include <cstdint>

#include "vantir3/numeric/simd_path.h"

#if defined(VANTIR3_HAVE_X86_PATHS)
#include <immintrin.h>
#endif

#if defined(VANTIR3_HAVE_AVX512_PATH)
namespace vantir3 {
namespace avx512 {

// Lanes 0 ... n-1 of a 16-lane mask (all of them for n >= 16, none for n <= 0).
inline __mmask16 FirstLanes(int64_t n) {
    if (n <= 0) return 0;
    return n >= 16 ? static_cast<__mmask16>(0xFFFF) : static_cast<__mmask16>((1u << n) - 1u);
}

// Sixteen samples widened to two vectors of eight doubles.
VANTIR3_TARGET_AVX512 inline void Widen(__m256i x, __m512d& lo, __m512d& hi) {
    const __m512i w = _mm512_cvtepi16_epi32(x);
    lo = _mm512_cvtepi32_pd(_mm512_castsi512_si256(w));
    hi = _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(w, 1));
}

// Two vectors of eight whole numbers in the 16-bit range, as sixteen samples.
VANTIR3_TARGET_AVX512 inline __m256i Narrow(__m256i lo, __m256i hi) {
    return _mm512_cvtepi32_epi16(_mm512_inserti64x4(_mm512_castsi256_si512(lo), hi, 1));
}

// FloorSaturate16 of sixteen doubles below 2^31 (NaN included): floors as
// 32-bit integers (NaN and values below -2^31 give -2^31), narrowed with
// saturation, -32768 raised to -32767.
VANTIR3_TARGET_AVX512 inline __m256i FloorSaturate16Within31Bits(__m512d lo, __m512d hi) {
    const __m256i a = _mm512_cvt_roundpd_epi32(lo, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    const __m256i b = _mm512_cvt_roundpd_epi32(hi, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    const __m256i s = _mm512_cvtsepi32_epi16(_mm512_inserti64x4(_mm512_castsi256_si512(a), b, 1));
    return _mm256_max_epi16(s, _mm256_set1_epi16(-32767));
}

// Whole parts (toward zero) of sixteen doubles in the 16-bit range.
VANTIR3_TARGET_AVX512 inline __m256i Truncate16(__m512d lo, __m512d hi) {
    return Narrow(_mm512_cvttpd_epi32(lo), _mm512_cvttpd_epi32(hi));
}

// Prefetches the input `bytes` (by default 4 KiB) ahead of p: the
// processor's own prefetching falls behind on the first read of a trace. The
// address is only formed as a number, as it may lie beyond the buffer.
// Forced inline: a call that is not inlined counts as free of side effects,
// and the compiler drops it.
VANTIR3_TARGET_AVX512 __attribute__((always_inline)) inline void PrefetchAhead(const void* p,
                                                                             uintptr_t bytes = 4096) {
    _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(p) + bytes), _MM_HINT_T0);
}

}  // namespace avx512
}  // namespace vantir3
#endif

#endif  // VANTIR3_NUMERIC_SAMPLE_VECTORS_H_
