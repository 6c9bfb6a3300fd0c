// Dewow: removes the slowly varying low-frequency component ("wow") of each
// trace by subtracting a centred running mean along axis 0. The width of the
// mean is given in transmit pulse widths. The running window
// (vantir3/numeric/running_window.h) is shared with the AGC gain.
#ifndef VANTIR3_PROCESSES_DEWOW_H_
#define VANTIR3_PROCESSES_DEWOW_H_

#include <cstdint>

#include "vantir3/data/data_buffer.h"
#include "vantir3/framework/param_table.h"
#include "vantir3/numeric/running_window.h"
#include "vantir3/processes/trace_kernels.h"

namespace vantir3 {
extern const ProcessDecl kDewowDecl;

// Half width, in samples, of a running window `window` transmit pulse widths
// wide: w = floor(1500 * window / antennaFrequency / sampleInterval) converted
// to a 32-bit integer by truncation, where a value that is not a number or
// lies beyond the 32-bit range (a zero or non-finite frequency or interval)
// converts to the most negative 32-bit value; an even w (zero included) is
// made odd by adding 1; half = (w - 1) / 2, and 0 when that is negative. So a
// zero, negative or unusable frequency or interval gives a one-sample window.
int32_t RunningMeanHalf(double window, double antennaFrequency, double sampleInterval);

// Dewow of one trace of window.Size() samples (x and y must not overlap):
// y[i] = SubtractSaturated16(x[i], m) with m the mean of the window of
// sample i truncated toward zero. Vectorised for every instruction set where
// the window allows (RunningWindow::Vector), with the bits of
// DewowTraceScalar.
void DewowTrace(const RunningWindow& window, const int16_t* x, int16_t* y);
// The same by the scalar formula (the running window's incremental walk).
void DewowTraceScalar(const RunningWindow& window, const int16_t* x, int16_t* y);

// Dewow over the common region of in and out, with a window `window`
// transmit pulse widths wide (only the product of frequency and interval
// counts). With an averaged-trace buffer, the mean of the dewowed traces of
// the region (sum over all traces and planes divided by their number,
// truncated toward zero) is written as max0 - min0 + 1 contiguous 16-bit
// samples from that buffer's cursor, its strides unused; a buffer that has
// no storage or too little room from its cursor to the end of its storage is
// refused with kAuxTooSmall (-8) before any sample is written. Otherwise
// results as for every buffer walk (0, 1, -1, -2, -3, -6); -1 also when the
// per-call scratch memory cannot be had.
int Dewow(MeboDataPtr& out, const MeboDataPtr& in, MeboDataPtr* average, double window,
          double antennaFrequency, double sampleInterval);
}  // namespace vantir3

// The dewow process ("DEWOW@"): Dewow with the auxiliary buffer that
// ProcessData is given as the averaged trace (none through GetDataCdp).
class CCdpPrcDewow : public vantir3::CTableProcess {
public:
    CCdpPrcDewow();
    int ProcessData(MeboDataPtr& out, MeboDataPtr& in, MeboDataPtr* aux) override;

private:
    double* ParamSlot(uint32_t index) override;

    double window_;
};

#endif  // VANTIR3_PROCESSES_DEWOW_H_
