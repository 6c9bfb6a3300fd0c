#include "bench/bench_profile.h"
#include "vantir3/processes/const_gain.h"

namespace {

void BM_ConstGain(benchmark::State& state) {
    using namespace vantir3_bench;
    MeboDataPtr out = NewOutput();
    for (auto _ : state) {
        benchmark::DoNotOptimize(vantir3::ConstGain(out, Profile(), 2.5));
        benchmark::ClobberMemory();
    }
    ReportSamples(state);
    MeboDataPtrRelease(&out);
}
BENCHMARK(BM_ConstGain)->Unit(benchmark::kMillisecond);

void BM_ConstGainFetched(benchmark::State& state) {
    CCdpPrcConstGain process;
    vantir3_bench::FetchProcess(state, process, "GAIN@@=2.50");
}
BENCHMARK(BM_ConstGainFetched)->Unit(benchmark::kMillisecond);

}  // namespace
