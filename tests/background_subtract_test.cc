#include "vantir3/processes/background_subtract.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "kol_utils/kol_utils.h"
#include "tests/support/simd_targets.h"
#include "tests/support/trace_checks.h"
#include "vantir3/framework/toolbox.h"

namespace {

using namespace vantir3_test;

// One-sample traces along axis 1, through the running average.
std::vector<int16_t> Running(const std::vector<int16_t>& v, int window) {
    Owned in = Row(v), out = Filled(static_cast<int32_t>(v.size()), 1, 1, 7);
    MeboDataPtrSwapAxes(&in.b, 0, 1);
    MeboDataPtrSwapAxes(&out.b, 0, 1);
    EXPECT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(out.b, in.b, nullptr, window), 0);
    MeboDataPtrSwapAxes(&out.b, 0, 1);
    return Samples(out.b);
}

TEST(BackgroundSubtract, SaturatedSubtraction) {
    // -32768 - 1 saturates at -32767; -32767 - 1 is a true -32768.
    EXPECT_EQ(std::vector<int16_t>({SubtractSaturated16(-32768, 1), SubtractSaturated16(32767, -1),
                                    SubtractSaturated16(-32767, 1), SubtractSaturated16(1234, 0),
                                    SubtractSaturated16(-1, -32768), SubtractSaturated16(100, 30),
                                    SubtractSaturated16(32767, -32768), SubtractSaturated16(-32768, 32767)}),
              (std::vector<int16_t>{-32767, 32767, -32768, 1234, 32767, 70, 32767, -32767}));
    // Every target agrees with the scalar formula for every a against a
    // spread of b, over lengths shorter than a vector and odd ones (the
    // tail), in place too.
    std::vector<int16_t> a(65535), b(65535 + vantir3::kBackgroundPadding), expect(65535);
    for (int32_t bv : {-32768, -32767, -1, 0, 1, 2, 255, 32766, 32767}) {
        for (int32_t i = 0; i < 65535; ++i) {
            a[i] = static_cast<int16_t>(i - 32768);
            b[i] = static_cast<int16_t>(bv);
        }
        vantir3::SubtractTraceScalar(a.data(), b.data(), expect.data(), 65535);
        ForEachSimdTarget([&] {
            for (int32_t n : {1, 3, 7, 15, 31, 65535}) {
                std::vector<int16_t> y(a.begin(), a.begin() + n);
                vantir3::SubtractTrace(y.data(), b.data(), y.data(), n);
                ASSERT_TRUE(std::equal(y.begin(), y.end(), expect.begin())) << bv << " " << n;
            }
        });
    }
}

TEST(BackgroundSubtract, RunningAverage) {
    // The first W traces lose the truncated mean of those traces, (10 + 21) / 2
    // = 15.5 -> 15; later ones are folded in first: 15.5 + (30 - 15.5) / 2 = 22.75.
    EXPECT_EQ(Running({10, 21, 30}, 2), (std::vector<int16_t>{-5, 6, 8}));
    EXPECT_EQ(Running({-10, -21, -30}, 2), (std::vector<int16_t>{5, -6, -8}));
    // A window beyond the number of traces is that number: mean 20.33 -> 20.
    EXPECT_EQ(Running({10, 21, 30}, 10), (std::vector<int16_t>{-10, 1, 10}));
    // A window below 2 writes nothing.
    EXPECT_EQ(Running({10, 21, 30}, 1), (std::vector<int16_t>{7, 7, 7}));
    EXPECT_EQ(Running({10, 21, 30}, 0), (std::vector<int16_t>{7, 7, 7}));
    // Traces all alike give zeros in both forms; each plane starts afresh.
    Owned flat = MakeBuffer(0, 40, 0, 29, 0, 1, [](int32_t i, int32_t, int32_t p) {
        return static_cast<int16_t>(p == 0 ? i * 100 - 2000 : -i * 50);
    });
    Owned zeros = Filled(41, 30, 2, 0), res = Filled(41, 30, 2, 99);
    Owned bg = MakeBuffer(0, 40, 0, 0, 0, 0, [](int32_t i, int32_t, int32_t) { return static_cast<int16_t>(-i * 50); });
    EXPECT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(res.b, flat.b, nullptr, 10), 0);
    ExpectSameSamples(zeros.b, res.b);
    EXPECT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(res.b, flat.b, &bg.b, 0), 0);
    EXPECT_EQ(SampleAt(res.b, 17, 9, 1), 0);
    EXPECT_EQ(SampleAt(res.b, 17, 9, 0), 550);  // -300 - (-850)
}

// Every target against the scalar formula over twenty traces of the running
// average: lengths shorter than a vector and odd ones, extreme samples.
TEST(BackgroundSubtract, EveryTargetGivesTheScalarBits) {
    std::mt19937 random(3);
    // Blocks are a whole vector of samples (4N), taken two at a time while
    // two are left: 31 ... 65 end in every part of a block on AVX2 and
    // AVX-512, 64 ... 129 at and just past whole pairs.
    for (int32_t n : {1, 3, 7, 15, 16, 17, 31, 32, 33, 48, 63, 64, 65, 96, 97, 128, 129, 1000}) {
        for (double window : {2.0, 3.0, 10.0, 77.0}) {
            std::vector<double> start(static_cast<size_t>(n) + vantir3::kBackgroundPadding);
            for (double& v : start) v = static_cast<double>(random() % 65536) - 32768.0;
            std::vector<std::vector<int16_t>> traces(20, std::vector<int16_t>(static_cast<size_t>(n)));
            for (size_t t = 0; t < traces.size(); ++t) {
                for (int16_t& v : traces[t]) {
                    const int32_t r = static_cast<int32_t>(random() % 65536) - 32768;
                    v = static_cast<int16_t>(t % 4 == 3 ? (r < 0 ? -32768 : 32767) : r);
                }
            }
            std::vector<double> expectAverage = start;
            std::vector<std::vector<int16_t>> expect = traces;
            for (auto& y : expect) {
                vantir3::RunningBackgroundTraceScalar(y.data(), expectAverage.data(), window, y.data(), n);
            }
            ForEachSimdTarget([&] {
                std::vector<double> average = start;
                for (size_t t = 0; t < traces.size(); ++t) {
                    std::vector<int16_t> y(traces[t].size());
                    vantir3::RunningBackgroundTrace(traces[t].data(), average.data(), window, y.data(), n);
                    ASSERT_EQ(y, expect[t]) << n << " " << window << " " << t;
                }
                ASSERT_TRUE(std::equal(expectAverage.begin(), expectAverage.begin() + n, average.begin()));
            });
        }
    }
}

TEST(BackgroundSubtract, ExtentsAreChecked) {
    Owned in = MakeBuffer(0, 63, 10, 19, 0, 0, ProfileSample);
    // An output that misses part of the input is refused and left alone.
    Owned small = MakeBuffer(0, 63, 10, 18, 0, 0, [](int32_t, int32_t, int32_t) { return 5; });
    EXPECT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(small.b, in.b, nullptr, 4), vantir3::kOutputDoesNotCoverInput);
    EXPECT_EQ(SampleAt(small.b, 3, 12), 5);
    // A wider output is narrowed to the input's region.
    Owned wide = MakeBuffer(0, 63, 0, 29, 0, 0, [](int32_t, int32_t, int32_t) { return 5; });
    Owned same = MakeBuffer(0, 63, 10, 19, 0, 0, [](int32_t, int32_t, int32_t) { return 0; });
    EXPECT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(wide.b, in.b, nullptr, 4), 1);
    EXPECT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(same.b, in.b, nullptr, 4), 0);
    EXPECT_EQ(wide.b.axis.dim[1].min, 10);
    ExpectSameSamples(same.b, wide.b);
    // The background is read from its minimum corner along its own axis 0
    // (here every other sample) and must be long enough.
    Owned store = MakeBuffer(0, 127, 0, 0, 0, 0, [](int32_t i, int32_t, int32_t) {
        return static_cast<int16_t>(i % 2 ? 30000 : i);
    });
    Owned bg, empty;
    MeboDataPtrShare(&bg.b, &store.b);
    Mebo3DDataAxis every2 = store.b.axis;
    every2.dim[0].stride = 4;
    every2.dim[0].max = 63;
    ASSERT_EQ(MeboDataPtrSetView(&bg.b, &every2, 1), 1);
    ASSERT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(same.b, in.b, &bg.b, 0), 0);
    for (int32_t t = 10; t < 20; ++t)
        for (int32_t i = 0; i < 64; ++i)
            ASSERT_EQ(SampleAt(same.b, i, t), SubtractSaturated16(ProfileSample(i, t, 0), static_cast<int16_t>(2 * i)));
    every2.dim[0].max = 62;
    ASSERT_EQ(MeboDataPtrSetView(&bg.b, &every2, 1), 1);
    EXPECT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(same.b, in.b, &bg.b, 0), vantir3::kAuxTooSmall);
    EXPECT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(same.b, in.b, &empty.b, 0), vantir3::kAuxTooSmall);
    EXPECT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(same.b, empty.b, nullptr, 4), -1);
}

TEST(BackgroundSubtract, ProcessClassAndStridedTraces) {
    CCdpProcessToolbox toolbox;
    EXPECT_EQ(toolbox.GetProcess(KOL::Str2UID("BGSUB@")), nullptr);  // made by the host, not the toolbox
    CCdpPrcBackgroundSubtract p;
    EXPECT_EQ(p.GetProcessUID(), KOL::Str2UID("BGSUB@"));
    EXPECT_EQ(p.GetParams(), "WINDOW=10");
    EXPECT_EQ(p.GetDeclaration(-1), "Background Subtraction");
    EXPECT_EQ(p.SetParams("WINDOW=3"), 1);  // off the grid of 2
    EXPECT_EQ(p.SetParams("WINDOW=6"), 0);
    EXPECT_EQ(p.Window(), 6);
    TestSource source(90, 25, 2);
    ForEachSimdTarget([&] {
        Owned expect = Filled(90, 25, 2, 0), inT = Transposed(source.Data()), raw;
        MeboDataPtrShare(&raw.b, &source.Data());
        ASSERT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(expect.b, raw.b, nullptr, 6), 0);
        ExpectProcessOutput(p, source, expect.b);
        // In place through a view with a stride on axis 0.
        ASSERT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(inT.b, inT.b, nullptr, 6), 0);
        ExpectSameSamples(expect.b, inT.b);
    });
}

}  // namespace
