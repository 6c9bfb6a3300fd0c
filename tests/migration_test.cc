#include "vantir3/processes/migration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "tests/support/simd_targets.h"
#include "tests/support/trace_checks.h"
#include "vantir3/framework/toolbox.h"
#include "vantir3/numeric/fft.h"

namespace {

using namespace vantir3_test;
using Toolbox = CCdpProcessToolbox;
using namespace vantir3;

MeboDataPtr Section(int32_t samples, int32_t traces, int32_t planes,
                    const std::function<int16_t(int32_t, int32_t, int32_t)>& value) {
    return MakeBuffer(0, samples - 1, 0, traces - 1, 0, planes - 1, value);
}

// Uniform noise in -amplitude ... amplitude from a fixed congruential sequence.
std::vector<int16_t> Noise(size_t n, uint32_t seed, int amplitude) {
    std::vector<int16_t> v(n);
    for (int16_t& x : v) {
        seed = seed * 1664525u + 1013904223u;
        x = static_cast<int16_t>(static_cast<int>((seed >> 8) % (2 * amplitude + 1)) - amplitude);
    }
    return v;
}

TEST(Migration, SectionsGiveTheirRecordedSamples) {
    // Padding to the next power of two strictly above; the Hann tapers vanish
    // on the Nyquist column and row, are even and 1 at 0; no taper below 2.
    EXPECT_EQ(std::make_tuple(StoltPaddedSize(512), StoltPaddedSize(500), StoltPaddedSize(1)),
              std::make_tuple(1024, 512, 2));
    EXPECT_EQ(std::make_tuple(StoltTaper(3, 1024, 2048), StoltTaper(4, 512, 1024)), std::make_tuple(0.0, 0.0));
    EXPECT_EQ(std::make_tuple(StoltTaper(3, 0, 8), StoltTaper(1, 4, 8)), std::make_tuple(1.0, 1.0));
    EXPECT_EQ(StoltTaper(3, -4, 8), StoltTaper(3, 4, 8));
    // Sum, sum of squares and middle sample of each migrated section, recorded
    // from the library when it matched a plain per-grid-point implementation of
    // the algorithm bit for bit (taper and wavenumbers recomputed per point).
    // Tapers none, Hann and squared Hann, fractional start samples, a
    // single trace (padded to two, at offset 0), and 1000 traces of 520
    // samples (the traces end in a partial block of the row transforms, a
    // few rows before the end of the padded grid).
    // Every instruction set the remapping's kernels were built for.
    struct Case { int T, S; double start; int taper; int64_t sum, energy; int16_t middle; };
    ForEachSimdTarget([] {
        for (const Case c : {Case{37, 100, 0.0, 3, -7576, 213944768, 73}, Case{64, 64, 5.9, 3, 12027, 242274519, -50},
                             Case{20, 33, 2.0, 1, -10131, 301130691, 1092}, Case{9, 50, 0.0, 4, -1290, 12469178, -36},
                             Case{1, 256, 0.0, 3, 2389, 21619823, -58},
                             Case{1000, 520, 1.0, 3, -251611, 31152874039, 289}}) {
            std::vector<int16_t> section = Noise(static_cast<size_t>(c.T) * c.S, c.T, 3000);
            ASSERT_EQ(StoltMigrate(section.data(), c.T, c.S, c.start, 0.05, 200.0, 100.0, c.taper, true), 0);
            int64_t sum = 0, energy = 0;
            for (int16_t x : section) sum += x, energy += x * x;
            EXPECT_EQ(std::make_tuple(sum, energy, section[(c.T / 2) * c.S + c.S / 2]),
                      std::make_tuple(c.sum, c.energy, c.middle)) << c.T << " x " << c.S;
        }
    });
}

// The migration's transforms leave out what is known or not wanted: values
// taken as +0 are not read (NaN there changes nothing), values not wanted
// are not written, and what is computed has the bits of the full passes.
TEST(Migration, PrunedTransformsGiveTheFullTransformsBits) {
    using numeric::ColumnPass;
    using numeric::GridRows;
    using numeric::RowValues;
    const size_t rows = 64, length = 256, input = 40, keep = 20;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<double> grid(rows * length);
    for (double& x : grid) x = dist(gen);
    auto same = [](const double* a, const double* b, size_t n) { return std::memcmp(a, b, n * sizeof(double)) == 0; };
    struct Collect final : numeric::RowSink {
        std::vector<double>* grid;
        size_t length;
        void Take(size_t row, size_t column, size_t count, const double* re, const double* im) override {
            for (size_t p = 0; p < count; ++p) {
                (*grid)[row * length + 2 * (column + p)] = re[p];
                (*grid)[row * length + 2 * (column + p) + 1] = im[p];
            }
        }
    };
    ForEachSimdTarget([&] {
        numeric::RealFft2D fft(rows, length);
        // Rows whose values from `input` on are +0, forward; rows 10 ... 49 of
        // the result, the others +0, forward along the columns.
        std::vector<double> full = grid, pruned = grid;
        for (size_t r = 0; r < rows; ++r) {
            std::fill(full.begin() + r * length + 2 * input, full.begin() + (r + 1) * length, 0.0);
            std::fill(pruned.begin() + r * length + 2 * input, pruned.begin() + (r + 1) * length, nan);
        }
        fft.RowTransforms(full.data(), 0, rows, 1);
        fft.RowTransforms(pruned.data(), 0, rows, 1, RowValues{input});
        ASSERT_TRUE(same(full.data(), pruned.data(), full.size()));
        std::fill(full.begin(), full.begin() + 10 * length, 0.0);
        std::fill(pruned.begin(), pruned.begin() + 10 * length, nan);
        std::fill(full.begin() + 50 * length, full.end(), 0.0);
        std::fill(pruned.begin() + 50 * length, pruned.end(), nan);
        ColumnPass forward;
        forward.input = GridRows{10, 40};
        fft.ColumnTransforms(full.data(), 1);
        fft.ColumnTransforms(pruned.data(), 1, forward);
        ASSERT_TRUE(same(full.data(), pruned.data(), full.size()));
        // Inverse: only values 0 ... keep - 1 of each row written back, then
        // the columns 0 ... keep - 1 of rows 5 ... 54 to a sink.
        const std::vector<double> before = pruned;
        fft.RowTransforms(full.data(), 0, rows, -1);
        fft.RowTransforms(pruned.data(), 0, rows, -1, RowValues{SIZE_MAX, keep});
        for (size_t r = 0; r < rows; ++r) {
            const size_t at = r * length, rest = at + 2 * keep;
            ASSERT_TRUE(same(&full[at], &pruned[at], 2 * keep) && same(&before[rest], &pruned[rest], length - 2 * keep)) << r;
        }
        std::vector<double> taken(grid.size(), nan);
        Collect sink;
        sink.grid = &taken;
        sink.length = length;
        const std::vector<double> merged = pruned;
        fft.ColumnTransforms(full.data(), -1);
        fft.ColumnTransforms(pruned.data(), -1, ColumnPass{GridRows(), GridRows{5, 50}, keep, &sink});
        ASSERT_TRUE(same(merged.data(), pruned.data(), merged.size()));
        for (size_t r = 0; r < rows; ++r) {
            const size_t at = r * length, n = r >= 5 && r < 55 ? 2 * keep : 0;
            EXPECT_TRUE(same(&full[at], &taken[at], n)) << r;
            EXPECT_TRUE(std::all_of(&taken[at + n], &taken[at + length], [](double x) { return std::isnan(x); })) << r;
        }
    });
}

// A point diffractor 60 samples deep below trace 64 (0.02 m spacing, 0.1 ns,
// 0.1 m/ns): a 600 MHz wavelet on its hyperbola, of either sign. Sixteen times
// the amplitude, migrated in place: what would exceed 16 bits clamps to
// +-32767 instead of wrapping.
TEST(Migration, ClampsLargeResults) {
    auto diffractor = [](double amplitude) {
        return [amplitude](int32_t s, int32_t t, int32_t) {
            const double z0 = 60 * 0.1 * 0.1 / 2, x = (t - 64) * 0.02;
            const double a = 3.141592653589793 * 0.6 * (s * 0.1 - 2 * std::sqrt(z0 * z0 + x * x) / 0.1);
            return static_cast<int16_t>(std::lround(amplitude * (1 - 2 * a * a) * std::exp(-a * a)));
        };
    };
    for (double amplitude : {2000.0, -2000.0}) {
        Owned weak = Section(256, 128, 1, diffractor(amplitude));
        Owned strong = Section(256, 128, 1, diffractor(16 * amplitude));
        ASSERT_EQ(Toolbox::CdpMigrate(weak.b, weak.b, 0.1, 0.0, 0.02, 0.1), 0);
        ASSERT_EQ(Toolbox::CdpMigrate(strong.b, strong.b, 0.1, 0.0, 0.02, 0.1), 0);
        int clamped = 0;
        for (int32_t t = 0; t < 128; ++t)
            for (int32_t s = 0; s < 256; ++s) {
                const int w = SampleAt(weak.b, s, t);
                if (std::abs(16 * w) <= 33000) continue;
                ++clamped;
                EXPECT_EQ(SampleAt(strong.b, s, t), w > 0 ? 32767 : -32767) << amplitude;
            }
        EXPECT_GT(clamped, 0);
    }
}

TEST(Migration, SampleMajorSectionsGiveTheTraceMajorSamples) {
    // Contiguous trace samples are written a vector of value pairs at a
    // time; the same section viewed sample-major (samples a trace apart)
    // takes the sample-by-sample form. Both agree on every instruction set,
    // for start samples that shift the pairs, traces of an odd number of
    // samples (the last pair half in the trace) and traces shorter than a
    // vector of pairs.
    struct Case { int32_t traces, samples; double start; };
    ForEachSimdTarget([] {
        for (const Case c : {Case{37, 100, 0.0}, Case{16, 7, 2.0}, Case{20, 33, 1.0}, Case{9, 64, 5.5}, Case{64, 131, 3.0}}) {
            const std::vector<int16_t> noise = Noise(static_cast<size_t>(c.traces) * c.samples, 11, 20000);
            auto value = [&](int32_t s, int32_t t, int32_t) { return noise[static_cast<size_t>(t) * c.samples + s]; };
            Owned traceMajor = Section(c.samples, c.traces, 1, value);
            Owned sampleMajor = Transposed(traceMajor.b);
            ASSERT_EQ(Toolbox::CdpMigrate(traceMajor.b, traceMajor.b, 0.1, c.start, 0.05, 0.2), 0);
            ASSERT_EQ(Toolbox::CdpMigrate(sampleMajor.b, sampleMajor.b, 0.1, c.start, 0.05, 0.2), 0);
            ExpectSameSamples(traceMajor.b, sampleMajor.b);
        }
    });
}

TEST(Migration, EdgeCases) {
    // Each plane is migrated as a section of its own; samples up to the start
    // sample come out 0, whatever the input held.
    const std::vector<int16_t> planes = Noise(2 * 30 * 100, 3, 10000);
    Owned noisy = Section(100, 30, 2, [&](int32_t s, int32_t t, int32_t p) { return planes[(p * 30 + t) * 100 + s]; });
    Owned out = Zeroed(2, 100, 30, 2);
    ASSERT_EQ(Toolbox::CdpMigrate(out.b, noisy.b, 0.1, 20.7, 0.05, 0.2), 0);
    for (int32_t p = 0; p < 2; ++p) {
        std::vector<int16_t> want(planes.begin() + 3000 * p, planes.begin() + 3000 * (p + 1));
        ASSERT_EQ(StoltMigrate(want.data(), 30, 100, 20.7, 0.05, 200.0, 100.0, 3, true), 0);
        EXPECT_GT(std::count_if(want.begin(), want.end(), [](int16_t x) { return x != 0; }), 1000);
        for (int32_t t = 0; t < 30; ++t) {
            ASSERT_EQ(Samples(out.b, t, p), std::vector<int16_t>(want.begin() + 100 * t, want.begin() + 100 * t + 100));
            EXPECT_EQ(std::count(want.begin() + 100 * t, want.begin() + 100 * t + 21, 0), 21) << t;
        }
    }
    // Zeros give zeros; so does a start beyond the trace and a single sample
    // per trace (every spectral scale is 0 there).
    std::vector<int16_t> zeros(640, 0), late = Noise(640, 5, 5000), single = {1234, -42, 77};
    EXPECT_EQ(StoltMigrate(zeros.data(), 16, 40, 0.0, 0.05, 200.0, 100.0, 3, true), 0);
    EXPECT_EQ(StoltMigrate(late.data(), 16, 40, 1e12, 0.05, 200.0, 100.0, 3, true), 0);
    EXPECT_EQ(StoltMigrate(single.data(), 3, 1, 0.0, 0.05, 200.0, 100.0, 3, true), 0);
    for (const auto* v : {&zeros, &late, &single}) EXPECT_EQ(*v, std::vector<int16_t>(v->size(), 0));
    // Without normalisation the strongest value of the grid becomes 32767.
    std::vector<int16_t> section = Noise(16 * 40, 6, 5000);
    ASSERT_EQ(StoltMigrate(section.data(), 16, 40, 0.0, 0.05, 200.0, 100.0, 3, false), 0);
    int peak = 0;
    for (int16_t x : section) peak = std::max(peak, std::abs(x));
    EXPECT_TRUE(peak > 16000 && peak <= 32767) << peak;
}

TEST(Migration, RefusesWhatItCannotMigrateAndLeavesTheOutputAlone) {
    auto fill = [](int32_t s, int32_t t, int32_t) { return static_cast<int16_t>(s - t); };
    Owned in = Section(64, 16, 1, fill), out = Section(64, 16, 1, [](int32_t, int32_t, int32_t) { return 99; });
    // Velocity, start sample, trace spacing, sample interval.
    const double nan = std::nan(""), bad[][4] = {{0, 0, 0.05, 0.2},      {-0.1, 0, 0.05, 0.2},  {nan, 0, 0.05, 0.2},
                                                 {0.1, 0, 0, 0.2},       {0.1, 0, -1, 0.2},     {0.1, 0, 0.05, 0},
                                                 {0.1, 0, 0.05, HUGE_VAL}, {0.1, -1, 0.05, 0.2}, {0.1, nan, 0.05, 0.2},
                                                 {1e-320, 0, 0.05, 0.2}, {1e300, 0, 0.05, 0.2}, {0.1, 0, 1e-320, 0.2}};
    for (const double* n : bad)
        EXPECT_EQ(Toolbox::CdpMigrate(out.b, in.b, n[0], n[1], n[2], n[3]), kMigrateBadNumbers)
            << n[0] << " " << n[1] << " " << n[2] << " " << n[3];
    // Ranges and strides must match: a different trace range, or the same
    // ranges with other strides; then 32-bit samples and an empty buffer.
    Owned shifted = MakeBuffer(0, 63, 1, 16, 0, 0, fill), swapped = Transposed(in.b);
    Owned wide32 = Zeroed(4, 64, 16), empty;
    auto migrate = [](MeboDataPtr& o, const MeboDataPtr& i) { return Toolbox::CdpMigrate(o, i, 0.1, 0, 0.05, 0.2); };
    EXPECT_EQ(migrate(out.b, shifted.b), kMigrateLayoutMismatch);
    EXPECT_EQ(migrate(out.b, swapped.b), kMigrateLayoutMismatch);
    EXPECT_EQ(migrate(out.b, wide32.b), -3);
    EXPECT_EQ(migrate(wide32.b, wide32.b), -3);
    EXPECT_EQ(migrate(out.b, empty.b), -1);
    for (int32_t t = 0; t < 16; ++t) EXPECT_EQ(Samples(out.b, t), std::vector<int16_t>(64, 99)) << t;
    // An absurd section size is refused before anything is allocated: a view
    // of 16384 traces x 8192 samples over one stored sample (strides 0).
    Owned one = Section(1, 1, 1, [](int32_t, int32_t, int32_t) { return 5; }), alias;
    MeboDataPtrShare(&alias.b, &one.b);
    alias.b.axis.dim[0] = {0, 0, 8191};
    alias.b.axis.dim[1] = {0, 0, 16383};
    EXPECT_EQ(migrate(alias.b, alias.b), kMigrateTooLarge);
    EXPECT_EQ(SampleAt(one.b, 0, 0), 5);
    int16_t sample = 7;
    EXPECT_EQ(StoltMigrate(&sample, 1 << 20, 1 << 20, 0, 0.05, 200, 100, 3, true), kMigrateTooLarge);
    EXPECT_EQ(StoltMigrate(nullptr, 4, 4, 0, 0.05, 200, 100, 3, true), -1);
    EXPECT_EQ(StoltMigrate(&sample, 0, 4, 0, 0.05, 200, 100, 3, true), -1);
    EXPECT_EQ(sample, 7);
}

}  // namespace
