// Background subtraction: removes from every trace an average trace, either
// one that the caller supplies or a running average over a window of traces
// (axis 0 = sample, axis 1 = trace, axis 2 = independent sections). Reached
// through CCdpProcessToolbox::CdpBackgroundSubtract; the process class exists
// but the toolbox never creates it.
#ifndef VANTIR3_PROCESSES_BACKGROUND_SUBTRACT_H_
#define VANTIR3_PROCESSES_BACKGROUND_SUBTRACT_H_

#include <cstdint>

#include "vantir3/data/data_buffer.h"
#include "vantir3/framework/param_table.h"
#include "vantir3/framework/status.h"
#include "vantir3/processes/trace_kernels.h"

namespace vantir3 {
extern const ProcessDecl kBackgroundSubtractDecl;

// Entries beyond a trace's n samples that the vector kernels below read (and
// for the running average, write) in b and average: a vector of 16-bit
// lanes on any target (2048-bit vectors at most).
constexpr int32_t kBackgroundPadding = 128;

// y[k] = SubtractSaturated16(x[k], b[k]) for k < n (x and y may be the same
// array); b holds kBackgroundPadding entries more.
void SubtractTrace(const int16_t* x, const int16_t* b, int16_t* y, int32_t n);

// One trace of the running average: for k < n, average[k] = average[k] +
// (x[k] - average[k]) / window, then y[k] = SubtractSaturated16(x[k],
// average[k] truncated toward zero) (x and y may be the same array); average
// holds kBackgroundPadding entries more, whose values are left undefined.
void RunningBackgroundTrace(const int16_t* x, double* average, double window, int16_t* y, int32_t n);

// The same two by the scalar formulas, which the vector kernels match bit
// for bit on every instruction set (the padding is not used).
void SubtractTraceScalar(const int16_t* x, const int16_t* b, int16_t* y, int32_t n);
void RunningBackgroundTraceScalar(const int16_t* x, double* average, double window, int16_t* y, int32_t n);

// Background subtraction of in into out.
// - With a background buffer, every trace loses the background's samples
//   0, 1, ... read from its minimum corner along its own axis 0 (the window
//   is not used); a background with no storage, an element size other than 2
//   bytes, or fewer samples on axis 0 than a trace of the input is refused
//   with kAuxTooSmall (-8).
// - Without one, and a window W >= 2: within each plane (axis 2) the first W
//   traces lose the mean of those W traces (truncated toward zero); every
//   later trace is first folded into the running average, average +=
//   (trace - average) / W, and then loses it truncated toward zero. W is
//   limited to the number of traces of the input. A window below 2 reads and
//   writes nothing and returns 0.
// The output must cover the input's index ranges (a caller allocates it with
// the input's ranges); otherwise kOutputDoesNotCoverInput (-7) and nothing is
// written. Traces are matched by index, as in every buffer walk: an output
// wider than the input is narrowed to the input's region and the result is
// 1. Otherwise 0 for valid buffers, -1 when a buffer holds no storage or the
// per-call scratch memory cannot be had, -2/-6 when a view cannot be set, -3
// for samples that are not 16-bit.
int BackgroundSubtract(MeboDataPtr& out, const MeboDataPtr& in, const MeboDataPtr* background,
                       int window);
}  // namespace vantir3

// The background subtraction process ("BGSUB@"). Its one parameter, the
// window in traces, is kept as a whole-numbered double and truncated when
// used; ProcessData runs BackgroundSubtract with its auxiliary buffer as the
// background (none through GetDataCdp, hence the running average).
class CCdpPrcBackgroundSubtract : public vantir3::CTableProcess {
public:
    CCdpPrcBackgroundSubtract();
    int ProcessData(MeboDataPtr& out, MeboDataPtr& in, MeboDataPtr* aux) override;
    int Window() const { return static_cast<int>(window_); }

private:
    double* ParamSlot(uint32_t index) override;

    double window_;
};

#endif  // VANTIR3_PROCESSES_BACKGROUND_SUBTRACT_H_
