// Helpers for the tests of the sample algorithms (gains, dewow, background
// subtraction, envelope, reductions, depth conversions).
#ifndef VANTIR3_TESTS_SUPPORT_TRACE_CHECKS_H_
#define VANTIR3_TESTS_SUPPORT_TRACE_CHECKS_H_

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "tests/support/test_source.h"
#include "vantir3/processes/trace_kernels.h"

namespace vantir3_test {

// A buffer of n0 x n1 x n2 samples (indices from 0), all v.
inline MeboDataPtr Filled(int32_t n0, int32_t n1, int32_t n2, int16_t v) {
    return MakeBuffer(0, n0 - 1, 0, n1 - 1, 0, n2 - 1, [v](int32_t, int32_t, int32_t) { return v; });
}

// A trace-major copy of src viewed with axes 0 and 1 exchanged: the same
// samples at the same indices, with a stride on axis 0.
inline MeboDataPtr Transposed(const MeboDataPtr& src) {
    const MeboAxisDim* d = src.axis.dim;
    MeboDataPtr t = MakeBuffer(d[1].min, d[1].max, d[0].min, d[0].max, d[2].min, d[2].max,
                               [&](int32_t i1, int32_t i0, int32_t i2) { return SampleAt(src, i0, i1, i2); });
    MeboDataPtrSwapAxes(&t, 0, 1);
    return t;
}

// Expects b to hold a's samples everywhere in a's view.
inline void ExpectSameSamples(const MeboDataPtr& a, const MeboDataPtr& b) {
    const MeboAxisDim* d = a.axis.dim;
    for (int32_t i2 = d[2].min; i2 <= d[2].max; ++i2)
        for (int32_t i1 = d[1].min; i1 <= d[1].max; ++i1)
            for (int32_t i0 = d[0].min; i0 <= d[0].max; ++i0)
                ASSERT_EQ(SampleAt(a, i0, i1, i2), SampleAt(b, i0, i1, i2)) << i0 << " " << i1 << " " << i2;
}

// Fetches the whole result of p over source and expects the samples of
// expect; the same source without acquisition parameters then gives -201.
inline void ExpectProcessOutput(CCdpProcess& p, TestSource& source, const MeboDataPtr& expect) {
    p.SetDataSource(&source);
    MeboDataPtr out = Empty();
    EXPECT_EQ(p.GetDataCdp(out, nullptr, nullptr), 0);
    if (out.storage != nullptr) ExpectSameSamples(expect, out);
    source.SetNoGprParam(true);
    EXPECT_EQ(p.GetDataCdp(out, nullptr, nullptr), -201);
    source.SetNoGprParam(false);
    MeboDataPtrRelease(&out);
}

// Buffers in the orientation of the depth conversions: axis 0 the trace,
// axis 1 the sample, axis 2 the section; value(trace, sample, section).
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

// The samples of one trace of a trace-major view, in sample order.
inline std::vector<int16_t> TraceOf(const MeboDataPtr& b, int32_t trace, int32_t section = 0) {
    std::vector<int16_t> v;
    for (int32_t i = b.axis.dim[1].min; i <= b.axis.dim[1].max; ++i) v.push_back(SampleAt(b, trace, i, section));
    return v;
}

}  // namespace vantir3_test

#endif  // VANTIR3_TESTS_SUPPORT_TRACE_CHECKS_H_
