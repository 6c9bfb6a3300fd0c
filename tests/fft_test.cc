#include "vantir3/numeric/fft.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "vantir3/numeric/nr_arrays.h"

namespace {

using namespace numeric;
using cplx = std::complex<double>;

std::vector<double> RandomValues(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<double> v(n);
    for (double& x : v) x = dist(gen);
    return v;
}

// Direct multi-dimensional DFT of row-major complex data with sizes dims.
std::vector<cplx> DirectDft(const std::vector<cplx>& in, const std::vector<size_t>& dims, int isign) {
    const size_t total = in.size();
    std::vector<cplx> out(total);
    std::vector<size_t> k(dims.size()), n(dims.size());
    for (size_t ko = 0; ko < total; ++ko) {
        for (size_t d = dims.size(), r = ko; d-- > 0; r /= dims[d]) k[d] = r % dims[d];
        cplx sum = 0.0;
        for (size_t no = 0; no < total; ++no) {
            for (size_t d = dims.size(), r = no; d-- > 0; r /= dims[d]) n[d] = r % dims[d];
            cplx w = 1.0;
            for (size_t d = 0; d < dims.size(); ++d)
                w *= std::polar(1.0, isign * 2 * M_PI * (k[d] * n[d] % dims[d]) / dims[d]);
            sum += in[no] * w;
        }
        out[ko] = sum;
    }
    return out;
}

TEST(Fourn, MatchesDirectDft) {
    for (int isign : {1, -1})
        for (const std::vector<size_t>& dims :
             std::vector<std::vector<size_t>>{{1}, {2}, {64}, {4, 8}, {16, 2}, {2, 4, 8}, {4, 1, 4}}) {
            size_t total = 1;
            for (size_t n : dims) total *= n;
            std::vector<double> data = RandomValues(2 * total, static_cast<unsigned>(total + isign));
            std::vector<cplx> in(total);
            for (size_t m = 0; m < total; ++m) in[m] = cplx(data[2 * m], data[2 * m + 1]);
            std::vector<unsigned long> nn(1, 0);
            nn.insert(nn.end(), dims.begin(), dims.end());
            fourn(data.data() - 1, nn.data(), static_cast<int>(dims.size()), isign);
            const std::vector<cplx> expected = DirectDft(in, dims, isign);
            for (size_t m = 0; m < total; ++m)
                ASSERT_LT(std::abs(cplx(data[2 * m], data[2 * m + 1]) - expected[m]), 1e-12 * total)
                    << isign << " " << total << " value " << m;
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

// Forward: the direct DFT of the real values (half spectrum, the Nyquist
// plane in speq); forward then inverse: the values times half their number.
TEST(Rlft3, ForwardMatchesDirectDftAndInverseScales) {
    const size_t shapes[][3] = {{4, 4, 16}, {1, 1, 2}, {2, 4, 8}, {4, 2, 16}, {1, 64, 32}};
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
                DirectDft(std::vector<cplx>(values.begin(), values.end()), {s[0], s[1], s[2]}, 1);
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
