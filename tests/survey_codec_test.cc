// Sample codecs and scale choice shared by every survey format.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "vantir3_survey/format_io.h"

namespace vantir3 {
namespace survey {
namespace internal {
namespace {

const SampleType kAllTypes[] = {SampleType::kU8,  SampleType::kI8,  SampleType::kU16, SampleType::kI16,
                                SampleType::kI32, SampleType::kF32, SampleType::kIbm32};

// Values every type holds exactly (IBM floats of small integers included).
std::vector<double> Representable(SampleType t) {
    std::vector<double> v = {0, 1, -1, 100, -128, 127};
    if (SampleTypeBytes(t) >= 2) v.insert(v.end(), {-32768, 32767, 12345});
    if (SampleTypeBytes(t) == 4) v.insert(v.end(), {70000, -2000000, 1 << 23});
    if (t == SampleType::kF32 || t == SampleType::kIbm32) v.insert(v.end(), {0.5, -0.25, 3.0517578125e-05});
    return v;
}

TEST(SurveyCodec, EveryTypeRoundTripsInBothByteOrders) {
    for (SampleType t : kAllTypes) {
        for (bool big : {false, true}) {
            const std::vector<double> in = Representable(t);
            std::vector<uint8_t> bytes(in.size() * SampleTypeBytes(t));
            ASSERT_TRUE(EncodeValues(in.data(), in.size(), t, big, bytes.data())) << SampleTypeName(t);
            std::vector<double> back(in.size());
            DecodeValues(bytes.data(), in.size(), t, big, back.data());
            EXPECT_EQ(back, in) << SampleTypeName(t) << (big ? " big" : " little");
        }
    }
}

TEST(SurveyCodec, SixteenBitSamplesEncodeAsTheirValuesDo) {
    const std::vector<int16_t> in = {-32768, -1, 0, 1, 12345, 32767};
    std::vector<double> values(in.begin(), in.end());
    for (SampleType t : {SampleType::kI16, SampleType::kU16}) {
        for (bool big : {false, true}) {
            std::vector<uint8_t> direct(2 * in.size()), viaValues(2 * in.size());
            EncodeSamples16(in.data(), in.size(), t, big, direct.data());
            ASSERT_TRUE(EncodeValues(values.data(), in.size(), t, big, viaValues.data()));
            EXPECT_EQ(direct, viaValues) << SampleTypeName(t) << (big ? " big" : " little");
        }
    }
}

TEST(SurveyCodec, KnownEncodings) {
    // Offset binary: value 0 is the middle code; IBM 1.0 is 0x41100000.
    uint8_t b[4];
    const double zero = 0, one = 1, minus = -1;
    EncodeValues(&zero, 1, SampleType::kU16, false, b);
    EXPECT_EQ(b[0], 0x00);
    EXPECT_EQ(b[1], 0x80);
    EncodeValues(&zero, 1, SampleType::kU8, false, b);
    EXPECT_EQ(b[0], 0x80);
    EncodeValues(&one, 1, SampleType::kIbm32, true, b);
    EXPECT_EQ((std::vector<uint8_t>{b, b + 4}), (std::vector<uint8_t>{0x41, 0x10, 0x00, 0x00}));
    EncodeValues(&minus, 1, SampleType::kI32, true, b);
    EXPECT_EQ((std::vector<uint8_t>{b, b + 4}), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(SurveyCodec, ValuesOutsideTheTypeAreRefusedNotClipped) {
    uint8_t b[8];
    const double over8 = 128, under16 = -32769, over32 = 2147483648.0, nan = std::nan("");
    const double huge = 1e39;
    EXPECT_FALSE(EncodeValues(&over8, 1, SampleType::kU8, false, b));
    EXPECT_FALSE(EncodeValues(&over8, 1, SampleType::kI8, false, b));
    EXPECT_FALSE(EncodeValues(&under16, 1, SampleType::kI16, false, b));
    EXPECT_FALSE(EncodeValues(&under16, 1, SampleType::kU16, false, b));
    EXPECT_FALSE(EncodeValues(&over32, 1, SampleType::kI32, false, b));
    EXPECT_FALSE(EncodeValues(&nan, 1, SampleType::kI16, false, b));
    EXPECT_FALSE(EncodeValues(&huge, 1, SampleType::kF32, false, b));
    // Floats keep NaN; integers take whole values only, never rounded.
    EXPECT_TRUE(EncodeValues(&nan, 1, SampleType::kF32, false, b));
    for (double fraction : {-2.5, 0.25, 32766.999}) {
        for (SampleType type : {SampleType::kU8, SampleType::kI16, SampleType::kU16, SampleType::kI32})
            EXPECT_FALSE(EncodeValues(&fraction, 1, type, false, b)) << fraction;
    }
    const double whole = -32768;
    ASSERT_TRUE(EncodeValues(&whole, 1, SampleType::kI16, false, b));
    EXPECT_EQ(static_cast<int16_t>(b[0] | b[1] << 8), -32768);
}

TEST(SurveyCodec, ScaleIsThePowerOfTwoThatFitsTheLargestMagnitude) {
    EXPECT_EQ(ChooseScale(SampleType::kI16, 1e9), 1.0);
    EXPECT_EQ(ChooseScale(SampleType::kU16, 5), 1.0);
    EXPECT_EQ(ChooseScale(SampleType::kI32, 0), 1.0);
    EXPECT_EQ(ChooseScale(SampleType::kI32, 32767), 1.0);
    EXPECT_EQ(ChooseScale(SampleType::kI32, 32768), 2.0);
    EXPECT_EQ(ChooseScale(SampleType::kI32, 65534), 2.0);
    EXPECT_EQ(ChooseScale(SampleType::kI32, 65535), 4.0);
    EXPECT_EQ(ChooseScale(SampleType::kU8, 128), 1.0 / 128);
    EXPECT_EQ(ChooseScale(SampleType::kF32, 1e-3), std::ldexp(1.0, -24));
    for (double m : {3.0, 1e-7, 2e6, 123456.789, 4.5e15}) {
        const double s = ChooseScale(SampleType::kF32, m);
        EXPECT_LE(m / s, 32767.0);
        EXPECT_GT(m / s, 32767.0 / 2);
        EXPECT_EQ(std::ldexp(1.0, std::ilogb(s)), s);
    }
}

TEST(SurveyCodec, SixteenBitDecodingScalesRoundsAndHoldsTheRange) {
    // i32 through scale 64: value / 64 rounded half up (-96 / 64 = -1.5 -> -1).
    const double in[] = {64 * 32767, -64 * 32767, 95, 96, -96, -97};
    uint8_t bytes[sizeof in / sizeof in[0] * 4];
    ASSERT_TRUE(EncodeValues(in, 6, SampleType::kI32, false, bytes));
    int16_t out[6];
    DecodeSamples16(bytes, 6, SampleType::kI32, false, 64.0, out);
    EXPECT_EQ((std::vector<int16_t>{out, out + 6}), (std::vector<int16_t>{32767, -32767, 1, 2, -1, -2}));
    // u16 is the plain offset flip, in both byte orders.
    const uint8_t u16le[] = {0x00, 0x00, 0xFF, 0xFF, 0x00, 0x80}, u16be[] = {0x00, 0x00, 0xFF, 0xFF, 0x80, 0x00};
    DecodeSamples16(u16le, 3, SampleType::kU16, false, 1.0, out);
    EXPECT_EQ((std::vector<int16_t>{out, out + 3}), (std::vector<int16_t>{-32768, 32767, 0}));
    DecodeSamples16(u16be, 3, SampleType::kU16, true, 1.0, out);
    EXPECT_EQ((std::vector<int16_t>{out, out + 3}), (std::vector<int16_t>{-32768, 32767, 0}));
    // A float NaN reaches the library as 0, infinities at full scale.
    const float f[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), -1e30f};
    DecodeSamples16(reinterpret_cast<const uint8_t*>(f), 3, SampleType::kF32, false, 1.0, out);
    EXPECT_EQ((std::vector<int16_t>{out, out + 3}), (std::vector<int16_t>{0, 32767, -32768}));
}

TEST(SurveyCodec, TextHelpers) {
    EXPECT_EQ(SplitLines("a\r\nb\rc\n\nd"), (std::vector<std::string>{"a", "b", "c", "", "d"}));
    EXPECT_EQ(Trim("  KEY \t"), "KEY");
    EXPECT_EQ(ParseNumber(" 12.5 "), 12.5);
    EXPECT_TRUE(std::isnan(ParseNumber("12.5x")));
    EXPECT_TRUE(std::isnan(ParseNumber("")));
    EXPECT_TRUE(std::isnan(ParseNumber("1e999")));
    EXPECT_EQ(FormatFromPath("/x/LINE01.dZt"), Format::kDzt);
    EXPECT_EQ(FormatFromPath("a.segy"), Format::kSegy);
    EXPECT_THROW(FormatFromPath("a.txt"), SurveyError);
    EXPECT_THROW(FormatFromPath("dir.d/noext"), SurveyError);
    const SurveyError e("f.DZT", "rh_nsamp", "zero samples", 4);
    EXPECT_STREQ(e.what(), "f.DZT: rh_nsamp: zero samples (at byte 4)");
}

}  // namespace
}  // namespace internal
}  // namespace survey
}  // namespace vantir3
