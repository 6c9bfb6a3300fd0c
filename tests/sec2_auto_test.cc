#include "vantir3/processes/sec2_auto.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kol_utils/kol_utils.h"
#include "tests/support/test_source.h"
#include "vantir3/framework/toolbox.h"
#include "vantir3/processes/sec2_gain.h"

namespace {

using namespace vantir3_test;
using GprParam = ICdpDataSource::SEGprParam;
using Buffer = Owned;

SCDPPrc_DataStatsMode* Records(MeboDataPtr& stats) {
    return reinterpret_cast<SCDPPrc_DataStatsMode*>(stats.axis.base);
}

// Per-sample statistics whose peak curve is `peaks` (maxValue = peak,
// minValue = -peak / 2).
void PeakStats(Buffer& stats, const std::vector<double>& peaks) {
    ASSERT_EQ(MeboDataPtrAllocateCounts(&stats.b, sizeof(SCDPPrc_DataStatsMode),
                                        static_cast<int32_t>(peaks.size()), 1, 1, 0),
              1);
    for (size_t i = 0; i < peaks.size(); ++i) {
        SCDPPrc_DataStatsMode& r = Records(stats.b)[i];
        SCDPPrc_InitStats(&r);
        r.mode = STATS_MINMAX;
        r.count = 1;
        r.maxValue = peaks[i];
        r.minValue = -peaks[i] / 2;
    }
}

GprParam Gpr(double z = 1.0) {
    GprParam g{};
    g.timeZeroSample = z;  // t0 = 0 at z = 1
    g.sampleInterval = 0.4;
    g.antennaFrequency = 250.0;  // one pulse width = 15 samples
    return g;
}

// Least-squares slope over x = 0, 1, ...
double Slope(const std::vector<double>& y) {
    const double n = static_cast<double>(y.size()), xm = (n - 1) / 2;
    double ym = 0, sxy = 0, sxx = 0;
    for (double v : y) ym += v / n;
    for (size_t i = 0; i < y.size(); ++i) {
        sxy += (i - xm) * (y[i] - ym);
        sxx += (i - xm) * (i - xm);
    }
    return sxy / sxx;
}

// The slope of `curve` gained with the given parameters, fitted from t0 to
// the last sample below the maximum gain, as the search measures it.
double GainedSlope(const std::vector<double>& curve, const Sec2GainParam& p, const GprParam& g) {
    const int32_t n = static_cast<int32_t>(curve.size());
    Buffer in = MakeBuffer(0, n - 1, 0, 0, 0, 0, [&](int32_t i, int32_t, int32_t) {
        return static_cast<int16_t>(std::min(curve[i], 32767.0));
    });
    Buffer out = Zeroed(2, n);
    int last = -1;
    EXPECT_GE(CCdpProcessToolbox::CdpSec2Gain(out.b, in.b, p.attenuation, p.startGain, p.maxGain, g.timeZeroSample,
                                              g.sampleInterval, g.antennaFrequency, &last), 0);
    std::vector<double> gained;
    for (int i = static_cast<int>(std::ceil(g.timeZeroSample)) - 1; i <= last; ++i)
        gained.push_back(SampleAt(out.b, i, 0));
    return Slope(gained);
}

TEST(Sec2Auto, RefusesBadArgumentsInOrder) {
    Buffer stats;
    PeakStats(stats, std::vector<double>(100, 1000.0));
    const GprParam g = Gpr();
    Sec2GainParam p{7, 7, 7};
    auto run = [&](double maxGain, double tail, double target, double step) {
        return CCdpProcessToolbox::SecAutoSetParamStruct(&p, &g, maxGain, tail, target, step, &stats.b, 50, 80);
    };
    const double nan = std::nan(""), inf = HUGE_VAL;
    for (double v : {0.0, -1.0, nan, inf}) EXPECT_EQ(run(v, 0.5, 1, 1), -201);
    for (double v : {0.0, -0.5, 1.0001, nan}) EXPECT_EQ(run(500, v, 1, 1), -202);
    for (double v : {nan, inf}) EXPECT_EQ(run(500, 0.5, v, 1), -203);
    for (double v : {0.0, -1.0, nan, inf}) EXPECT_EQ(run(500, 0.5, 1, v), -204);
    EXPECT_EQ(run(0, 0, nan, 0), -201);  // the first bad argument is reported
    EXPECT_EQ(run(500, 0, nan, 0), -202);
    EXPECT_EQ(p.attenuation, 7);  // nothing written on a refusal
    GprParam noInterval = g;
    noInterval.sampleInterval = 0;
    Buffer samples = MakeBuffer(0, 99, 0, 0, 0, 0, [](int32_t, int32_t, int32_t) { return 1; });
    auto direct = [&](Sec2GainParam* out, const GprParam* gpr, MeboDataPtr* st) {
        return CCdpProcessToolbox::SecAutoSetParamStruct(out, gpr, 500, 0.5, 1, 1, st, 50, 80);
    };
    EXPECT_EQ(direct(nullptr, &g, &stats.b), -999);
    EXPECT_EQ(direct(&p, nullptr, &stats.b), -200);
    EXPECT_EQ(direct(&p, &noInterval, &stats.b), -200);
    EXPECT_EQ(direct(&p, &g, nullptr), -205);
    EXPECT_EQ(direct(&p, &g, &samples.b), -205);  // samples, not statistics records

    // Through a process: the kind of process first, then the statistics from
    // its source, then its acquisition parameters.
    CCdpProcessToolbox toolbox;
    CCdpProcess* sec2 = toolbox.GetProcess(KOL::Str2UID("SECCGN"));
    EXPECT_EQ(toolbox.SecAutoSetParams(nullptr, 500, 0.5, 1, 1, &stats.b, 50, 80), -999);
    EXPECT_EQ(toolbox.SecAutoSetParams(toolbox.GetProcess(KOL::Str2UID("CONST@")), 500, 0.5, 1, 1, &stats.b, 50, 80),
              -999);
    EXPECT_EQ(toolbox.SecAutoSetParams(sec2, 500, 0.5, 1, 1, nullptr, 50, 80), -205);
    TestSource source(64, 8);
    sec2->SetDataSource(&source);
    source.SetStatus(-3);
    EXPECT_EQ(toolbox.SecAutoSetParams(sec2, 500, 0.5, 1, 1, nullptr, 50, 80), -205);
    source.SetStatus(0);
    source.SetNoGprParam(true);
    EXPECT_EQ(toolbox.SecAutoSetParams(sec2, 500, 0.5, 1, 1, nullptr, 50, 80), -200);
    EXPECT_EQ(toolbox.SecAutoSetParams(sec2, 0, 0.5, 1, 1, &stats.b, 50, 80), -200);
    source.SetNoGprParam(false);
    EXPECT_EQ(toolbox.SecAutoSetParams(sec2, 0, 0.5, 1, 1, &stats.b, 50, 80), -201);
    EXPECT_EQ(sec2->GetParams(), "ATTENU=5.00\nSTRTGN=1.00\nMAXGN@=500");
}

TEST(Sec2Auto, PeakNumbersChooseStartAndMaximumGain) {
    const GprParam g = Gpr();
    Sec2GainParam p{};
    auto setUp = [&](const std::vector<double>& peaks, double maxGain, double tail, unsigned pulse, unsigned overall) {
        Buffer stats;
        PeakStats(stats, peaks);
        const int status =
            CCdpProcessToolbox::SecAutoSetParamStruct(&p, &g, maxGain, tail, 0, 1, &stats.b, pulse, overall);
        EXPECT_TRUE(status == 0 || status == -100) << status;
    };
    // A peak of 20000 over a tail whose mean is 100 or 20000.
    std::vector<double> peaks(400, 100.0);
    peaks[30] = 20000;
    setUp(peaks, 0.5, 0.25, 100, 100);
    EXPECT_DOUBLE_EQ(p.maxGain, 100.0);
    std::fill(peaks.begin() + 300, peaks.end(), 20000);
    setUp(peaks, 0.5, 0.25, 100, 100);
    EXPECT_DOUBLE_EQ(p.maxGain, 1.0);
    // A tail fraction of 1 takes the last sample alone.
    peaks.assign(400, 100.0);
    peaks[30] = 20000;
    peaks.back() = 50;
    setUp(peaks, 0.5, 1.0, 100, 100);
    EXPECT_DOUBLE_EQ(p.maxGain, 200.0);
    // A full-scale peak at 100 % of full scale needs no gain.
    peaks.assign(400, 1000.0);
    peaks[5] = 32767;
    setUp(peaks, 500, 0.5, 100, 100);
    EXPECT_DOUBLE_EQ(p.startGain, 1.0);
    EXPECT_DOUBLE_EQ(p.maxGain, 500.0);
    // The pulse term: 50 % of full scale for the strongest peak after one
    // pulse width (samples 15 on), here 1000.
    setUp(peaks, 500, 0.5, 50, 100);
    EXPECT_DOUBLE_EQ(p.startGain, 1.0);
    peaks[5] = 1000;
    setUp(peaks, 500, 0.5, 50, 100);
    EXPECT_DOUBLE_EQ(p.startGain, 32767.0 * 50 / (1000.0 * 100));
    // All peaks zero: every peak number is raised to 1.
    const std::vector<double> zeros(400, 0.0);
    setUp(zeros, 32767, 0.5, 2, 1);
    EXPECT_DOUBLE_EQ(p.startGain, 327.67);
    setUp(zeros, 32767, 0.5, 1, 2);
    EXPECT_DOUBLE_EQ(p.startGain, 327.67);
    setUp(zeros, 0.5, 0.5, 1, 2);
    EXPECT_DOUBLE_EQ(p.maxGain, 1.0);
    EXPECT_DOUBLE_EQ(p.startGain, 1.0);
}

TEST(Sec2Auto, AttenuationSearch) {
    const GprParam g = Gpr();
    std::vector<double> curve(400);
    for (size_t i = 0; i < curve.size(); ++i) curve[i] = 20000 * std::exp(-0.02 * i);
    Buffer stats, silent;
    PeakStats(stats, curve);
    PeakStats(silent, std::vector<double>(400, 0.0));
    Sec2GainParam p{};
    auto search = [&](double target, double step, MeboDataPtr& st, const GprParam& gpr = Gpr()) {
        return CCdpProcessToolbox::SecAutoSetParamStruct(&p, &gpr, 32767, 0.5, target, step, &st, 50, 50);
    };
    auto slopeAt = [&](double attenuation) {
        Sec2GainParam q = p;
        q.attenuation = attenuation;
        return GainedSlope(curve, q, g);
    };
    // A target the unattenuated curve already exceeds: one run.
    ASSERT_EQ(search(-1000, 2, stats.b), 0);
    const double s0 = slopeAt(0);
    EXPECT_GT(s0, -1000);
    EXPECT_NEAR(p.attenuation, 0 - (s0 + 1000) * 2 / (s0 - 32767), 1e-9);
    // An unreachable target: the last run is the first above 500 dB/m.
    ASSERT_EQ(search(1e9, 100, stats.b), 0);
    const double s400 = slopeAt(400), s500 = slopeAt(500);
    EXPECT_NEAR(p.attenuation, 500 - (s500 - 1e9) * 100 / (s500 - s400), 1e-6 * std::fabs(p.attenuation));
    // A curve of zeros has the same slope at every attenuation: the last one
    // tried is kept.
    ASSERT_EQ(search(1, 100, silent.b), 0);
    EXPECT_DOUBLE_EQ(p.attenuation, 500);
    // Time zero beyond the curve: no sample after it, the search breaks off
    // with the record filled.
    const GprParam late = Gpr(450.0);
    EXPECT_EQ(CCdpProcessToolbox::SecAutoSetParamStruct(&p, &late, 500, 0.5, 0, 1, &stats.b, 50, 50), -100);
    EXPECT_EQ(p.attenuation, 0);
    EXPECT_EQ(p.maxGain, 500);
}

// A profile whose amplitudes fall off with depth as the SEC2 gain assumes:
// spherical spreading (1 + t / pw) and 1 dB/m of attenuation, t counted
// from one pulse width after time zero (sample 10.5, 0.4 ns, 250 MHz).
constexpr double kTrueAttenuation = 1.0;  // dB/m
int16_t Decaying(int32_t s, int32_t t, int32_t) {
    const double tt = 0.4 * s - 9.8, alpha = kTrueAttenuation * 0.1 / 8.68588964;
    double amplitude = s < 10 ? 200 : 20000;
    if (tt > 0) amplitude = 20000 * std::exp(-alpha * tt) / (1 + tt / 6);
    return static_cast<int16_t>(std::lround(amplitude * std::cos(0.6 * s + t)));
}

TEST(Sec2Auto, ChosenAttenuationGivesTheTargetSlope) {
    const int32_t samples = 512, traces = 32;
    TestSource source(samples, traces, 1, Decaying);
    const GprParam& g = *source.GprParamPtr();  // time zero at sample 10.5
    CCdpProcessToolbox toolbox;
    Buffer stats;
    ASSERT_TRUE(toolbox.GetDataMinMaxStats(stats.b, source.Data(), false));
    std::vector<double> curve(samples);
    for (int32_t s = 0; s < samples; ++s) {
        for (int32_t t = 0; t < traces; ++t) curve[s] = std::max<double>(curve[s], std::abs(source.At(s, t)));
        const SCDPPrc_DataStatsMode& r = Records(stats.b)[s];
        ASSERT_EQ(r.count, static_cast<uint32_t>(traces));
        ASSERT_EQ(std::max(std::fabs(r.maxValue), std::fabs(r.minValue)), curve[s]);
    }
    for (double target : {0.0, 10.0, -5.0}) {
        Sec2GainParam p{};
        ASSERT_EQ(CCdpProcessToolbox::SecAutoSetParamStruct(&p, &g, 32767, 0.25, target, 0.05, &stats.b, 30, 30), 0);
        if (target == 0) { EXPECT_NEAR(p.attenuation, kTrueAttenuation, 0.05); }
        const double before = GainedSlope(curve, {0.0, p.startGain, p.maxGain}, g);
        const double after = GainedSlope(curve, p, g);
        EXPECT_LT(before, target - 5);
        EXPECT_NEAR(after, target, 0.05 * (target - before)) << "target " << target;
    }

    // The same set-up applied to a process: the values arrive through its
    // parameter text, rounded to its precisions.
    CCdpProcess* sec2 = toolbox.GetProcess(KOL::Str2UID("SECCGN"));
    sec2->SetDataSource(&source);
    Sec2GainParam p{};
    ASSERT_EQ(CCdpProcessToolbox::SecAutoSetParamStruct(&p, &g, 5000, 0.25, 0.0, 0.05, &stats.b, 30, 30), 0);
    EXPECT_EQ(toolbox.SecAutoSetParams(sec2, 5000, 0.25, 0.0, 0.05, nullptr, 30, 30), 0);
    char expected[128];
    std::snprintf(expected, sizeof expected, "ATTENU=%.2f\nSTRTGN=%.2f\nMAXGN@=%.0f", p.attenuation, p.startGain,
                  p.maxGain);
    EXPECT_EQ(sec2->GetParams(), expected);
    // A search that breaks off leaves the process as it was.
    source.Gpr().timeZeroSample = 600;
    EXPECT_EQ(toolbox.SecAutoSetParams(sec2, 5000, 0.25, 0.0, 0.05, nullptr, 30, 30), -100);
    EXPECT_EQ(sec2->GetParams(), expected);
}

TEST(Sec2Auto, StatisticsStepMergesOnlyMatchingRanges) {
    CCdpProcessToolbox toolbox;
    Buffer a = MakeBuffer(0, 511, 0, 3, 0, 1, [](int32_t s, int32_t t, int32_t p) {
        return static_cast<int16_t>(s * (t + 1) * (p ? -1 : 1));
    });
    Buffer b = MakeBuffer(0, 511, 0, 2, 0, 0, [](int32_t s, int32_t, int32_t) {
        return static_cast<int16_t>(s == 7 ? 9000 : -s);
    });
    Buffer stats;
    ASSERT_TRUE(toolbox.GetDataMinMaxStats(stats.b, a.b, false));
    ASSERT_EQ(stats.b.axis.dim[0].max, 511);
    EXPECT_EQ(Records(stats.b)[100].count, 8u);
    EXPECT_EQ(Records(stats.b)[100].maxValue, 400);
    EXPECT_EQ(Records(stats.b)[100].minValue, -400);
    ASSERT_TRUE(toolbox.GetDataMinMaxStats(stats.b, b.b, true));
    EXPECT_EQ(Records(stats.b)[100].count, 11u);
    EXPECT_EQ(Records(stats.b)[100].maxValue, 400);
    EXPECT_EQ(Records(stats.b)[7].maxValue, 9000);
    EXPECT_EQ(Records(stats.b)[7].minValue, -28);
    EXPECT_EQ(Records(stats.b)[0].sum, 0);

    // Statistics of samples 0 ... 511 cannot take data of samples 0 ... 255,
    // nor anything that is not 16-bit samples; they stay as they were.
    std::vector<uint8_t> before(stats.b.axis.base, stats.b.axis.base + 512 * sizeof(SCDPPrc_DataStatsMode));
    Buffer shorter = MakeBuffer(0, 255, 0, 1, 0, 0, [](int32_t, int32_t, int32_t) { return 30000; });
    Buffer wide = Zeroed(4, 512, 2), none;
    EXPECT_FALSE(toolbox.GetDataMinMaxStats(stats.b, shorter.b, true));
    EXPECT_FALSE(toolbox.GetDataMinMaxStats(stats.b, wide.b, true));
    EXPECT_FALSE(toolbox.GetDataMinMaxStats(stats.b, wide.b, false));
    EXPECT_EQ(std::memcmp(before.data(), stats.b.axis.base, before.size()), 0);
    EXPECT_FALSE(toolbox.GetDataMinMaxStats(none.b, a.b, true));
}

}  // namespace
