#include "vantir3/numeric/fft.h"

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
    const double a = 2.0 * M_PI * static_cast<double>(num % den) / static_cast<double>(den);
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

// The transform visited stage after stage over the whole array, with the
// same butterflies and twiddle recurrence as the library.
void StageByStageFourn(double* data, const std::vector<size_t>& dims, int isign) {
    size_t total = 1;
    for (size_t n : dims) total *= n;
    size_t inner = 1;
    for (size_t d = dims.size(); d-- > 0;) {
        const size_t n = dims[d], step = 2 * inner, len = step * n;
        for (size_t base = 0; base < 2 * total; base += len) {
            for (size_t i = 0, j = 0; i < n; ++i) {
                if (i < j)
                    for (size_t e = 0; e < step; ++e)
                        std::swap(data[base + i * step + e], data[base + j * step + e]);
                size_t bit = n >> 1;
                for (; bit && (j & bit); bit >>= 1) j ^= bit;
                j |= bit;
            }
        }
        for (size_t half = 1; half < n; half *= 2) {
            const double theta = isign * 6.28318530717959 / static_cast<double>(2 * half);
            const double s = std::sin(0.5 * theta);
            const double wpr = -2.0 * s * s, wpi = std::sin(theta);
            double wr = 1.0, wi = 0.0;
            for (size_t m = 0; m < half; ++m) {
                for (size_t e = 0; e < step; e += 2)
                    for (size_t k1 = m * step + e; k1 < 2 * total; k1 += 2 * half * step) {
                        double* a = data + k1;
                        double* b = a + half * step;
                        const double tr = wr * b[0] - wi * b[1];
                        const double ti = wr * b[1] + wi * b[0];
                        b[0] = a[0] - tr;
                        b[1] = a[1] - ti;
                        a[0] += tr;
                        a[1] += ti;
                    }
                const double w = wr;
                wr = w * wpr - wi * wpi + w;
                wi = wi * wpr + w * wpi + wi;
            }
        }
        inner *= n;
    }
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

TEST(Fourn, BlockedPassesEqualStageByStageWalk) {
    // Large enough for the slower dimensions to be split into column blocks.
    const std::vector<size_t> dims = {2, 4096, 32};
    unsigned long nn[4] = {0, 2, 4096, 32};
    std::vector<double> data = RandomValues(2 * 2 * 4096 * 32, 7);
    std::vector<double> reference = data;

    fourn(data.data() - 1, nn, 3, 1);
    StageByStageFourn(reference.data(), dims, 1);
    size_t mismatches = 0;
    for (size_t i = 0; i < data.size(); ++i) mismatches += data[i] != reference[i];
    EXPECT_EQ(mismatches, 0u);

    // Forward then inverse multiplies by the number of values.
    std::vector<double> original = RandomValues(2 * 2 * 4096 * 32, 7);
    fourn(data.data() - 1, nn, 3, -1);
    for (size_t i = 0; i < data.size(); i += 97) EXPECT_NEAR(data[i], original[i] * 262144, 1e-8);
}

TEST(Rlft3, ForwardMatchesDirectRealDft) {
    const size_t n1 = 2, n2 = 4, n3 = 16;
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

TEST(Rlft3DeathTest, RejectsTensorFromSeparateBlocks) {
    // Rows 1 and 2 of one slab in blocks of their own: right shape, not contiguous.
    double* row1 = numeric::vector(1, 8);
    double* row2 = numeric::vector(1, 8);
    double* rows[3] = {nullptr, row1, row2};
    double** slabs[2] = {nullptr, rows};
    double** speq = matrix(1, 1, 1, 4);
    EXPECT_EXIT(rlft3(slabs, speq, 1, 2, 8, 1), testing::ExitedWithCode(1),
                testing::Matcher<const std::string&>(
                    "Numerical Recipes run-time error...\n"
                    "rlft3: problem with dimensions or contiguity of data array\n\n"
                    "...now exiting to system...\n"));
    free_matrix(speq, 1, 1, 1, 4);
    numeric::free_vector(row1, 1, 8);
    numeric::free_vector(row2, 1, 8);
}

}  // namespace
