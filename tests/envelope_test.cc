#include "vantir3/processes/envelope.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "tests/support/trace_checks.h"
#include "vantir3/framework/toolbox.h"

namespace {

using namespace vantir3_test;
using vantir3::SimdPath;
using Stats = SCDPPrc_DataStatsMode;

Stats Init(uint8_t mode, MeboDataPtr* index = nullptr) {
    Stats s;
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
    const double e = std::clamp(std::sqrt((static_cast<double>(x[n] * x[n]) + h * h) / 2.0), -32768.0, 32767.0);
    return static_cast<int16_t>(std::trunc(e + 0.5));
}

// The vector paths divide the filter differences by k without a division
// instruction; for every difference of two samples the bits must be those of
// the division.
TEST(Envelope, DivisionByLagIsExact) {
    std::vector<double> t;
    for (int32_t d = -65535; d <= 65535; ++d) t.push_back(d);
    std::vector<double> q(t.size());
    std::vector<int32_t> lags = {1001, 4095, 65535, 1000001, 2147483647};
    for (int32_t k = 3; k < 100; k += 2) lags.push_back(k);
    for (SimdPath path : Paths())
        for (int32_t k : lags) {
            vantir3::EnvelopeDivideValues(t.data(), k, q.data(), static_cast<int32_t>(t.size()), path);
            for (size_t i = 0; i < t.size(); ++i) ASSERT_EQ(q[i], t[i] / k) << t[i] << " / " << k;
        }
}

TEST(Envelope, WorkedExamples) {
    EXPECT_EQ(vantir3::EnvelopeLag(10), 5);
    EXPECT_EQ(vantir3::EnvelopeLag(8), 5);
    EXPECT_EQ(vantir3::EnvelopeLag(7), 3);
    EXPECT_EQ(vantir3::EnvelopeLag(1), 1);
    EXPECT_EQ(vantir3::EnvelopeLag(-3), 1);
    EXPECT_LT(vantir3::EnvelopeLag(-4), 1);  // no quadrature term at all
    // Lag 1 only, for window 0 and 1: a ramp of 100 per sample gives
    // h = 0.6366... * 200 inside, and sqrt((400^2 + h^2) / 2) = 296.8... at 4.
    Owned ramp = MakeBuffer(0, 9, 0, 0, 0, 0, [](int32_t i, int32_t, int32_t) { return int16_t(100 * i); });
    Owned out = Filled(10, 1, 1, 0);
    Stats stats = Init(0);
    for (int window : {0, 1}) {
        ASSERT_EQ(CCdpProcessToolbox::CdpEnvelope(out.b, ramp.b, stats, window), 0);
        EXPECT_EQ(SampleAt(out.b, 4, 0), 297);
    }
    // Constant traces: |c| / sqrt(2) rounded, 0 for 0, and for -32768 the
    // largest value without overflow.
    for (int16_t c : {int16_t(100), int16_t(0), int16_t(-100), int16_t(-32768)}) {
        Owned in = Filled(300, 3, 1, c), res = Filled(300, 3, 1, 1);
        ASSERT_EQ(CCdpProcessToolbox::CdpEnvelope(res.b, in.b, stats, 10), 0);
        const int16_t want = c == 100 || c == -100 ? 71 : c == 0 ? 0 : 23170;
        for (int32_t t = 0; t < 3; ++t) ASSERT_EQ(Samples(res.b, t), std::vector<int16_t>(300, want)) << c;
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
        Owned in = MakeBuffer(0, s - 1, 0, traces - 1, 0, 0, [&](int32_t i, int32_t t, int32_t) { return x[t][i]; });
        Owned out = Filled(s, traces, 1, 0), inT = Transposed(in.b), outT = Transposed(out.b);
        for (SimdPath path : Paths()) {
            for (int window : {-7, 0, 3, 10, 14, 18, 25, 2 * s + 4}) {
                Stats stats = Init(0);
                ASSERT_EQ(vantir3::Envelope(out.b, in.b, &stats, window, path), 0);
                ASSERT_EQ(vantir3::Envelope(outT.b, inT.b, nullptr, window, path), 0);
                for (int32_t t = 0; t < traces; ++t) {
                    std::vector<int16_t> want;
                    for (int32_t i = 0; i < s; ++i) want.push_back(Reference(x[t], i, window));
                    ASSERT_EQ(Samples(out.b, t), want) << "s " << s << " window " << window << " path " << int(path);
                    ASSERT_EQ(Samples(outT.b, t), want) << "strided, s " << s << " window " << window;
                }
            }
        }
    }
}

// The statistics are those of the output, whole and per sample position over
// every trace of every plane (the sums are exact: whole numbers).
TEST(Envelope, GathersStatisticsOfTheOutput) {
    Owned in = MakeBuffer(0, 63, 0, 4, 0, 1, ProfileSample), out = Filled(64, 5, 2, 0), index, want;
    Stats stats = Init(STATS_MINMAX | STATS_SUM, &index.b), check = Init(STATS_MINMAX | STATS_SUM, &want.b);
    ASSERT_EQ(CCdpProcessToolbox::CdpEnvelope(out.b, in.b, stats, 10), 0);
    CDPPrc_sample_stats(&check, &out.b);
    ASSERT_EQ(check.count, 640u);
    auto fields = [](const Stats& r) { return std::vector<double>{double(r.count), r.minValue, r.maxValue, r.sum}; };
    EXPECT_EQ(fields(stats), fields(check));
    EXPECT_EQ(stats.indexStats, &index.b);
    ASSERT_EQ(index.b.axis.elemSize, static_cast<int32_t>(sizeof(Stats)));
    ASSERT_EQ(index.b.axis.dim[0].max - index.b.axis.dim[0].min + 1, 64);
    for (int32_t i = 0; i < 64; ++i) {
        Stats got, expected;
        std::memcpy(&got, index.b.axis.base + i * index.b.axis.dim[0].stride, sizeof got);
        std::memcpy(&expected, want.b.axis.base + i * want.b.axis.dim[0].stride, sizeof expected);
        EXPECT_EQ(fields(got), fields(expected)) << i;
        EXPECT_EQ(got.indexStats, nullptr);
    }
    Stats none = Init(0);  // mode 0 gathers nothing
    ASSERT_EQ(CCdpProcessToolbox::CdpEnvelope(out.b, in.b, none, 10), 0);
    EXPECT_EQ(none.count, 0u);
}

TEST(Envelope, RefusesAnInputThatDoesNotCoverTheOutput) {
    auto value = [](int32_t i, int32_t t, int32_t) { return int16_t(i + t); };
    auto fill = [](int32_t, int32_t, int32_t) { return int16_t(-5); };
    Owned in = MakeBuffer(0, 31, 10, 19, 0, 0, value);
    Owned partial = MakeBuffer(0, 31, 15, 24, 0, 0, fill), longer = MakeBuffer(0, 40, 10, 19, 0, 0, fill);
    Stats stats = Init(STATS_MINMAX);
    EXPECT_EQ(CCdpProcessToolbox::CdpEnvelope(partial.b, in.b, stats, 10), -1);
    EXPECT_EQ(CCdpProcessToolbox::CdpEnvelope(longer.b, in.b, stats, 10), -1);
    EXPECT_EQ(SampleAt(partial.b, 0, 15) + SampleAt(longer.b, 0, 10), -10);
    EXPECT_EQ(stats.count, 0u);
    // A wider input is fine: the output's traces are read at their own indices.
    Owned inner = MakeBuffer(0, 31, 12, 13, 0, 0, fill), same = MakeBuffer(0, 31, 12, 13, 0, 0, value);
    Owned direct = MakeBuffer(0, 31, 12, 13, 0, 0, fill);
    EXPECT_EQ(CCdpProcessToolbox::CdpEnvelope(inner.b, in.b, stats, 10), 0);
    EXPECT_EQ(CCdpProcessToolbox::CdpEnvelope(direct.b, same.b, stats, 10), 0);
    ExpectSameSamples(direct.b, inner.b);
    // Empty buffers and 32-bit samples.
    Owned empty, wide = Zeroed(4, 32, 10);
    EXPECT_EQ(CCdpProcessToolbox::CdpEnvelope(empty.b, in.b, stats, 10), -1);
    EXPECT_EQ(CCdpProcessToolbox::CdpEnvelope(wide.b, wide.b, stats, 10), -3);  // equal, but not 16-bit
}

}  // namespace
