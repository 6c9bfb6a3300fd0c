#include "vantir3/processes/agc_gain.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "kol_utils/kol_utils.h"
#include "tests/support/simd_targets.h"
#include "tests/support/trace_checks.h"
#include "vantir3/framework/toolbox.h"

namespace {

using namespace vantir3_test;

// One trace through the kernel (the vector kernels where they apply), or by
// the scalar formula.
std::vector<int16_t> AgcOf(const std::vector<int16_t>& x, int32_t half, double maxGain, bool scalar = false) {
    vantir3::AgcKernel kernel;
    EXPECT_TRUE(kernel.Reserve(static_cast<int32_t>(x.size()), half, maxGain));
    std::vector<int16_t> y(x.size());
    scalar ? kernel.TraceScalar(x.data(), y.data()) : kernel.Trace(x.data(), y.data());
    return y;
}

TEST(AgcGain, GainOfAWindow) {
    EXPECT_EQ(vantir3::RunningMeanHalf(1.5, 250.0, 0.4), 11);  // 22.5 -> 22 -> 23
    EXPECT_DOUBLE_EQ(vantir3::AgcGainFor(100.0, 2000.0), 327.67);
    EXPECT_EQ(vantir3::AgcGainFor(65.0, 500.0), 500.0);  // capped below 65.534
    EXPECT_EQ(vantir3::AgcGainFor(66.0, 500.0), 32767.0 / 66.0);
    EXPECT_EQ(vantir3::AgcGainFor(1.0, 500.0), 500.0);   // silence: the maximum
    EXPECT_EQ(vantir3::AgcGainFor(0.0, 40000.0), 32767.0);
}

TEST(AgcGain, TracesAreLevelled) {
    ForEachSimdTarget([] {
        // Silence stays silent; +-1 is multiplied by the maximum gain.
        EXPECT_EQ(AgcOf(std::vector<int16_t>(20, 0), 1, 500.0), std::vector<int16_t>(20, 0));
        EXPECT_EQ(AgcOf({1, -1, 1, -1, 1}, 1, 500.0), (std::vector<int16_t>{500, -500, 500, -500, 500}));
        // A constant 1000 comes out at full scale (1000 * 32.767 rounded).
        EXPECT_EQ(AgcOf(std::vector<int16_t>(30, -1000), 1, 500.0), std::vector<int16_t>(30, -32767));
        // Windows shrink at the ends: means 150, 200, 300, 250.
        EXPECT_EQ(AgcOf({100, -200, 300, -200}, 1, 2000.0), (std::vector<int16_t>{21845, -32767, 32767, -26214}));
        // Window sums 197 and 196 over 3 samples, on either side of the cap
        // at maxGain 500 (32767 * 3 / 500 = 196.6): gains 498.99... and 500.
        EXPECT_EQ(AgcOf({66, 65, 66, 65, 65}, 1, 500.0)[1], 32434);
        EXPECT_EQ(AgcOf({66, 65, 66, 65, 65}, 1, 500.0)[3], 32500);
        // 0.5 + 11 * 32767 / (154 / 3) is 7022 exactly, but the scalar
        // formula's roundings give 7021.9999...: floor 7021.
        EXPECT_EQ(AgcOf({100, 11, 43}, 1, 32767.0)[1], 7021);
        // Shorter than the window: the mean over the whole trace (112.5).
        EXPECT_EQ(AgcOf({100, -200, 150, 0}, 1 << 29, 2000.0), (std::vector<int16_t>{29126, -32767, 32767, 0}));
    });
    // A zero frequency gives a one-sample window: full scale, or the maximum
    // gain for silence.
    Owned in = Row({7, -300, 0}), out = Filled(3, 1, 1, 1);
    EXPECT_EQ(vantir3::AgcGain(out.b, in.b, 1.5, 500.0, 0.0, 0.4), 0);
    EXPECT_EQ(Samples(out.b), (std::vector<int16_t>{3500, -32767, 0}));
}

// Every instruction set against the scalar formula: traces shorter than a
// vector, odd lengths, windows wider than the trace and beyond the vector
// kernels' limit, extreme samples.
TEST(AgcGain, EveryTargetGivesTheScalarBits) {
    std::mt19937 random(11);
    // Blocks are 2N samples: 31 ... 65 end in every part of one.
    const std::pair<int32_t, int32_t> shapes[] = {{1, 0},      {2, 1},      {3, 40},       {7, 2},
                                                   {15, 3},     {16, 11},    {17, 11},      {31, 5},
                                                   {33, 0},     {48, 7},     {65, 20},      {1000, 500},
                                                   {1023, 11},  {20000, 8191}, {20000, 8192}};
    for (const auto& [n, half] : shapes) {
        // Full-range noise, small values (whose scaled values are often
        // whole numbers, the cases the vector kernels recompute), and
        // extremes (the largest window sums).
        for (int kind = 0; kind < 4; ++kind) {
            std::vector<int16_t> x(static_cast<size_t>(n));
            for (int16_t& v : x) {
                const int32_t r = static_cast<int32_t>(random() % 65536) - 32768;
                v = static_cast<int16_t>(kind == 0   ? r
                                         : kind == 1 ? r / 4096
                                         : kind == 2 ? r / 16384
                                                     : (r < 0 ? -32768 : 32767));
            }
            // Whole and fractional maximum gains, and one the vector kernels
            // leave to the scalar formula.
            for (double maxGain : {1.0, 2.5, 500.0, 32767.0, 40000.0}) {
                const auto expect = AgcOf(x, half, maxGain, true);
                ForEachSimdTarget([&] {
                    ASSERT_EQ(AgcOf(x, half, maxGain), expect) << n << " " << half << " " << kind << " " << maxGain;
                });
            }
        }
    }
}

// Every sample value once (a permutation of the 16-bit range, so that the
// window sums mix all sizes), at full size and scaled down (small values give
// whole scaled values often), through narrow and profile-sized windows: the
// vector kernels' estimate, its one-step correction and the recomputed lanes
// against the scalar formula, where the products S + 65534 c x and 2 S k
// wrap around 32 bits.
TEST(AgcGain, EverySampleValueThroughTheWindow) {
    for (int32_t shift : {0, 6, 11}) {
        std::vector<int16_t> x(65536 + 37);
        for (size_t i = 0; i < x.size(); ++i) {
            x[i] = static_cast<int16_t>(static_cast<int16_t>(static_cast<uint16_t>(i * 40503u)) >> shift);
        }
        for (int32_t half : {1, 22}) {
            for (double maxGain : {3.0, 500.0, 32767.0}) {
                const auto expect = AgcOf(x, half, maxGain, true);
                ForEachSimdTarget([&] {
                    ASSERT_EQ(AgcOf(x, half, maxGain), expect) << shift << " " << half << " " << maxGain;
                });
            }
        }
    }
}

TEST(AgcGain, ProcessMatchesTheAlgorithmOnItsSource) {
    CCdpProcessToolbox toolbox;
    CCdpProcess* p = toolbox.GetProcess(KOL::Str2UID("AGC@@@"));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->GetParams(), "WINDOW=1.5\nMAXGN@=500");
    EXPECT_EQ(p->SetParams("MAXGN@=200\nGAIN@@=3\nWINDOW=2"), -2);
    EXPECT_EQ(p->SetParams("WINDOW=2.5\nMAXGN@=2000"), 0);
    TestSource source(400, 5, 2);
    const ICdpDataSource::SEGprParam& g = source.Gpr();
    ForEachSimdTarget([&] {
        Owned expect = Filled(400, 5, 2, 0), inT = Transposed(source.Data());
        ASSERT_EQ(vantir3::AgcGain(expect.b, source.Data(), 2.5, 2000.0, g.antennaFrequency, g.sampleInterval), 0);
        ExpectProcessOutput(*p, source, expect.b);
        // The same samples in place through a strided view.
        ASSERT_EQ(vantir3::AgcGain(inT.b, inT.b, 2.5, 2000.0, g.antennaFrequency, g.sampleInterval), 0);
        ExpectSameSamples(expect.b, inT.b);
        // In place on contiguous traces, by the vector kernels and (a
        // maximum gain beyond 32767) the scalar walk.
        for (double maxGain : {2000.0, 40000.0}) {
            Owned fresh = Filled(400, 5, 2, 0);
            Owned same = MakeBuffer(0, 399, 0, 4, 0, 1, [&](int32_t i, int32_t t, int32_t p) {
                return SampleAt(source.Data(), i, t, p);
            });
            ASSERT_EQ(vantir3::AgcGain(fresh.b, source.Data(), 2.5, maxGain, g.antennaFrequency, g.sampleInterval), 0);
            ASSERT_EQ(vantir3::AgcGain(same.b, same.b, 2.5, maxGain, g.antennaFrequency, g.sampleInterval), 0);
            ExpectSameSamples(fresh.b, same.b);
        }
    });
}

}  // namespace
