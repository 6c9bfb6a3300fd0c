#include "vantir3/numeric/fft.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <functional>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/simd_targets.h"
#include "vantir3/numeric/nr_arrays.h"
#include "vantir3/numeric/simd_path.h"

namespace {

using namespace numeric;
using vantir3_test::ForEachSimdTarget;
using cplx = std::complex<double>;

std::vector<double> RandomValues(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<double> v(n);
    for (double& x : v) x = dist(gen);
    return v;
}

// Direct multi-dimensional DFT of row-major complex data with sizes
// nn[1 ...], the last fastest (nn[0] unused, as for fourn).
std::vector<cplx> DirectDft(const std::vector<cplx>& in, const std::vector<unsigned long>& nn, int isign) {
    const size_t total = in.size(), nd = nn.size() - 1;
    std::vector<cplx> out(total);
    std::vector<size_t> k(nn.size()), n(nn.size());
    for (size_t ko = 0; ko < total; ++ko) {
        for (size_t d = nd, r = ko; d > 0; r /= nn[d], --d) k[d] = r % nn[d];
        for (size_t no = 0; no < total; ++no) {
            for (size_t d = nd, r = no; d > 0; r /= nn[d], --d) n[d] = r % nn[d];
            cplx w = 1.0;
            for (size_t d = 1; d <= nd; ++d) w *= std::polar(1.0, isign * 2 * M_PI * (k[d] * n[d] % nn[d]) / nn[d]);
            out[ko] += in[no] * w;
        }
    }
    return out;
}

TEST(Fourn, MatchesDirectDft) {
    ForEachSimdTarget([] {
        for (int isign : {1, -1})
            for (std::vector<unsigned long> nn : std::vector<std::vector<unsigned long>>{
                     {0, 1}, {0, 2}, {0, 64}, {0, 4, 8}, {0, 16, 2}, {0, 2, 4, 8}, {0, 4, 1, 4}}) {
                const size_t total = std::accumulate(nn.begin() + 1, nn.end(), size_t{1}, std::multiplies<>());
                std::vector<double> data = RandomValues(2 * total, static_cast<unsigned>(total + isign));
                std::vector<cplx> in(total);
                for (size_t m = 0; m < total; ++m) in[m] = cplx(data[2 * m], data[2 * m + 1]);
                fourn(data.data() - 1, nn.data(), static_cast<int>(nn.size() - 1), isign);
                const std::vector<cplx> want = DirectDft(in, nn, isign);
                for (size_t m = 0; m < total; ++m)
                    ASSERT_LT(std::abs(cplx(data[2 * m], data[2 * m + 1]) - want[m]), 1e-12 * total)
                        << isign << " " << total << " value " << m;
            }
    });
}

// Sizes at which the columns are transformed in several blocks: the 2-D
// transform equals 1-D transforms of the rows and then of the columns bit for
// bit (the arithmetic per value does not depend on the blocking), and forward
// then inverse multiplies by the number of values.
TEST(Fourn, LargeTransformsAreSeparableAndInvertible) {
    for (unsigned long rows : {4096ul, 2ul}) {
        const unsigned long cols = 131072 / rows;
        std::vector<double> data = RandomValues(2 * rows * cols, static_cast<unsigned>(rows)), ref = data;
        std::vector<double> column(2 * rows);
        unsigned long nn[3] = {0, rows, cols}, len[2] = {0, cols};
        fourn(data.data() - 1, nn, 2, -1);
        for (size_t r = 0; r < rows; ++r) fourn(ref.data() + 2 * r * cols - 1, len, 1, -1);
        len[1] = rows;
        for (size_t c = 0; c < cols; ++c) {
            for (size_t r = 0; r < rows; ++r) std::copy_n(&ref[2 * (r * cols + c)], 2, &column[2 * r]);
            fourn(column.data() - 1, len, 1, -1);
            for (size_t r = 0; r < rows; ++r) std::copy_n(&column[2 * r], 2, &ref[2 * (r * cols + c)]);
        }
        EXPECT_TRUE(ref == data) << rows << "x" << cols;
    }
    unsigned long nn[4] = {0, 2, 2048, 64};
    const std::vector<double> original = RandomValues(2 * 2 * 2048 * 64, 7);
    std::vector<double> data = original;
    fourn(data.data() - 1, nn, 3, 1);
    fourn(data.data() - 1, nn, 3, -1);
    for (size_t i = 0; i < data.size(); i += 97) EXPECT_NEAR(data[i], original[i] * 262144, 1e-8);
}

// Forward: the direct DFT of the real values (half spectrum, the Nyquist
// plane in speq); forward then inverse: the values times half their number.
TEST(Rlft3, ForwardMatchesDirectDftAndInverseScales) {
    const size_t shapes[][3] = {{4, 4, 16}, {1, 1, 2}, {2, 4, 8}, {4, 2, 16}, {1, 64, 32}};
    ForEachSimdTarget([&] {
        for (const auto& s : shapes) {
            const size_t n = s[0] * s[1] * s[2];
            SCOPED_TRACE(std::to_string(s[0]) + "x" + std::to_string(s[1]) + "x" + std::to_string(s[2]));
            const std::vector<double> values = RandomValues(n, static_cast<unsigned>(n));
            double*** t = f3tensor(1, s[0], 1, s[1], 1, s[2]);
            double** speq = matrix(1, s[0], 1, 2 * s[1]);
            std::copy(values.begin(), values.end(), &t[1][1][1]);
            rlft3(t, speq, s[0], s[1], s[2], 1);
            if (n <= 256) {
                const std::vector<cplx> want =
                    DirectDft(std::vector<cplx>(values.begin(), values.end()), {0, s[0], s[1], s[2]}, 1);
                for (size_t i = 0; i < n; ++i) {
                    const size_t f1 = i / (s[1] * s[2]), f2 = i / s[2] % s[1], k = i % s[2];
                    if (k > s[2] / 2) continue;
                    const double* got = k < s[2] / 2 ? &t[f1 + 1][f2 + 1][2 * k + 1] : &speq[f1 + 1][2 * f2 + 1];
                    EXPECT_LT(std::abs(cplx(got[0], got[1]) - want[i]), 1e-12) << f1 << " " << f2 << " " << k;
                }
            }
            rlft3(t, speq, s[0], s[1], s[2], -1);
            for (size_t i = 0; i < n; ++i) EXPECT_NEAR((&t[1][1][1])[i], values[i] * (n / 2), 1e-11 * n);
            free_matrix(speq, 1, s[0], 1, 2 * s[1]);
            free_f3tensor(t, 1, s[0], 1, s[1], 1, s[2]);
        }
    });
}

// The transforms of several shapes (fourn's, then rlft3's forward and
// inverse), one after another in one array.
std::vector<double> TransformsOf(const std::vector<double>& values) {
    std::vector<double> out;
    for (std::vector<unsigned long> nn :
         std::vector<std::vector<unsigned long>>{{0, 1024}, {0, 512, 64}, {0, 4, 2, 256}}) {
        const size_t total = std::accumulate(nn.begin() + 1, nn.end(), size_t{1}, std::multiplies<>());
        std::vector<double> data(values.begin(), values.begin() + 2 * total);
        for (int isign : {-1, 1}) {
            fourn(data.data() - 1, nn.data(), static_cast<int>(nn.size() - 1), isign);
            out.insert(out.end(), data.begin(), data.end());
        }
    }
    const size_t n1 = 2, n2 = 64, n3 = 512;
    double*** t = f3tensor(1, n1, 1, n2, 1, n3);
    double** speq = matrix(1, n1, 1, 2 * n2);
    std::copy_n(values.begin(), n1 * n2 * n3, &t[1][1][1]);
    for (int isign : {1, -1}) {
        rlft3(t, speq, n1, n2, n3, isign);
        out.insert(out.end(), &t[1][1][1], &t[1][1][1] + n1 * n2 * n3);
        out.insert(out.end(), &speq[1][1], &speq[1][1] + 2 * n1 * n2);
    }
    free_matrix(speq, 1, n1, 1, 2 * n2);
    free_f3tensor(t, 1, n1, 1, n2, 1, n3);
    return out;
}

// Every instruction set gives exactly the bits of the lowest one compiled in
// (the scalar target where there is one, as on x86-64).
TEST(Fft, EveryTargetGivesTheScalarBits) {
    const std::vector<double> values = RandomValues(2 * 65536, 11);
    int64_t lowest = 0;
    for (int64_t rest = vantir3::SimdTargets(); rest != 0; rest &= rest - 1) lowest = rest & -rest;
    ASSERT_NE(lowest, 0);
    vantir3::ForceSimdTarget(lowest);
    const std::vector<double> want = TransformsOf(values);
    vantir3::ForceSimdTarget(0);
    ForEachSimdTarget([&] {
        const std::vector<double> got = TransformsOf(values);
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); ++i)
            ASSERT_EQ(std::memcmp(&got[i], &want[i], sizeof(double)), 0) << i << ": " << got[i] << " " << want[i];
    });
}

// Complex transforms of every length from 2 to 8192 (one to thirteen
// stages: single, double and triple sweeps in every combination), one, two
// and (up to 1024 points) 64 of them side by side (blocks narrower than a
// vector or of whole vectors; the 64-point transforms across them too), give
// the lowest instruction set's bits on every target, both directions.
TEST(Fourn, EveryLengthGivesTheLowestTargetsBits) {
    const std::vector<double> values = RandomValues(2 * 65536, 5);
    auto transforms = [&] {
        std::vector<double> out;
        for (unsigned long n = 2; n <= 8192; n *= 2) {
            for (unsigned long count : {1ul, 2ul, 64ul}) {
                if (count * n > 65536) continue;  // 64 side by side up to 1024 points
                unsigned long nn[3] = {0, count, n};
                std::vector<double> data(values.begin(), values.begin() + 2 * count * n);
                for (int isign : {1, -1}) {
                    fourn(data.data() - 1, nn, 2, isign);
                    out.insert(out.end(), data.begin(), data.end());
                }
            }
        }
        return out;
    };
    int64_t lowest = 0;
    for (int64_t rest = vantir3::SimdTargets(); rest != 0; rest &= rest - 1) lowest = rest & -rest;
    vantir3::ForceSimdTarget(lowest);
    const std::vector<double> want = transforms();
    vantir3::ForceSimdTarget(0);
    ForEachSimdTarget([&] {
        const std::vector<double> got = transforms();
        ASSERT_EQ(got.size(), want.size());
        ASSERT_EQ(std::memcmp(got.data(), want.data(), want.size() * sizeof(double)), 0);
    });
}

// The separation and merge of packed real transforms (a vector of complex
// values at a time, the mirror's reversed) give the bits of the lowest
// instruction set (value by value) on every target: rows shorter than a
// vector and rows with a remainder, rows that are their own mirrors and
// mirror pairs, both directions, with and without the next pair's rows
// asked for along the way.
TEST(RealFft2D, SplitPairGivesTheLowestTargetsBits) {
    const size_t rows = 4;
    auto split = [&](size_t length, int isign) {
        std::vector<double> x = RandomValues(rows * length, static_cast<unsigned>(length) + 3 * (isign + 1));
        std::vector<double> speq = RandomValues(2 * rows, 17);
        RealFft2D fft(rows, length);
        for (size_t i = 0; i <= rows / 2; ++i) fft.SplitPair(x.data(), speq.data(), i, isign, i % 2 == 0 ? i + 1 : SIZE_MAX);
        x.insert(x.end(), speq.begin(), speq.end());
        return x;
    };
    int64_t lowest = 0;
    for (int64_t rest = vantir3::SimdTargets(); rest != 0; rest &= rest - 1) lowest = rest & -rest;
    for (size_t length = 2; length <= 256; length *= 2) {
        for (int isign : {1, -1}) {
            vantir3::ForceSimdTarget(lowest);
            const std::vector<double> want = split(length, isign);
            vantir3::ForceSimdTarget(0);
            ForEachSimdTarget([&] {
                const std::vector<double> got = split(length, isign);
                ASSERT_EQ(std::memcmp(got.data(), want.data(), want.size() * sizeof(double)), 0)
                    << "length " << length << " sign " << isign;
            });
        }
    }
}

// The column transforms of blocks of columns (copied into the block
// buffer a run of rows at a time when the first stages run on shorter
// runs than the whole column, the last stages' results going straight out)
// give, column by column, the bits of a single transform of that column,
// also with the input limited to a run of rows that starts and ends within
// the buffer's runs (the other rows NaN, taken as +0), the output limited to
// a run of rows and the transforms to the first columns (the rest left as
// they were): columns of 64 to 2048 rows, 13 to 61 of 16 to 64 side by side
// (blocks that end in part of a vector), both directions.
TEST(RealFft2D, ColumnBlocksGiveEachColumnsBits) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (size_t rows : {64, 512, 2048}) {
        for (size_t columns : {16, 64}) {
            const size_t length = 2 * columns, lo = rows / 8 + 3, hi = rows - rows / 4 - 5, taken = columns - 3;
            const std::vector<double> values = RandomValues(rows * length, static_cast<unsigned>(rows + columns));
            for (int isign : {1, -1}) {
                // Each column alone, rows outside lo ... hi - 1 as 0.
                std::vector<double> want(values.size());
                for (size_t c = 0; c < taken; ++c) {
                    std::vector<double> column(2 * rows, 0.0);
                    for (size_t r = lo; r < hi; ++r) std::copy_n(&values[r * length + 2 * c], 2, &column[2 * r]);
                    unsigned long nn[2] = {0, rows};
                    fourn(column.data() - 1, nn, 1, isign);
                    for (size_t r = 0; r < rows; ++r) std::copy_n(&column[2 * r], 2, &want[r * length + 2 * c]);
                }
                ForEachSimdTarget([&] {
                    RealFft2D fft(rows, length);
                    std::vector<double> got = values;
                    for (size_t r = 0; r < rows; ++r) {
                        if (r < lo || r >= hi) std::fill_n(&got[r * length], length, nan);
                    }
                    const std::vector<double> before = got;
                    ColumnPass pass;
                    pass.input = GridRows{lo, hi - lo};
                    pass.output = GridRows{1, rows - 2};
                    pass.columns = taken;
                    fft.ColumnTransforms(got.data(), isign, pass);
                    for (size_t r = 0; r < rows; ++r) {
                        const std::vector<double>& from = r >= 1 && r + 1 < rows ? want : before;
                        const size_t at = r * length;
                        ASSERT_EQ(std::memcmp(&got[at], &from[at], 2 * taken * sizeof(double)), 0)
                            << rows << " rows, " << columns << " columns, sign " << isign << ", row " << r;
                        ASSERT_EQ(std::memcmp(&got[at + 2 * taken], &before[at + 2 * taken], 6 * sizeof(double)), 0);
                    }
                });
            }
        }
    }
}

// The row transforms (the first stage done as the rows are copied in) give
// each row's own transform bits, with the values from `input` on NaN and
// taken as +0: input at a tile's start and within one, below and above half
// the row, and the whole row; 32 (whole vectors of rows) and 7 rows, rows
// of 16 to 512 values, both directions.
TEST(RealFft2D, RowTransformsGiveEachRowsBits) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (size_t n : {16, 32, 512}) {
        for (size_t rows : {7, 32}) {
            for (size_t input : {size_t{3}, n / 2, n / 2 + 5, n}) {
                const std::vector<double> values = RandomValues(2 * n * rows, static_cast<unsigned>(n + input));
                for (int isign : {1, -1}) {
                    std::vector<double> want = values, got = values;
                    for (size_t r = 0; r < rows; ++r) {
                        std::fill(want.begin() + 2 * (r * n + input), want.begin() + 2 * (r + 1) * n, 0.0);
                        std::fill(got.begin() + 2 * (r * n + input), got.begin() + 2 * (r + 1) * n, nan);
                        unsigned long nn[2] = {0, n};
                        fourn(&want[2 * r * n] - 1, nn, 1, isign);
                    }
                    ForEachSimdTarget([&] {
                        std::vector<double> x = got;
                        RealFft2D fft(32, 2 * n);  // rows 0 ... rows - 1 of a grid of 32
                        fft.RowTransforms(x.data(), 0, rows, isign, RowValues{input});
                        ASSERT_EQ(std::memcmp(x.data(), want.data(), want.size() * sizeof(double)), 0)
                            << n << " values, " << rows << " rows, input " << input << ", sign " << isign;
                    });
                }
            }
        }
    }
}

// A three-dimensional transform gives the bits of one-dimensional
// transforms along each dimension in turn, the last first: the middle
// dimension's blocks take several neighbouring columns of several slabs.
TEST(Fourn, ThreeDimensionsGiveTheirLinesBits) {
    for (unsigned long rows : {8ul, 512ul, 2048ul}) {
        const unsigned long nn[4] = {0, 2, rows, 4};
        const size_t total = 2 * 4 * rows, stride[4] = {0, 4 * rows, 4, 1};
        const std::vector<double> values = RandomValues(2 * total, static_cast<unsigned>(rows));
        for (int isign : {1, -1}) {
            std::vector<double> want = values;
            for (int dim = 3; dim >= 1; --dim) {
                // Every line along dim: the values whose index along dim varies.
                for (size_t start = 0; start < total; ++start) {
                    if (start / stride[dim] % nn[dim] != 0) continue;
                    std::vector<double> line(2 * nn[dim]);
                    for (size_t k = 0; k < nn[dim]; ++k) std::copy_n(&want[2 * (start + k * stride[dim])], 2, &line[2 * k]);
                    unsigned long n1[2] = {0, nn[dim]};
                    fourn(line.data() - 1, n1, 1, isign);
                    for (size_t k = 0; k < nn[dim]; ++k) std::copy_n(&line[2 * k], 2, &want[2 * (start + k * stride[dim])]);
                }
            }
            ForEachSimdTarget([&] {
                std::vector<double> got = values;
                unsigned long dims[4] = {nn[0], nn[1], nn[2], nn[3]};
                fourn(got.data() - 1, dims, 3, isign);
                ASSERT_EQ(std::memcmp(got.data(), want.data(), want.size() * sizeof(double)), 0) << rows << " " << isign;
            });
        }
    }
}

testing::Matcher<const std::string&> Report(const std::string& text) {
    return testing::Matcher<const std::string&>(
        "Numerical Recipes run-time error...\n" + text + "\n...now exiting to system...\n");
}

TEST(FftDeathTest, RejectsBadInput) {
    double*** t = f3tensor(1, 1, 1, 4, 1, 8);
    double** speq = matrix(1, 1, 1, 4);
    // Rows 1 and 3 of the tensor as a slab of two: right shape, not contiguous.
    double* rows[3] = {nullptr, t[1][1], t[1][3]};
    double** slabs[2] = {nullptr, rows};
    EXPECT_EXIT(rlft3(slabs, speq, 1, 2, 8, 1), testing::ExitedWithCode(1),
                Report("rlft3: problem with dimensions or contiguity of data array\n"));
    // A last length below 2; a length that is not a power of two.
    EXPECT_EXIT(rlft3(t, speq, 1, 2, 1, 1), testing::ExitedWithCode(1),
                Report("rlft3: dimensions must be powers of two, nn3 at least 2"));
    unsigned long nn[3] = {0, 2, 3};
    EXPECT_EXIT(fourn(&t[1][1][1] - 1, nn, 2, 1), testing::ExitedWithCode(1),
                Report("fourn: dimensions must be powers of two"));
    free_f3tensor(t, 1, 1, 1, 4, 1, 8);
    free_matrix(speq, 1, 1, 1, 4);
}

}  // namespace
