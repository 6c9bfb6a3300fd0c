// Built as a host is: only the umbrella header and the shared libraries.
// Everything used here must be exported.
#include <gtest/gtest.h>

#include <cstring>

#include "vantir3/vantir3.h"

namespace {

class HostSource : public ICdpDataSource {
public:
    HostSource() {
        MeboDataPtrClear(&data_);
        MeboDataPtrAllocateCounts(&data_, 2, 16, 3, 1, 0);
        int16_t* p = reinterpret_cast<int16_t*>(data_.storage->data);
        for (int i = 0; i < 48; ++i) p[i] = static_cast<int16_t>(i - 20);
        gpr_ = {0.0, 3.0, 0.5, 200.0, 0.3};
    }
    ~HostSource() override { MeboDataPtrRelease(&data_); }
    const SEGprParam* GprParamPtr() const override { return &gpr_; }
    bool GetAvailableRange(Mebo3DDataAxis* range, int) const override {
        *range = data_.axis;
        return true;
    }
    int GetDataCdp(MeboDataPtr& out, const Mebo3DDataAxis*, const void*) const override {
        return MeboDataPtrShare(&out, &data_) ? 0 : -1;
    }
    bool SourceChanged(const void*) const override { return false; }
    uint32_t EdgeEffect(bool) const override { return 0; }

private:
    MeboDataPtr data_;
    SEGprParam gpr_;
};

TEST(PublicApi, HostDrivesAChainThroughTheExportedInterface) {
    HostSource source;
    CProcessChain chain(&source);
    ASSERT_TRUE(chain.AddProcess(KOL::Str2UID("CONST@"), -1, false));
    ASSERT_EQ(chain.GetProcessPtr(0)->SetParams("GAIN@@=2.00"), 0);
    MeboDataPtr out;
    MeboDataPtrClear(&out);
    ASSERT_EQ(chain.ResultData()->GetDataCdp(out, nullptr, &source), 0);
    const int16_t* p = reinterpret_cast<const int16_t*>(out.axis.base);
    for (int i = 0; i < 48; ++i) EXPECT_EQ(p[i], 2 * (i - 20));
    MeboDataPtrRelease(&out);

    CCdpProcessToolbox* toolbox = chain.GetToolboxPtr();
    EXPECT_GE(toolbox->GetAvailableProcessCount(), 1u);
    CDeclarationParam decl;
    ASSERT_TRUE(decl.SetDefStr(toolbox->GetDeclaration(KOL::Str2UID("CONST@"), 0).c_str()));
    EXPECT_STREQ(decl.GetVal(true), "GAIN@@=100.00");

    SCDPPrc_DataStatsMode stats;
    SCDPPrc_InitStats(&stats);
    EXPECT_EQ(stats.count, 0u);

    // Status codes by name, from the umbrella header.
    CCdpProcess* dewow = toolbox->GetProcess(KOL::Str2UID("DEWOW@"));
    ASSERT_NE(dewow, nullptr);
    EXPECT_EQ(dewow->GetDataCdp(out, nullptr, &source), vantir3::kStatusNoDataSource);
    dewow->SetDataSource(&source);
    EXPECT_EQ(dewow->GetDataCdp(out, nullptr, &source), vantir3::kStatusOk);
    MeboDataPtrRelease(&out);
    toolbox->ReleaseProcess(dewow);
}

}  // namespace
