#include "vantir3/processes/dewow.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "kol_utils/kol_utils.h"
#include "tests/support/trace_checks.h"
#include "vantir3/framework/toolbox.h"

namespace {

using namespace vantir3_test;
using vantir3::SimdLevel;

// One trace at one level; with sums, the averaged-trace sums of two passes.
std::vector<int16_t> DewowOf(const std::vector<int16_t>& x, int32_t half, SimdLevel level,
                             std::vector<int32_t>* sums = nullptr) {
    vantir3::RunningWindow window;
    EXPECT_TRUE(window.Reserve(static_cast<int32_t>(x.size()), half, level));
    std::vector<int16_t> y(x.size());
    if (sums != nullptr) {
        sums->assign(x.size(), 0);
        vantir3::DewowTrace(window, x.data(), y.data(), sums->data());
    }
    vantir3::DewowTrace(window, x.data(), y.data(), sums != nullptr ? sums->data() : nullptr);
    return y;
}

TEST(Dewow, WindowLength) {
    EXPECT_EQ(vantir3::RunningMeanHalf(1.33, 250.0, 0.4), 9);   // floor(19.95) = 19
    EXPECT_EQ(vantir3::RunningMeanHalf(1.33, 100.0, 0.8), 12);  // 24, made odd: 25
    EXPECT_EQ(vantir3::RunningMeanHalf(1.0, 500.0, 0.15), 10);  // 20 -> 21
    EXPECT_EQ(vantir3::RunningMeanHalf(500.0, 1.0, 1.0), 375000);
    // Zero, negative, not-a-number and beyond-32-bit widths: one sample.
    for (double f : {0.0, -250.0, std::nan(""), 1e-300}) EXPECT_EQ(vantir3::RunningMeanHalf(1.33, f, 0.4), 0);
    EXPECT_EQ(vantir3::RunningMeanHalf(1.33, 250.0, 0.0), 0);
}

TEST(Dewow, TraceSubtractsTheTruncatedCentredMean) {
    for (SimdLevel level : Levels()) {
        SCOPED_TRACE(static_cast<int>(level));
        // The window shrinks at both ends: means 15, 20, 30, 40, 45.
        EXPECT_EQ(DewowOf({10, 20, 30, 40, 50}, 1, level), (std::vector<int16_t>{-5, 0, 0, 0, 5}));
        // Means truncated toward zero: -3.5 -> -3, -2.33 -> -2.
        EXPECT_EQ(DewowOf({-7, 0, 0}, 1, level), (std::vector<int16_t>{-4, 2, 0}));
        // Shorter than the window: the mean of the whole trace for all.
        EXPECT_EQ(DewowOf({10, 20, 30}, 1 << 29, level), (std::vector<int16_t>{-10, 0, 10}));
        EXPECT_EQ(DewowOf({5, -32768, 32767, 9}, 0, level), (std::vector<int16_t>(4, 0)));
        // Wrapped differences saturate at -32767 and 32767; a true -32768 stays.
        EXPECT_EQ(DewowOf({-32768, 32767, 32767, 32767, 32767}, 2, level)[0], -32767);
        EXPECT_EQ(DewowOf({-32768, 32767, 32767, 32767, 32767}, 2, level)[1], 16384);
        EXPECT_EQ(DewowOf({32767, -32768, -32768, -32768, -32768}, 2, level)[0], 32767);
        EXPECT_EQ(DewowOf({-32767, 10924, 10924, 10923}, 3, level)[0], -32768);
        // Constant traces: every window mean is a whole number, met exactly.
        for (int32_t half : {0, 9, 12, 1000})
            for (int32_t v : {-32768, -12345, -1, 1, 3, 9999, 32767})
                ASSERT_EQ(DewowOf(std::vector<int16_t>(2100, static_cast<int16_t>(v)), half, level),
                          std::vector<int16_t>(2100, 0));
    }
}

TEST(Dewow, VectorPathGivesTheScalarBits) {
    if (vantir3::CpuSimdLevel() == SimdLevel::kScalar) GTEST_SKIP() << "no vector path here";
    std::mt19937 random(7);
    // The last shape has prefix sums beyond 32 bits (they wrap) and windows
    // of up to 60001 samples.
    const std::pair<int32_t, int32_t> shapes[] = {{1, 0},   {2, 1},     {15, 3},    {16, 9},
                                                   {17, 9}, {1000, 500}, {1023, 9}, {70000, 30000}};
    for (const auto& [n, half] : shapes) {
        for (int kind = 0; kind < 3; ++kind) {
            std::vector<int16_t> x(static_cast<size_t>(n));
            for (int16_t& v : x) {
                const int32_t r = static_cast<int32_t>(random() % 65536) - 32768;
                v = static_cast<int16_t>(kind == 0 ? r : kind == 1 ? r / 64 : (r < 0 ? -32768 : 32767));
            }
            std::vector<int32_t> a, b;
            ASSERT_EQ(DewowOf(x, half, SimdLevel::kScalar, &a), DewowOf(x, half, vantir3::CpuSimdLevel(), &b))
                << n << " " << half << " " << kind;
            ASSERT_EQ(a, b);
        }
    }
}

TEST(Dewow, AveragedTrace) {
    // Ten traces of two samples, a three-sample window: five traces (-10, 0)
    // dewow to (-5, 5), five zero traces to (0, 0).
    MeboDataPtr in = MakeBuffer(0, 1, 0, 9, 0, 0, [](int32_t i, int32_t t, int32_t) {
        return static_cast<int16_t>(t < 5 && i == 0 ? -10 : 0);
    });
    MeboDataPtr out = Filled(2, 10, 1, 0), avg = Filled(4, 1, 1, 99), empty;
    MeboDataPtrClear(&empty);
    MeboDataPtrSeek(&avg, 1, 0, 0);
    ASSERT_EQ(CCdpProcessToolbox::CdpDewow(out, in, &avg, 1.0, 500.0, 1.0), 0);
    EXPECT_EQ(SampleAt(out, 0, 0), -5);
    // Written from the cursor: -25 / 10 and 25 / 10, truncated.
    EXPECT_EQ(std::vector<int16_t>({SampleAt(avg, 0, 0), SampleAt(avg, 1, 0), SampleAt(avg, 2, 0), SampleAt(avg, 3, 0)}),
              (std::vector<int16_t>{99, -2, 2, 99}));
    // Too little room from the cursor, or no storage: refused, nothing written.
    MeboDataPtrSeek(&avg, 3, 0, 0);
    MeboDataPtr fresh = Filled(2, 10, 1, 0);
    EXPECT_EQ(CCdpProcessToolbox::CdpDewow(fresh, in, &avg, 1.0, 500.0, 1.0), vantir3::kAuxTooSmall);
    EXPECT_EQ(CCdpProcessToolbox::CdpDewow(fresh, in, &empty, 1.0, 500.0, 1.0), vantir3::kAuxTooSmall);
    EXPECT_EQ(SampleAt(fresh, 0, 0), 0);
    EXPECT_EQ(SampleAt(avg, 3, 0), 99);
    // A narrower output: the average covers the common region only.
    MeboDataPtr five = Filled(2, 5, 1, 0);
    MeboDataPtrSeek(&avg, 0, 0, 0);
    ASSERT_EQ(CCdpProcessToolbox::CdpDewow(five, in, &avg, 1.0, 500.0, 1.0), 0);
    EXPECT_EQ(SampleAt(avg, 0, 0), -5);
    EXPECT_EQ(SampleAt(avg, 1, 0), 5);
    // 70000 traces at the extremes: sums beyond 32 bits stay exact.
    MeboDataPtr loud = MakeBuffer(0, 1, 0, 69999, 0, 0, [](int32_t i, int32_t, int32_t) {
        return static_cast<int16_t>(i == 0 ? 32767 : -32768);
    });
    MeboDataPtr loudOut = Filled(2, 70000, 1, 0);
    MeboDataPtrSeek(&avg, 0, 0, 0);
    ASSERT_EQ(CCdpProcessToolbox::CdpDewow(loudOut, loud, &avg, 1.0, 500.0, 1.0), 0);
    EXPECT_EQ(SampleAt(avg, 0, 0), 32767);
    EXPECT_EQ(SampleAt(avg, 1, 0), -32768);
    Release({&in, &out, &avg, &fresh, &five, &loud, &loudOut});
}

TEST(Dewow, StridedAndInPlaceBuffersGiveTheSameSamples) {
    MeboDataPtr in = MakeBuffer(0, 199, 0, 6, 0, 1, ProfileSample);
    MeboDataPtr out = Filled(200, 7, 2, 0), same = MakeBuffer(0, 199, 0, 6, 0, 1, ProfileSample);
    MeboDataPtr inT = Transposed(in), outT = Transposed(out);
    ASSERT_EQ(CCdpProcessToolbox::CdpDewow(out, in, nullptr, 1.33, 250.0, 0.4), 0);
    ASSERT_EQ(CCdpProcessToolbox::CdpDewow(outT, inT, nullptr, 1.33, 250.0, 0.4), 0);
    ASSERT_EQ(CCdpProcessToolbox::CdpDewow(same, same, nullptr, 1.33, 250.0, 0.4), 0);
    ASSERT_EQ(CCdpProcessToolbox::CdpDewow(inT, inT, nullptr, 1.33, 250.0, 0.4), 0);
    ExpectSameSamples(out, outT);
    ExpectSameSamples(out, same);
    ExpectSameSamples(out, inT);
    // A zero frequency gives a one-sample window: all zeros.
    ASSERT_EQ(CCdpProcessToolbox::CdpDewow(out, in, nullptr, 1.33, 0.0, 0.4), 0);
    EXPECT_EQ(SampleAt(out, 17, 3, 1), 0);
    Release({&in, &out, &inT, &outT, &same});
}

TEST(Dewow, ProcessMatchesTheEntryPoint) {
    CCdpProcessToolbox toolbox;
    const uint32_t uid = KOL::Str2UID("DEWOW@");
    EXPECT_EQ(toolbox.GetDeclarationParamCount(uid), 1u);
    EXPECT_EQ(toolbox.GetDeclaration(uid, -1), "Dewow");
    EXPECT_EQ(toolbox.GetDeclaration(uid, 0),
              "D\nWINDOW=1.330000\n1.33\n1.00\n500.00\n0.01\n1.33\nWindow width\nDefines the width of "
              "signal be allowed through Dewow filter, measured in GPR transmit pulse widths.\nNA");
    CCdpProcess* p = toolbox.GetProcess(uid);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->GetParams(), "WINDOW=1.33");
    EXPECT_EQ(p->SetParams("WINDOW=0.5"), 1);
    EXPECT_EQ(p->SetParams("WINDOW=3.25"), 0);

    TestSource source(300, 6, 2);
    p->SetDataSource(&source);
    MeboDataPtr out, expect = Filled(300, 6, 2, 0);
    MeboDataPtrClear(&out);
    ASSERT_EQ(p->GetDataCdp(out, nullptr, nullptr), 0);
    const ICdpDataSource::SEGprParam& g = source.Gpr();
    ASSERT_EQ(CCdpProcessToolbox::CdpDewow(expect, source.Data(), nullptr, 3.25, g.antennaFrequency, g.sampleInterval), 0);
    ExpectSameSamples(expect, out);
    source.SetNoGprParam(true);
    EXPECT_EQ(p->GetDataCdp(out, nullptr, nullptr), -201);
    Release({&out, &expect});
}

}  // namespace
