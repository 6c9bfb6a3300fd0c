// Time-dependent gains over the benchmark profile (the processes through
// RunProcess), and the bounds that the division unit sets on DVL and AGC
// gains and on background subtraction: one division per output sample, the
// profile's count, from rows in the cache, on the same instruction set.
#include <vector>

#include "bench/bench_profile.h"
#include "vantir3/framework/toolbox.h"
#include "vantir3/processes/agc_gain.h"
#include "vantir3/processes/dvl_gain.h"
#include "vantir3/processes/sec2_gain.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "bench/gain_bench.cc"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace vantir3_bench {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// out[n] = a[n] / b[n] for count values, two vectors a step (count a
// multiple of two vectors): in doubles as the DVL kernel divides, in floats
// as the AGC kernel does.
template <typename T>
void QuotientsOf(const T* a, const T* b, T* out, int32_t count) {
    const hn::ScalableTag<T> d;
    const int32_t lanes = static_cast<int32_t>(hn::Lanes(d));
    for (int32_t n = 0; n + 2 * lanes <= count; n += 2 * lanes) {
        hn::StoreU(hn::Div(hn::LoadU(d, a + n), hn::LoadU(d, b + n)), d, out + n);
        hn::StoreU(hn::Div(hn::LoadU(d, a + n + lanes), hn::LoadU(d, b + n + lanes)), d, out + n + lanes);
    }
}
void Quotients(const double* a, const double* b, double* out, int32_t count) { QuotientsOf(a, b, out, count); }
void FloatQuotients(const float* a, const float* b, float* out, int32_t count) { QuotientsOf(a, b, out, count); }

}  // namespace HWY_NAMESPACE
}  // namespace vantir3_bench
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace vantir3_bench {
HWY_EXPORT(Quotients);
HWY_EXPORT(FloatQuotients);
}  // namespace vantir3_bench

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

// The division unit's bound: one division per output sample (in doubles for
// DVL gain and background subtraction, in floats for AGC), the profile's
// count, from rows in the cache. Every divisor is `divisor` if given (the
// window that background subtraction divides by), otherwise they differ.
template <typename T, class Divide>
void DivideBound(benchmark::State& state, Divide divide, T divisor = T(0)) {
    std::vector<T> a(kSamples), b(kSamples), out(kSamples);
    for (int32_t n = 0; n < kSamples; ++n) {
        a[n] = T(1) + T(n) * T(12345);
        b[n] = divisor != T(0) ? divisor : T(32767) + T(n) * T(7);
    }
    for (auto _ : state) {
        for (int32_t t = 0; t < kTraces; ++t) divide(a.data(), b.data(), out.data(), kSamples);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    ReportSamples(state);
}

void BM_DvlDivideBound(benchmark::State& state) { DivideBound<double>(state, HWY_DYNAMIC_DISPATCH(Quotients)); }
BENCHMARK(BM_DvlDivideBound)->Unit(benchmark::kMillisecond);

// Background subtraction's running average divides by its window (10, as in
// BM_BackgroundRunningNarrow).
void BM_BackgroundDivideBound(benchmark::State& state) {
    DivideBound<double>(state, HWY_DYNAMIC_DISPATCH(Quotients), 10.0);
}
BENCHMARK(BM_BackgroundDivideBound)->Unit(benchmark::kMillisecond);

void BM_AgcDivideBound(benchmark::State& state) { DivideBound<float>(state, HWY_DYNAMIC_DISPATCH(FloatQuotients)); }
BENCHMARK(BM_AgcDivideBound)->Unit(benchmark::kMillisecond);

}  // namespace
#endif  // HWY_ONCE
