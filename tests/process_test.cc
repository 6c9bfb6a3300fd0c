// The process base: fetching through a source, requesters, texts and the
// auxiliary buffer, exercised through the constant gain.
#include "vantir3/framework/process.h"

#include <gtest/gtest.h>

#include "tests/support/test_source.h"
#include "vantir3/processes/const_gain.h"

namespace {

using vantir3_test::TestSource;

// A constant gain whose texts are long and whose compute step reports a
// chosen status.
class LongTextGain : public CCdpPrcConstGain {
public:
    int algorithmStatus = 0;
    int FormatParams(char* buffer, unsigned size) override {
        return vantir3::CopyTruncated(std::string(300, 'x'), buffer, size);
    }
    int ProcessData(MeboDataPtr& out, MeboDataPtr& in, MeboDataPtr* aux) override {
        const int r = CCdpPrcConstGain::ProcessData(out, in, aux);
        return r < 0 ? r : algorithmStatus;
    }
};

TEST(Process, WithoutSourceAnswersEmpty) {
    CCdpPrcConstGain p;
    vantir3_test::Owned out = vantir3_test::Zeroed(2, 4);
    EXPECT_EQ(p.GetDataCdp(out.b, nullptr, nullptr), -200);
    EXPECT_EQ(out.b.storage, nullptr);  // released even so
    EXPECT_EQ(p.GprParamPtr(), nullptr);
    Mebo3DDataAxis range{};
    range.elemSize = 77;
    EXPECT_FALSE(p.GetAvailableRange(&range, 0));
    EXPECT_EQ(range.elemSize, 77);
    EXPECT_EQ(p.EdgeEffect(true), 0u);
}

TEST(Process, RequestersAreRememberedUntilParametersOrSourceChange) {
    TestSource source(16, 4);
    source.SetEdgeEffect(7);
    CCdpPrcConstGain p;
    p.SetDataSource(&source);
    EXPECT_EQ(p.EdgeEffect(true), 7u);
    EXPECT_EQ(p.EdgeEffect(false), 0u);
    int host = 0;
    vantir3_test::Owned out;
    EXPECT_FALSE(p.SourceChanged(&host));
    ASSERT_EQ(p.GetDataCdp(out.b, nullptr, &host), 0);
    EXPECT_TRUE(p.SourceChanged(&host));
    EXPECT_TRUE(source.SourceChanged(&p));  // the process names itself to its source
    EXPECT_FALSE(p.SourceChanged(nullptr));
    p.SetParams("");
    EXPECT_FALSE(p.SourceChanged(&host));
    p.GetDataCdp(out.b, nullptr, &host);
    EXPECT_EQ(p.SetParams("GAIN@@=-1"), 1);  // refused, but forgets all the same
    EXPECT_FALSE(p.SourceChanged(&host));
    p.GetDataCdp(out.b, nullptr, nullptr);
    EXPECT_TRUE(p.SourceChanged(nullptr));
    p.SetDataSource(&source);
    EXPECT_FALSE(p.SourceChanged(nullptr));
    EXPECT_EQ(p.GetParams(), "GAIN@@=100.00");  // parameters survive SetDataSource
}

TEST(Process, StatusCombinesSourceAndAlgorithm) {
    TestSource source(8, 2);
    LongTextGain p;
    p.SetDataSource(&source);
    vantir3_test::Owned out;
    // {source status, algorithm status, result}: a failure of either wins,
    // then the source's positive status.
    for (const auto& c : {std::vector<int>{3, 0, 3}, {3, 1, 3}, {0, 1, 1}, {0, -6, -6}, {-42, 0, -42}}) {
        source.SetStatus(c[0]);
        p.algorithmStatus = c[1];
        EXPECT_EQ(p.GetDataCdp(out.b, nullptr, nullptr), c[2]) << c[0] << " " << c[1];
        EXPECT_EQ(out.b.storage == nullptr, c[0] < 0);  // allocated unless the source failed
    }
    source.SetStatus(0);
    // The requested region reaches the source unchanged; out takes its ranges.
    Mebo3DDataAxis region = source.Data().axis;
    region.dim[0].min = 2;
    region.dim[0].max = 5;
    ASSERT_EQ(p.GetDataCdp(out.b, &region, nullptr), 0);
    EXPECT_EQ(std::vector<int32_t>({out.b.axis.dim[0].min, out.b.axis.dim[0].max, out.b.axis.dim[1].max}),
              (std::vector<int32_t>{2, 5, 1}));
}

TEST(Process, LongTextsAndTheAuxiliaryBuffer) {
    LongTextGain p;
    EXPECT_EQ(p.GetParams(), std::string(300, 'x'));
    std::string out;
    EXPECT_TRUE(p.GetDeclaration(out, 0));
    EXPECT_EQ(out.substr(0, 19), "D\nGAIN@@=100.000000");
    EXPECT_FALSE(p.GetDeclaration(out, 5));
    EXPECT_EQ(out, "");
    vantir3_test::Owned aux = vantir3_test::Zeroed(2, 10);
    EXPECT_EQ(p.SetAuxDataCdp(&aux.b), 0);
    EXPECT_EQ(p.GetAuxDataCdp()->storage, aux.b.storage);
    EXPECT_EQ(p.SetAuxDataCdp(p.GetAuxDataCdp()), 0);  // sharing itself keeps it
    EXPECT_EQ(aux.b.storage->refCount, 2u);
    EXPECT_EQ(p.SetAuxDataCdp(nullptr), 0);
    EXPECT_EQ(aux.b.storage->refCount, 1u);
    EXPECT_EQ(p.GetAuxDataCdp()->storage, nullptr);
    p.SetAuxDataCdp(&aux.b);
    MeboDataPtrRelease(&aux.b);  // the process's reference keeps the storage alive
    EXPECT_EQ(p.GetAuxDataCdp()->storage->refCount, 1u);
}

}  // namespace
