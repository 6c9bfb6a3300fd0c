#include "vantir3/processes/sec2_gain.h"

#include <cmath>
#include <cstring>
#include <new>

#include "vantir3/framework/buffer_walk.h"
#include "vantir3/framework/status.h"
#include "vantir3/framework/toolbox.h"
#include "vantir3/numeric/scale_kernels.h"
#include "vantir3/processes/trace_kernels.h"

namespace vantir3 {

namespace {
constexpr ParamDecl kSec2GainParams[] = {
    {"ATTENU", 'D', 2, 5.0, 0.0, 1000.0, 0.01,
     "0.00;1.00;2.00;5.00;10.00;20.00;50.00\nAttenuation\nSpecifies the signal attenuation in dB/m. "
     "Increasing the attenuation leads to preferentially increasing gain for signals from deeper "
     "targets."},
    {"STRTGN", 'D', 2, 1.0, 0.01, 32767.0, 0.01,
     "0.01;0.10;1.00;2.00;3.00;5.00;8.00\nStart Gain\nStart Gain specifies the initial gain value. "
     "While a start gain of < 1 can be used to reduce signal amplitudes prior to first break time, a "
     "start gain >= 1 will only apply after first break time (leaving pre-break data unchanged)."},
    {"MAXGN@", 'D', 0, 500.0, 1.0, 32767.0, 1.0,
     "20;50;200;500;2000;5000\nMaximum Gain\nSpecifies the maximum applied gain. Once this value is "
     "reached, the gain will not increase further. Usually used to avoid excessive noise at greater "
     "depths."},
};

constexpr double kVelocity = 0.1;               // assumed wave velocity, m/ns
constexpr double kDecibelPerNeper = 8.68588964;
}  // namespace

const ProcessDecl kSec2GainDecl = {
    "SECCGN", "SEC2 Gain",
    "SEC2 (Spreading & Exponential Calibrated Compensation) applies an exponentially increasing gain "
    "as a function of depth. This compensates signals reflected from deeper targets for attenuation "
    "caused by spherical spreading and ohmic losses. Applying this process with suitable parameters "
    "will make the response from similar targets at different depths appear similar.",
    3, kSec2GainParams};

void Sec2GainTable(const Sec2GainParam& params, double timeZeroSample, double sampleInterval,
                   double antennaFrequency, int32_t first, int32_t count, double* gains,
                   int* lastSample) {
    const double z = timeZeroSample;
    const double dt = sampleInterval;
    const double start = params.startGain;
    const double maxGain = params.maxGain;
    const double t0 = std::ceil(z) - 1.0;
    const double pw = 1500.0 / antennaFrequency;
    const double alpha = params.attenuation * kVelocity / kDecibelPerNeper;
    const double gStart = start < maxGain ? start : maxGain;
    const double gPre = gStart < 1.0 ? gStart : 1.0;
    const bool grows = dt > 0.0 && antennaFrequency > 0.0 && std::isfinite(dt) &&
                       std::isfinite(antennaFrequency) && std::isfinite(z);
    const double s1 = grows ? std::ceil((z - 1.0) + pw / dt) : HUGE_VAL;
    const double growthStart = (z - 1.0) * dt + pw;

    int last = count > 0 ? first + (count - 1) : first - 1;
    bool capped = false;
    for (int32_t k = 0; k < count; ++k) {
        const double i = static_cast<double>(first) + static_cast<double>(k);
        double g;
        if (i < t0) {
            g = gPre;
        } else if (i < s1) {
            g = gStart;
        } else if (capped) {
            g = maxGain;
        } else {
            const double t = i * dt - growthStart;
            g = start * (1.0 + (t / pw) * std::exp(alpha * t));
            if (g > maxGain) {
                capped = true;
                g = maxGain;
                last = static_cast<int>(int64_t{first} + k - 1);
            }
        }
        gains[k] = g;
    }
    if (lastSample != nullptr) *lastSample = last;
}

struct Sec2TableCache {
    // What the table was worked out from, as bits.
    double key[6] = {};
    int32_t first = 0, count = 0;  // valid while gains is set
    int last = 0;
    Scratch<double> gains;
    FactorTable table;
};

int Sec2Gain(MeboDataPtr& out, const MeboDataPtr& in, const Sec2GainParam& params,
             double timeZeroSample, double sampleInterval, double antennaFrequency,
             int* lastSample, Sec2TableCache* cache) {
    Sec2TableCache own;
    Sec2TableCache& t = cache != nullptr ? *cache : own;
    return WalkTraces(
        out, in,
        [&](const CommonRegion& region) {
            const MeboAxisDim& d = region.InAxis().dim[0];
            const int32_t count = d.max - d.min + 1;
            const double key[6] = {params.attenuation, params.startGain, params.maxGain,
                                   timeZeroSample,     sampleInterval,   antennaFrequency};
            if (t.gains && t.first == d.min && t.count == count && std::memcmp(t.key, key, sizeof key) == 0) {
                if (lastSample != nullptr) *lastSample = t.last;
                return 0;
            }
            t.gains = NewScratch<double>(static_cast<size_t>(count));
            if (!t.gains) return kStatusAllocationFailed;
            Sec2GainTable(params, timeZeroSample, sampleInterval, antennaFrequency, d.min, count,
                          t.gains.get(), &t.last);
            if (lastSample != nullptr) *lastSample = t.last;
            t.table = PrepareFactorTable(t.gains.get(), count);
            std::memcpy(t.key, key, sizeof key);
            t.first = d.min;
            t.count = count;
            return 0;
        },
        [&](const TraceSpan& s) {
            const double* g = t.gains.get();
            if (s.Contiguous()) {
                ScaleSamplesByTable(s.in, s.out, s.count, t.table);
            } else {
                MapTraceIndexed(s, [g](int16_t x, int32_t k) {
                    return FloorSaturate16(0.5 + g[k] * static_cast<double>(x));
                });
            }
        });
}

}  // namespace vantir3

CCdpPrcSec2Gain::CCdpPrcSec2Gain()
    : CTableProcess(vantir3::kSec2GainDecl), params_(new Sec2GainParam()) {
    SetDefaults();
}

CCdpPrcSec2Gain::~CCdpPrcSec2Gain() = default;

double* CCdpPrcSec2Gain::ParamSlot(uint32_t index) {
    switch (index) {
        case 0: return &params_->attenuation;
        case 1: return &params_->startGain;
        default: return &params_->maxGain;
    }
}

int CCdpPrcSec2Gain::ProcessData(MeboDataPtr& out, MeboDataPtr& in, MeboDataPtr*) {
    const SEGprParam* gpr = GprParamPtr();
    if (gpr == nullptr) return vantir3::kStatusNoGprParam;
    if (!table_) {
        table_.reset(new (std::nothrow) vantir3::Sec2TableCache());
        if (!table_) return vantir3::kStatusAllocationFailed;
    }
    return vantir3::Sec2Gain(out, in, *params_, gpr->timeZeroSample, gpr->sampleInterval,
                             gpr->antennaFrequency, nullptr, table_.get());
}

int CCdpProcessToolbox::CdpSec2Gain(MeboDataPtr& out, MeboDataPtr& in, double attenuation,
                                    double startGain, double maxGain, double timeZeroSample,
                                    double sampleInterval, double antennaFrequency,
                                    int* lastSample) {
    const Sec2GainParam params = {attenuation, startGain, maxGain};
    return vantir3::Sec2Gain(out, in, params, timeZeroSample, sampleInterval, antennaFrequency,
                             lastSample);
}
