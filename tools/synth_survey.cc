#include "tools/synth_survey.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace vantir3_cli {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSampleIntervalNs = 0.2;
constexpr double kTimeZeroSample = 25.0;  // 1-based
constexpr double kFrequencyMHz = 400.0;
constexpr double kSeparationM = 0.14;
constexpr double kSpacingM = 0.025;

// Ricker wavelet of centre frequency f (GHz) at lag tau (ns).
double Ricker(double f, double tau) {
    const double a = kPi * kPi * f * f * tau * tau;
    return (1.0 - 2.0 * a) * std::exp(-a);
}

// Adds a wavelet of amplitude amp arriving at time t (ns after time zero) to
// one trace.
void AddEvent(double* trace, int32_t samples, double t, double amp) {
    const double f = kFrequencyMHz / 1000.0;
    const double reach = 3.0 / f;
    const double t0 = (kTimeZeroSample - 1.0) * kSampleIntervalNs;
    const int32_t lo = std::max<int32_t>(0, static_cast<int32_t>(std::floor((t + t0 - reach) / kSampleIntervalNs)));
    const int32_t hi = std::min<int32_t>(samples - 1, static_cast<int32_t>(std::ceil((t + t0 + reach) / kSampleIntervalNs)));
    for (int32_t i = lo; i <= hi; ++i) trace[i] += amp * Ricker(f, i * kSampleIntervalNs - t0 - t);
}

// Amplitude at the receiver of a reflection of coefficient r arriving after
// two-way time t: spreading and exponential attenuation.
double Received(double r, double t) { return 26000.0 * r * std::exp(-0.025 * t) / (1.0 + t / 8.0); }

// Two-way time to a depth z below a point at horizontal distance d.
double TwoWay(double d, double z, double v) {
    const double half = kSeparationM / 2.0;
    return (std::hypot(d - half, z) + std::hypot(d + half, z)) / v;
}

// Gaussian-like noise from the raw generator (sum of uniforms), so that the
// survey is the same on every standard library.
class Noise {
public:
    explicit Noise(uint32_t seed) : gen_(seed) {}
    double Next() {
        double s = 0.0;
        for (int k = 0; k < 4; ++k) s += static_cast<double>(gen_()) / 4294967296.0;
        return (s - 2.0) * std::sqrt(3.0);
    }

private:
    std::mt19937 gen_;
};

}  // namespace

double LineLength(const SynthOptions& o) { return std::max((o.traces - 1) * kSpacingM, 1.0); }

vantir3::survey::Acquisition SynthAcquisition(const SynthOptions& o) {
    vantir3::survey::Acquisition a;
    a.traces = o.traces;
    a.samples = o.samples;
    a.sampleIntervalNs = kSampleIntervalNs;
    a.sampleIntervalSource = "built-in sample survey";
    a.timeZeroSample = kTimeZeroSample;
    a.firstSampleTimeNs = -(kTimeZeroSample - 1.0) * kSampleIntervalNs;
    a.timeWindowNs = o.samples * kSampleIntervalNs;
    a.traceSpacingM = kSpacingM;
    a.traceSpacingSource = "built-in sample survey";
    a.antennaName = "400MHz";  // a name the DZT format knows the frequency of
    a.antennaFrequencyMHz = kFrequencyMHz;
    a.antennaSeparationM = kSeparationM;
    a.stacks = 1;
    a.tracePositionsM.resize(static_cast<size_t>(o.traces));
    a.elevationsM.resize(static_cast<size_t>(o.traces));
    for (int64_t t = 0; t < o.traces; ++t) {
        const double x = t * kSpacingM;
        a.tracePositionsM[static_cast<size_t>(t)] = x;
        a.elevationsM[static_cast<size_t>(t)] = 100.0 + 0.25 * std::sin(2.0 * kPi * x / LineLength(o));
        if (t > 0 && t % 80 == 0) a.marks.push_back({t, 1});
    }
    return a;
}

void SynthTraces(const SynthOptions& o, int64_t first, int64_t count, int16_t* out) {
    struct Pipe { double x, z, r; };
    const Pipe pipes[] = {{0.2, 0.9, 0.6}, {0.42, 1.8, -0.5}, {0.63, 2.6, 0.5}, {0.84, 1.3, 0.6}};
    const double v = o.velocityMPerNs, length = LineLength(o);
    std::vector<double> trace(static_cast<size_t>(o.samples));
    const double t0 = (kTimeZeroSample - 1.0) * kSampleIntervalNs;
    for (int64_t k = first; k < first + count; ++k, out += o.samples) {
        const double x = k * kSpacingM;
        Noise noise(o.seed * 2654435761u + static_cast<uint32_t>(k));
        std::fill(trace.begin(), trace.end(), 0.0);
        // Direct (air and ground) wave.
        AddEvent(trace.data(), o.samples, kSeparationM / 0.3, 14000.0);
        AddEvent(trace.data(), o.samples, kSeparationM / v, -9000.0);
        // Layers: a flat one, a dipping interface and a deep flat one.
        const double dip = 1.4 + 1.8 * x / length;
        const double layers[][2] = {{0.6, 0.25}, {dip, -0.3}, {4.0, 0.2}};
        for (const auto& layer : layers) {
            const double t = TwoWay(0.0, layer[0], v);
            AddEvent(trace.data(), o.samples, t, Received(layer[1], t));
        }
        // Pipes: point diffractors, weaker away from the apex.
        for (const Pipe& p : pipes) {
            const double d = x - p.x * length;
            const double t = TwoWay(d, p.z, v);
            if (t < o.samples * kSampleIntervalNs + 10.0)
                AddEvent(trace.data(), o.samples, t, Received(p.r, t) * p.z / std::hypot(d, p.z));
        }
        for (int32_t i = 0; i < o.samples; ++i) {
            const double t = i * kSampleIntervalNs - t0;
            const double wow = t > 0.0 ? 7000.0 * std::exp(-t / 30.0) * (1.0 - std::exp(-t / 3.0)) : 0.0;
            const double value = trace[i] + wow * (1.0 + 0.1 * std::sin(x)) + 30.0 * noise.Next();
            out[i] = static_cast<int16_t>(std::lround(std::clamp(value, -32767.0, 32767.0)));
        }
    }
}

MemorySource::MemorySource(const ICdpDataSource::SEGprParam& gpr, int32_t samples)
    : gpr_(gpr), samples_(samples) {}

void MemorySource::SetTraces(const int16_t* data, int64_t firstTrace, int64_t traces) {
    data_ = data;
    first_ = firstTrace;
    traces_ = traces;
}

bool MemorySource::GetAvailableRange(Mebo3DDataAxis* range, int) const {
    if (range == nullptr || traces_ <= 0) return false;
    std::memset(range, 0, sizeof *range);
    range->elemSize = 2;
    range->dim[0] = {2, 0, samples_ - 1};
    range->dim[1] = {2 * samples_, static_cast<int32_t>(first_), static_cast<int32_t>(first_ + traces_ - 1)};
    range->dim[2] = {0, 0, 0};
    return true;
}

int MemorySource::GetDataCdp(MeboDataPtr& out, const Mebo3DDataAxis* region, const void*) const {
    MeboDataPtrRelease(&out);
    Mebo3DDataAxis all, common;
    if (!GetAvailableRange(&all, 0)) return -1;
    common = all;
    if (region != nullptr && MeboIntersectRanges(&common, &all, region, 0, 3) < 0) return -1;
    const MeboAxisDim* d = common.dim;
    if (!MeboDataPtrAllocate(&out, 2, d[0].min, d[0].max, d[1].min, d[1].max, 0, 0, 0)) return -1;
    const int32_t width = d[0].max - d[0].min + 1;
    int16_t* dst = reinterpret_cast<int16_t*>(out.storage->data);
    for (int32_t t = d[1].min; t <= d[1].max; ++t, dst += width) {
        const int16_t* src = data_ + (t - first_) * samples_ + d[0].min;
        std::memcpy(dst, src, static_cast<size_t>(width) * 2);
    }
    return 0;
}

}  // namespace vantir3_cli
