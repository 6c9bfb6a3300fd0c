#include "vantir3/processes/topo_shift.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "kol_utils/kol_utils.h"
#include "vantir3/framework/status.h"
#include "vantir3/framework/toolbox.h"
#include "vantir3/processes/deseparate.h"

namespace vantir3 {

namespace {
constexpr ParamDecl kComboShiftParams[] = {
    {"TPVELO", 'D', 3, 0.1, 0.01, 0.3, 0.001,
     ".100\nVelocity\nSpecifies the velocity in metres or feet per ns for Antenna Deseparation."},
    {"DATUM@", 'D', 3, 0.0, -DBL_MAX, DBL_MAX, 0.001,
     "0.000\nDatum\nSpecifies the elevation in metres or feet that will correspond to time zero in "
     "our cross section."},
};

bool UsableGeometry(double v, double s, double t0, double dt) {
    return v > 0.0 && std::isfinite(v) && dt > 0.0 && std::isfinite(dt) && std::isfinite(s) &&
           std::isfinite(t0);
}

// The per-call constants of the shift (relative input sample indices).
struct TopoGeometry {
    int64_t groundZero;  // gz: samples before the pulse left the transmitter
    int64_t depthZero;   // z0: the input sample at depth 0
    int64_t skip;        // leading input samples dropped to make room
};

// Constants and room check for an output of span + 1 and an input of n + 1
// samples: gz = trunc(((t0 - 1) dt - s/c) / dt), z0 = trunc(depth-0 sample),
// E = span + trunc(depth(n) / D + t0) - n; when span < E - (z0 - gz),
// skip = min(z0, E - n + (z0 - gz)).
TopoGeometry TopoConstants(int64_t span, int64_t n, double v, double s, double t0, double dt) {
    TopoGeometry g;
    const double separation = std::fabs(s);
    g.groundZero = TruncClamp(((t0 - 1.0) * dt - separation / KOL::kLightSpeed) / dt, -kBigCount, kBigCount);
    g.depthZero = TruncClamp(KOL::Depth2SampleIdx(0.0, v, s, dt, t0), 0, kBigCount);
    const double delta = v * dt / 2.0;
    const int64_t converted = TruncClamp(
        KOL::SampleIdx2Depth(static_cast<double>(n), v, s, dt, t0) / delta + t0, -kBigCount, kBigCount);
    // Unsigned arithmetic: a difference that comes out negative counts as
    // very large. skip never exceeds z0.
    const uint64_t dropped = static_cast<uint64_t>(g.depthZero) - static_cast<uint64_t>(g.groundZero);
    const uint64_t e = static_cast<uint64_t>(span) + static_cast<uint64_t>(converted) - static_cast<uint64_t>(n);
    g.skip = 0;
    if (static_cast<uint64_t>(span) < e - dropped) {
        g.skip = static_cast<int64_t>(
            std::min(static_cast<uint64_t>(g.depthZero), e - static_cast<uint64_t>(n) + dropped));
    }
    return g;
}

// The conversion of one trace: the copied samples skip ... gz-1, then the
// resampled ones. The table pairs input sample skip + k with the depth of
// sample k, from k = z0 on.
void BuildTopoPlan(DepthPlan& plan, const TopoGeometry& g, int64_t n, int64_t span, double v,
                   double s, double t0, double dt) {
    plan.rule = DepthRule::kRound;
    plan.Clear();
    plan.Reserve(span + 1);  // as a rule the steps fill the output (more only when many are copied)
    const int64_t copyEnd = std::min(g.groundZero, n + 1);
    for (int64_t r = g.skip; r < copyEnd; ++r) {
        plan.Add(r, r, 0.0);
    }
    // A trace ends after the step that passes the output's last place, but it
    // always gets at least one resampled step.
    const int64_t copied = plan.Size();
    const int64_t resampled = std::max<int64_t>(1, span - copied + 1);
    const double delta = v * dt / 2.0;
    double tau = 0.0;
    double dPrev = 0.0;  // the depth before sample z0 counts as 0
    int64_t q = 0;
    for (int64_t k = g.depthZero; k + g.skip <= n && q < resampled; ++k) {
        const double d = KOL::SampleIdx2Depth(static_cast<double>(k), v, s, dt, t0);
        if (!std::isfinite(d)) break;
        const int64_t cur = k + g.skip;
        const int64_t prev = k == g.depthZero ? -1 : cur - 1;  // the first value ramps from 0
        for (; d > tau && q < resampled; ++q, tau = tau + delta) {
            plan.Add(prev, cur, (tau - dPrev) / (d - dPrev));
        }
        dPrev = d;
    }
}

// The elevation at (trace, plane) of a working elevation view (axis 1
// traces, axis 2 sections; the first index of axis 0).
double ElevationAt(const Mebo3DDataAxis& e, int32_t trace, int32_t plane) {
    const uint8_t* p = e.base + static_cast<ptrdiff_t>(trace - e.dim[1].min) * e.dim[1].stride +
                       static_cast<ptrdiff_t>(plane - e.dim[2].min) * e.dim[2].stride;
    double value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

}  // namespace

const ProcessDecl kComboShiftDecl = {
    "COMBSH", "Topo shift",
    "Topo shift - applies antenna deseparation, and shifts data up or down according to elevation "
    "information.",
    2, kComboShiftParams};

int TopoShift(MeboDataPtr& out, const MeboDataPtr& in, const TopoShiftParams& p, double s,
              double t0, double dt, Unwritten unwritten) {
    UnwrittenSamples rest(out, unwritten);
    if (in.storage == nullptr || out.storage == nullptr) return kStatusNoCommonRegion;
    if (in.axis.elemSize != static_cast<int32_t>(sizeof(int16_t)) ||
        out.axis.elemSize != static_cast<int32_t>(sizeof(int16_t))) {
        return kStatusElemSizeMismatch;
    }
    const bool elevations = p.elevation.storage != nullptr;
    if (elevations && p.elevation.axis.elemSize != static_cast<int32_t>(sizeof(double))) return kStatusElemSizeMismatch;
    const double v = p.velocity;
    if (!UsableGeometry(v, s, t0, dt)) return kDepthBadGeometry;

    // Views narrowed to the traces common to input, output and elevations.
    WorkingViews<4> views;
    MeboDataPtr& outView = views.view[0];
    MeboDataPtr* inView = &views.view[1];
    MeboDataPtr& elevView = views.view[2];
    int rc = SetBoundingBox(out, in, outView, *inView, 5);
    if (rc < 0) return rc;
    if (elevations) {
        rc = SetBoundingBox(p.elevation, *inView, elevView, views.view[3], 5);
        if (rc < 0) return rc;
        inView = &views.view[3];
    }
    // From here working axis 0 is the sample axis, axis 1 the trace axis.
    MeboDataPtrSwapAxes(inView, 0, 1);
    MeboDataPtrSwapAxes(&outView, 0, 1);
    MeboDataPtrSwapAxes(&elevView, 0, 1);
    Mebo3DDataAxis common = inView->axis;
    if (MeboIntersectRanges(&common, &inView->axis, &outView.axis, 1, 2) < 0) return kStatusNoCommonRegion;
    const Mebo3DDataAxis inAndOut = common;
    if (elevations && MeboIntersectRanges(&common, &inAndOut, &elevView.axis, 1, 2) < 0) return kStatusNoCommonRegion;
    DepthWalk walk{&inView->axis, &outView.axis, common.dim[1].min, common.dim[1].max,
                   common.dim[2].min, common.dim[2].max, nullptr};

    const int64_t n = int64_t{inView->axis.dim[0].max} - inView->axis.dim[0].min;
    const int64_t span = int64_t{outView.axis.dim[0].max} - outView.axis.dim[0].min;
    DepthPlan plan;
    BuildTopoPlan(plan, TopoConstants(span, n, v, s, t0, dt), n, span, v, s, t0, dt);

    rest.Ready(walk);
    if (!elevations) {
        ApplyDepthPlan(plan, walk);
        return 0;
    }
    // With elevations the walk goes a section and a run of traces at a time,
    // their shifts on the stack: a per-call array for every trace (128 KiB
    // for 16384 traces) made the heap grow and shrink back on every call,
    // and the pages of every per-call buffer were faulted in anew.
    constexpr int32_t kChunk = 1024;
    int64_t shifts[kChunk];
    DepthWalk part = walk;
    part.shifts = shifts;
    // (64-bit counters: the index ranges may end at the largest 32-bit value.)
    for (int64_t section = walk.firstPlane; section <= walk.lastPlane; ++section) {
        const int32_t plane = static_cast<int32_t>(section);
        part.firstPlane = part.lastPlane = plane;
        for (int64_t first = walk.firstTrace; first <= walk.lastTrace; first += kChunk) {
            const int32_t count = static_cast<int32_t>(std::min<int64_t>(kChunk, walk.lastTrace - first + 1));
            part.firstTrace = static_cast<int32_t>(first);
            part.lastTrace = static_cast<int32_t>(first + (count - 1));
            for (int32_t k = 0; k < count; ++k) {
                const double h = p.datum - ElevationAt(elevView.axis, part.firstTrace + k, plane);
                const double samples = KOL::FlightTime2SampleIdx(2.0 * h / v, 0.0, dt, 0.0);
                // Not a number: far below the output, so nothing is written.
                shifts[k] = std::isnan(samples) ? kBigCount : TruncClamp(samples, -kBigCount, kBigCount);
            }
            ApplyDepthPlan(plan, part);
        }
    }
    return 0;
}

}  // namespace vantir3

CCdpPrcComboShift::CCdpPrcComboShift() : CTableProcess(vantir3::kComboShiftDecl), params_() {
    MeboDataPtrClear(&params_.elevation);
    SetDefaults();
}

CCdpPrcComboShift::~CCdpPrcComboShift() { MeboDataPtrRelease(&params_.elevation); }

double* CCdpPrcComboShift::ParamSlot(uint32_t index) {
    return index == 0 ? &params_.velocity : &params_.datum;
}

int CCdpPrcComboShift::SetElevations(const MeboDataPtr* elevation) {
    if (elevation != nullptr && elevation->storage != nullptr &&
        elevation->axis.elemSize != static_cast<int32_t>(sizeof(double))) {
        return vantir3::kStatusElemSizeMismatch;
    }
    if (elevation != nullptr && elevation->storage != nullptr) {
        MeboDataPtrShare(&params_.elevation, elevation);
    } else {
        MeboDataPtrRelease(&params_.elevation);
    }
    CCdpProcess::SetParams("");
    return 0;
}

int CCdpPrcComboShift::ProcessData(MeboDataPtr& out, MeboDataPtr& in, MeboDataPtr*) {
    const SEGprParam* gpr = GprParamPtr();
    if (gpr == nullptr) return vantir3::kStatusNoGprParam;
    TopoShiftParams p = params_;  // a byte copy; params_ keeps the reference
    if (p.elevation.storage == nullptr && GetAuxDataCdp()->storage != nullptr) p.elevation = *GetAuxDataCdp();
    return vantir3::TopoShift(out, in, p, gpr->antennaSeparation, gpr->timeZeroSample,
                              gpr->sampleInterval, vantir3::Unwritten::kZero);
}

int CCdpProcessToolbox::CdpTopoShift(MeboDataPtr& out, const MeboDataPtr& in,
                                     const MeboDataPtr& elevation, double velocity, double datum,
                                     double spare, double antennaSeparation, double timeZeroSample,
                                     double sampleInterval) {
    const TopoShiftParams p{velocity, datum, spare, elevation};
    return vantir3::TopoShift(out, in, p, antennaSeparation, timeZeroSample, sampleInterval);
}

int CCdpProcessToolbox::CdpComboShift(MeboDataPtr& out, const MeboDataPtr& in,
                                      const MeboDataPtr& elevation, double velocity, double datum,
                                      double spare, double antennaSeparation,
                                      double timeZeroSample, double sampleInterval) {
    return CdpTopoShift(out, in, elevation, velocity, datum, spare, antennaSeparation, timeZeroSample,
                        sampleInterval);
}

unsigned long CCdpProcessToolbox::GroundZeroSampleIdx(unsigned long outSpan, unsigned long inSpan,
                                                      double velocity, double antennaSeparation,
                                                      double timeZeroSample, double sampleInterval) {
    if (!vantir3::UsableGeometry(velocity, antennaSeparation, timeZeroSample, sampleInterval)) return 0;
    const int64_t out = static_cast<int64_t>(std::min<unsigned long>(outSpan, vantir3::kBigCount));
    const int64_t in = static_cast<int64_t>(std::min<unsigned long>(inSpan, vantir3::kBigCount));
    const vantir3::TopoGeometry g =
        vantir3::TopoConstants(out, in, velocity, antennaSeparation, timeZeroSample, sampleInterval);
    return static_cast<unsigned long>(g.depthZero - g.skip);
}
