#include "vantir3/numeric/scale_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

int16_t Reference(int16_t x, double g) {
    return static_cast<int16_t>(std::clamp(std::floor(0.5 + g * static_cast<double>(x)), -32767.0, 32767.0));
}

TEST(ScaleKernels, VectorPathGivesTheScalarBitsForEverySample) {
    std::vector<int16_t> in(65536 + 13);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<int16_t>(static_cast<int>(i % 65536) - 32768);
    const int32_t n = static_cast<int32_t>(in.size());
    std::vector<int16_t> scalar(in.size()), vec(in.size());
    // Factors whose products land on and next to the .5 boundaries, the
    // edges of the moderate range (rounded by one addition) and beyond it.
    for (double g : {1.0, 0.5, 2.5, 100.0, 0.01, 1.37, 1.0 / 3.0, 32767.0, 1e-300, 0.999999999, -0.5,
                     std::nextafter(0.5, 0.0), 0x1p13, -0x1p13, std::nextafter(0x1p13, 1e9), 0.0, -0.0}) {
        vantir3::ScaleSamplesScalar(in.data(), scalar.data(), n, g, nullptr);
        for (int32_t k = 0; k < n; k += 997) ASSERT_EQ(scalar[k], Reference(in[k], g)) << g;
        if (!vantir3::ScaleSamplesVector(in.data(), vec.data(), n, g, nullptr)) GTEST_SKIP() << "no AVX2";
        ASSERT_EQ(vec, scalar) << g;
        vantir3::ScaleSamples(in.data(), vec.data(), n, g);
        ASSERT_EQ(vec, scalar) << g;
    }
    EXPECT_TRUE(vantir3::ModerateGain(-0.5) && vantir3::ModerateGain(0x1p13) && vantir3::ModerateGain(-0.0));
    EXPECT_FALSE(vantir3::ModerateGain(std::nextafter(0.5, 0.0)) || vantir3::ModerateGain(std::nan("")) ||
                 vantir3::ModerateGain(std::nextafter(0x1p13, 1e9)) || vantir3::ModerateGain(HUGE_VAL));
    // Tables: one with a factor below 1/2, then a moderate one, rounded by
    // one addition (sixteenths: many products are exact halves).
    std::vector<double> gains(in.size());
    for (size_t i = 0; i < gains.size(); ++i) gains[i] = 0.25 + 0.001 * static_cast<double>(i % 5000);
    for (bool moderate : {false, true}) {
        if (moderate) {
            for (size_t i = 0; i < gains.size(); ++i) gains[i] = 0.5 + 0.0625 * static_cast<double>(i % 3001);
        }
        ASSERT_EQ(vantir3::ModerateGains(gains.data(), n), moderate);
        vantir3::ScaleSamplesScalar(in.data(), scalar.data(), n, 0.0, gains.data());
        vantir3::ScaleSamplesByTable(in.data(), vec.data(), n, gains.data(), moderate);
        EXPECT_EQ(vec, scalar);
        for (int32_t k = 0; k < n; k += 991) EXPECT_EQ(scalar[k], Reference(in[k], gains[k]));
    }
    // Short and odd lengths leave the samples after n alone, in place too.
    std::vector<int16_t> buf(in.begin(), in.begin() + 40);
    vantir3::ScaleSamples(buf.data(), buf.data(), 21, 2.0);
    for (int k = 0; k < 21; ++k) EXPECT_EQ(buf[k], Reference(in[k], 2.0));
    for (int k = 21; k < 40; ++k) EXPECT_EQ(buf[k], in[k]);
}

}  // namespace
