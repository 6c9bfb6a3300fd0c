// Min-max statistics over the whole benchmark profile: whole-buffer
// statistics, per-sample records (the statistics step of the SEC2 automatic
// set-up) and the toolbox entry that gathers them.
#include "bench/bench_profile.h"
#include "vantir3/framework/toolbox.h"
#include "vantir3/numeric/statistics.h"

namespace {

SCDPPrc_DataStatsMode MinMaxRecord(MeboDataPtr* index) {
    SCDPPrc_DataStatsMode stats;
    SCDPPrc_InitStats(&stats);
    stats.mode = STATS_MINMAX;
    stats.indexStats = index;
    return stats;
}

void BM_ComputeStatsMinMax(benchmark::State& state) {
    using namespace vantir3_bench;
    MeboDataPtr data;
    MeboDataPtrClear(&data);
    MeboDataPtrShare(&data, &Profile());
    for (auto _ : state) {
        SCDPPrc_DataStatsMode stats = MinMaxRecord(nullptr);
        benchmark::DoNotOptimize(CDPPrc_compute_stats(&data, nullptr, &stats));
        benchmark::DoNotOptimize(stats.maxValue);
    }
    ReportSamples(state);
    MeboDataPtrRelease(&data);
}
BENCHMARK(BM_ComputeStatsMinMax)->Unit(benchmark::kMillisecond);

void BM_SampleStatsMinMax(benchmark::State& state) {
    using namespace vantir3_bench;
    MeboDataPtr records;
    MeboDataPtrClear(&records);
    for (auto _ : state) {
        SCDPPrc_DataStatsMode stats = MinMaxRecord(&records);
        CDPPrc_sample_stats(&stats, &Profile());
        benchmark::DoNotOptimize(records.axis.base);
    }
    ReportSamples(state);
    MeboDataPtrRelease(&records);
}
BENCHMARK(BM_SampleStatsMinMax)->Unit(benchmark::kMillisecond);

void BM_GetDataMinMaxStats(benchmark::State& state) {
    using namespace vantir3_bench;
    CCdpProcessToolbox toolbox;
    MeboDataPtr records;
    MeboDataPtrClear(&records);
    toolbox.GetDataMinMaxStats(records, Profile(), false);
    for (auto _ : state) {
        benchmark::DoNotOptimize(toolbox.GetDataMinMaxStats(records, Profile(), true));
    }
    ReportSamples(state);
    MeboDataPtrRelease(&records);
}
BENCHMARK(BM_GetDataMinMaxStats)->Unit(benchmark::kMillisecond);

}  // namespace
