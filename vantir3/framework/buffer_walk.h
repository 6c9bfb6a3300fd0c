// The one way every sample algorithm walks its buffers: take local
// references to input and output, narrow both to their common region, walk
// that region plane by plane and trace by trace advancing raw pointers by the
// strides, re-view the caller's output when it reached beyond the input, and
// release the local references. An algorithm supplies only its kernel.
//
// Results of a walk: 0 done; 1 done and the caller's output view narrowed to
// the common region; -1 no common region (or a buffer holds no storage);
// -2 a view could not be set; -3 element sizes differ or are not 16-bit;
// -6 the caller's output view could not be narrowed.
#ifndef VANTIR3_FRAMEWORK_BUFFER_WALK_H_
#define VANTIR3_FRAMEWORK_BUFFER_WALK_H_

#include <cstddef>
#include <cstdint>

#include "vantir3/data/data_buffer.h"

namespace vantir3 {

// One trace (a line along axis 0) of the common region.
struct TraceSpan {
    const int16_t* in;   // first input sample
    int16_t* out;        // first output sample
    ptrdiff_t inStep;    // samples between neighbours along axis 0
    ptrdiff_t outStep;
    int32_t first;       // axis-0 index of the first sample
    int32_t count;       // number of samples
    int32_t trace;       // axis-1 index
    int32_t plane;       // axis-2 index
    bool Contiguous() const { return inStep == 1 && outStep == 1; }
};

// Local references to an input and an output narrowed to their common
// region. The destructor releases them.
class CommonRegion {
public:
    CommonRegion(MeboDataPtr& out, const MeboDataPtr& in);
    ~CommonRegion();
    CommonRegion(const CommonRegion&) = delete;
    CommonRegion& operator=(const CommonRegion&) = delete;

    // The intersection result (>= 0) or the failure code (< 0).
    int Status() const { return status_; }
    const Mebo3DDataAxis& InAxis() const { return in_.axis; }
    const Mebo3DDataAxis& OutAxis() const { return out_.axis; }
    // Number of traces times number of planes of the common region.
    int64_t TraceCount() const;
    // The trace at (trace, plane) of the common region.
    TraceSpan Trace(int32_t trace, int32_t plane) const;
    // Re-views the caller's output when the common region is narrower than
    // it: 1 (or -6 when that fails); otherwise 0.
    int Finish();

private:
    MeboDataPtr& callerOut_;
    MeboDataPtr in_;
    MeboDataPtr out_;
    int status_;
};

// Runs kernel(const TraceSpan&) over every trace of the common region of in
// and out, axis 2 outermost (axis 1 in increasing order within a plane), and
// returns the walk's result. prepare(const CommonRegion&) runs once the common
// region is known, before the first trace: it sizes per-call tables and checks
// further buffers against the region; a negative result from it ends the walk
// with that result before any sample is written (0 goes on).
template <class Prepare, class Kernel>
int WalkTraces(MeboDataPtr& out, const MeboDataPtr& in, Prepare&& prepare, Kernel&& kernel) {
    CommonRegion region(out, in);
    if (region.Status() < 0) return region.Status();
    const int ready = prepare(static_cast<const CommonRegion&>(region));
    if (ready < 0) return ready;
    const Mebo3DDataAxis& a = region.InAxis();
    // (64-bit counters: an index range may end at the largest 32-bit value.)
    for (int64_t p = a.dim[2].min; p <= a.dim[2].max; ++p) {
        for (int64_t t = a.dim[1].min; t <= a.dim[1].max; ++t) {
            kernel(region.Trace(static_cast<int32_t>(t), static_cast<int32_t>(p)));
        }
    }
    return region.Finish();
}

template <class Kernel>
int WalkTraces(MeboDataPtr& out, const MeboDataPtr& in, Kernel&& kernel) {
    return WalkTraces(out, in, [](const CommonRegion&) { return 0; }, kernel);
}

// out[k] = f(in[k]) along one trace; a plain loop over contiguous samples
// where both steps are 1, so that the compiler can vectorise it.
template <class F>
inline void MapTrace(const TraceSpan& s, F&& f) {
    const int32_t n = s.count;
    if (s.Contiguous()) {
        const int16_t* in = s.in;
        int16_t* out = s.out;
        for (int32_t k = 0; k < n; ++k) out[k] = f(in[k]);
    } else {
        const int16_t* in = s.in;
        int16_t* out = s.out;
        for (int32_t k = 0; k < n; ++k, in += s.inStep, out += s.outStep) *out = f(*in);
    }
}

// out[k] = f(in[k], k) along one trace, k counted from the trace's first
// sample of the common region.
template <class F>
inline void MapTraceIndexed(const TraceSpan& s, F&& f) {
    const int32_t n = s.count;
    if (s.Contiguous()) {
        const int16_t* in = s.in;
        int16_t* out = s.out;
        for (int32_t k = 0; k < n; ++k) out[k] = f(in[k], k);
    } else {
        const int16_t* in = s.in;
        int16_t* out = s.out;
        for (int32_t k = 0; k < n; ++k, in += s.inStep, out += s.outStep) *out = f(*in, k);
    }
}

// floor(y) limited to -32767 ... 32767, as a 16-bit sample. NaN gives -32767.
// Written without branches or library calls so that loops over it vectorise;
// for every y it gives exactly the value of the scalar definition.
inline int16_t FloorSaturate16(double y) {
    double c = y >= -32767.0 ? y : -32767.0;
    c = c <= 32767.0 ? c : 32767.0;
    const int32_t t = static_cast<int32_t>(c);  // toward zero
    return static_cast<int16_t>(t - (c < static_cast<double>(t) ? 1 : 0));
}

}  // namespace vantir3

#endif  // VANTIR3_FRAMEWORK_BUFFER_WALK_H_
