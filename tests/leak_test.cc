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
#include "vantir3/framework/process_chain.h"
#include "vantir3/framework/toolbox.h"
#include "vantir3/processes/background_subtract.h"

namespace {

using namespace vantir3_test;

// Sets parameters, reads every text, refuses a text, takes the auxiliary
// buffer and fetches twice into the same output (the second fetch must drop
// the first result).
void Exercise(CCdpProcessToolbox& toolbox, CCdpProcess* process, const TestSource& source, MeboDataPtr* aux) {
    process->SetDataSource(&source);
    EXPECT_GE(toolbox.SetProcessParamsToDefaults(process), 0);
    const std::string params = process->GetParams();
    EXPECT_EQ(process->SetParams(params.c_str()), 0) << params;
    for (int index = -3; index <= static_cast<int>(process->GetParamCount()); ++index) {
        std::string text;
        process->GetDeclaration(text, index);
    }
    EXPECT_LT(process->SetParams(std::string(4000, 'x').c_str()), 0);
    EXPECT_EQ(process->SetAuxDataCdp(aux), 0);
    const Mebo3DDataAxis region = source.Data().axis;
    MeboDataPtr out = Empty();
    process->GetDataCdp(out, &region, &out);
    process->GetDataCdp(out, &region, &out);
    MeboDataPtrRelease(&out);
}

TEST(Leaks, EveryProcessTypeThroughToolboxAndChain) {
    TestSource source(96, 24, 2);
    MeboDataPtr aux = Zeroed(2, 96, 24, 2);
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
        MeboDataPtr other = Zeroed(2, 8, 4);
        made[0]->SetAuxDataCdp(&other);
        made[1]->SetAuxDataCdp(nullptr);
        made[1]->SetAuxDataCdp(nullptr);
        EXPECT_EQ(auxStorage->refCount, 1u + 2u * types - 2u);
        EXPECT_EQ(other.storage->refCount, 2u);
        MeboDataPtrRelease(&other);  // made[0] keeps it alive
        for (size_t k = 0; k < made.size(); k += 2) toolbox.ReleaseProcess(made[k]);
        EXPECT_EQ(auxStorage->refCount, 1u + types - 1u);
        // A process created by hand, not by the toolbox.
        {
            CCdpPrcBackgroundSubtract process;
            Exercise(toolbox, &process, source, &aux);
            EXPECT_EQ(auxStorage->refCount, 1u + types);
        }
        EXPECT_EQ(auxStorage->refCount, 1u + types - 1u);
        // Fetch through the whole chain, then take it apart step by step.
        const Mebo3DDataAxis region = source.Data().axis;
        MeboDataPtr out = Empty();
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

}  // namespace
