// Buffers in the orientation of the depth conversions: axis 0 the trace,
// axis 1 the sample, axis 2 the section.
#ifndef VANTIR3_TESTS_SUPPORT_TRACE_AXIS_BUFFERS_H_
#define VANTIR3_TESTS_SUPPORT_TRACE_AXIS_BUFFERS_H_

#include <cstdint>
#include <functional>
#include <vector>

#include "tests/support/test_source.h"

namespace vantir3_test {

// value(trace, sample, section).
using TraceValue = std::function<int16_t(int32_t, int32_t, int32_t)>;

// The test profile in this orientation.
inline int16_t TraceProfile(int32_t trace, int32_t sample, int32_t section) {
    return ProfileSample(sample, trace, section);
}

// Traces t0..t1 of samples s0..s1 in `sections` sections. traceMajor: storage
// with the traces innermost; otherwise a transposed view of storage with the
// samples innermost.
inline MeboDataPtr TraceBuffer(int32_t t0, int32_t t1, int32_t s0, int32_t s1, int32_t sections,
                               bool traceMajor, const TraceValue& value) {
    if (traceMajor) return MakeBuffer(t0, t1, s0, s1, 0, sections - 1, value);
    MeboDataPtr b = MakeBuffer(s0, s1, t0, t1, 0, sections - 1,
                               [&](int32_t s, int32_t t, int32_t p) { return value(t, s, p); });
    MeboDataPtrSwapAxes(&b, 0, 1);
    return b;
}

// Traces t0..t1 of samples s0..s1, every sample `fill`, trace-major.
inline MeboDataPtr FilledTraces(int32_t t0, int32_t t1, int32_t s0, int32_t s1, int16_t fill) {
    return MakeBuffer(t0, t1, s0, s1, 0, 0, [fill](int32_t, int32_t, int32_t) { return fill; });
}

// The samples of one trace, in sample order.
inline std::vector<int16_t> TraceOf(const MeboDataPtr& b, int32_t trace, int32_t section = 0) {
    std::vector<int16_t> v;
    for (int32_t i = b.axis.dim[1].min; i <= b.axis.dim[1].max; ++i) v.push_back(SampleAt(b, trace, i, section));
    return v;
}

}  // namespace vantir3_test

#endif  // VANTIR3_TESTS_SUPPORT_TRACE_AXIS_BUFFERS_H_
