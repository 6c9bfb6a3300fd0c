#include "vantir3/framework/buffer_walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "tests/support/test_source.h"
#include "vantir3/processes/trace_kernels.h"

namespace {

TEST(BufferWalk, FloorSaturateMatchesTheScalarDefinition) {
    const double cases[] = {0.0, -0.0, 0.5, -0.5, 1.0 - 1e-16, -1e-300, 2.9999999, -2.0000001,
                            32766.5, 32767.0, 32767.9, 40000.0, -32766.9, -32767.0, -32768.0,
                            -1e300, 1e300, std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity()};
    for (double y : cases) {
        EXPECT_EQ(vantir3::FloorSaturate16(y), std::clamp(std::floor(y), -32767.0, 32767.0)) << y;
    }
    EXPECT_EQ(vantir3::FloorSaturate16(std::nan("")), -32767);
}

TEST(BufferWalk, VisitsEveryTraceOfTheCommonRegionOnce) {
    auto value = [](int32_t i, int32_t t, int32_t p) { return static_cast<int16_t>(i + 10 * t + 1000 * p); };
    MeboDataPtr in = vantir3_test::MakeBuffer(2, 9, 0, 4, 0, 2, value);
    MeboDataPtr out = vantir3_test::MakeBuffer(0, 7, 1, 6, 1, 2, [](int32_t, int32_t, int32_t) { return 0; });
    std::vector<std::pair<int32_t, int32_t>> seen;
    const int r = vantir3::WalkTraces(out, in, [&](const vantir3::TraceSpan& s) {
        EXPECT_EQ(s.first, 2);
        EXPECT_EQ(s.count, 6);
        EXPECT_TRUE(s.Contiguous());
        EXPECT_EQ(s.in[0], 2 + 10 * s.trace + 1000 * s.plane);
        seen.emplace_back(s.trace, s.plane);
        vantir3::MapTraceIndexed(s, [](int16_t x, int32_t k) { return static_cast<int16_t>(x + k); });
    });
    EXPECT_EQ(r, 1);  // the output reached beyond the input
    EXPECT_EQ(seen.size(), 8u);  // traces 1..4, planes 1..2
    EXPECT_EQ(seen.front(), std::make_pair(1, 1));
    EXPECT_EQ(seen.back(), std::make_pair(4, 2));
    EXPECT_EQ(out.axis.dim[0].min, 2);
    EXPECT_EQ(out.axis.dim[1].max, 4);
    EXPECT_EQ(vantir3_test::SampleAt(out, 7, 3, 2), 7 + 30 + 2000 + 5);
    MeboDataPtrRelease(&in);
    MeboDataPtrRelease(&out);
}

}  // namespace
