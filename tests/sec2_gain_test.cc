#include "vantir3/processes/sec2_gain.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "kol_utils/kol_utils.h"
#include "tests/support/trace_checks.h"
#include "vantir3/framework/toolbox.h"

namespace {

using namespace vantir3_test;

std::vector<double> Table(const Sec2GainParam& p, double z, double dt, double f, int32_t first,
                          int32_t count, int* last = nullptr) {
    std::vector<double> g(static_cast<size_t>(count));
    vantir3::Sec2GainTable(p, z, dt, f, first, count, g.data(), last);
    return g;
}

TEST(Sec2Gain, GainCurvePoints) {
    // Time zero at sample 1, 0.5 ns, 250 MHz: pw = 6 ns, s1 = 12.
    std::vector<double> g = Table({5.0, 1.0, 500.0}, 1.0, 0.5, 250.0, 0, 40);
    for (int i = 0; i <= 12; ++i) EXPECT_EQ(g[i], 1.0) << i;  // t = 0 at 12: exactly S
    EXPECT_NEAR(g[24], 2.4125375445, 1e-9);                   // t = 6 ns: 1 + exp(0.34539...)
    // Attenuation 0: linear, S * (1 + t / pw).
    g = Table({0.0, 2.0, 500.0}, 1.0, 0.5, 250.0, 0, 40);
    EXPECT_DOUBLE_EQ(g[24], 4.0);
    EXPECT_DOUBLE_EQ(g[36], 6.0);
    // A start gain below 1 also attenuates before time zero; 2 leaves it alone.
    g = Table({5.0, 0.5, 500.0}, 5.0, 0.5, 250.0, 0, 20);  // t0 = 4, s1 = 16
    for (int i = 0; i < 16; ++i) EXPECT_EQ(g[i], 0.5) << i;
    g = Table({5.0, 2.0, 500.0}, 10.25, 0.5, 250.0, 0, 20);  // t0 = ceil(z) - 1 = 10
    EXPECT_EQ(g[9], 1.0);
    EXPECT_EQ(g[10], 2.0);
    // A start gain above the maximum: the maximum from time zero on.
    g = Table({5.0, 800.0, 500.0}, 5.0, 0.5, 250.0, 0, 300);
    EXPECT_EQ(g[3], 1.0);
    for (int i = 4; i < 300; ++i) ASSERT_EQ(g[i], 500.0) << i;
    // No usable interval or frequency: no growth, and no endless loop.
    for (double dt : {0.0, -0.5, 0.5})
        for (double f : {0.0, -250.0, HUGE_VAL})
            for (double v : Table({5.0, 0.5, 500.0}, 5.0, dt, f, 0, 64)) ASSERT_EQ(v, 0.5) << dt << " " << f;
    EXPECT_EQ(Table({5.0, 2.0, 500.0}, std::nan(""), 0.5, 250.0, 0, 8)[0], 2.0);
}

TEST(Sec2Gain, GainDependsOnlyOnTheIndexAndCapsAtTheMaximum) {
    int lastWhole = 0, lastPart = 0;
    const std::vector<double> whole = Table({0.0, 1.0, 33.3}, 1.0, 0.5, 250.0, 0, 512, &lastWhole);
    const std::vector<double> part = Table({0.0, 1.0, 33.3}, 1.0, 0.5, 250.0, 300, 212, &lastPart);
    for (int i = 300; i < 512; ++i) ASSERT_EQ(part[i - 300], whole[i]) << i;
    // g(399) = 33.25, g(400) = 33.33...: the maximum from 400 on, last sample 399.
    EXPECT_EQ(lastWhole, 399);
    EXPECT_EQ(lastPart, 399);
    EXPECT_DOUBLE_EQ(whole[399], 33.25);
    for (int i = 400; i < 512; ++i) ASSERT_EQ(whole[i], 33.3) << i;
    Table({0.0, 1.0, 5000.0}, 1.0, 0.5, 250.0, 0, 512, &lastWhole);
    EXPECT_EQ(lastWhole, 511);  // never reached
}

TEST(Sec2Gain, EntryPointScalesRoundsAndReportsTheLastSample) {
    Owned in = MakeBuffer(0, 511, 0, 3, 0, 0, [](int32_t i, int32_t t, int32_t) {
        return static_cast<int16_t>(i < 12 ? (t % 2 ? -5 : 5) : 1000 - i);
    });
    Owned out = Filled(512, 4, 1, 0);
    int last = -1;
    ASSERT_EQ(CCdpProcessToolbox::CdpSec2Gain(out.b, in.b, 1.0, 0.5, 500.0, 1.0, 0.5, 250.0, &last), 0);
    EXPECT_EQ(last, 511);
    EXPECT_EQ(SampleAt(out.b, 0, 0), 3);   // floor(0.5 + 2.5)
    EXPECT_EQ(SampleAt(out.b, 0, 1), -2);  // floor(0.5 - 2.5)
    EXPECT_EQ(SampleAt(out.b, 12, 0), 494);
    ASSERT_EQ(CCdpProcessToolbox::CdpSec2Gain(out.b, in.b, 1000.0, 1.0, 32767.0, 1.0, 0.5, 250.0, &last), 0);
    EXPECT_EQ(SampleAt(out.b, 500, 0), 32767);  // saturated
    EXPECT_EQ(CCdpProcessToolbox::CdpSec2Gain(out.b, in.b, 5.0, 2.0, 500.0, 1.0, 0.0, 0.0, nullptr), 0);
    EXPECT_EQ(SampleAt(out.b, 400, 0), 1200);  // zero interval and frequency: start gain
    // Only the common region: the last sample counts within it; the output
    // is narrowed to it.
    Owned part = MakeBuffer(300, 700, 0, 3, 0, 0, [](int32_t, int32_t, int32_t) { return 7; });
    ASSERT_EQ(CCdpProcessToolbox::CdpSec2Gain(part.b, in.b, 0.0, 1.0, 33.3, 1.0, 0.5, 250.0, &last), 1);
    EXPECT_EQ(part.b.axis.dim[0].max, 511);
    EXPECT_EQ(last, 399);
    EXPECT_EQ(SampleAt(part.b, 450, 2), 18315);  // floor(0.5 + 33.3 * 550)
    // A failed walk leaves the last sample alone.
    Owned far = MakeBuffer(600, 700, 0, 3, 0, 0, [](int32_t, int32_t, int32_t) { return 0; });
    EXPECT_EQ(CCdpProcessToolbox::CdpSec2Gain(far.b, in.b, 0.0, 1.0, 33.3, 1.0, 0.5, 250.0, &last), -1);
    EXPECT_EQ(last, 399);
    // A strided view gives the same samples.
    Owned inT = Transposed(in.b), outT = Transposed(out.b);
    ASSERT_EQ(CCdpProcessToolbox::CdpSec2Gain(outT.b, inT.b, 0.0, 1.0, 33.3, 1.0, 0.5, 250.0, nullptr), 0);
    ASSERT_EQ(CCdpProcessToolbox::CdpSec2Gain(out.b, in.b, 0.0, 1.0, 33.3, 1.0, 0.5, 250.0, nullptr), 0);
    ExpectSameSamples(out.b, outT.b);
}

TEST(Sec2Gain, ProcessMatchesTheEntryPoint) {
    CCdpProcessToolbox toolbox;
    CCdpProcess* p = toolbox.GetProcess(KOL::Str2UID("SECCGN"));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->GetParams(), "ATTENU=5.00\nSTRTGN=1.00\nMAXGN@=500");
    EXPECT_EQ(p->SetParams("ATTENU=12.5\nSTRTGN=0.25\nMAXGN@=2000"), 0);
    TestSource source(300, 5, 2);
    const ICdpDataSource::SEGprParam& g = source.Gpr();
    Owned expect = Filled(300, 5, 2, 0), raw;
    MeboDataPtrShare(&raw.b, &source.Data());
    ASSERT_EQ(CCdpProcessToolbox::CdpSec2Gain(expect.b, raw.b, 12.5, 0.25, 2000.0, g.timeZeroSample, g.sampleInterval,
                                              g.antennaFrequency, nullptr), 0);
    ExpectProcessOutput(*p, source, expect.b);

    // The process keeps its last gain table: asked again for other samples,
    // with other parameters or again for the same, it gives what the entry
    // point gives for each.
    struct Ask {
        int32_t s0, s1;
        const char* params;
        double attenuation, start, max;
    };
    for (const Ask& a : {Ask{40, 200, "ATTENU=12.5\nSTRTGN=0.25\nMAXGN@=2000", 12.5, 0.25, 2000.0},
                         Ask{0, 299, "ATTENU=12.5\nSTRTGN=0.25\nMAXGN@=2000", 12.5, 0.25, 2000.0},
                         Ask{0, 299, "ATTENU=3.00\nSTRTGN=2.00\nMAXGN@=50", 3.0, 2.0, 50.0},
                         Ask{0, 299, "ATTENU=3.00\nSTRTGN=2.00\nMAXGN@=50", 3.0, 2.0, 50.0},
                         Ask{100, 101, "ATTENU=3.00\nSTRTGN=2.00\nMAXGN@=50", 3.0, 2.0, 50.0}}) {
        SCOPED_TRACE(std::to_string(a.s0) + ".." + std::to_string(a.s1) + " " + a.params);
        ASSERT_EQ(p->SetParams(a.params), 0);
        Owned want, got;
        ASSERT_EQ(MeboDataPtrAllocate(&want.b, 2, a.s0, a.s1, 0, 4, 0, 1, 0), 1);
        ASSERT_EQ(MeboDataPtrAllocate(&got.b, 2, a.s0, a.s1, 0, 4, 0, 1, 0), 1);
        ASSERT_EQ(CCdpProcessToolbox::CdpSec2Gain(want.b, raw.b, a.attenuation, a.start, a.max, g.timeZeroSample,
                                                  g.sampleInterval, g.antennaFrequency, nullptr), 0);
        ASSERT_EQ(p->GetDataCdp(got.b, nullptr, nullptr), 0);
        ExpectSameSamples(want.b, got.b);
    }
}

}  // namespace
