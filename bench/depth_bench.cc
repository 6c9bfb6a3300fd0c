// The depth conversions (antenna deseparation and topographic shift) on the
// benchmark profile. They resample along axis 1 of the caller's buffers and
// step across traces along axis 0, so a host hands them the profile with
// axis 0 = trace and axis 1 = sample. Two ways a host does that:
//  - TraceMajor: storage whose innermost axis is the trace, as a raw source
//    or GetDataCdp allocates it for such a request (axis 0 innermost). The
//    samples of one trace lie a whole row of traces apart.
//  - TransposedView: MeboDataPtrSwapAxes on a share of the sample-major
//    profile (and of the output), no copy; the samples of a trace are
//    contiguous.
#include "bench/bench_profile.h"
#include "vantir3/framework/toolbox.h"

namespace {

using namespace vantir3_bench;

constexpr double kVelocity = 0.1;  // m/ns

// Input and output as the host passes them (see the top of this file).
struct HostBuffers {
    MeboDataPtr in, out;
    explicit HostBuffers(bool traceMajor) {
        MeboDataPtrClear(&in);
        MeboDataPtrClear(&out);
        if (traceMajor) {
            MeboDataPtrShare(&in, &TraceMajorProfile());
            out = NewTouchedBuffer(2, kTraces, kSamples);
        } else {
            MeboDataPtrShare(&in, &Profile());
            out = NewOutput();
            MeboDataPtrSwapAxes(&in, 0, 1);
            MeboDataPtrSwapAxes(&out, 0, 1);
        }
    }
    ~HostBuffers() {
        MeboDataPtrRelease(&in);
        MeboDataPtrRelease(&out);
    }
};

void Deseparate(benchmark::State& state, bool traceMajor) {
    HostBuffers b(traceMajor);
    const ICdpDataSource::SEGprParam& g = ProfileGpr();
    for (auto _ : state) {
        benchmark::DoNotOptimize(CCdpProcessToolbox::CdpDeseparate(b.out, b.in, kVelocity, g.antennaSeparation,
                                                                   g.timeZeroSample, g.sampleInterval));
        benchmark::ClobberMemory();
    }
    ReportSamples(state);
}

void TopoShift(benchmark::State& state, bool traceMajor) {
    HostBuffers b(traceMajor);
    MeboDataPtr terrain = ProfileTerrain();
    const ICdpDataSource::SEGprParam& g = ProfileGpr();
    for (auto _ : state) {
        benchmark::DoNotOptimize(CCdpProcessToolbox::CdpTopoShift(b.out, b.in, terrain, kVelocity, 0.0, 0.0,
                                                                  g.antennaSeparation, g.timeZeroSample,
                                                                  g.sampleInterval));
        benchmark::ClobberMemory();
    }
    ReportSamples(state);
    MeboDataPtrRelease(&terrain);
}

void BM_DeseparateTraceMajor(benchmark::State& state) { Deseparate(state, true); }
void BM_DeseparateTransposedView(benchmark::State& state) { Deseparate(state, false); }
void BM_TopoShiftTraceMajor(benchmark::State& state) { TopoShift(state, true); }
void BM_TopoShiftTransposedView(benchmark::State& state) { TopoShift(state, false); }
BENCHMARK(BM_DeseparateTraceMajor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeseparateTransposedView)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TopoShiftTraceMajor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TopoShiftTransposedView)->Unit(benchmark::kMillisecond);

}  // namespace
