// Pieces shared by the time-axis kernels (SEC2, AGC and DVL gains, dewow,
// background subtraction): the saturating difference, per-call contiguous
// working copies of strided traces and the capacity check of auxiliary
// buffers (the per-target vector forms are in numeric/sample_vectors-inl.h,
// per-call scratch arrays in numeric/scratch.h, the running window of dewow
// and AGC in numeric/running_window.h).
//
// Every kernel has a scalar path, written as the algorithm is described, and
// vector paths, one source compiled per instruction set, that give exactly
// the same bits; the numeric layer's dispatch picks one per call.
#ifndef VANTIR3_PROCESSES_TRACE_KERNELS_H_
#define VANTIR3_PROCESSES_TRACE_KERNELS_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>

#include "vantir3/data/data_buffer.h"
#include "vantir3/framework/buffer_walk.h"
#include "vantir3/framework/status.h"
#include "vantir3/numeric/scratch.h"

// Signed 16-bit a - b with clamping: the wrapped difference, except that a
// subtraction that wrapped downward gives -32767 (not -32768) and one that
// wrapped upward gives 32767. -32768 still results when nothing wrapped
// (-32767 - 1). Shared by dewow and background subtraction.
inline int16_t SubtractSaturated16(int16_t a, int16_t b) {
    const int16_t r = static_cast<int16_t>(a - b);  // two's-complement wrap
    if (b >= 1 && r >= a) return -32767;
    if (b < 0 && r <= a) return 32767;
    return r;
}

namespace vantir3 {

// Runs f(const int16_t* x, int16_t* y) with the trace's samples as contiguous
// arrays of s.count elements: the trace itself where its step is 1, otherwise
// a copy in inCopy (read before f) or outCopy (written back after f). Both
// copies hold s.count samples. Input and output may be the same samples; with
// separateInput, x is then a copy, for kernels that read input samples after
// writing output samples.
template <class F>
inline void OnContiguousTrace(const TraceSpan& s, int16_t* inCopy, int16_t* outCopy, F&& f,
                              bool separateInput = false) {
    const int16_t* x = s.in;
    int16_t* y = s.outStep == 1 ? s.out : outCopy;
    bool copyIn = s.inStep != 1;
    if (!copyIn && separateInput && y == s.out) {
        const uintptr_t a = reinterpret_cast<uintptr_t>(s.in);
        const uintptr_t b = reinterpret_cast<uintptr_t>(s.out);
        const uintptr_t bytes = sizeof(int16_t) * static_cast<uintptr_t>(s.count);
        copyIn = a < b + bytes && b < a + bytes;
    }
    if (copyIn) {
        const int16_t* p = s.in;
        for (int32_t k = 0; k < s.count; ++k, p += s.inStep) inCopy[k] = *p;
        x = inCopy;
    }
    f(x, y);
    if (y != s.out) {
        int16_t* q = s.out;
        for (int32_t k = 0; k < s.count; ++k, q += s.outStep) *q = y[k];
    }
}

// True when buf has storage and at least `count` 16-bit samples fit between
// its cursor and the end of that storage.
bool HoldsSamplesFromCursor(const MeboDataPtr& buf, int64_t count);

}  // namespace vantir3

#endif  // VANTIR3_PROCESSES_TRACE_KERNELS_H_
