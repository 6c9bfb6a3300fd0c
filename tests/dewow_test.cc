#include "vantir3/processes/dewow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "kol_utils/kol_utils.h"
#include "tests/support/simd_targets.h"
#include "tests/support/trace_checks.h"
#include "vantir3/framework/toolbox.h"

namespace {

using namespace vantir3_test;

// One trace through DewowTrace (the vector kernels where the window allows)
// or by the scalar formula.
std::vector<int16_t> DewowOf(const std::vector<int16_t>& x, int32_t half, bool scalar = false) {
    vantir3::RunningWindow window;
    EXPECT_TRUE(window.Reserve(static_cast<int32_t>(x.size()), half));
    std::vector<int16_t> y(x.size());
    (scalar ? vantir3::DewowTraceScalar : vantir3::DewowTrace)(window, x.data(), y.data());
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
    ForEachSimdTarget([] {
        // The window shrinks at both ends: means 15, 20, 30, 40, 45.
        EXPECT_EQ(DewowOf({10, 20, 30, 40, 50}, 1), (std::vector<int16_t>{-5, 0, 0, 0, 5}));
        // Means truncated toward zero: -3.5 -> -3, -2.33 -> -2.
        EXPECT_EQ(DewowOf({-7, 0, 0}, 1), (std::vector<int16_t>{-4, 2, 0}));
        // Shorter than the window: the mean of the whole trace for all.
        EXPECT_EQ(DewowOf({10, 20, 30}, 1 << 29), (std::vector<int16_t>{-10, 0, 10}));
        EXPECT_EQ(DewowOf({5, -32768, 32767, 9}, 0), (std::vector<int16_t>(4, 0)));
        // Wrapped differences saturate at -32767 and 32767; a true -32768 stays.
        EXPECT_EQ(DewowOf({-32768, 32767, 32767, 32767, 32767}, 2)[0], -32767);
        EXPECT_EQ(DewowOf({-32768, 32767, 32767, 32767, 32767}, 2)[1], 16384);
        EXPECT_EQ(DewowOf({32767, -32768, -32768, -32768, -32768}, 2)[0], 32767);
        EXPECT_EQ(DewowOf({-32767, 10924, 10924, 10923}, 3)[0], -32768);
        // Constant traces: every window mean is a whole number, met exactly.
        for (int32_t half : {0, 9, 12, 1000})
            for (int32_t v : {-32768, -12345, -1, 1, 3, 9999, 32767})
                ASSERT_EQ(DewowOf(std::vector<int16_t>(2100, static_cast<int16_t>(v)), half),
                          std::vector<int16_t>(2100, 0));
    });
}

// Every instruction set against the scalar formula: traces shorter than a
// vector, odd lengths, windows wider than the trace and beyond the vector
// kernels' limit, extremes.
TEST(Dewow, EveryTargetGivesTheScalarBits) {
    std::mt19937 random(7);
    // The 70000-sample shapes have prefix sums beyond 32 bits (they wrap)
    // and windows of up to 65535 samples, or more (the scalar walk).
    // Windows of 127 and 128 samples take their means in floats, 129 in
    // doubles; blocks are 2N samples (31 ... 65 cross them).
    const std::pair<int32_t, int32_t> shapes[] = {{1, 0},      {2, 1},     {3, 50},    {5, 1},       {7, 2},
                                                   {15, 3},     {16, 9},    {17, 9},    {31, 4},      {33, 0},
                                                   {64, 20},    {65, 7},    {128, 200}, {129, 200},   {300, 63},
                                                   {300, 64},   {1000, 500}, {1023, 9}, {70000, 32767}, {70000, 32768}};
    for (const auto& [n, half] : shapes) {
        // Full-range noise, small values, extremes of either sign, and
        // samples near the top or the bottom of the range (means just below
        // whole numbers of the largest size, the floats' hardest case).
        for (int kind = 0; kind < 5; ++kind) {
            std::vector<int16_t> x(static_cast<size_t>(n));
            for (int16_t& v : x) {
                const int32_t r = static_cast<int32_t>(random() % 65536) - 32768;
                const int32_t step = r % 8 == 0 ? 1 : 0;
                v = static_cast<int16_t>(kind == 0   ? r
                                         : kind == 1 ? r / 64
                                         : kind == 2 ? (r < 0 ? -32768 : 32767)
                                         : kind == 3 ? 32767 - step
                                                     : -32768 + step);
            }
            const auto expect = DewowOf(x, half, true);
            ForEachSimdTarget([&] { ASSERT_EQ(DewowOf(x, half), expect) << n << " " << half << " " << kind; });
        }
    }
}

// The float means' inverse is the smallest float at or above 1 / c, and its
// products truncate as the means do for every window of up to 128 samples
// at the sums that the proof calls hardest: whole means K and the sums one
// below and above them, at every size of K and either sign.
TEST(Dewow, FloatMeansTruncateExactly) {
    for (int32_t c = 1; c <= vantir3::RunningWindow::kFloatMeanWindow + 1; ++c) {
        vantir3::RunningWindow window;
        ASSERT_TRUE(window.Reserve(c, c));
        const float* inverse = window.RoundedUpInverses();
        if (c > vantir3::RunningWindow::kFloatMeanWindow) {
            EXPECT_EQ(inverse, nullptr);
            break;
        }
        ASSERT_NE(inverse, nullptr);
        const float r = inverse[c - 1];
        ASSERT_GE(static_cast<double>(r) * c, 1.0) << c;
        ASSERT_LT(static_cast<double>(std::nextafter(r, 0.0f)) * c, 1.0) << c;
        for (int32_t k = 0; k <= 32768; ++k) {
            for (int32_t s : {k * c - 1, k * c, k * c + 1}) {
                if (s > 32768 * c) continue;
                for (int32_t sum : {s, -s}) {
                    const int32_t mean = static_cast<int32_t>(static_cast<float>(sum) * r);
                    ASSERT_EQ(mean, sum / c) << sum << " " << c;
                }
            }
        }
    }
}

TEST(Dewow, AveragedTrace) {
    // Ten traces of two samples, a three-sample window: five traces (-10, 0)
    // dewow to (-5, 5), five zero traces to (0, 0).
    Owned in = MakeBuffer(0, 1, 0, 9, 0, 0, [](int32_t i, int32_t t, int32_t) {
        return static_cast<int16_t>(t < 5 && i == 0 ? -10 : 0);
    });
    Owned out = Filled(2, 10, 1, 0), avg = Filled(4, 1, 1, 99), empty, fresh = Filled(2, 10, 1, 0);
    auto dewow = [&](MeboDataPtr& o, const MeboDataPtr& i, MeboDataPtr* a, int32_t cursor) {
        MeboDataPtrSeek(&avg.b, cursor, 0, 0);
        return CCdpProcessToolbox::CdpDewow(o, i, a, 1.0, 500.0, 1.0);
    };
    ASSERT_EQ(dewow(out.b, in.b, &avg.b, 1), 0);
    EXPECT_EQ(SampleAt(out.b, 0, 0), -5);
    // Written from the cursor: -25 / 10 and 25 / 10, truncated.
    EXPECT_EQ(Samples(avg.b), (std::vector<int16_t>{99, -2, 2, 99}));
    // Too little room from the cursor, or no storage: refused, nothing written.
    EXPECT_EQ(dewow(fresh.b, in.b, &avg.b, 3), vantir3::kAuxTooSmall);
    EXPECT_EQ(dewow(fresh.b, in.b, &empty.b, 3), vantir3::kAuxTooSmall);
    EXPECT_EQ(SampleAt(fresh.b, 0, 0), 0);
    EXPECT_EQ(SampleAt(avg.b, 3, 0), 99);
    // A narrower output: the average covers the common region only.
    Owned five = Filled(2, 5, 1, 0);
    ASSERT_EQ(dewow(five.b, in.b, &avg.b, 0), 0);
    EXPECT_EQ(Samples(avg.b), (std::vector<int16_t>{-5, 5, 2, 99}));
    // 70000 traces at the extremes: sums beyond 32 bits stay exact.
    Owned loud = MakeBuffer(0, 1, 0, 69999, 0, 0, [](int32_t i, int32_t, int32_t) {
        return static_cast<int16_t>(i == 0 ? 32767 : -32768);
    });
    Owned loudOut = Filled(2, 70000, 1, 0);
    ASSERT_EQ(dewow(loudOut.b, loud.b, &avg.b, 0), 0);
    EXPECT_EQ(Samples(avg.b), (std::vector<int16_t>{32767, -32768, 2, 99}));
}

// The averaged trace on every target against the scalar formula's outputs
// summed trace by trace: the traces' sums are added two at a time, so odd and
// even trace counts (the last trace alone), lengths that end inside a vector,
// strided outputs (the pairs wait in copies), in-place runs, overlapping
// output traces, and more traces
// than one 32-bit partial sum holds (the carry adds a waiting trace first).
TEST(Dewow, AveragedTraceOnEveryTarget) {
    const std::pair<int32_t, int32_t> shapes[] = {{37, 5}, {64, 6}, {1, 3}, {31, 1}, {33, 65538}};
    for (const auto& [n, traces] : shapes) {
        // Loud noise, the traces' signs alternating in runs of three (their
        // sums climb far from 0 and back).
        const auto value = [](int32_t i, int32_t t, int32_t) {
            const uint32_t h = (static_cast<uint32_t>(i) * 2654435761u) ^ (static_cast<uint32_t>(t) * 40503u);
            const int32_t v = 20000 + static_cast<int32_t>(h % 12000);
            return static_cast<int16_t>((t / 3) % 2 == 0 ? v : -v - 1);
        };
        int64_t total[64] = {};
        for (int32_t t = 0; t < traces; ++t) {
            std::vector<int16_t> x(static_cast<size_t>(n));
            for (int32_t i = 0; i < n; ++i) x[i] = value(i, t, 0);
            const std::vector<int16_t> y = DewowOf(x, 9, true);  // the window of 1.33 at 250 MHz, 0.4 ns
            for (int32_t i = 0; i < n; ++i) total[i] += y[i];
        }
        std::vector<int16_t> expect(static_cast<size_t>(n));
        for (int32_t i = 0; i < n; ++i) expect[i] = static_cast<int16_t>(total[i] / traces);
        ForEachSimdTarget([&] {
            // Contiguous, strided output, in place, and output traces that
            // overlap by half (each trace's outputs are overwritten by the
            // next trace's before they would be added with them).
            for (int way = 0; way < 4; ++way) {
                SCOPED_TRACE(testing::Message() << n << " x " << traces << " way " << way);
                Owned in = MakeBuffer(0, n - 1, 0, traces - 1, 0, 0, value), avg = Filled(n, 1, 1, 99);
                Owned out = way == 1 ? Transposed(in.b) : Filled(n, traces, 1, 0);
                if (way == 3) out.b.axis.dim[1].stride = static_cast<int32_t>(sizeof(int16_t)) * std::max(1, n / 2);
                MeboDataPtr& o = way == 2 ? in.b : out.b;
                ASSERT_EQ(CCdpProcessToolbox::CdpDewow(o, in.b, &avg.b, 1.33, 250.0, 0.4), 0);
                ASSERT_EQ(Samples(avg.b), expect);
            }
        });
    }
}

// Strided views and in-place runs give the samples of contiguous buffers;
// the process gives those of the entry point on its source.
TEST(Dewow, StridedInPlaceAndThroughTheProcess) {
    ForEachSimdTarget([] {
        Owned in = MakeBuffer(0, 199, 0, 6, 0, 1, ProfileSample), out = Filled(200, 7, 2, 0);
        Owned inT = Transposed(in.b), outT = Transposed(out.b);
        ASSERT_EQ(CCdpProcessToolbox::CdpDewow(out.b, in.b, nullptr, 1.33, 250.0, 0.4), 0);
        ASSERT_EQ(CCdpProcessToolbox::CdpDewow(outT.b, inT.b, nullptr, 1.33, 250.0, 0.4), 0);
        ExpectSameSamples(out.b, outT.b);
        ASSERT_EQ(CCdpProcessToolbox::CdpDewow(inT.b, inT.b, nullptr, 1.33, 250.0, 0.4), 0);
        ExpectSameSamples(out.b, inT.b);
    });
    Owned in = MakeBuffer(0, 199, 0, 6, 0, 1, ProfileSample), out = Filled(200, 7, 2, 0);
    // A zero frequency gives a one-sample window: all zeros.
    ASSERT_EQ(CCdpProcessToolbox::CdpDewow(out.b, in.b, nullptr, 1.33, 0.0, 0.4), 0);
    EXPECT_EQ(SampleAt(out.b, 17, 3, 1), 0);
    CCdpProcessToolbox toolbox;
    CCdpProcess* p = toolbox.GetProcess(KOL::Str2UID("DEWOW@"));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->GetParams(), "WINDOW=1.33");
    EXPECT_EQ(p->SetParams("WINDOW=0.5"), 1);
    EXPECT_EQ(p->SetParams("WINDOW=3.25"), 0);
    TestSource source(300, 6, 2);
    const ICdpDataSource::SEGprParam& g = source.Gpr();
    Owned expect = Filled(300, 6, 2, 0);
    ASSERT_EQ(CCdpProcessToolbox::CdpDewow(expect.b, source.Data(), nullptr, 3.25, g.antennaFrequency,
                                           g.sampleInterval), 0);
    ExpectProcessOutput(*p, source, expect.b);
}

}  // namespace
