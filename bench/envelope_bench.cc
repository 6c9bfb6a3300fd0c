// The envelope of the benchmark profile with a filter window of 10 samples
// (lags 1, 3, 5), without statistics and with minimum / maximum statistics
// per sample position; and the bound that the square-root unit sets: one
// square root per output sample, the same count of samples, from a row in
// the cache (as the envelope's padded row is), on the same instruction set.
#include <vector>

#include "bench/bench_profile.h"
#include "vantir3/processes/envelope.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "bench/envelope_bench.cc"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace vantir3_bench {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// out[n] = sqrt(row[n]) for count samples, four vectors a step (count a
// multiple of four vectors).
void SquareRoots(const double* row, double* out, int32_t count) {
    const hn::ScalableTag<double> d;
    const int32_t lanes = static_cast<int32_t>(hn::Lanes(d));
    for (int32_t n = 0; n + 4 * lanes <= count; n += 4 * lanes) {
        hn::StoreU(hn::Sqrt(hn::LoadU(d, row + n)), d, out + n);
        hn::StoreU(hn::Sqrt(hn::LoadU(d, row + n + lanes)), d, out + n + lanes);
        hn::StoreU(hn::Sqrt(hn::LoadU(d, row + n + 2 * lanes)), d, out + n + 2 * lanes);
        hn::StoreU(hn::Sqrt(hn::LoadU(d, row + n + 3 * lanes)), d, out + n + 3 * lanes);
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace vantir3_bench
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace vantir3_bench {
HWY_EXPORT(SquareRoots);
}  // namespace vantir3_bench

namespace {

using vantir3_bench::NewOutput;
using vantir3_bench::Profile;
using vantir3_bench::ReportSamples;

void RunEnvelope(benchmark::State& state, uint8_t mode, bool perIndex) {
    MeboDataPtr out = NewOutput();
    MeboDataPtr index;
    MeboDataPtrClear(&index);
    SCDPPrc_DataStatsMode stats;
    for (auto _ : state) {
        SCDPPrc_InitStats(&stats);
        stats.mode = mode;
        stats.indexStats = perIndex ? &index : nullptr;
        benchmark::DoNotOptimize(vantir3::Envelope(out, Profile(), &stats, 10));
        benchmark::ClobberMemory();
    }
    ReportSamples(state);
    MeboDataPtrRelease(&index);
    MeboDataPtrRelease(&out);
}

void BM_Envelope(benchmark::State& state) { RunEnvelope(state, 0, false); }
BENCHMARK(BM_Envelope)->Unit(benchmark::kMillisecond);

void BM_EnvelopeMinMaxStats(benchmark::State& state) { RunEnvelope(state, STATS_MINMAX, true); }
BENCHMARK(BM_EnvelopeMinMaxStats)->Unit(benchmark::kMillisecond);

void BM_EnvelopeSqrtBound(benchmark::State& state) {
    using namespace vantir3_bench;
    std::vector<double> row(kSamples), out(kSamples);
    for (int32_t n = 0; n < kSamples; ++n) row[n] = 1.0 + n * 12345.0;
    for (auto _ : state) {
        for (int32_t t = 0; t < kTraces; ++t) HWY_DYNAMIC_DISPATCH(SquareRoots)(row.data(), out.data(), kSamples);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    ReportSamples(state);
}
BENCHMARK(BM_EnvelopeSqrtBound)->Unit(benchmark::kMillisecond);

}  // namespace
#endif  // HWY_ONCE
