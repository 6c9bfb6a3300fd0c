#include "vantir3/processes/dewow.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "kol_utils/kol_utils.h"
#include "tests/support/test_source.h"
#include "vantir3/framework/toolbox.h"

namespace {

using vantir3::SimdLevel;
using vantir3_test::MakeBuffer;
using vantir3_test::SampleAt;

std::vector<int16_t> DewowOf(const std::vector<int16_t>& x, int32_t half, SimdLevel level) {
    vantir3::RunningWindow window;
    EXPECT_TRUE(window.Reserve(static_cast<int32_t>(x.size()), half, level));
    std::vector<int16_t> y(x.size());
    vantir3::DewowTrace(window, x.data(), y.data());
    return y;
}

std::vector<SimdLevel> Levels() {
    std::vector<SimdLevel> levels = {SimdLevel::kScalar};
    if (vantir3::CpuSimdLevel() != SimdLevel::kScalar) levels.push_back(vantir3::CpuSimdLevel());
    return levels;
}

MeboDataPtr Zeros(int32_t n0, int32_t n1, int32_t n2 = 1) {
    return MakeBuffer(0, n0 - 1, 0, n1 - 1, 0, n2 - 1, [](int32_t, int32_t, int32_t) { return 0; });
}

TEST(Dewow, WindowLength) {
    EXPECT_EQ(vantir3::RunningMeanHalf(1.33, 250.0, 0.4), 9);    // floor(19.95) = 19
    EXPECT_EQ(vantir3::RunningMeanHalf(1.33, 100.0, 0.8), 12);   // 24, made odd: 25
    EXPECT_EQ(vantir3::RunningMeanHalf(1.0, 500.0, 0.15), 10);   // 20 -> 21
    EXPECT_EQ(vantir3::RunningMeanHalf(0.1, 250.0, 0.4), 0);     // 1.5 -> 1
    EXPECT_EQ(vantir3::RunningMeanHalf(1.33, 0.0, 0.4), 0);      // infinite
    EXPECT_EQ(vantir3::RunningMeanHalf(1.33, 250.0, 0.0), 0);
    EXPECT_EQ(vantir3::RunningMeanHalf(1.33, -250.0, 0.4), 0);   // negative
    EXPECT_EQ(vantir3::RunningMeanHalf(1.33, 250.0, std::nan("")), 0);
    EXPECT_EQ(vantir3::RunningMeanHalf(500.0, 1e-300, 1.0), 0);  // beyond 32 bits
    EXPECT_EQ(vantir3::RunningMeanHalf(500.0, 1.0, 1.0), 375000);
}

TEST(Dewow, TraceSubtractsTheTruncatedCentredMean) {
    for (SimdLevel level : Levels()) {
        SCOPED_TRACE(static_cast<int>(level));
        // The window shrinks at both ends: 15, 20, 30, 40, 45.
        EXPECT_EQ(DewowOf({10, 20, 30, 40, 50}, 1, level), (std::vector<int16_t>{-5, 0, 0, 0, 5}));
        // Means truncated toward zero: -3.5 -> -3, -2.33 -> -2.
        EXPECT_EQ(DewowOf({-7, 0, 0}, 1, level), (std::vector<int16_t>{-4, 2, 0}));
        // Shorter than the window: the mean of the whole trace (20) for all.
        EXPECT_EQ(DewowOf({10, 20, 30}, 9, level), (std::vector<int16_t>{-10, 0, 10}));
        EXPECT_EQ(DewowOf({10, 20, 30}, 1 << 29, level), (std::vector<int16_t>{-10, 0, 10}));
        // A one-sample window and a constant trace give zeros.
        EXPECT_EQ(DewowOf({5, -32768, 32767, 9}, 0, level), (std::vector<int16_t>(4, 0)));
        EXPECT_EQ(DewowOf(std::vector<int16_t>(37, -1234), 9, level), (std::vector<int16_t>(37, 0)));
        // Wrapped differences saturate at -32767 and 32767; a true -32768 stays.
        EXPECT_EQ(DewowOf({-32768, 32767, 32767, 32767, 32767}, 2, level)[0], -32767);
        EXPECT_EQ(DewowOf({-32768, 32767, 32767, 32767, 32767}, 2, level)[1], 16384);
        EXPECT_EQ(DewowOf({32767, -32768, -32768, -32768, -32768}, 2, level)[0], 32767);
        EXPECT_EQ(DewowOf({-32767, 10924, 10924, 10923}, 3, level)[0], -32768);
    }
}

TEST(Dewow, VectorPathGivesTheScalarBits) {
    if (vantir3::CpuSimdLevel() == SimdLevel::kScalar) GTEST_SKIP() << "no vector path here";
    std::mt19937 random(7);
    const std::pair<int32_t, int32_t> shapes[] = {{1, 0},  {2, 1},    {15, 3},     {16, 9},   {17, 9},
                                                   {100, 0}, {100, 12}, {1000, 500}, {1023, 9}, {70000, 30000}};
    for (const auto& [n, half] : shapes) {
        for (int kind = 0; kind < 3; ++kind) {
            std::vector<int16_t> x(static_cast<size_t>(n));
            for (int16_t& v : x) {
                const int32_t r = static_cast<int32_t>(random() % 65536) - 32768;
                v = static_cast<int16_t>(kind == 0 ? r : kind == 1 ? r / 64 : (r < 0 ? -32768 : 32767));
            }
            ASSERT_EQ(DewowOf(x, half, SimdLevel::kScalar), DewowOf(x, half, vantir3::CpuSimdLevel()))
                << n << " " << half << " " << kind;
        }
    }
}

TEST(Dewow, AveragedTrace) {
    // Ten traces of two samples, a three-sample window (half 1): five traces
    // (-10, 0) dewow to (-5, 5), five zero traces to (0, 0).
    MeboDataPtr in = MakeBuffer(0, 1, 0, 9, 0, 0, [](int32_t i, int32_t t, int32_t) {
        return static_cast<int16_t>(t < 5 && i == 0 ? -10 : 0);
    });
    MeboDataPtr out = Zeros(2, 10);
    MeboDataPtr avg = MakeBuffer(0, 3, 0, 0, 0, 0, [](int32_t, int32_t, int32_t) { return 99; });
    MeboDataPtrSeek(&avg, 1, 0, 0);
    ASSERT_EQ(CCdpProcessToolbox::CdpDewow(out, in, &avg, 1.0, 500.0, 1.0), 0);
    EXPECT_EQ(SampleAt(out, 0, 0), -5);
    EXPECT_EQ(SampleAt(avg, 0, 0), 99);
    EXPECT_EQ(SampleAt(avg, 1, 0), -2);  // -25 / 10
    EXPECT_EQ(SampleAt(avg, 2, 0), 2);   // 25 / 10
    EXPECT_EQ(SampleAt(avg, 3, 0), 99);
    // Too little room from the cursor, or no storage: refused, nothing written.
    MeboDataPtrSeek(&avg, 3, 0, 0);
    MeboDataPtr fresh = Zeros(2, 10);
    EXPECT_EQ(CCdpProcessToolbox::CdpDewow(fresh, in, &avg, 1.0, 500.0, 1.0), vantir3::kAuxTooSmall);
    EXPECT_EQ(SampleAt(fresh, 0, 0), 0);
    EXPECT_EQ(SampleAt(avg, 3, 0), 99);
    MeboDataPtr empty;
    MeboDataPtrClear(&empty);
    EXPECT_EQ(CCdpProcessToolbox::CdpDewow(fresh, in, &empty, 1.0, 500.0, 1.0), vantir3::kAuxTooSmall);
    // A narrower output: the averages cover the common region only.
    MeboDataPtr one = MakeBuffer(0, 1, 0, 4, 0, 0, [](int32_t, int32_t, int32_t) { return 0; });
    MeboDataPtrSeek(&avg, 0, 0, 0);
    ASSERT_EQ(CCdpProcessToolbox::CdpDewow(one, in, &avg, 1.0, 500.0, 1.0), 0);
    EXPECT_EQ(SampleAt(avg, 0, 0), -5);
    EXPECT_EQ(SampleAt(avg, 1, 0), 5);
    for (MeboDataPtr* b : {&in, &out, &avg, &fresh, &one}) MeboDataPtrRelease(b);
}

TEST(Dewow, StridedAndInPlaceBuffersGiveTheSameSamples) {
    auto value = [](int32_t i, int32_t t, int32_t p) { return vantir3_test::ProfileSample(i, t, p); };
    MeboDataPtr in = MakeBuffer(0, 199, 0, 6, 0, 1, value);
    MeboDataPtr out = Zeros(200, 7, 2);
    ASSERT_EQ(CCdpProcessToolbox::CdpDewow(out, in, nullptr, 1.33, 250.0, 0.4), 0);
    // Trace-major storage viewed with axis 0 across it: axis 0 has a stride.
    MeboDataPtr inT = MakeBuffer(0, 6, 0, 199, 0, 1, [&](int32_t t, int32_t i, int32_t p) { return value(i, t, p); });
    MeboDataPtr outT = Zeros(7, 200, 2);
    MeboDataPtrSwapAxes(&inT, 0, 1);
    MeboDataPtrSwapAxes(&outT, 0, 1);
    ASSERT_EQ(CCdpProcessToolbox::CdpDewow(outT, inT, nullptr, 1.33, 250.0, 0.4), 0);
    // In place, contiguous and strided.
    MeboDataPtr same = MakeBuffer(0, 199, 0, 6, 0, 1, value);
    ASSERT_EQ(CCdpProcessToolbox::CdpDewow(same, same, nullptr, 1.33, 250.0, 0.4), 0);
    ASSERT_EQ(CCdpProcessToolbox::CdpDewow(inT, inT, nullptr, 1.33, 250.0, 0.4), 0);
    for (int32_t p = 0; p < 2; ++p)
        for (int32_t t = 0; t < 7; ++t)
            for (int32_t i = 0; i < 200; ++i) {
                ASSERT_EQ(SampleAt(outT, i, t, p), SampleAt(out, i, t, p));
                ASSERT_EQ(SampleAt(same, i, t, p), SampleAt(out, i, t, p));
                ASSERT_EQ(SampleAt(inT, i, t, p), SampleAt(out, i, t, p));
            }
    // A zero frequency gives a one-sample window: all zeros.
    ASSERT_EQ(CCdpProcessToolbox::CdpDewow(out, in, nullptr, 1.33, 0.0, 0.4), 0);
    EXPECT_EQ(SampleAt(out, 17, 3, 1), 0);
    for (MeboDataPtr* b : {&in, &out, &inT, &outT, &same}) MeboDataPtrRelease(b);
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

    vantir3_test::TestSource source(300, 6, 2);
    p->SetDataSource(&source);
    MeboDataPtr out;
    MeboDataPtrClear(&out);
    ASSERT_EQ(p->GetDataCdp(out, nullptr, nullptr), 0);
    MeboDataPtr expect = Zeros(300, 6, 2);
    const ICdpDataSource::SEGprParam& gpr = source.Gpr();
    ASSERT_EQ(CCdpProcessToolbox::CdpDewow(expect, source.Data(), nullptr, 3.25, gpr.antennaFrequency,
                                           gpr.sampleInterval),
              0);
    for (int32_t pl = 0; pl < 2; ++pl)
        for (int32_t t = 0; t < 6; ++t)
            for (int32_t i = 0; i < 300; ++i) ASSERT_EQ(SampleAt(out, i, t, pl), SampleAt(expect, i, t, pl));
    source.SetNoGprParam(true);
    EXPECT_EQ(p->GetDataCdp(out, nullptr, nullptr), -201);
    for (MeboDataPtr* b : {&out, &expect}) MeboDataPtrRelease(b);
}

}  // namespace
