#include "vantir3/processes/migration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "tests/support/test_source.h"
#include "vantir3/framework/toolbox.h"
#include "vantir3/numeric/fft.h"
#include "vantir3/numeric/nr_arrays.h"

namespace {

using namespace vantir3_test;

MeboDataPtr Section(int32_t samples, int32_t traces, int32_t planes,
                    const std::function<int16_t(int32_t, int32_t, int32_t)>& value) {
    return MakeBuffer(0, samples - 1, 0, traces - 1, 0, planes - 1, value);
}

const auto kZero = [](int32_t, int32_t, int32_t) { return int16_t{0}; };

std::vector<int16_t> Noise(size_t n, unsigned seed, int amplitude) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> dist(-amplitude, amplitude);
    std::vector<int16_t> v(n);
    for (int16_t& x : v) x = static_cast<int16_t>(dist(gen));
    return v;
}

// The section algorithm written out plainly, one grid point at a time, with
// the taper and every wavenumber recomputed per point: the optimised
// migration must give the very same samples.
std::vector<int16_t> PlainStolt(const std::vector<int16_t>& in, int T, int S, double start,
                                double dx, double dt, double v, int taper) {
    const double pi = 3.141592653589795;
    auto w = [&](long n, long N) {
        if (taper < 2) return 1.0;
        if (taper <= 3) return 0.5 + 0.5 * std::cos(2 * pi * n / N);
        return 0.375 + 0.5 * std::cos(2 * pi * n / N) + 0.125 * std::cos(4 * pi * n / N);
    };
    long nt = 1, nx = 1;
    for (int e = 0; e < static_cast<int>(std::trunc(1 + std::log(S) / std::log(2))); ++e) nt *= 2;
    for (int e = 0; e < static_cast<int>(std::trunc(1 + std::log(T) / std::log(2))); ++e) nx *= 2;
    const double df = 2 * (1e6 / (2 * dt)) / nt, dk = 2 * (1 / (2 * dx)) / nx;
    const long offset = (nx - T) / 2, s0 = static_cast<long>(std::trunc(start));
    double*** A = numeric::f3tensor(1, 1, 1, nx, 1, nt);
    double*** B = numeric::f3tensor(1, 1, 1, nx, 1, nt);
    double** speqA = numeric::matrix(1, 1, 1, 2 * nx);
    double** speqB = numeric::matrix(1, 1, 1, 2 * nx);
    for (long i = 1; i <= nx; ++i)
        for (long j = 1; j <= nt; ++j) A[1][i][j] = B[1][i][j] = 0;
    for (long t = 0; t < T; ++t)
        for (long s = s0; s < S; ++s) A[1][offset + t + 1][s + 1 - s0] = in[t * S + s];
    numeric::rlft3(A, speqA, 1, nx, nt, 1);
    double largest = 0;
    for (long i = 0; i < nx; ++i) {
        for (long j = 0; j <= nt / 2; ++j) {
            const long n = i <= nx / 2 ? i : i - nx;
            const double kx = n * dk, kz = j * 2 * df / v;
            const double weight = w(n, nx) * w(j, nt);
            const double k = std::sqrt(kx * kx + kz * kz);
            const double phi = v * k / (2 * df);
            const double scale = weight * v * kz / (2 * (k + 1e-5));
            largest = std::max(largest, std::fabs(scale));
            long b = static_cast<long>(std::trunc(phi));
            double f = phi - b;
            if (b < 0) b = 0, f = 0;
            if (b >= nt / 2) b = nt / 2, f = 0;
            auto X = [&](long m, int part) {
                return m < nt / 2 ? A[1][i + 1][2 * m + 1 + part] : speqA[1][2 * i + 1 + part];
            };
            double re = 0, im = 0;
            if (b < nt / 2) {
                re = (1 - f) * X(b, 0) + f * X(b + 1, 0);
                im = (1 - f) * X(b, 1) + f * X(b + 1, 1);
            }
            double* dst = j < nt / 2 ? &B[1][i + 1][2 * j + 1] : &speqB[1][2 * i + 1];
            dst[0] = scale * re;
            dst[1] = scale * im;
        }
    }
    numeric::rlft3(B, speqB, 1, nx, nt, -1);
    const double g = 1 / (nx * nt * largest);
    std::vector<int16_t> out(in.size());
    for (long t = 0; t < T; ++t)
        for (long s = 0; s < S; ++s) {
            const double y = s <= s0 ? 0 : std::trunc(g * B[1][offset + t + 1][s + 1 - s0]);
            out[t * S + s] = static_cast<int16_t>(std::max(-32767.0, std::min(32767.0, y)));
        }
    numeric::free_f3tensor(A, 1, 1, 1, nx, 1, nt);
    numeric::free_f3tensor(B, 1, 1, 1, nx, 1, nt);
    numeric::free_matrix(speqA, 1, 1, 1, 2 * nx);
    numeric::free_matrix(speqB, 1, 1, 1, 2 * nx);
    return out;
}

TEST(Migration, MatchesThePlainAlgorithmBitForBit) {
    EXPECT_EQ(vantir3::StoltPaddedSize(512), 1024);
    EXPECT_EQ(vantir3::StoltPaddedSize(500), 512);
    EXPECT_EQ(vantir3::StoltPaddedSize(1), 2);
    // The Hann tapers vanish on the Nyquist column and row.
    EXPECT_EQ(vantir3::StoltTaper(3, 1024, 2048), 0.0);
    EXPECT_EQ(vantir3::StoltTaper(4, 512, 1024), 0.0);
    EXPECT_EQ(vantir3::StoltTaper(3, -4, 8), vantir3::StoltTaper(3, 4, 8));
    EXPECT_EQ(vantir3::StoltTaper(3, 0, 8), 1.0);
    EXPECT_EQ(vantir3::StoltTaper(1, 4, 8), 1.0);
    struct Case { int T, S; double start; int taper; };
    // A single trace is padded to two, at offset 0.
    for (const Case c : {Case{37, 100, 0.0, 3}, Case{64, 64, 5.9, 3}, Case{20, 33, 2.0, 1}, Case{9, 50, 0.0, 4},
                         Case{1, 256, 0.0, 3}}) {
        const std::vector<int16_t> in = Noise(static_cast<size_t>(c.T) * c.S, c.T, 3000);
        std::vector<int16_t> section = in;
        ASSERT_EQ(vantir3::StoltMigrate(section.data(), c.T, c.S, c.start, 0.05, 200.0, 100.0, c.taper, true), 0);
        EXPECT_EQ(section, PlainStolt(in, c.T, c.S, c.start, 0.05, 200.0, 100.0, c.taper)) << c.T << " x " << c.S;
    }
}

// A point diffractor at depth z0 below trace x0: its echo lies on the
// hyperbola t(x) = 2 sqrt(z0^2 + (x - x0)^2) / v. Migrating with the right
// velocity collapses it onto its apex.
struct Diffractor {
    static constexpr int32_t kTraces = 128, kSamples = 256, kX0 = 64, kApex = 60;
    static constexpr double kDx = 0.02, kDt = 0.1, kV = 0.1;  // m, ns, m/ns
    double amplitude;
    int16_t operator()(int32_t s, int32_t t, int32_t) const {
        const double z0 = kApex * kDt * kV / 2, x = (t - kX0) * kDx;
        const double tau = s * kDt - 2 * std::sqrt(z0 * z0 + x * x) / kV;  // ns from the echo
        const double a = 3.141592653589793 * 0.6 * tau;                    // 600 MHz wavelet
        return static_cast<int16_t>(std::lround(amplitude * (1 - 2 * a * a) * std::exp(-a * a)));
    }
};

// Share of the section's energy within 2 traces and 8 samples of the apex.
double Focus(const MeboDataPtr& b) {
    double near = 0, all = 0;
    for (int32_t t = 0; t < Diffractor::kTraces; ++t)
        for (int32_t s = 0; s < Diffractor::kSamples; ++s) {
            const double e = std::pow(SampleAt(b, s, t), 2);
            all += e;
            if (std::abs(t - Diffractor::kX0) <= 2 && std::abs(s - Diffractor::kApex) <= 8) near += e;
        }
    return near / all;
}

TEST(Migration, FocusesAPointDiffractorAndClampsLargeResults) {
    using D = Diffractor;
    Owned in = Section(D::kSamples, D::kTraces, 1, D{4000});
    double focus[3];
    const double factors[3] = {1.0, 0.7, 1.4};
    for (int k = 0; k < 3; ++k) {
        Owned out = Section(D::kSamples, D::kTraces, 1, kZero);
        ASSERT_EQ(CCdpProcessToolbox::CdpMigrate(out.b, in.b, D::kV * factors[k], 0.0, D::kDx, D::kDt), 0);
        focus[k] = Focus(out.b);
        if (k == 0) {  // the strongest sample lies at the apex
            int32_t bestT = 0, bestS = 0, best = -1;
            for (int32_t t = 0; t < D::kTraces; ++t)
                for (int32_t s = 0; s < D::kSamples; ++s)
                    if (std::abs(SampleAt(out.b, s, t)) > best)
                        best = std::abs(SampleAt(out.b, s, t)), bestT = t, bestS = s;
            EXPECT_LE(std::abs(bestT - D::kX0), 1);
            EXPECT_LE(std::abs(bestS - D::kApex), 3);
        }
    }
    EXPECT_GT(focus[0], 0.5);
    EXPECT_GT(focus[0], 4 * Focus(in.b));
    EXPECT_LT(focus[1], 0.7 * focus[0]);
    EXPECT_LT(focus[2], 0.7 * focus[0]);

    // Sixteen times the amplitude: what would exceed 16 bits clamps to
    // +-32767 instead of wrapping (migrated in place).
    Owned weak = Section(D::kSamples, D::kTraces, 1, D{2000}), strong = Section(D::kSamples, D::kTraces, 1, D{32000});
    ASSERT_EQ(CCdpProcessToolbox::CdpMigrate(weak.b, weak.b, D::kV, 0.0, D::kDx, D::kDt), 0);
    ASSERT_EQ(CCdpProcessToolbox::CdpMigrate(strong.b, strong.b, D::kV, 0.0, D::kDx, D::kDt), 0);
    int clamped = 0;
    for (int32_t t = 0; t < D::kTraces; ++t)
        for (int32_t s = 0; s < D::kSamples; ++s) {
            const int w = SampleAt(weak.b, s, t);
            if (std::abs(16 * w) <= 33000) continue;
            ++clamped;
            EXPECT_EQ(SampleAt(strong.b, s, t), w > 0 ? 32767 : -32767);
        }
    EXPECT_GT(clamped, 0);
}

TEST(Migration, EdgeCases) {
    // Samples up to the start sample come out 0, whatever the input held;
    // each plane is migrated as a section of its own.
    Owned noisy = Section(100, 30, 2, [](int32_t s, int32_t t, int32_t p) {
        return static_cast<int16_t>((s * 7919 + t * 104729 + p * 31) % 20001 - 10000);
    });
    Owned out = Section(100, 30, 2, kZero);
    ASSERT_EQ(CCdpProcessToolbox::CdpMigrate(out.b, noisy.b, 0.1, 20.7, 0.05, 0.2), 0);
    std::vector<int16_t> plane1;
    for (int32_t t = 0; t < 30; ++t) {
        const std::vector<int16_t> x = Samples(noisy.b, t, 1);
        plane1.insert(plane1.end(), x.begin(), x.end());
    }
    ASSERT_EQ(vantir3::StoltMigrate(plane1.data(), 30, 100, 20.7, 0.05, 200.0, 100.0, 3, true), 0);
    int nonZero = 0;
    for (int32_t t = 0; t < 30; ++t) {
        for (int32_t p = 0; p < 2; ++p) {
            const std::vector<int16_t> y = Samples(out.b, t, p);
            EXPECT_EQ(std::vector<int16_t>(y.begin(), y.begin() + 21), std::vector<int16_t>(21, 0)) << t;
            nonZero += static_cast<int>(std::count_if(y.begin(), y.end(), [](int16_t v) { return v != 0; }));
        }
        ASSERT_EQ(Samples(out.b, t, 1), std::vector<int16_t>(plane1.begin() + 100 * t, plane1.begin() + 100 * t + 100));
    }
    EXPECT_GT(nonZero, 2000);

    // Zeros give zeros; so does a start beyond the trace and a single sample
    // per trace (every spectral scale is 0 there).
    std::vector<int16_t> zeros(16 * 40, 0), section = Noise(16 * 40, 5, 5000), single = {1234, -42, 77};
    EXPECT_EQ(vantir3::StoltMigrate(zeros.data(), 16, 40, 0.0, 0.05, 200.0, 100.0, 3, true), 0);
    EXPECT_EQ(zeros, std::vector<int16_t>(16 * 40, 0));
    EXPECT_EQ(vantir3::StoltMigrate(section.data(), 16, 40, 1e12, 0.05, 200.0, 100.0, 3, true), 0);
    EXPECT_EQ(section, std::vector<int16_t>(16 * 40, 0));
    EXPECT_EQ(vantir3::StoltMigrate(single.data(), 3, 1, 0.0, 0.05, 200.0, 100.0, 3, true), 0);
    EXPECT_EQ(single, std::vector<int16_t>(3, 0));

    // Without normalisation the strongest value of the grid becomes 32767.
    section = Noise(16 * 40, 6, 5000);
    ASSERT_EQ(vantir3::StoltMigrate(section.data(), 16, 40, 0.0, 0.05, 200.0, 100.0, 3, false), 0);
    int peak = 0;
    for (int16_t x : section) peak = std::max(peak, std::abs(x));
    EXPECT_LE(peak, 32767);
    EXPECT_GT(peak, 16000);
}

TEST(Migration, RefusesWhatItCannotMigrateAndLeavesTheOutputAlone) {
    auto fill = [](int32_t s, int32_t t, int32_t) { return static_cast<int16_t>(s - t); };
    Owned in = Section(64, 16, 1, fill), out = Section(64, 16, 1, [](int32_t, int32_t, int32_t) { return 99; });
    const double nan = std::nan("");
    struct Numbers { double v, start, dx, dt; };
    for (const Numbers n : {Numbers{0, 0, 0.05, 0.2}, Numbers{-0.1, 0, 0.05, 0.2}, Numbers{nan, 0, 0.05, 0.2},
                            Numbers{0.1, 0, 0, 0.2}, Numbers{0.1, 0, -1, 0.2}, Numbers{0.1, 0, 0.05, 0},
                            Numbers{0.1, 0, 0.05, HUGE_VAL}, Numbers{0.1, -1, 0.05, 0.2}, Numbers{0.1, nan, 0.05, 0.2},
                            Numbers{1e-320, 0, 0.05, 0.2}, Numbers{1e300, 0, 0.05, 0.2},
                            Numbers{0.1, 0, 1e-320, 0.2}}) {
        EXPECT_EQ(CCdpProcessToolbox::CdpMigrate(out.b, in.b, n.v, n.start, n.dx, n.dt), vantir3::kMigrateBadNumbers)
            << n.v << " " << n.start << " " << n.dx << " " << n.dt;
    }
    // Ranges and strides must match: a different trace range, or the same
    // ranges viewed inside a larger storage (other strides).
    Owned shifted = MakeBuffer(0, 63, 1, 16, 0, 0, fill), wide = Section(128, 16, 1, fill);
    EXPECT_EQ(CCdpProcessToolbox::CdpMigrate(out.b, shifted.b, 0.1, 0, 0.05, 0.2), vantir3::kMigrateLayoutMismatch);
    Mebo3DDataAxis view = wide.b.axis;
    view.dim[0].max = 63;
    ASSERT_EQ(MeboDataPtrSetView(&wide.b, &view, 0), 1);
    EXPECT_EQ(CCdpProcessToolbox::CdpMigrate(out.b, wide.b, 0.1, 0, 0.05, 0.2), vantir3::kMigrateLayoutMismatch);
    Owned wide32 = Zeroed(4, 64, 16), empty;
    EXPECT_EQ(CCdpProcessToolbox::CdpMigrate(out.b, wide32.b, 0.1, 0, 0.05, 0.2), -3);
    EXPECT_EQ(CCdpProcessToolbox::CdpMigrate(wide32.b, wide32.b, 0.1, 0, 0.05, 0.2), -3);
    EXPECT_EQ(CCdpProcessToolbox::CdpMigrate(out.b, empty.b, 0.1, 0, 0.05, 0.2), -1);
    for (int32_t t = 0; t < 16; ++t) EXPECT_EQ(Samples(out.b, t), std::vector<int16_t>(64, 99)) << t;

    // An absurd section size is refused before anything is allocated: a view
    // of 16384 traces x 8192 samples over one stored sample (strides 0).
    Owned one = Section(1, 1, 1, [](int32_t, int32_t, int32_t) { return 5; }), alias;
    MeboDataPtrShare(&alias.b, &one.b);
    alias.b.axis.dim[0] = {0, 0, 8191};
    alias.b.axis.dim[1] = {0, 0, 16383};
    EXPECT_EQ(CCdpProcessToolbox::CdpMigrate(alias.b, alias.b, 0.1, 0, 0.05, 0.2), vantir3::kMigrateTooLarge);
    EXPECT_EQ(SampleAt(one.b, 0, 0), 5);
    int16_t sample = 7;
    EXPECT_EQ(vantir3::StoltMigrate(&sample, 1 << 20, 1 << 20, 0, 0.05, 200, 100, 3, true), vantir3::kMigrateTooLarge);
    EXPECT_EQ(vantir3::StoltMigrate(nullptr, 4, 4, 0, 0.05, 200, 100, 3, true), -1);
    EXPECT_EQ(vantir3::StoltMigrate(&sample, 0, 4, 0, 0.05, 200, 100, 3, true), -1);
    EXPECT_EQ(sample, 7);
}

}  // namespace
