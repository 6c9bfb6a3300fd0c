#include "vantir3/processes/topo_shift.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <tuple>
#include <vector>

#include "kol_utils/kol_utils.h"
#include "tests/support/trace_checks.h"
#include "vantir3/framework/toolbox.h"
#include "vantir3/processes/deseparate.h"

namespace {

using namespace vantir3_test;
using Toolbox = CCdpProcessToolbox;

// Elevations as doubles: one per trace (axis 0) and section (axis 2).
MeboDataPtr Elevations(int32_t t0, int32_t t1, int32_t planes, const std::function<double(int32_t, int32_t)>& h) {
    MeboDataPtr b = Empty();
    MeboDataPtrAllocate(&b, sizeof(double), t0, t1, 0, 0, 0, planes - 1, 1);
    double* p = reinterpret_cast<double*>(b.storage->data);
    for (int32_t plane = 0; plane < planes; ++plane)
        for (int32_t t = t0; t <= t1; ++t) *p++ = h(t, plane);
    return b;
}

TEST(TopoShift, GroundZeroSampleIdx) {
    const double v = 0.1, s = 0.5, t0 = 10.5, dt = 0.4;
    const unsigned long z0 = static_cast<unsigned long>(KOL::Depth2SampleIdx(0.0, v, s, dt, t0));
    EXPECT_EQ(z0, 17u);
    EXPECT_EQ(Toolbox::GroundZeroSampleIdx(1000, 99, v, s, t0, dt), z0);
    EXPECT_EQ(Toolbox::GroundZeroSampleIdx(99, 99, v, s, t0, dt), z0);
    // Without separation (exact binary numbers) the converted trace needs one
    // sample more than the input: one leading sample is skipped, so ground
    // zero (9) lands one earlier. Unusable geometry gives 0.
    EXPECT_EQ(Toolbox::GroundZeroSampleIdx(99, 99, 0.125, 0.0, t0, 0.5), 8u);
    EXPECT_EQ(Toolbox::GroundZeroSampleIdx(99, 99, 0.0, s, t0, dt), 0u);
    EXPECT_EQ(Toolbox::GroundZeroSampleIdx(99, 99, v, s, t0, std::nan("")), 0u);
}

TEST(TopoShift, ShiftsMoveTracesUpAndDown) {
    // v = 1/8 m/ns and dt = 1/2 ns: 1/4 m of elevation is exactly 8 samples.
    const double v = 0.125, s = 0.5, t0 = 10.5, dt = 0.5, datum = 100.0;
    const double heights[] = {100.0, 100.25, 99.75, 0.0, 1e300};
    const TraceValue same = [](int32_t, int32_t i, int32_t) { return TraceProfile(0, i, 0); };
    const TraceValue fill = [](int32_t, int32_t, int32_t) { return 4321; };
    Owned elev = Elevations(0, 4, 1, [&](int32_t t, int32_t) { return heights[t]; }), none;
    for (bool traceMajor : {true, false}) {
        SCOPED_TRACE(traceMajor);
        Owned in = TraceBuffer(0, 4, 0, 99, 1, traceMajor, same), out = TraceBuffer(0, 4, 0, 99, 1, traceMajor, fill);
        Owned flat = TraceBuffer(0, 4, 0, 99, 1, traceMajor, fill);
        ASSERT_EQ(Toolbox::CdpTopoShift(out.b, in.b, elev.b, v, datum, 0.0, s, t0, dt), 0);
        const std::vector<int16_t> level = TraceOf(out.b, 0);
        std::vector<int16_t> up(level.begin() + 8, level.end()), down(8, 4321);
        up.resize(100, 4321);  // the trace ends when its last place is passed
        down.insert(down.end(), level.begin(), level.end() - 8);
        EXPECT_EQ(TraceOf(out.b, 1), up);    // above the datum: moved up
        EXPECT_EQ(TraceOf(out.b, 2), down);  // below: moved down
        EXPECT_EQ(TraceOf(out.b, 3), std::vector<int16_t>(100, 4321));  // past the end
        EXPECT_EQ(TraceOf(out.b, 4), std::vector<int16_t>(100, 4321));  // past the top
        // No elevations: every trace stands at the datum.
        ASSERT_EQ(Toolbox::CdpComboShift(flat.b, in.b, none.b, v, datum, 0.0, s, t0, dt), 0);
        for (int32_t t = 0; t <= 4; ++t) EXPECT_EQ(TraceOf(flat.b, t), level);
    }
}

// Sum and sum of squares of two sections of 20 traces (places left unwritten
// keep t + i), recorded from the library when it matched, in both layouts, a
// plain per-trace shift: the copy before ground zero, then the depth table
// walked by a running bracket, every position moved by the elevation shift.
TEST(TopoShift, PlanGivesTheRecordedSamplesInEveryLayout) {
    struct Case { double v, s, t0, dt; int32_t inSamples, outFirst, outLast; int64_t sum, energy; };
    const Case cases[] = {
        {0.1, 0.5, 10.5, 0.4, 100, 0, 99, 11823400, 1686018858496},
        {0.25, 0.1, 12.0, 0.4, 100, 0, 129, 2338437, 1719439042137},  // velocity near that of light
        {0.1, 0.0, 12.0, 0.4, 100, 0, 102, 891750, 1529775747162},    // room check skips a few leading samples
        {0.1, 0.0, 6.0, 0.5, 80, 3, 40, 380029, 705748877045},        // shorter output
        {0.3, 2.0, 0.5, 0.2, 70, 0, 90, 13891479, 1808320484111},     // ground zero before the first sample
        {0.1, 0.2, 40.5, 0.4, 60, 0, 15, 1643239, 304292303983},      // copied prefix longer than the output
    };
    Owned elev = Elevations(0, 19, 2, [](int32_t t, int32_t p) { return 0.02 * ((t * 7 + p * 3) % 23) - 0.2; });
    const TraceValue unwritten = [](int32_t t, int32_t i, int32_t) { return static_cast<int16_t>(t + i); };
    for (const Case& c : cases)
        for (bool traceMajor : {true, false}) {
            Owned in = TraceBuffer(0, 19, 0, c.inSamples - 1, 2, traceMajor, TraceProfile);
            Owned out = TraceBuffer(0, 19, c.outFirst, c.outLast, 2, traceMajor, unwritten);
            ASSERT_EQ(Toolbox::CdpTopoShift(out.b, in.b, elev.b, c.v, 0.05, 0.0, c.s, c.t0, c.dt), 0);
            EXPECT_EQ(SumAndEnergy(out.b), std::make_pair(c.sum, c.energy)) << c.v << " " << c.s << " " << c.t0;
        }
}

// More traces than the walk takes at a time, in runs of one elevation and
// of changing ones across its boundaries, two sections, both layouts: every
// trace comes out as it does converted alone.
TEST(TopoShift, LongSurveysShiftEveryTraceByItsOwnElevation) {
    const double v = 0.1, s = 0.5, t0 = 10.5, dt = 0.4, datum = 0.05;
    const int32_t last = 2100;
    const auto height = [](int32_t t, int32_t p) {
        return t / 300 % 2 == 0 ? 0.01 * p : 0.02 * ((t * 7 + p * 3) % 23) - 0.2;
    };
    const TraceValue unwritten = [](int32_t t, int32_t i, int32_t) { return static_cast<int16_t>(t + i); };
    Owned elev = Elevations(0, last, 2, height);
    for (bool traceMajor : {true, false}) {
        Owned in = TraceBuffer(0, last, 0, 79, 2, traceMajor, TraceProfile);
        Owned out = TraceBuffer(0, last, 0, 89, 2, traceMajor, unwritten);
        ASSERT_EQ(Toolbox::CdpTopoShift(out.b, in.b, elev.b, v, datum, 0.0, s, t0, dt), 0);
        for (int32_t t = 0; t <= last; ++t) {
            Owned one = TraceBuffer(t, t, 0, 79, 2, true, TraceProfile);
            Owned alone = TraceBuffer(t, t, 0, 89, 2, true, unwritten);
            Owned e = Elevations(t, t, 2, height);
            ASSERT_EQ(Toolbox::CdpTopoShift(alone.b, one.b, e.b, v, datum, 0.0, s, t0, dt), 0);
            for (int32_t p : {0, 1}) ASSERT_EQ(TraceOf(out.b, t, p), TraceOf(alone.b, t, p)) << t << " " << traceMajor;
        }
    }
}

// Traces and sections indexed up to the end of the 32-bit range: the walks
// end there (the elevations are all 0, so every trace is converted alike),
// for the topographic shift and for deseparation alone.
TEST(TopoShift, IndicesAtTheEndOfTheRange) {
    const int32_t top = INT32_MAX;
    Owned in, elev;
    ASSERT_NE(MeboDataPtrAllocate(&in.b, sizeof(int16_t), top - 2, top, 0, 79, top - 1, top, 1), 0);
    ASSERT_NE(MeboDataPtrAllocate(&elev.b, sizeof(double), top - 2, top, 0, 0, top - 1, top, 1), 0);
    for (int32_t i = 0; i < 80; ++i) PutSample(in.b, top, i, top, static_cast<int16_t>(100 + i));
    for (bool shift : {true, false}) {
        SCOPED_TRACE(shift);
        Owned out;
        ASSERT_NE(MeboDataPtrAllocate(&out.b, sizeof(int16_t), top - 2, top, 0, 89, top - 1, top, 1), 0);
        ASSERT_EQ(shift ? Toolbox::CdpTopoShift(out.b, in.b, elev.b, 0.1, 0.0, 0.0, 0.5, 10.5, 0.4)
                        : Toolbox::CdpDeseparate(out.b, in.b, 0.1, 0.5, 10.5, 0.4),
                  0);
        EXPECT_NE(SampleAt(out.b, top, 60, top), 0);
        EXPECT_EQ(SampleAt(out.b, top - 1, 60, top), 0);
    }
}

TEST(TopoShift, ElevationCoverageAndRefusals) {
    Owned in = TraceBuffer(0, 9, 0, 59, 1, true, TraceProfile), out = FilledTraces(0, 9, 0, 59, -9);
    Owned out2 = FilledTraces(0, 9, 0, 59, -9);
    const std::vector<int16_t> untouched(60, -9);
    auto shift = [&](MeboDataPtr& o, const MeboDataPtr& e, double v = 0.1, double dt = 0.4) {
        return Toolbox::CdpTopoShift(o, in.b, e, v, 0.0, 0.0, 0.5, 10.5, dt);
    };
    // Elevations for traces 4..12 only: traces 0..3 are not written; nor is a
    // trace whose elevation is not a number.
    Owned part = Elevations(4, 12, 1, [](int32_t, int32_t) { return 0.0; });
    Owned holes = Elevations(0, 9, 1, [](int32_t t, int32_t) { return t == 2 ? std::nan("") : 0.0; });
    ASSERT_EQ(shift(out.b, part.b), 0);
    ASSERT_EQ(shift(out2.b, holes.b), 0);
    EXPECT_EQ(TraceOf(out.b, 3), untouched);
    EXPECT_NE(TraceOf(out.b, 4), untouched);
    EXPECT_EQ(TraceOf(out2.b, 2), untouched);
    EXPECT_EQ(TraceOf(out2.b, 5), TraceOf(out.b, 5));
    // Elevations that are not doubles, 32-bit samples, empty buffers,
    // elevations for other traces, bad geometry.
    Owned shorts = FilledTraces(0, 9, 0, 0, 0), wide = Zeroed(4, 10, 60), empty;
    Owned elsewhere = Elevations(20, 29, 1, [](int32_t, int32_t) { return 0.0; });
    EXPECT_EQ(std::make_tuple(shift(out.b, shorts.b), shift(wide.b, part.b), shift(empty.b, part.b)),
              std::make_tuple(-3, -3, -1));
    EXPECT_EQ(shift(out.b, elsewhere.b), -2);
    EXPECT_EQ(shift(out.b, part.b, -0.1), vantir3::kDepthBadGeometry);
    EXPECT_EQ(shift(out.b, part.b, 0.1, 0.0), vantir3::kDepthBadGeometry);
    // With Unwritten::kZero what is not written reads 0: traces without
    // elevations or with one that is not a number, the places a shifted
    // trace does not reach, and everything on an error.
    Owned cleared = FilledTraces(0, 9, 0, 59, 0), zeroed = FilledTraces(0, 9, 0, 59, -9);
    Owned refused = FilledTraces(0, 9, 0, 59, -9);
    Owned steep = Elevations(4, 12, 1, [](int32_t t, int32_t) { return t == 6 ? std::nan("") : 0.01 * (t - 8); });
    auto zeroShift = [&](MeboDataPtr& o, double v) {
        return vantir3::TopoShift(o, in.b, TopoShiftParams{v, 0.0, 0.0, steep.b}, 0.5, 10.5, 0.4,
                                  vantir3::Unwritten::kZero);
    };
    ASSERT_EQ(shift(cleared.b, steep.b), 0);
    ASSERT_EQ(zeroShift(zeroed.b, 0.1), 0);
    for (int32_t t = 0; t <= 9; ++t) EXPECT_EQ(TraceOf(zeroed.b, t), TraceOf(cleared.b, t)) << t;
    EXPECT_EQ(TraceOf(zeroed.b, 6), std::vector<int16_t>(60, 0));
    EXPECT_EQ(zeroShift(refused.b, -0.1), vantir3::kDepthBadGeometry);
    EXPECT_EQ(TraceOf(refused.b, 2), std::vector<int16_t>(60, 0));
}

TEST(TopoShift, ProcessParametersElevationsAndData) {
    Toolbox toolbox;
    auto* p = static_cast<CCdpPrcComboShift*>(toolbox.GetProcess(KOL::Str2UID("COMBSH")));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->GetParams(), "TPVELO=0.100\nDATUM@=0.000");
    EXPECT_EQ(p->SetParams("DATUM@=-12.5"), 0);
    EXPECT_EQ(p->SetParams("TPVELO=0.5"), 1);
    EXPECT_EQ(p->SetParams("TPVELO=0.125"), 0);
    EXPECT_EQ(p->GetParams(), "TPVELO=0.125\nDATUM@=-12.500");
    TestSource source(8, 90, 1, TraceProfile);
    source.Gpr().sampleInterval = 0.5;
    const ICdpDataSource::SEGprParam& g = source.Gpr();
    Owned elev = Elevations(0, 7, 1, [](int32_t t, int32_t) { return -12.5 + 0.0625 * (t - 3); }), none;
    EXPECT_EQ(p->SetElevations(&source.Data()), -3);  // 16-bit samples are no elevations
    EXPECT_EQ(p->SetElevations(&elev.b), 0);
    EXPECT_EQ(elev.b.storage->refCount, 2u);
    // The process gives what the entry point gives on the same elevations
    // (its output starts cleared), and every trace at the datum without them.
    auto direct = [&](const MeboDataPtr& e) {
        MeboDataPtr want = FilledTraces(0, 7, 0, 89, 0);
        EXPECT_EQ(Toolbox::CdpComboShift(want, source.Data(), e, 0.125, -12.5, 0.0, g.antennaSeparation,
                                         g.timeZeroSample, g.sampleInterval), 0);
        return want;
    };
    Owned shifted = direct(elev.b), flat = direct(none.b);
    EXPECT_NE(TraceOf(shifted.b, 0), TraceOf(flat.b, 0));
    ExpectProcessOutput(*p, source, shifted.b);
    EXPECT_TRUE(p->SourceChanged(nullptr));
    EXPECT_EQ(p->SetElevations(nullptr), 0);
    EXPECT_FALSE(p->SourceChanged(nullptr));
    EXPECT_EQ(elev.b.storage->refCount, 1u);
    ExpectProcessOutput(*p, source, flat.b);
    // Elevations handed over as auxiliary data are used while none are set.
    p->SetAuxDataCdp(&elev.b);
    ExpectProcessOutput(*p, source, shifted.b);
}

}  // namespace
