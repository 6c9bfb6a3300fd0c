// The envelope of the benchmark profile with a filter window of 10 samples
// (lags 1, 3, 5), without statistics and with minimum / maximum statistics
// per sample position.
#include "bench/bench_profile.h"
#include "vantir3/processes/envelope.h"

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

}  // namespace
