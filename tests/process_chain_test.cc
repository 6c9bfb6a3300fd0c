#include "vantir3/framework/process_chain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "kol_utils/kol_utils.h"
#include "tests/support/test_source.h"

namespace {

const uint32_t kConst = KOL::Str2UID("CONST@");

TEST(ProcessChain, EmptyChainPassesTheRawSourceThrough) {
    vantir3_test::TestSource source(8, 2);
    CProcessChain chain(&source);
    EXPECT_EQ(chain.Size(), 0u);
    EXPECT_EQ(chain.ResultData(), &source);
    EXPECT_EQ(chain.GetProcessPtr(0), nullptr);
    EXPECT_NE(chain.GetToolboxPtr(), nullptr);
    EXPECT_FALSE(chain.AddProcess(KOL::Str2UID("MIGRAT"), -1, false));
    EXPECT_FALSE(chain.RemoveProcess(0));
}

TEST(ProcessChain, InsertsRemovesAndRelinksSources) {
    vantir3_test::TestSource source(32, 4);
    CProcessChain chain(&source);
    ASSERT_TRUE(chain.AddProcess(kConst, -1, false));
    CCdpProcess* first = chain.GetProcessPtr(0);
    EXPECT_EQ(first->GetDataSource(), &source);
    EXPECT_EQ(chain.ResultData(), first);
    ASSERT_TRUE(chain.AddProcess(kConst, 1, true));
    CCdpProcess* second = chain.GetProcessPtr(1);
    EXPECT_EQ(second->GetDataSource(), first);
    // Insert in front: the new process reads the raw source.
    ASSERT_TRUE(chain.AddProcess(kConst, 0, false));
    CCdpProcess* front = chain.GetProcessPtr(0);
    EXPECT_EQ(front->GetDataSource(), &source);
    EXPECT_EQ(first->GetDataSource(), front);
    EXPECT_EQ(chain.ResultData(), second);
    EXPECT_FALSE(chain.AddProcess(kConst, 4, false));
    EXPECT_EQ(chain.Size(), 3u);
    ASSERT_TRUE(chain.AddProcess(kConst, 3, false));
    EXPECT_EQ(chain.Size(), 4u);
    EXPECT_TRUE(chain.RemoveProcess(3));
    // Three gains of 2, 3 and 0.5 in a row.
    front->SetParams("GAIN@@=2");
    first->SetParams("GAIN@@=3");
    second->SetParams("GAIN@@=0.5");
    int host = 0;
    MeboDataPtr out;
    MeboDataPtrClear(&out);
    ASSERT_EQ(chain.ResultData()->GetDataCdp(out, nullptr, &host), 0);
    auto gain = [](double g, double x) { return std::clamp(std::floor(0.5 + g * x), -32767.0, 32767.0); };
    for (int32_t i = 0; i < 32; ++i)
        EXPECT_EQ(vantir3_test::SampleAt(out, i, 1), gain(0.5, gain(3, gain(2, source.At(i, 1)))));
    EXPECT_TRUE(second->SourceChanged(&host));
    EXPECT_TRUE(first->SourceChanged(second));
    // Removing relinks everything and forgets every requester.
    ASSERT_TRUE(chain.RemoveProcess(1));
    EXPECT_EQ(second->GetDataSource(), front);
    EXPECT_FALSE(second->SourceChanged(&host));
    EXPECT_FALSE(front->SourceChanged(second));
    EXPECT_EQ(first->GetDataSource(), front);  // removed, untouched, still alive
    chain.GetToolboxPtr()->ReleaseProcess(first);
    ASSERT_TRUE(chain.RemoveProcess(0));
    ASSERT_TRUE(chain.RemoveProcess(0));
    EXPECT_EQ(chain.ResultData(), &source);
    MeboDataPtrRelease(&out);
}

}  // namespace
