#include "vantir3/processes/deseparate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <random>
#include <vector>

#include "kol_utils/kol_utils.h"
#include "tests/support/simd_targets.h"
#include "tests/support/trace_checks.h"
#include "vantir3/framework/buffer_walk.h"
#include "vantir3/framework/toolbox.h"

namespace {

using namespace vantir3;
using namespace vantir3_test;
using Toolbox = CCdpProcessToolbox;

TEST(DepthPlan, SameSamplesInEveryLayoutAndInstructionSet) {
    const int32_t traces = 1100, samples = 48, places = 56, planes = 2;  // more traces than one band
    std::mt19937 rng(7);
    // Copies, a step from a zero sample, steps that repeat or advance the
    // input at random, and a long stretch that advances one sample per step.
    DepthPlan plan;
    for (int32_t r = 0, cur = 0; r < 64; ++r) {
        if (r <= 5) {
            plan.Add(r < 5 ? r : -1, r < 5 ? cur = r : ++cur, r < 5 ? 0.0 : 0.25);
            continue;
        }
        if ((r >= 16 && r < 36) || rng() % 2 == 0) ++cur;
        if (cur >= samples) break;
        plan.Add(cur - 1, cur, (rng() % 1000) / 1000.0);
    }
    // The test profile, with every fifth trace swinging between the 16-bit
    // extremes, whose rounded steps pass +-32767 and wrap.
    const TraceValue input = [](int32_t t, int32_t i, int32_t p) -> int16_t {
        if (t % 5 != 2) return TraceProfile(t, i, p);
        return (i + t) % 3 == 0 ? -32768 : i % 2 != 0 ? 32767 : -32767;
    };
    // Shifts in runs of neighbouring traces, a few far outside the output,
    // and runs of 20 (starting inside vector blocks) moved just far enough
    // that their first or last step lands on the output's last or first
    // place, or no step does.
    const int64_t steps = plan.Size();
    const int64_t edges[] = {-steps - 1, -steps, -steps + 1, places - 1, places, places + 1};
    std::vector<int64_t> shifts;
    for (int32_t i = 0, h = 0; i < traces * planes; ++i) {
        if (rng() % 9 == 0) h += static_cast<int32_t>(rng() % 5) - 2;
        shifts.push_back(i % 400 == 17    ? (i % 800 == 17 ? kBigCount : -kBigCount)
                         : i % 400 >= 117 && i % 400 < 137 ? edges[(i / 400) % 6]
                                                            : h % 12);
    }
    // Working views (axis 0 samples, axis 1 traces, axis 2 sections) with
    // samples or traces innermost in memory, or sections innermost and then
    // traces (2) or samples (3).
    auto view = [&](int layout, int32_t n, const TraceValue& value) {
        MeboDataPtr b = layout < 2 ? TraceBuffer(0, traces - 1, 0, n - 1, planes, layout == 1, value)
                        : layout == 2
                            ? MakeBuffer(0, planes - 1, 0, traces - 1, 0, n - 1,
                                         [&](int32_t p, int32_t t, int32_t i) { return value(t, i, p); })
                            : MakeBuffer(0, planes - 1, 0, n - 1, 0, traces - 1,
                                         [&](int32_t p, int32_t i, int32_t t) { return value(t, i, p); });
        if (layout >= 2) MeboDataPtrSwapAxes(&b, 0, 2);
        if (layout != 2) MeboDataPtrSwapAxes(&b, 0, 1);
        return b;
    };
    for (DepthRule rule : {DepthRule::kTruncate, DepthRule::kRound}) {
        for (Unwritten unwritten : {Unwritten::kKeep, Unwritten::kZero}) {
            plan.rule = rule;
            for (bool shifted : {false, true}) {
                // want[p * traces + t][place]; where nothing lands 999 (the
                // output's fill) kept, or 0.
                const int16_t rest = unwritten == Unwritten::kKeep ? 999 : 0;
                std::vector<std::vector<int16_t>> want(planes * traces, std::vector<int16_t>(places, rest));
                for (int32_t k = 0; k < planes * traces; ++k) {
                    const int32_t p = k / traces, t = k % traces;
                    const int64_t shift = shifted ? shifts[k] : 0;
                    for (int64_t r = 0; r < plan.Size(); ++r) {
                        if (r + shift < 0 || r + shift >= places) continue;
                        const int32_t a = plan.prev[r] < 0 ? 0 : input(t, plan.prev[r], p);
                        const int32_t c = input(t, plan.cur[r], p);
                        want[k][r + shift] = static_cast<int16_t>(
                            a + (rule == DepthRule::kTruncate ? static_cast<int32_t>(plan.frac[r] * (c - a))
                                                              : FloorSaturate16(0.5 + (c - a) * plan.frac[r])));
                    }
                }
                ForEachSimdTarget([&] {
                    for (int layout = 0; layout < 8; ++layout) {
                        SCOPED_TRACE(testing::Message() << "rule " << static_cast<int>(rule) << " shifted " << shifted
                                                        << " layout " << layout << " zero "
                                                        << (unwritten == Unwritten::kZero));
                        Owned in = view(layout % 2, samples, input);
                        Owned out = view(layout / 2, places, [](int32_t, int32_t, int32_t) { return 999; });
                        const DepthWalk walk{&in.b.axis, &out.b.axis, 0, traces - 1, 0, planes - 1,
                                             shifted ? shifts.data() : nullptr, unwritten};
                        ApplyDepthPlan(plan, walk);
                        for (int32_t k = 0; k < planes * traces; ++k)
                            ASSERT_EQ(Samples(out.b, k % traces, k / traces), want[k]) << "trace " << k % traces;
                    }
                });
            }
        }
    }
}

// A plan without steps (a geometry that leaves no input sample to convert)
// writes nothing, and with Unwritten::kZero clears the walk's places, in
// every layout, shifted or not, on every target.
TEST(DepthPlan, PlanWithoutStepsClearsUnderZero) {
    const int32_t traces = 70, places = 9;
    std::vector<int64_t> shifts(traces);
    for (int32_t t = 0; t < traces; ++t) shifts[t] = t / 7 - 3;
    DepthPlan plan;
    plan.rule = DepthRule::kRound;
    ForEachSimdTarget([&] {
        for (bool traceMajor : {true, false}) {
            for (bool shifted : {false, true}) {
                for (Unwritten unwritten : {Unwritten::kKeep, Unwritten::kZero}) {
                    SCOPED_TRACE(testing::Message() << traceMajor << shifted << (unwritten == Unwritten::kZero));
                    Owned in = TraceBuffer(0, traces - 1, 0, 3, 1, traceMajor, TraceProfile);
                    Owned out = TraceBuffer(0, traces - 1, 0, places - 1, 1, traceMajor,
                                            [](int32_t, int32_t, int32_t) { return 999; });
                    MeboDataPtrSwapAxes(&in.b, 0, 1);
                    MeboDataPtrSwapAxes(&out.b, 0, 1);
                    const DepthWalk walk{&in.b.axis, &out.b.axis, 0, traces - 1, 0, 0,
                                         shifted ? shifts.data() : nullptr, unwritten};
                    ApplyDepthPlan(plan, walk);
                    const int16_t want = unwritten == Unwritten::kZero ? 0 : 999;
                    for (int32_t t = 0; t < traces; ++t)
                        ASSERT_EQ(Samples(out.b, t, 0), std::vector<int16_t>(places, want)) << "trace " << t;
                }
            }
        }
    });
}

// The rounded step at every difference c - p of two 16-bit samples, for
// fractions where the double formula's own rounding decides (products at or
// within a few units of the last place of a half), the 16-bit extremes, and
// shifts in runs that end inside vector blocks, on trace-major storage (the
// traces stored under lane masks) and on a transposed view.
TEST(DepthPlan, RoundedStepsAtEveryDifference) {
    const int32_t spread = 65536;  // traces 0 ... 2 spread - 1: every difference twice
    const int32_t traces = 3 * spread, planes = 1;
    std::mt19937 rng(11);
    std::vector<int16_t> prevs(traces), curs(traces);
    for (int32_t t = 0; t < traces; ++t) {
        const int32_t k = t % spread;
        if (t < spread) {  // c - p = k and -k from the two extremes
            prevs[t] = -32768, curs[t] = static_cast<int16_t>(-32768 + k);
        } else if (t < 2 * spread) {
            prevs[t] = 32767, curs[t] = static_cast<int16_t>(32767 - k);
        } else {  // random pairs
            prevs[t] = static_cast<int16_t>(rng()), curs[t] = static_cast<int16_t>(rng());
        }
    }
    const double half = 0.5, third = 1.0 / 3.0;
    std::vector<double> fractions = {0.0, 1.0, half, std::nextafter(half, 0.0), std::nextafter(half, 1.0), 0.25, 0.75,
                                     third, std::nextafter(third, 0.0), std::nextafter(third, 1.0), 2.0 / 3.0,
                                     std::ldexp(1.0, -17), 1.0 - std::ldexp(1.0, -17), std::ldexp(1.0, -40),
                                     std::nextafter(1.0, 0.0), 0.1, 0.9, 0.5 / 32766.0, 32765.5 / 32766.0};
    for (int i = 0; i < 8; ++i) fractions.push_back((rng() % 1000003) / 1000003.0);
    DepthPlan plan;
    plan.rule = DepthRule::kRound;
    for (double f : fractions) plan.Add(0, 1, f);
    const int32_t places = static_cast<int32_t>(plan.Size()) + 3;
    // Runs of 1 to 40 traces, shifted by -1 ... 3 (the last step of a run
    // shifted by 3 falls outside the output, the first of one shifted by -1).
    std::vector<int64_t> shifts(traces);
    for (int32_t t = 0; t < traces;) {
        const int32_t n = 1 + static_cast<int32_t>(rng() % 40);
        const int64_t shift = static_cast<int64_t>(rng() % 5) - 1;
        for (int32_t i = t; i < std::min(traces, t + n); ++i) shifts[i] = shift;
        t += n;
    }
    std::vector<std::vector<int16_t>> want(traces, std::vector<int16_t>(places, 999));
    for (int32_t t = 0; t < traces; ++t) {
        for (int64_t r = 0; r < plan.Size(); ++r) {
            const int64_t place = r + shifts[t];
            if (place < 0 || place >= places) continue;
            const int32_t step = FloorSaturate16(0.5 + (curs[t] - prevs[t]) * plan.frac[r]);
            want[t][place] = static_cast<int16_t>(prevs[t] + step);
        }
    }
    const TraceValue input = [&](int32_t t, int32_t i, int32_t) { return i == 0 ? prevs[t] : curs[t]; };
    const int targets = ForEachSimdTarget([&] {
        for (bool traceMajor : {true, false}) {
            SCOPED_TRACE(traceMajor ? "trace-major" : "transposed");
            Owned in = TraceBuffer(0, traces - 1, 0, 1, planes, traceMajor, input);
            Owned out = TraceBuffer(0, traces - 1, 0, places - 1, planes, traceMajor,
                                    [](int32_t, int32_t, int32_t) { return 999; });
            MeboDataPtrSwapAxes(&in.b, 0, 1);
            MeboDataPtrSwapAxes(&out.b, 0, 1);
            const DepthWalk walk{&in.b.axis, &out.b.axis, 0, traces - 1, 0, 0, shifts.data()};
            ApplyDepthPlan(plan, walk);
            for (int32_t t = 0; t < traces; ++t) {
                ASSERT_EQ(Samples(out.b, t, 0), want[t]) << "trace " << t << " p " << prevs[t] << " c " << curs[t];
            }
        }
    });
    EXPECT_GE(targets, 1);
}

TEST(Deseparate, ReflectorDepthAndBoundingBox) {
    EXPECT_NEAR(ReflectorDepth(0.1, 10.0, 0.5), std::sqrt((1.0 - 0.25) / 4.0), 1e-15);  // about 0.433
    // {v, t, s, depth}: v*t == s, v*t < s and NaN give 0; no separation v*t / 2.
    const double depths[][4] = {{0.1, 5.0, 0.5, 0.0}, {0.1, 2.0, 0.5, 0.0}, {NAN, 10.0, 0.5, 0.0},
                                {0.1, 10.0, 0.0, 0.5}};
    for (const auto& d : depths) EXPECT_EQ(ReflectorDepth(d[0], d[1], d[2]), d[3]) << d[1] << " " << d[2];
    Owned in = TraceBuffer(100, 199, 0, 31, 1, true, TraceProfile), out = FilledTraces(150, 249, 0, 63, 0);
    Owned outView, inView, far = FilledTraces(300, 309, 0, 31, 0), wide;
    EXPECT_EQ(SetBoundingBox(out.b, in.b, outView.b, inView.b, 0), 0);  // shares only
    EXPECT_EQ(std::make_pair(in.b.storage->refCount, outView.b.axis.dim[0].min), std::make_pair(2u, 150));
    EXPECT_EQ(SetBoundingBox(out.b, in.b, outView.b, inView.b, 5), 0);
    EXPECT_EQ(in.b.storage->refCount, 2u);  // the old references were dropped
    for (const MeboDataPtr* v : {&outView.b, &inView.b})
        EXPECT_EQ(std::make_pair(v->axis.dim[0].min, v->axis.dim[0].max), std::make_pair(150, 199));
    EXPECT_EQ(SampleAt(inView.b, 170, 3), SampleAt(in.b, 170, 3));
    // The caller's buffers keep their views.
    EXPECT_EQ(std::make_pair(in.b.axis.dim[0].min, out.b.axis.dim[0].max), std::make_pair(100, 249));
    EXPECT_EQ(SetBoundingBox(far.b, in.b, outView.b, inView.b, 1), -2);
    MeboDataPtrAllocate(&wide.b, 4, 100, 199, 0, 31, 0, 0, 1);
    EXPECT_EQ(SetBoundingBox(wide.b, in.b, outView.b, inView.b, 8), -3);
    EXPECT_EQ(SetBoundingBox(wide.b, in.b, outView.b, inView.b, 4), 0);  // sizes are only compared with 8
}

TEST(Deseparate, ZeroSeparationGivesOneOutputSamplePerInputSample) {
    // v = dt = 0.5, s = 0: every depth is a multiple of 1/8 m, exactly.
    const int32_t n = 40;
    Owned in = TraceBuffer(0, 2, 0, n, 1, true, TraceProfile), out = FilledTraces(0, 2, 0, n, 7777);
    // No time zero: nothing copied or skipped; the input runs out one place
    // before the output does.
    ASSERT_EQ(Toolbox::CdpDeseparate(out.b, in.b, 0.5, 0.0, 0.0, 0.5), 0);
    std::vector<int16_t> src = TraceOf(in.b, 1), want = src;
    want.back() = 7777;
    EXPECT_EQ(TraceOf(out.b, 1), want);
    // Time zero at 2 with room to spare: two copied samples, the first
    // resampled one stands at depths 0 ... 3/8, then one per sample, and the
    // output's tail is left alone.
    Owned big = FilledTraces(0, 2, 10, 10 + n + 5, 7777), tight = FilledTraces(0, 2, 0, n + 1, 7777);
    ASSERT_EQ(Toolbox::CdpDeseparate(big.b, in.b, 0.5, 0.0, 2.0, 0.5), 0);
    want = {src[0], src[1], src[2], src[2], src[2]};
    want.insert(want.end(), src.begin() + 3, src.end() - 1);
    want.resize(n + 6, 7777);
    EXPECT_EQ(TraceOf(big.b, 1), want);
    // One sample short of that room: one copied sample is dropped.
    ASSERT_EQ(Toolbox::CdpDeseparate(tight.b, in.b, 0.5, 0.0, 2.0, 0.5), 0);
    want.erase(want.begin());
    want.resize(n + 2);
    EXPECT_EQ(TraceOf(tight.b, 1), want);
}

// Sum and sum of squares of two sections of 7 traces (places left unwritten
// keep t - i), recorded from the library when it matched, in both layouts, a
// plain per-trace conversion (copy before time zero, then one running bracket
// over the reflector depths of the input samples).
TEST(Deseparate, PlanGivesTheRecordedSamplesInEveryLayout) {
    struct Case { double v, s, t0, dt; int32_t inSamples, outFirst, outLast; int64_t sum, energy; };
    const Case cases[] = {
        {0.1, 0.5, 10.5, 0.4, 120, 0, 119, -799581, 669773404829},  // output as long as the input
        {0.1, 0.5, 10.5, 0.4, 120, 5, 200, 989673, 746089910485},   // longer: nothing skipped, tail untouched
        {0.12, 0.3, 25.0, 0.2, 90, 0, 60, -5664018, 369566528798},  // shorter: skipped prefix, output full
        {0.08, 1.0, 0.7, 0.5, 64, 0, 70, -3051383, 348553802673},   // first input samples lie above any depth
    };
    const TraceValue unwritten = [](int32_t t, int32_t i, int32_t) { return static_cast<int16_t>(t - i); };
    for (const Case& c : cases)
        for (bool traceMajor : {true, false}) {
            Owned in = TraceBuffer(3, 9, 0, c.inSamples - 1, 2, traceMajor, TraceProfile);
            Owned out = TraceBuffer(3, 9, c.outFirst, c.outLast, 2, traceMajor, unwritten);
            ASSERT_EQ(Toolbox::CdpDeseparate(out.b, in.b, c.v, c.s, c.t0, c.dt), 0);
            EXPECT_EQ(SumAndEnergy(out.b), std::make_pair(c.sum, c.energy)) << c.v << " " << c.s << " " << c.t0;
        }
}

TEST(Deseparate, DegenerateGeometryAndBadBuffers) {
    Owned in = TraceBuffer(0, 3, 0, 49, 1, true, TraceProfile), out = FilledTraces(0, 3, 0, 59, -5);
    // v*dt*N = 0.003 * 0.1 * 49 <= s: no depth scale; traces copied as they are.
    EXPECT_EQ(Toolbox::CdpDeseparate(out.b, in.b, 0.003, 0.5, 10.0, 0.1), kDepthNotConverted);
    std::vector<int16_t> want = TraceOf(in.b, 2);
    want.resize(60, -5);
    EXPECT_EQ(TraceOf(out.b, 2), want);
    // A single sample per trace has no depth spacing either.
    Owned one = TraceBuffer(0, 3, 7, 7, 1, true, TraceProfile), fresh = FilledTraces(0, 3, 0, 1, -5);
    EXPECT_EQ(Toolbox::CdpDeseparate(fresh.b, one.b, 0.1, 0.0, 0.0, 0.1), kDepthNotConverted);
    EXPECT_EQ(TraceOf(fresh.b, 2), (std::vector<int16_t>{SampleAt(one.b, 2, 7), -5}));
    // Unusable numbers leave the output alone.
    const double bad[][4] = {{0.0, 0.5, 10.0, 0.1}, {NAN, 0.5, 10.0, 0.1}, {0.1, INFINITY, 10.0, 0.1},
                             {0.1, 0.5, -1.0, 0.1}, {0.1, 0.5, 10.0, 0.0}};
    Owned untouched = FilledTraces(0, 3, 0, 59, -5);
    for (const double* g : bad)
        EXPECT_EQ(Toolbox::CdpDeseparate(untouched.b, in.b, g[0], g[1], g[2], g[3]), kDepthBadGeometry) << g[0];
    EXPECT_EQ(TraceOf(untouched.b, 1), std::vector<int16_t>(60, -5));
    // Only the traces that input and output share are written.
    Owned shifted = FilledTraces(2, 8, 0, 49, -5), far = FilledTraces(20, 23, 0, 49, -5);
    Owned empty, wide = Zeroed(4, 4, 50);
    auto run = [&](Owned& o) { return Toolbox::CdpDeseparate(o.b, in.b, 0.1, 0.5, 10.0, 0.4); };
    EXPECT_EQ(run(shifted), 0);
    EXPECT_NE(TraceOf(shifted.b, 3), std::vector<int16_t>(50, -5));
    EXPECT_EQ(TraceOf(shifted.b, 4), std::vector<int16_t>(50, -5));
    EXPECT_EQ(std::make_tuple(run(far), run(empty), run(wide)), std::make_tuple(-1, -1, -3));
    // With Unwritten::kZero what is not written reads 0: the places past the
    // converted trace, the traces the input lacks, and everything on an error.
    Owned full = FilledTraces(0, 3, 0, 59, 0), zeroed = FilledTraces(2, 8, 0, 59, -5);
    Owned refused = FilledTraces(0, 3, 0, 59, -5);
    ASSERT_EQ(Deseparate(full.b, in.b, 0.1, 0.5, 10.0, 0.4), 0);
    ASSERT_EQ(Deseparate(zeroed.b, in.b, 0.1, 0.5, 10.0, 0.4, Unwritten::kZero), 0);
    EXPECT_EQ(TraceOf(zeroed.b, 3), TraceOf(full.b, 3));
    EXPECT_EQ(TraceOf(zeroed.b, 4), std::vector<int16_t>(60, 0));
    EXPECT_EQ(Deseparate(refused.b, in.b, NAN, 0.5, 10.0, 0.4, Unwritten::kZero), kDepthBadGeometry);
    EXPECT_EQ(TraceOf(refused.b, 1), std::vector<int16_t>(60, 0));
}

TEST(Deseparate, ProcessParametersDefaultsAndData) {
    Toolbox toolbox;
    CCdpProcess* p = toolbox.GetProcess(KOL::Str2UID("ANDSEP"));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->GetParams(), "VELOC@=0.100");
    EXPECT_EQ(p->SetParams("VELOC@=0.5"), 1);
    EXPECT_EQ(p->SetParams("VELOC@=0.25"), 0);
    // The units line keeps the declaration out of the defaults string, so
    // nothing is re-applied and the value stays.
    EXPECT_EQ(p->GetDeclaration(0).substr(p->GetDeclaration(0).rfind('\n')), "\nm/ns");
    EXPECT_EQ(toolbox.SetProcessParamsToDefaults(p), 0);
    EXPECT_EQ(p->GetParams(), "VELOC@=0.250");
    // Through a source whose axis 0 carries the traces.
    TestSource source(12, 80, 1, TraceProfile);
    const ICdpDataSource::SEGprParam& g = source.Gpr();
    Owned direct = FilledTraces(0, 11, 0, 79, 0);
    ASSERT_EQ(Toolbox::CdpDeseparate(direct.b, source.Data(), 0.25, g.antennaSeparation, g.timeZeroSample,
                                     g.sampleInterval), 0);
    ExpectProcessOutput(*p, source, direct.b);
}

}  // namespace
