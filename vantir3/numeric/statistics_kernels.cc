#include "vantir3/numeric/statistics_kernels.h"

#include <algorithm>
#include <cstddef>
#include <type_traits>

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

// update(v, at) for the vectors of samples v = x[at ...] of d, from i on
// while whole vectors remain (i advanced past them). A sample load issued
// after a store to an address with the same offset in its 4 KiB page waits
// for that store, and the per-index accumulators sit at such offsets of
// every other trace: vectors narrower than 64 bytes are loaded four at a
// time before any is handed on (forced AVX2 here: per-sample minimum and
// maximum 0.6 -> 1.8 of copy); 64-byte ones (AVX-512) one at a time, which
// measured fastest there (four at a time: 1.6 -> 1.0 of copy).
template <class D, class Update>
HWY_INLINE void ForEachVector(D d, const int16_t* x, int64_t n, int64_t& i, Update&& update) {
    const int64_t lanes = static_cast<int64_t>(hn::Lanes(d));
    if (hn::Lanes(d) * sizeof(int16_t) < 64) {
        for (; i + 4 * lanes <= n; i += 4 * lanes) {
            const auto v0 = hn::LoadU(d, x + i), v1 = hn::LoadU(d, x + i + lanes);
            const auto v2 = hn::LoadU(d, x + i + 2 * lanes), v3 = hn::LoadU(d, x + i + 3 * lanes);
            update(v0, i);
            update(v1, i + lanes);
            update(v2, i + 2 * lanes);
            update(v3, i + 3 * lanes);
        }
    }
    for (; i + lanes <= n; i += lanes) update(hn::LoadU(d, x + i), i);
}

template <bool kMinMax, bool kSum>
void ReduceIndexed(const int16_t* x, int64_t n, int16_t* lo, int16_t* hi, int64_t* sum) {
    int64_t i = 0;
#if defined(VANTIR3_STATISTICS_VECTORS)
    // Without sums a whole vector of samples a step; with them as many
    // samples as 64-bit sums fill a vector.
    using D16 = hn::ScalableTag<int16_t>;
    const hn::ScalableTag<int64_t> d64;
    const hn::Rebind<int32_t, decltype(d64)> d32;
    using DS = hn::Rebind<int16_t, decltype(d64)>;
    const std::conditional_t<kSum, DS, D16> d;
    ForEachVector(d, x, n, i, [&](hn::Vec<decltype(d)> v, int64_t at) {
        if (kMinMax) {
            hn::StoreU(hn::Min(hn::LoadU(d, lo + at), v), d, lo + at);
            hn::StoreU(hn::Max(hn::LoadU(d, hi + at), v), d, hi + at);
        }
        if constexpr (kSum) {
            const auto wide = hn::PromoteTo(d64, hn::PromoteTo(d32, v));
            hn::StoreU(hn::Add(hn::LoadU(d64, sum + at), wide), d64, sum + at);
        }
    });
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
