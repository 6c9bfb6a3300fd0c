#include "vantir3/numeric/fft.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "vantir3/numeric/nr_arrays.h"

namespace {

using cplx = std::complex<double>;
constexpr double kPi = 3.14159265358979323846;
using numeric::f3tensor;
using numeric::fourn;
using numeric::free_f3tensor;
using numeric::free_matrix;
using numeric::matrix;
using numeric::rlft3;

std::vector<double> RandomValues(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<double> v(n);
    for (double& x : v) x = dist(gen);
    return v;
}

// exp(isign * 2 pi i * num / den) with the exponent reduced modulo den.
cplx Root(int isign, uint64_t num, uint64_t den) {
    const double a = 2.0 * kPi * static_cast<double>(num % den) / static_cast<double>(den);
    return cplx(std::cos(a), isign * std::sin(a));
}

// Direct multi-dimensional DFT of row-major complex data with sizes dims.
std::vector<cplx> DirectDft(const std::vector<cplx>& in, const std::vector<size_t>& dims,
                            int isign) {
    const size_t total = in.size();
    std::vector<cplx> out(total);
    std::vector<size_t> k(dims.size()), n(dims.size());
    for (size_t ko = 0; ko < total; ++ko) {
        for (size_t d = dims.size(), r = ko; d-- > 0; r /= dims[d]) k[d] = r % dims[d];
        cplx sum = 0.0;
        for (size_t no = 0; no < total; ++no) {
            for (size_t d = dims.size(), r = no; d-- > 0; r /= dims[d]) n[d] = r % dims[d];
            cplx w = 1.0;
            for (size_t d = 0; d < dims.size(); ++d) w *= Root(isign, k[d] * n[d], dims[d]);
            sum += in[no] * w;
        }
        out[ko] = sum;
    }
    return out;
}

void ExpectFournMatchesDft(std::vector<size_t> dims, int isign) {
    size_t total = 1;
    for (size_t n : dims) total *= n;
    std::vector<double> data = RandomValues(2 * total, static_cast<unsigned>(total + isign));
    std::vector<cplx> in(total);
    for (size_t m = 0; m < total; ++m) in[m] = cplx(data[2 * m], data[2 * m + 1]);
    std::vector<unsigned long> nn(1, 0);
    nn.insert(nn.end(), dims.begin(), dims.end());

    fourn(data.data() - 1, nn.data(), static_cast<int>(dims.size()), isign);
    const std::vector<cplx> expected = DirectDft(in, dims, isign);
    for (size_t m = 0; m < total; ++m) {
        EXPECT_NEAR(data[2 * m], expected[m].real(), 1e-12 * total) << "value " << m;
        EXPECT_NEAR(data[2 * m + 1], expected[m].imag(), 1e-12 * total) << "value " << m;
    }
}

TEST(Fourn, MatchesDirectDft) {
    for (int isign : {1, -1}) {
        SCOPED_TRACE(isign);
        ExpectFournMatchesDft({1}, isign);
        ExpectFournMatchesDft({2}, isign);
        ExpectFournMatchesDft({64}, isign);
        ExpectFournMatchesDft({4, 8}, isign);
        ExpectFournMatchesDft({16, 2}, isign);
        ExpectFournMatchesDft({2, 4, 8}, isign);
        ExpectFournMatchesDft({4, 1, 4}, isign);
    }
}

// A 2-D transform equals 1-D transforms of its rows and then of its columns,
// bit for bit: the arithmetic per value is the same however the columns are
// grouped into blocks.
void ExpectSeparable(unsigned long rows, unsigned long cols) {
    std::vector<double> data = RandomValues(2 * rows * cols, static_cast<unsigned>(rows));
    std::vector<double> reference = data;
    unsigned long nn[3] = {0, rows, cols};
    fourn(data.data() - 1, nn, 2, -1);

    unsigned long row_len[2] = {0, cols};
    for (size_t r = 0; r < rows; ++r) fourn(reference.data() + 2 * r * cols - 1, row_len, 1, -1);
    unsigned long col_len[2] = {0, rows};
    std::vector<double> column(2 * rows);
    size_t mismatches = 0;
    for (size_t c = 0; c < cols; ++c) {
        for (size_t r = 0; r < rows; ++r) {
            column[2 * r] = reference[2 * (r * cols + c)];
            column[2 * r + 1] = reference[2 * (r * cols + c) + 1];
        }
        fourn(column.data() - 1, col_len, 1, -1);
        for (size_t r = 0; r < rows; ++r) {
            mismatches += column[2 * r] != data[2 * (r * cols + c)];
            mismatches += column[2 * r + 1] != data[2 * (r * cols + c) + 1];
        }
    }
    EXPECT_EQ(mismatches, 0u) << rows << "x" << cols;
}

TEST(Fourn, LargeTransformsAreSeparableAndInvertible) {
    // Sizes at which the columns are transformed in several blocks.
    ExpectSeparable(4096, 32);
    ExpectSeparable(2, 65536);

    // Forward then inverse multiplies by the number of values.
    unsigned long nn[4] = {0, 2, 2048, 64};
    const std::vector<double> original = RandomValues(2 * 2 * 2048 * 64, 7);
    std::vector<double> data = original;
    fourn(data.data() - 1, nn, 3, 1);
    fourn(data.data() - 1, nn, 3, -1);
    for (size_t i = 0; i < data.size(); i += 97) EXPECT_NEAR(data[i], original[i] * 262144, 1e-8);
}

TEST(Rlft3, ForwardMatchesDirectRealDft) {
    const size_t n1 = 4, n2 = 4, n3 = 16;
    const std::vector<double> values = RandomValues(n1 * n2 * n3, 3);
    double*** t = f3tensor(1, n1, 1, n2, 1, n3);
    double** speq = matrix(1, n1, 1, 2 * n2);
    std::copy(values.begin(), values.end(), &t[1][1][1]);
    rlft3(t, speq, n1, n2, n3, 1);

    for (size_t f1 = 0; f1 < n1; ++f1)
        for (size_t f2 = 0; f2 < n2; ++f2)
            for (size_t k = 0; k <= n3 / 2; ++k) {
                cplx sum = 0.0;
                for (size_t i = 0; i < values.size(); ++i) {
                    const size_t a = i / (n2 * n3), b = (i / n3) % n2, c = i % n3;
                    sum += values[i] * Root(1, f1 * a, n1) * Root(1, f2 * b, n2) *
                           Root(1, k * c, n3);
                }
                const double* got = k < n3 / 2 ? &t[f1 + 1][f2 + 1][2 * k + 1]
                                               : &speq[f1 + 1][2 * f2 + 1];
                EXPECT_NEAR(got[0], sum.real(), 1e-12) << f1 << " " << f2 << " " << k;
                EXPECT_NEAR(got[1], sum.imag(), 1e-12) << f1 << " " << f2 << " " << k;
            }
    free_matrix(speq, 1, n1, 1, 2 * n2);
    free_f3tensor(t, 1, n1, 1, n2, 1, n3);
}

TEST(Rlft3, ForwardThenInverseScalesByHalfTheSize) {
    const size_t shapes[][3] = {{1, 4, 8}, {1, 1, 2}, {2, 4, 8}, {4, 2, 16}, {1, 64, 32}};
    for (const auto& s : shapes) {
        const size_t n = s[0] * s[1] * s[2];
        SCOPED_TRACE(std::to_string(s[0]) + "x" + std::to_string(s[1]) + "x" +
                     std::to_string(s[2]));
        const std::vector<double> values = RandomValues(n, static_cast<unsigned>(n));
        double*** t = f3tensor(1, s[0], 1, s[1], 1, s[2]);
        double** speq = matrix(1, s[0], 1, 2 * s[1]);
        std::copy(values.begin(), values.end(), &t[1][1][1]);
        rlft3(t, speq, s[0], s[1], s[2], 1);
        rlft3(t, speq, s[0], s[1], s[2], -1);
        const double* x = &t[1][1][1];
        for (size_t i = 0; i < n; ++i) EXPECT_NEAR(x[i], values[i] * (n / 2), 1e-11 * n);
        free_matrix(speq, 1, s[0], 1, 2 * s[1]);
        free_f3tensor(t, 1, s[0], 1, s[1], 1, s[2]);
    }
}

TEST(Rlft3, ConstantInputHasOnlyFrequencyZero) {
    const size_t n1 = 2, n2 = 4, n3 = 8;
    double*** t = f3tensor(1, n1, 1, n2, 1, n3);
    double** speq = matrix(1, n1, 1, 2 * n2);
    std::fill(&t[1][1][1], &t[1][1][1] + n1 * n2 * n3, 2.5);
    rlft3(t, speq, n1, n2, n3, 1);
    EXPECT_NEAR(t[1][1][1], 2.5 * 64, 1e-12);
    const double* x = &t[1][1][1];
    for (size_t i = 1; i < n1 * n2 * n3; ++i) EXPECT_NEAR(x[i], 0.0, 1e-12) << i;
    for (size_t i = 1; i <= n1; ++i)
        for (size_t j = 1; j <= 2 * n2; ++j) EXPECT_NEAR(speq[i][j], 0.0, 1e-12);
    free_matrix(speq, 1, n1, 1, 2 * n2);
    free_f3tensor(t, 1, n1, 1, n2, 1, n3);
}

testing::Matcher<const std::string&> Report(const std::string& text) {
    return testing::Matcher<const std::string&>(
        "Numerical Recipes run-time error...\n" + text + "\n...now exiting to system...\n");
}

TEST(FftDeathTest, RejectsBadInput) {
    // Rows 1 and 2 of one slab in blocks of their own: right shape, not contiguous.
    double* row1 = numeric::vector(1, 8);
    double* row2 = numeric::vector(1, 8);
    double* rows[3] = {nullptr, row1, row2};
    double** slabs[2] = {nullptr, rows};
    double** speq = matrix(1, 1, 1, 4);
    EXPECT_EXIT(rlft3(slabs, speq, 1, 2, 8, 1), testing::ExitedWithCode(1),
                Report("rlft3: problem with dimensions or contiguity of data array\n"));

    // Lengths that are not powers of two.
    double*** t = f3tensor(1, 1, 1, 2, 1, 8);
    EXPECT_EXIT(rlft3(t, speq, 1, 2, 1, 1), testing::ExitedWithCode(1),
                Report("rlft3: dimensions must be powers of two, nn3 at least 2"));
    unsigned long nn[3] = {0, 2, 3};
    EXPECT_EXIT(fourn(&t[1][1][1] - 1, nn, 2, 1), testing::ExitedWithCode(1),
                Report("fourn: dimensions must be powers of two"));

    free_f3tensor(t, 1, 1, 1, 2, 1, 8);
    free_matrix(speq, 1, 1, 1, 4);
    numeric::free_vector(row1, 1, 8);
    numeric::free_vector(row2, 1, 8);
}

}  // namespace
