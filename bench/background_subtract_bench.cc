// Background subtraction over the benchmark profile: the running average for
// a narrow and a wide window (the cost per sample does not depend on it), the
// subtraction of a given background trace, and the process.
#include "bench/bench_profile.h"
#include "vantir3/framework/toolbox.h"
#include "vantir3/processes/background_subtract.h"

namespace {

using namespace vantir3_bench;

void Subtract(benchmark::State& state, int window, bool givenTrace) {
    MeboDataPtr in, out = NewOutput();
    MeboDataPtrClear(&in);
    MeboDataPtrShare(&in, &Profile());
    MeboDataPtr background;
    MeboDataPtrClear(&background);
    MeboDataPtrAllocateCounts(&background, 2, kSamples, 1, 1, 1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(CCdpProcessToolbox::CdpBackgroundSubtract(
            out, in, givenTrace ? &background : nullptr, window));
        benchmark::ClobberMemory();
    }
    ReportSamples(state);
    MeboDataPtrRelease(&in);
    MeboDataPtrRelease(&out);
    MeboDataPtrRelease(&background);
}

void BM_BackgroundRunningNarrow(benchmark::State& state) { Subtract(state, 10, false); }
void BM_BackgroundRunningWide(benchmark::State& state) { Subtract(state, 2000, false); }
void BM_BackgroundGivenTrace(benchmark::State& state) { Subtract(state, 0, true); }
// The process class (made by no factory; a host may construct it).
void BM_BackgroundProcess(benchmark::State& state) {
    CCdpPrcBackgroundSubtract process;
    RunProcess(state, process, "WINDOW=11");
}
BENCHMARK(BM_BackgroundRunningNarrow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BackgroundRunningWide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BackgroundGivenTrace)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BackgroundProcess)->Unit(benchmark::kMillisecond);

}  // namespace
