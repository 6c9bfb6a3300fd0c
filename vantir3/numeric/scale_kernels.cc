#include "vantir3/numeric/scale_kernels.h"

#include <cmath>

#include "vantir3/framework/buffer_walk.h"
#include "vantir3/numeric/sample_vectors.h"
#include "vantir3/numeric/simd_path.h"

#if defined(__x86_64__) || defined(__i386__)
// GCC 12's AVX-512 intrinsics header trips -Wmaybe-uninitialized on its own
// placeholder vectors; the warning is about the header, not this code.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#define VANTIR3_HAVE_AVX2_PATH 1
#endif

namespace vantir3 {

bool ModerateGains(const double* gains, int32_t count) {
    for (int32_t k = 0; k < count; ++k) {
        if (!ModerateGain(gains[k])) return false;
    }
    return true;
}

void ScaleSamplesScalar(const int16_t* in, int16_t* out, int32_t n, double gain,
                        const double* gains) {
    if (gains == nullptr) {
        for (int32_t k = 0; k < n; ++k) out[k] = FloorSaturate16(0.5 + gain * static_cast<double>(in[k]));
    } else {
        for (int32_t k = 0; k < n; ++k) out[k] = FloorSaturate16(0.5 + gains[k] * static_cast<double>(in[k]));
    }
}

#if defined(VANTIR3_HAVE_AVX2_PATH)
namespace {

// Eight samples at a time: widen to doubles, 0.5 + g * x, limit, floor (exact
// for the limited range), narrow back. Limiting before the floor equals
// limiting after it because the limits are whole numbers.
__attribute__((target("avx2"))) void ScaleAvx2(const int16_t* in, int16_t* out, int32_t n,
                                               double gain, const double* gains) {
    const __m256d half = _mm256_set1_pd(0.5);
    const __m256d lo = _mm256_set1_pd(-32767.0);
    const __m256d hi = _mm256_set1_pd(32767.0);
    __m256d g0 = _mm256_set1_pd(gain), g1 = g0;
    int32_t k = 0;
    for (; k + 8 <= n; k += 8) {
        const __m256i x = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + k)));
        __m256d a = _mm256_cvtepi32_pd(_mm256_castsi256_si128(x));
        __m256d b = _mm256_cvtepi32_pd(_mm256_extracti128_si256(x, 1));
        if (gains != nullptr) {
            g0 = _mm256_loadu_pd(gains + k);
            g1 = _mm256_loadu_pd(gains + k + 4);
        }
        a = _mm256_add_pd(half, _mm256_mul_pd(g0, a));
        b = _mm256_add_pd(half, _mm256_mul_pd(g1, b));
        // max/min take the second operand for NaN, which cannot arise here
        // (finite factors times 16-bit samples).
        a = _mm256_floor_pd(_mm256_min_pd(_mm256_max_pd(a, lo), hi));
        b = _mm256_floor_pd(_mm256_min_pd(_mm256_max_pd(b, lo), hi));
        const __m128i packed = _mm_packs_epi32(_mm256_cvttpd_epi32(a), _mm256_cvttpd_epi32(b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), packed);
    }
    ScaleSamplesScalar(in + k, out + k, n - k, gain, gains != nullptr ? gains + k : nullptr);
}

// Sixteen samples at a time, widened without conversions. With moderate
// factors, rounded by one addition onto a fixed grid (RoundHalfUp16: every
// product is 0 or at least 1/2 in magnitude, and within 2^28); otherwise
// 0.5 + g * x floored and saturated. Returns the number of samples done.
template <bool kModerate>
VANTIR3_TARGET_AVX512 int32_t ScaleBlocksAvx512(const int16_t* in, int16_t* out, int32_t n, double gain,
                                                const double* gains) {
    const __m512d half = _mm512_set1_pd(0.5);
    __m512d g0 = _mm512_set1_pd(gain), g1 = g0;
    int32_t k = 0;
    for (; k + 16 <= n; k += 16) {
        __m512d a, b;
        avx512::LoadWiden(in + k, 0xFFFF, a, b);
        if (gains != nullptr) {
            g0 = _mm512_loadu_pd(gains + k);
            g1 = _mm512_loadu_pd(gains + k + 8);
        }
        a = _mm512_mul_pd(g0, a);
        b = _mm512_mul_pd(g1, b);
        const __m256i y = kModerate ? avx512::RoundHalfUp16(a, b)
                                    : avx512::FloorSaturate16(_mm512_add_pd(half, a), _mm512_add_pd(half, b));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k), y);
    }
    return k;
}

VANTIR3_TARGET_AVX512 void ScaleAvx512(const int16_t* in, int16_t* out, int32_t n, double gain,
                                       const double* gains, bool moderate) {
    const int32_t k = moderate ? ScaleBlocksAvx512<true>(in, out, n, gain, gains)
                               : ScaleBlocksAvx512<false>(in, out, n, gain, gains);
    ScaleAvx2(in + k, out + k, n - k, gain, gains != nullptr ? gains + k : nullptr);
}


}  // namespace
#endif

bool ScaleSamplesVector(const int16_t* in, int16_t* out, int32_t n, double gain,
                        const double* gains, bool moderate) {
#if defined(VANTIR3_HAVE_AVX2_PATH)
    if (ChooseSimdPath() == SimdPath::kAvx512) {
        ScaleAvx512(in, out, n, gain, gains, moderate);
        return true;
    }
    if (ChooseSimdPath() == SimdPath::kAvx2) {
        ScaleAvx2(in, out, n, gain, gains);
        return true;
    }
#endif
    (void)in, (void)out, (void)n, (void)gain, (void)gains, (void)moderate;
    return false;
}

void ScaleSamples(const int16_t* in, int16_t* out, int32_t n, double gain) {
    if (!ScaleSamplesVector(in, out, n, gain, nullptr, ModerateGain(gain))) {
        ScaleSamplesScalar(in, out, n, gain, nullptr);
    }
}

void ScaleSamplesByTable(const int16_t* in, int16_t* out, int32_t n, const double* gains, bool moderate) {
    if (!ScaleSamplesVector(in, out, n, 0.0, gains, moderate)) ScaleSamplesScalar(in, out, n, 0.0, gains);
}

}  // namespace vantir3
