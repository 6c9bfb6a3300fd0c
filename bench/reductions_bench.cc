// The sample reductions over the benchmark profile, reduced four times along
// the samples (1024 -> 256 per trace) or along the traces (16384 -> 4096).
// Figures count input samples.
#include "bench/bench_profile.h"
#include "vantir3/processes/reductions.h"

namespace {

using vantir3_bench::kProfileSamples;
using vantir3_bench::kSamples;
using vantir3_bench::kTraces;
using vantir3_bench::Profile;
using vantir3_bench::ReportSamples;

MeboDataPtr Output(int32_t samples, int32_t traces) { return vantir3_bench::NewTouchedBuffer(2, samples, traces); }

template <class Reduce>
void Run(benchmark::State& state, MeboDataPtr out, Reduce&& reduce) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(reduce(out, Profile()));
        benchmark::ClobberMemory();
    }
    ReportSamples(state, kProfileSamples);
    MeboDataPtrRelease(&out);
}

void BM_MinMaxReduction(benchmark::State& state) {
    Run(state, Output(kSamples / 4, kTraces),
        [](MeboDataPtr& out, const MeboDataPtr& in) { return vantir3::MinMaxReduction(out, in); });
}
BENCHMARK(BM_MinMaxReduction)->Unit(benchmark::kMillisecond);

void BM_Decimation(benchmark::State& state) {
    Run(state, Output(kSamples / 4, kTraces), vantir3::Decimation);
}
BENCHMARK(BM_Decimation)->Unit(benchmark::kMillisecond);

void BM_AverageReductionSamples(benchmark::State& state) {
    Run(state, Output(kSamples / 4, kTraces),
        [](MeboDataPtr& out, const MeboDataPtr& in) { return vantir3::AverageReduction(out, in, 0); });
}
BENCHMARK(BM_AverageReductionSamples)->Unit(benchmark::kMillisecond);

void BM_AverageReductionTraces(benchmark::State& state) {
    Run(state, Output(kSamples, kTraces / 4),
        [](MeboDataPtr& out, const MeboDataPtr& in) { return vantir3::AverageReduction(out, in, 1); });
}
BENCHMARK(BM_AverageReductionTraces)->Unit(benchmark::kMillisecond);

}  // namespace
