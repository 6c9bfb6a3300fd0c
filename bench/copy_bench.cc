// The baseline: a plain copy of the benchmark profile into a preallocated
// buffer of the same shape. Every other figure is read as a ratio to it.
#include <algorithm>
#include <cstdio>
#include <string>

#include "bench/bench_profile.h"
#include "vantir3/numeric/simd_path.h"

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

// --simd_target=NAME (AVX3, AVX2, SSE4, SCALAR, NEON, ...: one that this
// processor runs) makes every kernel run as on a processor with only that
// instruction set, e.g. to measure the AVX2 paths on an AVX-512 machine.
// Returns false for an unknown or unsupported name.
bool ForceTargetFromArguments(int& argc, char** argv) {
    const std::string flag = "--simd_target=";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.compare(0, flag.size(), flag) != 0) continue;
        const std::string name = arg.substr(flag.size());
        int64_t chosen = 0;
        for (int64_t rest = vantir3::SimdTargets(); rest != 0; rest &= rest - 1) {
            if (name == vantir3::SimdTargetName(rest & -rest)) chosen = rest & -rest;
        }
        if (chosen == 0) return false;
        vantir3::ForceSimdTarget(chosen);
        benchmark::AddCustomContext("simd_target", name + " (forced)");
        std::copy(argv + i + 1, argv + argc, argv + i);
        --argc;
        break;
    }
    return true;
}

int main(int argc, char** argv) {
    if (!ForceTargetFromArguments(argc, argv)) {
        std::fprintf(stderr, "--simd_target: not an instruction set of this processor\n");
        return 1;
    }
    vantir3_bench::Profile();  // built once, outside every timed loop
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
