// Topographic (combined) shift: converts every trace to equal depth spacing,
// allowing for the antenna separation, and moves it up or down by the
// two-way time that corresponds to the difference between a datum elevation
// and the elevation measured at that trace.
//
// Orientation as for the deseparation: the caller's axis 0 is the trace
// axis, axis 1 the sample axis (resampled), axis 2 a stack of sections.
#ifndef VANTIR3_PROCESSES_TOPO_SHIFT_H_
#define VANTIR3_PROCESSES_TOPO_SHIFT_H_

#include <cstdint>

#include "vantir3/data/data_buffer.h"
#include "vantir3/framework/param_table.h"
#include "vantir3/numeric/depth_plan.h"

// Parameters of a topographic shift.
struct TopoShiftParams {
    double velocity;  // propagation velocity, metres (or feet) per ns
    double datum;     // elevation that lands at time zero, metres (or feet)
    double spare;     // accepted from the static entries, read by nothing
    // Elevation of every trace, in the unit of the datum, as doubles (element
    // size 8): one value per trace (the caller's axis-0 index) and section
    // (axis-2 index); on the caller's axis 1 the value at the view's first
    // index is read. A buffer without storage means no elevations: every
    // trace stands at the datum (shift 0).
    MeboDataPtr elevation;
};

namespace vantir3 {
extern const ProcessDecl kComboShiftDecl;

// The topographic shift of in into out with the velocity, datum and
// elevations of p, antenna separation s (m; its magnitude counts), time-zero
// position t0 (samples, counted from 1) and sample interval dt (ns).
//
// Per trace: the input samples before ground zero (the moment the pulse left
// the transmitter) are copied, the samples from the ground-wave arrival z0 on
// are resampled to depths 0, D, 2D, ... with D = v*dt/2 (rounded linear
// interpolation; the first value ramps from zero), and the result is placed
// shift output samples lower, shift = trunc(2 * (datum - elevation) / v / dt)
// (negative: higher). Samples moved outside the output are dropped; output
// samples not written keep their content; the input is never modified.
// When the converted trace would not fit, up to z0 leading input samples are
// skipped (the room check that GroundZeroSampleIdx reports, in unsigned
// arithmetic). A ground-wave arrival before the first sample counts as the
// first sample. A trace whose elevation is not a number is not written.
//
// The walk covers the traces and sections common to input, output and (when
// given) elevations; other output traces are left alone.
//
// Results: 0 done; -1 a sample buffer holds no storage, or there is no common
// section; -2 no common trace; -3 a sample buffer does not hold 16-bit samples
// or the elevations are not doubles; -4 / -5 a view could not be narrowed;
// kDepthBadGeometry (-7) for a velocity or sample interval that is not a
// positive finite number, or a non-finite separation or time-zero position
// (output untouched).
// With Unwritten::kZero every sample of out's view that is not written is set
// to 0 instead (also when the result is an error).
int TopoShift(MeboDataPtr& out, const MeboDataPtr& in, const TopoShiftParams& p, double s,
              double t0, double dt, Unwritten unwritten = Unwritten::kKeep);
}  // namespace vantir3

// The topographic shift process ("COMBSH"): parameters TPVELO (velocity,
// 0.01 ... 0.3, default 0.1) and DATUM@ (datum, any finite value, default 0).
// Reads timeZeroSample, sampleInterval and antennaSeparation from its source;
// -201 when the source gives none. Samples the shifted trace does not reach
// are 0 in its output (Unwritten::kZero).
class CCdpPrcComboShift : public vantir3::CTableProcess {
public:
    CCdpPrcComboShift();
    ~CCdpPrcComboShift() override;

    // Gives the process the elevations of its traces (see TopoShiftParams):
    // the process keeps a further reference to the host's buffer, so the
    // host may release its own. Null (or a buffer without storage) removes
    // them: every trace then stands at the datum. Returns 0, or -3 (and keeps
    // what it had) for a buffer whose elements are not doubles. Like a
    // parameter change, it makes SourceChanged false for every requester.
    //
    // A host that holds only the exported interface can hand the elevations
    // over with SetAuxDataCdp instead; they are used while no elevations were
    // set here.
    int SetElevations(const MeboDataPtr* elevation);

    int ProcessData(MeboDataPtr& out, MeboDataPtr& in, MeboDataPtr* aux) override;

private:
    double* ParamSlot(uint32_t index) override;

    TopoShiftParams params_;
};

#endif  // VANTIR3_PROCESSES_TOPO_SHIFT_H_
