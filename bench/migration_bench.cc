// Stolt migration of one section cut from the benchmark profile: 1024
// traces of 512 or 1024 samples (padded grids of 2048 x 1024 and
// 2048 x 2048).
#include "bench/bench_profile.h"
#include "vantir3/framework/toolbox.h"

namespace {

// View of the first `samples` samples of the first `traces` traces.
MeboDataPtr Window(const MeboDataPtr& whole, int32_t samples, int32_t traces) {
    MeboDataPtr view;
    MeboDataPtrClear(&view);
    MeboDataPtrShare(&view, &whole);
    Mebo3DDataAxis axis = view.axis;
    axis.dim[0].max = axis.dim[0].min + samples - 1;
    axis.dim[1].max = axis.dim[1].min + traces - 1;
    MeboDataPtrSetView(&view, &axis, 0);
    return view;
}

void BM_Migrate(benchmark::State& state) {
    using namespace vantir3_bench;
    const int32_t traces = static_cast<int32_t>(state.range(0));
    const int32_t samples = static_cast<int32_t>(state.range(1));
    MeboDataPtr whole = NewOutput();
    MeboDataPtr in = Window(Profile(), samples, traces);
    MeboDataPtr out = Window(whole, samples, traces);
    const ICdpDataSource::SEGprParam& gpr = ProfileGpr();
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            CCdpProcessToolbox::CdpMigrate(out, in, 0.1, 0.0, 0.05, gpr.sampleInterval));
        benchmark::ClobberMemory();
    }
    ReportSamples(state, int64_t{traces} * samples);
    MeboDataPtrRelease(&in);
    MeboDataPtrRelease(&out);
    MeboDataPtrRelease(&whole);
}
BENCHMARK(BM_Migrate)->Args({1024, 512})->Args({1024, 1024})->Unit(benchmark::kMillisecond);

}  // namespace
