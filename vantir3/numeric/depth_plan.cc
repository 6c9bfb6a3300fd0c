#include "vantir3/numeric/depth_plan.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "vantir3/numeric/sample_vectors.h"
#include "vantir3/numeric/simd_path.h"

VANTIR3_INTRINSICS_BEGIN

namespace vantir3 {

namespace {

inline const int16_t* SampleAddress(const Mebo3DDataAxis& a, int32_t i0, int32_t i1, int32_t i2) {
    return reinterpret_cast<const int16_t*>(
        a.base + static_cast<ptrdiff_t>(i0 - a.dim[0].min) * a.dim[0].stride +
        static_cast<ptrdiff_t>(i1 - a.dim[1].min) * a.dim[1].stride +
        static_cast<ptrdiff_t>(i2 - a.dim[2].min) * a.dim[2].stride);
}

// The sample loops below are written as plain indexed loops over contiguous
// arrays. The whole walk is compiled three times, for the baseline processor,
// with AVX2 and with AVX-512 (chosen at run time), and the compiler vectorises
// the loops for each; with AVX-512 the rounding rule has a kernel of its own,
// whose conversion rounds toward minus infinity itself. All give the same
// bits: every operation is an exact integer operation or a single IEEE double
// operation, evaluated as written.
#define VANTIR3_DEPTH_INLINE inline __attribute__((always_inline))

template <DepthRule kRule>
VANTIR3_DEPTH_INLINE int16_t DepthSample(int32_t p, int32_t c, double f) {
    if constexpr (kRule == DepthRule::kTruncate) {
        return static_cast<int16_t>(p + static_cast<int32_t>(f * static_cast<double>(c - p)));
    } else {
        // floor(y) limited to +-32767 (the value of FloorSaturate16), formed
        // in whole numbers: with f in [0, 1], |y| stays below 65536.
        const double y = 0.5 + static_cast<double>(c - p) * f;
        int32_t t = static_cast<int32_t>(y);
        t -= y < static_cast<double>(t) ? 1 : 0;
        t = t < -32767 ? -32767 : t;
        t = t > 32767 ? 32767 : t;
        return static_cast<int16_t>(p + t);
    }
}

#if defined(VANTIR3_HAVE_AVX512_PATH)
// Sixteen samples p + FloorSaturate16(0.5 + (c - p) f); c - p of two whole
// numbers is exact in 32-bit integers and in doubles, and
// |0.5 + (c - p) f| < 2^17.
VANTIR3_TARGET_AVX512 inline __m256i RoundSixteen(__m256i pv, __m256i cv, __m512d f0, __m512d f1) {
    const __m512d half = _mm512_set1_pd(0.5);
    const __m512i d = _mm512_sub_epi32(_mm512_cvtepi16_epi32(cv), _mm512_cvtepi16_epi32(pv));
    const __m512d d0 = _mm512_cvtepi32_pd(_mm512_castsi512_si256(d));
    const __m512d d1 = _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(d, 1));
    const __m256i step = avx512::FloorSaturate16Within31Bits(_mm512_add_pd(half, _mm512_mul_pd(d0, f0)),
                                                             _mm512_add_pd(half, _mm512_mul_pd(d1, f1)));
    return _mm256_add_epi16(pv, step);
}

// DepthSample<kRound> sixteen samples at a time with AVX-512, the last ones
// under a mask (plain loads elsewhere, which may take freshly stored
// samples straight from the store buffer); f per sample, or one f for all
// when fs is null; p null stands for zeros.
VANTIR3_TARGET_AVX512 void RoundSamplesAvx512(const int16_t* p, const int16_t* c, const double* fs, double f,
                                              int16_t* out, int32_t n) {
    const __m256i zero = _mm256_setzero_si256();
    __m512d f0 = _mm512_set1_pd(f), f1 = f0;
    int32_t k = 0;
    for (; k + 16 <= n; k += 16) {
        const __m256i pv = p != nullptr ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + k)) : zero;
        const __m256i cv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + k));
        if (fs != nullptr) {
            f0 = _mm512_loadu_pd(fs + k);
            f1 = _mm512_loadu_pd(fs + k + 8);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k), RoundSixteen(pv, cv, f0, f1));
    }
    if (k < n) {
        const __mmask16 lanes = avx512::FirstLanes(n - k);
        const __m256i pv = p != nullptr ? _mm256_maskz_loadu_epi16(lanes, p + k) : zero;
        const __m256i cv = _mm256_maskz_loadu_epi16(lanes, c + k);
        if (fs != nullptr) {
            f0 = _mm512_maskz_loadu_pd(static_cast<__mmask8>(lanes), fs + k);
            f1 = _mm512_maskz_loadu_pd(static_cast<__mmask8>(lanes >> 8), fs + k + 8);
        }
        _mm256_mask_storeu_epi16(out + k, lanes, RoundSixteen(pv, cv, f0, f1));
    }
}
#endif

// Whether the AVX-512 rounding kernel replaces the plain loop.
template <DepthRule kRule, bool kWide>
constexpr bool kRoundWide =
#if defined(VANTIR3_HAVE_AVX512_PATH)
    kWide && kRule == DepthRule::kRound;
#else
    false;
#endif

// One step for n traces side by side (contiguous): p null stands for zeros.
template <DepthRule kRule, bool kWide>
VANTIR3_DEPTH_INLINE void RowSamples(const int16_t* __restrict p, const int16_t* __restrict c, double f,
                                     int16_t* __restrict out, int32_t n) {
#if defined(VANTIR3_HAVE_AVX512_PATH)
    if constexpr (kRoundWide<kRule, kWide>) {
        if (p != c) {
            RoundSamplesAvx512(p, c, nullptr, f, out, n);
            return;
        }
    }
#endif
    if (p == nullptr) {
        for (int32_t k = 0; k < n; ++k) out[k] = DepthSample<kRule>(0, c[k], f);
    } else if (p == c) {
        for (int32_t k = 0; k < n; ++k) out[k] = c[k];
    } else {
        for (int32_t k = 0; k < n; ++k) out[k] = DepthSample<kRule>(p[k], c[k], f);
    }
}

// The same for traces at any distance.
template <DepthRule kRule>
VANTIR3_DEPTH_INLINE void RowSamplesStrided(const int16_t* p, const int16_t* c, ptrdiff_t inStep, double f,
                                            int16_t* out, ptrdiff_t outStep, int32_t n) {
    for (int32_t k = 0; k < n; ++k) {
        out[k * outStep] = DepthSample<kRule>(p == nullptr ? 0 : p[k * inStep], c[k * inStep], f);
    }
}

// Steps of one trace from gathered input samples.
template <DepthRule kRule, bool kWide>
VANTIR3_DEPTH_INLINE void TraceSamples(const int16_t* __restrict p, const int16_t* __restrict c,
                                       const double* __restrict f, int16_t* __restrict out, int32_t n) {
#if defined(VANTIR3_HAVE_AVX512_PATH)
    if constexpr (kRoundWide<kRule, kWide>) {
        RoundSamplesAvx512(p, c, f, 0.0, out, n);
        return;
    }
#endif
    for (int32_t k = 0; k < n; ++k) out[k] = DepthSample<kRule>(p[k], c[k], f[k]);
}

// n samples from src to dst (not overlapping) in 16-byte moves, the last
// one overlapping its predecessor: fast for the short runs of traces that
// share one shift.
VANTIR3_DEPTH_INLINE void CopySamples(int16_t* dst, const int16_t* src, int32_t n) {
    if (n < 8) {
        for (int32_t k = 0; k < n; ++k) dst[k] = src[k];
        return;
    }
    int32_t k = 0;
    for (; k + 8 <= n; k += 8) std::memcpy(dst + k, src + k, 16);
    if (k < n) std::memcpy(dst + n - 8, src + n - 8, 16);
}

// Neighbouring traces that share one shift.
struct ShiftRun {
    int32_t first;  // trace offset from the walk's first trace
    int32_t count;
    int64_t shift;
};

// The lanes of a block of sixteen neighbouring traces that share one shift,
// and where their samples of output row r lie: offset samples from row r + 0.
struct BlockLanes {
    int64_t shift;
    uint32_t lanes;
    ptrdiff_t offset;  // shift * outSample + the block's first trace
};

// Consecutive steps of a plan. In a unit segment both input indices advance
// by one sample per step, so that the samples of a trace are read straight
// from it; the steps of other segments are gathered first.
struct StepSegment {
    int64_t first, end;
    bool unit;
};

// Shortest run of steps worth reading straight from the trace.
constexpr int64_t kMinUnitSteps = 8;

// The shifted row-by-row walk (see WalkByStep): traces per band, and how
// many steps ahead it asks the processor to fetch the input rows and the
// output rows of a run (neither is a sequential pattern that the processor
// would detect by itself).
constexpr int32_t kBandTraces = 1024;
constexpr int64_t kReadAhead = 4;
constexpr int64_t kWriteAhead = 8;
constexpr int32_t kLineSamples = 32;  // 16-bit samples per 64-byte cache line

// Asks for the cache line `offset` samples from p, for writing. The address
// may lie outside any buffer: a prefetch never faults, and the address is
// formed as an integer.
VANTIR3_DEPTH_INLINE void PrefetchForWrite(const int16_t* p, ptrdiff_t offset) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(p) + static_cast<uintptr_t>(offset * 2);
    __builtin_prefetch(reinterpret_cast<const void*>(address), 1);
}

// What ApplyDepthPlan prepares once per call for the walk.
struct PlanWalk {
    const DepthPlan* plan;
    const DepthWalk* walk;
    int64_t count;            // steps
    int64_t places;           // output samples per trace
    int32_t traces;
    ptrdiff_t inSample, inTrace, outSample, outTrace;  // strides in samples
    bool rowWise;
    // Trace by trace: the segments, element offsets of the input samples of
    // every step with a mask that zeroes a zero sample, and scratch rows.
    std::vector<StepSegment> segments;
    std::vector<ptrdiff_t> prevOffset, curOffset;
    std::vector<int16_t> prevMask;
    std::vector<int16_t> p, c, o;
    // Row by row: the runs of equal shift of one section and a scratch row.
    std::vector<ShiftRun> runs;
    std::vector<int16_t> row;
    // Row by row in blocks of sixteen traces: the lanes of each run in each
    // block, block by block; block b's are blockLanes[blockStart[b] ...
    // blockStart[b + 1] - 1].
    std::vector<BlockLanes> blockLanes;
    std::vector<int32_t> blockStart;
};

template <DepthRule kRule, bool kWide>
VANTIR3_DEPTH_INLINE void WalkByTrace(PlanWalk& pw, const int16_t* in, int16_t* out, const int64_t* shifts) {
    const DepthPlan& plan = *pw.plan;
    const double* frac = plan.frac.data();
    const ptrdiff_t* po = pw.prevOffset.data();
    const ptrdiff_t* co = pw.curOffset.data();
    const int16_t* mask = pw.prevMask.data();
    int16_t* p = pw.p.data();
    int16_t* c = pw.c.data();
    int16_t* o = pw.o.data();
    for (int32_t t = 0; t < pw.traces; ++t) {
        const int64_t shift = shifts != nullptr ? shifts[t] : 0;
        const int64_t rLo = std::max<int64_t>(0, -shift);
        const int64_t rHi = std::min(pw.count, pw.places - shift);
        if (rLo >= rHi) continue;
        const int16_t* src = in + t * pw.inTrace;
        int16_t* traceOut = out + t * pw.outTrace;  // step r goes to place r + shift
        for (const StepSegment& seg : pw.segments) {
            const int64_t a = std::max(seg.first, rLo);
            const int64_t b = std::min(seg.end, rHi);
            if (a >= b) continue;
            const int32_t n = static_cast<int32_t>(b - a);
            const int16_t* ps;
            const int16_t* cs;
            if (seg.unit) {
                ps = src + plan.prev[a];
                cs = src + plan.cur[a];
            } else {
                for (int64_t r = a; r < b; ++r) {
                    p[r] = static_cast<int16_t>(src[po[r]] & mask[r]);
                    c[r] = src[co[r]];
                }
                ps = p + a;
                cs = c + a;
            }
            int16_t* dst = traceOut + (a + shift) * pw.outSample;
            if (pw.outSample == 1) {
                TraceSamples<kRule, kWide>(ps, cs, frac + a, dst, n);
            } else {
                TraceSamples<kRule, kWide>(ps, cs, frac + a, o, n);
                for (int32_t k = 0; k < n; ++k) dst[k * pw.outSample] = o[k];
            }
        }
    }
}

// Without shifts: every step is one output row, computed in one sweep.
template <DepthRule kRule, bool kWide>
VANTIR3_DEPTH_INLINE void WalkByRow(PlanWalk& pw, const int16_t* in, int16_t* out) {
    const DepthPlan& plan = *pw.plan;
    const bool contiguous = pw.inTrace == 1 && pw.outTrace == 1;
    const int64_t rows = std::min(pw.count, pw.places);
    for (int64_t r = 0; r < rows; ++r) {
        const int16_t* c = in + plan.cur[r] * pw.inSample;
        const int16_t* p = plan.prev[r] < 0 ? nullptr : in + plan.prev[r] * pw.inSample;
        int16_t* dst = out + r * pw.outSample;
        if (contiguous) {
            RowSamples<kRule, kWide>(p, c, plan.frac[r], dst, pw.traces);
        } else {
            RowSamplesStrided<kRule>(p, c, pw.inTrace, plan.frac[r], dst, pw.outTrace, pw.traces);
        }
    }
}

// With shifts: each step is computed for a band of neighbouring traces into a
// scratch row in one sweep, then every run of traces sharing a shift is moved
// to its output row. Bands are narrow enough that the output rows one band
// writes stay in the cache until they are complete.
template <DepthRule kRule, bool kWide>
VANTIR3_DEPTH_INLINE void WalkByStep(PlanWalk& pw, const int16_t* in, int16_t* out) {
    const DepthPlan& plan = *pw.plan;
    int16_t* row = pw.row.data();
    const ShiftRun* runs = pw.runs.data();
    const size_t runCount = pw.runs.size();
    for (size_t bandFirst = 0; bandFirst < runCount;) {
        // Whole runs, at least kBandTraces traces (or what is left).
        size_t bandEnd = bandFirst;
        int64_t lowest = runs[bandFirst].shift, highest = lowest;
        const int32_t first = runs[bandFirst].first;
        do {
            lowest = std::min(lowest, runs[bandEnd].shift);
            highest = std::max(highest, runs[bandEnd].shift);
            ++bandEnd;
        } while (bandEnd < runCount && runs[bandEnd].first - first < kBandTraces);
        const int32_t width = runs[bandEnd - 1].first + runs[bandEnd - 1].count - first;
        const int16_t* bandIn = in + first * pw.inTrace;
        const int64_t rLo = std::max<int64_t>(0, -highest);
        const int64_t rHi = std::min(pw.count, pw.places - lowest);
        for (int64_t r = rLo; r < rHi; ++r) {
            if (r + kReadAhead < rHi && pw.inTrace == 1) {
                const int16_t* ahead = bandIn + plan.cur[r + kReadAhead] * pw.inSample;
                for (int32_t k = 0; k < width; k += kLineSamples) __builtin_prefetch(ahead + k, 0);
            }
            const int16_t* c = bandIn + plan.cur[r] * pw.inSample;
            const int16_t* p = plan.prev[r] < 0 ? nullptr : bandIn + plan.prev[r] * pw.inSample;
            if (pw.inTrace == 1) {
                RowSamples<kRule, kWide>(p, c, plan.frac[r], row, width);
            } else {
                RowSamplesStrided<kRule>(p, c, pw.inTrace, plan.frac[r], row, 1, width);
            }
            for (size_t k = bandFirst; k < bandEnd; ++k) {
                const ShiftRun& run = runs[k];
                const int64_t place = r + run.shift;
                if (place < 0 || place >= pw.places) continue;
                int16_t* dst = out + place * pw.outSample + run.first * pw.outTrace;
                const int16_t* src = row + (run.first - first);
                if (pw.outTrace == 1) {
                    PrefetchForWrite(dst, kWriteAhead * pw.outSample);
                    CopySamples(dst, src, run.count);
                } else {
                    for (int32_t i = 0; i < run.count; ++i) dst[i * pw.outTrace] = src[i];
                }
            }
        }
        bandFirst = bandEnd;
    }
}

#if defined(VANTIR3_HAVE_AVX512_PATH)
// Stores the lanes of one run of a block's sixteen results y of step r into
// that run's output row, if the row is one of the output's places.
VANTIR3_TARGET_AVX512 __attribute__((always_inline)) inline void StoreRun(const BlockLanes& run, int64_t r,
                                                                          uint64_t places, int16_t* out,
                                                                          ptrdiff_t outSample, ptrdiff_t column,
                                                                          ptrdiff_t writeAhead, __m256i y) {
    const uint64_t place = static_cast<uint64_t>(r + run.shift);
    const bool inside = place < places;
    int16_t* dst = out + static_cast<int64_t>(inside ? place : 0) * outSample + column;
    PrefetchForWrite(dst, writeAhead);
    _mm256_mask_storeu_epi16(dst, static_cast<__mmask16>(inside ? run.lanes : 0u), y);
}

// One step r of the shifted row-by-row walk for the rounding rule with
// AVX-512 over the blocks b0 ... b1 - 1 of a band: sixteen neighbouring
// traces at a time are computed from the two input rows of the step and
// stored straight into the output rows of their runs (under each run's
// lanes), without a scratch row. kInside: every run of the band lands on an
// output place at this step, so the stores need no check.
template <bool kInside>
VANTIR3_TARGET_AVX512 __attribute__((always_inline)) inline void BandStepRoundAvx512(
    const PlanWalk& pw, const int16_t* in, int16_t* out, int64_t r, int64_t rHi, int32_t b0, int32_t b1) {
    const DepthPlan& plan = *pw.plan;
    const BlockLanes* lanes = pw.blockLanes.data();
    const int32_t* start = pw.blockStart.data();
    const uint64_t places = static_cast<uint64_t>(pw.places);
    const int32_t fullBlocks = pw.traces / 16;  // the last block may hold fewer traces
    const __mmask16 lastLanes = avx512::FirstLanes(pw.traces - fullBlocks * 16);
    // The input row a few steps ahead, fetched block by block.
    const int16_t* ahead = in + plan.cur[std::min(r + kReadAhead, rHi - 1)] * pw.inSample;
    const ptrdiff_t writeAhead = kWriteAhead * pw.outSample;
    const int16_t* c = in + plan.cur[r] * pw.inSample;
    const int16_t* p = plan.prev[r] < 0 ? nullptr : in + plan.prev[r] * pw.inSample;
    int16_t* row = out + r * pw.outSample;
    const __m512d f = _mm512_set1_pd(plan.frac[r]);
    auto store = [&](const BlockLanes& run, ptrdiff_t column, __m256i y) VANTIR3_TARGET_AVX512 {
        if (kInside) {
            PrefetchForWrite(row + run.offset, writeAhead);
            _mm256_mask_storeu_epi16(row + run.offset, static_cast<__mmask16>(run.lanes), y);
        } else {
            StoreRun(run, r, places, out, pw.outSample, column, writeAhead, y);
        }
    };
    for (int32_t b = b0; b < b1; ++b) {
        const ptrdiff_t column = ptrdiff_t{b} * 16;
        __builtin_prefetch(ahead + column, 0);
        const __mmask16 there = b < fullBlocks ? static_cast<__mmask16>(0xFFFF) : lastLanes;
        const __m256i pv = p != nullptr ? _mm256_maskz_loadu_epi16(there, p + column) : _mm256_setzero_si256();
        const __m256i y = RoundSixteen(pv, _mm256_maskz_loadu_epi16(there, c + column), f, f);
        // Every block has at least two entries (the second may have no
        // lanes), so the common blocks of one or two runs store without a
        // data-dependent branch.
        store(lanes[start[b]], column, y);
        store(lanes[start[b] + 1], column, y);
        for (int32_t e = start[b] + 2; e < start[b + 1]; ++e) store(lanes[e], column, y);
    }
}

// The shifted row-by-row walk for the rounding rule with AVX-512, where the
// traces lie next to each other in input and output: band by band and step
// by step (BandStepRoundAvx512).
VANTIR3_TARGET_AVX512 void WalkByStepRoundAvx512(const PlanWalk& pw, const int16_t* in, int16_t* out) {
    const BlockLanes* lanes = pw.blockLanes.data();
    const int32_t* start = pw.blockStart.data();
    const int32_t blocks = static_cast<int32_t>(pw.blockStart.size()) - 1;
    constexpr int32_t kBandBlocks = kBandTraces / 16;
    for (int32_t b0 = 0; b0 < blocks; b0 += kBandBlocks) {
        const int32_t b1 = std::min(blocks, b0 + kBandBlocks);
        int64_t lowest = lanes[start[b0]].shift, highest = lowest;
        for (int32_t e = start[b0]; e < start[b1]; ++e) {
            lowest = std::min(lowest, lanes[e].shift);
            highest = std::max(highest, lanes[e].shift);
        }
        const int64_t rLo = std::max<int64_t>(0, -highest);
        const int64_t rHi = std::min(pw.count, pw.places - lowest);
        for (int64_t r = rLo; r < rHi; ++r) {
            if (r + lowest >= 0 && r + highest < pw.places) {
                BandStepRoundAvx512<true>(pw, in, out, r, rHi, b0, b1);
            } else {
                BandStepRoundAvx512<false>(pw, in, out, r, rHi, b0, b1);
            }
        }
    }
}

// The lanes of every run in every block of sixteen traces, block by block;
// a block of a single run gets a second entry without lanes.
void SplitRunsIntoBlocks(PlanWalk& pw) {
    const int32_t blocks = (pw.traces + 15) / 16;
    pw.blockLanes.clear();
    pw.blockStart.assign(static_cast<size_t>(blocks) + 1, 0);
    size_t k = 0;   // the run that trace t belongs to
    int32_t t = 0;  // runs cover the traces 0 ... traces - 1 in order
    for (int32_t b = 0; b < blocks; ++b) {
        pw.blockStart[static_cast<size_t>(b)] = static_cast<int32_t>(pw.blockLanes.size());
        const int32_t blockEnd = std::min(pw.traces, (b + 1) * 16);
        while (t < blockEnd) {
            const ShiftRun& run = pw.runs[k];
            const int32_t end = std::min(run.first + run.count, blockEnd);
            pw.blockLanes.push_back({run.shift, ((1u << (end - t)) - 1u) << (t - b * 16),
                                     static_cast<ptrdiff_t>(run.shift) * pw.outSample + ptrdiff_t{b} * 16});
            if (end == run.first + run.count) ++k;
            t = end;
        }
        if (pw.blockLanes.size() - static_cast<size_t>(pw.blockStart[static_cast<size_t>(b)]) < 2) {
            pw.blockLanes.push_back({pw.blockLanes.back().shift, 0u, pw.blockLanes.back().offset});
        }
    }
    pw.blockStart[static_cast<size_t>(blocks)] = static_cast<int32_t>(pw.blockLanes.size());
}
#endif

template <DepthRule kRule, bool kWide>
VANTIR3_DEPTH_INLINE void WalkPlan(PlanWalk& pw) {
    const DepthWalk& w = *pw.walk;
    for (int32_t plane = w.firstPlane; plane <= w.lastPlane; ++plane) {
        const int16_t* in = SampleAddress(*w.in, w.in->dim[0].min, w.firstTrace, plane);
        int16_t* out = const_cast<int16_t*>(SampleAddress(*w.out, w.out->dim[0].min, w.firstTrace, plane));
        const int64_t* shifts =
            w.shifts != nullptr ? w.shifts + static_cast<ptrdiff_t>(plane - w.firstPlane) * pw.traces : nullptr;
        if (!pw.rowWise) {
            WalkByTrace<kRule, kWide>(pw, in, out, shifts);
        } else if (shifts == nullptr) {
            WalkByRow<kRule, kWide>(pw, in, out);
        } else {
            pw.runs.clear();
            for (int32_t t = 0; t < pw.traces;) {
                int32_t end = t + 1;
                while (end < pw.traces && shifts[end] == shifts[t]) ++end;
                pw.runs.push_back({t, end - t, shifts[t]});
                t = end;
            }
#if defined(VANTIR3_HAVE_AVX512_PATH)
            if (kRoundWide<kRule, kWide> && pw.inTrace == 1 && pw.outTrace == 1) {
                SplitRunsIntoBlocks(pw);
                WalkByStepRoundAvx512(pw, in, out);
                continue;
            }
#endif
            WalkByStep<kRule, kWide>(pw, in, out);
        }
    }
}

// Segments, offsets and scratch for the trace-by-trace walk.
void PrepareTraceWalk(PlanWalk& pw) {
    const DepthPlan& plan = *pw.plan;
    const size_t n = static_cast<size_t>(pw.count);
    pw.prevOffset.resize(n);
    pw.curOffset.resize(n);
    pw.prevMask.resize(n);
    for (size_t r = 0; r < n; ++r) {
        const bool zero = plan.prev[r] < 0;
        pw.prevOffset[r] = (zero ? plan.cur[r] : plan.prev[r]) * pw.inSample;
        pw.curOffset[r] = plan.cur[r] * pw.inSample;
        pw.prevMask[r] = zero ? 0 : -1;
    }
    pw.p.resize(n);
    pw.c.resize(n);
    if (pw.outSample != 1) pw.o.resize(n);
    // Unit steps continue their predecessor's pattern; runs of at least
    // kMinUnitSteps of them are read straight from the trace, everything in
    // between is gathered.
    auto continues = [&](int64_t r) {
        return pw.inSample == 1 && plan.prev[r] >= 0 && plan.prev[r - 1] >= 0 &&
               plan.cur[r] == plan.cur[r - 1] + 1 && plan.prev[r] - plan.cur[r] == plan.prev[r - 1] - plan.cur[r - 1];
    };
    int64_t gatherFrom = 0;
    for (int64_t first = 0; first < pw.count;) {
        int64_t end = first + 1;
        while (end < pw.count && continues(end)) ++end;
        if (end - first >= kMinUnitSteps && plan.prev[first] >= 0) {
            if (gatherFrom < first) pw.segments.push_back({gatherFrom, first, false});
            pw.segments.push_back({first, end, true});
            gatherFrom = end;
        }
        first = end;
    }
    if (gatherFrom < pw.count) pw.segments.push_back({gatherFrom, pw.count, false});
}

template <DepthRule kRule>
void WalkPlanBaseline(PlanWalk& pw) {
    WalkPlan<kRule, false>(pw);
}

#if defined(VANTIR3_HAVE_AVX512_PATH)
template <DepthRule kRule>
VANTIR3_TARGET_AVX2 void WalkPlanAvx2(PlanWalk& pw) {
    WalkPlan<kRule, false>(pw);
}

template <DepthRule kRule>
VANTIR3_TARGET_AVX512 void WalkPlanAvx512(PlanWalk& pw) {
    WalkPlan<kRule, true>(pw);
}
#endif

template <DepthRule kRule>
void WalkPlanWith(PlanWalk& pw, SimdPath path) {
    switch (path) {
#if defined(VANTIR3_HAVE_AVX512_PATH)
        case SimdPath::kAvx512:
            WalkPlanAvx512<kRule>(pw);
            return;
        case SimdPath::kAvx2:
            WalkPlanAvx2<kRule>(pw);
            return;
#endif
        default:
            WalkPlanBaseline<kRule>(pw);
            return;
    }
}

}  // namespace

int64_t TruncClamp(double x, int64_t lo, int64_t hi) {
    if (!(x >= static_cast<double>(lo))) return lo;  // NaN too
    if (x >= static_cast<double>(hi)) return hi;
    return static_cast<int64_t>(x);
}

void ApplyDepthPlan(const DepthPlan& plan, const DepthWalk& walk, SimdPath wanted) {
    const SimdPath path = ChooseSimdPath(wanted);
    PlanWalk pw;
    pw.plan = &plan;
    pw.walk = &walk;
    pw.count = plan.Size();
    pw.places = int64_t{walk.out->dim[0].max} - walk.out->dim[0].min + 1;
    pw.traces = walk.lastTrace - walk.firstTrace + 1;
    if (pw.count == 0 || pw.traces <= 0 || walk.lastPlane < walk.firstPlane) return;
    constexpr ptrdiff_t kSize = static_cast<ptrdiff_t>(sizeof(int16_t));
    pw.inSample = walk.in->dim[0].stride / kSize;
    pw.inTrace = walk.in->dim[1].stride / kSize;
    pw.outSample = walk.out->dim[0].stride / kSize;
    pw.outTrace = walk.out->dim[1].stride / kSize;
    // Row by row when neighbouring traces lie closer together in the output
    // than neighbouring samples (storage whose innermost axis is the trace):
    // each output row is then written in one sweep. Otherwise trace by trace.
    pw.rowWise = std::llabs(pw.outTrace) < std::llabs(pw.outSample);
    if (pw.rowWise) {
        if (walk.shifts != nullptr) {
            pw.runs.reserve(static_cast<size_t>(pw.traces));
            pw.row.resize(static_cast<size_t>(pw.traces));
        }
    } else {
        PrepareTraceWalk(pw);
    }
    if (plan.rule == DepthRule::kTruncate) {
        WalkPlanWith<DepthRule::kTruncate>(pw, path);
    } else {
        WalkPlanWith<DepthRule::kRound>(pw, path);
    }
}

}  // namespace vantir3

VANTIR3_INTRINSICS_END
