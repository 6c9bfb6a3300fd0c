#include "vantir3/processes/agc_gain.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "kol_utils/kol_utils.h"
#include "tests/support/test_source.h"
#include "vantir3/framework/toolbox.h"

namespace {

using vantir3::SimdLevel;
using vantir3_test::MakeBuffer;
using vantir3_test::SampleAt;

// The gains and the output of one trace.
std::pair<std::vector<double>, std::vector<int16_t>> AgcTraceOf(const std::vector<int16_t>& x, int32_t half,
                                                                double maxGain, SimdLevel level) {
    vantir3::RunningWindow window;
    EXPECT_TRUE(window.Reserve(static_cast<int32_t>(x.size()), half, level));
    std::vector<double> g(x.size());
    std::vector<int16_t> y(x.size());
    vantir3::AgcTrace(window, x.data(), y.data(), maxGain, g.data());
    return {g, y};
}

// One trace through the whole algorithm; window 1.0 at 500 MHz and 1 ns
// sampling is three samples wide (half 1); 1500 pulse widths cover any trace.
std::vector<int16_t> AgcOf(const std::vector<int16_t>& x, double window, double maxGain) {
    const int32_t n = static_cast<int32_t>(x.size());
    MeboDataPtr in = MakeBuffer(0, n - 1, 0, 0, 0, 0, [&](int32_t i, int32_t, int32_t) { return x[i]; });
    MeboDataPtr out = MakeBuffer(0, n - 1, 0, 0, 0, 0, [](int32_t, int32_t, int32_t) { return 0; });
    EXPECT_EQ(vantir3::AgcGain(out, in, window, maxGain, 500.0, 1.0), 0);
    std::vector<int16_t> y(x.size());
    for (int32_t i = 0; i < n; ++i) y[i] = SampleAt(out, i, 0);
    MeboDataPtrRelease(&in);
    MeboDataPtrRelease(&out);
    return y;
}

TEST(AgcGain, GainOfAWindow) {
    EXPECT_EQ(vantir3::RunningMeanHalf(1.5, 250.0, 0.4), 11);  // 22.5 -> 22 -> 23
    EXPECT_DOUBLE_EQ(vantir3::AgcGainFor(100.0, 2000.0), 327.67);
    EXPECT_EQ(vantir3::AgcGainFor(100.0, 500.0), 32767.0 / 100.0);
    EXPECT_EQ(vantir3::AgcGainFor(65.0, 500.0), 500.0);  // capped below 65.534
    EXPECT_EQ(vantir3::AgcGainFor(66.0, 500.0), 32767.0 / 66.0);
    EXPECT_EQ(vantir3::AgcGainFor(1.0, 500.0), 500.0);   // silence: the maximum
    EXPECT_EQ(vantir3::AgcGainFor(0.0, 40000.0), 32767.0);
}

TEST(AgcGain, TracesAreLevelled) {
    // Silence stays silent; +-1 is multiplied by the maximum gain.
    EXPECT_EQ(AgcOf(std::vector<int16_t>(20, 0), 1.0, 500.0), std::vector<int16_t>(20, 0));
    EXPECT_EQ(AgcOf({1, -1, 1, -1, 1}, 1.0, 500.0), (std::vector<int16_t>{500, -500, 500, -500, 500}));
    // A constant 1000 comes out at full scale (1000 * 32.767 rounded).
    EXPECT_EQ(AgcOf(std::vector<int16_t>(30, 1000), 1.0, 500.0), std::vector<int16_t>(30, 32767));
    EXPECT_EQ(AgcOf(std::vector<int16_t>(30, -1000), 1.0, 500.0), std::vector<int16_t>(30, -32767));
    // Windows shrink at the ends: means 150, 200, 300, 250 for half 1.
    EXPECT_EQ(AgcOf({100, -200, 300, -200}, 1.0, 2000.0),
              (std::vector<int16_t>{21845, -32767, 32767, -26214}));
    // Shorter than the window: the mean over the whole trace (112.5) for all.
    EXPECT_EQ(AgcOf({100, -200, 150, 0}, 1500.0, 2000.0), (std::vector<int16_t>{29126, -32767, 32767, 0}));
    // A zero frequency gives a one-sample window: |x| / x * 32767, or the
    // maximum gain for silence.
    MeboDataPtr in = MakeBuffer(0, 2, 0, 0, 0, 0, [](int32_t i, int32_t, int32_t) {
        return static_cast<int16_t>(i == 0 ? 7 : i == 1 ? -300 : 0);
    });
    MeboDataPtr out = MakeBuffer(0, 2, 0, 0, 0, 0, [](int32_t, int32_t, int32_t) { return 1; });
    EXPECT_EQ(vantir3::AgcGain(out, in, 1.5, 500.0, 0.0, 0.4), 0);
    EXPECT_EQ(SampleAt(out, 0, 0), 3500);
    EXPECT_EQ(SampleAt(out, 1, 0), -32767);
    EXPECT_EQ(SampleAt(out, 2, 0), 0);
    MeboDataPtrRelease(&in);
    MeboDataPtrRelease(&out);
}

TEST(AgcGain, VectorPathGivesTheScalarBits) {
    if (vantir3::CpuSimdLevel() == SimdLevel::kScalar) GTEST_SKIP() << "no vector path here";
    std::mt19937 random(11);
    const std::pair<int32_t, int32_t> shapes[] = {{1, 0}, {2, 1}, {15, 3}, {16, 11}, {17, 11},
                                                   {100, 0}, {1000, 500}, {1023, 11}, {70000, 30000}};
    for (const auto& [n, half] : shapes) {
        for (int kind = 0; kind < 3; ++kind) {
            std::vector<int16_t> x(static_cast<size_t>(n));
            for (int16_t& v : x) {
                const int32_t r = static_cast<int32_t>(random() % 65536) - 32768;
                v = static_cast<int16_t>(kind == 0 ? r : kind == 1 ? r / 4096 : (r < 0 ? -32768 : 32767));
            }
            for (double maxGain : {500.0, 32767.0}) {
                const auto a = AgcTraceOf(x, half, maxGain, SimdLevel::kScalar);
                const auto b = AgcTraceOf(x, half, maxGain, vantir3::CpuSimdLevel());
                for (int32_t i = 0; i < n; ++i)
                    ASSERT_EQ(a.first[i], b.first[i]) << n << " " << half << " " << kind << " " << i;
                ASSERT_EQ(a.second, b.second);
            }
        }
    }
}

TEST(AgcGain, ProcessParametersAndTexts) {
    CCdpProcessToolbox toolbox;
    const uint32_t uid = KOL::Str2UID("AGC@@@");
    EXPECT_EQ(uid, 3297u);
    EXPECT_EQ(toolbox.GetDeclarationParamCount(uid), 2u);
    CCdpProcessToolbox::SProcessTypeDef row;
    EXPECT_EQ(toolbox.GetAvailableProcessUID(1, &row), uid);
    EXPECT_EQ(row.name, "AGC Gain");
    CCdpProcess* p = toolbox.GetProcess(uid);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->GetParams(), "WINDOW=1.5\nMAXGN@=500");
    EXPECT_EQ(p->GetDeclaration(1),
              "D\nMAXGN@=500.000000\n500\n1\n32767\n1\n20;50;200;500;2000;5000\nMaximum Gain\n"
              "Specifies the maximum applied gain. Once this value is reached, the gain will not increase "
              "further. Used to avoid excessive gain for very small signals.");
    EXPECT_EQ(p->GetDeclaration(0).substr(0, 41), "D\nWINDOW=1.500000\n1.5\n0.1\n1000.0\n0.1\n1.5\n");
    EXPECT_EQ(p->GetDeclaration(2), "");
    EXPECT_EQ(p->SetParams("MAXGN@=2000"), 0);
    EXPECT_EQ(p->SetParams("MAXGN@=40000"), 1);
    EXPECT_EQ(p->SetParams("MAXGN@=200\nGAIN@@=3\nWINDOW=2"), -2);
    EXPECT_EQ(p->GetParams(), "WINDOW=1.5\nMAXGN@=200");
}

TEST(AgcGain, ProcessMatchesTheAlgorithmOnItsSource) {
    CCdpPrcAgcGain p;
    ASSERT_EQ(p.SetParams("WINDOW=2.5\nMAXGN@=2000"), 0);
    vantir3_test::TestSource source(400, 5, 2);
    p.SetDataSource(&source);
    MeboDataPtr out;
    MeboDataPtrClear(&out);
    ASSERT_EQ(p.GetDataCdp(out, nullptr, nullptr), 0);
    MeboDataPtr expect = MakeBuffer(0, 399, 0, 4, 0, 1, [](int32_t, int32_t, int32_t) { return 0; });
    const ICdpDataSource::SEGprParam& gpr = source.Gpr();
    ASSERT_EQ(vantir3::AgcGain(expect, source.Data(), 2.5, 2000.0, gpr.antennaFrequency, gpr.sampleInterval), 0);
    for (int32_t pl = 0; pl < 2; ++pl)
        for (int32_t t = 0; t < 5; ++t)
            for (int32_t i = 0; i < 400; ++i) ASSERT_EQ(SampleAt(out, i, t, pl), SampleAt(expect, i, t, pl));
    // The same samples through a trace-major view with axis 0 across it.
    MeboDataPtr inT = MakeBuffer(0, 4, 0, 399, 0, 1, [&](int32_t t, int32_t i, int32_t pl) { return source.At(i, t, pl); });
    MeboDataPtrSwapAxes(&inT, 0, 1);
    ASSERT_EQ(vantir3::AgcGain(inT, inT, 2.5, 2000.0, gpr.antennaFrequency, gpr.sampleInterval), 0);
    for (int32_t pl = 0; pl < 2; ++pl)
        for (int32_t t = 0; t < 5; ++t)
            for (int32_t i = 0; i < 400; ++i) ASSERT_EQ(SampleAt(inT, i, t, pl), SampleAt(expect, i, t, pl));
    source.SetNoGprParam(true);
    EXPECT_EQ(p.GetDataCdp(out, nullptr, nullptr), -201);
    for (MeboDataPtr* b : {&out, &expect, &inT}) MeboDataPtrRelease(b);
}

}  // namespace
