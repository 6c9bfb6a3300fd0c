#include "vantir3/processes/envelope.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tests/support/simd_targets.h"
#include "tests/support/trace_checks.h"
#include "vantir3/framework/toolbox.h"

namespace {

using namespace vantir3_test;
using Stats = SCDPPrc_DataStatsMode;
using Toolbox = CCdpProcessToolbox;

Stats Init(uint8_t mode, MeboDataPtr* index = nullptr) {
    Stats s;
    SCDPPrc_InitStats(&s);
    s.mode = mode;
    s.indexStats = index;
    return s;
}

// The rule written out directly, one sample at a time, lags limited to s - 1
// and indices mirrored at both ends.
int16_t Reference(const std::vector<int16_t>& x, int32_t n, int32_t window) {
    const int32_t s = static_cast<int32_t>(x.size()), lag = std::min((window / 2 / 2) * 2 + 1, s - 1);
    double h = 0.0;
    for (int32_t k = 1; k <= lag; k += 2)
        h += static_cast<double>(x[n + k < s ? n + k : 2 * s - 2 - n - k] - x[std::abs(n - k)]) / k;
    h = h * 0.6366197832271441;
    const double e = std::sqrt((static_cast<double>(x[n] * x[n]) + h * h) / 2.0);
    return static_cast<int16_t>(std::trunc(std::min(e, 32767.0) + 0.5));
}

// The vector paths divide by the lag without a division instruction (a split
// reciprocal below lag 2^17, a corrected quotient from there on); for every
// difference of two samples the bits must be those of the division.
TEST(Envelope, DivisionByLagIsExact) {
    std::vector<double> t, q(131071);
    for (int32_t d = -65535; d <= 65535; ++d) t.push_back(d);
    std::vector<int32_t> lags = {1001, 4095, 65535, 131071, 131073, 1000001, 2147483647};
    for (int32_t k = 3; k < 100; k += 2) lags.push_back(k);
    ForEachSimdTarget([&] {
        for (int32_t k : lags) {
            vantir3::EnvelopeDivideValues(t.data(), k, q.data(), static_cast<int32_t>(t.size()));
            for (size_t i = 0; i < t.size(); ++i) ASSERT_EQ(q[i], t[i] / k) << t[i] << " / " << k;
        }
    });
}

TEST(Envelope, WorkedExamples) {
    const int32_t lags[][2] = {{10, 5}, {8, 5}, {7, 3}, {1, 1}, {-3, 1}};
    for (const auto& l : lags) EXPECT_EQ(vantir3::EnvelopeLag(l[0]), l[1]) << l[0];
    EXPECT_LT(vantir3::EnvelopeLag(-4), 1);  // no quadrature term at all
    // Lag 1 only, for window 0 and 1: a ramp of 100 per sample gives
    // h = 0.6366... * 200 inside, and sqrt((400^2 + h^2) / 2) = 296.8... at 4.
    Owned ramp = Row({0, 100, 200, 300, 400, 500, 600, 700, 800, 900}), out = Filled(10, 1, 1, 0);
    Stats stats = Init(0);
    for (int window : {0, 1}) {
        ASSERT_EQ(Toolbox::CdpEnvelope(out.b, ramp.b, stats, window), 0);
        EXPECT_EQ(SampleAt(out.b, 4, 0), 297);
    }
    // A full-range step: at the step every difference is 65535, h = 63966.6
    // and the envelope sqrt((32767^2 + h^2) / 2) = 50821 is limited to 32767,
    // on every instruction set.
    std::vector<int16_t> step(64, -32768);
    std::fill(step.begin() + 32, step.end(), int16_t(32767));
    Owned stepIn = Row(step), stepOut = Filled(64, 1, 1, 0);
    ForEachSimdTarget([&] {
        ASSERT_EQ(Toolbox::CdpEnvelope(stepOut.b, stepIn.b, stats, 10), 0);
        for (int32_t i = 0; i < 64; ++i) ASSERT_EQ(SampleAt(stepOut.b, i, 0), Reference(step, i, 10)) << i;
        EXPECT_EQ(SampleAt(stepOut.b, 32, 0), 32767);
    });
    // Constant traces {c, envelope}: |c| / sqrt(2) rounded, and for -32768
    // the largest value without overflow.
    const int16_t constants[][2] = {{100, 71}, {0, 0}, {-100, 71}, {-32768, 23170}};
    for (const auto& c : constants) {
        Owned in = Filled(300, 3, 1, c[0]), res = Filled(300, 3, 1, 1);
        ASSERT_EQ(Toolbox::CdpEnvelope(res.b, in.b, stats, 10), 0);
        for (int32_t t = 0; t < 3; ++t) ASSERT_EQ(Samples(res.b, t), std::vector<int16_t>(300, c[1])) << c[0];
    }
}

// Contiguous traces (vector interior) and strided ones (one sample at a time)
// both give the rule's bits, for windows from none to longer than the trace.
// The input holds one more trace on either side: the output's traces are read
// at their own indices. Mode 0 gathers no statistics. Contiguous traces are
// widened into the row partly by the kernel's steps, some way ahead of them:
// the longer traces end in every part of a step after that lead.
TEST(Envelope, EveryLayoutAndWindowMatchesTheRule) {
    uint32_t h = 7;
    for (int32_t s : {1, 2, 3, 9, 16, 33, 40, 257, 159, 160, 161, 170, 175, 176, 190, 1001}) {
        std::vector<std::vector<int16_t>> x(5, std::vector<int16_t>(s));  // traces -1 ... 3
        for (auto& trace : x)
            for (int16_t& v : trace) {
                h = h * 1664525u + 1013904223u;
                v = (h >> 28) == 0 ? int16_t(-32768) : (h >> 28) == 1 ? int16_t(32767) : int16_t(h >> 16);
            }
        Owned in = MakeBuffer(0, s - 1, -1, 3, 0, 0, [&](int32_t i, int32_t t, int32_t) { return x[t + 1][i]; });
        Owned out = Filled(s, 3, 1, 0), inT = Transposed(in.b), outT = Transposed(out.b);
        ForEachSimdTarget([&] {
            for (int window : {-7, 0, 3, 7, 10, 14, 18, 25, 2 * s + 4}) {
                Stats stats = Init(0);
                ASSERT_EQ(vantir3::Envelope(out.b, in.b, &stats, window), 0);
                ASSERT_EQ(vantir3::Envelope(outT.b, inT.b, nullptr, window), 0);
                EXPECT_EQ(stats.count, 0u);
                for (int32_t t = 0; t < 3; ++t) {
                    std::vector<int16_t> want;
                    for (int32_t i = 0; i < s; ++i) want.push_back(Reference(x[t + 1], i, window));
                    ASSERT_EQ(Samples(out.b, t), want) << "s " << s << " window " << window;
                    ASSERT_EQ(Samples(outT.b, t), want) << "strided, s " << s << " window " << window;
                }
            }
        });
    }
}

// The statistics are those of the output values added one by one, trace by
// trace, whole and per sample position over every trace of every plane: in
// integers where the order cannot show, value by value otherwise (extremes
// lists, a sum that is not a whole number). An input that does not cover the
// output is refused with nothing written and the record left alone.
TEST(Envelope, StatisticsOfTheOutputAndRefusals) {
    Owned in = MakeBuffer(0, 63, 0, 4, 0, 1, ProfileSample), out = Filled(64, 5, 2, 0);
    auto fields = [](const Stats& r) {
        return std::vector<double>{double(r.count), r.minValue, r.maxValue, r.sum, r.lowExtreme, r.highExtreme};
    };
    auto record = [&](const MeboDataPtr& b, int32_t i) {
        Stats r;
        std::memcpy(&r, b.axis.base + i * b.axis.dim[0].stride, sizeof r);
        return fields(r);
    };
    const std::pair<uint8_t, double> cases[] = {{STATS_MINMAX | STATS_SUM, 0.0},
                                                {STATS_MINMAX | STATS_SUM | STATS_EXTREMES, 0.0},
                                                {STATS_SUM, 0.1},
                                                {STATS_MINMAX, 0.0}};
    for (const auto& [mode, start] : cases) {
        for (bool perIndex : {true, false}) {
            Owned index, want;
            Stats stats = Init(mode, perIndex ? &index.b : nullptr), check = Init(mode, perIndex ? &want.b : nullptr);
            stats.numExtremes = check.numExtremes = 3;
            stats.sum = check.sum = start;
            ASSERT_EQ(Toolbox::CdpEnvelope(out.b, in.b, stats, 10), 0);
            const int n = perIndex ? 64 : 0;
            Stats* work = CDPPrc_create_work_stats(&check, n);
            for (int32_t p = 0; p < 2; ++p)
                for (int32_t t = 0; t < 5; ++t)
                    for (int32_t i = 0; i < 64; ++i) {
                        CDPPrc_accumulate_stat(SampleAt(out.b, i, t, p), work);
                        if (perIndex) CDPPrc_accumulate_stat(SampleAt(out.b, i, t, p), work + 1 + i);
                    }
            CDPPrc_finish_stats(&check, work, n);
            CDPPrc_free_work_stats(work, n);
            EXPECT_EQ(fields(stats), fields(check)) << int(mode) << perIndex;
            if (!perIndex) continue;
            ASSERT_EQ(index.b.axis.dim[0].max - index.b.axis.dim[0].min + 1, 64);
            for (int32_t i = 0; i < 64; ++i) EXPECT_EQ(record(index.b, i), record(want.b, i)) << i;
        }
    }
    auto fill = [](int32_t, int32_t, int32_t) { return int16_t(-5); };
    Owned src = MakeBuffer(0, 31, 10, 19, 0, 0, fill), empty, wide = Zeroed(4, 32, 10);
    Owned partial = MakeBuffer(0, 31, 15, 24, 0, 0, fill), longer = MakeBuffer(0, 40, 10, 19, 0, 0, fill);
    Stats refused = Init(STATS_MINMAX);
    for (Owned* o : {&partial, &longer, &empty}) EXPECT_EQ(Toolbox::CdpEnvelope(o->b, src.b, refused, 10), -1);
    EXPECT_EQ(Toolbox::CdpEnvelope(wide.b, wide.b, refused, 10), -3);  // equal, but not 16-bit
    EXPECT_EQ(SampleAt(partial.b, 0, 15) + SampleAt(longer.b, 0, 10), -10);
    EXPECT_EQ(refused.count, 0u);
}

}  // namespace
