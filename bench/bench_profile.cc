#include "bench/bench_profile.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace vantir3_bench {

namespace {

// The profiles' pages are not copied into programs the benchmarks start, so
// that a child's peak resident memory is its own.
void KeepFromChildren(const MeboDataPtr& p) {
    const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const uintptr_t begin = reinterpret_cast<uintptr_t>(p.storage->data) / page * page;
    const uintptr_t end = (reinterpret_cast<uintptr_t>(p.storage->data) + static_cast<uintptr_t>(p.storage->byteSize) +
                           page - 1) / page * page;
    ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTFORK);
}

}  // namespace

const MeboDataPtr& Profile() {
    static MeboDataPtr* profile = [] {
        auto* p = new MeboDataPtr;
        MeboDataPtrClear(p);
        MeboDataPtrAllocateCounts(p, 2, kSamples, kTraces, 1, 0);
        int16_t* s = reinterpret_cast<int16_t*>(p->storage->data);
        uint32_t h = 12345;
        for (int32_t t = 0; t < kTraces; ++t) {
            for (int32_t i = 0; i < kSamples; ++i) {
                h = h * 1664525u + 1013904223u;
                const double v = 30000.0 * std::exp(-0.004 * i) * std::sin(0.37 * i + 0.01 * t) +
                                 static_cast<double>(h >> 24) - 128.0;
                *s++ = static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
            }
        }
        KeepFromChildren(*p);
        return p;
    }();
    return *profile;
}

MeboDataPtr NewTouchedBuffer(int32_t elemSize, int32_t count0, int32_t count1) {
    MeboDataPtr out;
    MeboDataPtrClear(&out);
    if (MeboDataPtrAllocateCounts(&out, elemSize, count0, count1, 1, 1) != 0) {
        std::memset(out.storage->data, 0, static_cast<size_t>(out.storage->byteSize));
    }
    return out;
}

MeboDataPtr NewOutput() { return NewTouchedBuffer(2, kSamples, kTraces); }

const MeboDataPtr& TraceMajorProfile() {
    static MeboDataPtr* profile = [] {
        auto* p = new MeboDataPtr;
        MeboDataPtrClear(p);
        MeboDataPtrAllocateCounts(p, 2, kTraces, kSamples, 1, 0);
        const int16_t* src = reinterpret_cast<const int16_t*>(Profile().storage->data);
        int16_t* dst = reinterpret_cast<int16_t*>(p->storage->data);
        for (int32_t t = 0; t < kTraces; ++t)
            for (int32_t i = 0; i < kSamples; ++i) dst[int64_t{i} * kTraces + t] = src[int64_t{t} * kSamples + i];
        KeepFromChildren(*p);
        return p;
    }();
    return *profile;
}

MeboDataPtr ProfileTerrain() {
    MeboDataPtr e;
    MeboDataPtrClear(&e);
    MeboDataPtrAllocateCounts(&e, sizeof(double), kTraces, 1, 1, 0);
    double* h = reinterpret_cast<double*>(e.storage->data);
    for (int32_t t = 0; t < kTraces; ++t) h[t] = 0.4 * std::sin(6.0 * 3.141592653589793 * t / kTraces);
    return e;
}

const ICdpDataSource::SEGprParam& ProfileGpr() {
    static const ICdpDataSource::SEGprParam gpr = {0.0, 20.5, 0.1, 500.0, 0.2};
    return gpr;
}

namespace {
// A raw source that hands out a share of the given data (the benchmark
// profile by default) and the profile's acquisition parameters.
class ProfileSource : public ICdpDataSource {
public:
    explicit ProfileSource(const MeboDataPtr& data = Profile()) : data_(data) {}
    const SEGprParam* GprParamPtr() const override { return &ProfileGpr(); }
    bool GetAvailableRange(Mebo3DDataAxis*, int) const override { return false; }
    int GetDataCdp(MeboDataPtr& out, const Mebo3DDataAxis*, const void*) const override {
        return MeboDataPtrShare(&out, &data_) ? 0 : -1;
    }
    bool SourceChanged(const void*) const override { return false; }
    uint32_t EdgeEffect(bool) const override { return 0; }

private:
    const MeboDataPtr& data_;
};
}  // namespace

void RunProcess(benchmark::State& state, CCdpProcess& process, const char* params) {
    ProfileSource source;
    process.SetDataSource(&source);
    process.SetParams(params);
    MeboDataPtr in, out = NewOutput();
    MeboDataPtrClear(&in);
    MeboDataPtrShare(&in, &Profile());
    for (auto _ : state) {
        benchmark::DoNotOptimize(process.ProcessData(out, in, nullptr));
        benchmark::ClobberMemory();
    }
    ReportSamples(state);
    MeboDataPtrRelease(&in);
    MeboDataPtrRelease(&out);
}

void FetchProcess(benchmark::State& state, CCdpProcess& process, const char* params) {
    FetchProcess(state, process, params, Profile());
}

void FetchProcess(benchmark::State& state, CCdpProcess& process, const char* params, const MeboDataPtr& input) {
    ProfileSource source(input);
    process.SetDataSource(&source);
    process.SetParams(params);
    MeboDataPtr out;
    MeboDataPtrClear(&out);
    for (auto _ : state) {
        benchmark::DoNotOptimize(process.GetDataCdp(out, nullptr, &state));
        MeboDataPtrRelease(&out);
        benchmark::ClobberMemory();
    }
    ReportSamples(state);
}

void ReportSamples(benchmark::State& state, int64_t samples) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * samples);
}

}  // namespace vantir3_bench
