// Time-dependent gains over the benchmark profile (the processes through
// RunProcess).
#include "bench/bench_profile.h"
#include "vantir3/framework/toolbox.h"
#include "vantir3/processes/agc_gain.h"
#include "vantir3/processes/dvl_gain.h"
#include "vantir3/processes/sec2_gain.h"

namespace {

using namespace vantir3_bench;

void BM_Sec2GainEntry(benchmark::State& state) {
    MeboDataPtr in, out = NewOutput();
    MeboDataPtrClear(&in);
    MeboDataPtrShare(&in, &Profile());
    const ICdpDataSource::SEGprParam& g = ProfileGpr();
    int last = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(CCdpProcessToolbox::CdpSec2Gain(out, in, 5.0, 1.0, 500.0, g.timeZeroSample,
                                                                 g.sampleInterval, g.antennaFrequency, &last));
        benchmark::ClobberMemory();
    }
    ReportSamples(state);
    MeboDataPtrRelease(&in);
    MeboDataPtrRelease(&out);
}
BENCHMARK(BM_Sec2GainEntry)->Unit(benchmark::kMillisecond);

void BM_Sec2GainProcess(benchmark::State& state) {
    CCdpPrcSec2Gain process;
    RunProcess(state, process, "ATTENU=5.00\nSTRTGN=1.00\nMAXGN@=500");
}
BENCHMARK(BM_Sec2GainProcess)->Unit(benchmark::kMillisecond);

void BM_AgcGainNarrow(benchmark::State& state) {
    CCdpPrcAgcGain process;
    RunProcess(state, process, "WINDOW=1.5\nMAXGN@=500");
}
BENCHMARK(BM_AgcGainNarrow)->Unit(benchmark::kMillisecond);

void BM_AgcGainWide(benchmark::State& state) {
    CCdpPrcAgcGain process;
    RunProcess(state, process, "WINDOW=50.0\nMAXGN@=500");
}
BENCHMARK(BM_AgcGainWide)->Unit(benchmark::kMillisecond);

void BM_DvlGain(benchmark::State& state) {
    CCdpPrcDvlGain process;
    RunProcess(state, process, "ALPHA@=1.00\nBETA@@=0.40");
}
BENCHMARK(BM_DvlGain)->Unit(benchmark::kMillisecond);

}  // namespace
