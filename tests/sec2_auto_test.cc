#include "vantir3/processes/sec2_auto.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kol_utils/kol_utils.h"
#include "tests/support/trace_checks.h"
#include "vantir3/framework/toolbox.h"
#include "vantir3/processes/sec2_gain.h"

namespace {

using namespace vantir3_test;
using GprParam = ICdpDataSource::SEGprParam;
using Toolbox = CCdpProcessToolbox;

SCDPPrc_DataStatsMode* Records(MeboDataPtr& stats) { return reinterpret_cast<SCDPPrc_DataStatsMode*>(stats.axis.base); }

// Per-sample statistics whose peak curve is `peaks` (maxValue = peak,
// minValue = -peak / 2).
void PeakStats(Owned& stats, const std::vector<double>& peaks) {
    const int32_t n = static_cast<int32_t>(peaks.size()), size = sizeof(SCDPPrc_DataStatsMode);
    ASSERT_EQ(MeboDataPtrAllocateCounts(&stats.b, size, n, 1, 1, 0), 1);
    for (size_t i = 0; i < peaks.size(); ++i) {
        SCDPPrc_DataStatsMode& r = Records(stats.b)[i];
        SCDPPrc_InitStats(&r);
        r.mode = STATS_MINMAX;
        r.count = 1;
        r.maxValue = peaks[i];
        r.minValue = -peaks[i] / 2;
    }
}

GprParam Gpr(double z = 1.0, double dt = 0.4) {
    GprParam g{};
    g.timeZeroSample = z;  // t0 = 0 at z = 1
    g.sampleInterval = dt;
    g.antennaFrequency = 250.0;  // one pulse width = 15 samples
    return g;
}

TEST(Sec2Auto, RefusesBadArgumentsInOrder) {
    Owned stats, samples = Filled(100, 1, 1, 1);
    PeakStats(stats, std::vector<double>(100, 1000.0));
    const GprParam g = Gpr(), noInterval = Gpr(1.0, 0.0);
    Sec2GainParam p{7, 7, 7};
    auto run = [&](double maxGain, double tail, double target, double step) {
        return Toolbox::SecAutoSetParamStruct(&p, &g, maxGain, tail, target, step, &stats.b, 50, 80);
    };
    const double nan = std::nan(""), inf = HUGE_VAL;
    for (double v : {0.0, -1.0, nan, inf}) EXPECT_EQ(run(v, 0.5, 1, 1), -201);
    for (double v : {0.0, -0.5, 1.0001, nan}) EXPECT_EQ(run(500, v, 1, 1), -202);
    for (double v : {nan, inf}) EXPECT_EQ(run(500, 0.5, v, 1), -203);
    for (double v : {0.0, -1.0, nan, inf}) EXPECT_EQ(run(500, 0.5, 1, v), -204);
    EXPECT_EQ(run(0, 0, nan, 0), -201);  // the first bad argument is reported
    EXPECT_EQ(run(500, 0, nan, 0), -202);
    auto direct = [&](Sec2GainParam* out, const GprParam* gpr, MeboDataPtr* st) {
        return Toolbox::SecAutoSetParamStruct(out, gpr, 500, 0.5, 1, 1, st, 50, 80);
    };
    EXPECT_EQ(direct(nullptr, &g, &stats.b), -999);
    EXPECT_EQ(direct(&p, nullptr, &stats.b), -200);
    EXPECT_EQ(direct(&p, &noInterval, &stats.b), -200);
    EXPECT_EQ(direct(&p, &g, nullptr), -205);
    EXPECT_EQ(direct(&p, &g, &samples.b), -205);  // samples, not statistics records
    EXPECT_EQ(p.attenuation, 7);                  // nothing written on a refusal
}

TEST(Sec2Auto, PeakNumbersChooseStartAndMaximumGain) {
    const GprParam g = Gpr();
    // {start gain, maximum gain} for a peak curve.
    auto setUp = [&](const std::vector<double>& peaks, double maxGain, double tail, unsigned pulse, unsigned overall) {
        Owned stats;
        PeakStats(stats, peaks);
        Sec2GainParam p{};
        const int status = Toolbox::SecAutoSetParamStruct(&p, &g, maxGain, tail, 0, 1, &stats.b, pulse, overall);
        EXPECT_TRUE(status == 0 || status == -100) << status;
        return std::make_pair(p.startGain, p.maxGain);
    };
    // A peak of 20000 over a tail whose mean is 100 or 20000.
    std::vector<double> peaks(400, 100.0);
    peaks[30] = 20000;
    EXPECT_DOUBLE_EQ(setUp(peaks, 0.5, 0.25, 100, 100).second, 100.0);
    std::fill(peaks.begin() + 300, peaks.end(), 20000);
    EXPECT_DOUBLE_EQ(setUp(peaks, 0.5, 0.25, 100, 100).second, 1.0);
    // A tail fraction of 1 takes the last sample alone.
    peaks.assign(400, 100.0);
    peaks[30] = 20000;
    peaks.back() = 50;
    EXPECT_DOUBLE_EQ(setUp(peaks, 0.5, 1.0, 100, 100).second, 200.0);
    // 400 * (1 - 1/64) = 393.75 rounds to 394: the last six samples.
    EXPECT_DOUBLE_EQ(setUp(peaks, 0.5, 1.0 / 64, 100, 100).second, 10000 / (550.0 / 6));
    // A full-scale peak at 100 % of full scale needs no gain.
    peaks.assign(400, 1000.0);
    peaks[5] = 32767;
    EXPECT_EQ(setUp(peaks, 500, 0.5, 100, 100), std::make_pair(1.0, 500.0));
    // The pulse term: 50 % of full scale for the strongest peak after one
    // pulse width (samples 15 on), here 1000.
    EXPECT_DOUBLE_EQ(setUp(peaks, 500, 0.5, 50, 100).first, 1.0);
    peaks[5] = 1000;
    EXPECT_DOUBLE_EQ(setUp(peaks, 500, 0.5, 50, 100).first, 32767.0 * 50 / (1000.0 * 100));
    // All peaks zero: every peak number is raised to 1.
    const std::vector<double> zeros(400, 0.0);
    EXPECT_DOUBLE_EQ(setUp(zeros, 32767, 0.5, 2, 1).first, 327.67);
    EXPECT_DOUBLE_EQ(setUp(zeros, 32767, 0.5, 1, 2).first, 327.67);
    EXPECT_EQ(setUp(zeros, 0.5, 0.5, 1, 2), std::make_pair(1.0, 1.0));
}

// An exponentially falling peak curve: the search steps the attenuation until
// the slope of the gained curve (least squares from time zero to the last
// sample below the maximum gain) passes the target, then interpolates linearly
// between the slopes of the last two runs. Values recorded from the library.
TEST(Sec2Auto, AttenuationSearch) {
    std::vector<double> curve(400);
    for (size_t i = 0; i < curve.size(); ++i) curve[i] = 20000 * std::exp(-0.02 * i);
    Owned stats, silent;
    PeakStats(stats, curve);
    PeakStats(silent, std::vector<double>(400, 0.0));
    Sec2GainParam p{};
    const GprParam g = Gpr(), late = Gpr(450.0);
    auto search = [&](double target, double step, MeboDataPtr& st) {
        return Toolbox::SecAutoSetParamStruct(&p, &g, 32767, 0.5, target, step, &st, 50, 50);
    };
    // A target the unattenuated curve (slope s0 = -55.745...) already exceeds:
    // one run, against a slope of 32767 before it: -(s0 + 1000) * 2 / (s0 - 32767).
    ASSERT_EQ(search(-1000, 2, stats.b), 0);
    EXPECT_NEAR(p.attenuation, 0.057536605228702298, 1e-12);
    // An unreachable target: the last run is the first above 500 dB/m, the value
    // extrapolated from the slopes at 400 and 500 dB/m (801.45..., 740.86...).
    ASSERT_EQ(search(1e9, 100, stats.b), 0);
    EXPECT_NEAR(p.attenuation, -1650518549.8842027, 1e-3);
    // A curve of zeros has the same slope at every attenuation: the last one
    // tried is kept.
    ASSERT_EQ(search(1, 100, silent.b), 0);
    EXPECT_DOUBLE_EQ(p.attenuation, 500);
    // Time zero beyond the curve: no sample after it, the search breaks off
    // with the record filled.
    EXPECT_EQ(Toolbox::SecAutoSetParamStruct(&p, &late, 500, 0.5, 0, 1, &stats.b, 50, 50), -100);
    EXPECT_EQ(p.attenuation, 0);
    EXPECT_EQ(p.maxGain, 500);
}

// Through a process: the kind of process first, then the statistics from its
// source (none without one, or when it fails), then its acquisition
// parameters; a refused or broken-off set-up leaves the process as it was.
// Otherwise the values found from the statistics of its source arrive
// through its parameter text, rounded to its precisions.
TEST(Sec2Auto, ProcessTakesTheValuesFoundFromItsSource) {
    TestSource source(512, 32);
    Toolbox toolbox;
    Owned stats;
    ASSERT_TRUE(toolbox.GetDataMinMaxStats(stats.b, source.Data(), false));
    CCdpProcess* sec2 = toolbox.GetProcess(KOL::Str2UID("SECCGN"));
    auto run = [&](CCdpProcess* p, double maxGain, MeboDataPtr* st) {
        return toolbox.SecAutoSetParams(p, maxGain, 0.25, 20.0, 0.05, st, 30, 30);
    };
    EXPECT_EQ(run(toolbox.GetProcess(KOL::Str2UID("CONST@")), 5000, &stats.b), -999);
    EXPECT_EQ(run(sec2, 5000, nullptr), -205);
    sec2->SetDataSource(&source);
    source.SetStatus(-3);
    EXPECT_EQ(run(sec2, 5000, nullptr), -205);
    source.SetStatus(0);
    source.SetNoGprParam(true);
    EXPECT_EQ(run(sec2, 0, &stats.b), -200);
    EXPECT_EQ(sec2->GetParams(), "ATTENU=5.00\nSTRTGN=1.00\nMAXGN@=500");
    source.SetNoGprParam(false);
    Sec2GainParam p{};
    ASSERT_EQ(Toolbox::SecAutoSetParamStruct(&p, &source.Gpr(), 5000, 0.25, 20.0, 0.05, &stats.b, 30, 30), 0);
    EXPECT_EQ(run(sec2, 5000, nullptr), 0);
    char expected[128];
    std::snprintf(expected, sizeof expected, "ATTENU=%.2f\nSTRTGN=%.2f\nMAXGN@=%.0f", p.attenuation, p.startGain,
                  p.maxGain);
    EXPECT_EQ(sec2->GetParams(), expected);
    source.Gpr().timeZeroSample = 600;
    EXPECT_EQ(run(sec2, 5000, nullptr), -100);
    EXPECT_EQ(sec2->GetParams(), expected);
}

TEST(Sec2Auto, StatisticsStepMergesOnlyMatchingRanges) {
    Toolbox toolbox;
    Owned a = MakeBuffer(0, 511, 0, 3, 0, 1,
                         [](int32_t s, int32_t t, int32_t p) { return int16_t(s * (t + 1) * (p ? -1 : 1)); });
    Owned b = MakeBuffer(0, 511, 0, 2, 0, 0, [](int32_t s, int32_t, int32_t) { return int16_t(s == 7 ? 9000 : -s); });
    Owned stats, shorter = Filled(256, 2, 1, 30000), wide = Zeroed(4, 512, 2), none;
    ASSERT_TRUE(toolbox.GetDataMinMaxStats(stats.b, a.b, false));
    ASSERT_EQ(stats.b.axis.dim[0].max, 511);
    // {count, min, max} of a record.
    auto at = [&](int i) { return std::vector<double>{double(Records(stats.b)[i].count), Records(stats.b)[i].minValue,
                                                      Records(stats.b)[i].maxValue}; };
    EXPECT_EQ(at(100), (std::vector<double>{8, -400, 400}));
    ASSERT_TRUE(toolbox.GetDataMinMaxStats(stats.b, b.b, true));
    EXPECT_EQ(at(100), (std::vector<double>{11, -400, 400}));
    EXPECT_EQ(at(7), (std::vector<double>{11, -28, 9000}));
    // Statistics of samples 0 ... 511 cannot take data of samples 0 ... 255,
    // nor anything that is not 16-bit samples; they stay as they were.
    std::vector<uint8_t> before(stats.b.axis.base, stats.b.axis.base + 512 * sizeof(SCDPPrc_DataStatsMode));
    EXPECT_FALSE(toolbox.GetDataMinMaxStats(stats.b, shorter.b, true) ||
                 toolbox.GetDataMinMaxStats(stats.b, wide.b, true) ||
                 toolbox.GetDataMinMaxStats(stats.b, wide.b, false));
    EXPECT_EQ(std::memcmp(before.data(), stats.b.axis.base, before.size()), 0);
    EXPECT_FALSE(toolbox.GetDataMinMaxStats(none.b, a.b, true));
}

}  // namespace
