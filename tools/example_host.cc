// Example host: how an application drives the library. It serves a synthetic
// GPR profile through its own data source, builds a processing chain by
// process identifier, sets parameters by parameter string and reads the
// processed profile back.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "vantir3/vantir3.h"

namespace {

// The host's raw source: a synthetic profile of decaying wavelets.
class SyntheticProfile : public ICdpDataSource {
public:
    SyntheticProfile(int samples, int traces) {
        MeboDataPtrClear(&data_);
        MeboDataPtrAllocateCounts(&data_, 2, samples, traces, 1, 0);
        int16_t* p = reinterpret_cast<int16_t*>(data_.storage->data);
        for (int t = 0; t < traces; ++t) {
            for (int i = 0; i < samples; ++i) {
                const double v = 8000.0 * std::exp(-0.01 * i) * std::sin(0.4 * i + 0.02 * t);
                *p++ = static_cast<int16_t>(std::lround(v));
            }
        }
        gpr_ = {0.0, 12.0, 0.4, 250.0, 0.5};
    }
    ~SyntheticProfile() override { MeboDataPtrRelease(&data_); }

    const SEGprParam* GprParamPtr() const override { return &gpr_; }
    bool GetAvailableRange(Mebo3DDataAxis* range, int) const override {
        *range = data_.axis;
        return true;
    }
    int GetDataCdp(MeboDataPtr& out, const Mebo3DDataAxis* region, const void*) const override {
        // Hands out a shared view of the requested part of the profile.
        MeboDataPtrShare(&out, &data_);
        if (region == nullptr) return 0;
        Mebo3DDataAxis view = data_.axis;
        if (MeboIntersectRanges(&view, &data_.axis, region, 0, 3) < 0 ||
            !MeboDataPtrSetView(&out, &view, 0)) {
            MeboDataPtrRelease(&out);
            return -1;
        }
        return 0;
    }
    bool SourceChanged(const void*) const override { return false; }
    uint32_t EdgeEffect(bool) const override { return 0; }

private:
    MeboDataPtr data_;
    SEGprParam gpr_;
};

struct Summary {
    int16_t min = 32767, max = -32768;
    double meanAbs = 0.0;
};

Summary Summarise(const MeboDataPtr& buf) {
    Summary s;
    double sum = 0.0;
    long n = 0;
    const Mebo3DDataAxis& a = buf.axis;
    for (int t = a.dim[1].min; t <= a.dim[1].max; ++t) {
        const uint8_t* p = a.base + static_cast<ptrdiff_t>(t - a.dim[1].min) * a.dim[1].stride;
        for (int i = a.dim[0].min; i <= a.dim[0].max; ++i, p += a.dim[0].stride) {
            const int16_t v = *reinterpret_cast<const int16_t*>(p);
            s.min = std::min(s.min, v);
            s.max = std::max(s.max, v);
            sum += std::abs(static_cast<int>(v));
            ++n;
        }
    }
    s.meanAbs = n > 0 ? sum / static_cast<double>(n) : 0.0;
    return s;
}

}  // namespace

int main() {
    const int samples = 512, traces = 200;
    SyntheticProfile profile(samples, traces);

    CProcessChain chain(&profile);
    CCdpProcessToolbox* toolbox = chain.GetToolboxPtr();
    std::printf("Process catalogue (%u process types):\n", toolbox->GetAvailableProcessCount());
    std::vector<CCdpProcessToolbox::SProcessTypeDef> rows;
    toolbox->GetProcessTypeDefArray(rows);
    for (const auto& row : rows) {
        std::printf("  %*s%s%s\n", static_cast<int>(2 * row.level), "", row.name.c_str(),
                    row.kind == 0 ? "/" : "");
    }

    if (!chain.AddProcess(KOL::Str2UID("CONST@"), -1, false)) {
        std::fprintf(stderr, "example_host: could not add the constant gain\n");
        return 1;
    }
    CCdpProcess* gain = chain.GetProcessPtr(0);
    const int status = gain->SetParams("GAIN@@=3.00");
    if (status != 0) {
        std::fprintf(stderr, "example_host: parameter string refused (%d)\n", status);
        return 1;
    }
    std::printf("\nChain: %s with %s\n", gain->GetDeclaration(-1).c_str(), gain->GetParams().c_str());

    Mebo3DDataAxis region;
    profile.GetAvailableRange(&region, 0);
    region.dim[1].min = 50;  // traces 50 ... 149
    region.dim[1].max = 149;

    MeboDataPtr raw, gained;
    MeboDataPtrClear(&raw);
    MeboDataPtrClear(&gained);
    profile.GetDataCdp(raw, &region, nullptr);
    const int result = chain.ResultData()->GetDataCdp(gained, &region, &profile);
    if (result < 0) {
        std::fprintf(stderr, "example_host: processing failed (%d)\n", result);
        return 1;
    }
    const Summary before = Summarise(raw), after = Summarise(gained);
    std::printf("Traces %d-%d, samples %d-%d (status %d)\n", gained.axis.dim[1].min,
                gained.axis.dim[1].max, gained.axis.dim[0].min, gained.axis.dim[0].max, result);
    std::printf("  raw:    min %6d  max %6d  mean |x| %8.1f\n", before.min, before.max, before.meanAbs);
    std::printf("  gained: min %6d  max %6d  mean |x| %8.1f\n", after.min, after.max, after.meanAbs);
    MeboDataPtrRelease(&raw);
    MeboDataPtrRelease(&gained);
    return 0;
}
