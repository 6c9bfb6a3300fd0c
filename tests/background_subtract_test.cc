#include "vantir3/processes/background_subtract.h"

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

MeboDataPtr Fill(int32_t n0, int32_t n1, int32_t n2, int16_t v) {
    return MakeBuffer(0, n0 - 1, 0, n1 - 1, 0, n2 - 1, [v](int32_t, int32_t, int32_t) { return v; });
}

// Traces of one sample each, along axis 1.
MeboDataPtr Row(std::initializer_list<int16_t> values) {
    std::vector<int16_t> v(values);
    return MakeBuffer(0, 0, 0, static_cast<int32_t>(v.size()) - 1, 0, 0,
                      [&](int32_t, int32_t t, int32_t) { return v[t]; });
}

std::vector<int16_t> Traces(const MeboDataPtr& b) {
    std::vector<int16_t> v;
    for (int32_t t = b.axis.dim[1].min; t <= b.axis.dim[1].max; ++t) v.push_back(SampleAt(b, 0, t));
    return v;
}

TEST(BackgroundSubtract, SaturatedSubtraction) {
    EXPECT_EQ(SubtractSaturated16(-32768, 1), -32767);
    EXPECT_EQ(SubtractSaturated16(32767, -1), 32767);
    EXPECT_EQ(SubtractSaturated16(-32767, 1), -32768);
    EXPECT_EQ(SubtractSaturated16(1234, 0), 1234);
    EXPECT_EQ(SubtractSaturated16(-32768, 0), -32768);
    EXPECT_EQ(SubtractSaturated16(0, -32768), 32767);
    EXPECT_EQ(SubtractSaturated16(-1, -32768), 32767);
    EXPECT_EQ(SubtractSaturated16(-2, 32767), -32767);
    EXPECT_EQ(SubtractSaturated16(100, 30), 70);
    // The vector path agrees for every a against a spread of b.
    std::vector<int16_t> a(65536), b(65536), s(65536), v(65536);
    for (int32_t bv : {-32768, -32767, -1, 0, 1, 2, 255, 32766, 32767}) {
        for (int32_t i = 0; i < 65536; ++i) {
            a[i] = static_cast<int16_t>(i - 32768);
            b[i] = static_cast<int16_t>(bv);
        }
        vantir3::SubtractTrace(a.data(), b.data(), s.data(), 65536, SimdLevel::kScalar);
        vantir3::SubtractTrace(a.data(), b.data(), v.data(), 65535, vantir3::CpuSimdLevel());
        v[65535] = s[65535];
        ASSERT_EQ(s, v) << bv;
        for (int32_t i = 0; i < 65536; ++i) ASSERT_EQ(s[i], SubtractSaturated16(a[i], b[i]));
    }
}

TEST(BackgroundSubtract, RunningAverage) {
    // The first W traces lose the truncated mean of those traces; later ones
    // are folded in first: (10 + 21) / 2 = 15.5 -> 15; then 15.5 + (30 - 15.5) / 2 = 22.75.
    MeboDataPtr in = Row({10, 21, 30});
    MeboDataPtr out = Row({0, 0, 0});
    EXPECT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(out, in, nullptr, 2), 0);
    EXPECT_EQ(Traces(out), (std::vector<int16_t>{-5, 6, 8}));
    MeboDataPtr neg = Row({-10, -21, -30});
    EXPECT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(out, neg, nullptr, 2), 0);
    EXPECT_EQ(Traces(out), (std::vector<int16_t>{5, -6, -8}));
    // A window beyond the number of traces is that number: mean 20.33 -> 20.
    EXPECT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(out, in, nullptr, 10), 0);
    EXPECT_EQ(Traces(out), (std::vector<int16_t>{-10, 1, 10}));
    // A window below 2 writes nothing.
    MeboDataPtr keep = Row({7, 7, 7});
    EXPECT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(keep, in, nullptr, 1), 0);
    EXPECT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(keep, in, nullptr, 0), 0);
    EXPECT_EQ(Traces(keep), (std::vector<int16_t>{7, 7, 7}));
    // Constant images give zeros in both forms; each plane starts afresh.
    MeboDataPtr flat = MakeBuffer(0, 40, 0, 29, 0, 1, [](int32_t i, int32_t, int32_t p) {
        return static_cast<int16_t>(p == 0 ? i * 100 - 2000 : -i * 50);
    });
    MeboDataPtr res = Fill(41, 30, 2, 99);
    EXPECT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(res, flat, nullptr, 10), 0);
    for (int32_t p = 0; p < 2; ++p)
        for (int32_t t = 0; t < 30; ++t)
            for (int32_t i = 0; i < 41; ++i) ASSERT_EQ(SampleAt(res, i, t, p), 0);
    MeboDataPtr bg = MakeBuffer(0, 40, 0, 0, 0, 0, [](int32_t i, int32_t, int32_t) {
        return static_cast<int16_t>(i * 100 - 2000);
    });
    MeboDataPtr plane0 = MakeBuffer(0, 40, 0, 29, 0, 0, [](int32_t i, int32_t, int32_t) {
        return static_cast<int16_t>(i * 100 - 2000);
    });
    EXPECT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(plane0, plane0, &bg, 0), 0);
    for (int32_t t = 0; t < 30; ++t) ASSERT_EQ(SampleAt(plane0, 17, t), 0);
    for (MeboDataPtr* b : {&in, &out, &neg, &keep, &flat, &res, &bg, &plane0}) MeboDataPtrRelease(b);
}

TEST(BackgroundSubtract, VectorPathGivesTheScalarBits) {
    if (vantir3::CpuSimdLevel() == SimdLevel::kScalar) GTEST_SKIP() << "no vector path here";
    std::mt19937 random(3);
    for (int32_t n : {1, 15, 16, 17, 1000}) {
        for (double window : {2.0, 3.0, 10.0, 77.0}) {
            std::vector<double> a(static_cast<size_t>(n)), b(a.size());
            for (size_t k = 0; k < a.size(); ++k) a[k] = b[k] = static_cast<double>(random() % 65536) - 32768.0;
            std::vector<int16_t> x(a.size()), ya(a.size()), yb(a.size());
            for (int trace = 0; trace < 20; ++trace) {
                for (int16_t& v : x) v = static_cast<int16_t>(static_cast<int32_t>(random() % 65536) - 32768);
                vantir3::RunningBackgroundTrace(x.data(), a.data(), window, ya.data(), n, SimdLevel::kScalar);
                vantir3::RunningBackgroundTrace(x.data(), b.data(), window, yb.data(), n, vantir3::CpuSimdLevel());
                ASSERT_EQ(a, b);
                ASSERT_EQ(ya, yb);
            }
        }
    }
}

TEST(BackgroundSubtract, ExtentsAreChecked) {
    auto value = [](int32_t i, int32_t t, int32_t) { return vantir3_test::ProfileSample(i, t, 0); };
    MeboDataPtr in = MakeBuffer(0, 63, 10, 19, 0, 0, value);
    // An output that misses part of the input is refused and left alone.
    MeboDataPtr small = MakeBuffer(0, 63, 10, 18, 0, 0, [](int32_t, int32_t, int32_t) { return 5; });
    EXPECT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(small, in, nullptr, 4), vantir3::kOutputDoesNotCoverInput);
    EXPECT_EQ(SampleAt(small, 3, 12), 5);
    // A wider output is narrowed to the input's region.
    MeboDataPtr wide = MakeBuffer(0, 63, 0, 29, 0, 0, [](int32_t, int32_t, int32_t) { return 5; });
    MeboDataPtr same = MakeBuffer(0, 63, 10, 19, 0, 0, [](int32_t, int32_t, int32_t) { return 0; });
    EXPECT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(wide, in, nullptr, 4), 1);
    EXPECT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(same, in, nullptr, 4), 0);
    EXPECT_EQ(wide.axis.dim[1].min, 10);
    for (int32_t t = 10; t < 20; ++t)
        for (int32_t i = 0; i < 64; ++i) ASSERT_EQ(SampleAt(wide, i, t), SampleAt(same, i, t));
    // The background is read from its minimum corner along its own axis 0
    // (here with a stride of two samples) and must be long enough.
    MeboDataPtr bgStore = MakeBuffer(0, 127, 0, 0, 0, 0, [](int32_t i, int32_t, int32_t) {
        return static_cast<int16_t>(i % 2 ? 30000 : i);
    });
    MeboDataPtr bg;
    MeboDataPtrClear(&bg);
    MeboDataPtrShare(&bg, &bgStore);
    Mebo3DDataAxis every2 = bgStore.axis;
    every2.dim[0].stride = 4;
    every2.dim[0].max = 63;
    ASSERT_EQ(MeboDataPtrSetView(&bg, &every2, 1), 1);
    ASSERT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(same, in, &bg, 0), 0);
    for (int32_t t = 10; t < 20; ++t)
        for (int32_t i = 0; i < 64; ++i)
            ASSERT_EQ(SampleAt(same, i, t), SubtractSaturated16(value(i, t, 0), static_cast<int16_t>(2 * i)));
    every2.dim[0].max = 62;
    ASSERT_EQ(MeboDataPtrSetView(&bg, &every2, 1), 1);
    EXPECT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(same, in, &bg, 0), vantir3::kAuxTooSmall);
    MeboDataPtr empty;
    MeboDataPtrClear(&empty);
    EXPECT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(same, in, &empty, 0), vantir3::kAuxTooSmall);
    EXPECT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(same, empty, nullptr, 4), -1);
    for (MeboDataPtr* b : {&in, &small, &wide, &same, &bgStore, &bg}) MeboDataPtrRelease(b);
}

TEST(BackgroundSubtract, StridedTracesAndTheProcessClass) {
    CCdpProcessToolbox toolbox;
    EXPECT_EQ(toolbox.GetProcess(KOL::Str2UID("BGSUB@")), nullptr);
    CCdpPrcBackgroundSubtract p;
    EXPECT_EQ(p.GetProcessUID(), KOL::Str2UID("BGSUB@"));
    EXPECT_EQ(p.GetParamCount(), 1u);
    EXPECT_EQ(p.Window(), 10);
    EXPECT_EQ(p.GetParams(), "WINDOW=10");
    EXPECT_EQ(p.GetDeclaration(-1), "Background Subtraction");
    EXPECT_EQ(p.GetDeclaration(0),
              "D\nWINDOW=10.000000\n10\n1\n32767\n2\n10\nWindow Width\nSpecifies the width in traces "
              "used to compute the average signal for background subtraction.");
    EXPECT_EQ(p.SetParams("WINDOW=3"), 1);  // off the grid of 2
    EXPECT_EQ(p.SetParams("WINDOW=6"), 0);
    EXPECT_EQ(p.Window(), 6);

    vantir3_test::TestSource source(90, 25, 2);
    p.SetDataSource(&source);
    MeboDataPtr out;
    MeboDataPtrClear(&out);
    ASSERT_EQ(p.GetDataCdp(out, nullptr, nullptr), 0);
    MeboDataPtr expect = Fill(90, 25, 2, 0);
    MeboDataPtr raw;
    MeboDataPtrClear(&raw);
    MeboDataPtrShare(&raw, &source.Data());
    ASSERT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(expect, raw, nullptr, 6), 0);
    // Sample-major storage viewed trace by trace: axis 0 has a stride.
    MeboDataPtr inT = MakeBuffer(0, 24, 0, 89, 0, 1, [&](int32_t t, int32_t i, int32_t pl) { return source.At(i, t, pl); });
    MeboDataPtrSwapAxes(&inT, 0, 1);
    ASSERT_EQ(CCdpProcessToolbox::CdpBackgroundSubtract(inT, inT, nullptr, 6), 0);
    for (int32_t pl = 0; pl < 2; ++pl)
        for (int32_t t = 0; t < 25; ++t)
            for (int32_t i = 0; i < 90; ++i) {
                ASSERT_EQ(SampleAt(out, i, t, pl), SampleAt(expect, i, t, pl));
                ASSERT_EQ(SampleAt(inT, i, t, pl), SampleAt(expect, i, t, pl));
            }
    source.SetNoGprParam(true);
    EXPECT_EQ(p.GetDataCdp(out, nullptr, nullptr), -201);
    for (MeboDataPtr* b : {&out, &expect, &raw, &inT}) MeboDataPtrRelease(b);
}

}  // namespace
