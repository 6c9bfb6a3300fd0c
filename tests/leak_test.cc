// Ownership over a whole session: a toolbox and a chain create every process
// type of the catalogue, each process gets a source, parameters, fetches and
// shared auxiliary buffers, and everything is destroyed again. In the
// sanitizer build (leak detection on) the run proves that nothing leaks and
// nothing is freed twice; in every build the reference counts of the shared
// buffers show that each holder gives back exactly its own reference.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_source.h"
#include "vantir3/data/data_buffer.h"
#include "vantir3/framework/process.h"
#include "vantir3/framework/process_chain.h"
#include "vantir3/framework/toolbox.h"

#if __has_include("vantir3/processes/background_subtract.h")
#include "vantir3/processes/background_subtract.h"
#define VANTIR3_TEST_HAVE_BGSUB 1
#endif

namespace {

using vantir3_test::TestSource;

// The whole profile of the source as a request.
Mebo3DDataAxis WholeRegion(const TestSource& source) { return source.Data().axis; }

// Sets parameters, reads every text and fetches twice into the same output
// (the second fetch must drop the first result). Returns the last status.
int Exercise(CCdpProcessToolbox& toolbox, CCdpProcess* process, const TestSource& source,
             MeboDataPtr* aux) {
    process->SetDataSource(&source);
    EXPECT_GE(toolbox.SetProcessParamsToDefaults(process), 0);
    const std::string params = process->GetParams();
    EXPECT_EQ(process->SetParams(params.c_str()), 0) << params;
    const int count = static_cast<int>(process->GetParamCount());
    for (int index = -3; index <= count; ++index) {
        std::string text;
        process->GetDeclaration(text, index);
    }
    // A refused text keeps nothing of its working copy.
    EXPECT_LT(process->SetParams(std::string(4000, 'x').c_str()), 0);
    EXPECT_EQ(process->SetAuxDataCdp(aux), 0);

    const Mebo3DDataAxis region = WholeRegion(source);
    MeboDataPtr out;
    MeboDataPtrClear(&out);
    process->GetDataCdp(out, &region, &out);
    const int status = process->GetDataCdp(out, &region, &out);
    MeboDataPtrRelease(&out);
    return status;
}

TEST(Leaks, EveryProcessTypeThroughToolboxAndChain) {
    TestSource source(96, 24, 2);
    MeboDataPtr aux;
    MeboDataPtrClear(&aux);
    ASSERT_EQ(MeboDataPtrAllocate(&aux, 2, 0, 95, 0, 23, 0, 1, 1), 1);
    MeboDataStorage* auxStorage = aux.storage;

    {
        CProcessChain chain(&source);
        CCdpProcessToolbox toolbox;
        const unsigned types = toolbox.GetAvailableProcessCount();
        ASSERT_GT(types, 0u);

        std::vector<CCdpProcess*> made;
        for (unsigned i = 0; i < types; ++i) {
            CCdpProcessToolbox::SProcessTypeDef row;
            const unsigned uid = static_cast<unsigned>(toolbox.GetAvailableProcessUID(i, &row));
            ASSERT_NE(uid, 0u);
            // Two of each: one released by hand, one left to the toolbox.
            for (int copy = 0; copy < 2; ++copy) {
                CCdpProcess* process = toolbox.GetProcess(uid);
                ASSERT_NE(process, nullptr) << row.name;
                EXPECT_EQ(process->GetProcessUID(), uid);
                Exercise(toolbox, process, source, &aux);
                made.push_back(process);
            }
            ASSERT_TRUE(chain.AddProcess(uid, -1, false)) << row.name;
        }
        EXPECT_EQ(auxStorage->refCount, 1u + 2u * types);

        // Replacing and dropping an auxiliary buffer gives back the reference.
        MeboDataPtr other;
        MeboDataPtrClear(&other);
        ASSERT_EQ(MeboDataPtrAllocateCounts(&other, 2, 8, 4, 1, 1), 1);
        made[0]->SetAuxDataCdp(&other);
        made[1]->SetAuxDataCdp(nullptr);
        made[1]->SetAuxDataCdp(nullptr);
        EXPECT_EQ(auxStorage->refCount, 1u + 2u * types - 2u);
        EXPECT_EQ(other.storage->refCount, 2u);
        MeboDataPtrRelease(&other);  // made[0] keeps it alive

        for (size_t k = 0; k < made.size(); k += 2) toolbox.ReleaseProcess(made[k]);
        EXPECT_EQ(auxStorage->refCount, 1u + types - 1u);

        // Fetch through the whole chain, then take it apart step by step.
        const Mebo3DDataAxis region = WholeRegion(source);
        MeboDataPtr out;
        MeboDataPtrClear(&out);
        for (uint32_t k = 0; k < chain.Size(); ++k) {
            chain.GetProcessPtr(k)->SetAuxDataCdp(&aux);
            chain.GetToolboxPtr()->SetProcessParamsToDefaults(chain.GetProcessPtr(k));
        }
        chain.ResultData()->GetDataCdp(out, &region, &chain);
        chain.ResultData()->GetDataCdp(out, &region, &chain);
        MeboDataPtrRelease(&out);
        while (chain.Size() > 1) {
            ASSERT_TRUE(chain.RemoveProcess(0));
            chain.ResultData()->GetDataCdp(out, &region, &chain);
            MeboDataPtrRelease(&out);
        }
        // The last process stays in the chain; the chain's toolbox destroys it.
    }
    // Every process that held the auxiliary buffer is gone.
    EXPECT_EQ(auxStorage->refCount, 1u);
    MeboDataPtrRelease(&aux);
}

#ifdef VANTIR3_TEST_HAVE_BGSUB
TEST(Leaks, BackgroundSubtractProcess) {
    TestSource source(64, 40, 1);
    CCdpProcessToolbox toolbox;
    MeboDataPtr background;
    MeboDataPtrClear(&background);
    ASSERT_EQ(MeboDataPtrAllocate(&background, 2, 0, 63, 0, 0, 0, 0, 1), 1);
    {
        CCdpPrcBackgroundSubtract process;
        Exercise(toolbox, &process, source, &background);
        EXPECT_EQ(background.storage->refCount, 2u);
    }
    EXPECT_EQ(background.storage->refCount, 1u);
    MeboDataPtrRelease(&background);
}
#endif

}  // namespace
