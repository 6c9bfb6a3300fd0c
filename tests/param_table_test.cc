#include "vantir3/framework/param_table.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <string>

#include "vantir3/processes/agc_gain.h"

namespace vantir3 {
namespace {

// The AGC gain's table: two parameters of different precisions.
const ProcessDecl& kDecl = kAgcGainDecl;

TEST(ParamTable, GridCheckAcceptsDeclaredValuesAndRejectsOffGridOnes) {
    struct Case { double v, lo, hi, step; bool ok; };
    for (const Case& c : {Case{1.5, 0.1, 1000, 0.1, true}, Case{0.07, 0.01, 100, 0.01, true},
                          Case{32767, 0.01, 32767, 0.01, true}, Case{0.3, 0.003, 0.3, 0.001, true},
                          Case{0.123456, 0, 1, 0, true}, Case{1.55, 0.1, 1000, 0.1, false},
                          Case{3, 0, 10, 2, false}, Case{0.05, 0.1, 1000, 0.1, false},
                          Case{1000.1, 0.1, 1000, 0.1, false}, Case{std::nan(""), -DBL_MAX, DBL_MAX, 0, false},
                          // A grid finer than the doubles: the datum bounds themselves pass.
                          Case{DBL_MAX, -DBL_MAX, DBL_MAX, 0.001, true}, Case{-DBL_MAX, -DBL_MAX, DBL_MAX, 0.001, true},
                          Case{-12.5, -DBL_MAX, DBL_MAX, 0.001, true}, Case{-12.5005, -DBL_MAX, DBL_MAX, 0.001, false}})
        EXPECT_EQ(IsValidParamValue(c.v, c.lo, c.hi, c.step), c.ok) << c.v << " in " << c.lo << ".." << c.hi;
}

// Leading numbers as atof reads them, except that numbers beyond the doubles
// become infinity or 0 by where their first non-zero digit stands, not by
// the sign of the exponent or a zero integer part alone (found by fuzzing:
// 0.5e400 used to read as 0).
TEST(ParamTable, ReadsLeadingNumbers) {
    struct Case { const char* text; double value; };
    for (const Case& c : {Case{"2xyz", 2.0}, Case{"", 0.0}, Case{"  -1.25e2x", -125.0}, Case{".5", 0.5},
                          Case{"5.", 5.0}, Case{"3e", 3.0}, Case{"+7", 7.0}, Case{"abc", 0.0}, Case{"nan", 0.0},
                          Case{"inf", 0.0}, Case{"1e999", HUGE_VAL}, Case{"1e-999", 0.0}, Case{"0.5e400", HUGE_VAL},
                          Case{"-0.5e400", -HUGE_VAL}, Case{".5e400", HUGE_VAL}, Case{"0.000001e315", HUGE_VAL},
                          Case{"1000e-400", 0.0}, Case{"50e-400x", 0.0}, Case{"0.0001e-320", 0.0},
                          Case{"1e99999999999999999999", HUGE_VAL},
                          Case{"00000000000000000000000000000009e308", HUGE_VAL}})
        EXPECT_EQ(ReadLeadingNumber(c.text), c.value) << c.text;
    EXPECT_TRUE(std::signbit(ReadLeadingNumber("-1e-400")));
    // A parameter bounded by the largest doubles refuses the overflowing
    // value instead of storing 0.
    constexpr ParamDecl kWide[] = {{"DATUM@", 'D', 3, 0.0, -DBL_MAX, DBL_MAX, 0.001, "0.000\nDatum\nDatum."}};
    const ProcessDecl wide = {"COMBSH", "Topo shift", "Shift.", 1, kWide};
    double datum = 7.0;
    double* slot[1] = {&datum};
    EXPECT_EQ(ParseParamString(wide, slot, "DATUM@=0.5e400"), 1);
    EXPECT_EQ(datum, 7.0);
    EXPECT_EQ(ParseParamString(wide, slot, "DATUM@=-12.5e-1"), 0);
    EXPECT_EQ(datum, -1.25);
}

TEST(ParamTable, ParserResultsFollowTheLineRules) {
    double window = 1.5, maxGain = 500.0;
    double* slots[2] = {&window, &maxGain};
    auto parse = [&](const char* text) { return ParseParamString(kDecl, slots, text); };
    EXPECT_EQ(parse(""), 0);
    EXPECT_EQ(parse(nullptr), 0);
    EXPECT_EQ(parse("MAXGN@=2000"), 0);
    EXPECT_EQ(maxGain, 2000);
    EXPECT_EQ(parse("MAXGN@=40000"), 1);  // refused: counted, not applied
    EXPECT_EQ(maxGain, 2000);
    // A code of another process stops parsing; earlier lines stay applied.
    EXPECT_EQ(parse("MAXGN@=200\nGAIN@@=3\nWINDOW=2"), -2);
    EXPECT_EQ(maxGain, 200);
    EXPECT_EQ(window, 1.5);
    EXPECT_EQ(parse("MAXGN@ 200"), -1);
    EXPECT_EQ(parse("MAXGN@=500\nWINDOW 3\nMAXGN@=20"), -2);
    EXPECT_EQ(maxGain, 500);
    // No value reads 0, below the minimum; trailing junk is ignored.
    EXPECT_EQ(parse("WINDOW="), 1);
    EXPECT_EQ(parse("WINDOW=2xyz"), 0);
    EXPECT_EQ(window, 2.0);
    // Repeats: each accepted occurrence applies in turn.
    EXPECT_EQ(parse("WINDOW=3\nWINDOW=4.5\nWINDOW=9999"), 3);
    EXPECT_EQ(window, 4.5);
    // A refused value is remembered, a later malformed line wins; a final
    // line break ends the text, an empty line inside it is malformed.
    EXPECT_EQ(parse("WINDOW=0\nbad"), -2);
    EXPECT_EQ(parse("WINDOW=2\n"), 0);
    EXPECT_EQ(parse("WINDOW=2\n\nMAXGN@=5"), -2);
}

TEST(ParamTable, FormatsParameterStringsAndDeclarations) {
    const double values[] = {1.5, 500.0};
    char buf[256], small[8];
    EXPECT_EQ(FormatParamString(kDecl, values, buf, sizeof buf), 21);
    EXPECT_STREQ(buf, "WINDOW=1.5\nMAXGN@=500");
    EXPECT_EQ(FormatParamString(kDecl, values, small, sizeof small), 21);  // truncated, full length returned
    EXPECT_STREQ(small, "WINDOW=");
    std::string full(512, '\0');
    const int n = BuildDeclaration(kDecl, full.data(), full.size(), 1);
    EXPECT_EQ(std::string(full.c_str()), "D\nMAXGN@=\n500\n1\n32767\n1\n20;50;200;500;2000;5000\nMaximum Gain\n"
                                         "Specifies the maximum applied gain. Once this value is reached, the gain "
                                         "will not increase further. Used to avoid excessive gain for very small "
                                         "signals.");
    EXPECT_EQ(n, static_cast<int>(std::string(full.c_str()).size()));
    BuildDeclaration(kDecl, full.data(), full.size(), 0);
    EXPECT_EQ(std::string(full.c_str()).substr(0, 32), "D\nWINDOW=\n1.5\n0.1\n1000.0\n0.1\n1.5");
    EXPECT_EQ(BuildDeclaration(kDecl, buf, sizeof buf, -1), 8);
    EXPECT_STREQ(buf, "AGC Gain");
    EXPECT_EQ(BuildDeclaration(kDecl, buf, sizeof buf, 2), 0);
    EXPECT_EQ(BuildDeclaration(kDecl, buf, sizeof buf, -3), 0);
    // Fixed formatting is exact, for huge values too.
    EXPECT_EQ(FormatFixed(0.1, 3), "0.100");
    EXPECT_EQ(FormatFixed(2.675, 2), "2.67");  // the double below 2.675
    EXPECT_EQ(FormatFixed(-0.0, 1), "-0.0");
    const std::string huge = FormatFixed(DBL_MAX, 3);
    EXPECT_EQ(huge.size(), 309u + 4u);
    EXPECT_EQ(huge.substr(0, 6), "179769");
}

}  // namespace
}  // namespace vantir3
