#include "vantir3/numeric/statistics_kernels.h"

#include <algorithm>
#include <cstddef>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vantir3/numeric/statistics_kernels.cc"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace vantir3 {
namespace HWY_NAMESPACE {
namespace {
namespace hn = hwy::HWY_NAMESPACE;

// Samples per 32-bit partial sum: 2^15 samples of at most 2^15 in magnitude
// stay below 2^31 in any grouping.
constexpr int64_t kChunk = 32768;

// Highway's one-lane target (HWY_SCALAR) has no wider lanes to sum in: the
// loops below do everything there.
#if HWY_TARGET != HWY_SCALAR
#define VANTIR3_STATISTICS_VECTORS 1
#endif

template <bool kMinMax, bool kSum>
void Reduce(const int16_t* x, int64_t n, int16_t* lo, int16_t* hi, int64_t* sum) {
    int16_t a = *lo, b = *hi;
    int64_t total = *sum;
    int64_t i = 0;
#if defined(VANTIR3_STATISTICS_VECTORS)
    const hn::ScalableTag<int16_t> d;
    const hn::Repartition<int32_t, decltype(d)> d32;
    const int64_t lanes = static_cast<int64_t>(hn::Lanes(d));
    auto mn = hn::Set(d, a), mx = hn::Set(d, b);
    while (i + lanes <= n) {
        // A chunk of whole vectors: the samples at even places of each 32-bit
        // word sign-extended by shifting up and down, those at odd places by
        // shifting down.
        const int64_t end = std::min(n - lanes, i + kChunk - lanes);
        auto part = hn::Zero(d32);
        for (; i <= end; i += lanes) {
            const auto v = hn::LoadU(d, x + i);
            if (kMinMax) {
                mn = hn::Min(mn, v);
                mx = hn::Max(mx, v);
            }
            if (kSum) {
                const auto w = hn::BitCast(d32, v);
                part = hn::Add(part, hn::Add(hn::ShiftRight<16>(hn::ShiftLeft<16>(w)), hn::ShiftRight<16>(w)));
            }
        }
        if (kSum) total += hn::GetLane(hn::SumOfLanes(d32, part));
    }
    if (kMinMax) {
        a = hn::GetLane(hn::MinOfLanes(d, mn));
        b = hn::GetLane(hn::MaxOfLanes(d, mx));
    }
#endif
    for (; i < n; ++i) {
        if (kMinMax) {
            a = std::min(a, x[i]);
            b = std::max(b, x[i]);
        }
        if (kSum) total += x[i];
    }
    *lo = a;
    *hi = b;
    *sum = total;
}

template <bool kMinMax, bool kSum>
void ReduceIndexed(const int16_t* x, int64_t n, int16_t* lo, int16_t* hi, int64_t* sum) {
    int64_t i = 0;
#if defined(VANTIR3_STATISTICS_VECTORS)
    if (!kSum) {
        const hn::ScalableTag<int16_t> d;
        const int64_t lanes = static_cast<int64_t>(hn::Lanes(d));
        for (; i + lanes <= n; i += lanes) {
            const auto v = hn::LoadU(d, x + i);
            hn::StoreU(hn::Min(hn::LoadU(d, lo + i), v), d, lo + i);
            hn::StoreU(hn::Max(hn::LoadU(d, hi + i), v), d, hi + i);
        }
    } else {
        // As many samples as 64-bit sums fill a vector.
        const hn::ScalableTag<int64_t> d64;
        const hn::Rebind<int32_t, decltype(d64)> d32;
        const hn::Rebind<int16_t, decltype(d64)> d;
        const int64_t lanes = static_cast<int64_t>(hn::Lanes(d64));
        for (; i + lanes <= n; i += lanes) {
            const auto v = hn::LoadU(d, x + i);
            if (kMinMax) {
                hn::StoreU(hn::Min(hn::LoadU(d, lo + i), v), d, lo + i);
                hn::StoreU(hn::Max(hn::LoadU(d, hi + i), v), d, hi + i);
            }
            hn::StoreU(hn::Add(hn::LoadU(d64, sum + i), hn::PromoteTo(d64, hn::PromoteTo(d32, v))), d64, sum + i);
        }
    }
#endif
    for (; i < n; ++i) {
        if (kMinMax) {
            lo[i] = std::min(lo[i], x[i]);
            hi[i] = std::max(hi[i], x[i]);
        }
        if (kSum) sum[i] += x[i];
    }
}

#undef VANTIR3_STATISTICS_VECTORS

}  // namespace

void ReduceSamplesVectors(const int16_t* x, int64_t n, RunParts parts, int16_t* lo, int16_t* hi, int64_t* sum) {
    switch (parts) {
        case RunParts::kMinMax: return Reduce<true, false>(x, n, lo, hi, sum);
        case RunParts::kSum: return Reduce<false, true>(x, n, lo, hi, sum);
        default: return Reduce<true, true>(x, n, lo, hi, sum);
    }
}

void ReduceIndexedVectors(const int16_t* x, int64_t n, RunParts parts, int16_t* lo, int16_t* hi, int64_t* sum) {
    switch (parts) {
        case RunParts::kMinMax: return ReduceIndexed<true, false>(x, n, lo, hi, sum);
        case RunParts::kSum: return ReduceIndexed<false, true>(x, n, lo, hi, sum);
        default: return ReduceIndexed<true, true>(x, n, lo, hi, sum);
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace vantir3
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace vantir3 {

HWY_EXPORT(ReduceSamplesVectors);
HWY_EXPORT(ReduceIndexedVectors);

void ReduceSamples(const int16_t* x, int64_t n, RunParts parts, int16_t* lo, int16_t* hi, int64_t* sum) {
    HWY_DYNAMIC_DISPATCH(ReduceSamplesVectors)(x, n, parts, lo, hi, sum);
}

void ReduceSamplesIndexed(const int16_t* x, int64_t n, RunParts parts, int16_t* lo, int16_t* hi, int64_t* sum) {
    HWY_DYNAMIC_DISPATCH(ReduceIndexedVectors)(x, n, parts, lo, hi, sum);
}

}  // namespace vantir3
#endif  // HWY_ONCE
