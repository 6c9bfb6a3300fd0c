#include "vantir3/processes/topo_shift.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

#include "kol_utils/kol_utils.h"
#include "tests/support/trace_axis_buffers.h"
#include "vantir3/framework/toolbox.h"
#include "vantir3/processes/deseparate.h"

namespace {

using namespace vantir3_test;

// Elevations as doubles: one per trace (axis 0) and section (axis 2).
MeboDataPtr Elevations(int32_t t0, int32_t t1, int32_t planes, const std::function<double(int32_t, int32_t)>& h) {
    MeboDataPtr b;
    MeboDataPtrClear(&b);
    MeboDataPtrAllocate(&b, sizeof(double), t0, t1, 0, 0, 0, planes - 1, 1);
    double* p = reinterpret_cast<double*>(b.storage->data);
    for (int32_t plane = 0; plane < planes; ++plane)
        for (int32_t t = t0; t <= t1; ++t) *p++ = h(t, plane);
    return b;
}

// The shift of one trace as defined: copy before ground zero, then a depth
// table walked by a running bracket, every position moved by the shift.
void DefinedShift(const std::vector<int16_t>& in, std::vector<int16_t>& out, double v, double s, double t0,
                  double dt, double h) {
    const int64_t n = static_cast<int64_t>(in.size()) - 1, span = static_cast<int64_t>(out.size()) - 1;
    const int64_t gz = static_cast<int64_t>(((t0 - 1) * dt - s / 0.2997925) / dt);
    const int64_t z0 = static_cast<int64_t>(KOL::Depth2SampleIdx(0.0, v, s, dt, t0));
    const double delta = v * dt / 2;
    const int64_t e = span + static_cast<int64_t>(KOL::SampleIdx2Depth(n, v, s, dt, t0) / delta + t0) - n;
    // The room check in unsigned arithmetic.
    const uint64_t dropped = z0 - gz, ue = e;
    const int64_t skip = static_cast<uint64_t>(span) < ue - dropped ? std::min<uint64_t>(z0, ue - n + dropped) : 0;
    const int64_t shift = static_cast<int64_t>(KOL::FlightTime2SampleIdx(2 * h / v, 0.0, dt, 0.0));
    int64_t j = 0;
    for (int64_t r = skip; r < gz && r <= n && j + shift <= span; ++r, ++j) {
        if (j + shift >= 0) out[j + shift] = in[r];
    }
    int32_t prev = 0;
    double tau = 0.0;
    bool finished = false;
    for (int64_t k = z0; k + skip <= n && !finished; ++k) {
        const double d = KOL::SampleIdx2Depth(k, v, s, dt, t0);
        const double dPrev = k == z0 ? 0.0 : KOL::SampleIdx2Depth(k - 1, v, s, dt, t0);
        const int32_t cur = in[skip + k];
        for (; d > tau && !finished; tau += delta) {
            if (j + shift >= 0 && j + shift <= span) {
                const double y = std::floor(0.5 + (cur - prev) * ((tau - dPrev) / (d - dPrev)));
                out[j + shift] = static_cast<int16_t>(prev + std::clamp(y, -32767.0, 32767.0));
            }
            finished = ++j > span;
        }
        prev = cur;
    }
}

TEST(TopoShift, GroundZeroSampleIdx) {
    const double v = 0.1, s = 0.5, t0 = 10.5, dt = 0.4;
    const unsigned long z0 = static_cast<unsigned long>(KOL::Depth2SampleIdx(0.0, v, s, dt, t0));
    EXPECT_EQ(z0, 17u);
    EXPECT_EQ(CCdpProcessToolbox::GroundZeroSampleIdx(1000, 99, v, s, t0, dt), z0);
    EXPECT_EQ(CCdpProcessToolbox::GroundZeroSampleIdx(99, 99, v, s, t0, dt), z0);
    // Without separation (exact binary numbers) the converted trace needs one
    // sample more than the input: one leading sample is skipped, so ground
    // zero (9) lands one earlier.
    EXPECT_EQ(CCdpProcessToolbox::GroundZeroSampleIdx(99, 99, 0.125, 0.0, t0, 0.5), 8u);
    EXPECT_EQ(CCdpProcessToolbox::GroundZeroSampleIdx(99, 99, 0.0, s, t0, dt), 0u);
    EXPECT_EQ(CCdpProcessToolbox::GroundZeroSampleIdx(99, 99, v, s, t0, std::nan("")), 0u);
}

TEST(TopoShift, ShiftsMoveTracesUpAndDown) {
    // v = 1/8 m/ns and dt = 1/2 ns: 1/4 m of elevation is exactly 8 samples.
    const double v = 0.125, s = 0.5, t0 = 10.5, dt = 0.5, datum = 100.0;
    const double heights[] = {100.0, 100.25, 99.75, 0.0, 1e300};
    const TraceValue same = [](int32_t, int32_t i, int32_t) { return TraceProfile(0, i, 0); };
    const TraceValue fill = [](int32_t, int32_t, int32_t) { return 4321; };
    MeboDataPtr elev = Elevations(0, 4, 1, [&](int32_t t, int32_t) { return heights[t]; });
    MeboDataPtr none;
    MeboDataPtrClear(&none);
    for (bool traceMajor : {true, false}) {
        SCOPED_TRACE(traceMajor);
        MeboDataPtr in = TraceBuffer(0, 4, 0, 99, 1, traceMajor, same);
        MeboDataPtr out = TraceBuffer(0, 4, 0, 99, 1, traceMajor, fill);
        ASSERT_EQ(CCdpProcessToolbox::CdpTopoShift(out, in, elev, v, datum, 0.0, s, t0, dt), 0);
        const std::vector<int16_t> level = TraceOf(out, 0);
        std::vector<int16_t> up(level.begin() + 8, level.end()), down(8, 4321);
        up.resize(100, 4321);  // the trace ends when its last place is passed
        down.insert(down.end(), level.begin(), level.end() - 8);
        EXPECT_EQ(TraceOf(out, 1), up);    // above the datum: moved up
        EXPECT_EQ(TraceOf(out, 2), down);  // below: moved down
        EXPECT_EQ(TraceOf(out, 3), std::vector<int16_t>(100, 4321));  // past the end
        EXPECT_EQ(TraceOf(out, 4), std::vector<int16_t>(100, 4321));  // past the top
        // No elevations: every trace stands at the datum.
        MeboDataPtr flat = TraceBuffer(0, 4, 0, 99, 1, traceMajor, fill);
        ASSERT_EQ(CCdpProcessToolbox::CdpComboShift(flat, in, none, v, datum, 0.0, s, t0, dt), 0);
        for (int32_t t = 0; t <= 4; ++t) EXPECT_EQ(TraceOf(flat, t), level);
        for (MeboDataPtr* b : {&in, &out, &flat}) MeboDataPtrRelease(b);
    }
    MeboDataPtrRelease(&elev);
}

TEST(TopoShift, PlanGivesTheDefinedSamplesInEveryLayout) {
    struct Case {
        double v, s, t0, dt;
        int32_t inSamples, outFirst, outLast;
    };
    const Case cases[] = {
        {0.1, 0.5, 10.5, 0.4, 100, 0, 99},
        {0.25, 0.1, 12.0, 0.4, 100, 0, 129},  // velocity near that of light
        {0.1, 0.0, 12.0, 0.4, 100, 0, 102},   // room check skips a few leading samples
        {0.1, 0.0, 6.0, 0.5, 80, 3, 40},      // shorter output
        {0.3, 2.0, 0.5, 0.2, 70, 0, 90},      // ground zero before the first sample
        {0.1, 0.2, 40.5, 0.4, 60, 0, 15},     // copied prefix longer than the output
    };
    auto height = [](int32_t t, int32_t p) { return 0.02 * ((t * 7 + p * 3) % 23) - 0.2; };
    const TraceValue marks = [](int32_t t, int32_t i, int32_t) { return static_cast<int16_t>(t + i); };
    MeboDataPtr elev = Elevations(0, 19, 2, height);
    for (const Case& c : cases) {
        for (bool traceMajor : {true, false}) {
            SCOPED_TRACE(testing::Message() << c.v << " " << c.s << " " << c.t0 << " " << traceMajor);
            MeboDataPtr in = TraceBuffer(0, 19, 0, c.inSamples - 1, 2, traceMajor, TraceProfile);
            MeboDataPtr out = TraceBuffer(0, 19, c.outFirst, c.outLast, 2, traceMajor, marks);
            ASSERT_EQ(CCdpProcessToolbox::CdpTopoShift(out, in, elev, c.v, 0.05, 0.0, c.s, c.t0, c.dt), 0);
            for (int32_t p = 0; p < 2; ++p) {
                for (int32_t t = 0; t <= 19; ++t) {
                    std::vector<int16_t> want;
                    for (int32_t i = c.outFirst; i <= c.outLast; ++i) want.push_back(marks(t, i, p));
                    DefinedShift(TraceOf(in, t, p), want, c.v, c.s, c.t0, c.dt, 0.05 - height(t, p));
                    ASSERT_EQ(TraceOf(out, t, p), want) << "trace " << t << " plane " << p;
                }
            }
            MeboDataPtrRelease(&in);
            MeboDataPtrRelease(&out);
        }
    }
    MeboDataPtrRelease(&elev);
}

TEST(TopoShift, ElevationCoverageAndRefusals) {
    MeboDataPtr in = TraceBuffer(0, 9, 0, 59, 1, true, TraceProfile);
    MeboDataPtr out = FilledTraces(0, 9, 0, 59, -9);
    const std::vector<int16_t> untouched(60, -9);
    // Elevations for traces 4..12 only: traces 0..3 are not written.
    MeboDataPtr part = Elevations(4, 12, 1, [](int32_t, int32_t) { return 0.0; });
    ASSERT_EQ(CCdpProcessToolbox::CdpTopoShift(out, in, part, 0.1, 0.0, 0.0, 0.5, 10.5, 0.4), 0);
    EXPECT_EQ(TraceOf(out, 3), untouched);
    EXPECT_NE(TraceOf(out, 4), untouched);
    // A trace whose elevation is not a number is not written.
    MeboDataPtr holes = Elevations(0, 9, 1, [](int32_t t, int32_t) { return t == 2 ? std::nan("") : 0.0; });
    MeboDataPtr out2 = FilledTraces(0, 9, 0, 59, -9);
    ASSERT_EQ(CCdpProcessToolbox::CdpTopoShift(out2, in, holes, 0.1, 0.0, 0.0, 0.5, 10.5, 0.4), 0);
    EXPECT_EQ(TraceOf(out2, 2), untouched);
    EXPECT_EQ(TraceOf(out2, 5), TraceOf(out, 5));
    // Elevations that are not doubles, 32-bit samples, empty buffers, bad
    // geometry, elevations for other traces.
    MeboDataPtr shorts = FilledTraces(0, 9, 0, 0, 0);
    EXPECT_EQ(CCdpProcessToolbox::CdpTopoShift(out, in, shorts, 0.1, 0.0, 0.0, 0.5, 10.5, 0.4), -3);
    MeboDataPtr wide, empty;
    MeboDataPtrClear(&wide);
    MeboDataPtrClear(&empty);
    MeboDataPtrAllocate(&wide, 4, 0, 9, 0, 59, 0, 0, 1);
    EXPECT_EQ(CCdpProcessToolbox::CdpTopoShift(wide, in, part, 0.1, 0.0, 0.0, 0.5, 10.5, 0.4), -3);
    EXPECT_EQ(CCdpProcessToolbox::CdpTopoShift(empty, in, part, 0.1, 0.0, 0.0, 0.5, 10.5, 0.4), -1);
    EXPECT_EQ(CCdpProcessToolbox::CdpTopoShift(out, in, part, -0.1, 0.0, 0.0, 0.5, 10.5, 0.4), vantir3::kDepthBadGeometry);
    EXPECT_EQ(CCdpProcessToolbox::CdpTopoShift(out, in, part, 0.1, 0.0, 0.0, 0.5, 10.5, 0.0), vantir3::kDepthBadGeometry);
    MeboDataPtr elsewhere = Elevations(20, 29, 1, [](int32_t, int32_t) { return 0.0; });
    EXPECT_EQ(CCdpProcessToolbox::CdpTopoShift(out, in, elsewhere, 0.1, 0.0, 0.0, 0.5, 10.5, 0.4), -2);
    for (MeboDataPtr* b : {&in, &out, &part, &holes, &out2, &shorts, &wide, &elsewhere}) MeboDataPtrRelease(b);
}

TEST(TopoShift, ProcessParametersElevationsAndData) {
    CCdpProcessToolbox toolbox;
    auto* p = static_cast<CCdpPrcComboShift*>(toolbox.GetProcess(KOL::Str2UID("COMBSH")));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->GetProcessUID(), 288437731u);
    EXPECT_EQ(p->GetParams(), "TPVELO=0.100\nDATUM@=0.000");
    EXPECT_EQ(p->SetParams(p->GetParams().c_str()), 0);
    EXPECT_EQ(p->GetDeclaration(-1), "Topo shift");
    EXPECT_EQ(p->GetDeclaration(0),
              "D\nTPVELO=0.100000\n0.100\n0.010\n0.300\n0.001\n.100\nVelocity\n"
              "Specifies the velocity in metres or feet per ns for Antenna Deseparation.");
    char bound[400];
    std::snprintf(bound, sizeof bound, "%.3f", DBL_MAX);  // printed in full
    EXPECT_EQ(p->GetDeclaration(1), std::string("D\nDATUM@=0.000000\n0.000\n-") + bound + "\n" + bound +
                                        "\n0.001\n0.000\nDatum\nSpecifies the elevation in metres or feet that "
                                        "will correspond to time zero in our cross section.");
    EXPECT_EQ(p->SetParams("DATUM@=-12.5"), 0);
    EXPECT_EQ(p->SetParams("TPVELO=0.5"), 1);
    EXPECT_EQ(p->SetParams("TPVELO=0.125"), 0);
    EXPECT_EQ(p->GetParams(), "TPVELO=0.125\nDATUM@=-12.500");
    EXPECT_EQ(toolbox.SetProcessParamsToDefaults(p), 0);  // re-states the current values
    EXPECT_EQ(p->GetParams(), "TPVELO=0.125\nDATUM@=-12.500");

    TestSource source(8, 90, 1, TraceProfile);
    source.Gpr().sampleInterval = 0.5;
    const ICdpDataSource::SEGprParam& g = source.Gpr();
    p->SetDataSource(&source);
    MeboDataPtr elev = Elevations(0, 7, 1, [](int32_t t, int32_t) { return -12.5 + 0.0625 * (t - 3); });
    EXPECT_EQ(p->SetElevations(&source.Data()), -3);  // 16-bit samples are no elevations
    EXPECT_EQ(p->SetElevations(&elev), 0);
    EXPECT_EQ(elev.storage->refCount, 2u);
    // The process gives what the entry point gives on the same elevations
    // (its output starts cleared), and every trace at the datum without them.
    auto direct = [&](const MeboDataPtr& e) {
        MeboDataPtr want = FilledTraces(0, 7, 0, 89, 0);
        EXPECT_EQ(CCdpProcessToolbox::CdpComboShift(want, source.Data(), e, 0.125, -12.5, 0.0, g.antennaSeparation,
                                                    g.timeZeroSample, g.sampleInterval), 0);
        return want;
    };
    MeboDataPtr none, got;
    MeboDataPtrClear(&none);
    MeboDataPtrClear(&got);
    MeboDataPtr shifted = direct(elev), flat = direct(none);
    ASSERT_EQ(p->GetDataCdp(got, nullptr, nullptr), 0);
    EXPECT_TRUE(p->SourceChanged(nullptr));
    for (int32_t t = 0; t < 8; ++t) ASSERT_EQ(TraceOf(got, t), TraceOf(shifted, t)) << t;
    EXPECT_NE(TraceOf(shifted, 0), TraceOf(flat, 0));
    EXPECT_EQ(p->SetElevations(nullptr), 0);
    EXPECT_FALSE(p->SourceChanged(nullptr));
    EXPECT_EQ(elev.storage->refCount, 1u);
    ASSERT_EQ(p->GetDataCdp(got, nullptr, nullptr), 0);
    for (int32_t t = 0; t < 8; ++t) ASSERT_EQ(TraceOf(got, t), TraceOf(flat, t)) << t;
    // Elevations handed over as auxiliary data are used while none are set.
    p->SetAuxDataCdp(&elev);
    ASSERT_EQ(p->GetDataCdp(got, nullptr, nullptr), 0);
    for (int32_t t = 0; t < 8; ++t) ASSERT_EQ(TraceOf(got, t), TraceOf(shifted, t)) << t;
    source.SetNoGprParam(true);
    EXPECT_EQ(p->GetDataCdp(got, nullptr, nullptr), -201);
    for (MeboDataPtr* b : {&got, &shifted, &flat, &elev}) MeboDataPtrRelease(b);
}

}  // namespace
