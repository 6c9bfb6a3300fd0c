#include "vantir3/framework/toolbox.h"

#include <gtest/gtest.h>

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
