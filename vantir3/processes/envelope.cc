#include "vantir3/processes/envelope.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

#include "vantir3/framework/buffer_walk.h"
#include "vantir3/framework/toolbox.h"

#if defined(__x86_64__) || defined(__i386__)
// GCC 12's AVX-512 intrinsics header trips -Wmaybe-uninitialized on its own
// placeholder vectors; the warning is about the header, not this code.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#define VANTIR3_HAVE_ENVELOPE_AVX2 1
#endif

namespace vantir3 {

int32_t EnvelopeLag(int32_t window) {
    const int32_t w = window / 2;
    return (w / 2) * 2 + 1;
}

namespace {

constexpr double kHilbertGain = 0.6366197832271441;
constexpr int32_t kBlock = 16;  // samples per vector step

#if defined(VANTIR3_HAVE_ENVELOPE_AVX2)
// row[j] = x[j] for whole blocks of eight samples; returns the number done.
__attribute__((target("avx2,fma"))) int32_t ConvertAvx2(const int16_t* x, double* row, int32_t count) {
    int32_t j = 0;
    for (; j + 8 <= count; j += 8) {
        const __m256i w = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + j)));
        _mm256_storeu_pd(row + j, _mm256_cvtepi32_pd(_mm256_castsi256_si128(w)));
        _mm256_storeu_pd(row + j + 4, _mm256_cvtepi32_pd(_mm256_extracti128_si256(w, 1)));
    }
    return j;
}
#endif

// One trace copied into doubles with `lag` mirrored samples before and after
// it (the end sample not repeated), so that the filter needs no index
// mirroring: sample n of the trace is at row[n], and row[n - k], row[n + k]
// are the mirrored neighbours for every k <= lag. Differences of these
// whole numbers are exact, so (row[n + k] - row[n - k]) / k is exactly
// (x[a] - x[b]) / k. The row is padded so that the vector loop may run up to
// a whole block past the trace end.
class PaddedTrace {
public:
    bool Reserve(int32_t samples, int32_t lag) {
        s_ = samples;
        lag_ = lag;
        const int64_t size = int64_t{samples} + 2 * int64_t{lag} + kBlock;
        data_.reset(new (std::nothrow) double[size]);
        out_.reset(new (std::nothrow) int16_t[samples + kBlock]);
        reciprocal_.reset(new (std::nothrow) double[lag / 2 + 1]);
        if (!data_ || !out_ || !reciprocal_) return false;
        for (int64_t i = 0; i < size; ++i) data_[i] = 0.0;
        for (int32_t i = 0; i <= lag / 2; ++i) reciprocal_[i] = 1.0 / (2 * i + 1);
        return true;
    }
    void Load(const int16_t* x, ptrdiff_t step, bool vector) {
        double* row = Row();
        int32_t j = 0;
#if defined(VANTIR3_HAVE_ENVELOPE_AVX2)
        if (vector && step == 1) j = ConvertAvx2(x, row, s_);
#else
        (void)vector;
#endif
        for (; j < s_; ++j) row[j] = x[j * step];
        for (int32_t k = 1; k <= lag_; ++k) {
            row[-k] = row[k];
            row[s_ - 1 + k] = row[s_ - 1 - k];
        }
    }
    const double* Row() const { return data_.get() + lag_; }
    double* Row() { return data_.get() + lag_; }
    int16_t* Out() { return out_.get(); }
    // reciprocal[i] = 1 / (2i + 1), for the odd lags.
    const double* Reciprocals() const { return reciprocal_.get(); }

private:
    std::unique_ptr<double[]> data_;
    std::unique_ptr<int16_t[]> out_;
    std::unique_ptr<double[]> reciprocal_;
    int32_t s_ = 0;
    int32_t lag_ = 0;
};

// The output sample for v = (x^2 + h^2) / 2.
inline int16_t RoundEnvelope(double v) {
    const double e = std::sqrt(v);
    const double c = e > 32767.0 ? 32767.0 : (e < -32768.0 ? -32768.0 : e);
    return static_cast<int16_t>(static_cast<int32_t>(c + 0.5));
}

// The output sample at row[0] with lags up to `lag`.
inline int16_t EnvelopeAt(const double* row, int32_t lag) {
    double h = 0.0;
    for (int32_t k = 1; k <= lag; k += 2) h += (row[k] - row[-k]) / k;
    h = h * kHilbertGain;
    const double x = row[0];
    return RoundEnvelope((x * x + h * h) / 2.0);
}

void EnvelopeScalar(const double* row, int16_t* out, int32_t count, int32_t lag) {
    for (int32_t n = 0; n < count; ++n) out[n] = EnvelopeAt(row + n, lag);
}

#if defined(VANTIR3_HAVE_ENVELOPE_AVX2)

// The vector paths replace the double square root of RoundEnvelope by an
// exact decision. With s = sqrt(v) rounded to double, the output is
// min(floor(s + 0.5), 32767): adding 0.5 to s >= 0.5 is exact or rounds to
// a whole number that floor(s + 0.5) also gives, and s < 0.5 gives 0 except
// for the double just below 0.5. So the output is at least j exactly when
// s >= j - 0.5, and s >= t follows from v >= t * t (exact for t = j - 0.5
// up to 32767.5); v below t * t still gives s >= t only within a relative
// 2^-52 of t * t. A single-precision square root gives a candidate j within
// 0.01 of s, so the output is j - 1, j or j + 1, decided by v >= (j - 0.5)^2
// and v >= (j + 0.5)^2. A lane whose v lies within a relative 2^-40 below
// one of those two squares is redone by RoundEnvelope.
constexpr double kCandidateLimit = 1610612736.0;  // 1.5 * 2^30: the output is 32767 beyond
constexpr double kBand = 1.0 - 1.0 / 1099511627776.0;  // 1 - 2^-40
constexpr double kTiny = 1.0 / 1048576.0;  // 2^-20: sqrt is far below 0.5

// Decides four lanes; sets *unsure when a lane needs RoundEnvelope.
__attribute__((target("avx2,fma"))) inline __m128i RoundEnvelopeAvx2(__m256d v, int* unsure) {
    const __m128 f = _mm_sqrt_ps(_mm256_cvtpd_ps(_mm256_min_pd(v, _mm256_set1_pd(kCandidateLimit))));
    const __m128i j = _mm_max_epi32(_mm_cvtps_epi32(f), _mm_set1_epi32(1));
    const __m256d jd = _mm256_cvtepi32_pd(j);
    const __m256d half = _mm256_set1_pd(0.5), one = _mm256_set1_pd(1.0), band = _mm256_set1_pd(kBand);
    const __m256d t1 = _mm256_sub_pd(jd, half), t2 = _mm256_add_pd(jd, half);
    const __m256d s1 = _mm256_mul_pd(t1, t1), s2 = _mm256_mul_pd(t2, t2);
    const __m256d ge1 = _mm256_cmp_pd(v, s1, _CMP_GE_OQ), ge2 = _mm256_cmp_pd(v, s2, _CMP_GE_OQ);
    const __m256d near1 = _mm256_andnot_pd(ge1, _mm256_cmp_pd(v, _mm256_mul_pd(s1, band), _CMP_GE_OQ));
    const __m256d near2 = _mm256_andnot_pd(ge2, _mm256_cmp_pd(v, _mm256_mul_pd(s2, band), _CMP_GE_OQ));
    *unsure |= _mm256_movemask_pd(_mm256_or_pd(near1, near2));
    __m256d m = _mm256_sub_pd(jd, one);
    m = _mm256_add_pd(m, _mm256_and_pd(ge1, one));
    m = _mm256_add_pd(m, _mm256_and_pd(ge2, one));
    return _mm256_cvttpd_epi32(_mm256_min_pd(m, _mm256_set1_pd(32767.0)));
}

// The same for eight lanes, from a candidate close enough to decide alone:
// the 14-bit estimate of 1 / sqrt(v) refined by one Newton step gives y
// within a relative 2^-27 of sqrt(v), within 0.0004 below the candidate
// limit. When y is at most 0.499 from the nearest whole number j, s lies
// within 0.4995 of j too, and the output is min(j, 32767) (0 for j = 0);
// otherwise the lane is unsure.
__attribute__((target("avx512f"))) inline __m256i RoundEnvelopeAvx512(__m512d v, int* unsure) {
    const __m512d half = _mm512_set1_pd(0.5);
    const __m512d w = _mm512_max_pd(_mm512_min_pd(v, _mm512_set1_pd(kCandidateLimit)), _mm512_set1_pd(kTiny));
    const __m512d r0 = _mm512_rsqrt14_pd(w);
    const __m512d e = _mm512_fnmadd_pd(_mm512_mul_pd(_mm512_mul_pd(w, half), r0), r0, half);
    const __m512d y = _mm512_mul_pd(w, _mm512_fmadd_pd(r0, e, r0));
    const __m512d j = _mm512_roundscale_pd(y, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    *unsure |= _mm512_cmp_pd_mask(_mm512_abs_pd(_mm512_sub_pd(y, j)), _mm512_set1_pd(0.499), _CMP_GT_OQ);
    return _mm512_cvttpd_epi32(_mm512_min_pd(j, _mm512_set1_pd(32767.0)));
}

// t / k without a division: with y = 1 / k rounded, q = t * y rounded lies
// within one unit in the last place of t / k, so the residual t - q * k is
// exact in one fused multiply-add, and q + residual * y rounded once is t / k
// correctly rounded, the bits of the division (a classical property of
// division through a correctly rounded reciprocal, for operands far from
// overflow and underflow, as these whole numbers below 2^17 are).
__attribute__((target("avx512f"))) inline __m512d DivideAvx512(__m512d t, __m512d k, __m512d y) {
    const __m512d q = _mm512_mul_pd(t, y);
    return _mm512_fmadd_pd(_mm512_fnmadd_pd(q, k, t), y, q);
}

__attribute__((target("avx2,fma"))) inline __m256d DivideAvx2(__m256d t, __m256d k, __m256d y) {
    const __m256d q = _mm256_mul_pd(t, y);
    return _mm256_fmadd_pd(_mm256_fnmadd_pd(q, k, t), y, q);
}

// Redoes a block of 16 output samples from their v when a lane was unsure.
void RedoBlock(const double* v, int16_t* out) {
    for (int k = 0; k < kBlock; ++k) out[k] = RoundEnvelope(v[k]);
}

// EnvelopeAt for n = 0 .. blocks * kBlock - 1, eight lanes per vector,
// each lane doing the scalar operations in the scalar order. The divisions
// by k > 1 go through DivideAvx512 (reciprocal[i] = 1 / (2i + 1)), the
// division by 2.0 is a multiplication by 0.5 and the division by 1 is left
// out: all give the same bits. kLag is the lag when it is fixed at compile
// time (the common short filters, unrolled), or -1.
template <int kLag>
__attribute__((target("avx512f"))) void EnvelopeAvx512(const double* row, int16_t* out, int32_t blocks,
                                                       int32_t lag, const double* reciprocal) {
    if (kLag >= 0) lag = kLag;
    const int32_t count = blocks * kBlock;
    const __m512d gain = _mm512_set1_pd(kHilbertGain);
    const __m512d half = _mm512_set1_pd(0.5);
    for (int32_t n = 0; n < count; n += kBlock) {
        const double* p = row + n;
        __m512d h0 = _mm512_setzero_pd(), h1 = _mm512_setzero_pd();
        if (lag >= 1) {
            h0 = _mm512_sub_pd(_mm512_loadu_pd(p + 1), _mm512_loadu_pd(p - 1));
            h1 = _mm512_sub_pd(_mm512_loadu_pd(p + 9), _mm512_loadu_pd(p + 7));
        }
        for (int32_t k = 3; k <= lag; k += 2) {
            const __m512d divisor = _mm512_set1_pd(k), y = _mm512_set1_pd(reciprocal[k / 2]);
            const __m512d t0 = _mm512_sub_pd(_mm512_loadu_pd(p + k), _mm512_loadu_pd(p - k));
            const __m512d t1 = _mm512_sub_pd(_mm512_loadu_pd(p + 8 + k), _mm512_loadu_pd(p + 8 - k));
            h0 = _mm512_add_pd(h0, DivideAvx512(t0, divisor, y));
            h1 = _mm512_add_pd(h1, DivideAvx512(t1, divisor, y));
        }
        h0 = _mm512_mul_pd(h0, gain);
        h1 = _mm512_mul_pd(h1, gain);
        const __m512d x0 = _mm512_loadu_pd(p), x1 = _mm512_loadu_pd(p + 8);
        const __m512d v0 = _mm512_mul_pd(_mm512_add_pd(_mm512_mul_pd(x0, x0), _mm512_mul_pd(h0, h0)), half);
        const __m512d v1 = _mm512_mul_pd(_mm512_add_pd(_mm512_mul_pd(x1, x1), _mm512_mul_pd(h1, h1)), half);
        int unsure = 0;
        const __m256i r0 = RoundEnvelopeAvx512(v0, &unsure);
        const __m256i r1 = RoundEnvelopeAvx512(v1, &unsure);
        const __m512i both = _mm512_inserti64x4(_mm512_castsi256_si512(r0), r1, 1);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + n), _mm512_cvtepi32_epi16(both));
        if (unsure != 0) {
            double v[kBlock];
            _mm512_storeu_pd(v, v0);
            _mm512_storeu_pd(v + 8, v1);
            RedoBlock(v, out + n);
        }
    }
}

// EnvelopeAvx512 with the short filters unrolled.
__attribute__((target("avx512f"))) void EnvelopeAvx512Any(const double* row, int16_t* out, int32_t blocks,
                                                          int32_t lag, const double* reciprocal) {
    switch (lag) {
        case 0: return EnvelopeAvx512<0>(row, out, blocks, lag, reciprocal);
        case 1: return EnvelopeAvx512<1>(row, out, blocks, lag, reciprocal);
        case 3: return EnvelopeAvx512<3>(row, out, blocks, lag, reciprocal);
        case 5: return EnvelopeAvx512<5>(row, out, blocks, lag, reciprocal);
        case 7: return EnvelopeAvx512<7>(row, out, blocks, lag, reciprocal);
        case 9: return EnvelopeAvx512<9>(row, out, blocks, lag, reciprocal);
        default: return EnvelopeAvx512<-1>(row, out, blocks, lag, reciprocal);
    }
}

// The same with four lanes per vector.
__attribute__((target("avx2,fma"))) void EnvelopeAvx2(const double* row, int16_t* out, int32_t blocks, int32_t lag,
                                                      const double* reciprocal) {
    const int32_t count = blocks * kBlock;
    const __m256d gain = _mm256_set1_pd(kHilbertGain);
    const __m256d half = _mm256_set1_pd(0.5);
    for (int32_t n = 0; n < count; n += kBlock) {
        const double* p = row + n;
        __m256d h[4], v[4];
        for (int q = 0; q < 4; ++q) h[q] = _mm256_setzero_pd();
        for (int32_t k = 1; k <= lag; k += 2) {
            const __m256d divisor = _mm256_set1_pd(k), y = _mm256_set1_pd(reciprocal[k / 2]);
            for (int q = 0; q < 4; ++q) {
                __m256d t = _mm256_sub_pd(_mm256_loadu_pd(p + 4 * q + k), _mm256_loadu_pd(p + 4 * q - k));
                if (k > 1) t = DivideAvx2(t, divisor, y);
                h[q] = _mm256_add_pd(h[q], t);
            }
        }
        int unsure = 0;
        __m128i r[4];
        for (int q = 0; q < 4; ++q) {
            const __m256d hq = _mm256_mul_pd(h[q], gain);
            const __m256d x = _mm256_loadu_pd(p + 4 * q);
            v[q] = _mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(x, x), _mm256_mul_pd(hq, hq)), half);
            r[q] = RoundEnvelopeAvx2(v[q], &unsure);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n), _mm_packs_epi32(r[0], r[1]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n + 8), _mm_packs_epi32(r[2], r[3]));
        if (unsure != 0) {
            double w[kBlock];
            for (int q = 0; q < 4; ++q) _mm256_storeu_pd(w + 4 * q, v[q]);
            RedoBlock(w, out + n);
        }
    }
}

// RoundEnvelope over whole blocks of values; returns the number done.
__attribute__((target("avx512f"))) int32_t RoundValuesAvx512(const double* v, int16_t* out, int32_t count) {
    int32_t n = 0;
    for (; n + kBlock <= count; n += kBlock) {
        int unsure = 0;
        const __m256i r0 = RoundEnvelopeAvx512(_mm512_loadu_pd(v + n), &unsure);
        const __m256i r1 = RoundEnvelopeAvx512(_mm512_loadu_pd(v + n + 8), &unsure);
        const __m512i both = _mm512_inserti64x4(_mm512_castsi256_si512(r0), r1, 1);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + n), _mm512_cvtepi32_epi16(both));
        if (unsure != 0) RedoBlock(v + n, out + n);
    }
    return n;
}

__attribute__((target("avx2,fma"))) int32_t RoundValuesAvx2(const double* v, int16_t* out, int32_t count) {
    int32_t n = 0;
    for (; n + kBlock <= count; n += kBlock) {
        int unsure = 0;
        __m128i r[4];
        for (int q = 0; q < 4; ++q) r[q] = RoundEnvelopeAvx2(_mm256_loadu_pd(v + n + 4 * q), &unsure);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n), _mm_packs_epi32(r[0], r[1]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n + 8), _mm_packs_epi32(r[2], r[3]));
        if (unsure != 0) RedoBlock(v + n, out + n);
    }
    return n;
}

// DivideAvx512 / DivideAvx2 over whole vectors; return the number done.
__attribute__((target("avx512f"))) int32_t DivideValuesAvx512(const double* t, int32_t k, double* out,
                                                              int32_t count) {
    int32_t n = 0;
    for (; n + 8 <= count; n += 8)
        _mm512_storeu_pd(out + n, DivideAvx512(_mm512_loadu_pd(t + n), _mm512_set1_pd(k), _mm512_set1_pd(1.0 / k)));
    return n;
}

__attribute__((target("avx2,fma"))) int32_t DivideValuesAvx2(const double* t, int32_t k, double* out,
                                                              int32_t count) {
    int32_t n = 0;
    for (; n + 4 <= count; n += 4)
        _mm256_storeu_pd(out + n, DivideAvx2(_mm256_loadu_pd(t + n), _mm256_set1_pd(k), _mm256_set1_pd(1.0 / k)));
    return n;
}

#endif

using Path = EnvelopePath;

// The path to run: the one asked for when the processor has it, otherwise
// the best one below it.
Path ChoosePath(Path wanted) {
#if defined(VANTIR3_HAVE_ENVELOPE_AVX2)
    const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    if (wanted >= Path::kAvx512 && __builtin_cpu_supports("avx512f")) return Path::kAvx512;
    if (wanted >= Path::kAvx2 && avx2) return Path::kAvx2;
#else
    (void)wanted;
#endif
    return Path::kPlain;
}

// Output samples 0 .. blocks * kBlock - 1 of a padded row.
void EnvelopeBlocks(Path path, const double* row, int16_t* out, int32_t blocks, int32_t lag,
                    const double* reciprocal) {
    switch (path) {
#if defined(VANTIR3_HAVE_ENVELOPE_AVX2)
        case Path::kAvx512:
            EnvelopeAvx512Any(row, out, blocks, lag, reciprocal);
            break;
        case Path::kAvx2:
            EnvelopeAvx2(row, out, blocks, lag, reciprocal);
            break;
#endif
        default:
            EnvelopeScalar(row, out, blocks * kBlock, lag);
            break;
    }
}

// One trace of the common region, through the padded row. Whole blocks go
// straight into a contiguous output; the rest passes through pad.Out().
void EnvelopeTrace(const TraceSpan& t, int32_t lag, Path path, PaddedTrace& pad) {
    pad.Load(t.in, t.inStep, path != Path::kPlain);
    const int32_t whole = t.outStep == 1 ? t.count / kBlock : 0;
    const int32_t done = whole * kBlock;
    if (whole > 0) EnvelopeBlocks(path, pad.Row(), t.out, whole, lag, pad.Reciprocals());
    if (done == t.count) return;
    int16_t* rest = pad.Out();
    EnvelopeBlocks(path, pad.Row() + done, rest, (t.count - done + kBlock - 1) / kBlock, lag, pad.Reciprocals());
    for (int32_t n = done; n < t.count; ++n) t.out[n * t.outStep] = rest[n - done];
}

}  // namespace

bool EnvelopePathAvailable(EnvelopePath path) { return ChoosePath(path) == path; }

void EnvelopeDivideValues(const double* t, int32_t k, double* out, int32_t count, EnvelopePath path) {
    int32_t n = 0;
#if defined(VANTIR3_HAVE_ENVELOPE_AVX2)
    switch (ChoosePath(path)) {
        case Path::kAvx512:
            n = DivideValuesAvx512(t, k, out, count);
            break;
        case Path::kAvx2:
            n = DivideValuesAvx2(t, k, out, count);
            break;
        default:
            break;
    }
#endif
    for (; n < count; ++n) out[n] = t[n] / k;
}

void EnvelopeRoundValues(const double* v, int16_t* out, int32_t count, EnvelopePath path) {
    int32_t n = 0;
#if defined(VANTIR3_HAVE_ENVELOPE_AVX2)
    switch (ChoosePath(path)) {
        case Path::kAvx512:
            n = RoundValuesAvx512(v, out, count);
            break;
        case Path::kAvx2:
            n = RoundValuesAvx2(v, out, count);
            break;
        default:
            break;
    }
#endif
    for (; n < count; ++n) out[n] = RoundEnvelope(v[n]);
}

int Envelope(MeboDataPtr& out, const MeboDataPtr& in, SCDPPrc_DataStatsMode* stats, int32_t window,
             EnvelopePath wanted) {
    if (in.storage == nullptr || out.storage == nullptr) return -1;
    if (in.axis.elemSize != out.axis.elemSize || in.axis.elemSize != static_cast<int32_t>(sizeof(int16_t)))
        return -3;
    // The output's region must lie inside the input's.
    Mebo3DDataAxis common = in.axis;
    const int code = MeboIntersectRanges(&common, &in.axis, &out.axis, 0, 3);
    if (code < 0 || (code & 2) != 0) return -1;

    const int32_t s = out.axis.dim[0].max - out.axis.dim[0].min + 1;
    int32_t lag = EnvelopeLag(window);
    if (lag > s - 1) lag = s - 1;  // only odd lags count
    if (lag % 2 == 0) lag -= 1;
    if (lag < 1) lag = 0;  // no quadrature term
    PaddedTrace pad;
    if (!pad.Reserve(s, lag)) return -1;
    const Path path = ChoosePath(wanted);
    const int n = stats != nullptr && stats->indexStats != nullptr ? s : 0;
    SCDPPrc_DataStatsMode* work = stats != nullptr ? CDPPrc_create_work_stats(stats, n) : nullptr;
    const bool gather = work != nullptr && stats->mode != 0;
    const int status = WalkTraces(out, in, [&](const TraceSpan& t) {
        EnvelopeTrace(t, lag, path, pad);
        if (!gather) return;
        for (int32_t j = 0; j < t.count; ++j) {
            const double v = t.out[j * t.outStep];
            CDPPrc_accumulate_stat(v, work);
            if (n > 0) CDPPrc_accumulate_stat(v, work + 1 + j);
        }
    });
    if (work != nullptr) {
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
