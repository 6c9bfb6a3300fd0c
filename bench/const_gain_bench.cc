#include "bench/bench_profile.h"
#include "vantir3/processes/const_gain.h"

namespace {

// A factor of the form G / 2^k (2.5) takes the integer path; 1.37 the
// double one.
void RunConstGain(benchmark::State& state, double gain) {
    using namespace vantir3_bench;
    MeboDataPtr out = NewOutput();
    for (auto _ : state) {
        benchmark::DoNotOptimize(vantir3::ConstGain(out, Profile(), gain));
        benchmark::ClobberMemory();
    }
    ReportSamples(state);
    MeboDataPtrRelease(&out);
}

void BM_ConstGain(benchmark::State& state) { RunConstGain(state, 2.5); }
BENCHMARK(BM_ConstGain)->Unit(benchmark::kMillisecond);

void BM_ConstGainInDoubles(benchmark::State& state) { RunConstGain(state, 1.37); }
BENCHMARK(BM_ConstGainInDoubles)->Unit(benchmark::kMillisecond);

void BM_ConstGainFetched(benchmark::State& state) {
    CCdpPrcConstGain process;
    vantir3_bench::FetchProcess(state, process, "GAIN@@=2.50");
}
BENCHMARK(BM_ConstGainFetched)->Unit(benchmark::kMillisecond);

void BM_ConstGainInDoublesFetched(benchmark::State& state) {
    CCdpPrcConstGain process;
    vantir3_bench::FetchProcess(state, process, "GAIN@@=1.37");
}
BENCHMARK(BM_ConstGainInDoublesFetched)->Unit(benchmark::kMillisecond);

}  // namespace
