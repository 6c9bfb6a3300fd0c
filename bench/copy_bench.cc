// The baseline: a plain copy of the benchmark profile into a preallocated
// buffer of the same shape. Every other figure is read as a ratio to it.
#include <algorithm>

#include "bench/bench_profile.h"

namespace {

void BM_CopyBaseline(benchmark::State& state) {
    using namespace vantir3_bench;
    const int16_t* in = reinterpret_cast<const int16_t*>(Profile().storage->data);
    MeboDataPtr out = NewOutput();
    int16_t* o = reinterpret_cast<int16_t*>(out.storage->data);
    for (auto _ : state) {
        std::copy(in, in + kProfileSamples, o);
        benchmark::ClobberMemory();
    }
    ReportSamples(state);
    MeboDataPtrRelease(&out);
}
BENCHMARK(BM_CopyBaseline)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    vantir3_bench::Profile();  // built once, outside every timed loop
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
