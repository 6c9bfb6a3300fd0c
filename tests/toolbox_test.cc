#include "vantir3/framework/toolbox.h"

#include <gtest/gtest.h>

#include <tuple>

#include "kol_utils/kol_utils.h"

namespace {

uint32_t Uid(const char* code) { return KOL::Str2UID(code); }

// The catalogue a host shows: category rows and creatable types in order,
// each type row agreeing with the lookup by position and its declaration.
TEST(Toolbox, CatalogueRowsInOrder) {
    CCdpProcessToolbox toolbox;
    std::vector<CCdpProcessToolbox::SProcessTypeDef> rows;
    toolbox.GetProcessTypeDefArray(rows);
    const std::vector<std::tuple<int, const char*, const char*, uint32_t>> expected = {
        {0, "DATPRC", "Data Processing", 0}, {0, "GAIN@@", "Gain", 1},      {1, "SECCGN", "SEC2 Gain", 2},
        {1, "AGC@@@", "AGC Gain", 2},        {1, "DVLGN@", "DVL Gain", 2},  {1, "CONST@", "Constant Gain", 2},
        {0, "FILTER", "Filter", 1},          {0, "TIMFLT", "Time Filter", 1}, {1, "DEWOW@", "Dewow", 3},
        {0, "OPERTN", "Operation", 1},       {1, "ANDSEP", "DeSeparate", 3}, {1, "COMBSH", "Topo shift", 3},
        {0, "OTHER@", "Other", 0}};
    ASSERT_EQ(rows.size(), expected.size());
    unsigned seen = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto& row = rows[i];
        const auto& [kind, code, name, level] = expected[i];
        EXPECT_EQ(std::make_tuple(row.kind, row.uid, row.name, row.level),
                  std::make_tuple(kind, static_cast<decltype(row.uid)>(Uid(code)), std::string(name), level));
        if (row.kind != 1) continue;
        CCdpProcessToolbox::SProcessTypeDef got;
        EXPECT_EQ(toolbox.GetAvailableProcessUID(seen++, &got), row.uid);
        EXPECT_EQ(std::make_pair(got.name, got.level), std::make_pair(row.name, row.level));
        EXPECT_EQ(row.name, toolbox.GetDeclaration(static_cast<unsigned>(row.uid), -1));
        EXPECT_EQ(row.description, toolbox.GetDeclaration(static_cast<unsigned>(row.uid), -2));
    }
    EXPECT_EQ(rows.back().description, "");
    EXPECT_EQ(toolbox.GetAvailableProcessCount(), seen);
    EXPECT_EQ(seen, 7u);
    CCdpProcessToolbox::SProcessTypeDef untouched;
    untouched.name = "keep";
    EXPECT_EQ(toolbox.GetAvailableProcessUID(seen, &untouched), 0ul);
    EXPECT_EQ(untouched.name, "keep");
    for (const auto& c : {std::make_pair("SECCGN", 3u), std::make_pair("AGC@@@", 2u), std::make_pair("DVLGN@", 2u),
                          std::make_pair("COMBSH", 2u), std::make_pair("CONST@", 1u), std::make_pair("DEWOW@", 1u),
                          std::make_pair("ANDSEP", 1u), std::make_pair("MMREDU", 0u)})
        EXPECT_EQ(toolbox.GetDeclarationParamCount(Uid(c.first)), c.second) << c.first;
}

TEST(Toolbox, FactoryCreatesOnlyProcessClasses) {
    CCdpProcessToolbox toolbox;
    // Categories, algorithm-only types and types created by hand are not made.
    for (const char* code : {"TOPOSH", "BGSUB@", "MMREDU", "ENVLP@", "MIGRAT", "GAIN@@", "DATPRC"}) {
        EXPECT_EQ(toolbox.GetProcess(Uid(code)), nullptr) << code;
        EXPECT_EQ(toolbox.GetDeclaration(Uid(code), -1), "") << code;
    }
    CCdpProcess* a = toolbox.GetProcess(Uid("CONST@"));
    CCdpProcess* b = toolbox.GetProcess(Uid("CONST@"));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    toolbox.ReleaseProcess(a);
    EXPECT_EQ(b->GetParams(), "GAIN@@=100.00");
    toolbox.ReleaseProcess(nullptr);
    toolbox.ReleaseProcess(a);  // no longer held: ignored, not destroyed twice
    // Declarations come from the registration instance, not a changed one.
    ASSERT_EQ(b->SetParams("GAIN@@=7"), 0);
    std::string text;
    EXPECT_TRUE(toolbox.GetDeclaration(text, Uid("CONST@"), 0));
    EXPECT_EQ(text.substr(0, 19), "D\nGAIN@@=100.000000");
    EXPECT_FALSE(toolbox.GetDeclaration(text, Uid("CONST@"), 1));
    EXPECT_EQ(text, "");
}

// Setting to defaults re-applies each declaration's current value, which is
// the process's own; parameters whose declaration carries a units line are
// left out, their values stay.
TEST(Toolbox, ParamsToDefaultsRestatesCurrentValues) {
    CCdpProcessToolbox toolbox;
    EXPECT_EQ(toolbox.SetProcessParamsToDefaults(nullptr), 0);
    CCdpProcess* p = toolbox.GetProcess(Uid("CONST@"));
    EXPECT_EQ(toolbox.SetProcessParamsToDefaults(p), 0);
    EXPECT_EQ(p->GetParams(), "GAIN@@=100.00");
    ASSERT_EQ(p->SetParams("GAIN@@=2000"), 0);
    EXPECT_EQ(toolbox.SetProcessParamsToDefaults(p), 0);
    EXPECT_EQ(p->GetParams(), "GAIN@@=2000.00");
    CCdpProcess* agc = toolbox.GetProcess(Uid("AGC@@@"));
    ASSERT_EQ(agc->SetParams("WINDOW=2.5\nMAXGN@=2000"), 0);
    EXPECT_EQ(toolbox.SetProcessParamsToDefaults(agc), 0);
    EXPECT_EQ(agc->GetParams(), "WINDOW=2.5\nMAXGN@=2000");
}

}  // namespace
