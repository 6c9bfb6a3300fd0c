#include "vantir3/processes/envelope.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "tests/support/test_source.h"
#include "vantir3/framework/toolbox.h"

namespace {

using vantir3::SimdPath;
using vantir3_test::MakeBuffer;
using vantir3_test::SampleAt;

// Every instruction-set path this processor can run.
std::vector<SimdPath> Paths() {
    std::vector<SimdPath> paths;
    for (SimdPath p : {SimdPath::kPlain, SimdPath::kAvx2, SimdPath::kAvx512})
        if (vantir3::ChooseSimdPath(p) == p) paths.push_back(p);
    return paths;
}

MeboDataPtr Constant(int32_t samples, int32_t traces, int32_t planes, int16_t c) {
    return MakeBuffer(0, samples - 1, 0, traces - 1, 0, planes - 1,
                      [=](int32_t, int32_t, int32_t) { return c; });
}

SCDPPrc_DataStatsMode Stats(uint8_t mode, MeboDataPtr* index = nullptr) {
    SCDPPrc_DataStatsMode s;
    SCDPPrc_InitStats(&s);
    s.mode = mode;
    s.indexStats = index;
    return s;
}

// The rule written out directly, one sample at a time, lags limited to s - 1.
int16_t Reference(const std::vector<int16_t>& x, int32_t n, int32_t window) {
    const int32_t s = static_cast<int32_t>(x.size());
    const int32_t w = window / 2, lag = std::min((w / 2) * 2 + 1, s - 1);
    double h = 0.0;
    for (int32_t k = 1; k <= lag; k += 2) {
        int32_t a = n + k, b = n - k;
        if (a >= s) a = 2 * s - 2 - a;
        if (b < 0) b = -b;
        h += static_cast<double>(x[a] - x[b]) / k;
    }
    h = h * 0.6366197832271441;
    double e = std::sqrt((static_cast<double>(x[n] * x[n]) + h * h) / 2.0);
    e = std::clamp(e, -32768.0, 32767.0);
    return static_cast<int16_t>(std::trunc(e + 0.5));
}

// The vector paths divide the filter differences by k without a division
// instruction; for every difference of two samples the bits must be those of
// the division.
TEST(Envelope, DivisionByLagIsExact) {
    std::vector<double> t;
    for (int32_t d = -65535; d <= 65535; ++d) t.push_back(d);
    std::vector<double> q(t.size());
    std::vector<int32_t> lags;
    for (int32_t k = 3; k < 100; k += 2) lags.push_back(k);
    for (int32_t k : {1001, 4095, 65535, 1000001, 2147483647}) lags.push_back(k);
    for (SimdPath path : Paths()) {
        for (int32_t k : lags) {
            vantir3::EnvelopeDivideValues(t.data(), k, q.data(), static_cast<int32_t>(t.size()), path);
            for (size_t i = 0; i < t.size(); ++i) ASSERT_EQ(q[i], t[i] / k) << t[i] << " / " << k;
        }
    }
}

TEST(Envelope, WindowGivesTheLargestLag) {
    EXPECT_EQ(vantir3::EnvelopeLag(10), 5);
    EXPECT_EQ(vantir3::EnvelopeLag(8), 5);
    EXPECT_EQ(vantir3::EnvelopeLag(7), 3);
    EXPECT_EQ(vantir3::EnvelopeLag(1), 1);
    EXPECT_EQ(vantir3::EnvelopeLag(0), 1);
    EXPECT_EQ(vantir3::EnvelopeLag(-3), 1);
    EXPECT_LT(vantir3::EnvelopeLag(-4), 1);

    // Lag 1 only, for window 0 and 1: a ramp gives h = 0.6366... * 2 inside.
    MeboDataPtr ramp =
        MakeBuffer(0, 9, 0, 0, 0, 0, [](int32_t i, int32_t, int32_t) { return int16_t(100 * i); });
    MeboDataPtr out = Constant(10, 1, 1, 0);
    SCDPPrc_DataStatsMode stats = Stats(0);
    for (int window : {0, 1}) {
        ASSERT_EQ(CCdpProcessToolbox::CdpEnvelope(out, ramp, stats, window), 0);
        const double h = 200.0 * 0.6366197832271441;
        EXPECT_EQ(SampleAt(out, 4, 0), int16_t(std::sqrt((400.0 * 400.0 + h * h) / 2.0) + 0.5));
    }
    // No quadrature term at all for window -4.
    ASSERT_EQ(CCdpProcessToolbox::CdpEnvelope(out, ramp, stats, -4), 0);
    std::vector<int16_t> x;
    for (int32_t i = 0; i < 10; ++i) x.push_back(int16_t(100 * i));
    for (int32_t i = 0; i < 10; ++i) EXPECT_EQ(SampleAt(out, i, 0), Reference(x, i, -4));
    MeboDataPtrRelease(&ramp);
    MeboDataPtrRelease(&out);
}

TEST(Envelope, ConstantAndZeroTraces) {
    for (int16_t c : {int16_t(100), int16_t(0), int16_t(-100), int16_t(-32768)}) {
        MeboDataPtr in = Constant(300, 3, 1, c), out = Constant(300, 3, 1, 1);
        SCDPPrc_DataStatsMode stats = Stats(0);
        ASSERT_EQ(CCdpProcessToolbox::CdpEnvelope(out, in, stats, 10), 0);
        const int16_t want = c == 100 || c == -100 ? 71 : c == 0 ? 0 : 23170;
        for (int32_t t = 0; t < 3; ++t)
            for (int32_t i = 0; i < 300; ++i) ASSERT_EQ(SampleAt(out, i, t), want) << c << " at " << i;
        MeboDataPtrRelease(&in);
        MeboDataPtrRelease(&out);
    }
}

// Contiguous traces (vector interior) and strided ones (one sample at a time)
// both give the rule's bits, for windows from none to longer than the trace.
TEST(Envelope, EveryLayoutAndWindowMatchesTheRule) {
    uint32_t h = 7;
    for (int32_t s : {1, 2, 3, 9, 40, 257}) {
        const int32_t traces = 3;
        std::vector<std::vector<int16_t>> x(traces, std::vector<int16_t>(s));
        for (auto& trace : x)
            for (int16_t& v : trace) {
                h = h * 1664525u + 1013904223u;
                v = (h >> 28) == 0 ? int16_t(-32768) : (h >> 28) == 1 ? int16_t(32767) : int16_t(h >> 16);
            }
        MeboDataPtr in =
            MakeBuffer(0, s - 1, 0, traces - 1, 0, 0, [&](int32_t i, int32_t t, int32_t) { return x[t][i]; });
        MeboDataPtr out = Constant(s, traces, 1, 0);
        // The same samples with traces innermost.
        MeboDataPtr inT, outT;
        MeboDataPtrClear(&inT);
        MeboDataPtrClear(&outT);
        MeboDataPtrAllocateCounts(&inT, 2, traces, s, 1, 0);
        MeboDataPtrAllocateCounts(&outT, 2, traces, s, 1, 1);
        MeboDataPtrSwapAxes(&inT, 0, 1);
        MeboDataPtrSwapAxes(&outT, 0, 1);
        for (int32_t t = 0; t < traces; ++t)
            for (int32_t i = 0; i < s; ++i) {
                MeboDataPtrSeek(&inT, i, t, 0);
                std::memcpy(inT.cur, &x[t][i], 2);
            }
        for (SimdPath path : Paths()) {
            for (int window : {-7, 0, 3, 10, 14, 18, 25, 2 * s + 4}) {
                SCDPPrc_DataStatsMode stats = Stats(0);
                ASSERT_EQ(vantir3::Envelope(out, in, &stats, window, path), 0);
                ASSERT_EQ(vantir3::Envelope(outT, inT, nullptr, window, path), 0);
                for (int32_t t = 0; t < traces; ++t)
                    for (int32_t i = 0; i < s; ++i) {
                        const int16_t want = Reference(x[t], i, window);
                        ASSERT_EQ(SampleAt(out, i, t), want)
                            << "s " << s << " window " << window << " at " << i << " path " << int(path);
                        ASSERT_EQ(SampleAt(outT, i, t), want) << "strided, s " << s << " window " << window;
                    }
            }
        }
        for (MeboDataPtr* b : {&in, &out, &inT, &outT}) MeboDataPtrRelease(b);
    }
}

TEST(Envelope, GathersStatisticsOfTheOutput) {
    auto value = [](int32_t i, int32_t t, int32_t p) { return vantir3_test::ProfileSample(i, t, p); };
    MeboDataPtr in = MakeBuffer(0, 63, 0, 4, 0, 1, value);
    MeboDataPtr out = Constant(64, 5, 2, 0);
    MeboDataPtr index;
    MeboDataPtrClear(&index);
    SCDPPrc_DataStatsMode stats = Stats(STATS_MINMAX | STATS_SUM, &index);
    ASSERT_EQ(CCdpProcessToolbox::CdpEnvelope(out, in, stats, 10), 0);
    double lo = 1e300, hi = -1e300, sum = 0.0;
    for (int32_t p = 0; p < 2; ++p)
        for (int32_t t = 0; t < 5; ++t)
            for (int32_t i = 0; i < 64; ++i) {
                const double v = SampleAt(out, i, t, p);
                lo = std::min(lo, v), hi = std::max(hi, v), sum += v;
            }
    EXPECT_EQ(stats.count, 640u);
    EXPECT_EQ(stats.minValue, lo);
    EXPECT_EQ(stats.maxValue, hi);
    EXPECT_EQ(stats.sum, sum);
    EXPECT_EQ(stats.indexStats, &index);
    // One record per sample position, each over every trace of every plane.
    ASSERT_EQ(index.axis.elemSize, static_cast<int32_t>(sizeof(SCDPPrc_DataStatsMode)));
    ASSERT_EQ(index.axis.dim[0].max - index.axis.dim[0].min + 1, 64);
    for (int32_t i = 0; i < 64; ++i) {
        SCDPPrc_DataStatsMode rec;
        ASSERT_TRUE(MeboDataPtrSeek(&index, i, 0, 0));
        std::memcpy(&rec, index.cur, sizeof rec);
        EXPECT_EQ(rec.count, 10u);
        EXPECT_EQ(rec.indexStats, nullptr);
        double l = 1e300;
        for (int32_t p = 0; p < 2; ++p)
            for (int32_t t = 0; t < 5; ++t) l = std::min(l, double(SampleAt(out, i, t, p)));
        EXPECT_EQ(rec.minValue, l);
    }
    // mode 0 gathers nothing.
    SCDPPrc_DataStatsMode none = Stats(0);
    ASSERT_EQ(CCdpProcessToolbox::CdpEnvelope(out, in, none, 10), 0);
    EXPECT_EQ(none.count, 0u);
    MeboDataPtrRelease(&in);
    MeboDataPtrRelease(&out);
    MeboDataPtrRelease(&index);
}

TEST(Envelope, RefusesAnInputThatDoesNotCoverTheOutput) {
    auto value = [](int32_t i, int32_t t, int32_t) { return int16_t(i + t); };
    MeboDataPtr in = MakeBuffer(0, 31, 10, 19, 0, 0, value);
    MeboDataPtr partial = MakeBuffer(0, 31, 15, 24, 0, 0, [](int32_t, int32_t, int32_t) { return -5; });
    MeboDataPtr longer = MakeBuffer(0, 40, 10, 19, 0, 0, [](int32_t, int32_t, int32_t) { return -5; });
    SCDPPrc_DataStatsMode stats = Stats(STATS_MINMAX);
    EXPECT_EQ(CCdpProcessToolbox::CdpEnvelope(partial, in, stats, 10), -1);
    EXPECT_EQ(CCdpProcessToolbox::CdpEnvelope(longer, in, stats, 10), -1);
    EXPECT_EQ(SampleAt(partial, 0, 15), -5);
    EXPECT_EQ(SampleAt(longer, 0, 10), -5);
    EXPECT_EQ(stats.count, 0u);
    // A wider input is fine: the output's traces are read at their own indices.
    MeboDataPtr inner = MakeBuffer(0, 31, 12, 13, 0, 0, [](int32_t, int32_t, int32_t) { return 0; });
    MeboDataPtr same = MakeBuffer(0, 31, 12, 13, 0, 0, value);
    MeboDataPtr direct = MakeBuffer(0, 31, 12, 13, 0, 0, [](int32_t, int32_t, int32_t) { return 0; });
    EXPECT_EQ(CCdpProcessToolbox::CdpEnvelope(inner, in, stats, 10), 0);
    EXPECT_EQ(CCdpProcessToolbox::CdpEnvelope(direct, same, stats, 10), 0);
    for (int32_t t = 12; t <= 13; ++t)
        for (int32_t i = 0; i < 32; ++i) EXPECT_EQ(SampleAt(inner, i, t), SampleAt(direct, i, t));
    // Empty buffers and 32-bit samples.
    MeboDataPtr empty, wide;
    MeboDataPtrClear(&empty);
    MeboDataPtrClear(&wide);
    MeboDataPtrAllocate(&wide, 4, 0, 31, 10, 19, 0, 0, 1);
    EXPECT_EQ(CCdpProcessToolbox::CdpEnvelope(empty, in, stats, 10), -1);
    EXPECT_EQ(CCdpProcessToolbox::CdpEnvelope(wide, in, stats, 10), -3);
    EXPECT_EQ(CCdpProcessToolbox::CdpEnvelope(wide, wide, stats, 10), -3);  // equal, but not 16-bit
    for (MeboDataPtr* b : {&in, &partial, &longer, &inner, &same, &direct, &wide}) MeboDataPtrRelease(b);
}

}  // namespace
