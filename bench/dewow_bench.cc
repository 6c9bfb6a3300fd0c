// Dewow over the benchmark profile, for a narrow and a wide window (the cost
// per sample does not depend on the window), with and without the averaged
// trace, and the process (whose source gives no averaged-trace buffer).
#include "bench/bench_profile.h"
#include "vantir3/framework/toolbox.h"
#include "vantir3/processes/dewow.h"

namespace {

using namespace vantir3_bench;

void Dewow(benchmark::State& state, double window, bool averaged) {
    MeboDataPtr out = NewOutput();
    MeboDataPtr average;
    MeboDataPtrClear(&average);
    MeboDataPtrAllocateCounts(&average, 2, kSamples, 1, 1, 1);
    const ICdpDataSource::SEGprParam& g = ProfileGpr();
    for (auto _ : state) {
        benchmark::DoNotOptimize(CCdpProcessToolbox::CdpDewow(out, Profile(), averaged ? &average : nullptr,
                                                              window, g.antennaFrequency, g.sampleInterval));
        benchmark::ClobberMemory();
    }
    ReportSamples(state);
    MeboDataPtrRelease(&out);
    MeboDataPtrRelease(&average);
}

void BM_DewowNarrow(benchmark::State& state) { Dewow(state, 1.33, false); }
void BM_DewowWide(benchmark::State& state) { Dewow(state, 50.0, false); }
void BM_DewowAveraged(benchmark::State& state) { Dewow(state, 1.33, true); }
void BM_DewowProcess(benchmark::State& state) {
    CCdpPrcDewow process;
    RunProcess(state, process, "WINDOW=1.33");
}
void BM_DewowFetched(benchmark::State& state) {
    CCdpPrcDewow process;
    FetchProcess(state, process, "WINDOW=1.33");
}
BENCHMARK(BM_DewowNarrow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DewowWide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DewowAveraged)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DewowProcess)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DewowFetched)->Unit(benchmark::kMillisecond);

}  // namespace
