#include "vantir3/processes/deseparate.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vantir3/framework/status.h"
#include "vantir3/framework/toolbox.h"

double ReflectorDepth(double v, double t, double s) {
    const double vt = v * t;
    const double x = (vt * vt - s * s) / 4.0;
    return x > 0.0 ? std::sqrt(x) : 0.0;
}

namespace {

// Restricts a view's axis-0 range to [range.min, range.max] when it is wider.
bool NarrowAxis0(MeboDataPtr& view, const MeboAxisDim& range) {
    if (view.axis.dim[0].min == range.min && view.axis.dim[0].max == range.max) return true;
    Mebo3DDataAxis request = view.axis;
    request.dim[0].min = range.min;
    request.dim[0].max = range.max;
    return MeboDataPtrSetView(&view, &request, 0) != 0;
}

}  // namespace

int SetBoundingBox(const MeboDataPtr& out, const MeboDataPtr& in, MeboDataPtr& outView,
                   MeboDataPtr& inView, int flags) {
    MeboDataPtrShare(&inView, &in);
    MeboDataPtrShare(&outView, &out);
    if ((flags & 8) != 0 && inView.axis.elemSize != outView.axis.elemSize) return vantir3::kStatusElemSizeMismatch;
    if ((flags & 7) != 0) {
        Mebo3DDataAxis common = inView.axis;
        if (MeboIntersectRanges(&common, &inView.axis, &outView.axis, 0, 1) < 0) return vantir3::kStatusNoCommonRange;
        if (!NarrowAxis0(outView, common.dim[0])) return vantir3::kStatusNarrowOutputFailed;
        if (!NarrowAxis0(inView, common.dim[0])) return vantir3::kStatusNarrowInputFailed;
    }
    return 0;
}

namespace vantir3 {

namespace {
constexpr ParamDecl kDeseparateParams[] = {
    {"VELOC@", 'D', 3, 0.1, 0.003, 0.3, 0.001, ".1\nVelocity\nSignal velocity through medium.\nm/ns"},
};

// The deseparation of one trace of N + 1 input samples (from m) into span + 1
// output places. False when the geometry has no depth scale.
bool BuildDeseparatePlan(DepthPlan& plan, int32_t m, int64_t n, int64_t span, double v, double s,
                         double t0, double dt) {
    plan.rule = DepthRule::kTruncate;
    plan.Clear();
    if (n == 0) return false;
    const double bottom = ReflectorDepth(v, dt * static_cast<double>(n), s);
    const double delta = bottom - ReflectorDepth(v, dt * static_cast<double>(n - 1), s);
    if (!(delta > 0.0) || !std::isfinite(delta)) return false;

    // Room check: drop up to trunc(t0) leading samples so that the converted
    // trace fits.
    const int64_t needed = TruncClamp(bottom / delta + t0, 0, kBigCount);
    int64_t skip = 0;
    if (span < needed) skip = std::min(TruncClamp(t0, 0, kBigCount), needed - span);

    plan.Reserve(span + 1);
    auto full = [&] { return plan.Size() > span; };
    auto step = [&](int64_t prev, int64_t cur, double frac) { plan.Add(prev, cur, frac); };
    // Samples before time zero are copied.
    int64_t i = skip;
    const double timeZero = static_cast<double>(m) + t0;
    for (; i <= n && !full() && static_cast<double>(m + i) < timeZero; ++i) step(i, i, 0.0);
    if (i > n || full()) return true;

    // Resampling with one running bracket: input sample i lies at depth d,
    // the one before at dPrev; output samples lie at delta, 2 delta, ...
    // The first resampled sample stands at depth 0 and again at depth d(1).
    int64_t prev = i;
    double dPrev = 0.0;
    double target = delta;
    for (int64_t k = 1; i <= n; ++k, ++i) {
        const double d = ReflectorDepth(v, (t0 + static_cast<double>(k)) * dt, s);
        // Every pass writes one output sample, so this ends once the output
        // is full even where target + delta no longer grows.
        while (d > target) {
            step(prev, i, (target - dPrev) / (d - dPrev));
            if (full()) return true;
            target = target + delta;
        }
        dPrev = d;
        prev = i;
    }
    return true;
}

// The walk over the traces and sections that two working views share.
bool CommonWalk(DepthWalk& w, const Mebo3DDataAxis& in, const Mebo3DDataAxis& out) {
    Mebo3DDataAxis common = in;
    if (MeboIntersectRanges(&common, &in, &out, 1, 2) < 0) return false;
    w.in = &in;
    w.out = &out;
    w.firstTrace = common.dim[1].min;
    w.lastTrace = common.dim[1].max;
    w.firstPlane = common.dim[2].min;
    w.lastPlane = common.dim[2].max;
    w.shifts = nullptr;
    return true;
}

}  // namespace

const ProcessDecl kDeseparateDecl = {
    "ANDSEP", "DeSeparate", "Normalize data to linear depth intervals (Antenna Deseparation).", 1,
    kDeseparateParams};

int Deseparate(MeboDataPtr& out, const MeboDataPtr& in, double v, double s, double t0, double dt,
               Unwritten unwritten) {
    UnwrittenSamples rest(out, unwritten);
    if (in.storage == nullptr || out.storage == nullptr) return kStatusNoCommonRegion;
    if (in.axis.elemSize != static_cast<int32_t>(sizeof(int16_t)) ||
        out.axis.elemSize != static_cast<int32_t>(sizeof(int16_t))) {
        return kStatusElemSizeMismatch;
    }
    if (!(v > 0.0) || !std::isfinite(v) || !(dt > 0.0) || !std::isfinite(dt) || !std::isfinite(s) ||
        !(t0 >= 0.0) || !std::isfinite(t0)) {
        return kDepthBadGeometry;
    }
    WorkingViews<2> views;
    MeboDataPtr& outView = views.view[0];
    MeboDataPtr& inView = views.view[1];
    const int rc = SetBoundingBox(out, in, outView, inView, 0);
    if (rc < 0) {
        std::fputs("Problem setting bounding box\n", stderr);
        return rc;
    }
    // From here working axis 0 is the sample axis, axis 1 the trace axis.
    MeboDataPtrSwapAxes(&inView, 0, 1);
    MeboDataPtrSwapAxes(&outView, 0, 1);
    DepthWalk walk;
    if (!CommonWalk(walk, inView.axis, outView.axis)) return kStatusNoCommonRegion;

    const int32_t m = inView.axis.dim[0].min;
    const int64_t n = int64_t{inView.axis.dim[0].max} - m;
    const int64_t span = int64_t{outView.axis.dim[0].max} - outView.axis.dim[0].min;
    DepthPlan plan;
    int status = 0;
    if (!BuildDeseparatePlan(plan, m, n, span, v, s, t0, dt)) {
        // No depth scale: pass the traces through unchanged.
        plan.Clear();
        for (int64_t r = 0; r <= std::min(n, span); ++r) plan.Add(r, r, 0.0);
        status = kDepthNotConverted;
    }
    rest.Ready(walk);
    ApplyDepthPlan(plan, walk);
    return status;
}

}  // namespace vantir3

CCdpPrcDeSeparate::CCdpPrcDeSeparate() : CTableProcess(vantir3::kDeseparateDecl) { SetDefaults(); }

double* CCdpPrcDeSeparate::ParamSlot(uint32_t) { return &velocity_; }

int CCdpPrcDeSeparate::ProcessData(MeboDataPtr& out, MeboDataPtr& in, MeboDataPtr*) {
    const SEGprParam* gpr = GprParamPtr();
    if (gpr == nullptr) return vantir3::kStatusNoGprParam;
    return vantir3::Deseparate(out, in, velocity_, gpr->antennaSeparation, gpr->timeZeroSample,
                               gpr->sampleInterval, vantir3::Unwritten::kZero);
}

int CCdpProcessToolbox::CdpDeseparate(MeboDataPtr& out, const MeboDataPtr& in, double velocity,
                                      double antennaSeparation, double timeZeroSample,
                                      double sampleInterval) {
    return vantir3::Deseparate(out, in, velocity, antennaSeparation, timeZeroSample, sampleInterval);
}
