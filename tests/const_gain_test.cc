#include "vantir3/processes/const_gain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "tests/support/test_source.h"

namespace {

using vantir3_test::MakeBuffer;
using vantir3_test::SampleAt;

MeboDataPtr Row(std::initializer_list<int16_t> values) {
    std::vector<int16_t> v(values);
    return MakeBuffer(0, static_cast<int32_t>(v.size()) - 1, 0, 0, 0, 0,
                      [&](int32_t i, int32_t, int32_t) { return v[i]; });
}

std::vector<int16_t> Samples(const MeboDataPtr& b) {
    std::vector<int16_t> v;
    for (int32_t i = b.axis.dim[0].min; i <= b.axis.dim[0].max; ++i) v.push_back(SampleAt(b, i, b.axis.dim[1].min));
    return v;
}

TEST(ConstGain, RoundsHalfUpAndSaturatesSymmetrically) {
    MeboDataPtr in = Row({1000, -400, 5, -5, -32768, 32767, 0, 7});
    MeboDataPtr out = Row({0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(vantir3::ConstGain(out, in, 100.0), 0);
    EXPECT_EQ(Samples(out), (std::vector<int16_t>{32767, -32767, 500, -500, -32767, 32767, 0, 700}));
    EXPECT_EQ(vantir3::ConstGain(out, in, 0.5), 0);
    EXPECT_EQ(Samples(out), (std::vector<int16_t>{500, -200, 3, -2, -16384, 16384, 0, 4}));
    EXPECT_EQ(vantir3::ConstGain(out, in, 1.0), 0);
    EXPECT_EQ(Samples(out), (std::vector<int16_t>{1000, -400, 5, -5, -32767, 32767, 0, 7}));
    MeboDataPtrRelease(&in);
    MeboDataPtrRelease(&out);
}

TEST(ConstGain, StridedViewsGiveTheSameSamplesAsContiguousOnes) {
    auto value = [](int32_t i, int32_t t, int32_t p) { return vantir3_test::ProfileSample(i, t, p); };
    MeboDataPtr in = MakeBuffer(0, 63, 0, 9, 0, 1, value);
    MeboDataPtr out = MakeBuffer(0, 63, 0, 9, 0, 1, [](int32_t, int32_t, int32_t) { return 0; });
    ASSERT_EQ(vantir3::ConstGain(out, in, 1.37), 0);
    // The same data transposed: axis 0 now walks across traces.
    MeboDataPtr inT, outT;
    MeboDataPtrClear(&inT);
    MeboDataPtrClear(&outT);
    MeboDataPtrAllocateCounts(&outT, 2, 64, 10, 2, 1);
    MeboDataPtrShare(&inT, &in);
    MeboDataPtrSwapAxes(&inT, 0, 1);
    MeboDataPtrSwapAxes(&outT, 0, 1);
    ASSERT_EQ(vantir3::ConstGain(outT, inT, 1.37), 0);
    for (int32_t p = 0; p < 2; ++p)
        for (int32_t t = 0; t < 10; ++t)
            for (int32_t i = 0; i < 64; ++i) ASSERT_EQ(SampleAt(outT, t, i, p), SampleAt(out, i, t, p));
    for (MeboDataPtr* b : {&in, &out, &inT, &outT}) MeboDataPtrRelease(b);
}

TEST(ConstGain, WalkNarrowsTheOutputAndReportsFailures) {
    auto value = [](int32_t i, int32_t t, int32_t) { return static_cast<int16_t>(i + 100 * t); };
    MeboDataPtr in = MakeBuffer(0, 15, 100, 199, 0, 0, value);
    MeboDataPtr out = MakeBuffer(0, 15, 150, 249, 0, 0, [](int32_t, int32_t, int32_t) { return -1; });
    MeboDataPtr keep;
    MeboDataPtrClear(&keep);
    MeboDataPtrShare(&keep, &out);
    EXPECT_EQ(vantir3::ConstGain(out, in, 2.0), 1);
    EXPECT_EQ(out.axis.dim[1].min, 150);
    EXPECT_EQ(out.axis.dim[1].max, 199);
    EXPECT_EQ(SampleAt(out, 3, 150), 30006);
    EXPECT_EQ(SampleAt(keep, 0, 200), -1);  // beyond the input: untouched
    // The input alone is wider: both are narrowed, the caller's output is not.
    MeboDataPtr out2 = MakeBuffer(0, 15, 120, 130, 0, 0, [](int32_t, int32_t, int32_t) { return 0; });
    EXPECT_EQ(vantir3::ConstGain(out2, in, 1.0), 0);
    EXPECT_EQ(SampleAt(out2, 4, 125), 4 + 12500);
    // Disjoint regions, empty buffers and 32-bit samples are refused.
    MeboDataPtr far = MakeBuffer(0, 15, 500, 509, 0, 0, [](int32_t, int32_t, int32_t) { return 0; });
    EXPECT_EQ(vantir3::ConstGain(far, in, 1.0), -1);
    MeboDataPtr empty;
    MeboDataPtrClear(&empty);
    EXPECT_EQ(vantir3::ConstGain(empty, in, 1.0), -1);
    EXPECT_EQ(vantir3::ConstGain(out2, empty, 1.0), -1);
    MeboDataPtr wide;
    MeboDataPtrClear(&wide);
    MeboDataPtrAllocate(&wide, 4, 0, 15, 100, 199, 0, 0, 1);
    EXPECT_EQ(vantir3::ConstGain(wide, in, 1.0), -3);
    for (MeboDataPtr* b : {&in, &out, &keep, &out2, &far, &wide}) MeboDataPtrRelease(b);
}

TEST(ConstGain, ProcessParametersAndTexts) {
    CCdpPrcConstGain p;
    EXPECT_EQ(p.GetProcessUID(), 21608931u);
    EXPECT_EQ(p.GetParamCount(), 1u);
    EXPECT_EQ(p.GetParams(), "GAIN@@=100.00");
    EXPECT_EQ(p.GetDeclaration(-1), "Constant Gain");
    EXPECT_EQ(p.GetDeclaration(-2),
              "Constant gain applies a fixed gain to signal, independent of depth or time.");
    EXPECT_EQ(p.GetDeclaration(0),
              "D\nGAIN@@=100.000000\n100.00\n0.01\n32767.00\n0.01\n1.00;2.00;5.00;10.00;20.00;50.00;"
              "100.00;200.00;500.00;1000.00;2000.00;5000.00\nGain\nSpecifies the applied gain.");
    EXPECT_EQ(p.GetDeclaration(1), "");
    EXPECT_EQ(p.SetParams("GAIN@@=0.001"), 1);
    EXPECT_EQ(p.GetParams(), "GAIN@@=100.00");
    EXPECT_EQ(p.SetParams("AGC@@@=1"), -1);
    EXPECT_EQ(p.SetParams("GAIN@@=2.5"), 0);
    EXPECT_EQ(p.GetParams(), "GAIN@@=2.50");
    EXPECT_EQ(p.GetDeclaration(0).substr(0, 19), "D\nGAIN@@=2.500000\n1");
}

TEST(ConstGain, ProcessGainsWhatItsSourceServes) {
    vantir3_test::TestSource source(40, 6);
    CCdpPrcConstGain p;
    p.SetParams("GAIN@@=0.50");
    MeboDataPtr out;
    MeboDataPtrClear(&out);
    EXPECT_EQ(p.GetDataCdp(out, nullptr, nullptr), -200);
    p.SetDataSource(&source);
    ASSERT_EQ(p.GetDataCdp(out, nullptr, nullptr), 0);
    for (int32_t t = 0; t < 6; ++t)
        for (int32_t i = 0; i < 40; ++i)
            ASSERT_EQ(SampleAt(out, i, t), std::clamp(std::floor(0.5 + 0.5 * source.At(i, t)), -32767.0, 32767.0));
    source.SetNoGprParam(true);
    EXPECT_EQ(p.GetDataCdp(out, nullptr, nullptr), -201);
    MeboDataPtrRelease(&out);
}

}  // namespace
