#include "kol_utils/kol_utils.h"

#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(KolUtilsTest, IdentifiersAndTokens) {
    EXPECT_EQ(KOL::Str2UID("AGC@@@"), 0x00000CE1u);
    EXPECT_EQ(KOL::Str2UID("WINDOW"), 0x2EF23937u);
    // Only the first six characters of a parameter line count; short codes
    // are padded with '@'.
    EXPECT_EQ(KOL::Str2UID("WINDOW=1.5"), KOL::Str2UID("WINDOW"));
    EXPECT_EQ(KOL::Str2UID("AGC"), KOL::Str2UID("AGC@@@"));
    EXPECT_EQ(KOL::Str2UID("") + KOL::Str2UID(nullptr), 0u);
    // Lines split in place, empty ones kept, the position after the text.
    char text[] = "AB\n\nCD\n", empty[] = "";
    uint64_t position = 0;
    std::vector<std::string> tokens;
    while (char* token = KOL::CStr::StrToken(text, '\n', &position)) tokens.push_back(token);
    EXPECT_EQ(tokens, (std::vector<std::string>{"AB", "", "CD"}));
    EXPECT_EQ(position, 7u);
    position = 0;
    EXPECT_EQ(KOL::CStr::StrToken(empty, '\n', &position), nullptr);
    EXPECT_EQ(KOL::CStr::StrToken(text, '\n', nullptr), nullptr);
    // List tokens keep empty entries, the last one too.
    const KOL::CStr list("1.00;;5.00;");
    size_t at = 0;
    tokens.clear();
    while (at != std::string::npos) tokens.push_back(list.Token(";", at));
    EXPECT_EQ(tokens, (std::vector<std::string>{"1.00", "", "5.00", ""}));
    EXPECT_TRUE(list.Token(";", at).empty());
    EXPECT_EQ(at, std::string::npos);
    EXPECT_TRUE(KOL::CStr(static_cast<const char*>(nullptr)).empty());
    // Format replaces the content, however long the result.
    std::string out = "old text";
    KOL::CStr::Format(out, "%s=%.*f;%i", "WINDOW", 1, 1.5, 42);
    EXPECT_EQ(out, "WINDOW=1.5;42");
    KOL::CStr::Format(out, "%s!", std::string(5000, 'x').c_str());
    EXPECT_EQ(out, std::string(5000, 'x') + "!");
}

TEST(KolUtilsTest, RoundingAndNumberGrammars) {
    // Halves upward; no grid for a step of 0 or below.
    EXPECT_EQ(std::vector<double>({KOL::Round(2.5, 1), KOL::Round(-2.5, 1), KOL::Round(7.0, 5), KOL::Round(7.5, 5),
                                   KOL::Round(1.55, 0), KOL::Round(1.55, -3)}),
              (std::vector<double>{3.0, -2.0, 5.0, 10.0, 1.55, 1.55}));
    double v = -1.0;
    EXPECT_EQ(KOL::IsNotRealNumber("  500.000000 ", false, true, &v), 0);
    EXPECT_EQ(v, 500.0);
    struct Case { const char* text; double value; };
    for (const Case& c : {Case{".5", 0.5}, Case{"5.", 5.0}, Case{"+2e3", 2000.0}, Case{"-1.25E-2", -0.0125},
                          Case{"1e-400", 0.0}, Case{"-0", 0.0}}) {
        v = -99.0;
        EXPECT_EQ(KOL::IsNotRealNumber(c.text, true, true, &v), 0) << c.text;
        EXPECT_EQ(v, c.value) << c.text;
        EXPECT_FALSE(std::signbit(v) && v == 0.0) << c.text;
    }
    for (const char* bad :
         {"", "abc", "2xyz", "1.5.", ".", "e5", "1e", "1e+", "inf", "nan", "0x10", "1,5", "--1", "1 2"}) {
        v = 7.0;
        EXPECT_EQ(KOL::IsNotRealNumber(bad, true, true, &v), 1) << bad;
        EXPECT_EQ(v, 7.0) << bad;
    }
    // Spaces not allowed, no text, negative not allowed, out of range.
    EXPECT_EQ(std::vector<int>({KOL::IsNotRealNumber(" 1", true, false, &v),
                                KOL::IsNotRealNumber(nullptr, true, true, &v),
                                KOL::IsNotRealNumber("-0.5", false, true, &v),
                                KOL::IsNotRealNumber("-0.0", false, true, &v),
                                KOL::IsNotRealNumber("1e400", true, true, &v),
                                KOL::IsNotRealNumber("1.5", true, true, nullptr)}),
              (std::vector<int>{1, 1, 2, 0, 3, 0}));
    // Very long texts are read, not refused or overrun.
    EXPECT_EQ(KOL::IsNotRealNumber(("0." + std::string(5000, '0') + "1").c_str(), false, true, &v), 0);
    EXPECT_EQ(v, 0.0);
    EXPECT_EQ(KOL::IsNotRealNumber((std::string(400, '9') + ".5").c_str(), false, true, &v), 3);
    long w = -1;
    EXPECT_EQ(KOL::IsNotWholeNumber(" 32767\t", false, true, &w), 0);
    EXPECT_EQ(w, 32767);
    EXPECT_EQ(KOL::IsNotWholeNumber("-9223372036854775808", true, true, &w), 0);
    EXPECT_EQ(w, LONG_MIN);
    w = 5;
    for (const char* bad : {"", "1.5", "1e3", "abc", "-", "0x1F"})
        EXPECT_EQ(KOL::IsNotWholeNumber(bad, true, true, &w), 1) << bad;
    EXPECT_EQ(KOL::IsNotWholeNumber("-5", false, true, &w), 2);
    EXPECT_EQ(KOL::IsNotWholeNumber("9223372036854775808", true, true, &w), 3);
    EXPECT_EQ(w, 5);
}

TEST(KolUtilsTest, DepthSampleAndTimeConversions) {
    struct Geometry { double v, s, dt, z; };
    for (const Geometry& g : {Geometry{0.1, 0.0, 0.1, 1.0}, Geometry{0.1, 1.0, 0.1, 21.0},
                              Geometry{0.12, 0.5, 0.2, 30.5}, Geometry{0.08, -0.3, 0.4, 5.0}}) {
        const double ground = (g.z - 1.0) + (std::fabs(g.s) / g.v - std::fabs(g.s) / KOL::kLightSpeed) / g.dt;
        EXPECT_NEAR(KOL::Depth2SampleIdx(0.0, g.v, g.s, g.dt, g.z), ground, 1e-12);
        EXPECT_EQ(KOL::SampleIdx2Depth(ground, g.v, g.s, g.dt, g.z), 0.0);
        // Above ground the depth grows linearly with the s = 0 slope.
        EXPECT_NEAR(KOL::SampleIdx2Depth(ground - 10.0, g.v, g.s, g.dt, g.z), -10.0 * g.v * g.dt / 2.0, 1e-12);
        // Increasing, and the two conversions are inverse, above and below.
        double previous = -INFINITY;
        for (double i : {ground - 200.0, ground - 0.5, ground + 0.01, ground + 1.0, ground + 37.3, ground + 2000.0}) {
            const double d = KOL::SampleIdx2Depth(i, g.v, g.s, g.dt, g.z);
            EXPECT_GT(d, previous) << i;
            previous = d;
            EXPECT_NEAR(KOL::Depth2SampleIdx(d, g.v, g.s, g.dt, g.z), i, 1e-9 * std::fabs(i) + 1e-9);
        }
    }
    // Zero separation and time zero at sample 1: two-way time times v / 2.
    EXPECT_DOUBLE_EQ(KOL::SampleIdx2Depth(100.0, 0.1, 0.0, 0.1, 1.0), 0.5);
    EXPECT_DOUBLE_EQ(KOL::Depth2SampleIdx(0.5, 0.1, 0.0, 0.1, 1.0), 100.0);
    // Bistatic geometry: 3-4-5 triangle, v = c.
    const double c = KOL::kLightSpeed;
    EXPECT_NEAR(KOL::SampleIdx2Depth(4.0 / c, c, 6.0, 1.0, 1.0), 4.0, 1e-12);
    EXPECT_NEAR(KOL::Depth2SampleIdx(4.0, c, 6.0, 1.0, 1.0), 4.0 / c, 1e-9);
    // Extremes stay finite where the answer is; no geometry gives NaN.
    EXPECT_NEAR(KOL::Depth2SampleIdx(1e200, 0.1, 1.0, 0.1, 1.0), 2e202, 1e190);
    EXPECT_TRUE(std::isfinite(KOL::SampleIdx2Depth(1e300, 0.1, 1.0, 0.1, 1.0)));
    for (double x : {KOL::Depth2SampleIdx(1.0, 0.0, 1.0, 0.1, 1.0), KOL::Depth2SampleIdx(1.0, 0.1, 1.0, -0.1, 1.0),
                     KOL::SampleIdx2Depth(1.0, -0.1, 1.0, 0.1, 1.0), KOL::SampleIdx2Depth(1.0, 0.1, 1.0, NAN, 1.0),
                     KOL::FlightTime2SampleIdx(1.0, 0.0, 0.0, 0.0)})
        EXPECT_TRUE(std::isnan(x));
    // Flight times truncate toward zero.
    EXPECT_EQ(std::vector<double>({KOL::FlightTime2SampleIdx(10.0, 0.0, 0.4, 0.0),
                                   KOL::FlightTime2SampleIdx(1.19, 0.0, 0.4, 0.0),
                                   KOL::FlightTime2SampleIdx(-1.19, 0.0, 0.4, 0.0)}),
              (std::vector<double>{25.0, 2.0, -2.0}));
}

}  // namespace
