// Host of the installed core library: drives a process chain over its own
// source and compares results with the named status codes. Exit status 0
// when every check holds.
#include <cstdio>

#include "vantir3/vantir3.h"

namespace {

class Source : public ICdpDataSource {
public:
    Source() {
        MeboDataPtrClear(&data_);
        MeboDataPtrAllocateCounts(&data_, 2, 8, 2, 1, 0);
        int16_t* p = reinterpret_cast<int16_t*>(data_.storage->data);
        for (int i = 0; i < 16; ++i) p[i] = static_cast<int16_t>(100 * i - 700);
    }
    ~Source() override { MeboDataPtrRelease(&data_); }
    const SEGprParam* GprParamPtr() const override { return &gpr_; }
    bool GetAvailableRange(Mebo3DDataAxis* range, int) const override {
        *range = data_.axis;
        return true;
    }
    int GetDataCdp(MeboDataPtr& out, const Mebo3DDataAxis*, const void*) const override {
        return MeboDataPtrShare(&out, &data_) ? vantir3::kStatusOk : vantir3::kStatusAllocationFailed;
    }
    bool SourceChanged(const void*) const override { return false; }
    uint32_t EdgeEffect(bool) const override { return 0; }

private:
    MeboDataPtr data_;
    SEGprParam gpr_ = {0.0, 1.0, 0.5, 400.0, 0.1};
};

int failures = 0;
void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "core host: %s\n", what);
        ++failures;
    }
}

}  // namespace

int main() {
    Source source;
    CProcessChain chain(&source);
    Check(chain.AddProcess(KOL::Str2UID("CONST@"), -1, false), "AddProcess CONST@");
    Check(chain.GetProcessPtr(0)->SetParams("GAIN@@=3.00") == vantir3::kStatusOk, "SetParams");
    MeboDataPtr out;
    MeboDataPtrClear(&out);
    Check(chain.ResultData()->GetDataCdp(out, nullptr, &source) == vantir3::kStatusOk, "GetDataCdp");
    const int16_t* p = reinterpret_cast<const int16_t*>(out.axis.base);
    for (int i = 0; p != nullptr && i < 16; ++i) Check(p[i] == 3 * (100 * i - 700), "gained sample");
    MeboDataPtrRelease(&out);

    // A process without a source.
    CCdpProcessToolbox toolbox;
    CCdpProcess* dewow = toolbox.GetProcess(KOL::Str2UID("DEWOW@"));
    Check(dewow != nullptr, "GetProcess DEWOW@");
    if (dewow != nullptr) {
        Check(dewow->GetDataCdp(out, nullptr, &source) == vantir3::kStatusNoDataSource, "no source");
        toolbox.ReleaseProcess(dewow);
    }
    if (failures == 0) std::puts("core host: ok");
    return failures == 0 ? 0 : 1;
}
