#include "vantir3/processes/sec2_gain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "kol_utils/kol_utils.h"
#include "tests/support/test_source.h"
#include "vantir3/framework/toolbox.h"

namespace {

using vantir3_test::MakeBuffer;
using vantir3_test::SampleAt;

std::vector<double> Table(const Sec2GainParam& p, double z, double dt, double f, int32_t first,
                          int32_t count, int* last = nullptr) {
    std::vector<double> g(static_cast<size_t>(count));
    vantir3::Sec2GainTable(p, z, dt, f, first, count, g.data(), last);
    return g;
}

TEST(Sec2Gain, GainCurvePoints) {
    // Time zero at sample 1 (index 0), 0.5 ns, 250 MHz: pw = 6 ns, s1 = 12.
    const Sec2GainParam p = {5.0, 1.0, 500.0};
    std::vector<double> g = Table(p, 1.0, 0.5, 250.0, 0, 40);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(g[i], 1.0) << i;
    EXPECT_EQ(g[12], 1.0);                       // t = 0: exactly the start gain
    EXPECT_NEAR(g[24], 2.4125375445, 1e-9);      // t = 6 ns: 1 + exp(0.34539...)
    EXPECT_GT(g[13], 1.0);

    // Attenuation 0: the gain grows linearly, S * (1 + t / pw).
    g = Table({0.0, 2.0, 500.0}, 1.0, 0.5, 250.0, 0, 40);
    EXPECT_EQ(g[12], 2.0);
    EXPECT_DOUBLE_EQ(g[24], 4.0);
    EXPECT_DOUBLE_EQ(g[36], 6.0);

    // Start gain below 1 also attenuates before time zero; 2 leaves it alone.
    g = Table({5.0, 0.5, 500.0}, 5.0, 0.5, 250.0, 0, 20);  // t0 = 4, s1 = 16
    for (int i = 0; i < 16; ++i) EXPECT_EQ(g[i], 0.5) << i;
    g = Table({5.0, 2.0, 500.0}, 5.0, 0.5, 250.0, 0, 20);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(g[i], 1.0) << i;
    for (int i = 4; i < 16; ++i) EXPECT_EQ(g[i], 2.0) << i;

    // Start gain above the maximum: the maximum from time zero on.
    g = Table({5.0, 800.0, 500.0}, 5.0, 0.5, 250.0, 0, 300);
    EXPECT_EQ(g[3], 1.0);
    for (int i = 4; i < 300; ++i) ASSERT_EQ(g[i], 500.0) << i;

    // A fractional time zero: t0 = ceil(z) - 1.
    g = Table({0.0, 0.5, 500.0}, 10.25, 0.5, 250.0, 0, 12);
    EXPECT_EQ(g[9], 0.5);
    EXPECT_EQ(g[10], 0.5);
}

TEST(Sec2Gain, GainDependsOnlyOnTheIndexAndCapsAtTheMaximum) {
    const Sec2GainParam p = {0.0, 1.0, 33.3};
    int lastWhole = 0, lastPart = 0;
    const std::vector<double> whole = Table(p, 1.0, 0.5, 250.0, 0, 512, &lastWhole);
    const std::vector<double> part = Table(p, 1.0, 0.5, 250.0, 300, 212, &lastPart);
    for (int i = 300; i < 512; ++i) ASSERT_EQ(part[i - 300], whole[i]) << i;
    // g(399) = 33.25, g(400) = 33.33...: capped from 400 on, last sample 399.
    EXPECT_EQ(lastWhole, 399);
    EXPECT_EQ(lastPart, 399);
    EXPECT_DOUBLE_EQ(whole[399], 33.25);
    for (int i = 400; i < 512; ++i) ASSERT_EQ(whole[i], 33.3) << i;
    // Never reached: the last index of the range.
    Table({0.0, 1.0, 5000.0}, 1.0, 0.5, 250.0, 0, 512, &lastWhole);
    EXPECT_EQ(lastWhole, 511);
}

TEST(Sec2Gain, UnusableIntervalOrFrequencyLeavesTheGrowthOut) {
    for (double dt : {0.0, -0.5}) {
        for (double f : {0.0, -250.0, 250.0}) {
            if (dt == 0.5 && f == 250.0) continue;
            const std::vector<double> g = Table({5.0, 0.5, 500.0}, 5.0, dt, f, 0, 64);
            for (int i = 0; i < 64; ++i) ASSERT_EQ(g[i], 0.5) << dt << " " << f;
        }
    }
    const std::vector<double> g = Table({5.0, 2.0, 500.0}, 5.0, 0.5, 0.0, 0, 64);
    EXPECT_EQ(g[3], 1.0);
    EXPECT_EQ(g[63], 2.0);
    const std::vector<double> nanZero = Table({5.0, 2.0, 500.0}, std::nan(""), 0.5, 250.0, 0, 8);
    EXPECT_EQ(nanZero[0], 2.0);
}

TEST(Sec2Gain, EntryPointScalesRoundsAndReportsTheLastSample) {
    auto value = [](int32_t i, int32_t t, int32_t) {
        return static_cast<int16_t>(i < 12 ? (t % 2 ? -5 : 5) : 1000 - i);
    };
    MeboDataPtr in = MakeBuffer(0, 511, 0, 3, 0, 0, value);
    MeboDataPtr out = MakeBuffer(0, 511, 0, 3, 0, 0, [](int32_t, int32_t, int32_t) { return 0; });
    int last = -1;
    ASSERT_EQ(CCdpProcessToolbox::CdpSec2Gain(out, in, 1.0, 0.5, 500.0, 1.0, 0.5, 250.0, &last), 0);
    EXPECT_EQ(last, 511);
    EXPECT_EQ(SampleAt(out, 0, 0), 3);   // floor(0.5 + 2.5)
    EXPECT_EQ(SampleAt(out, 0, 1), -2);  // floor(0.5 - 2.5)
    EXPECT_EQ(SampleAt(out, 12, 0), 494);
    ASSERT_EQ(CCdpProcessToolbox::CdpSec2Gain(out, in, 0.0, 1.0, 33.3, 1.0, 0.5, 250.0, &last), 0);
    EXPECT_EQ(last, 399);
    EXPECT_EQ(SampleAt(out, 450, 2), 18315);  // floor(0.5 + 33.3 * 550)
    ASSERT_EQ(CCdpProcessToolbox::CdpSec2Gain(out, in, 1000.0, 1.0, 32767.0, 1.0, 0.5, 250.0, &last), 0);
    EXPECT_EQ(SampleAt(out, 500, 0), 32767);  // saturated
    // A zero frequency and interval run and leave the growth out.
    EXPECT_EQ(CCdpProcessToolbox::CdpSec2Gain(out, in, 5.0, 2.0, 500.0, 1.0, 0.0, 0.0, nullptr), 0);
    EXPECT_EQ(SampleAt(out, 400, 0), 1200);

    // Only the common region is processed; the last sample is its max0.
    MeboDataPtr part = MakeBuffer(300, 700, 0, 3, 0, 0, [](int32_t, int32_t, int32_t) { return 7; });
    ASSERT_EQ(CCdpProcessToolbox::CdpSec2Gain(part, in, 0.0, 1.0, 33.3, 1.0, 0.5, 250.0, &last), 1);
    EXPECT_EQ(part.axis.dim[0].max, 511);
    EXPECT_EQ(last, 399);
    EXPECT_EQ(SampleAt(part, 450, 2), 18315);
    // Failures leave the last sample alone.
    last = 12345;
    MeboDataPtr far = MakeBuffer(600, 700, 0, 3, 0, 0, [](int32_t, int32_t, int32_t) { return 0; });
    EXPECT_EQ(CCdpProcessToolbox::CdpSec2Gain(far, in, 0.0, 1.0, 33.3, 1.0, 0.5, 250.0, &last), -1);
    EXPECT_EQ(last, 12345);
    for (MeboDataPtr* b : {&in, &out, &part, &far}) MeboDataPtrRelease(b);
}

TEST(Sec2Gain, StridedInputViewIsWalkedByItsStride) {
    auto value = [](int32_t i, int32_t t, int32_t p) { return vantir3_test::ProfileSample(i, t, p); };
    MeboDataPtr in = MakeBuffer(0, 99, 0, 7, 0, 1, value);
    const Sec2GainParam p = {20.0, 0.5, 300.0};
    // A view whose axis 0 has a stride of two samples: every other sample.
    Mebo3DDataAxis every2 = in.axis;
    every2.dim[0].stride = 4;
    every2.dim[0].max = 49;
    MeboDataPtr in2, out2;
    MeboDataPtrClear(&in2);
    MeboDataPtrClear(&out2);
    MeboDataPtrShare(&in2, &in);
    MeboDataPtrSetView(&in2, &every2, 1);
    MeboDataPtrAllocateCounts(&out2, 2, 50, 8, 2, 1);
    ASSERT_EQ(vantir3::Sec2Gain(out2, in2, p, 10.5, 0.4, 250.0, nullptr), 0);
    std::vector<double> g(50);
    vantir3::Sec2GainTable(p, 10.5, 0.4, 250.0, 0, 50, g.data(), nullptr);
    for (int32_t pl = 0; pl < 2; ++pl)
        for (int32_t t = 0; t < 8; ++t)
            for (int32_t i = 0; i < 50; ++i)
                ASSERT_EQ(SampleAt(out2, i, t, pl),
                          std::clamp(std::floor(0.5 + g[i] * SampleAt(in, 2 * i, t, pl)), -32767.0, 32767.0));
    for (MeboDataPtr* b : {&in, &in2, &out2}) MeboDataPtrRelease(b);
}

TEST(Sec2Gain, ProcessMatchesTheEntryPoint) {
    CCdpProcessToolbox toolbox;
    const uint32_t uid = KOL::Str2UID("SECCGN");
    EXPECT_EQ(toolbox.GetDeclarationParamCount(uid), 3u);
    EXPECT_EQ(toolbox.GetDeclaration(uid, -1), "SEC2 Gain");
    CCdpProcess* p = toolbox.GetProcess(uid);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->GetProcessUID(), 477203635u);
    EXPECT_EQ(p->GetParams(), "ATTENU=5.00\nSTRTGN=1.00\nMAXGN@=500");
    EXPECT_EQ(p->GetDeclaration(2).substr(0, 43), "D\nMAXGN@=500.000000\n500\n1\n32767\n1\n20;50;200");
    EXPECT_EQ(p->SetParams("ATTENU=12.5\nSTRTGN=0.25\nMAXGN@=2000"), 0);
    const Sec2GainParam& held = static_cast<CCdpPrcSec2Gain*>(p)->Params();
    EXPECT_EQ(held.attenuation, 12.5);
    EXPECT_EQ(held.startGain, 0.25);
    EXPECT_EQ(held.maxGain, 2000.0);

    vantir3_test::TestSource source(300, 5, 2);
    p->SetDataSource(&source);
    MeboDataPtr out;
    MeboDataPtrClear(&out);
    ASSERT_EQ(p->GetDataCdp(out, nullptr, nullptr), 0);
    MeboDataPtr expect = MakeBuffer(0, 299, 0, 4, 0, 1, [](int32_t, int32_t, int32_t) { return 0; });
    MeboDataPtr raw;
    MeboDataPtrClear(&raw);
    MeboDataPtrShare(&raw, &source.Data());
    const ICdpDataSource::SEGprParam& gpr = source.Gpr();
    ASSERT_EQ(CCdpProcessToolbox::CdpSec2Gain(expect, raw, 12.5, 0.25, 2000.0, gpr.timeZeroSample,
                                              gpr.sampleInterval, gpr.antennaFrequency, nullptr),
              0);
    for (int32_t pl = 0; pl < 2; ++pl)
        for (int32_t t = 0; t < 5; ++t)
            for (int32_t i = 0; i < 300; ++i) ASSERT_EQ(SampleAt(out, i, t, pl), SampleAt(expect, i, t, pl));
    source.SetNoGprParam(true);
    EXPECT_EQ(p->GetDataCdp(out, nullptr, nullptr), -201);
    for (MeboDataPtr* b : {&out, &expect, &raw}) MeboDataPtrRelease(b);
}

}  // namespace
