#include "vantir3/processes/const_gain.h"

#include "vantir3/framework/buffer_walk.h"
#include "vantir3/framework/status.h"
#include "vantir3/numeric/scale_kernels.h"

namespace vantir3 {

namespace {
constexpr ParamDecl kConstGainParams[] = {
    {"GAIN@@", 'D', 2, 100.0, 0.01, 32767.0, 0.01,
     "1.00;2.00;5.00;10.00;20.00;50.00;100.00;200.00;500.00;1000.00;2000.00;5000.00\n"
     "Gain\nSpecifies the applied gain."},
};
}  // namespace

const ProcessDecl kConstGainDecl = {
    "CONST@", "Constant Gain",
    "Constant gain applies a fixed gain to signal, independent of depth or time.",
    1, kConstGainParams};

int ConstGain(MeboDataPtr& out, const MeboDataPtr& in, double gain) {
    return WalkTraces(out, in, [gain](const TraceSpan& s) {
        if (s.Contiguous()) {
            ScaleSamples(s.in, s.out, s.count, gain);
        } else {
            MapTrace(s, [gain](int16_t x) { return FloorSaturate16(0.5 + gain * static_cast<double>(x)); });
        }
    });
}

}  // namespace vantir3

CCdpPrcConstGain::CCdpPrcConstGain() : CTableProcess(vantir3::kConstGainDecl) { SetDefaults(); }

double* CCdpPrcConstGain::ParamSlot(uint32_t) { return &gain_; }

int CCdpPrcConstGain::ProcessData(MeboDataPtr& out, MeboDataPtr& in, MeboDataPtr*) {
    if (GprParamPtr() == nullptr) return vantir3::kStatusNoGprParam;
    return vantir3::ConstGain(out, in, gain_);
}
