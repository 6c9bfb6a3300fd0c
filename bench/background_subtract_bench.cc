// Background subtraction over the benchmark profile: the running average for
// a narrow and a wide window (the cost per sample does not depend on it), and
// the subtraction of a given background trace.
#include "bench/bench_profile.h"
#include "vantir3/framework/toolbox.h"

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
BENCHMARK(BM_BackgroundRunningNarrow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BackgroundRunningWide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BackgroundGivenTrace)->Unit(benchmark::kMillisecond);

}  // namespace
