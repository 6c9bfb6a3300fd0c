#include "vantir3/framework/declaration_param.h"

#include <cstring>
#include <string>
#include <utility>

#include <gtest/gtest.h>

namespace {

std::string MaxGain(const char* value) {
    return std::string("D\nMAXGN@=") + value +
           "\n500\n1\n32767\n1\n20;50;200;500;2000;5000\nMaximum Gain\n"
           "Specifies the maximum applied gain. Once this value is reached, the gain will not "
           "increase further. Used to avoid excessive gain for very small signals.";
}

// SetVal's result and the value text it leaves.
std::pair<int, std::string> Set(CDeclarationParam& p, const char* text) {
    const int r = p.SetVal(text);
    return {r, p.GetVal(false) ? p.GetVal(false) : "(null)"};
}

TEST(DeclarationParamTest, MaximumGainWorkedExample) {
    CDeclarationParam p;
    ASSERT_TRUE(p.SetDefStr(MaxGain("500.000000").c_str()));
    EXPECT_EQ(p.GetType(), 'D');
    EXPECT_STREQ(p.GetVal(false), "500");
    EXPECT_STREQ(p.GetVal(true), "MAXGN@=500");
    EXPECT_STREQ(p.Get(CDeclarationParam::PS_CODE), "MAXGN@=");
    EXPECT_STREQ(p.Get(CDeclarationParam::PS_MAX), "32767");
    EXPECT_STREQ(p.Get(CDeclarationParam::PS_LABEL), "Maximum Gain");
    EXPECT_EQ(p.Get(static_cast<CDeclarationParam::EParamSpec>(9)), nullptr);
    EXPECT_EQ(p.GetPrecision(), 0);
    EXPECT_EQ(p.GetListCount(), 6);
    // List entries by index; indices outside the list change nothing.
    EXPECT_EQ(p.SetToListVal(4), 1);
    EXPECT_STREQ(p.GetVal(false), "2000");
    EXPECT_EQ(p.SetToListVal(6) + p.SetToListVal(-1), 0);
    EXPECT_STREQ(p.GetVal(false), "2000");
    // Out of bounds: clamped, reported as an adjustment (-1); not a number: 0.
    EXPECT_EQ(Set(p, "40000"), std::make_pair(-1, std::string("32767")));
    EXPECT_EQ(Set(p, "-5"), std::make_pair(-1, std::string("1")));
    EXPECT_EQ(p.SetVal("abc") + p.SetVal(nullptr), 0);
    EXPECT_EQ(p.GetDefinition(), MaxGain("1"));
    // Rounding to the whole-number resolution is an adjustment.
    EXPECT_EQ(Set(p, " 20.4 "), std::make_pair(-1, std::string("20")));
    EXPECT_EQ(Set(p, "7.55e1"), std::make_pair(-1, std::string("76")));
    // The held value, not the default, goes through SetVal again.
    EXPECT_EQ(p.SetVal("750"), 1);
    EXPECT_EQ(p.SetToDefault(), 1);
    EXPECT_STREQ(p.GetVal(false), "750");
    // Copies are independent.
    CDeclarationParam copy(p);
    EXPECT_EQ(copy.SetVal("5000"), 1);
    EXPECT_STREQ(p.GetVal(false), "750");
    p = copy;
    EXPECT_STREQ(p.GetVal(true), "MAXGN@=5000");
}

TEST(DeclarationParamTest, ResolutionsAndTypeLetters) {
    CDeclarationParam p;
    ASSERT_TRUE(p.SetDefStr("D\nWINDOW=1.500000\n1.5\n0.1\n1000.0\n0.1\n1.5\nWindow Width\nWidth."));
    EXPECT_STREQ(p.GetVal(true), "WINDOW=1.5");
    EXPECT_EQ(p.GetPrecision(), 1);
    EXPECT_EQ(p.GetListCount(), 1);
    EXPECT_EQ(Set(p, "0.05"), std::make_pair(-1, std::string("0.1")));
    EXPECT_EQ(p.SetVal("2xyz"), 0);
    ASSERT_TRUE(p.SetDefStr("D\nALPHA@=1.000000\n1.00\n0.01\n100.00\n0.01\n0.10;0.50;1.00;100.00;\nAlpha\nExponent."));
    EXPECT_STREQ(p.GetVal(false), "1.00");
    EXPECT_EQ(p.GetListCount(), 5);
    EXPECT_EQ(p.SetToListVal(4), 0);  // the empty entry after the last ";"
    EXPECT_EQ(p.SetToListVal(3), 1);
    EXPECT_STREQ(p.GetVal(false), "100.00");
    // C: one letter; T: free text; L: whole numbers on a grid; l: unsigned.
    ASSERT_TRUE(p.SetDefStr("C\nMODE@@=a\na\n\n\n\n\nMode\nOne letter."));
    EXPECT_EQ(Set(p, "xyz"), std::make_pair(-1, std::string("x")));
    ASSERT_TRUE(p.SetDefStr("T\nNAME@@=any text\n\n\n\n\n\nName\nFree text."));
    EXPECT_EQ(Set(p, "  -12 abc "), std::make_pair(1, std::string("  -12 abc ")));
    ASSERT_TRUE(p.SetDefStr("L\nSTEP@@=4\n4\n-10\n10\n2\n\nStep\nEven steps."));
    EXPECT_EQ(Set(p, "3"), std::make_pair(-1, std::string("4")));  // rounded to the grid of 2
    EXPECT_EQ(Set(p, "-20"), std::make_pair(-1, std::string("-10")));
    EXPECT_EQ(p.SetVal("2.0"), 0);
    EXPECT_FALSE(p.SetDefStr("L\nSTEP@@=5\n4\n-10\n10\n2\n\nStep\nEven steps."));
    ASSERT_TRUE(p.SetDefStr("l\nCOUNT@=3\n3\n1\n9\n1\n\nCount\nUnsigned."));
    EXPECT_EQ(Set(p, "-1"), std::make_pair(0, std::string("3")));
    // Without bounds or resolution: whole numbers saturate instead of
    // overflowing, reals print with six decimals.
    ASSERT_TRUE(p.SetDefStr("S\nBIG@@@=1\n\n\n\n\n\nBig\nNo bounds."));
    EXPECT_EQ(p.GetPrecision(), -1);
    EXPECT_EQ(Set(p, "9223372036854775807"), std::make_pair(1, std::string("9223372036854775807")));
    ASSERT_TRUE(p.SetDefStr("F\nREAL@@=1\n\n\n\n\n\nReal\nNo bounds."));
    EXPECT_STREQ(p.GetVal(false), "1.000000");
    EXPECT_EQ(Set(p, "-2.5e-3"), std::make_pair(1, std::string("-0.002500")));
}

TEST(DeclarationParamTest, RefusedDeclarationsAndEmptyObject) {
    CDeclarationParam p;
    EXPECT_EQ(p.GetType(), '\0');
    EXPECT_TRUE(p.Get(CDeclarationParam::PS_TYPE) == nullptr && p.GetVal(true) == nullptr);
    EXPECT_EQ(p.GetPrecision() + p.GetListCount(), -2);
    EXPECT_EQ(p.SetVal("1") + p.SetToListVal(0) + p.SetToDefault(), 0);
    double v = 1.25;
    EXPECT_TRUE(p.ExactResolution(v));
    EXPECT_EQ(v, 1.25);
    // A default that needs rounding or lies out of bounds, no default, an
    // unknown type letter, a units line.
    for (const std::string& bad : {std::string(), MaxGain("500.5"), MaxGain("40000"), MaxGain(""),
                                   "s" + MaxGain("500").substr(1), "X" + MaxGain("500").substr(1),
                                   MaxGain("500") + "\nm/ns"})
        EXPECT_FALSE(p.SetDefStr(bad.c_str())) << bad;
    EXPECT_FALSE(p.SetDefStr(nullptr));
    EXPECT_EQ(p.GetType(), '\0');
    EXPECT_EQ(p.GetDefinition(), nullptr);
    // No "=" (or no line break after it): the text stays readable, no value.
    EXPECT_FALSE(p.SetDefStr("D\nCODE\n1"));
    EXPECT_EQ(p.GetType(), 'D');
    EXPECT_STREQ(p.Get(CDeclarationParam::PS_CODE), "CODE");
    EXPECT_EQ(p.GetVal(false), nullptr);
    EXPECT_EQ(p.GetDefinition(), nullptr);
    EXPECT_FALSE(p.SetDefStr("D\nCODE=1"));
    EXPECT_EQ(p.GetVal(true), nullptr);
    EXPECT_EQ(Set(p, "2"), std::make_pair(1, std::string("2.000000")));  // no resolution line: six decimals
}

TEST(DeclarationParamTest, HostileTexts) {
    CDeclarationParam p;
    // Thousands of decimals in the resolution: printing is capped.
    const std::string resolution = "0." + std::string(5000, '0') + "1";
    ASSERT_TRUE(p.SetDefStr(("D\nTINY@@=1\n1\n0\n10\n" + resolution + "\n\nTiny\nD.").c_str()));
    EXPECT_EQ(p.GetPrecision(), 5001);
    EXPECT_EQ(std::strlen(p.GetVal(false)), 342u);
    EXPECT_EQ(std::string(p.GetVal(false)).substr(0, 5), "1.000");
    // A huge value line and a long list of empty entries.
    const std::string value = std::string(100000, '0') + "42", list(100000, ';');
    ASSERT_TRUE(p.SetDefStr(("L\nLONG@@=" + value + "\n\n\n\n\n" + list + "\nLong\nD.").c_str()));
    EXPECT_EQ(p.GetListCount(), 100001);
    EXPECT_EQ(p.SetToListVal(50000) + p.SetVal(std::string(1000000, '9').c_str()), 0);  // empty entry, out of range
    EXPECT_STREQ(p.GetVal(false), "42");
}

}  // namespace
