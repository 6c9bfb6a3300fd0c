#include "vantir3/processes/const_gain.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "tests/support/trace_checks.h"

namespace {

using namespace vantir3_test;
using Line = std::vector<int16_t>;

TEST(ConstGain, RoundsHalfUpAndSaturatesSymmetrically) {
    Owned in = Row({1000, -400, 5, -5, -32768, 32767, 0, 7}), out = Row(Line(8, 0));
    EXPECT_EQ(vantir3::ConstGain(out.b, in.b, 100.0), 0);
    EXPECT_EQ(Samples(out.b), (Line{32767, -32767, 500, -500, -32767, 32767, 0, 700}));
    EXPECT_EQ(vantir3::ConstGain(out.b, in.b, 0.5), 0);
    EXPECT_EQ(Samples(out.b), (Line{500, -200, 3, -2, -16384, 16384, 0, 4}));
    EXPECT_EQ(vantir3::ConstGain(out.b, in.b, 1.0), 0);
    EXPECT_EQ(Samples(out.b), (Line{1000, -400, 5, -5, -32767, 32767, 0, 7}));
    // Factors that no parameter can set (infinite, NaN, huge, negative, zero)
    // and an ordinary one: every sample is the saturated scalar formula,
    // whichever kernel ran, in contiguous and in strided views.
    Owned profile = MakeBuffer(0, 40, 0, 3, 0, 1, ProfileSample), gained = Filled(41, 4, 2, 0);
    Owned profileT = Transposed(profile.b), gainedT = Transposed(gained.b);
    const double inf = std::numeric_limits<double>::infinity();
    for (double g : {inf, -inf, std::nan(""), 1e300, -1e300, -1.0, 0.0, 1e-300, 1.37}) {
        ASSERT_EQ(vantir3::ConstGain(gained.b, profile.b, g), 0) << g;
        ASSERT_EQ(vantir3::ConstGain(gainedT.b, profileT.b, g), 0) << g;
        for (int32_t k = 0; k < 41 * 8; ++k) {
            const int16_t want = vantir3::FloorSaturate16(0.5 + g * ProfileSample(k % 41, k / 41 % 4, k / 164));
            ASSERT_EQ(SampleAt(gained.b, k % 41, k / 41 % 4, k / 164), want) << g;
            ASSERT_EQ(SampleAt(gainedT.b, k % 41, k / 41 % 4, k / 164), want) << g;
        }
    }
    // The same buffer as input and output: gained in place.
    EXPECT_EQ(vantir3::ConstGain(in.b, in.b, 2.0), 0);
    EXPECT_EQ(Samples(in.b), (Line{2000, -800, 10, -10, -32767, 32767, 0, 14}));
    EXPECT_EQ(in.b.storage->refCount, 1u);
}

TEST(ConstGain, WalkNarrowsTheOutputAndRefusesMismatchedBuffers) {
    const auto value = [](int32_t i, int32_t t, int32_t) { return static_cast<int16_t>(i + 100 * t); };
    const auto nines = [](int32_t, int32_t, int32_t) { return int16_t{9}; };
    Owned in = MakeBuffer(0, 15, 100, 199, 0, 0, value);
    Owned out = MakeBuffer(0, 15, 150, 249, 0, 0, nines), keep;
    MeboDataPtrShare(&keep.b, &out.b);
    EXPECT_EQ(vantir3::ConstGain(out.b, in.b, 2.0), 1);
    EXPECT_EQ(std::make_pair(out.b.axis.dim[1].min, out.b.axis.dim[1].max), std::make_pair(150, 199));
    EXPECT_EQ(SampleAt(out.b, 3, 150), 30006);
    EXPECT_EQ(SampleAt(keep.b, 0, 200), 9);  // beyond the input: untouched
    // The input alone is wider: only the working views are narrowed.
    Owned inner = MakeBuffer(0, 15, 120, 130, 0, 0, nines);
    EXPECT_EQ(vantir3::ConstGain(inner.b, in.b, 1.0), 0);
    EXPECT_EQ(SampleAt(inner.b, 4, 125), 4 + 12500);
    // Element sizes other than 2, alone or mixed: -3. Disjoint regions (on
    // each axis) and empty buffers: -1. Nothing is written either way.
    const MeboDataPtr before = inner.b;
    for (int32_t size : {1, 4, 8}) {
        Owned odd = Zeroed(size, 16, 200);
        EXPECT_EQ(vantir3::ConstGain(inner.b, odd.b, 2.0), -3);
        EXPECT_EQ(vantir3::ConstGain(odd.b, in.b, 2.0), -3);
        EXPECT_EQ(vantir3::ConstGain(odd.b, odd.b, 2.0), -3);
        EXPECT_EQ(odd.b.storage->refCount, 1u);
    }
    Owned far0 = MakeBuffer(16, 31, 120, 130, 0, 0, value), far1 = MakeBuffer(0, 15, 500, 509, 0, 0, value);
    Owned far2 = MakeBuffer(0, 15, 120, 130, 1, 1, value), empty;
    for (MeboDataPtr* other : {&far0.b, &far1.b, &far2.b, &empty.b}) {
        EXPECT_EQ(vantir3::ConstGain(inner.b, *other, 2.0), -1);
        EXPECT_EQ(vantir3::ConstGain(*other, in.b, 2.0), -1);
    }
    EXPECT_EQ(vantir3::ConstGain(empty.b, empty.b, 2.0), -1);
    EXPECT_TRUE(IsEmpty(empty.b));
    EXPECT_EQ(std::memcmp(&inner.b, &before, sizeof before), 0);
    EXPECT_EQ(SampleAt(inner.b, 4, 125), 4 + 12500);
    EXPECT_EQ(SampleAt(far0.b, 16, 120), 16 + 12000);
}

TEST(ConstGain, ProcessParametersTextsAndData) {
    CCdpPrcConstGain p;
    EXPECT_EQ(p.GetProcessUID(), 21608931u);
    EXPECT_EQ(p.GetParamCount(), 1u);
    EXPECT_EQ(p.GetParams(), "GAIN@@=100.00");
    EXPECT_EQ(p.GetDeclaration(-1), "Constant Gain");
    EXPECT_EQ(p.GetDeclaration(-2), "Constant gain applies a fixed gain to signal, independent of depth or time.");
    // The whole declaration text of one parameter, line by line.
    EXPECT_EQ(p.GetDeclaration(0),
              "D\nGAIN@@=100.000000\n100.00\n0.01\n32767.00\n0.01\n1.00;2.00;5.00;10.00;20.00;50.00;"
              "100.00;200.00;500.00;1000.00;2000.00;5000.00\nGain\nSpecifies the applied gain.");
    EXPECT_EQ(p.GetDeclaration(1), "");
    EXPECT_EQ(p.SetParams("GAIN@@=0.001"), 1);
    EXPECT_EQ(p.GetParams(), "GAIN@@=100.00");
    EXPECT_EQ(p.SetParams("AGC@@@=1"), -1);
    EXPECT_EQ(p.SetParams("GAIN@@=0.5"), 0);
    EXPECT_EQ(p.GetParams(), "GAIN@@=0.50");
    EXPECT_EQ(p.GetDeclaration(0).substr(0, 19), "D\nGAIN@@=0.500000\n1");  // the current value
    TestSource source(40, 6);
    Owned expect = Filled(40, 6, 1, 0);
    ASSERT_EQ(vantir3::ConstGain(expect.b, source.Data(), 0.5), 0);
    ExpectProcessOutput(p, source, expect.b);
}

}  // namespace
