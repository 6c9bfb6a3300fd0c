#include "vantir3/framework/buffer_walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "tests/support/test_source.h"
#include "vantir3/processes/trace_kernels.h"

namespace {

#if defined(VANTIR3_HAVE_AVX512_PATH)
// GCC 12 reports the deliberately undefined vectors inside the intrinsics as
// uninitialised.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// The vector FloorSaturate16 of y[0 ... 15].
VANTIR3_TARGET_AVX512 void FloorSaturateSixteen(const double* y, int16_t* out) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                        vantir3::avx512::FloorSaturate16(_mm512_loadu_pd(y), _mm512_loadu_pd(y + 8)));
}
// The vector RoundHalfUp16 of y[0 ... 15].
VANTIR3_TARGET_AVX512 void RoundHalfUpSixteen(const double* y, int16_t* out) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                        vantir3::avx512::RoundHalfUp16(_mm512_loadu_pd(y), _mm512_loadu_pd(y + 8)));
}
#pragma GCC diagnostic pop
#endif

TEST(BufferWalk, FloorSaturateMatchesTheScalarDefinition) {
    const double cases[] = {0.0, -0.0, 0.5, -0.5, 1.0 - 1e-16, -1e-300, 2.9999999, -2.0000001,
                            32766.5, 32767.0, 32767.9, 40000.0, -32766.9, -32767.0, -32768.0,
                            -1e300, 1e300, std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity()};
    for (double y : cases) {
        EXPECT_EQ(vantir3::FloorSaturate16(y), std::clamp(std::floor(y), -32767.0, 32767.0)) << y;
    }
    EXPECT_EQ(vantir3::FloorSaturate16(std::nan("")), -32767);
#if defined(VANTIR3_HAVE_AVX512_PATH)
    // The vector form gives the same for every case, 2^31 and NaN included.
    if (vantir3::ChooseSimdPath() != vantir3::SimdPath::kAvx512) return;
    std::vector<double> all(std::begin(cases), std::end(cases));
    for (double extra : {std::nan(""), 2147483648.0, 2147483647.5, -2147483649.0}) all.push_back(extra);
    all.resize(32, 0.25);
    int16_t got[32];
    FloorSaturateSixteen(all.data(), got);
    FloorSaturateSixteen(all.data() + 16, got + 16);
    for (size_t k = 0; k < all.size(); ++k) EXPECT_EQ(got[k], vantir3::FloorSaturate16(all[k])) << all[k];
#endif
}

TEST(BufferWalk, RoundHalfUpMatchesTheRoundedSum) {
#if defined(VANTIR3_HAVE_AVX512_PATH)
    if (vantir3::ChooseSimdPath() != vantir3::SimdPath::kAvx512) GTEST_SKIP() << "no vector path here";
    // Halves, their neighbours (where 0.5 + y rounds across a power of two),
    // the saturation edges and the ends of the allowed range.
    std::vector<double> all = {0.0, -0.0, 0x1p-1074, -0x1p-1074, 0.5, -0.5, 0x1p29 - 0x1p-23, -0x1p29 + 0x1p-23,
                               32766.5, 32767.5, -32767.5, -32768.5, 1e-300, -1e-300};
    for (double h = 0.5; h < 0x1p28; h = h * 2.0 + 0.5) {
        for (double y : {h, -h}) {
            all.insert(all.end(), {y, std::nextafter(y, 0.0), std::nextafter(y, 2.0 * y)});
        }
    }
    all.resize((all.size() + 15) / 16 * 16, 0.75);
    std::vector<int16_t> got(all.size());
    for (size_t k = 0; k < all.size(); k += 16) RoundHalfUpSixteen(&all[k], &got[k]);
    for (size_t k = 0; k < all.size(); ++k) {
        // The one exception, which callers keep out: 0.5 + y rounds up to 1.
        const int16_t want = all[k] == 0.5 - 0x1p-54 ? 0 : vantir3::FloorSaturate16(0.5 + all[k]);
        EXPECT_EQ(got[k], want) << all[k];
    }
#else
    GTEST_SKIP() << "no vector path here";
#endif
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
