#include "vantir3/framework/toolbox.h"

#include <gtest/gtest.h>

#include <tuple>

#include "kol_utils/kol_utils.h"

namespace {

uint32_t Uid(const char* code) { return KOL::Str2UID(code); }

TEST(Toolbox, CatalogueListsCategoriesAndCreatableTypesInOrder) {
    CCdpProcessToolbox toolbox;
    std::vector<CCdpProcessToolbox::SProcessTypeDef> rows;
    toolbox.GetProcessTypeDefArray(rows);
    // Category rows are always there, in this order, with these levels.
    const std::vector<std::pair<const char*, uint32_t>> categories = {
        {"DATPRC", 0}, {"GAIN@@", 1}, {"FILTER", 1}, {"TIMFLT", 1}, {"OPERTN", 1}, {"OTHER@", 0}};
    size_t c = 0;
    for (const auto& row : rows) {
        if (row.kind != 0) continue;
        ASSERT_LT(c, categories.size());
        EXPECT_EQ(row.uid, Uid(categories[c].first));
        EXPECT_EQ(row.level, categories[c].second);
        ++c;
    }
    EXPECT_EQ(c, categories.size());
    EXPECT_EQ(rows.front().name, "Data Processing");
    EXPECT_EQ(rows.back().name, "Other");
    EXPECT_EQ(rows.back().description, "");

    // Each process row matches its registration order and its declaration.
    const unsigned n = toolbox.GetAvailableProcessCount();
    unsigned seen = 0;
    for (const auto& row : rows) {
        if (row.kind != 1) continue;
        CCdpProcessToolbox::SProcessTypeDef got;
        EXPECT_EQ(toolbox.GetAvailableProcessUID(seen, &got), row.uid);
        EXPECT_EQ(got.name, row.name);
        EXPECT_EQ(got.level, row.level);
        EXPECT_EQ(row.name, toolbox.GetDeclaration(static_cast<unsigned>(row.uid), -1));
        EXPECT_EQ(row.description, toolbox.GetDeclaration(static_cast<unsigned>(row.uid), -2));
        ++seen;
    }
    EXPECT_EQ(seen, n);
    EXPECT_GE(n, 1u);
    CCdpProcessToolbox::SProcessTypeDef untouched;
    untouched.name = "keep";
    EXPECT_EQ(toolbox.GetAvailableProcessUID(n, &untouched), 0ul);
    EXPECT_EQ(untouched.name, "keep");

    // The constant gain row.
    bool found = false;
    for (const auto& row : rows) {
        if (row.uid != 21608931ul) continue;
        found = true;
        EXPECT_EQ(row.kind, 1);
        EXPECT_EQ(row.name, "Constant Gain");
        EXPECT_EQ(row.level, 2u);
    }
    EXPECT_TRUE(found);
}

TEST(Toolbox, FactoryCreatesOnlyProcessClasses) {
    CCdpProcessToolbox toolbox;
    for (const char* code : {"TOPOSH", "BGSUB@", "MMREDU", "ENVLP@", "MIGRAT", "GAIN@@", "DATPRC"}) {
        EXPECT_EQ(toolbox.GetProcess(Uid(code)), nullptr) << code;
        EXPECT_EQ(toolbox.GetDeclaration(Uid(code), -1), "") << code;
        EXPECT_EQ(toolbox.GetDeclarationParamCount(Uid(code)), 0u) << code;
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
    EXPECT_EQ(toolbox.GetDeclarationParamCount(Uid("CONST@")), 1u);
}

TEST(Toolbox, DeclarationsComeFromTheRegistrationInstance) {
    CCdpProcessToolbox toolbox;
    CCdpProcess* p = toolbox.GetProcess(Uid("CONST@"));
    ASSERT_EQ(p->SetParams("GAIN@@=7"), 0);
    std::string text;
    EXPECT_TRUE(toolbox.GetDeclaration(text, Uid("CONST@"), 0));
    EXPECT_EQ(text.substr(0, 19), "D\nGAIN@@=100.000000");
    EXPECT_FALSE(toolbox.GetDeclaration(text, Uid("CONST@"), 1));
    EXPECT_EQ(text, "");
}

TEST(Toolbox, ParamsToDefaultsRestatesCurrentValues) {
    CCdpProcessToolbox toolbox;
    EXPECT_EQ(toolbox.SetProcessParamsToDefaults(nullptr), 0);
    CCdpProcess* p = toolbox.GetProcess(Uid("CONST@"));
    EXPECT_EQ(toolbox.SetProcessParamsToDefaults(p), 0);
    EXPECT_EQ(p->GetParams(), "GAIN@@=100.00");
    ASSERT_EQ(p->SetParams("GAIN@@=2000"), 0);
    EXPECT_EQ(toolbox.SetProcessParamsToDefaults(p), 0);
    EXPECT_EQ(p->GetParams(), "GAIN@@=2000.00");
}

}  // namespace

namespace {

TEST(Toolbox, FullCatalogueOfThirteenRows) {
    CCdpProcessToolbox toolbox;
    std::vector<CCdpProcessToolbox::SProcessTypeDef> rows;
    toolbox.GetProcessTypeDefArray(rows);
    const std::vector<std::tuple<int, const char*, const char*, uint32_t>> expected = {
        {0, "DATPRC", "Data Processing", 0}, {0, "GAIN@@", "Gain", 1},
        {1, "SECCGN", "SEC2 Gain", 2},       {1, "AGC@@@", "AGC Gain", 2},
        {1, "DVLGN@", "DVL Gain", 2},        {1, "CONST@", "Constant Gain", 2},
        {0, "FILTER", "Filter", 1},          {0, "TIMFLT", "Time Filter", 1},
        {1, "DEWOW@", "Dewow", 3},           {0, "OPERTN", "Operation", 1},
        {1, "ANDSEP", "DeSeparate", 3},      {1, "COMBSH", "Topo shift", 3},
        {0, "OTHER@", "Other", 0}};
    ASSERT_EQ(rows.size(), expected.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].kind, std::get<0>(expected[i])) << i;
        EXPECT_EQ(rows[i].uid, Uid(std::get<1>(expected[i]))) << i;
        EXPECT_EQ(rows[i].name, std::get<2>(expected[i])) << i;
        EXPECT_EQ(rows[i].level, std::get<3>(expected[i])) << i;
    }
    EXPECT_EQ(toolbox.GetAvailableProcessCount(), 7u);
    CCdpProcessToolbox::SProcessTypeDef row;
    EXPECT_EQ(toolbox.GetAvailableProcessUID(0, &row), 477203635ul);
    EXPECT_EQ(row.name, "SEC2 Gain");
    EXPECT_EQ(toolbox.GetAvailableProcessUID(6, &row), 288437731ul);
    EXPECT_EQ(row.name, "Topo shift");
    EXPECT_EQ(row.level, 3u);
    const std::vector<std::pair<const char*, unsigned>> counts = {
        {"SECCGN", 3}, {"AGC@@@", 2}, {"DVLGN@", 2}, {"COMBSH", 2},
        {"CONST@", 1}, {"DEWOW@", 1}, {"ANDSEP", 1}, {"MMREDU", 0}};
    for (const auto& c : counts) EXPECT_EQ(toolbox.GetDeclarationParamCount(Uid(c.first)), c.second) << c.first;
    EXPECT_EQ(toolbox.GetDeclaration(Uid("AGC@@@"), 0).substr(0, 17), "D\nWINDOW=1.500000");
    EXPECT_EQ(toolbox.GetDeclaration(Uid("DEWOW@"), -1), "Dewow");
    EXPECT_EQ(toolbox.GetDeclaration(Uid("DEWOW@"), 1), "");
}

TEST(Toolbox, ParamsToDefaultsLeavesUnitsLineParametersOut) {
    CCdpProcessToolbox toolbox;
    CCdpProcess* dewow = toolbox.GetProcess(Uid("DEWOW@"));
    ASSERT_NE(dewow, nullptr);
    ASSERT_EQ(dewow->SetParams("WINDOW=3.5"), 0);
    EXPECT_EQ(toolbox.SetProcessParamsToDefaults(dewow), 0);
    EXPECT_EQ(dewow->GetParams(), "WINDOW=3.50");
    CCdpProcess* agc = toolbox.GetProcess(Uid("AGC@@@"));
    ASSERT_EQ(agc->SetParams("WINDOW=2.5\nMAXGN@=2000"), 0);
    EXPECT_EQ(toolbox.SetProcessParamsToDefaults(agc), 0);
    EXPECT_EQ(agc->GetParams(), "WINDOW=2.5\nMAXGN@=2000");
}

}  // namespace
