#include "vantir3/processes/envelope.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

#include "vantir3/framework/buffer_walk.h"
#include "vantir3/framework/status.h"
#include "vantir3/framework/toolbox.h"

#include "vantir3/numeric/simd_path.h"

#if defined(VANTIR3_HAVE_X86_PATHS)
#include <immintrin.h>
#endif

VANTIR3_INTRINSICS_BEGIN

namespace vantir3 {

int32_t EnvelopeLag(int32_t window) {
    const int32_t w = window / 2;
    return (w / 2) * 2 + 1;
}

namespace {

constexpr double kHilbertGain = 0.6366197832271441;
constexpr int32_t kBlock = 32;  // samples per vector step

#if defined(VANTIR3_HAVE_X86_PATHS)
// row[j] = x[j] for whole vectors of samples; return the number done.
VANTIR3_TARGET_AVX512 int32_t ConvertAvx512(const int16_t* x, double* row, int32_t count) {
    int32_t j = 0;
    for (; j + 16 <= count; j += 16) {
        const __m512i w = _mm512_cvtepi16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + j)));
        _mm512_storeu_pd(row + j, _mm512_cvtepi32_pd(_mm512_castsi512_si256(w)));
        _mm512_storeu_pd(row + j + 8, _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(w, 1)));
    }
    return j;
}

VANTIR3_TARGET_AVX2 int32_t ConvertAvx2(const int16_t* x, double* row, int32_t count) {
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
    void Load(const int16_t* x, ptrdiff_t step, SimdPath path) {
        double* row = Row();
        int32_t j = 0;
#if defined(VANTIR3_HAVE_X86_PATHS)
        if (step == 1 && path == SimdPath::kAvx512) j = ConvertAvx512(x, row, s_);
        if (step == 1 && path == SimdPath::kAvx2) j = ConvertAvx2(x, row, s_);
#else
        (void)path;
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

#if defined(VANTIR3_HAVE_X86_PATHS)

// RoundEnvelope on four or eight lanes: e >= 0, so only the upper limit can
// apply, and the conversion truncates.
VANTIR3_TARGET_AVX2 inline __m128i RoundEnvelopeAvx2(__m256d v) {
    const __m256d e = _mm256_min_pd(_mm256_sqrt_pd(v), _mm256_set1_pd(32767.0));
    return _mm256_cvttpd_epi32(_mm256_add_pd(e, _mm256_set1_pd(0.5)));
}

VANTIR3_TARGET_AVX512 inline __m256i RoundEnvelopeAvx512(__m512d v) {
    const __m512d e = _mm512_min_pd(_mm512_sqrt_pd(v), _mm512_set1_pd(32767.0));
    return _mm512_cvttpd_epi32(_mm512_add_pd(e, _mm512_set1_pd(0.5)));
}

// t / k without a division: with y = 1 / k rounded, q = t * y rounded lies
// within one unit in the last place of t / k, so the residual t - q * k is
// exact in one fused multiply-add, and q + residual * y rounded once is t / k
// correctly rounded, the bits of the division (a classical property of
// division through a correctly rounded reciprocal, for operands far from
// overflow and underflow, as these whole numbers below 2^17 are).
VANTIR3_TARGET_AVX512 inline __m512d DivideAvx512(__m512d t, __m512d k, __m512d y) {
    const __m512d q = _mm512_mul_pd(t, y);
    return _mm512_fmadd_pd(_mm512_fnmadd_pd(q, k, t), y, q);
}

VANTIR3_TARGET_AVX2 inline __m256d DivideAvx2(__m256d t, __m256d k, __m256d y) {
    const __m256d q = _mm256_mul_pd(t, y);
    return _mm256_fmadd_pd(_mm256_fnmadd_pd(q, k, t), y, q);
}

// EnvelopeAt for n = 0 .. blocks * kBlock - 1, eight lanes per vector,
// each lane doing the scalar operations in the scalar order. The divisions
// by k > 1 go through DivideAvx512 (reciprocal[i] = 1 / (2i + 1)), the
// division by 2.0 is a multiplication by 0.5 and the division by 1 is left
// out: all give the same bits. kLag is the lag when it is fixed at compile
// time (the common short filters, unrolled), or -1.
template <int kLag>
VANTIR3_TARGET_AVX512 void EnvelopeAvx512(const double* row, int16_t* out, int32_t blocks,
                                                       int32_t lag, const double* reciprocal) {
    constexpr int kVectors = kBlock / 8;
    if (kLag >= 0) lag = kLag;
    const int32_t count = blocks * kBlock;
    const __m512d gain = _mm512_set1_pd(kHilbertGain);
    const __m512d half = _mm512_set1_pd(0.5);
    for (int32_t n = 0; n < count; n += kBlock) {
        const double* p = row + n;
        __m512d h[kVectors];
        for (int q = 0; q < kVectors; ++q)
            h[q] = lag >= 1 ? _mm512_sub_pd(_mm512_loadu_pd(p + 8 * q + 1), _mm512_loadu_pd(p + 8 * q - 1))
                            : _mm512_setzero_pd();
        for (int32_t k = 3; k <= lag; k += 2) {
            const __m512d divisor = _mm512_set1_pd(k), y = _mm512_set1_pd(reciprocal[k / 2]);
            for (int q = 0; q < kVectors; ++q) {
                const __m512d t =
                    _mm512_sub_pd(_mm512_loadu_pd(p + 8 * q + k), _mm512_loadu_pd(p + 8 * q - k));
                h[q] = _mm512_add_pd(h[q], DivideAvx512(t, divisor, y));
            }
        }
        __m256i r[kVectors];
        for (int q = 0; q < kVectors; ++q) {
            const __m512d hq = _mm512_mul_pd(h[q], gain);
            const __m512d x = _mm512_loadu_pd(p + 8 * q);
            r[q] = RoundEnvelopeAvx512(
                _mm512_mul_pd(_mm512_add_pd(_mm512_mul_pd(x, x), _mm512_mul_pd(hq, hq)), half));
        }
        for (int q = 0; q < kVectors; q += 2) {
            const __m512i both = _mm512_inserti64x4(_mm512_castsi256_si512(r[q]), r[q + 1], 1);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + n + 8 * q), _mm512_cvtepi32_epi16(both));
        }
    }
}

// EnvelopeAvx512 with the short filters unrolled.
VANTIR3_TARGET_AVX512 void EnvelopeAvx512Any(const double* row, int16_t* out, int32_t blocks,
                                                          int32_t lag, const double* reciprocal) {
    switch (lag) {
        case 0:
            return EnvelopeAvx512<0>(row, out, blocks, lag, reciprocal);
        case 1:
            return EnvelopeAvx512<1>(row, out, blocks, lag, reciprocal);
        case 3:
            return EnvelopeAvx512<3>(row, out, blocks, lag, reciprocal);
        case 5:
            return EnvelopeAvx512<5>(row, out, blocks, lag, reciprocal);
        case 7:
            return EnvelopeAvx512<7>(row, out, blocks, lag, reciprocal);
        case 9:
            return EnvelopeAvx512<9>(row, out, blocks, lag, reciprocal);
        default:
            return EnvelopeAvx512<-1>(row, out, blocks, lag, reciprocal);
    }
}

// The same with four lanes per vector.
VANTIR3_TARGET_AVX2 void EnvelopeAvx2(const double* row, int16_t* out, int32_t blocks,
                                                      int32_t lag, const double* reciprocal) {
    const int32_t count = blocks * kBlock;
    const __m256d gain = _mm256_set1_pd(kHilbertGain);
    const __m256d half = _mm256_set1_pd(0.5);
    for (int32_t n = 0; n < count; n += 16) {
        const double* p = row + n;
        __m256d h[4];
        for (int q = 0; q < 4; ++q) h[q] = _mm256_setzero_pd();
        for (int32_t k = 1; k <= lag; k += 2) {
            const __m256d divisor = _mm256_set1_pd(k), y = _mm256_set1_pd(reciprocal[k / 2]);
            for (int q = 0; q < 4; ++q) {
                __m256d t = _mm256_sub_pd(_mm256_loadu_pd(p + 4 * q + k), _mm256_loadu_pd(p + 4 * q - k));
                if (k > 1) t = DivideAvx2(t, divisor, y);
                h[q] = _mm256_add_pd(h[q], t);
            }
        }
        __m128i r[4];
        for (int q = 0; q < 4; ++q) {
            const __m256d hq = _mm256_mul_pd(h[q], gain);
            const __m256d x = _mm256_loadu_pd(p + 4 * q);
            r[q] = RoundEnvelopeAvx2(
                _mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(x, x), _mm256_mul_pd(hq, hq)), half));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n), _mm_packs_epi32(r[0], r[1]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n + 8), _mm_packs_epi32(r[2], r[3]));
    }
}

// DivideAvx512 / DivideAvx2 over whole vectors; return the number done.
VANTIR3_TARGET_AVX512 int32_t DivideValuesAvx512(const double* t, int32_t k, double* out,
                                                              int32_t count) {
    int32_t n = 0;
    for (; n + 8 <= count; n += 8)
        _mm512_storeu_pd(out + n,
                         DivideAvx512(_mm512_loadu_pd(t + n), _mm512_set1_pd(k), _mm512_set1_pd(1.0 / k)));
    return n;
}

VANTIR3_TARGET_AVX2 int32_t DivideValuesAvx2(const double* t, int32_t k, double* out,
                                                             int32_t count) {
    int32_t n = 0;
    for (; n + 4 <= count; n += 4)
        _mm256_storeu_pd(out + n,
                         DivideAvx2(_mm256_loadu_pd(t + n), _mm256_set1_pd(k), _mm256_set1_pd(1.0 / k)));
    return n;
}

#endif

using Path = SimdPath;

// Output samples 0 .. blocks * kBlock - 1 of a padded row.
void EnvelopeBlocks(Path path, const double* row, int16_t* out, int32_t blocks, int32_t lag,
                    const double* reciprocal) {
    switch (path) {
#if defined(VANTIR3_HAVE_X86_PATHS)
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
    pad.Load(t.in, t.inStep, path);
    const int32_t whole = t.outStep == 1 ? t.count / kBlock : 0;
    const int32_t done = whole * kBlock;
    if (whole > 0) EnvelopeBlocks(path, pad.Row(), t.out, whole, lag, pad.Reciprocals());
    if (done == t.count) return;
    int16_t* rest = pad.Out();
    EnvelopeBlocks(path, pad.Row() + done, rest, (t.count - done + kBlock - 1) / kBlock, lag,
                   pad.Reciprocals());
    for (int32_t n = done; n < t.count; ++n) t.out[n * t.outStep] = rest[n - done];
}

}  // namespace

void EnvelopeDivideValues(const double* t, int32_t k, double* out, int32_t count, SimdPath path) {
    int32_t n = 0;
#if defined(VANTIR3_HAVE_X86_PATHS)
    switch (ChooseSimdPath(path)) {
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

int Envelope(MeboDataPtr& out, const MeboDataPtr& in, SCDPPrc_DataStatsMode* stats, int32_t window,
             SimdPath wanted) {
    if (in.storage == nullptr || out.storage == nullptr) return kStatusNoCommonRegion;
    if (in.axis.elemSize != out.axis.elemSize || in.axis.elemSize != static_cast<int32_t>(sizeof(int16_t)))
        return kStatusElemSizeMismatch;
    // The output's region must lie inside the input's.
    Mebo3DDataAxis common = in.axis;
    const int code = MeboIntersectRanges(&common, &in.axis, &out.axis, 0, 3);
    if (code < 0 || (code & kIntersectNarrowerThanSecond) != 0) return kStatusNoCommonRegion;

    // Lags beyond S - 1 would reflect out of the trace; only odd lags count.
    const int32_t s = out.axis.dim[0].max - out.axis.dim[0].min + 1;
    int32_t lag = EnvelopeLag(window);
    if (lag > s - 1) lag = s - 1;
    if (lag % 2 == 0) lag -= 1;
    if (lag < 1) lag = 0;  // no quadrature term
    PaddedTrace pad;
    if (!pad.Reserve(s, lag)) return kStatusAllocationFailed;
    const Path path = ChooseSimdPath(wanted);
    const int n = stats != nullptr && stats->indexStats != nullptr ? s : 0;
    SCDPPrc_DataStatsMode* work = stats != nullptr ? CDPPrc_create_work_stats(stats, n) : nullptr;
    // The output samples, trace by trace, as they are written.
    const int64_t samples = static_cast<int64_t>(s) * (out.axis.dim[1].max - out.axis.dim[1].min + 1) *
                            (out.axis.dim[2].max - out.axis.dim[2].min + 1);
    RunStats gathered(work, n, samples);
    const int status = WalkTraces(out, in, [&](const TraceSpan& t) {
        EnvelopeTrace(t, lag, path, pad);
        gathered.Add(t.out, t.count, t.outStep);
    });
    if (work != nullptr) {
        gathered.Finish();
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

VANTIR3_INTRINSICS_END
