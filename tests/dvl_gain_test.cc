#include "vantir3/processes/dvl_gain.h"

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

TEST(DvlGain, LinearGainFromTimeZero) {
    std::vector<double> g(40), part(20);
    EXPECT_EQ(vantir3::DvlGainTable(0.4, 10.0, 0.5, 0, 40, g.data()), 9);  // t0 = 9
    EXPECT_DOUBLE_EQ(g[9], 1.0);
    EXPECT_DOUBLE_EQ(g[19], 3.0);  // step 0.2
    EXPECT_EQ(vantir3::DvlGainTable(0.4, 10.25, 0.5, 0, 40, g.data()), 10);
    EXPECT_DOUBLE_EQ(g[10], 1.05);  // G0 = 1 + 0.25 * step
    // A partial range: the same gains, its own count before time zero.
    EXPECT_EQ(vantir3::DvlGainTable(0.4, 10.25, 0.5, 5, 20, part.data()), 5);
    for (int k = 5; k < 20; ++k) EXPECT_EQ(part[k], g[k + 5]);
    // Unusable time zero or interval: no gain anywhere.
    EXPECT_EQ(vantir3::DvlGainTable(0.4, std::nan(""), 0.5, 0, 40, g.data()), 40);
    EXPECT_EQ(vantir3::DvlGainTable(0.4, 10.0, HUGE_VAL, 0, 40, g.data()), 40);
}

TEST(DvlGain, SCurve) {
    const vantir3::DvlCurve one = vantir3::DvlCurveFor(1.0);
    EXPECT_EQ(vantir3::DvlSample(1.0, 100, one), 199);  // y = 199.39
    EXPECT_EQ(vantir3::DvlSample(1.0, -100, one), -199);
    EXPECT_EQ(vantir3::DvlSample(1.0, 32767, one), 32767);
    EXPECT_EQ(vantir3::DvlSample(1.0, -32768, one), -32767);
    EXPECT_EQ(vantir3::DvlSample(3.0, 20000, one), 32767);  // beyond full scale
    // Small signals lifted by (1 + alpha) / alpha: 11 for 0.1, about 1.01 for 100.
    EXPECT_EQ(vantir3::DvlSample(1.0, 10, vantir3::DvlCurveFor(0.1)), 110);
    EXPECT_EQ(vantir3::DvlSample(1.0, 1000, vantir3::DvlCurveFor(100.0)), 1010);
}

TEST(DvlGain, EveryInstructionSetGivesTheScalarBits) {
    std::mt19937 random(5);
    auto check = [](const std::vector<int16_t>& x, const std::vector<double>& g, int32_t n, double alpha,
                     bool bounded) {
        std::vector<int16_t> a(x.size()), b(x.size());
        vantir3::DvlCurve curve = vantir3::DvlCurveFor(alpha);
        vantir3::BoundDvlCurve(curve, g.data(), n);
        ASSERT_EQ(curve.bounded, bounded) << n << " " << alpha;
        const int32_t before = n / 3;
        std::copy(x.begin(), x.begin() + before, a.begin());  // before time zero: copied
        for (int32_t k = before; k < n; ++k) a[k] = vantir3::DvlSample(g[k], x[k], curve);
        ForEachSimdTarget([&] {
            vantir3::DvlTrace(x.data(), b.data(), n, before, g.data(), curve);
            ASSERT_EQ(a, b) << n << " " << alpha << " " << curve.bounded;
        });
    };
    // Every 16-bit sample, before and after the curve's rounding edges.
    std::vector<int16_t> all(65536 + 7);
    std::vector<double> flat(all.size(), 1.0);
    for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int16_t>(static_cast<int>(i % 65536) - 32768);
    for (double alpha : {0.01, 1.0, 100.0}) check(all, flat, static_cast<int32_t>(all.size()), alpha, true);
    // The samples after the first n / 3 end in every part of a round of six
    // blocks of 2N (the divisions in flight together) on AVX2 and AVX-512:
    // 48, 96 and 128 are whole rounds or blocks, one sample more leaves a
    // block's tail.
    for (int32_t n : {1, 15, 16, 17, 72, 73, 100, 144, 145, 192, 193, 1024}) {
        std::vector<int16_t> x(static_cast<size_t>(n));
        std::vector<double> g(x.size());
        for (int32_t k = 0; k < n; ++k) {
            x[k] = static_cast<int16_t>(static_cast<int32_t>(random() % 65536) - 32768);
            g[k] = (k % 2 ? 1.0 : -1.0) * (1.0 + static_cast<double>(random() % 100000) / 997.0);
        }
        for (int32_t k = 0; k < n && k < 8; ++k) x[k * 7 % n] = static_cast<int16_t>(k % 3 - 1);  // 0 and +-1
        // Survey gains (and a zero one): every curve value is 0 or at least
        // 1/2 in magnitude, the rounding by one addition.
        g[0] = 0.0;
        for (double alpha : {0.01, 1.0, 100.0}) check(x, g, n, alpha, true);
        // The smallest gains that keep that (sample 1 gives about 3/4), and
        // just below them, where the other vector form takes over.
        const vantir3::DvlCurve one = vantir3::DvlCurveFor(1.0);
        const double edge = 0.75 * one.q / (one.p - 0.75);
        for (int32_t k = 0; k < n; ++k) g[k] = (k % 2 ? 1.0 : -1.0) * std::nextafter(edge, 1.0);
        check(x, g, n, 1.0, true);
        g[static_cast<size_t>(n / 2)] = std::nextafter(edge, 0.0);
        check(x, g, n, 1.0, false);
        // Gains from 0.01, then gains that make L infinite or NaN, then also
        // a huge one, which makes L P overflow; alpha out of range.
        for (int32_t k = 0; k < n; ++k) g[k] = 0.01 + static_cast<double>(random() % 100000) / 997.0;
        const double special[] = {HUGE_VAL, -HUGE_VAL, std::nan(""), -1e10, 0.0, 1e300};
        for (int32_t last = 3; last < 6; ++last) {
            for (int32_t k = 0; k <= last && k < n; ++k) g[static_cast<size_t>(n - 1 - k)] = special[k];
            for (double alpha : {1e-300, 0.01, 1.0, 100.0, 1e6}) check(x, g, n, alpha, false);
        }
    }
}

TEST(DvlGain, BuffersAreWalkedByIndex) {
    auto value = [](int32_t i, int32_t t, int32_t) {
        return static_cast<int16_t>(i < 5 ? -32768 : (i * 37 + t * 11) % 2001 - 1000);
    };
    Owned in = MakeBuffer(0, 511, 0, 3, 0, 0, value), out = Filled(512, 4, 1, 0), inT = Transposed(in.b);
    ASSERT_EQ(vantir3::DvlGain(out.b, in.b, 1.0, 0.4, 10.0, 0.5), 0);
    std::vector<double> g(512);
    vantir3::DvlGainTable(0.4, 10.0, 0.5, 0, 512, g.data());
    const vantir3::DvlCurve curve = vantir3::DvlCurveFor(1.0);
    for (int32_t t = 0; t < 4; ++t)
        for (int32_t i = 0; i < 512; ++i)  // before time zero (9): copied bit for bit
            ASSERT_EQ(SampleAt(out.b, i, t), i < 9 ? value(i, t, 0) : vantir3::DvlSample(g[i], value(i, t, 0), curve));
    // Samples 200 ... 511 alone give the same values; the output is narrowed.
    Owned part = MakeBuffer(200, 600, 0, 3, 0, 0, [](int32_t, int32_t, int32_t) { return 0; });
    ASSERT_EQ(vantir3::DvlGain(part.b, in.b, 1.0, 0.4, 10.0, 0.5), 1);
    ExpectSameSamples(part.b, out.b);
    // In place through a strided view.
    ASSERT_EQ(vantir3::DvlGain(inT.b, inT.b, 1.0, 0.4, 10.0, 0.5), 0);
    ExpectSameSamples(out.b, inT.b);
}

TEST(DvlGain, ProcessMatchesTheAlgorithmOnItsSource) {
    CCdpProcessToolbox toolbox;
    CCdpProcess* p = toolbox.GetProcess(KOL::Str2UID("DVLGN@"));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->GetParams(), "ALPHA@=1.00\nBETA@@=0.40");
    EXPECT_EQ(p->SetParams("BETA@@=1.60\nALPHA@=0.30"), 0);  // any order
    EXPECT_EQ(p->GetParams(), "ALPHA@=0.30\nBETA@@=1.60");
    TestSource source(300, 4, 2);
    const ICdpDataSource::SEGprParam& g = source.Gpr();
    Owned expect = Filled(300, 4, 2, 0);
    ASSERT_EQ(vantir3::DvlGain(expect.b, source.Data(), 0.3, 1.6, g.timeZeroSample, g.sampleInterval), 0);
    ExpectProcessOutput(*p, source, expect.b);
}

}  // namespace
