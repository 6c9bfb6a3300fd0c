#include "kol_utils/kol_utils.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(KolUtilsTest, Str2UID) {
    EXPECT_EQ(KOL::Str2UID("AGC@@@"), 0x00000CE1u);
    EXPECT_EQ(KOL::Str2UID("WINDOW"), 0x2EF23937u);
    // Only the first six characters of a parameter line count.
    EXPECT_EQ(KOL::Str2UID("WINDOW=1.5"), KOL::Str2UID("WINDOW"));
    EXPECT_EQ(KOL::Str2UID("AGC"), KOL::Str2UID("AGC@@@"));
    EXPECT_EQ(KOL::Str2UID(""), 0u);
    EXPECT_EQ(KOL::Str2UID(nullptr), 0u);
    EXPECT_NE(KOL::Str2UID("MAXGN@"), KOL::Str2UID("GAIN@@"));
}

TEST(KolUtilsTest, StrTokenSplitsLinesInPlace) {
    char text[] = "AB\n\nCD\n";
    uint64_t position = 0;
    std::vector<std::string> tokens;
    while (char* token = KOL::CStr::StrToken(text, '\n', &position)) tokens.push_back(token);
    EXPECT_EQ(tokens, (std::vector<std::string>{"AB", "", "CD"}));
    EXPECT_EQ(position, 7u);

    char empty[] = "";
    position = 0;
    EXPECT_EQ(KOL::CStr::StrToken(empty, '\n', &position), nullptr);
    EXPECT_EQ(KOL::CStr::StrToken(nullptr, '\n', &position), nullptr);
    EXPECT_EQ(KOL::CStr::StrToken(text, '\n', nullptr), nullptr);
}

TEST(KolUtilsTest, TokenKeepsEmptyEntries) {
    const KOL::CStr list("1.00;;5.00;");
    size_t position = 0;
    std::vector<std::string> tokens;
    while (position != std::string::npos) tokens.push_back(list.Token(";", position));
    EXPECT_EQ(tokens, (std::vector<std::string>{"1.00", "", "5.00", ""}));
    EXPECT_TRUE(list.Token(";", position).empty());
    EXPECT_EQ(position, std::string::npos);

    const KOL::CStr empty("");
    position = 0;
    EXPECT_TRUE(empty.Token("\n", position).empty());
    EXPECT_EQ(position, std::string::npos);
    EXPECT_TRUE(KOL::CStr(static_cast<const char*>(nullptr)).empty());
}

TEST(KolUtilsTest, FormatReplacesContent) {
    std::string out = "old text";
    KOL::CStr::Format(out, "%s=%.*f;%i", "WINDOW", 1, 1.5, 42);
    EXPECT_EQ(out, "WINDOW=1.5;42");
    const std::string longText(5000, 'x');
    KOL::CStr::Format(out, "%s!", longText.c_str());
    EXPECT_EQ(out.size(), 5001u);
    EXPECT_EQ(out.back(), '!');
    KOL::CStr::Format(out, "%s", "");
    EXPECT_TRUE(out.empty());
}

TEST(KolUtilsTest, Round) {
    EXPECT_EQ(KOL::Round(2.5, 1), 3.0);
    EXPECT_EQ(KOL::Round(-2.5, 1), -2.0);
    EXPECT_EQ(KOL::Round(7.0, 5), 5.0);
    EXPECT_EQ(KOL::Round(7.5, 5), 10.0);
    EXPECT_EQ(KOL::Round(1.55, 0), 1.55);
    EXPECT_EQ(KOL::Round(1.55, -3), 1.55);
}

TEST(KolUtilsTest, RealNumberGrammar) {
    double v = -1.0;
    EXPECT_EQ(KOL::IsNotRealNumber("  500.000000 ", false, true, &v), 0);
    EXPECT_EQ(v, 500.0);
    struct Case { const char* text; double value; };
    for (const Case& c : {Case{"1.5", 1.5}, Case{".5", 0.5}, Case{"5.", 5.0},
                          Case{"+2e3", 2000.0}, Case{"-1.25E-2", -0.0125},
                          Case{"1e-400", 0.0}, Case{"-0", 0.0}}) {
        v = -99.0;
        EXPECT_EQ(KOL::IsNotRealNumber(c.text, true, true, &v), 0) << c.text;
        EXPECT_EQ(v, c.value) << c.text;
        EXPECT_FALSE(std::signbit(v) && v == 0.0) << c.text;
    }
    for (const char* bad : {"", " ", "abc", "2xyz", "1.5.", ".", "e5", "1e", "1e+",
                            "inf", "nan", "-infinity", "0x10", "1,5", "--1", "1 2"}) {
        v = 7.0;
        EXPECT_EQ(KOL::IsNotRealNumber(bad, true, true, &v), 1) << bad;
        EXPECT_EQ(v, 7.0) << bad;
    }
    EXPECT_EQ(KOL::IsNotRealNumber(" 1", true, false, &v), 1);
    EXPECT_EQ(KOL::IsNotRealNumber(nullptr, true, true, &v), 1);
    EXPECT_EQ(KOL::IsNotRealNumber("-0.5", false, true, &v), 2);
    EXPECT_EQ(KOL::IsNotRealNumber("-0.0", false, true, &v), 0);
    EXPECT_EQ(KOL::IsNotRealNumber("1e400", true, true, &v), 3);
    EXPECT_EQ(KOL::IsNotRealNumber("1.5", true, true, nullptr), 0);
    // Very long texts are read, not refused or overrun.
    const std::string tiny = "0." + std::string(5000, '0') + "1";
    EXPECT_EQ(KOL::IsNotRealNumber(tiny.c_str(), false, true, &v), 0);
    EXPECT_EQ(v, 0.0);
    const std::string huge = std::string(400, '9') + ".5";
    EXPECT_EQ(KOL::IsNotRealNumber(huge.c_str(), false, true, &v), 3);
}

TEST(KolUtilsTest, WholeNumberGrammar) {
    long v = -1;
    EXPECT_EQ(KOL::IsNotWholeNumber(" 32767\t", false, true, &v), 0);
    EXPECT_EQ(v, 32767);
    EXPECT_EQ(KOL::IsNotWholeNumber("+12", true, true, &v), 0);
    EXPECT_EQ(v, 12);
    EXPECT_EQ(KOL::IsNotWholeNumber("-9223372036854775808", true, true, &v), 0);
    EXPECT_EQ(v, LONG_MIN);
    v = 5;
    for (const char* bad : {"", "1.5", "1e3", "abc", "-", "0x1F"}) {
        EXPECT_EQ(KOL::IsNotWholeNumber(bad, true, true, &v), 1) << bad;
    }
    EXPECT_EQ(KOL::IsNotWholeNumber("-5", false, true, &v), 2);
    EXPECT_EQ(KOL::IsNotWholeNumber("9223372036854775808", true, true, &v), 3);
    EXPECT_EQ(v, 5);
    EXPECT_EQ(KOL::IsNotWholeNumber("-0", false, true, &v), 0);
    EXPECT_EQ(v, 0);
}

TEST(KolUtilsTest, DepthAndSampleAreInverse) {
    struct Geometry { double v, s, dt, z; };
    for (const Geometry& g : {Geometry{0.1, 0.0, 0.1, 1.0}, Geometry{0.1, 1.0, 0.1, 21.0},
                              Geometry{0.12, 0.5, 0.2, 30.5}, Geometry{0.08, -0.3, 0.4, 5.0}}) {
        const double ground = (g.z - 1.0) + (std::fabs(g.s) / g.v - std::fabs(g.s) / KOL::kLightSpeed) / g.dt;
        EXPECT_NEAR(KOL::Depth2SampleIdx(0.0, g.v, g.s, g.dt, g.z), ground, 1e-12);
        EXPECT_EQ(KOL::SampleIdx2Depth(ground, g.v, g.s, g.dt, g.z), 0.0);
        // Above ground the depth grows linearly with the s = 0 slope.
        EXPECT_NEAR(KOL::SampleIdx2Depth(ground - 10.0, g.v, g.s, g.dt, g.z),
                    -10.0 * g.v * g.dt / 2.0, 1e-12);
        double previous = -INFINITY;
        for (double i = ground - 200.0; i < ground + 2000.0; i += 0.37) {
            const double d = KOL::SampleIdx2Depth(i, g.v, g.s, g.dt, g.z);
            EXPECT_GT(d, previous) << i;
            previous = d;
            EXPECT_NEAR(KOL::Depth2SampleIdx(d, g.v, g.s, g.dt, g.z), i, 1e-9 * std::fabs(i) + 1e-9);
        }
        for (double d = -5.0; d <= 50.0; d += 0.013) {
            if (std::fabs(d) < 0.1) continue;  // the depth is ill-conditioned at 0
            const double i = KOL::Depth2SampleIdx(d, g.v, g.s, g.dt, g.z);
            EXPECT_NEAR(KOL::SampleIdx2Depth(i, g.v, g.s, g.dt, g.z), d, 1e-9 * std::fabs(d));
        }
    }
    // Zero separation and time zero at sample 1: two-way time times v / 2.
    EXPECT_DOUBLE_EQ(KOL::SampleIdx2Depth(100.0, 0.1, 0.0, 0.1, 1.0), 0.5);
    EXPECT_DOUBLE_EQ(KOL::Depth2SampleIdx(0.5, 0.1, 0.0, 0.1, 1.0), 100.0);
    // Bistatic geometry: 3-4-5 triangle, v = c.
    const double c = KOL::kLightSpeed;
    EXPECT_NEAR(KOL::SampleIdx2Depth(4.0 / c, c, 6.0, 1.0, 1.0), 4.0, 1e-12);
    EXPECT_NEAR(KOL::Depth2SampleIdx(4.0, c, 6.0, 1.0, 1.0), 4.0 / c, 1e-9);
    // Extremes stay finite where the answer is.
    EXPECT_NEAR(KOL::Depth2SampleIdx(1e200, 0.1, 1.0, 0.1, 1.0), 2e202, 1e190);
    EXPECT_TRUE(std::isfinite(KOL::SampleIdx2Depth(1e300, 0.1, 1.0, 0.1, 1.0)));
}

TEST(KolUtilsTest, ConversionsWithoutGeometryGiveNaN) {
    EXPECT_TRUE(std::isnan(KOL::Depth2SampleIdx(1.0, 0.0, 1.0, 0.1, 1.0)));
    EXPECT_TRUE(std::isnan(KOL::Depth2SampleIdx(1.0, 0.1, 1.0, -0.1, 1.0)));
    EXPECT_TRUE(std::isnan(KOL::SampleIdx2Depth(1.0, -0.1, 1.0, 0.1, 1.0)));
    EXPECT_TRUE(std::isnan(KOL::SampleIdx2Depth(1.0, 0.1, 1.0, NAN, 1.0)));
    EXPECT_TRUE(std::isnan(KOL::FlightTime2SampleIdx(1.0, 0.0, 0.0, 0.0)));
}

TEST(KolUtilsTest, FlightTimeTruncates) {
    EXPECT_EQ(KOL::FlightTime2SampleIdx(10.0, 0.0, 0.4, 0.0), 25.0);
    EXPECT_EQ(KOL::FlightTime2SampleIdx(1.19, 0.0, 0.4, 0.0), 2.0);
    EXPECT_EQ(KOL::FlightTime2SampleIdx(-1.19, 0.0, 0.4, 0.0), -2.0);
}

}  // namespace
