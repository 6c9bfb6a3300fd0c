// The kernels as a host meets them when it releases each result before the
// next call: the processes through GetDataCdp (FetchProcess), and the entry
// points without a process through a fresh output per call, allocated as
// GetDataCdp allocates it (no zero fill). Each is read beside its entry
// point on a preallocated output (the other *_bench files) to see what
// obtaining the output and the process's own steps add.
#include <benchmark/benchmark.h>

#include "bench/bench_profile.h"
#include "vantir3/processes/agc_gain.h"
#include "vantir3/processes/background_subtract.h"
#include "vantir3/processes/deseparate.h"
#include "vantir3/processes/dvl_gain.h"
#include "vantir3/processes/envelope.h"
#include "vantir3/processes/reductions.h"
#include "vantir3/processes/sec2_gain.h"
#include "vantir3/processes/topo_shift.h"

namespace {

using namespace vantir3_bench;

void BM_Sec2GainFetched(benchmark::State& state) {
    CCdpPrcSec2Gain process;
    FetchProcess(state, process, "ATTENU=5.00\nSTRTGN=1.00\nMAXGN@=500");
}
BENCHMARK(BM_Sec2GainFetched)->Unit(benchmark::kMillisecond);

void BM_AgcGainFetched(benchmark::State& state) {
    CCdpPrcAgcGain process;
    FetchProcess(state, process, "WINDOW=1.5\nMAXGN@=500");
}
BENCHMARK(BM_AgcGainFetched)->Unit(benchmark::kMillisecond);

void BM_DvlGainFetched(benchmark::State& state) {
    CCdpPrcDvlGain process;
    FetchProcess(state, process, "ALPHA@=1.00\nBETA@@=0.40");
}
BENCHMARK(BM_DvlGainFetched)->Unit(benchmark::kMillisecond);

void BM_BackgroundFetched(benchmark::State& state) {
    CCdpPrcBackgroundSubtract process;
    FetchProcess(state, process, "WINDOW=11");
}
BENCHMARK(BM_BackgroundFetched)->Unit(benchmark::kMillisecond);

// The depth conversions from a source of trace-major storage, beside the
// entry points' TraceMajor figures; the velocity is their default, 0.1 m/ns.
void BM_DeseparateFetched(benchmark::State& state) {
    CCdpPrcDeSeparate process;
    FetchProcess(state, process, "", TraceMajorProfile());
}
BENCHMARK(BM_DeseparateFetched)->Unit(benchmark::kMillisecond);

void BM_TopoShiftFetched(benchmark::State& state) {
    CCdpPrcComboShift process;
    MeboDataPtr terrain = ProfileTerrain();
    process.SetElevations(&terrain);
    FetchProcess(state, process, "", TraceMajorProfile());
    MeboDataPtrRelease(&terrain);
}
BENCHMARK(BM_TopoShiftFetched)->Unit(benchmark::kMillisecond);

// An entry point run on a fresh output of count0 x count1 16-bit samples per
// call, released after it.
template <class Entry>
void FreshOutput(benchmark::State& state, int32_t count0, int32_t count1, Entry&& entry) {
    MeboDataPtr out;
    MeboDataPtrClear(&out);
    for (auto _ : state) {
        MeboDataPtrAllocateCounts(&out, 2, count0, count1, 1, 0);
        benchmark::DoNotOptimize(entry(out));
        MeboDataPtrRelease(&out);
        benchmark::ClobberMemory();
    }
    ReportSamples(state);
}

void BM_EnvelopeFreshOutput(benchmark::State& state) {
    FreshOutput(state, kSamples, kTraces, [](MeboDataPtr& out) { return vantir3::Envelope(out, Profile(), nullptr, 10); });
}
BENCHMARK(BM_EnvelopeFreshOutput)->Unit(benchmark::kMillisecond);

void BM_MinMaxReductionFreshOutput(benchmark::State& state) {
    FreshOutput(state, kSamples / 4, kTraces,
                [](MeboDataPtr& out) { return vantir3::MinMaxReduction(out, Profile()); });
}
BENCHMARK(BM_MinMaxReductionFreshOutput)->Unit(benchmark::kMillisecond);

void BM_AverageReductionSamplesFreshOutput(benchmark::State& state) {
    FreshOutput(state, kSamples / 4, kTraces,
                [](MeboDataPtr& out) { return vantir3::AverageReduction(out, Profile(), 0); });
}
BENCHMARK(BM_AverageReductionSamplesFreshOutput)->Unit(benchmark::kMillisecond);

}  // namespace
