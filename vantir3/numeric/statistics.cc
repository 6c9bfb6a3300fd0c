// Amplitude statistics over 16-bit data buffers.
//
// Two gathering paths give the same results:
//  - the scalar path adds every sample, converted to double, to the working
//    copies in the documented walk order (needed for the extremes lists and
//    whenever the order of the double additions could change the sum);
//  - the integer path reduces runs of samples to 16-bit minimum / maximum and
//    an exact 64-bit integer sum, walking memory in its own order, and folds
//    those into the working copies once per record (contiguous runs through
//    the vector kernels of numeric/statistics_kernels.h). Minimum and maximum
//    do not depend on the order; the sum does not either as long as every
//    partial sum is an integer below 2^53, which is checked before this path
//    is taken.
#include "vantir3/numeric/statistics.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "vantir3/numeric/statistics_kernels.h"

namespace {

constexpr int32_t kSampleSize = 2;          // bytes per 16-bit sample
constexpr double kExactLimit = 9007199254740992.0;  // 2^53

inline int16_t Load16(const uint8_t* p) {
    int16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline int32_t Load32(const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void Store16(uint8_t* p, int16_t v) { std::memcpy(p, &v, sizeof v); }
inline void Store32(uint8_t* p, int32_t v) { std::memcpy(p, &v, sizeof v); }

template <typename T>
inline bool Aligned(const void* p) {
    return reinterpret_cast<uintptr_t>(p) % alignof(T) == 0;
}

// ---- extremes lists -----------------------------------------------------

// Finds the two rows of an extremes list; false unless `list` really holds
// at least n doubles on each of two rows.
inline bool ListRows(MeboDataPtr* list, int n, double** low, double** high) {
    if (list == nullptr || list->axis.base == nullptr ||
        list->axis.elemSize != static_cast<int32_t>(sizeof(double)))
        return false;
    const MeboAxisDim* d = list->axis.dim;
    if (d[0].stride != static_cast<int32_t>(sizeof(double)) ||
        static_cast<int64_t>(d[0].max) - d[0].min + 1 < n ||
        static_cast<int64_t>(d[1].max) - d[1].min + 1 < 2 ||
        d[1].stride % static_cast<int32_t>(sizeof(double)) != 0 ||
        !Aligned<double>(list->axis.base))
        return false;
    *low = reinterpret_cast<double*>(list->axis.base);
    *high = reinterpret_cast<double*>(list->axis.base + d[1].stride);
    return true;
}

// Row 0: the value replaces element 0 and moves forward while the next
// element is larger, keeping the row descending.
inline void InsertLow(double* row, int n, double value) {
    row[0] = value;
    for (int k = 0; k + 1 < n && row[k + 1] > row[k]; ++k) std::swap(row[k], row[k + 1]);
}

// Row 1: the value replaces element 0 and moves forward while it is larger
// than the next element, keeping the row ascending.
inline void InsertHigh(double* row, int n, double value) {
    row[0] = value;
    for (int k = 0; k + 1 < n && row[k] > row[k + 1]; ++k) std::swap(row[k], row[k + 1]);
}

// The extremes part of accumulating one value (numExtremes > 0).
inline void AddExtreme(double value, SCDPPrc_DataStatsMode* s) {
    const bool low = value < s->lowExtreme;
    const bool high = value > s->highExtreme;
    if (!low && !high) return;
    double* lowRow;
    double* highRow;
    if (!ListRows(s->indexStats, s->numExtremes, &lowRow, &highRow)) return;
    if (low) {
        InsertLow(lowRow, s->numExtremes, value);
        s->lowExtreme = lowRow[0];
    }
    if (high) {
        InsertHigh(highRow, s->numExtremes, value);
        s->highExtreme = highRow[0];
    }
}

inline void Accumulate(double value, SCDPPrc_DataStatsMode* s) {
    const uint8_t mode = s->mode;
    if (mode == 0) return;
    ++s->count;
    if (mode & STATS_MINMAX) {
        if (value <= s->minValue) s->minValue = value;
        if (value >= s->maxValue) s->maxValue = value;
    }
    if (mode & STATS_SUM) s->sum += value;
    if ((mode & STATS_EXTREMES) && s->numExtremes > 0) AddExtreme(value, s);
}

// ---- regions ------------------------------------------------------------

// A non-empty block of samples: address of the minimum corner, sample
// counts and byte strides per axis.
struct Region {
    const uint8_t* base;
    int64_t n[3];
    ptrdiff_t s[3];
};

// Region of `view` limited to [lo, hi] on each axis (indices already inside
// the view); false when some axis is empty.
bool MakeRegion(const Mebo3DDataAxis& view, const int64_t lo[3], const int64_t hi[3],
                Region* r) {
    const uint8_t* base = view.base;
    for (int k = 0; k < 3; ++k) {
        if (lo[k] > hi[k]) return false;
        r->n[k] = hi[k] - lo[k] + 1;
        r->s[k] = view.dim[k].stride;
        base += (lo[k] - view.dim[k].min) * static_cast<ptrdiff_t>(view.dim[k].stride);
    }
    r->base = base;
    return true;
}

// ---- scalar path --------------------------------------------------------

// Visits every sample, axes order[0] (outermost) .. order[2] (innermost),
// adding it to work[0] and, when indexAxis >= 0, to work[1 + index]; with
// kExtremesOnly only the extremes lists are updated.
template <bool kExtremesOnly>
void GatherScalar(const Region& r, const int order[3], int indexAxis,
                  SCDPPrc_DataStatsMode* work) {
    const int a0 = order[0], a1 = order[1], a2 = order[2];
    int64_t idx[3];
    for (idx[a0] = 0; idx[a0] < r.n[a0]; ++idx[a0]) {
        for (idx[a1] = 0; idx[a1] < r.n[a1]; ++idx[a1]) {
            const uint8_t* p = r.base + idx[a0] * r.s[a0] + idx[a1] * r.s[a1];
            for (idx[a2] = 0; idx[a2] < r.n[a2]; ++idx[a2], p += r.s[a2]) {
                const double v = Load16(p);
                if (kExtremesOnly) {
                    AddExtreme(v, work);
                    if (indexAxis >= 0) AddExtreme(v, work + 1 + idx[indexAxis]);
                } else {
                    Accumulate(v, work);
                    if (indexAxis >= 0) Accumulate(v, work + 1 + idx[indexAxis]);
                }
            }
        }
    }
}

inline ptrdiff_t AbsStride(ptrdiff_t s) { return s < 0 ? -s : s; }

// Axes ordered by falling |stride|: the walk order that follows memory.
void MemoryOrder(const Region& r, int order[3]) {
    order[0] = 0;
    order[1] = 1;
    order[2] = 2;
    std::stable_sort(order, order + 3,
                     [&r](int a, int b) { return AbsStride(r.s[a]) > AbsStride(r.s[b]); });
}

// ---- integer path -------------------------------------------------------

template <bool kMinMax, bool kSum>
constexpr vantir3::RunParts kParts =
    kMinMax && kSum ? vantir3::RunParts::kBoth : (kMinMax ? vantir3::RunParts::kMinMax : vantir3::RunParts::kSum);

// Folds n samples starting at p, stride bytes apart, into lo / hi / sum.
// Contiguous samples go through the vector kernel.
template <bool kMinMax, bool kSum>
void ReduceRun(const uint8_t* p, int64_t n, ptrdiff_t stride, int16_t* lo, int16_t* hi,
               int64_t* sum) {
    if (stride == kSampleSize && Aligned<int16_t>(p)) {
        vantir3::ReduceSamples(reinterpret_cast<const int16_t*>(p), n, kParts<kMinMax, kSum>, lo, hi, sum);
        return;
    }
    for (int64_t i = 0; i < n; ++i, p += stride) {
        const int16_t v = Load16(p);
        if (kMinMax) {
            *lo = v < *lo ? v : *lo;
            *hi = v > *hi ? v : *hi;
        }
        if (kSum) *sum += v;
    }
}

// Folds n samples starting at p, stride bytes apart, into the per-index
// accumulators: sample i goes to index i. Contiguous samples go through the
// vector kernel.
template <bool kMinMax, bool kSum>
void UpdateIndexed(const uint8_t* p, int64_t n, ptrdiff_t stride, int16_t* __restrict lo,
                   int16_t* __restrict hi, int64_t* __restrict sum) {
    if (stride == kSampleSize && Aligned<int16_t>(p)) {
        vantir3::ReduceSamplesIndexed(reinterpret_cast<const int16_t*>(p), n, kParts<kMinMax, kSum>, lo, hi, sum);
        return;
    }
    for (int64_t i = 0; i < n; ++i, p += stride) {
        const int16_t v = Load16(p);
        if (kMinMax) {
            lo[i] = v < lo[i] ? v : lo[i];
            hi[i] = v > hi[i] ? v : hi[i];
        }
        if (kSum) sum[i] += v;
    }
}

// Integer statistics of a region, per index along indexAxis (arrays of
// r.n[indexAxis] entries) or, with indexAxis < 0, into entry 0. The innermost
// loop runs along the densest axis so that contiguous samples are read in
// one sweep.
template <bool kMinMax, bool kSum>
void IntegerStats(const Region& r, int indexAxis, int16_t* lo, int16_t* hi, int64_t* sum) {
    int inner = 0;
    bool found = false;
    for (int k = 0; k < 3; ++k) {
        if (r.n[k] < 2) continue;
        if (!found || AbsStride(r.s[k]) < AbsStride(r.s[inner])) inner = k;
        found = true;
    }
    if (indexAxis >= 0 && r.n[indexAxis] == 1 && r.n[inner] == 1) inner = indexAxis;
    int outer = (inner + 1) % 3, middle = (inner + 2) % 3;
    if (AbsStride(r.s[middle]) > AbsStride(r.s[outer])) std::swap(outer, middle);

    if (indexAxis == inner) {
        for (int64_t a = 0; a < r.n[outer]; ++a)
            for (int64_t b = 0; b < r.n[middle]; ++b)
                UpdateIndexed<kMinMax, kSum>(r.base + a * r.s[outer] + b * r.s[middle],
                                             r.n[inner], r.s[inner], lo, hi, sum);
    } else if (indexAxis >= 0) {
        const int other = 3 - indexAxis - inner;
        for (int64_t j = 0; j < r.n[indexAxis]; ++j)
            for (int64_t b = 0; b < r.n[other]; ++b)
                ReduceRun<kMinMax, kSum>(r.base + j * r.s[indexAxis] + b * r.s[other],
                                         r.n[inner], r.s[inner], lo + j, hi + j, sum + j);
    } else {
        for (int64_t a = 0; a < r.n[outer]; ++a)
            for (int64_t b = 0; b < r.n[middle]; ++b)
                ReduceRun<kMinMax, kSum>(r.base + a * r.s[outer] + b * r.s[middle],
                                         r.n[inner], r.s[inner], lo, hi, sum);
    }
}

// Folds `count` samples with integer minimum lo, maximum hi and exact sum
// into a working copy; the same result as adding them one by one.
void Fold(SCDPPrc_DataStatsMode* s, uint64_t count, int16_t lo, int16_t hi, int64_t sum) {
    if (s->mode == 0 || count == 0) return;
    s->count += static_cast<uint32_t>(count);  // wraps like count single increments
    if (s->mode & STATS_MINMAX) {
        const double mn = lo, mx = hi;
        if (mn <= s->minValue) s->minValue = mn;
        if (mx >= s->maxValue) s->maxValue = mx;
    }
    if (s->mode & STATS_SUM) s->sum += static_cast<double>(sum);
}

// Allocates the integer accumulators of `entries` records, starting from
// INT16_MAX, INT16_MIN and 0; false (nothing left allocated) when memory is
// short.
bool AllocateEntries(size_t entries, int16_t** lo, int16_t** hi, int64_t** sum) {
    *lo = static_cast<int16_t*>(std::malloc(entries * sizeof **lo));
    *hi = static_cast<int16_t*>(std::malloc(entries * sizeof **hi));
    *sum = static_cast<int64_t*>(std::malloc(entries * sizeof **sum));
    if (*lo == nullptr || *hi == nullptr || *sum == nullptr) {
        std::free(*lo);
        std::free(*hi);
        std::free(*sum);
        *lo = *hi = nullptr;
        *sum = nullptr;
        return false;
    }
    std::fill(*lo, *lo + entries, static_cast<int16_t>(INT16_MAX));
    std::fill(*hi, *hi + entries, static_cast<int16_t>(INT16_MIN));
    std::fill(*sum, *sum + entries, int64_t{0});
    return true;
}

// Folds the integer accumulators of `total` values into the working copies:
// with entries > 0, entry j into work[1 + j] (total / entries values each)
// and all of them into work[0]; otherwise entry 0 into work[0]. Null
// accumulators stand for the counts alone.
void FoldEntries(SCDPPrc_DataStatsMode* work, int64_t entries, uint64_t total, const int16_t* lo,
                 const int16_t* hi, const int64_t* sum) {
    int16_t allLo = INT16_MAX, allHi = INT16_MIN;
    int64_t allSum = 0;
    if (entries > 0) {
        const uint64_t perIndex = total / static_cast<uint64_t>(entries);
        for (int64_t j = 0; j < entries; ++j) {
            const int16_t l = lo ? lo[j] : 0, h = hi ? hi[j] : 0;
            const int64_t s = sum ? sum[j] : 0;
            Fold(work + 1 + j, perIndex, l, h, s);
            allLo = std::min(allLo, l);
            allHi = std::max(allHi, h);
            allSum += s;
        }
    } else if (lo != nullptr) {
        allLo = lo[0];
        allHi = hi[0];
        allSum = sum[0];
    }
    Fold(work, total, allLo, allHi, allSum);
}

// Integer path; false (nothing gathered) when the scratch arrays cannot be
// allocated.
bool GatherInteger(const Region& r, int indexAxis, SCDPPrc_DataStatsMode* work) {
    const uint8_t mode = work[0].mode;
    const bool minMax = (mode & STATS_MINMAX) != 0;
    const bool sums = (mode & STATS_SUM) != 0;
    const uint64_t total = static_cast<uint64_t>(r.n[0]) * static_cast<uint64_t>(r.n[1]) *
                           static_cast<uint64_t>(r.n[2]);
    const int64_t entries = indexAxis >= 0 ? r.n[indexAxis] : 1;

    int16_t* lo = nullptr;
    int16_t* hi = nullptr;
    int64_t* sum = nullptr;
    if (minMax || sums) {
        if (!AllocateEntries(static_cast<size_t>(entries), &lo, &hi, &sum)) return false;
        if (minMax && sums)
            IntegerStats<true, true>(r, indexAxis, lo, hi, sum);
        else if (minMax)
            IntegerStats<true, false>(r, indexAxis, lo, hi, sum);
        else
            IntegerStats<false, true>(r, indexAxis, lo, hi, sum);
    }

    FoldEntries(work, indexAxis >= 0 ? entries : 0, total, lo, hi, sum);
    std::free(lo);
    std::free(hi);
    std::free(sum);
    return true;
}

// True when adding `values` 16-bit samples to `start` in any order gives the
// same double: every partial sum is then an integer of magnitude <= 2^53.
bool SumOrderFree(double start, double values) {
    const double bound = values * 32768.0;
    if (!(bound < kExactLimit)) return false;
    return std::trunc(start) == start && std::fabs(start) <= kExactLimit - bound;
}

// Gathers a region into the working copies (work[0], and work[1 + index]
// along indexAxis when indexAxis >= 0); `order` is the documented walk order.
// Count, minimum, maximum and sum go through the integer path whenever the
// sum cannot tell the order apart; the extremes lists then get a pass of
// their own. Starting from unset extremes (+DBL_MAX / -DBL_MAX) the lists end
// as the N smallest and N largest values whatever the order, so that pass
// follows memory; otherwise it keeps the documented order.
void Gather(const Region& r, const int order[3], int indexAxis, SCDPPrc_DataStatsMode* work) {
    const SCDPPrc_DataStatsMode& t = work[0];
    if (t.mode == 0) return;
    const bool orderFree = !(t.mode & STATS_SUM) ||
                           SumOrderFree(t.sum, static_cast<double>(r.n[0]) * static_cast<double>(r.n[1]) *
                                                   static_cast<double>(r.n[2]));
    if (!orderFree || !GatherInteger(r, indexAxis, work)) {
        GatherScalar<false>(r, order, indexAxis, work);
        return;
    }
    if (!(t.mode & STATS_EXTREMES) || t.numExtremes == 0) return;
    int memory[3];
    MemoryOrder(r, memory);
    const bool unset = t.lowExtreme >= DBL_MAX && t.highExtreme <= -DBL_MAX;
    GatherScalar<true>(r, unset ? memory : order, indexAxis, work);
}

// Clips the inclusive range [min, max] to the view's range on one axis.
inline void Clip(const MeboAxisDim& range, const MeboAxisDim& view, int64_t* lo, int64_t* hi) {
    *lo = std::max<int64_t>(range.min, view.min);
    *hi = std::min<int64_t>(range.max, view.max);
}

inline bool ReadableSamples(const MeboDataPtr* data) {
    return data != nullptr && data->axis.elemSize == kSampleSize && data->axis.base != nullptr;
}

// One row of trace stacking (see averageCDP); inlined so that the
// contiguous call with constant strides becomes an indexed loop.
inline __attribute__((always_inline)) void StackRow(bool divide, uint8_t* pd, uint8_t* ps,
                                                    uint8_t* pc, int64_t n, ptrdiff_t sd,
                                                    ptrdiff_t ss, ptrdiff_t sc) {
    if (!divide) {
        for (int64_t i = 0; i < n; ++i) {
            const uint32_t sum = static_cast<uint32_t>(Load32(ps + i * ss)) +
                                 static_cast<uint32_t>(static_cast<int32_t>(Load16(pd + i * sd)));
            Store32(ps + i * ss, static_cast<int32_t>(sum));
            Store32(pc + i * sc, static_cast<int32_t>(static_cast<uint32_t>(Load32(pc + i * sc)) + 1u));
        }
    } else {
        for (int64_t i = 0; i < n; ++i) {
            const int32_t count = Load32(pc + i * sc);
            if (count == 0) continue;  // nothing stacked here: keep the sample
            const int64_t q = static_cast<int64_t>(Load32(ps + i * ss)) / count;
            Store16(pd + i * sd, static_cast<int16_t>(static_cast<uint16_t>(q & 0xFFFF)));
        }
    }
}

}  // namespace

// ---- exported ---------------------------------------------------------------

extern "C" VANTIR3_API void SCDPPrc_InitStats(SCDPPrc_DataStatsMode* stats) {
    if (stats == nullptr) return;
    std::memset(stats, 0, sizeof *stats);
    stats->minValue = DBL_MAX;
    stats->maxValue = -DBL_MAX;
    stats->lowExtreme = DBL_MAX;
    stats->highExtreme = -DBL_MAX;
}

extern "C" VANTIR3_API int CDPPrc_compute_stats(MeboDataPtr* data, const MeboAxisDim* range,
                                                SCDPPrc_DataStatsMode* stats) {
    if (data == nullptr) return 1;
    MeboAxisDim r[3];
    std::memcpy(r, range != nullptr ? range : data->axis.dim, sizeof r);
    int64_t lo[3], hi[3];
    for (int k = 0; k < 3; ++k) Clip(r[k], data->axis.dim[k], &lo[k], &hi[k]);

    SCDPPrc_DataStatsMode* work = nullptr;
    int n = 0;
    if (stats != nullptr && ReadableSamples(data)) {
        const int64_t traces = hi[1] >= lo[1] ? hi[1] - lo[1] + 1 : 0;
        if (traces < INT_MAX) {
            n = stats->indexStats != nullptr ? static_cast<int>(traces) : 0;
            work = CDPPrc_create_work_stats(stats, n);
        }
        Region region;
        if (work != nullptr && MakeRegion(data->axis, lo, hi, &region)) {
            static const int kOrder[3] = {0, 2, 1};
            Gather(region, kOrder, n > 0 ? 1 : -1, work);
        }
    }
    // The walk leaves the cursor on the last trace start it sought.
    if (lo[0] <= hi[0] && lo[2] <= hi[2])
        MeboDataPtrSeek(data, static_cast<int32_t>(hi[0]), r[1].min, static_cast<int32_t>(hi[2]));
    if (work != nullptr) {
        CDPPrc_finish_stats(stats, work, n);
        CDPPrc_free_work_stats(work, n);
    }
    return 1;
}

extern "C" VANTIR3_API void averageCDP(MeboDataPtr* data, MeboDataPtr* sums, MeboDataPtr* counts,
                                       bool divide) {
    if (data == nullptr || sums == nullptr || counts == nullptr) return;
    if (data->axis.elemSize != kSampleSize || sums->axis.elemSize != 4 ||
        counts->axis.elemSize != 4)
        return;
    if (data->axis.base == nullptr || sums->axis.base == nullptr || counts->axis.base == nullptr)
        return;
    const MeboDataPtr* bufs[3] = {data, sums, counts};
    int64_t n[3];
    for (int k = 0; k < 3; ++k) {
        n[k] = INT64_MAX;
        for (const MeboDataPtr* b : bufs)
            n[k] = std::min<int64_t>(n[k], static_cast<int64_t>(b->axis.dim[k].max) -
                                               b->axis.dim[k].min + 1);
        if (n[k] <= 0) return;
    }
    MeboDataPtrSeekCorner(data, -1);
    MeboDataPtrSeekCorner(sums, -1);
    MeboDataPtrSeekCorner(counts, -1);

    const Mebo3DDataAxis& d = data->axis;
    const Mebo3DDataAxis& s = sums->axis;
    const Mebo3DDataAxis& c = counts->axis;
    const bool contiguous = d.dim[0].stride == 2 && s.dim[0].stride == 4 && c.dim[0].stride == 4;
    for (int64_t i2 = 0; i2 < n[2]; ++i2) {
        for (int64_t i1 = 0; i1 < n[1]; ++i1) {
            uint8_t* pd = d.base + i2 * static_cast<ptrdiff_t>(d.dim[2].stride) +
                          i1 * static_cast<ptrdiff_t>(d.dim[1].stride);
            uint8_t* ps = s.base + i2 * static_cast<ptrdiff_t>(s.dim[2].stride) +
                          i1 * static_cast<ptrdiff_t>(s.dim[1].stride);
            uint8_t* pc = c.base + i2 * static_cast<ptrdiff_t>(c.dim[2].stride) +
                          i1 * static_cast<ptrdiff_t>(c.dim[1].stride);
            if (contiguous)
                StackRow(divide, pd, ps, pc, n[0], 2, 4, 4);
            else
                StackRow(divide, pd, ps, pc, n[0], d.dim[0].stride, s.dim[0].stride,
                         c.dim[0].stride);
        }
    }
}

// ---- internal -----------------------------------------------------------------

void CDPPrc_accumulate_stat(double value, SCDPPrc_DataStatsMode* stats) {
    if (stats == nullptr) return;
    Accumulate(value, stats);
}

namespace vantir3 {

RunStats::RunStats(SCDPPrc_DataStatsMode* work, int n, int64_t values) : work_(work), n_(n > 0 ? n : 0) {
    if (work == nullptr || work->mode == 0) return;
    const uint8_t mode = work->mode;
    if ((mode & STATS_EXTREMES) && work->numExtremes > 0) return;
    if ((mode & STATS_SUM) && !SumOrderFree(work->sum, static_cast<double>(values))) return;
    AllocateEntries(n_ > 0 ? static_cast<size_t>(n_) : 1, &lo_, &hi_, &sum_);
}

RunStats::~RunStats() {
    std::free(lo_);
    std::free(hi_);
    std::free(sum_);
}

void RunStats::Add(const int16_t* values, int32_t count, ptrdiff_t step) {
    if (work_ == nullptr || work_->mode == 0 || count <= 0) return;
    if (lo_ == nullptr) {
        for (int32_t j = 0; j < count; ++j) {
            const double v = values[j * step];
            Accumulate(v, work_);
            if (n_ > 0) Accumulate(v, work_ + 1 + j);
        }
        return;
    }
    added_ += static_cast<uint64_t>(count);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(values);
    const ptrdiff_t stride = step * kSampleSize;
    if (n_ > 0) {
        UpdateIndexed<true, true>(p, count, stride, lo_, hi_, sum_);
    } else {
        ReduceRun<true, true>(p, count, stride, lo_, hi_, sum_);
    }
}

void RunStats::Finish() {
    if (lo_ != nullptr && added_ > 0) FoldEntries(work_, n_, added_, lo_, hi_, sum_);
}

}  // namespace vantir3

SCDPPrc_DataStatsMode* CDPPrc_create_work_stats(const SCDPPrc_DataStatsMode* tmpl, int n) {
    if (tmpl == nullptr || n < 0) return nullptr;
    const size_t copies = static_cast<size_t>(n) + 1;
    auto* work = static_cast<SCDPPrc_DataStatsMode*>(std::malloc(copies * sizeof *tmpl));
    if (work == nullptr) return nullptr;
    for (size_t i = 0; i < copies; ++i) {
        std::memcpy(&work[i], tmpl, sizeof *tmpl);
        work[i].indexStats = nullptr;
    }
    const int size = tmpl->numExtremes;
    if (size == 0) return work;
    for (size_t i = 0; i < copies; ++i) {
        auto* list = static_cast<MeboDataPtr*>(std::malloc(sizeof(MeboDataPtr)));
        if (list == nullptr) {
            CDPPrc_free_work_stats(work, n);
            return nullptr;
        }
        MeboDataPtrClear(list);
        double* low;
        double* high;
        if (!MeboDataPtrAllocateCounts(list, sizeof(double), size, 2, 1, 0) ||
            !ListRows(list, size, &low, &high)) {
            MeboDataPtrRelease(list);
            std::free(list);
            CDPPrc_free_work_stats(work, n);
            return nullptr;
        }
        std::fill(low, low + size, DBL_MAX);
        std::fill(high, high + size, -DBL_MAX);
        work[i].indexStats = list;
    }
    return work;
}

void CDPPrc_finish_stats(SCDPPrc_DataStatsMode* stats, SCDPPrc_DataStatsMode* work, int n) {
    if (stats == nullptr || work == nullptr) return;
    MeboDataPtr* const indexStats = stats->indexStats;
    std::memcpy(stats, work, sizeof *stats);
    stats->indexStats = indexStats;
    if (indexStats != nullptr && n > 0) CDPPrc_store_index_stats(indexStats, work + 1, n);
}

void CDPPrc_free_work_stats(SCDPPrc_DataStatsMode* work, int n) {
    if (work == nullptr) return;
    const size_t copies = static_cast<size_t>(n < 0 ? 0 : n) + 1;
    for (size_t i = 0; i < copies; ++i) {
        MeboDataPtr* list = work[i].indexStats;
        if (list == nullptr) continue;
        MeboDataPtrRelease(list);
        std::free(list);
    }
    std::free(work);
}

void CDPPrc_store_index_stats(MeboDataPtr* dest, const SCDPPrc_DataStatsMode* records, int n) {
    if (dest == nullptr || (records == nullptr && n > 0)) return;
    MeboDataPtrRelease(dest);
    constexpr int32_t kRecordSize = sizeof(SCDPPrc_DataStatsMode);
    if (!MeboDataPtrAllocateCounts(dest, kRecordSize, n, 1, 1, 0)) return;
    if (n <= 0 || !MeboDataPtrSeek(dest, 0, 0, 0)) return;
    MeboDataPtr* const none = nullptr;
    for (int j = 0; j < n; ++j) {
        std::memcpy(dest->cur, &records[j], kRecordSize);
        std::memcpy(dest->cur + offsetof(SCDPPrc_DataStatsMode, indexStats), &none, sizeof none);
        if (j + 1 < n && !MeboDataPtrStep(dest, 0, 1)) return;
    }
}

void CDPPrc_sample_stats(SCDPPrc_DataStatsMode* stats, const MeboDataPtr* data) {
    if (stats == nullptr || !ReadableSamples(data)) return;
    const Mebo3DDataAxis& view = data->axis;
    const int64_t samples = static_cast<int64_t>(view.dim[0].max) - view.dim[0].min + 1;
    if (samples >= INT_MAX) return;
    const int n = stats->indexStats != nullptr && samples > 0 ? static_cast<int>(samples) : 0;
    SCDPPrc_DataStatsMode* work = CDPPrc_create_work_stats(stats, n);
    if (work == nullptr) return;
    int64_t lo[3], hi[3];
    for (int k = 0; k < 3; ++k) {
        lo[k] = view.dim[k].min;
        hi[k] = view.dim[k].max;
    }
    Region region;
    if (MakeRegion(view, lo, hi, &region)) {
        static const int kOrder[3] = {0, 1, 2};
        Gather(region, kOrder, n > 0 ? 0 : -1, work);
    }
    CDPPrc_finish_stats(stats, work, n);
    CDPPrc_free_work_stats(work, n);
}

double CDPPrc_linear_fit(double* intercept, double* slope, int n, const int16_t* y,
                         const int16_t* x) {
    if (n <= 0 || y == nullptr) {
        if (slope != nullptr) *slope = DBL_MAX;
        if (intercept != nullptr) *intercept = 0.0;
        return 0.0;
    }
    double sumY = 0.0, sumX = 0.0;
    for (int i = 0; i < n; ++i) {
        sumY += y[i];
        if (x != nullptr) sumX += x[i];
    }
    const double meanX = x != nullptr ? sumX / n : (n - 1) * 0.5;
    const double meanY = sumY / n;
    double sxx = 0.0, syy = 0.0, sxy = 0.0;
    for (int i = 0; i < n; ++i) {
        const double dx = (x != nullptr ? static_cast<double>(x[i]) : static_cast<double>(i)) - meanX;
        const double dy = y[i] - meanY;
        sxx += dx * dx;
        syy += dy * dy;
        sxy += dx * dy;
    }
    if (sxx == 0.0) {
        if (slope != nullptr) *slope = DBL_MAX;
        if (intercept != nullptr) *intercept = 0.0;
        return 0.0;
    }
    const double b = sxy / sxx;
    if (slope != nullptr) *slope = b;
    if (intercept != nullptr) *intercept = meanY - b * meanX;
    if (syy == 0.0) return 1.0;
    return sxy / std::sqrt(sxx * syy);
}
