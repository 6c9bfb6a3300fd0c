#include "vantir3/numeric/scale_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "tests/support/simd_targets.h"

namespace {

using vantir3_test::ForEachSimdTarget;

int16_t Reference(int16_t x, double g) {
    const double y = std::floor(0.5 + g * static_cast<double>(x));
    return std::isnan(y) ? -32767 : static_cast<int16_t>(std::clamp(y, -32767.0, 32767.0));
}

TEST(ScaleKernels, EveryInstructionSetGivesTheScalarBitsForEverySample) {
    std::vector<int16_t> in(65536 + 13);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<int16_t>(static_cast<int>(i % 65536) - 32768);
    const int32_t n = static_cast<int32_t>(in.size());
    std::vector<int16_t> scalar(in.size()), vec(in.size());
    // Factors whose products land on and next to the .5 boundaries, the
    // edges of the moderate range and beyond it, up to products beyond 2^31,
    // infinite ones and NaN (from an infinite factor times 0).
    const double factors[] = {1.0, 0.5, 2.5, 100.0, 0.01, 1.37, 1.0 / 3.0, 32767.0, 1e-300, 0.999999999, -0.5,
                              std::nextafter(0.5, 0.0), 0x1p13, -0x1p13, std::nextafter(0x1p13, 1e9), 0.0, -0.0,
                              65536.0, -65537.5, 1e300, HUGE_VAL, -HUGE_VAL, std::nan("")};
    std::vector<std::vector<int16_t>> want;
    for (double g : factors) {
        vantir3::ScaleSamplesScalar(in.data(), scalar.data(), n, g, nullptr);
        for (int32_t k = 0; k < n; k += 997) ASSERT_EQ(scalar[k], Reference(in[k], g)) << g;
        want.push_back(scalar);
    }
    EXPECT_GE(ForEachSimdTarget([&] {
                  for (size_t i = 0; i < want.size(); ++i) {
                      vantir3::ScaleSamples(in.data(), vec.data(), n, factors[i]);
                      ASSERT_EQ(vec, want[i]) << factors[i];
                  }
              }),
              2);
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
        ForEachSimdTarget([&] {
            vantir3::ScaleSamplesByTable(in.data(), vec.data(), n, gains.data(), moderate);
            EXPECT_EQ(vec, scalar);
        });
        for (int32_t k = 0; k < n; k += 991) EXPECT_EQ(scalar[k], Reference(in[k], gains[k]));
    }
    // A table with infinite and NaN factors among moderate ones.
    gains[5] = HUGE_VAL, gains[40] = std::nan(""), gains[77] = -1e300;
    vantir3::ScaleSamplesScalar(in.data(), scalar.data(), n, 0.0, gains.data());
    ForEachSimdTarget([&] {
        vantir3::ScaleSamplesByTable(in.data(), vec.data(), n, gains.data(), false);
        EXPECT_EQ(vec, scalar);
    });
    // Short and odd lengths leave the samples after n alone, in place too,
    // for the integer, the moderate and the table paths.
    ForEachSimdTarget([&] {
        for (int32_t len : {0, 1, 7, 15, 17, 21, 33}) {
            for (double g : {2.0, 1.37, -1.0}) {
                std::vector<int16_t> buf(in.begin(), in.begin() + 40);
                if (g < 0) {
                    vantir3::ScaleSamplesByTable(buf.data(), buf.data(), len, gains.data() + 100, true);
                } else {
                    vantir3::ScaleSamples(buf.data(), buf.data(), len, g);
                }
                for (int k = 0; k < len; ++k) EXPECT_EQ(buf[k], Reference(in[k], g < 0 ? gains[100 + k] : g)) << len;
                for (int k = len; k < 40; ++k) EXPECT_EQ(buf[k], in[k]) << len;
            }
        }
    });
}

// Factors with two decimals, whose products are often exact halves in
// decimal but not quite in binary (1.37 * 50 = 68.5), on every instruction
// set, for every sample: the moderate rounding must agree with the rounded
// sum 0.5 + g x and its floor even there.
TEST(ScaleKernels, DecimalFactorsGiveTheScalarBitsForEverySample) {
    std::vector<int16_t> in(65536);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<int16_t>(static_cast<int>(i) - 32768);
    const int32_t n = static_cast<int32_t>(in.size());
    std::vector<double> factors;
    for (int k = 50; k <= 300; ++k) factors.push_back(k / 100.0);
    for (int k = 301; k <= 819200; k += 16411) factors.push_back(-k / 100.0);
    std::vector<std::vector<int16_t>> want;
    std::vector<int16_t> scalar(in.size()), vec(in.size());
    for (double g : factors) {
        ASSERT_TRUE(vantir3::ModerateGain(g)) << g;
        vantir3::ScaleSamplesScalar(in.data(), scalar.data(), n, g, nullptr);
        want.push_back(scalar);
    }
    ForEachSimdTarget([&] {
        for (size_t i = 0; i < factors.size(); ++i) {
            vantir3::ScaleSamples(in.data(), vec.data(), n, factors[i]);
            ASSERT_EQ(vec, want[i]) << factors[i];
        }
        // The same factors from a table, a run of each.
        std::vector<double> gains(in.size());
        for (size_t i = 0; i < gains.size(); ++i) gains[i] = factors[i % factors.size()];
        vantir3::ScaleSamplesScalar(in.data(), scalar.data(), n, 0.0, gains.data());
        vantir3::ScaleSamplesByTable(in.data(), vec.data(), n, gains.data(), true);
        ASSERT_EQ(vec, scalar);
    });
}

// Factors G / 2^k take the integer path: its edges (|G| = 16383, k = 0 and
// 14, the largest product 16383 * -32768 and the sums 2^k + 2G x next to
// 2^31) give the scalar bits on every instruction set for every sample, and
// the factors just beyond them are refused (they take the double path).
TEST(ScaleKernels, DyadicFactorsTakeTheIntegerPathWithTheScalarBits) {
    int32_t twiceG = 0, k = 0;
    const struct {
        double g;
        int32_t twiceG, k;
    } taken[] = {{2.5, 10, 1},           {-2.5, -10, 1},          {0.0, 0, 0},         {-0.0, 0, 0},
                 {16383.0, 32766, 0},    {-16383.0, -32766, 0},   {0x1p-14, 2, 14},    {16383 * 0x1p-14, 32766, 14},
                 {0x1p13, 16384, 0},     {-0.75, -6, 2},          {100.0, 200, 0},     {1.0, 2, 0}};
    for (const auto& t : taken) {
        ASSERT_TRUE(vantir3::DyadicFactor(t.g, twiceG, k)) << t.g;
        EXPECT_EQ(twiceG, t.twiceG) << t.g;
        EXPECT_EQ(k, t.k) << t.g;
    }
    for (double g : {16384.0, 0x1p-15, 16383.5, 0.1, 1.0 / 3.0, 16385 * 0x1p-14, 1e300, 0x1p-1060, HUGE_VAL,
                     -HUGE_VAL, std::nan("")}) {
        EXPECT_FALSE(vantir3::DyadicFactor(g, twiceG, k)) << g;
    }
    std::vector<int16_t> in(65536 + 9), want(in.size()), got(in.size());
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<int16_t>(static_cast<int>(i * 7 % 65536) - 32768);
    const int32_t n = static_cast<int32_t>(in.size());
    for (const auto& t : taken) {
        vantir3::ScaleSamplesScalar(in.data(), want.data(), n, t.g, nullptr);
        ForEachSimdTarget([&] {
            vantir3::ScaleSamples(in.data(), got.data(), n, t.g);
            ASSERT_EQ(got, want) << t.g;
        });
    }
}

// A table's leading and trailing runs of one factor go through the
// one-factor paths (integer or double), the factors between through the
// table: the runs end where a factor differs (NaN ends a run), cut to whole
// blocks, and every split, also of traces shorter than the table, gives the
// scalar bits.
TEST(ScaleKernels, FactorTablesSplitIntoRunsWithTheScalarBits) {
    // Runs of h and t equal factors around a middle of m others, cut to
    // multiples of 64 samples.
    const double nan = std::nan("");
    const struct {
        int32_t h, m, t;
        double first, last;
        int32_t head, tail;
        bool moderate;
    } cases[] = {
        {0, 0, 0, 1.0, 1.0, 0, 0, true},          {200, 0, 0, 2.5, 2.5, 192, 200, true},
        {130, 10, 70, 1.0, 500.0, 128, 192, true}, {63, 1, 64, 1.0, 2.0, 0, 64, true},
        {64, 1, 63, 1.0, 2.0, 64, 128, true},      {130, 10, 70, nan, 1.0, 0, 192, false},
        {130, 10, 70, 1.0, 0.25, 128, 192, false},
    };
    for (const auto& c : cases) {
        std::vector<double> gains(static_cast<size_t>(c.h), c.first);
        for (int32_t k = 0; k < c.m; ++k) gains.push_back(3.0 + k);
        gains.resize(gains.size() + static_cast<size_t>(c.t), c.last);
        const vantir3::FactorTable t = vantir3::PrepareFactorTable(gains.data(), static_cast<int32_t>(gains.size()));
        EXPECT_EQ(t.head, c.head) << c.h << " " << c.m << " " << c.t;
        EXPECT_EQ(t.tail, c.tail) << c.h << " " << c.m << " " << c.t;
        EXPECT_EQ(t.moderate, c.moderate) << c.h << " " << c.m << " " << c.t;
    }
    // SEC2's shape: 1.0 (integer path), a rise through factors of the double
    // path, then 500 (integer path) or 499.9 (double path); samples within
    // +-64, so that no product saturates and every factor shows.
    std::vector<int16_t> in(1000 + 13);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<int16_t>(static_cast<int>(i * 2654435761u % 129) - 64);
    for (double top : {500.0, 499.9}) {
        std::vector<double> gains(in.size(), top);
        for (size_t i = 0; i < 101; ++i) gains[i] = 1.0;
        for (size_t i = 101; i < 777; ++i) gains[i] = 1.0 + 0.37 * static_cast<double>(i - 100);
        const vantir3::FactorTable table = vantir3::PrepareFactorTable(gains.data(), static_cast<int32_t>(gains.size()));
        ASSERT_EQ(table.head, 64);
        ASSERT_EQ(table.tail, 832);
        for (int32_t n : {static_cast<int32_t>(in.size()), 800, 777, 500, 101, 37, 0}) {
            std::vector<int16_t> want(in.begin(), in.end()), got(want);
            vantir3::ScaleSamplesScalar(in.data(), want.data(), n, 0.0, gains.data());
            ForEachSimdTarget([&] {
                std::copy(in.begin(), in.end(), got.begin());
                vantir3::ScaleSamplesByTable(got.data(), got.data(), n, table);  // in place; nothing past n
                ASSERT_EQ(got, want) << top << " " << n;
            });
        }
    }
}

// Products y = g * x placed exactly (x a power of two) on the edges of the
// moderate rounding: halves, their neighbours (where 0.5 + y rounds across a
// power of two), the saturation edges and the ends of the range (2^28), and
// beyond the range with NaN and infinities for the other rounding.
TEST(ScaleKernels, RoundingEdgesOnEveryInstructionSet) {
    std::vector<double> ys = {0.5, -0.5, 0x1p27, -0x1p27, 32766.5, 32767.5, -32767.5, -32768.5, 0.75, -0.75};
    for (double h = 0.5; h < 0x1p27; h = h * 2.0 + 0.5) {
        for (double y : {h, -h}) ys.insert(ys.end(), {y, std::nextafter(y, 0.0), std::nextafter(y, 2.0 * y)});
    }
    // Moderate products are 0 or at least 1/2 in magnitude.
    ys.erase(std::remove_if(ys.begin(), ys.end(), [](double y) { return std::fabs(y) < 0.5; }), ys.end());
    std::vector<int16_t> x;
    std::vector<double> gains;
    for (double y : ys) {
        const int16_t s = std::fabs(y) >= 0x1p13 ? 16384 : 1;  // keeps the factor in 1/2 ... 2^13
        x.push_back(s);
        gains.push_back(y / s);
    }
    // The largest products, 2^28 and -2^28, and a factor of 0.
    x.insert(x.end(), {-32768, -32768, 3});
    gains.insert(gains.end(), {-0x1p13, 0x1p13, 0.0});
    const int32_t n = static_cast<int32_t>(x.size());
    ASSERT_TRUE(vantir3::ModerateGains(gains.data(), n));
    std::vector<int16_t> want(x.size()), got(x.size());
    for (int32_t k = 0; k < n; ++k) want[k] = Reference(x[k], gains[k]);
    ForEachSimdTarget([&] {
        vantir3::ScaleSamplesByTable(x.data(), got.data(), n, gains.data(), true);
        EXPECT_EQ(got, want);
    });
    for (double extra : {2147483648.0, 2147483647.5, -2147483649.0, 1e300, -HUGE_VAL, std::nan("")}) {
        gains.insert(gains.begin(), extra);
        x.insert(x.begin(), 1);
    }
    want.resize(x.size());
    got.resize(x.size());
    for (size_t k = 0; k < x.size(); ++k) want[k] = Reference(x[k], gains[k]);
    ForEachSimdTarget([&] {
        vantir3::ScaleSamplesByTable(x.data(), got.data(), static_cast<int32_t>(x.size()), gains.data(), false);
        EXPECT_EQ(got, want);
    });
}

}  // namespace
