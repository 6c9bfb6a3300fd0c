// Antenna deseparation: converts traces whose samples are equally spaced in
// two-way travel time into traces whose samples are equally spaced in depth,
// allowing for the distance between transmitter and receiver.
//
// Orientation: these conversions resample along axis 1 of the caller's
// buffers (the sample axis) and step across traces along axis 0; axis 2 is a
// stack of independent sections. Internally the working views have axes 0
// and 1 exchanged, so that "working axis 0" is the sample axis.
//
// The conversion builds a depth plan (vantir3/numeric/depth_plan.h, shared
// with the topographic shift) and applies it to all traces.
#ifndef VANTIR3_PROCESSES_DESEPARATE_H_
#define VANTIR3_PROCESSES_DESEPARATE_H_

#include <cstdint>

#include "vantir3/data/data_buffer.h"
#include "vantir3/framework/param_table.h"
#include "vantir3/framework/status.h"
#include "vantir3/numeric/depth_plan.h"

// Depth of a reflector whose echo arrives after two-way time t (ns) with the
// antennas s metres apart, at velocity v (m/ns): sqrt(((v*t)^2 - s^2) / 4),
// or 0 when that radicand is not positive (v*t <= s, or NaN).
double ReflectorDepth(double v, double t, double s);

// Prepares working views of out and in. outView and inView must hold a
// buffer or be cleared; they become further references to out and in.
// Flags: 8 requires equal element sizes (else -3); any of 1, 2, 4 narrows
// both views to their common axis-0 range (-2 when there is none; -4 / -5
// when the output / input view could not be re-viewed). The caller's buffers
// are not changed. 0 on success. The caller releases both views in every
// case.
int SetBoundingBox(const MeboDataPtr& out, const MeboDataPtr& in, MeboDataPtr& outView,
                   MeboDataPtr& inView, int flags);

namespace vantir3 {
extern const ProcessDecl kDeseparateDecl;

// Converts every trace of in (caller's axis 1 = samples, axis 0 = traces)
// into out, with velocity v (m/ns), antenna separation s (m), time-zero
// position t0 (samples, counted from 1) and sample interval dt (ns). Input
// and output keep their own sample ranges: input samples m..M become output
// samples o..O.
//
// Per trace: the samples before time zero are copied unchanged; from the
// first sample at or after time zero on, the trace is resampled to depths
// D, 2D, 3D, ... where D is the depth spacing of the last two input samples,
// by linear interpolation truncated toward zero. When the converted trace
// would not fit, up to trunc(t0) leading samples are dropped. Output samples
// that the conversion does not reach (input exhausted first) keep their
// content; the input is never modified.
//
// Traces and sections are matched by index: the walk covers the traces and
// sections that input and output have in common, and output traces outside
// them are left alone.
//
// Results: 0 done; kDepthNotConverted when the geometry has no depth scale
// (a single input sample per trace, or v*dt*N <= s so that the depth spacing
// D is not positive): every common trace is then copied unchanged, sample by
// sample from the first, as far as the shorter of the two traces reaches;
// kDepthBadGeometry for unusable numbers (output untouched); -1 a buffer holds
// no storage or input and output share no trace or section; -3 a buffer does
// not hold 16-bit samples.
// With Unwritten::kZero every other sample of out's view is set to 0 instead
// (also when the result is an error), as if out had been cleared first.
int Deseparate(MeboDataPtr& out, const MeboDataPtr& in, double v, double s, double t0, double dt,
               Unwritten unwritten = Unwritten::kKeep);

// Local working views that are released when the holder goes out of scope.
template <int N>
struct WorkingViews {
    MeboDataPtr view[N];
    WorkingViews() {
        for (MeboDataPtr& v : view) MeboDataPtrClear(&v);
    }
    ~WorkingViews() {
        for (MeboDataPtr& v : view) MeboDataPtrRelease(&v);
    }
    WorkingViews(const WorkingViews&) = delete;
    WorkingViews& operator=(const WorkingViews&) = delete;
};

}  // namespace vantir3

// The deseparation process ("ANDSEP"): one parameter, the velocity VELOC@ in
// m/ns (0.003 ... 0.3), set to the declared default 0.1 by the constructor.
// Its declaration ends in a units line ("m/ns"), which the declaration
// parser refuses, so the toolbox's SetProcessParamsToDefaults leaves the
// velocity out of the string it builds and the current value stays.
// Reads timeZeroSample, sampleInterval and antennaSeparation from its
// source; -201 when the source gives none. Samples the conversion does not
// reach are 0 in its output (Unwritten::kZero).
class CCdpPrcDeSeparate : public vantir3::CTableProcess {
public:
    CCdpPrcDeSeparate();
    int ProcessData(MeboDataPtr& out, MeboDataPtr& in, MeboDataPtr* aux) override;

private:
    double* ParamSlot(uint32_t index) override;

    double velocity_;
};

#endif  // VANTIR3_PROCESSES_DESEPARATE_H_
