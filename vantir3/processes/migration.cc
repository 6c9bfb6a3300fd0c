#include "vantir3/processes/migration.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "vantir3/data/data_buffer.h"
#include "vantir3/data/sample_memory.h"
#include "vantir3/framework/status.h"
#include "vantir3/framework/toolbox.h"
#include "vantir3/numeric/fft.h"
#include "vantir3/numeric/nr_arrays.h"
#include "vantir3/numeric/scratch.h"

// The remapping's per-row kernels are compiled once per instruction set.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vantir3/processes/migration.cc"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace vantir3 {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Keeps the Jacobian finite at k = 0.
constexpr double kWavenumberGuard = 1e-5;

// Pass 1 of the remapping for one wavenumber row: for every output row j
// the input frequency position phi = v k / (2 df) and the scale
// ((wx wz[j]) v) kz[j] / (2 (k + 1e-5)), k = sqrt(kx^2 + kz[j]^2), and for the
// linear interpolation between the bins around phi (when phi < half) the bin
// b = trunc(phi) and the weight f = phi - b of bin b + 1 (that of bin b is
// 1 - f; b = f = 0 for phi <= -1); *inside = the number of rows with
// phi < half; returns the largest |scale|. A vector of rows at a time, over
// arrays padded to whole vectors (padding rows have kz = wz = 0, so scale 0).
double RowPositions(size_t rows, double kx2, double wx, double v, double twoDf, const double* kz,
                    const double* wz, double* scale, int32_t* bin, double* f, size_t* inside) {
    const hn::ScalableTag<double> d;
    const hn::Rebind<int32_t, decltype(d)> di;
    const size_t lanes = hn::Lanes(d);
    const auto vkx2 = hn::Set(d, kx2), vwx = hn::Set(d, wx), vv = hn::Set(d, v);
    const auto vtwoDf = hn::Set(d, twoDf), guard = hn::Set(d, kWavenumberGuard);
    const auto two = hn::Set(d, 2.0), minusOne = hn::Set(d, -1.0);
    const auto halfBins = hn::Set(d, static_cast<double>(rows - 1));
    auto most = hn::Zero(d);
    size_t within = 0;
    for (size_t j = 0; j < rows; j += lanes) {
        const auto weight = hn::Mul(vwx, hn::LoadU(d, wz + j));
        const auto vkz = hn::LoadU(d, kz + j);
        const auto k = hn::Sqrt(hn::Add(vkx2, hn::Mul(vkz, vkz)));
        const auto p = hn::Div(hn::Mul(vv, k), vtwoDf);
        within += hn::CountTrue(d, hn::And(hn::Lt(p, halfBins), hn::FirstN(d, rows - j)));
        const auto sc = hn::Div(hn::Mul(hn::Mul(weight, vv), vkz), hn::Mul(two, hn::Add(k, guard)));
        hn::StoreU(sc, d, scale + j);
        most = hn::Max(most, hn::Abs(sc));
        const auto taken = hn::And(hn::Lt(p, halfBins), hn::Gt(p, minusOne));
        // Bins below half (at most 2^26) fit 32 bits, whose conversions all
        // instruction sets have.
        const auto b = hn::DemoteTo(di, hn::IfThenElseZero(taken, p));
        const auto frac = hn::IfThenElseZero(taken, hn::Sub(p, hn::PromoteTo(d, b)));
        hn::StoreU(b, di, bin + j);
        hn::StoreU(frac, d, f + j);
    }
    *inside = within;
    return hn::GetLane(hn::MaxOfLanes(d, most));
}

// Pass 2 for the rows j < count of one wavenumber row whose positions lie
// within the spectrum X (X(m) = (x[2m], x[2m+1])): (y[2j], y[2j+1]) =
// scale[j] ((1 - f) X(b) + f X(b + 1)) with the bin and weight of
// RowPositions, the real and imaginary parts side by side in one vector.
// With x2 (the spectrum of the mirror wavenumber row, which has the same
// positions), the same into y2 in the same loop, so that the weights are
// loaded and formed once for both rows.
void InterpolateRows(size_t count, const int32_t* bin, const double* f, const double* scale, const double* x,
                     double* y, const double* x2, double* y2) {
    const hn::CappedTag<double, 2> d;
    const size_t lanes = hn::Lanes(d);
    size_t j = 0;
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX2
    // Two rows per 256-bit vector, (y[2j], y[2j+1], y[2j+2], y[2j+3]) at a
    // time: each half takes its row's two bins and its weights (one
    // broadcast per row, the halves joined by a blend), for half the
    // multiplications, additions and stores of the 128-bit form.
    const hn::FixedTag<double, 4> d4;
    const hn::FixedTag<double, 2> d2;
    const auto pairOf = [d4](const double* v) { return hn::ConcatUpperLower(d4, hn::Set(d4, v[1]), hn::Set(d4, v[0])); };
    for (; j + 2 <= count; j += 2) {
        const ptrdiff_t o0 = 2 * static_cast<ptrdiff_t>(bin[j]), o1 = 2 * static_cast<ptrdiff_t>(bin[j + 1]);
        const auto vf = pairOf(f + j), vs = pairOf(scale + j);
        const auto vg = hn::Sub(hn::Set(d4, 1.0), vf);
        const auto row = [&](const double* from, double* to) {
            const auto at = hn::Combine(d4, hn::LoadU(d2, from + o1), hn::LoadU(d2, from + o0));
            const auto next = hn::Combine(d4, hn::LoadU(d2, from + o1 + 2), hn::LoadU(d2, from + o0 + 2));
            hn::StoreU(hn::Mul(vs, hn::Add(hn::Mul(vg, at), hn::Mul(vf, next))), d4, to + 2 * j);
        };
        row(x, y);
        if (x2 != nullptr) row(x2, y2);
    }
#endif
    for (; j < count; ++j) {
        const ptrdiff_t o = 2 * static_cast<ptrdiff_t>(bin[j]);
        const auto vg = hn::Set(d, 1.0 - f[j]), vf = hn::Set(d, f[j]), vs = hn::Set(d, scale[j]);
        const auto row = [&](const double* from, double* to) {
            for (size_t c = 0; c < 2; c += lanes) {
                const auto sum = hn::Add(hn::Mul(vg, hn::LoadU(d, from + o + c)), hn::Mul(vf, hn::LoadU(d, from + o + 2 + c)));
                hn::StoreU(hn::Mul(vs, sum), d, to + 2 * j + c);
            }
        };
        row(x, y);
        if (x2 != nullptr) row(x2, y2);
    }
}

// The samples out[2p] = trunc(gain re[p]), out[2p + 1] = trunc(gain im[p])
// of the first p < count, each product limited to -32767 ... 32767 before
// its whole part is taken (the products are finite), a vector of each at a
// time; returns how many p it wrote (the rest are left to the caller).
size_t StoreSamplePairs(size_t count, const double* re, const double* im, double gain, int16_t* out) {
    const hn::ScalableTag<double> d;
    const hn::Rebind<int32_t, decltype(d)> d32;
    const hn::Rebind<int16_t, decltype(d)> d16;
    const size_t lanes = hn::Lanes(d);
    const auto vgain = hn::Set(d, gain), low = hn::Set(d, -32767.0), high = hn::Set(d, 32767.0);
    size_t p = 0;
    for (; p + lanes <= count; p += lanes) {
        const auto r = hn::Min(hn::Max(hn::Mul(vgain, hn::LoadU(d, re + p)), low), high);
        const auto i = hn::Min(hn::Max(hn::Mul(vgain, hn::LoadU(d, im + p)), low), high);
        hn::StoreInterleaved2(hn::DemoteTo(d16, hn::DemoteTo(d32, r)), hn::DemoteTo(d16, hn::DemoteTo(d32, i)), d16,
                              out + 2 * p);
    }
    return p;
}

}  // namespace HWY_NAMESPACE
}  // namespace vantir3
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace vantir3 {

HWY_EXPORT(RowPositions);
HWY_EXPORT(InterpolateRows);
HWY_EXPORT(StoreSamplePairs);

namespace {

// Pi as the migration has always written it (a few units in the last place
// above the double nearest pi); kept so that tapers stay bit-identical.
constexpr double kPi = 3.141592653589795;
// Doubles of padding after each per-row table, room for the widest vector
// of any instruction set (2048 bits).
constexpr size_t kVectorPad = 32;
// Largest spectral scale for which no intermediate value of the inverse
// transform can overflow: |spectrum| <= 2^42 (16-bit samples summed over at
// most 2^27 grid points) and the transform sums at most 2^27 values, so
// scale * 2^70 must stay finite.
constexpr double kScaleHeadroom = 0x1p70;

inline int16_t Load16(const uint8_t* p) {
    int16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void Store16(uint8_t* p, int16_t v) { std::memcpy(p, &v, sizeof v); }

// trunc(y) limited to -32767 ... 32767 (y is finite here).
inline int16_t TruncClamp16(double y) {
    const double c = y < -32767.0 ? -32767.0 : (y > 32767.0 ? 32767.0 : y);
    return static_cast<int16_t>(static_cast<int32_t>(c));
}

// Where the samples of one section live: the sample (t, s) is at
// base + t * traceStride + s * sampleStride (strides in bytes).
struct SectionAccess {
    uint8_t* base;
    ptrdiff_t traceStride;
    ptrdiff_t sampleStride;
    uint8_t* At(int32_t t, int32_t s) const {
        return base + static_cast<ptrdiff_t>(t) * traceStride +
               static_cast<ptrdiff_t>(s) * sampleStride;
    }
};

// Migration of sections of one shape with one geometry. The constructor
// checks the numbers and sizes and allocates the transform arrays and the
// per-row tables once; Run then migrates any number of sections.
class StoltMigrator {
public:
    StoltMigrator(int32_t traces, int32_t samples, double startSample, double dx, double dt,
                  double v, int taper, bool normalise);
    ~StoltMigrator();
    StoltMigrator(const StoltMigrator&) = delete;
    StoltMigrator& operator=(const StoltMigrator&) = delete;

    // 0, or the refusal of the constructor (nothing allocated then).
    int Status() const { return status_; }
    // Reads the section through `in`, writes it through `out` (which may
    // address the same samples: everything is read before anything is
    // written). 0, or kMigrateBadNumbers with the output untouched.
    int Run(const SectionAccess& in, const SectionAccess& out);

private:
    // Loads the traces first ... first + count - 1 into their grid rows.
    void Load(const SectionAccess& in, int32_t first, int32_t count);
    // Load and the forward row transforms, a few traces at a time so that
    // their rows are transformed while they are still in the cache.
    void LoadAndTransformRows(const SectionAccess& in);
    // The spectral steps between the forward column transforms and the
    // inverse column transforms, taken a few mirror row pairs at a time so
    // that each row of the grid is fetched once for all of them: the
    // forward separation of the real transforms, the remapping, the inverse
    // merge and the inverse row transforms. Returns the largest |scale|.
    double SpectralPass();
    // Steps of SpectralPass for row i and its mirror row, up to the inverse
    // row transforms.
    double PairSteps(int64_t i);
    // Replaces the forward spectrum of grid row i / speqIn_ by the migrated
    // one in grid row i / speqOut_, with the positions and scales that
    // RowPositions left in bins_ / f_ / scale_ for the row's wavenumber; the
    // same for row `mirror` (which has the same positions) unless it is i.
    void RemapPair(int64_t i, int64_t mirror);
    void Store(const SectionAccess& out, double gain);
    size_t GridBytes() const { return static_cast<size_t>(nx_ * nt_) * sizeof(double); }

    int status_ = 0;
    int32_t traces_, samples_;
    int32_t s0_ = 0;  // first sample taken into the migration (<= samples_)
    int64_t nx_ = 0, nt_ = 0, offset_ = 0;
    // Complex grid columns that the output needs back from the inverse
    // transforms: with normalisation only the samples s0 + 1 ... samples - 1
    // of the traces, the rows' values 0 ... (samples - 1 - s0) / 2; without,
    // every column (the peak is taken over the whole grid).
    size_t keep_ = 0;
    double dk_ = 0.0, df_ = 0.0, v_ = 0.0;
    int taper_;
    bool normalise_;
    // One grid serves both transforms: a migrated column depends only on
    // the same column of the forward spectrum, so each column's spectrum is
    // copied into column_ and the migrated column written over it. Half the
    // memory of separate input and output grids, and half the fresh pages
    // to touch per call. The grid is flat, nx rows (wavenumber columns of
    // the spectrum) of nt values, as rlft3's data[1][1][1] onwards.
    // speqIn_ / speqOut_ hold the Nyquist values of the forward and the
    // migrated spectrum (2 * nx values each, as rlft3's speq[1][1] onwards).
    double* grid_ = nullptr;
    double* speqIn_ = nullptr;
    double* speqOut_ = nullptr;
    std::unique_ptr<numeric::RealFft2D> fft_;
    // Per output row j = 0 ... nt/2: kz and the taper weight, the values
    // that do not depend on the column, computed once per call with the very
    // expressions the per-point formulas use; per column scratch: the scale
    // of every row, and the forward spectra of a column and its mirror
    // (nt + 2 values each, the Nyquist pair last).
    // The tables are padded to whole vectors and live in one block (bins
    // in one of their own); per wavenumber row the bin and weights of the
    // interpolation, and the end of the rows whose position lies within the
    // spectrum (the positions grow with the row).
    Scratch<double> tables_;
    Scratch<int32_t> bins_;
    double* kz_ = nullptr;
    double* wz_ = nullptr;
    double* scale_ = nullptr;
    double* f_ = nullptr;
    int64_t insideEnd_ = 0;
    double* column_ = nullptr;
};

inline bool PositiveFinite(double x) { return x > 0.0 && x <= 1.7976931348623157e308; }

StoltMigrator::StoltMigrator(int32_t traces, int32_t samples, double startSample, double dx,
                             double dt, double v, int taper, bool normalise)
    : traces_(traces), samples_(samples), taper_(taper), normalise_(normalise) {
    if (traces < 1 || samples < 1) {
        status_ = kStatusNoCommonRegion;
        return;
    }
    if (!PositiveFinite(dx) || !PositiveFinite(dt) || !PositiveFinite(v) ||
        !std::isfinite(startSample) || std::trunc(startSample) < 0.0) {
        status_ = kMigrateBadNumbers;
        return;
    }
    nt_ = StoltPaddedSize(samples);
    nx_ = StoltPaddedSize(traces);
    if (nx_ * nt_ > kMigrateMaxGrid) {
        status_ = kMigrateTooLarge;
        return;
    }
    const double st = std::trunc(startSample);
    s0_ = st >= static_cast<double>(samples) ? samples : static_cast<int32_t>(st);
    offset_ = (nx_ - traces) / 2;
    const int64_t used = samples - s0_;
    keep_ = !normalise ? SIZE_MAX : used >= 2 ? static_cast<size_t>((used + 1) / 2) : 0;
    df_ = 2.0 * (1e6 / (2.0 * dt)) / static_cast<double>(nt_);
    dk_ = 2.0 * (1.0 / (2.0 * dx)) / static_cast<double>(nx_);
    v_ = v;
    // Every intermediate of the remapping grows with |kx| and kz, so finite
    // values at the grid's corner keep all of them finite; the scale is at
    // most v / 2.
    const int64_t half = nt_ / 2;
    const double kxMax = static_cast<double>(nx_ / 2) * dk_;
    const double kzMax = static_cast<double>(half * 2) * df_ / v;
    const double kMax = std::sqrt(kxMax * kxMax + kzMax * kzMax);
    if (!PositiveFinite(df_) || !PositiveFinite(dk_) || !std::isfinite(v * kMax) ||
        !std::isfinite(v * kScaleHeadroom)) {
        status_ = kMigrateBadNumbers;
        return;
    }

    const int32_t nx = static_cast<int32_t>(nx_), nt = static_cast<int32_t>(nt_);
    // The grid's memory comes from the data layer's large-block store: huge
    // pages, and the block of the previous call of this thread when it was
    // the last large block freed (no page faults then). Nothing is read
    // from it before it is written.
    grid_ = reinterpret_cast<double*>(AllocateSamples(GridBytes(), false));
    if (grid_ == nullptr) numeric::nrerror("allocation failure in StoltMigrate()");
    speqIn_ = numeric::dvector(0, 2 * nx - 1);
    speqOut_ = numeric::dvector(0, 2 * nx - 1);
    fft_.reset(new (std::nothrow) numeric::RealFft2D(static_cast<size_t>(nx_), static_cast<size_t>(nt_)));
    if (fft_ == nullptr) numeric::nrerror("allocation failure in StoltMigrate()");
    column_ = numeric::dvector(0, 2 * nt + 3);
    const int32_t rows = static_cast<int32_t>(half) + 1;
    const size_t padded = static_cast<size_t>(rows) + kVectorPad;
    tables_ = NewScratch<double>(4 * padded);
    bins_ = NewScratch<int32_t>(padded);
    if (tables_ == nullptr || bins_ == nullptr) numeric::nrerror("allocation failure in StoltMigrate()");
    std::memset(tables_.get(), 0, 4 * padded * sizeof(double));
    kz_ = tables_.get();
    wz_ = kz_ + padded;
    scale_ = wz_ + padded;
    f_ = scale_ + padded;
    for (int32_t j = 0; j < rows; ++j) {
        kz_[j] = static_cast<double>(j * 2) * df_ / v_;
        wz_[j] = StoltTaper(taper_, j, nt_);
    }
}

StoltMigrator::~StoltMigrator() {
    if (grid_ == nullptr) return;
    const int32_t nx = static_cast<int32_t>(nx_), nt = static_cast<int32_t>(nt_);
    FreeSamples(reinterpret_cast<uint8_t*>(grid_), GridBytes());
    numeric::free_dvector(speqIn_, 0, 2 * nx - 1);
    numeric::free_dvector(speqOut_, 0, 2 * nx - 1);
    numeric::free_dvector(column_, 0, 2 * nt + 3);
}

// grid row offset + t, value s - s0 = sample (t, s) for s >= s0, the rest of
// the row 0 (zero fill in time). Only the complex values holding samples are
// written (the row transforms take the rest as +0 without reading it). The
// rows outside the traces are zero fill too, but nothing reads them before
// the forward column transforms write them (those take them as 0), so they
// are not written here.
void StoltMigrator::Load(const SectionAccess& in, int32_t first, int32_t count) {
    const int64_t nt = nt_;
    const int64_t used = samples_ - s0_;
    const ptrdiff_t step = in.sampleStride;
    // Up to the end of the last complex value holding a sample; the whole
    // row when it is a single complex value (not transformed).
    const int64_t written = nt > 2 ? (used + 1) / 2 * 2 : nt;
    for (int32_t t = first; t < first + count; ++t) {
        double* col = grid_ + (offset_ + t) * nt;
        if (used > 0) {
            const uint8_t* p = in.At(t, s0_);
            if (step == sizeof(int16_t)) {
                for (int64_t k = 0; k < used; ++k) col[k] = Load16(p + k * sizeof(int16_t));
            } else {
                for (int64_t k = 0; k < used; ++k) col[k] = Load16(p + k * step);
            }
        }
        for (int64_t k = used; k < written; ++k) col[k] = 0.0;
    }
}

void StoltMigrator::LoadAndTransformRows(const SectionAccess& in) {
    constexpr int32_t kChunk = 32;
    for (int32_t t0 = 0; t0 < traces_; t0 += kChunk) {
        const int32_t count = traces_ - t0 < kChunk ? traces_ - t0 : kChunk;
        Load(in, t0, count);
        fft_->RowTransforms(grid_, static_cast<size_t>(offset_ + t0), static_cast<size_t>(count), 1,
                            numeric::RowValues{static_cast<size_t>(samples_ - s0_ + 1) / 2});
    }
}

// Pass 2: interpolates the forward spectrum X of each row between the bins
// around each position: out(j) = scale[j] ((1 - f) X(b) + f X(b + 1)) with the
// bin and weights of RowPositions, 0 scaled for positions at or beyond nt/2
// (rows insideEnd_ onwards). out(j) goes to the row's (y[2j], y[2j+1]) for
// j < nt/2, out(nt/2) to speqOut_. The row is copied first, with X(nt/2)
// from the Nyquist values after it, so that X(m) is (x[2m], x[2m+1]) for every
// m <= nt/2 and the row itself can take the result (the two rows of a
// pair to two copies, column_ and the nt + 2 values after it).
void StoltMigrator::RemapPair(int64_t i, int64_t mirror) {
    const int64_t nt = nt_, half = nt / 2;
    const int64_t row[2] = {i, mirror};
    const int count = mirror != i ? 2 : 1;
    double* x[2] = {nullptr, nullptr};
    double* y[2] = {nullptr, nullptr};
    for (int r = 0; r < count; ++r) {
        y[r] = grid_ + row[r] * nt;
        x[r] = column_ + r * (nt + 2);
        std::memcpy(x[r], y[r], static_cast<size_t>(nt) * sizeof(double));
        x[r][nt] = speqIn_[2 * row[r]];
        x[r][nt + 1] = speqIn_[2 * row[r] + 1];
    }
    auto value = [&](const double* x, int64_t j, double& re, double& im) {
        re = 0.0;
        im = 0.0;
        if (j < insideEnd_) {
            const double* b = x + 2 * bins_[j];
            const double g = 1.0 - f_[j];
            re = g * b[0] + f_[j] * b[2];
            im = g * b[1] + f_[j] * b[3];
        }
        re *= scale_[j];
        im *= scale_[j];
    };
    const int64_t inside = insideEnd_ < half ? insideEnd_ : half;
    HWY_DYNAMIC_DISPATCH(InterpolateRows)(static_cast<size_t>(inside), bins_.get(), f_, scale_, x[0], y[0], x[1], y[1]);
    for (int r = 0; r < count; ++r) {
        for (int64_t j = inside; j < half; ++j) {
            y[r][2 * j] = scale_[j] * 0.0;
            y[r][2 * j + 1] = scale_[j] * 0.0;
        }
        value(x[r], half, speqOut_[2 * row[r]], speqOut_[2 * row[r] + 1]);
    }
}

double StoltMigrator::PairSteps(int64_t i) {
    const int64_t j = static_cast<int64_t>(fft_->Mirror(static_cast<size_t>(i)));
    // The next pair's rows, i + 1 and j - 1, are asked for along the
    // separation: rows are visited in pairs whose halves go in opposite
    // directions, which the processor's own prefetching follows poorly, and
    // asked for all at once they would hold up the separation until most
    // had arrived.
    const size_t next = i >= 1 && i + 1 < nx_ / 2 ? static_cast<size_t>(i + 1) : SIZE_MAX;
    fft_->KeepNyquist(grid_, speqIn_, static_cast<size_t>(i));
    fft_->KeepNyquist(grid_, speqIn_, static_cast<size_t>(j));
    fft_->SplitPair(grid_, speqIn_, static_cast<size_t>(i), 1, next);
    // Row i has wavenumber index n = i, its mirror -n (n = nx/2 is its own
    // mirror): the same kx^2 and, the taper being even, the same weight, so
    // one set of positions and scales serves both.
    const double kx = static_cast<double>(i) * dk_;
    const int64_t half = nt_ / 2;
    // Correctly rounded operations keep the positions in the order of kz, so
    // the rows within the spectrum come first.
    size_t inside = 0;
    const double largest = HWY_DYNAMIC_DISPATCH(RowPositions)(static_cast<size_t>(half + 1), kx * kx,
                                                             StoltTaper(taper_, i, nx_), v_, 2.0 * df_, kz_, wz_,
                                                             scale_, bins_.get(), f_, &inside);
    insideEnd_ = static_cast<int64_t>(inside);
    RemapPair(i, j);
    fft_->SplitPair(grid_, speqOut_, static_cast<size_t>(i), -1);
    return largest;
}

double StoltMigrator::SpectralPass() {
    // Mirror pairs (i, nx - i) are taken kGroup at a time: the rows i0 ...
    // i1 - 1 and their mirrors nx - i1 + 1 ... nx - i0, two runs of
    // neighbouring rows for the blocked row transforms. Rows 0 and nx/2 are
    // their own mirrors.
    constexpr int64_t kGroup = 16;
    const int64_t nx = nx_, mid = nx / 2;
    double largest = 0.0;
    for (const int64_t self : {int64_t{0}, mid}) {
        const double m = PairSteps(self);
        largest = m > largest ? m : largest;
        fft_->RowTransforms(grid_, static_cast<size_t>(self), 1, -1, numeric::RowValues{SIZE_MAX, keep_});
    }
    for (int64_t i0 = 1; i0 < mid; i0 += kGroup) {
        const int64_t i1 = i0 + kGroup < mid ? i0 + kGroup : mid;
        for (int64_t i = i0; i < i1; ++i) {
            const double m = PairSteps(i);
            largest = m > largest ? m : largest;
        }
        fft_->RowTransforms(grid_, static_cast<size_t>(i0), static_cast<size_t>(i1 - i0), -1, numeric::RowValues{SIZE_MAX, keep_});
        fft_->RowTransforms(grid_, static_cast<size_t>(nx - i1 + 1), static_cast<size_t>(i1 - i0), -1, numeric::RowValues{SIZE_MAX, keep_});
    }
    return largest;
}

// out (t, s) = 0 for s <= s0, else trunc(gain * grid[1][offset + t + 1][s + 1 - s0])
// limited to -32767 ... 32767.
// The samples of the traces straight from the inverse column transforms
// (with normalisation the gain is known before them): out (t, s) for
// s = s0 + m, m = 2c or 2c + 1 the real values of complex column c of grid
// row offset + t, as Store writes them from the grid.
class StoreSink final : public numeric::RowSink {
public:
    StoreSink(const SectionAccess& out, int64_t offset, int32_t traces, int32_t samples, int32_t s0,
              double gain)
        : out_(out), offset_(offset), traces_(traces), samples_(samples), s0_(s0), gain_(gain) {}
    void Take(size_t row, size_t column, size_t count, const double* re, const double* im) override {
        const int64_t t = static_cast<int64_t>(row) - offset_;
        if (t < 0 || t >= traces_) return;
        uint8_t* base = out_.At(static_cast<int32_t>(t), 0);
        // Samples s0 + 1 ... samples - 1 come from the grid (m >= 1).
        const int64_t m0 = 2 * static_cast<int64_t>(column);
        size_t p = 0;
        // Where the trace's samples are contiguous, the pairs p whose two
        // samples s, s + 1 both come from the grid (m >= 1, s + 1 < samples)
        // a vector at a time; the others one by one below.
        if (out_.sampleStride == sizeof(int16_t) && reinterpret_cast<uintptr_t>(base) % alignof(int16_t) == 0) {
            const size_t first = m0 >= 1 ? 0 : 1;
            const int64_t room = static_cast<int64_t>(samples_) - 2 - s0_ - m0;  // s + 1 < samples for p <= room / 2
            const size_t pairs = room < 0 ? 0 : static_cast<size_t>(room / 2 + 1);
            const size_t end = pairs < count ? pairs : count;
            for (; p < first && p < count; ++p) PutPair(base, m0, p, re, im);
            if (end > p) {
                int16_t* at = reinterpret_cast<int16_t*>(base) + s0_ + m0 + 2 * static_cast<int64_t>(p);
                p += HWY_DYNAMIC_DISPATCH(StoreSamplePairs)(end - p, re + p, im + p, gain_, at);
            }
        }
        for (; p < count; ++p) PutPair(base, m0, p, re, im);
    }

private:
    // The samples of pair p of a Take: s = s0 + m0 + 2p from re[p] (when m >=
    // 1) and s + 1 from im[p], those within the trace.
    void PutPair(uint8_t* base, int64_t m0, size_t p, const double* re, const double* im) const {
        const int64_t m = m0 + 2 * static_cast<int64_t>(p);
        const int64_t s = s0_ + m;
        if (m >= 1 && s < samples_) Put(base, s, re[p]);
        if (s + 1 < samples_) Put(base, s + 1, im[p]);
    }
    void Put(uint8_t* base, int64_t s, double value) const {
        Store16(base + s * out_.sampleStride, TruncClamp16(gain_ * value));
    }
    SectionAccess out_;
    int64_t offset_;
    int32_t traces_, samples_, s0_;
    double gain_;
};

void StoltMigrator::Store(const SectionAccess& out, double gain) {
    const double* base = grid_;
    for (int32_t t = 0; t < traces_; ++t) {
        const double* col = base + (offset_ + t) * nt_;
        uint8_t* p = out.At(t, 0);
        int32_t s = 0;
        for (; s <= s0_ && s < samples_; ++s, p += out.sampleStride) Store16(p, 0);
        for (; s < samples_; ++s, p += out.sampleStride) Store16(p, TruncClamp16(gain * col[s - s0_]));
    }
}

int StoltMigrator::Run(const SectionAccess& in, const SectionAccess& out) {
    if (status_ < 0) return status_;
    // rlft3 forward and inverse in steps (see numeric::RealFft2D): the rows
    // outside the traces are +0 before the forward transforms, which take
    // them as such without transforming or reading them; the spectral steps
    // between the column transforms share one sweep; with normalisation
    // only the rows of the traces are wanted back, and they go straight to
    // the output.
    LoadAndTransformRows(in);
    const numeric::GridRows traceRows{static_cast<size_t>(offset_), static_cast<size_t>(traces_)};
    numeric::ColumnPass forward;
    forward.input = traceRows;
    fft_->ColumnTransforms(grid_, 1, forward);
    const double largestScale = SpectralPass();

    double gain = 0.0;
    if (normalise_) {
        // Every scale 0 (a single sample per trace) leaves a zero spectrum.
        if (largestScale > 0.0) {
            gain = 1.0 / (static_cast<double>(nx_ * nt_) * largestScale);
            if (!std::isfinite(gain)) return kMigrateBadNumbers;
        }
        // Samples 0 ... s0 are 0; the others come out of the inverse column
        // transforms.
        for (int32_t t = 0; t < traces_; ++t) {
            uint8_t* p = out.At(t, 0);
            for (int32_t s = 0; s <= s0_ && s < samples_; ++s, p += out.sampleStride) Store16(p, 0);
        }
        StoreSink sink(out, offset_, traces_, samples_, s0_, gain);
        fft_->ColumnTransforms(grid_, -1, numeric::ColumnPass{numeric::GridRows(), traceRows, keep_, &sink});
        return 0;
    }
    fft_->ColumnTransforms(grid_, -1);
    {
        double peak = 0.0;
        const double* p = grid_;
        for (int64_t k = 0; k < nx_ * nt_; ++k) {
            const double m = std::fabs(p[k]);
            peak = m > peak ? m : peak;
        }
        if (peak > 0.0) gain = 32767.0 / peak;
    }
    Store(out, gain);
    return 0;
}

}  // namespace

int64_t StoltPaddedSize(int64_t n) {
    int64_t p = 1;
    while (p <= n) p *= 2;
    return p;
}

double StoltTaper(int taper, int64_t n, int64_t N) {
    if (taper < 2) return 1.0;
    // Even in n by construction (cos is even; taking |n| makes the computed
    // weights of n and -n the same bits whatever the cosine's last bit does),
    // so a wavenumber and its negative share one set of weights.
    const double x = static_cast<double>(n < 0 ? -n : n), size = static_cast<double>(N);
    if (taper <= 3) return 0.5 + 0.5 * std::cos(2.0 * kPi * x / size);
    return 0.375 + 0.5 * std::cos(2.0 * kPi * x / size) + 0.125 * std::cos(4.0 * kPi * x / size);
}

int StoltMigrate(int16_t* section, int32_t traces, int32_t samples, double startSample,
                 double dx, double dt, double v, int taper, bool normalise) {
    if (section == nullptr) return kStatusNoCommonRegion;
    StoltMigrator migrator(traces, samples, startSample, dx, dt, v, taper, normalise);
    if (migrator.Status() < 0) return migrator.Status();
    const SectionAccess access{reinterpret_cast<uint8_t*>(section),
                               static_cast<ptrdiff_t>(samples) * 2, 2};
    return migrator.Run(access, access);
}

}  // namespace vantir3

int CCdpProcessToolbox::CdpMigrate(MeboDataPtr& out, const MeboDataPtr& in, double velocity,
                                   double startSample, double traceSpacing,
                                   double sampleInterval) {
    const Mebo3DDataAxis& o = out.axis;
    const Mebo3DDataAxis& a = in.axis;
    if (out.storage == nullptr || in.storage == nullptr || o.base == nullptr || a.base == nullptr)
        return vantir3::kStatusNoCommonRegion;
    if (o.elemSize != 2 || a.elemSize != 2) return vantir3::kStatusElemSizeMismatch;
    for (int k = 0; k < 3; ++k) {
        if (o.dim[k].max < o.dim[k].min) return vantir3::kStatusNoCommonRegion;
        if (o.dim[k].min != a.dim[k].min || o.dim[k].max != a.dim[k].max ||
            o.dim[k].stride != a.dim[k].stride)
            return vantir3::kMigrateLayoutMismatch;
    }
    const int64_t samples = int64_t{o.dim[0].max} - o.dim[0].min + 1;
    const int64_t traces = int64_t{o.dim[1].max} - o.dim[1].min + 1;
    if (samples > INT32_MAX || traces > INT32_MAX) return vantir3::kMigrateTooLarge;

    vantir3::StoltMigrator migrator(static_cast<int32_t>(traces), static_cast<int32_t>(samples),
                                    startSample, traceSpacing, sampleInterval * 1000.0,
                                    velocity * 1000.0, vantir3::kTaperHann, true);
    if (migrator.Status() < 0) return migrator.Status();
    for (int64_t p = o.dim[2].min; p <= o.dim[2].max; ++p) {  // (the range may end at INT32_MAX)
        const ptrdiff_t plane = (static_cast<ptrdiff_t>(p) - o.dim[2].min) * o.dim[2].stride;
        const vantir3::SectionAccess src{a.base + plane, a.dim[1].stride, a.dim[0].stride};
        const vantir3::SectionAccess dst{o.base + plane, o.dim[1].stride, o.dim[0].stride};
        const int status = migrator.Run(src, dst);
        if (status < 0) return status;
    }
    return 0;
}
#endif  // HWY_ONCE
