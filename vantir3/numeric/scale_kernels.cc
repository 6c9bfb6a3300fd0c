#include "vantir3/numeric/scale_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "vantir3/framework/buffer_walk.h"

// The vector kernel below is compiled once per instruction set.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vantir3/numeric/scale_kernels.cc"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"
#include "vantir3/numeric/sample_vectors-inl.h"

HWY_BEFORE_NAMESPACE();
namespace vantir3 {
namespace HWY_NAMESPACE {
namespace {

// 2N samples at a time: widen to doubles, 0.5 + g * x, floor, saturate,
// narrow back. Moderate factors make every g * x 0 or at least 1/2 in
// magnitude and within 2^28, as RoundHalfUp needs; otherwise 0.5 + g * x is
// limited as FloorSaturate16 does (NaN included).
template <bool kTable, bool kModerate>
void ScaleBlocks(const int16_t* in, int16_t* out, int32_t n, double gain, const double* gains) {
#if VANTIR3_SAMPLE_VECTORS
    const hn::ScalableTag<double> d;
    using D = decltype(d);
    const size_t lanes = hn::Lanes(d);
    const auto half = hn::Set(d, 0.5);
    const auto factor = hn::Set(d, gain);
#if HWY_TARGET == HWY_AVX2
    if (kModerate) {
        // 16 samples a step, in two additions and a shift instead of the
        // sum, the floor and a conversion. With y = g x (0 or at least 1/2
        // in magnitude, so that floor(0.5 + y) is the floor of the rounded
        // sum too): for every real v, the nearest whole number to v, ties to
        // even, halved and rounded down is floor(v / 2 + 1/4), since its one
        // tie that matters, v = 2m - 1/2, goes to 2m. So floor(0.5 + y) is
        // that of v = 2y + 1/2. Adding y + 1/4 to 1.5 * 2^51, whose last
        // place is worth 1/2, rounds it to the nearest multiple of 1/2, ties
        // to an even one, and leaves the nearest whole number to v in the
        // low 32 bits. y + 1/4 itself is exact but where it enters the next
        // binade up, at least 1/4 from every tie (y is then within 1/4
        // below a power of two), where its rounding, below 2^-24, decides
        // nothing. One shuffle per 128-bit block gathers the low halves of
        // two vectors, a shift halves them, and one pack narrows 16.
        const __m256d grid = _mm256_set1_pd(0x1.8p51);
        const __m256d quarter = _mm256_set1_pd(0.25);
        const __m256i lowest = _mm256_set1_epi16(-32767);
        // 2y + 1/2 rounded to a whole number in the low 32 bits, for four
        // samples x (factors at g).
        auto onGrid = [&](__m256d x, const double* g) {
            const __m256d y = _mm256_mul_pd(kTable ? _mm256_loadu_pd(g) : factor.raw, x);
            return _mm256_castpd_si256(_mm256_add_pd(_mm256_add_pd(y, quarter), grid));
        };
        // The pack of the halved low halves of a and b, then of c and e.
        auto narrow = [](__m256i a, __m256i b, __m256i c, __m256i e) {
            const __m256 ab = _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), 0x88);
            const __m256 ce = _mm256_shuffle_ps(_mm256_castsi256_ps(c), _mm256_castsi256_ps(e), 0x88);
            return _mm256_packs_epi32(_mm256_srai_epi32(_mm256_castps_si256(ab), 1),
                                      _mm256_srai_epi32(_mm256_castps_si256(ce), 1));
        };
        if (kTable) {
            // Samples widened four at a time in order, as the factors are
            // loaded; a permutation restores the order after the pack.
            const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
            ForEachSampleBlock<2>(d, in, gains, out, 0, n, [&](const int16_t* x, const double* g, int16_t* y) {
                const __m256i r = narrow(onGrid(LoadWidenFourSamples(x), g), onGrid(LoadWidenFourSamples(x + 4), g + 4),
                                         onGrid(LoadWidenFourSamples(x + 8), g + 8),
                                         onGrid(LoadWidenFourSamples(x + 12), g + 12));
                const __m256i ordered = _mm256_permutevar8x32_epi32(r, order);
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(y), _mm256_max_epi16(ordered, lowest));
            });
        } else {
            // One factor: the samples are widened by interleaving. Each,
            // offset by 2^15 (its sign bit flipped), goes under the high half
            // of the pattern of 2^52, making 2^52 + 2^15 + x, and one exact
            // subtraction leaves x. The interleaving orders the sums within
            // each 128-bit block so that the pack puts all 16 in order.
            const __m256i flip = _mm256_set1_epi16(int16_t{-32768}), zero = _mm256_setzero_si256();
            const __m256i high = _mm256_set1_epi32(0x43300000);
            const __m256d offset = _mm256_set1_pd(0x1p52 + 0x1p15);
            auto widen = [&](__m256i w) { return _mm256_sub_pd(_mm256_castsi256_pd(w), offset); };
            ForEachSampleBlockAt(16, in, out, n, [&](int32_t, const int16_t* x, int16_t* y) {
                const __m256i v = _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(x)), flip);
                const __m256i lo = _mm256_unpacklo_epi16(v, zero), hi = _mm256_unpackhi_epi16(v, zero);
                const __m256i r = narrow(onGrid(widen(_mm256_unpacklo_epi32(lo, high)), nullptr),
                                         onGrid(widen(_mm256_unpackhi_epi32(lo, high)), nullptr),
                                         onGrid(widen(_mm256_unpacklo_epi32(hi, high)), nullptr),
                                         onGrid(widen(_mm256_unpackhi_epi32(hi, high)), nullptr));
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(y), _mm256_max_epi16(r, lowest));
            });
        }
        return;
    }
#endif
    ForEachSampleBlock(d, in, gains, out, 0, n, [&](const int16_t* x, const double* g, int16_t* y) {
        hn::Vec<D> lo, hi;
        LoadWidenSamples(d, x, lo, hi);
        lo = hn::Mul(kTable ? hn::LoadU(d, g) : factor, lo);
        hi = hn::Mul(kTable ? hn::LoadU(d, g + lanes) : factor, hi);
        const auto r = kModerate ? RoundHalfUp(d, lo, hi) : FloorSaturate(d, hn::Add(half, lo), hn::Add(half, hi));
        hn::StoreU(r, SampleTag<D>(), y);
    });
#else
    ScaleSamplesScalar(in, out, n, gain, gains);
#endif
}

// ScaleSamples for a factor G / 2^k (DyadicFactor): in 32-bit integers,
// floor((2^k + 2G x) / 2^(k + 1)) by an arithmetic shift, narrowed with
// saturation, -32768 raised to -32767.
void DyadicBlocks(const int16_t* in, int16_t* out, int32_t n, int32_t twiceG, int32_t k) {
#if HWY_TARGET == HWY_AVX2
    // 16 samples a step: the 32-bit products 2G x from their low and high
    // 16-bit halves (|2G| < 2^15), interleaved within each 128-bit block;
    // the one narrowing pack then restores the samples' order, where widening
    // first takes a conversion per 8 samples and a permutation.
    const __m256i factor = _mm256_set1_epi16(static_cast<int16_t>(twiceG));
    const __m256i half = _mm256_set1_epi32(int32_t{1} << k);
    const __m128i shift = _mm_cvtsi32_si128(k + 1);
    const __m256i lowest = _mm256_set1_epi16(-32767);
    ForEachSampleBlockAt(16, in, out, n, [&](int32_t, const int16_t* x, int16_t* y) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x));
        const __m256i lo = _mm256_mullo_epi16(v, factor), hi = _mm256_mulhi_epi16(v, factor);
        const __m256i a = _mm256_sra_epi32(_mm256_add_epi32(_mm256_unpacklo_epi16(lo, hi), half), shift);
        const __m256i b = _mm256_sra_epi32(_mm256_add_epi32(_mm256_unpackhi_epi16(lo, hi), half), shift);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(y), _mm256_max_epi16(_mm256_packs_epi32(a, b), lowest));
    });
#elif VANTIR3_SAMPLE_VECTORS
    const hn::ScalableTag<double> d;
    const hn::Repartition<int32_t, decltype(d)> d32;
    const SampleTag<decltype(d)> d16;
    const auto factor = hn::Set(d32, twiceG);
    const auto half = hn::Set(d32, int32_t{1} << k);
    const auto lowest = hn::Set(d16, -32767);
    ForEachSampleBlock(d, in, nullptr, out, 0, n, [&](const int16_t* x, const double*, int16_t* y) {
        const auto t = hn::Add(hn::Mul(hn::PromoteTo(d32, hn::LoadU(d16, x)), factor), half);
        hn::StoreU(hn::Max(hn::DemoteTo(d16, hn::ShiftRightSame(t, k + 1)), lowest), d16, y);
    });
#else
    ScaleSamplesScalar(in, out, n, std::ldexp(0.5 * twiceG, -k), nullptr);
#endif
}

}  // namespace

void ScaleSamplesDyadic(const int16_t* in, int16_t* out, int32_t n, int32_t twiceG, int32_t k) {
    DyadicBlocks(in, out, n, twiceG, k);
}

void ScaleSamplesVectors(const int16_t* in, int16_t* out, int32_t n, double gain, const double* gains,
                         bool moderate) {
    if (gains == nullptr) {
        moderate ? ScaleBlocks<false, true>(in, out, n, gain, nullptr)
                 : ScaleBlocks<false, false>(in, out, n, gain, nullptr);
    } else {
        moderate ? ScaleBlocks<true, true>(in, out, n, 0.0, gains)
                 : ScaleBlocks<true, false>(in, out, n, 0.0, gains);
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace vantir3
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace vantir3 {

HWY_EXPORT(ScaleSamplesVectors);
HWY_EXPORT(ScaleSamplesDyadic);

bool DyadicFactor(double g, int32_t& twiceG, int32_t& k) {
    uint64_t bits;
    std::memcpy(&bits, &g, sizeof bits);
    const int32_t biased = static_cast<int32_t>(bits >> 52 & 0x7FF);
    twiceG = 0, k = 0;
    if (biased == 0 || biased == 0x7FF) return g == 0.0;  // subnormal, infinite, NaN: no
    // |g| = m 2^e with m odd.
    uint64_t m = (bits & ((uint64_t{1} << 52) - 1)) | uint64_t{1} << 52;
    const int32_t zeros = __builtin_ctzll(m);
    m >>= zeros;
    const int32_t e = biased - 1075 + zeros;
    if (m > 16383 || e < -14 || e > 13 || (e > 0 && (m << e) > 16383)) return false;
    const int32_t whole = static_cast<int32_t>(e > 0 ? m << e : m);
    twiceG = 2 * (bits >> 63 ? -whole : whole);
    k = e < 0 ? -e : 0;
    return true;
}

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

void ScaleSamples(const int16_t* in, int16_t* out, int32_t n, double gain) {
    int32_t twiceG, k;
    if (DyadicFactor(gain, twiceG, k)) return HWY_DYNAMIC_DISPATCH(ScaleSamplesDyadic)(in, out, n, twiceG, k);
    HWY_DYNAMIC_DISPATCH(ScaleSamplesVectors)(in, out, n, gain, nullptr, ModerateGain(gain));
}

void ScaleSamplesByTable(const int16_t* in, int16_t* out, int32_t n, const double* gains, bool moderate) {
    HWY_DYNAMIC_DISPATCH(ScaleSamplesVectors)(in, out, n, 0.0, gains, moderate);
}

FactorTable PrepareFactorTable(const double* gains, int32_t count) {
    FactorTable table;
    table.gains = gains;
    int32_t head = count > 0 ? 1 : 0;
    while (head < count && gains[head] == gains[0]) ++head;
    int32_t tail = count;
    while (tail > head && gains[tail - 1] == gains[count - 1]) --tail;
    // Parts that fill whole blocks of every instruction set: only the last
    // part of a trace ends in a partial block.
    table.head = head / kRunAlignment * kRunAlignment;
    table.tail = std::min(count, (tail + kRunAlignment - 1) / kRunAlignment * kRunAlignment);
    head = table.head;
    tail = table.tail;
    table.moderate = ModerateGains(gains + head, tail - head);
    return table;
}

void ScaleSamplesByTable(const int16_t* in, int16_t* out, int32_t n, const FactorTable& table) {
    const int32_t a = std::min(n, table.head);
    const int32_t b = std::max(a, std::min(n, table.tail));
    if (a > 0) ScaleSamples(in, out, a, table.gains[0]);
    if (b > a) ScaleSamplesByTable(in + a, out + a, b - a, table.gains + a, table.moderate);
    if (n > b) ScaleSamples(in + b, out + b, n - b, table.gains[b]);
}

}  // namespace vantir3
#endif  // HWY_ONCE
