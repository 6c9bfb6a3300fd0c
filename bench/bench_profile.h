// The benchmark profile: 16384 traces x 1024 signed 16-bit samples (32 MiB,
// larger than the caches, as real profiles are), and an output buffer of the
// same shape. Both are built once per benchmark program run.
#ifndef VANTIR3_BENCH_BENCH_PROFILE_H_
#define VANTIR3_BENCH_BENCH_PROFILE_H_

#include <benchmark/benchmark.h>

#include <cstdint>

#include "vantir3/data/data_buffer.h"
#include "vantir3/framework/process.h"

namespace vantir3_bench {

constexpr int32_t kSamples = 1024;
constexpr int32_t kTraces = 16384;
constexpr int64_t kProfileSamples = int64_t{kSamples} * kTraces;

// The input profile (filled with a deterministic radar-like signal).
const MeboDataPtr& Profile();
// A new zero-filled buffer of elemSize-byte elements over the given axis-0
// and axis-1 counts, every page of it already written: the allocation may
// take its pages from the system lazily, and their first writes would
// otherwise fault inside the first timed iteration, charging each benchmark
// run a cost that its iteration count, not the kernel, decides. The caller
// releases it.
MeboDataPtr NewTouchedBuffer(int32_t elemSize, int32_t count0, int32_t count1);
// A fresh output buffer of the profile's shape, as NewTouchedBuffer.
MeboDataPtr NewOutput();
// The profile in trace-major storage (axis 0 = trace, axis 1 = sample), as
// a raw source hands it to the depth conversions; built once.
const MeboDataPtr& TraceMajorProfile();
// Elevations of the profile's traces (doubles): a gentle terrain of +-0.4 m
// around the datum 0 (shifts of up to 80 samples at 0.1 m/ns). The caller
// releases it.
MeboDataPtr ProfileTerrain();
// Acquisition parameters matching the profile.
const ICdpDataSource::SEGprParam& ProfileGpr();
// Times a process's compute step over the profile: ProcessData on a
// preallocated output, the step that GetDataCdp runs after fetching from its
// source and allocating the output, with the profile's acquisition
// parameters as its source's.
void RunProcess(benchmark::State& state, CCdpProcess& process, const char* params);
// Times a whole fetch of the processed profile through GetDataCdp, the
// output released after every call as by a host that hands each result on:
// the fetch allocates a fresh output every time (the source shares the
// profile), so the cost of obtaining its memory counts.
void FetchProcess(benchmark::State& state, CCdpProcess& process, const char* params);
// The same with a source that hands out `input` instead of the profile.
void FetchProcess(benchmark::State& state, CCdpProcess& process, const char* params, const MeboDataPtr& input);
// Reports `samples` per iteration as items (samples per second).
void ReportSamples(benchmark::State& state, int64_t samples = kProfileSamples);

}  // namespace vantir3_bench

#endif  // VANTIR3_BENCH_BENCH_PROFILE_H_
