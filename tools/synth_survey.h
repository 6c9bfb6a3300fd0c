// The program's built-in sample survey: a deterministic synthetic GPR
// profile (layered ground, a dipping interface, buried pipes as point
// diffractors, attenuation, a direct wave, a low-frequency wow and noise)
// with its acquisition facts, and a data source that serves signed 16-bit
// traces held in memory.
#ifndef TOOLS_SYNTH_SURVEY_H_
#define TOOLS_SYNTH_SURVEY_H_

#include <cstdint>
#include <vector>

#include "vantir3_survey/survey.h"

namespace vantir3_cli {

struct SynthOptions {
    uint32_t seed = 1;
    int64_t traces = 480;
    int32_t samples = 512;
    double velocityMPerNs = 0.1;  // of the ground, for the reflector times
};

// The survey's acquisition facts (positions, elevations and marks included).
vantir3::survey::Acquisition SynthAcquisition(const SynthOptions& options);
// Traces [first, first + count) of the survey, trace after trace. Each trace
// depends only on the options and its index, so a survey of any size can be
// made block by block.
void SynthTraces(const SynthOptions& options, int64_t first, int64_t count, int16_t* out);

// An ICdpDataSource over traces held in memory (axis 0 sample, axis 1 trace,
// one plane). A request gets a copy of exactly the traces of its region. The
// traces are not owned; they must outlive the source.
class MemorySource : public ICdpDataSource {
public:
    MemorySource(const ICdpDataSource::SEGprParam& gpr, int32_t samples);
    // Serves `traces` traces from `data`, numbered from `firstTrace`.
    void SetTraces(const int16_t* data, int64_t firstTrace, int64_t traces);

    const SEGprParam* GprParamPtr() const override { return &gpr_; }
    bool GetAvailableRange(Mebo3DDataAxis* range, int n) const override;
    int GetDataCdp(MeboDataPtr& out, const Mebo3DDataAxis* region, const void* requester) const override;
    bool SourceChanged(const void*) const override { return false; }
    uint32_t EdgeEffect(bool) const override { return 0; }

private:
    SEGprParam gpr_;
    int32_t samples_;
    const int16_t* data_ = nullptr;
    int64_t first_ = 0, traces_ = 0;
};

}  // namespace vantir3_cli

#endif  // TOOLS_SYNTH_SURVEY_H_
