// Radix-2 complex and real-data FFTs: see fft.h for the interface.
//
// The complex transform runs over the dimensions from the last (fastest) to
// the first. For each dimension the values are put into bit-reversed order
// and combined by Danielson-Lanczos butterflies, stage by stage. Each stage
// derives its twiddle factors from one sine pair by the trigonometric
// recurrence w <- w + w * (wpr + i wpi), wpr = -2 sin^2(theta/2),
// wpi = sin(theta).
//
// The arithmetic applied to every value is fixed by that description; only
// the order in which independent butterflies are visited and where they run
// is chosen for speed:
//  - the recurrence of each stage runs once per dimension and its values are
//    kept, so every 1-D transform of the dimension uses the very same
//    twiddles;
//  - the 1-D transforms of a dimension are taken in blocks of several
//    transforms (neighbouring rows along the fastest dimension, neighbouring
//    columns along a slower one). A block is copied into a scratch buffer in
//    bit-reversed order with real and imaginary parts apart, all its stages
//    run there (two stages per sweep over the buffer; the first stages,
//    which combine neighbouring rows only, on runs of rows that fit the
//    first-level cache), with every butterfly applied across all transforms
//    of the block in a contiguous inner loop, a vector of transforms at a
//    time in the widest instruction set the processor has, and the block is
//    copied back. The buffer stays in the second-level cache, and copying
//    avoids the cache conflicts of rows a power of two apart.
// Every value therefore sees the same operations with the same twiddle
// factors, in the same order, as in a stage-after-stage walk over the whole
// array: the results do not depend on the blocking.
#include "vantir3/numeric/fft.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "vantir3/numeric/nr_arrays.h"

// The butterfly stages are compiled once per instruction set and the best
// one the processor runs is taken at run time.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vantir3/numeric/fft.cc"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace numeric {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// One butterfly with twiddle (wr, wi) between the complex values x and y,
// held as separate real and imaginary parts: x <- x + w y, y <- x - w y.
// V is double or a vector of doubles: the same correctly rounded operations
// in the same order either way.
// The arithmetic is spelled as calls (Highway's for vectors, these for
// doubles), because scalable vectors (SVE) have no operators.
HWY_INLINE double Mul(double a, double b) { return a * b; }
HWY_INLINE double Add(double a, double b) { return a + b; }
HWY_INLINE double Sub(double a, double b) { return a - b; }
using hn::Add;
using hn::Mul;
using hn::Sub;

template <class V>
HWY_INLINE void Butterfly(V wr, V wi, V& xr, V& xi, V& yr, V& yi) {
    const V tr = Sub(Mul(wr, yr), Mul(wi, yi));
    const V ti = Add(Mul(wr, yi), Mul(wi, yr));
    yr = Sub(xr, tr);
    yi = Sub(xi, ti);
    xr = Add(xr, tr);
    xi = Add(xi, ti);
}

// Butterflies with one twiddle (wr, wi) between (ar[p], ai[p]) and
// (br[p], bi[p]), p < count: a vector of them at a time, the rest one by one.
void ButterflyRun(double* HWY_RESTRICT ar, double* HWY_RESTRICT ai, double* HWY_RESTRICT br,
                  double* HWY_RESTRICT bi, size_t count, double wr, double wi) {
    const hn::ScalableTag<double> d;
    const size_t lanes = hn::Lanes(d);
    const auto vwr = hn::Set(d, wr), vwi = hn::Set(d, wi);
    size_t p = 0;
    for (; p + lanes <= count; p += lanes) {
        auto xr = hn::LoadU(d, ar + p), xi = hn::LoadU(d, ai + p);
        auto yr = hn::LoadU(d, br + p), yi = hn::LoadU(d, bi + p);
        Butterfly(vwr, vwi, xr, xi, yr, yi);
        hn::StoreU(xr, d, ar + p);
        hn::StoreU(xi, d, ai + p);
        hn::StoreU(yr, d, br + p);
        hn::StoreU(yi, d, bi + p);
    }
    for (; p < count; ++p) Butterfly(wr, wi, ar[p], ai[p], br[p], bi[p]);
}

// Two consecutive stages on four rows of complex values (split into real and
// imaginary parts) that are `half` apart: first the pairs (a, b) and (c, d)
// with twiddle w1, then (a, c) with w2 and (b, d) with w3, exactly the
// butterflies ButterflyRun would do in two passes, with one load and store of
// each value. kOut: the results of row r (a, b, c, d) go to out[r] instead,
// real and imaginary parts interleaved, where out[r] is not null.
template <bool kOut = false>
void ButterflyRun2(double* HWY_RESTRICT ar, double* HWY_RESTRICT ai, double* HWY_RESTRICT br,
                   double* HWY_RESTRICT bi, double* HWY_RESTRICT cr, double* HWY_RESTRICT ci,
                   double* HWY_RESTRICT dr, double* HWY_RESTRICT di, size_t count, const double* w1,
                   const double* w2, const double* w3, double* const* out = nullptr) {
    const hn::ScalableTag<double> d;
    const size_t lanes = hn::Lanes(d);
    const auto v1r = hn::Set(d, w1[0]), v1i = hn::Set(d, w1[1]);
    const auto v2r = hn::Set(d, w2[0]), v2i = hn::Set(d, w2[1]);
    const auto v3r = hn::Set(d, w3[0]), v3i = hn::Set(d, w3[1]);
    size_t p = 0;
    for (; p + lanes <= count; p += lanes) {
        auto xar = hn::LoadU(d, ar + p), xai = hn::LoadU(d, ai + p);
        auto xbr = hn::LoadU(d, br + p), xbi = hn::LoadU(d, bi + p);
        auto xcr = hn::LoadU(d, cr + p), xci = hn::LoadU(d, ci + p);
        auto xdr = hn::LoadU(d, dr + p), xdi = hn::LoadU(d, di + p);
        Butterfly(v1r, v1i, xar, xai, xbr, xbi);
        Butterfly(v1r, v1i, xcr, xci, xdr, xdi);
        Butterfly(v2r, v2i, xar, xai, xcr, xci);
        Butterfly(v3r, v3i, xbr, xbi, xdr, xdi);
        const auto store = [&](size_t r, decltype(xar) re, decltype(xar) im, double* HWY_RESTRICT toRe,
                               double* HWY_RESTRICT toIm) {
            if (kOut && out[r] != nullptr) {
                hn::StoreInterleaved2(re, im, d, out[r] + 2 * p);
            } else {
                hn::StoreU(re, d, toRe + p);
                hn::StoreU(im, d, toIm + p);
            }
        };
        store(0, xar, xai, ar, ai);
        store(1, xbr, xbi, br, bi);
        store(2, xcr, xci, cr, ci);
        store(3, xdr, xdi, dr, di);
    }
    const size_t rest = p;
    for (; p < count; ++p) {
        Butterfly(w1[0], w1[1], ar[p], ai[p], br[p], bi[p]);
        Butterfly(w1[0], w1[1], cr[p], ci[p], dr[p], di[p]);
        Butterfly(w2[0], w2[1], ar[p], ai[p], cr[p], ci[p]);
        Butterfly(w3[0], w3[1], br[p], bi[p], dr[p], di[p]);
    }
    if (kOut) {
        const double* const from[4][2] = {{ar, ai}, {br, bi}, {cr, ci}, {dr, di}};
        for (size_t r = 0; r < 4; ++r) {
            for (size_t q = rest; q < count && out[r] != nullptr; ++q) {
                out[r][2 * q] = from[r][0][q];
                out[r][2 * q + 1] = from[r][1][q];
            }
        }
    }
}

// Three consecutive stages on eight rows of complex values, row k held in
// (rk, ik): the pairs (0, 1), (2, 3), (4, 5), (6, 7) with twiddle w[0], then
// (0, 2), (4, 6) with w[1] and (1, 3), (5, 7) with w[2], then (q, q + 4) with
// w[3 + q]; `get` turns the twiddle parts at w[k], w[k] + 1 into V.
template <class V, class Get>
HWY_INLINE void ThreeStages(const Get& get, const double* const* w, V& r0, V& i0, V& r1, V& i1, V& r2, V& i2,
                            V& r3, V& i3, V& r4, V& i4, V& r5, V& i5, V& r6, V& i6, V& r7, V& i7) {
    Butterfly(get(w[0]), get(w[0] + 1), r0, i0, r1, i1);
    Butterfly(get(w[0]), get(w[0] + 1), r2, i2, r3, i3);
    Butterfly(get(w[0]), get(w[0] + 1), r4, i4, r5, i5);
    Butterfly(get(w[0]), get(w[0] + 1), r6, i6, r7, i7);
    Butterfly(get(w[1]), get(w[1] + 1), r0, i0, r2, i2);
    Butterfly(get(w[1]), get(w[1] + 1), r4, i4, r6, i6);
    Butterfly(get(w[2]), get(w[2] + 1), r1, i1, r3, i3);
    Butterfly(get(w[2]), get(w[2] + 1), r5, i5, r7, i7);
    Butterfly(get(w[3]), get(w[3] + 1), r0, i0, r4, i4);
    Butterfly(get(w[4]), get(w[4] + 1), r1, i1, r5, i5);
    Butterfly(get(w[5]), get(w[5] + 1), r2, i2, r6, i6);
    Butterfly(get(w[6]), get(w[6] + 1), r3, i3, r7, i7);
}

// ThreeStages on the eight rows a + k * gap (real parts, imaginary parts
// `count` after them), k < 8, over `count` transforms: the butterflies of
// three passes of ButterflyRun with one load and store of each value.
void ButterflyRun3(double* HWY_RESTRICT a, size_t gap, size_t count, const double* const* w) {
    const hn::ScalableTag<double> d;
    const size_t lanes = hn::Lanes(d);
    const auto get = [d](const double* t) { return hn::Set(d, *t); };
    double* HWY_RESTRICT r[8];
    for (size_t k = 0; k < 8; ++k) r[k] = a + k * gap;
    size_t p = 0;
    for (; p + lanes <= count; p += lanes) {
        const size_t q = p + count;
        auto r0 = hn::LoadU(d, r[0] + p), i0 = hn::LoadU(d, r[0] + q);
        auto r1 = hn::LoadU(d, r[1] + p), i1 = hn::LoadU(d, r[1] + q);
        auto r2 = hn::LoadU(d, r[2] + p), i2 = hn::LoadU(d, r[2] + q);
        auto r3 = hn::LoadU(d, r[3] + p), i3 = hn::LoadU(d, r[3] + q);
        auto r4 = hn::LoadU(d, r[4] + p), i4 = hn::LoadU(d, r[4] + q);
        auto r5 = hn::LoadU(d, r[5] + p), i5 = hn::LoadU(d, r[5] + q);
        auto r6 = hn::LoadU(d, r[6] + p), i6 = hn::LoadU(d, r[6] + q);
        auto r7 = hn::LoadU(d, r[7] + p), i7 = hn::LoadU(d, r[7] + q);
        ThreeStages(get, w, r0, i0, r1, i1, r2, i2, r3, i3, r4, i4, r5, i5, r6, i6, r7, i7);
        const auto store = [&](size_t k, decltype(r0) re, decltype(r0) im) {
            hn::StoreU(re, d, r[k] + p);
            hn::StoreU(im, d, r[k] + q);
        };
        store(0, r0, i0);
        store(1, r1, i1);
        store(2, r2, i2);
        store(3, r3, i3);
        store(4, r4, i4);
        store(5, r5, i5);
        store(6, r6, i6);
        store(7, r7, i7);
    }
    const auto value = [](const double* t) { return *t; };
    for (; p < count; ++p) {
        const size_t q = p + count;
        ThreeStages(value, w, r[0][p], r[0][q], r[1][p], r[1][q], r[2][p], r[2][q], r[3][p], r[3][q], r[4][p],
                    r[4][q], r[5][p], r[5][q], r[6][p], r[6][q], r[7][p], r[7][q]);
    }
}

// Whether the stages go three per sweep over the buffer: where there are 32
// vector registers, which hold the sixteen vectors of a three-stage sweep's
// values with room for the twiddles and the products. With 16 (SSE4, AVX2)
// the values of such a sweep spill, and two stages per sweep measured faster.
#if (HWY_ARCH_X86 && HWY_TARGET > HWY_AVX3) || HWY_TARGET == HWY_SCALAR || HWY_TARGET == HWY_EMU128
constexpr bool kThreeStageSweeps = false;
#else
constexpr bool kThreeStageSweeps = true;
#endif

// The butterfly stages that combine transforms of length `from` into ones
// of length `to` (powers of two, from <= to <= rows) on the `rows` rows of a
// block buffer starting at buf. With kThreeStageSweeps three stages per
// sweep, a single or two stages first when their number is not a multiple of
// three (two sweeps of two where four remain); else two per sweep, a single
// one first when their number is odd.
void RunStages(double* buf, size_t line, size_t w, const double* tw, size_t rows, size_t from,
               size_t to) {
    size_t stages = 0;
    while ((from << stages) < to) ++stages;
    // The stages left to the sweeps of two.
    size_t pairs = stages & ~size_t{1};
    if (kThreeStageSweeps) pairs = stages % 3 == 0 ? 0 : (stages % 3 == 2 ? 2 : (stages == 4 ? 4 : 0));
    size_t half = from;
    if ((stages - pairs) % (kThreeStageSweeps ? 3 : 2) != 0) {
        const double* t = tw + 2 * half;
        for (size_t g = 0; g < rows; g += 2 * half) {
            for (size_t m = 0; m < half; ++m) {
                double* a = buf + (g + m) * line;
                double* b = a + half * line;
                ButterflyRun(a, a + w, b, b + w, w, t[2 * m], t[2 * m + 1]);
            }
        }
        half <<= 1;
    }
    for (; pairs != 0; pairs -= 2, half <<= 2) {
        const double* t1 = tw + 2 * half;  // stage pairing rows half apart
        const double* t2 = tw + 4 * half;  // stage pairing rows 2*half apart
        const size_t gap = half * line;
        for (size_t g = 0; g < rows; g += 4 * half) {
            for (size_t m = 0; m < half; ++m) {
                double* a = buf + (g + m) * line;
                double* b = a + gap;
                double* c = b + gap;
                double* e = c + gap;
                ButterflyRun2(a, a + w, b, b + w, c, c + w, e, e + w, w, t1 + 2 * m, t2 + 2 * m,
                              t2 + 2 * (m + half));
            }
        }
    }
    for (; half < to; half <<= 3) {
        const double* t1 = tw + 2 * half;  // stage pairing rows half apart
        const double* t2 = tw + 4 * half;  // stage pairing rows 2*half apart
        const double* t3 = tw + 8 * half;  // stage pairing rows 4*half apart
        for (size_t g = 0; g < rows; g += 8 * half) {
            for (size_t m = 0; m < half; ++m) {
                const double* const twiddles[7] = {t1 + 2 * m,
                                                   t2 + 2 * m,
                                                   t2 + 2 * (m + half),
                                                   t3 + 2 * m,
                                                   t3 + 2 * (m + half),
                                                   t3 + 2 * (m + 2 * half),
                                                   t3 + 2 * (m + 3 * half)};
                ButterflyRun3(buf + (g + m) * line, half * line, w, twiddles);
            }
        }
    }
}

// Whether this instruction set runs the stages two per sweep (see
// kThreeStageSweeps), so that LastStagesOut can take the last two.
bool TwoStageSweeps() { return !kThreeStageSweeps; }

// The last two stages of a block of transforms of length `rows` (at least
// 4) on the block buffer, pairing rows rows/4 and rows/2 apart (twiddles as
// in RunStages), with the results going out as they are made instead of
// back to the buffer and then out in a separate pass: buffer column q * cols
// + p (q < reps) of row k goes to out + q * repStride + k * rowStride, complex
// value p, for the rows k in lo ... hi - 1 (the others are not wanted). With
// a sink (reps 1), row k's results stay in the buffer and go to the sink
// (complex columns p0 onwards) right after they are made.
void LastStagesOut(double* buf, size_t line, size_t w, const double* tw, size_t rows, size_t reps, size_t cols,
                   double* out, size_t repStride, size_t rowStride, size_t lo, size_t hi, RowSink* sink,
                   size_t p0) {
    const size_t half = rows / 4;
    for (size_t m = 0; m < half; ++m) {
        double* row[4];
        size_t k[4];
        for (size_t r = 0; r < 4; ++r) {
            k[r] = m + r * half;
            row[r] = buf + k[r] * line;
        }
        for (size_t q = 0; q < reps; ++q) {
            double* to[4];
            for (size_t r = 0; r < 4; ++r) {
                to[r] = sink == nullptr && k[r] >= lo && k[r] < hi ? out + q * repStride + k[r] * rowStride : nullptr;
            }
            const size_t c = q * cols;
            ButterflyRun2<true>(row[0] + c, row[0] + w + c, row[1] + c, row[1] + w + c, row[2] + c,
                                row[2] + w + c, row[3] + c, row[3] + w + c, cols, tw + 2 * (half + m),
                                tw + 4 * half + 2 * m, tw + 4 * half + 2 * (m + half), to);
        }
        for (size_t r = 0; r < 4 && sink != nullptr; ++r) {
            if (k[r] >= lo && k[r] < hi) sink->Take(k[r], p0, cols, row[r], row[r] + w);
        }
    }
}

// One row's share of separating (isign +1) or merging (isign -1) the two
// real transforms packed in a complex one: the value at frequency k of row a
// (k = 0 ... n3/4) is combined with the one at n3/2 - k of its mirror row b
// (frequencies negated along the slower dimensions; b may be a itself), the
// pair at k = 0 with the mirror's Nyquist value s[0], s[1]. Each pair of
// mirror rows takes two calls, one per row, lower row first: both update the
// self-paired middle column k = n3/4. With aheadA and aheadB (rows that come
// next), asks for their values at the places of a and b read here to be
// fetched into the cache as the loop goes, at the pace they are taken in.
void SplitRow(double* a, double* b, double* s, size_t n3, const double* tw, int isign, const double* aheadA,
              const double* aheadB) {
    const double c1 = 0.5;
    const double c2 = -0.5 * isign;
    {
        const double h1r = c1 * (a[0] + s[0]);
        const double h1i = c1 * (a[1] - s[1]);
        const double h2i = c2 * (a[0] - s[0]);
        const double h2r = -c2 * (a[1] + s[1]);
        a[0] = h1r + h2r;
        a[1] = h1i + h2i;
        s[0] = h1r - h2r;
        s[1] = h2i - h1i;
    }
    const size_t nk = n3 / 4 + 1;
    size_t k = 1;
    // Below the middle column (where the values of a row and of its mirror
    // positions never overlap) a vector of complex values at a time, real and
    // imaginary parts side by side as they lie in the row, so that only the
    // mirror's values change places (whole complex values, in reverse); the
    // rest one by one. The same operations in the same order per value: a
    // difference x - y is the sum x + (-y) exactly, so the parts that
    // subtract where the other part adds take their operand with its sign
    // flipped (an exact exclusive or), and sums are exact in either order.
#if HWY_TARGET != HWY_SCALAR
    {
        const hn::ScalableTag<double> d;
        const size_t per = hn::Lanes(d) / 2;  // complex values per vector
        {
            const auto minus = hn::Set(d, -0.0);
            const auto flipRe = hn::OddEven(hn::Zero(d), minus);  // real parts negated
            const auto flipIm = hn::OddEven(minus, hn::Zero(d));  // imaginary parts negated
            const auto vc1 = hn::Set(d, c1);
            const auto vc2 = hn::OddEven(hn::Set(d, c2), hn::Set(d, -c2));  // (-c2, c2)
            for (; k + per <= n3 / 4; k += per) {
                if (aheadA != nullptr) {
                    __builtin_prefetch(aheadA + 2 * k);
                    __builtin_prefetch(aheadB + (n3 - 2 * k));
                }
                double* qlow = b + (n3 - 2 * (k + per - 1));
                const auto p = hn::LoadU(d, a + 2 * k);
                const auto q = hn::ReverseBlocks(d, hn::LoadU(d, qlow));
                const auto w = hn::LoadU(d, tw + 2 * k);
                // (h1r, h1i) = c1 (pr + qr, pi - qi); (h2r, h2i) = (-c2 (pi + qi), c2 (pr - qr)).
                const auto h1 = Mul(vc1, Add(p, hn::Xor(q, flipIm)));
                const auto h2 = Mul(vc2, hn::Reverse2(d, Add(p, hn::Xor(q, flipRe))));
                const auto t1 = Mul(hn::DupEven(w), h2);                 // (wr h2r, wr h2i)
                const auto t2 = Mul(hn::DupOdd(w), hn::Reverse2(d, h2));  // (wi h2i, wi h2r)
                hn::StoreU(Add(Add(h1, t1), hn::Xor(t2, flipRe)), d, a + 2 * k);
                hn::StoreU(hn::ReverseBlocks(d, Add(Add(hn::Xor(h1, flipIm), hn::Xor(t1, flipRe)), t2)), d, qlow);
            }
        }
    }
#endif
    for (; k < nk; ++k) {
        if (aheadA != nullptr) {
            __builtin_prefetch(aheadA + 2 * k);
            __builtin_prefetch(aheadB + (n3 - 2 * k));
        }
        double* p = a + 2 * k;
        double* q = b + (n3 - 2 * k);
        const double wr = tw[2 * k];
        const double wi = tw[2 * k + 1];
        const double h1r = c1 * (p[0] + q[0]);
        const double h1i = c1 * (p[1] - q[1]);
        const double h2i = c2 * (p[0] - q[0]);
        const double h2r = -c2 * (p[1] + q[1]);
        p[0] = h1r + wr * h2r - wi * h2i;
        p[1] = h1i + wr * h2i + wi * h2r;
        q[0] = h1r - wr * h2r + wi * h2i;
        q[1] = -h1i + wr * h2i + wi * h2r;
    }
}

// Between the rows of the grid and a block buffer of row transforms, a tile
// of `count` values (count even) of `rows` rows (rows a multiple of 4): with
// kIn, value t of grid row q (real part at row[2t], row q at grid + q *
// stride) to buf row at[t], column q (imaginary part `width` further);
// without, back from buf row at[t] to the grid. Where the processor has
// 4-double vectors, 4 rows and 2 values at a time through a 4 x 4
// transpose; the values are only moved, not changed.
template <bool kIn>
void TransposeTile(double* grid, size_t stride, size_t rows, size_t count, const size_t* at, double* buf,
                   size_t line, size_t width) {
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX2
    const hn::CappedTag<double, 4> d;
    for (size_t q = 0; q < rows; q += 4) {
        double* g = grid + q * stride;
        for (size_t t = 0; t < count; t += 2) {
            double* b0 = buf + at[t] * line + q;
            double* b1 = buf + at[t + 1] * line + q;
            double* from[4] = {b0, b0 + width, b1, b1 + width};
            double* to[4] = {g + 2 * t, g + stride + 2 * t, g + 2 * stride + 2 * t, g + 3 * stride + 2 * t};
            if (kIn) std::swap(from, to);
            const auto r0 = hn::LoadU(d, from[0]), r1 = hn::LoadU(d, from[1]);
            const auto r2 = hn::LoadU(d, from[2]), r3 = hn::LoadU(d, from[3]);
            const auto t0 = hn::InterleaveLower(d, r0, r1), t1 = hn::InterleaveUpper(d, r0, r1);
            const auto t2 = hn::InterleaveLower(d, r2, r3), t3 = hn::InterleaveUpper(d, r2, r3);
            hn::StoreU(hn::ConcatLowerLower(d, t2, t0), d, to[0]);
            hn::StoreU(hn::ConcatLowerLower(d, t3, t1), d, to[1]);
            hn::StoreU(hn::ConcatUpperUpper(d, t2, t0), d, to[2]);
            hn::StoreU(hn::ConcatUpperUpper(d, t3, t1), d, to[3]);
        }
    }
#else
    for (size_t q = 0; q < rows; ++q) {
        double* g = grid + q * stride;
        for (size_t t = 0; t < count; ++t) {
            double* re = buf + at[t] * line + q;
            if (kIn) {
                re[0] = g[2 * t];
                re[width] = g[2 * t + 1];
            } else {
                g[2 * t] = re[0];
                g[2 * t + 1] = re[width];
            }
        }
    }
#endif
}
// Between grid rows and a block buffer of column transforms, `count` rows
// of `cols` complex values: with `in`, grid row t (at grid + t * stride,
// real and imaginary parts interleaved) to buffer row at[t] (real parts at
// buf + at[t] * line, imaginary parts `width` further); without, back. A
// vector of values at a time, the rest one by one; values only moved.
void MoveColumns(bool in, double* grid, size_t stride, size_t count, size_t cols, const size_t* at, double* buf,
                 size_t line, size_t width) {
    const hn::ScalableTag<double> d;
    const size_t lanes = hn::Lanes(d);
    for (size_t t = 0; t < count; ++t) {
        double* g = grid + t * stride;
        double* re = buf + at[t] * line;
        double* im = re + width;
        size_t p = 0;
        for (; p + lanes <= cols; p += lanes) {
            if (in) {
                hn::Vec<decltype(d)> vr, vi;
                hn::LoadInterleaved2(d, g + 2 * p, vr, vi);
                hn::StoreU(vr, d, re + p);
                hn::StoreU(vi, d, im + p);
            } else {
                hn::StoreInterleaved2(hn::LoadU(d, re + p), hn::LoadU(d, im + p), d, g + 2 * p);
            }
        }
        for (; p < cols; ++p) {
            if (in) {
                re[p] = g[2 * p];
                im[p] = g[2 * p + 1];
            } else {
                g[2 * p] = re[p];
                g[2 * p + 1] = im[p];
            }
        }
    }
}
// The first butterfly stage of a block of columns on its way into the
// block buffer: for t < count, the `cols` complex values of source rows a[t]
// and b[t] (real and imaginary parts interleaved; a null row is +0, not
// read) through the butterfly with twiddle (wr, wi) to buffer rows at[t]
// and at[t] + 1 (real parts at buf + row * line, imaginary parts `width`
// further): the very butterflies ButterflyRun would do on the copied rows,
// a vector at a time, the rest one by one.
void MovePairsIn(const double* const* a, const double* const* b, size_t count, size_t cols, const size_t* at,
                 double* buf, size_t line, size_t width, double wr, double wi) {
    const hn::ScalableTag<double> d;
    const size_t lanes = hn::Lanes(d);
    const auto vwr = hn::Set(d, wr), vwi = hn::Set(d, wi);
    for (size_t t = 0; t < count; ++t) {
        double* xre = buf + at[t] * line;
        double* xim = xre + width;
        double* yre = xre + line;
        double* yim = yre + width;
        size_t p = 0;
        for (; p + lanes <= cols; p += lanes) {
            auto xr = hn::Zero(d), xi = hn::Zero(d), yr = hn::Zero(d), yi = hn::Zero(d);
            if (a[t] != nullptr) hn::LoadInterleaved2(d, a[t] + 2 * p, xr, xi);
            if (b[t] != nullptr) hn::LoadInterleaved2(d, b[t] + 2 * p, yr, yi);
            Butterfly(vwr, vwi, xr, xi, yr, yi);
            hn::StoreU(xr, d, xre + p);
            hn::StoreU(xi, d, xim + p);
            hn::StoreU(yr, d, yre + p);
            hn::StoreU(yi, d, yim + p);
        }
        for (; p < cols; ++p) {
            xre[p] = a[t] != nullptr ? a[t][2 * p] : 0.0;
            xim[p] = a[t] != nullptr ? a[t][2 * p + 1] : 0.0;
            yre[p] = b[t] != nullptr ? b[t][2 * p] : 0.0;
            yim[p] = b[t] != nullptr ? b[t][2 * p + 1] : 0.0;
            Butterfly(wr, wi, xre[p], xim[p], yre[p], yim[p]);
        }
    }
}
// The first butterfly stage of a block of row transforms on its way into
// the block buffer: for `rows` rows (row q at gx + q * stride and gy + q *
// stride, complex values interleaved) and t < count, value t of the x rows
// (+0, not read, outside xLo ... xHi - 1) and value t of the y rows (the
// same outside yLo ... yHi - 1) through the butterfly with twiddle (wr, wi)
// to buffer rows at[t] and at[t] + 1, column q (imaginary parts `width`
// further): the very butterflies ButterflyRun would do on the copied rows.
// Where the processor has 4-double vectors and the tiles are whole (each of
// x and y all read or all +0), 4 rows and 2 values at a time through 4 x 4
// transposes; else value by value.
void TransposePairsIn(const double* gx, const double* gy, size_t stride, size_t rows, size_t count, size_t xLo,
                      size_t xHi, size_t yLo, size_t yHi, const size_t* at, double* buf, size_t line, size_t width,
                      double wr, double wi) {
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX2
    const bool xNone = xHi <= xLo, yNone = yHi <= yLo;
    if ((xNone || (xLo == 0 && xHi == count)) && (yNone || (yLo == 0 && yHi == count)) && rows % 4 == 0 &&
        count % 2 == 0) {
        const hn::CappedTag<double, 4> d;
        const auto vwr = hn::Set(d, wr), vwi = hn::Set(d, wi);
        using V = hn::Vec<decltype(d)>;
        // Values t and t + 1 of rows g, g + stride, g + 2 stride, g + 3 stride:
        // real and imaginary parts of value t, then of value t + 1.
        const auto transpose = [&](const double* g, bool none, V& re0, V& im0, V& re1, V& im1) {
            if (none) {
                re0 = im0 = re1 = im1 = hn::Zero(d);
                return;
            }
            const auto r0 = hn::LoadU(d, g), r1 = hn::LoadU(d, g + stride);
            const auto r2 = hn::LoadU(d, g + 2 * stride), r3 = hn::LoadU(d, g + 3 * stride);
            const auto t0 = hn::InterleaveLower(d, r0, r1), t1 = hn::InterleaveUpper(d, r0, r1);
            const auto t2 = hn::InterleaveLower(d, r2, r3), t3 = hn::InterleaveUpper(d, r2, r3);
            re0 = hn::ConcatLowerLower(d, t2, t0);
            im0 = hn::ConcatLowerLower(d, t3, t1);
            re1 = hn::ConcatUpperUpper(d, t2, t0);
            im1 = hn::ConcatUpperUpper(d, t3, t1);
        };
        for (size_t q = 0; q < rows; q += 4) {
            for (size_t t = 0; t < count; t += 2) {
                V xr0, xi0, xr1, xi1, yr0, yi0, yr1, yi1;
                transpose(gx + q * stride + 2 * t, xNone, xr0, xi0, xr1, xi1);
                transpose(gy + q * stride + 2 * t, yNone, yr0, yi0, yr1, yi1);
                Butterfly(vwr, vwi, xr0, xi0, yr0, yi0);
                Butterfly(vwr, vwi, xr1, xi1, yr1, yi1);
                double* b0 = buf + at[t] * line + q;
                double* b1 = buf + at[t + 1] * line + q;
                hn::StoreU(xr0, d, b0);
                hn::StoreU(xi0, d, b0 + width);
                hn::StoreU(yr0, d, b0 + line);
                hn::StoreU(yi0, d, b0 + line + width);
                hn::StoreU(xr1, d, b1);
                hn::StoreU(xi1, d, b1 + width);
                hn::StoreU(yr1, d, b1 + line);
                hn::StoreU(yi1, d, b1 + line + width);
            }
        }
        return;
    }
#endif
    for (size_t q = 0; q < rows; ++q) {
        for (size_t t = 0; t < count; ++t) {
            const bool xIn = t >= xLo && t < xHi, yIn = t >= yLo && t < yHi;
            double xr = xIn ? gx[q * stride + 2 * t] : 0.0, xi = xIn ? gx[q * stride + 2 * t + 1] : 0.0;
            double yr = yIn ? gy[q * stride + 2 * t] : 0.0, yi = yIn ? gy[q * stride + 2 * t + 1] : 0.0;
            Butterfly(wr, wi, xr, xi, yr, yi);
            double* b = buf + at[t] * line + q;
            b[0] = xr;
            b[width] = xi;
            b[line] = yr;
            b[line + width] = yi;
        }
    }
}
void TransposeTileIn(double* grid, size_t stride, size_t rows, size_t count, const size_t* at, double* buf,
                     size_t line, size_t width) {
    TransposeTile<true>(grid, stride, rows, count, at, buf, line, width);
}
void TransposeTileOut(double* grid, size_t stride, size_t rows, size_t count, const size_t* at, double* buf,
                      size_t line, size_t width) {
    TransposeTile<false>(grid, stride, rows, count, at, buf, line, width);
}

}  // namespace HWY_NAMESPACE
}  // namespace numeric
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace numeric {

HWY_EXPORT(RunStages);
HWY_EXPORT(TwoStageSweeps);
HWY_EXPORT(LastStagesOut);
HWY_EXPORT(SplitRow);
HWY_EXPORT(TransposeTileIn);
HWY_EXPORT(TransposeTileOut);
HWY_EXPORT(MoveColumns);
HWY_EXPORT(MovePairsIn);
HWY_EXPORT(TransposePairsIn);

namespace {

// 2 pi as the transforms have always used it.
constexpr double kTwoPi = 6.28318530717959;

// Target size in bytes of a block buffer: it should stay in the second-level
// cache while the stages run.
constexpr size_t kBlockBytes = size_t{256} * 1024;

// Rows of each transform copied together into or out of a block buffer: a
// few cache lines of the source at a time, while the buffer rows they land in
// stay in the first-level cache.
constexpr size_t kTile = 16;

// Most bytes of block buffer rows whose first stages run together while they
// stay in the first-level cache (32 to 48 KiB of data on current x86-64
// processors; 16 KiB runs measured slower on 48).
constexpr size_t kLocalBytes = size_t{32} * 1024;

// Padding after each row of a block buffer, in doubles.
constexpr size_t kPad = 8;

// Fewest transforms per block, so that the butterfly loops run long enough
// and a block along a slow dimension takes eight whole cache lines of each
// row it copies (four moved the columns of a 2048-row grid more slowly).
constexpr size_t kMinBlockWidth = 32;

// Twiddle factors of one butterfly stage that combines transforms of length
// span / 2 into transforms of length span: w_m = exp(isign * 2 pi i m / span),
// m = 0, 1, ..., produced by the recurrence.
class Twiddle {
public:
    Twiddle(int isign, double span) {
        const double theta = isign * kTwoPi / span;
        const double s = std::sin(0.5 * theta);
        wpr_ = -2.0 * s * s;
        wpi_ = std::sin(theta);
    }
    double re() const { return wr_; }
    double im() const { return wi_; }
    void Advance() {
        const double wr = wr_;
        wr_ = wr * wpr_ - wi_ * wpi_ + wr;
        wi_ = wi_ * wpr_ + wr * wpi_ + wi_;
    }

private:
    double wr_ = 1.0;
    double wi_ = 0.0;
    double wpr_;
    double wpi_;
};

// Runs the recurrence of every stage of a length-n transform once and keeps
// its values: the twiddle of stage `half` (pairs half apart) for index m is
// the complex value tw[half + m], m < half, i.e. tw[2 * (half + m)] and
// tw[2 * (half + m) + 1]. The rows and column blocks of one dimension then
// all use exactly these values instead of rerunning the recurrence.
void FillTwiddles(double* tw, size_t n, int isign) {
    for (size_t half = 1; half < n; half <<= 1) {
        Twiddle w(isign, static_cast<double>(half << 1));
        for (size_t m = 0; m < half; ++m) {
            tw[2 * (half + m)] = w.re();
            tw[2 * (half + m) + 1] = w.im();
            w.Advance();
        }
    }
}

// Next value of `rev`, an index of n (a power of two) with its bits reversed,
// when the index itself goes up by one.
inline size_t NextReversed(size_t rev, size_t n) {
    size_t bit = n >> 1;
    while (bit != 0 && (rev & bit) != 0) {
        rev ^= bit;
        bit >>= 1;
    }
    return rev | bit;
}

// rev[t] = the bit reversals (in n) of count consecutive indices, the first
// one's being `next`; returns the one after them.
inline size_t ReversedRun(size_t* rev, size_t count, size_t next, size_t n) {
    for (size_t t = 0; t < count; ++t) {
        rev[t] = next;
        next = NextReversed(next, n);
    }
    return next;
}

// How one dimension's independent 1-D transforms are taken in blocks. The
// transforms are indexed by (r, p), r < outer (slower dimensions), p < inner
// (faster dimensions); element k of transform (r, p) is complex value
// (r * n + k) * inner + p. A block holds `width` transforms: `reps`
// consecutive r, each with `cols` consecutive p.
struct Blocking {
    size_t width;
    size_t reps;
    size_t cols;
};

Blocking BlockingFor(size_t n, size_t inner, size_t outer) {
    size_t width = kBlockBytes / (n * 2 * sizeof(double));
    if (width < kMinBlockWidth) width = kMinBlockWidth;
    if (width > inner * outer) width = inner * outer;
    if (width <= inner) return Blocking{width, 1, width};
    return Blocking{width, width / inner, inner};
}

// Doubles per row of a block buffer for `width` transforms: the real parts,
// the imaginary parts and one cache line of padding, so that rows a power of
// two apart do not all fall into the same cache set.
size_t BufferLine(size_t width) { return 2 * width + kPad; }

// Copies the block whose first transform starts at `first` into buf: source
// rows in memory order, `tile` rows of every transform at a time, each to its
// bit-reversed row of buf.
// Asks for the tile `kAhead` tiles after the one at row k0 (of every
// transform of the block, `bytes` from each of its rows) to be fetched into
// the cache while the current one is copied: along a slow dimension the rows
// are far apart, which the processor's own prefetching does not follow.
// kWrite: the lines are about to be written.
template <bool kWrite>
void PrefetchTile(const double* first, size_t n, size_t inner, const Blocking& blk, size_t k0,
                  size_t tile, size_t bytes, size_t lo, size_t hi) {
    constexpr size_t kAhead = 2;
    constexpr size_t kLineBytes = 64;
    const size_t k = k0 + kAhead * tile;
    if (k >= n) return;
    for (size_t q = 0; q < blk.reps; ++q) {
        const char* src = reinterpret_cast<const char*>(first + 2 * (q * n + k) * inner);
        for (size_t t = 0; t < tile; ++t) {
            if (k + t < lo || k + t >= hi) continue;
            const char* row = src + t * inner * 2 * sizeof(double);
            for (size_t b = 0; b < bytes; b += kLineBytes) __builtin_prefetch(row + b, kWrite ? 1 : 0);
        }
    }
}

// The row of a tile starting at element k0 (of `tile` elements) where
// element k falls, limited to 0 ... tile.
inline size_t TileRow(size_t k, size_t k0, size_t tile) {
    return k <= k0 ? 0 : (k - k0 < tile ? k - k0 : tile);
}

// kOneColumn: the block takes one value per row and transform (blk.cols is
// 1), the usual case along the fastest dimension. Elements k outside lo ...
// hi - 1 are known to be +0: they are not read, +0 is written in their place.
template <bool kOneColumn>
void CopyIn(const double* first, size_t n, size_t inner, const Blocking& blk, size_t line,
            double* buf, size_t lo, size_t hi) {
    const size_t cols = kOneColumn ? 1 : blk.cols;
    const size_t tile = n < kTile ? n : kTile;
    size_t rev[kTile];
    size_t next = 0;
    for (size_t k0 = 0; k0 < n; k0 += tile) {
        next = ReversedRun(rev, tile, next, n);
        // The rows of the tile outside lo ... hi - 1: +0 for every transform
        // of the block, real and imaginary parts (one run of each buffer row).
        const size_t tLo = TileRow(lo, k0, tile), tHi = TileRow(hi, k0, tile);
        for (size_t t = 0; t < tile; ++t) {
            if (t < tLo || t >= tHi) std::fill_n(buf + rev[t] * line, 2 * blk.width, 0.0);
        }
        if (!kOneColumn) PrefetchTile<false>(first, n, inner, blk, k0, tile, cols * 2 * sizeof(double), lo, hi);
        if (tHi <= tLo) continue;
        if (!kOneColumn) {
            // The rows within lo ... hi - 1 through vectors.
            for (size_t q = 0; q < blk.reps; ++q) {
                const double* src = first + 2 * (q * n + k0) * inner;
                HWY_DYNAMIC_DISPATCH(MoveColumns)(true, const_cast<double*>(src + 2 * tLo * inner), 2 * inner, tHi - tLo,
                                                  cols, rev + tLo, buf + q * cols, line, blk.width);
            }
            continue;
        } else if (k0 >= lo && k0 + tile <= hi && blk.reps % 4 == 0 && tile % 2 == 0) {
            HWY_DYNAMIC_DISPATCH(TransposeTileIn)(const_cast<double*>(first + 2 * k0), 2 * n, blk.reps, tile, rev,
                                                  buf, line, blk.width);
            continue;
        }
        for (size_t q = 0; q < blk.reps; ++q) {
            const double* src = first + 2 * (q * n + k0) * inner;
            for (size_t t = 0; t < tile; ++t) {
                if (t < tLo || t >= tHi) continue;
                const double* s = src + 2 * t * inner;
                double* re = buf + rev[t] * line + q * cols;
                double* im = re + blk.width;
                for (size_t p = 0; p < cols; ++p) {
                    re[p] = s[2 * p];
                    im[p] = s[2 * p + 1];
                }
            }
        }
    }
}

// k with its bits reversed, k < n (a power of two).
inline size_t Reversed(size_t k, size_t n) {
    size_t r = 0;
    for (size_t bit = 1; bit < n; bit <<= 1) r = (r << 1) | ((k & bit) != 0 ? 1 : 0);
    return r;
}

// For blocks of several columns (whose rows lie far apart in the source):
// copies into buf only the `local` rows run0 ... run0 + local - 1 (local a
// power of two dividing n, at least 2, run0 a multiple of it), on which the
// first stages then run while they are still in the first-level cache,
// instead of the whole block before those stages (a block of columns of a
// long dimension is larger than the second-level cache). The first stage
// (twiddle tw[2], tw[3]) is done on the way in: buffer rows run0 + 2r and
// run0 + 2r + 1, which it pairs, hold source elements k = Reversed(run0 +
// 2r, n) and k + n / 2. Elements outside lo ... hi - 1 are +0, not read.
// Also asks for the source rows of the run starting at `next` (if below n)
// to be fetched into the cache.
void CopyRunIn(const double* first, size_t n, size_t inner, const Blocking& blk, size_t line, size_t local,
               double* buf, size_t run0, size_t next, size_t lo, size_t hi, const double* tw) {
    const size_t spacing = n / local;
    const size_t bytes = blk.cols * 2 * sizeof(double);
    if (next < n) {
        // The next run's source elements are Reversed(next, n) + spacing * i.
        constexpr size_t kLineBytes = 64;
        const size_t k0 = Reversed(next, n);
        for (size_t q = 0; q < blk.reps; ++q) {
            for (size_t i = 0; i < local; ++i) {
                const size_t k = k0 + spacing * i;
                if (k < lo || k >= hi) continue;
                const char* row = reinterpret_cast<const char*>(first + 2 * (q * n + k) * inner);
                for (size_t b = 0; b < bytes; b += kLineBytes) __builtin_prefetch(row + b);
            }
        }
    }
    const auto source = [&](const double* src, size_t k) { return k >= lo && k < hi ? src + 2 * k * inner : nullptr; };
    const double* a[kTile];
    const double* b[kTile];
    size_t at[kTile];
    for (size_t q = 0; q < blk.reps; ++q) {
        const double* src = first + 2 * q * n * inner;
        for (size_t r0 = 0; r0 < local / 2; r0 += kTile) {
            const size_t count = local / 2 - r0 < kTile ? local / 2 - r0 : kTile;
            for (size_t t = 0; t < count; ++t) {
                at[t] = run0 + 2 * (r0 + t);
                const size_t k = Reversed(at[t], n);
                a[t] = source(src, k);
                b[t] = source(src, k + n / 2);
            }
            HWY_DYNAMIC_DISPATCH(MovePairsIn)(a, b, count, blk.cols, at, buf + q * blk.cols, line, blk.width, tw[2],
                                              tw[3]);
        }
    }
}

// For blocks of whole rows (one value per transform and row of buf, inner
// 1, n at least 2 kTile): copies the block into buf with the first stage
// (twiddle tw[2], tw[3]) done on the way in. The stage pairs buffer rows
// 2r and 2r + 1, which hold elements k and k + n / 2 (k = Reversed(2r, n)),
// so tiles of elements k0 ... and k0 + n / 2 ... are taken together.
// Elements outside lo ... hi - 1 are +0, not read.
void CopyPairsIn(const double* first, size_t n, const Blocking& blk, size_t line, double* buf, size_t lo, size_t hi,
                 const double* tw) {
    const size_t half = n / 2;
    size_t rev[kTile];
    size_t next = 0;
    for (size_t k0 = 0; k0 < half; k0 += kTile) {
        next = ReversedRun(rev, kTile, next, n);
        HWY_DYNAMIC_DISPATCH(TransposePairsIn)(first + 2 * k0, first + 2 * (k0 + half), 2 * n, blk.reps, kTile,
                                               TileRow(lo, k0, kTile), TileRow(hi, k0, kTile),
                                               TileRow(lo, k0 + half, kTile), TileRow(hi, k0 + half, kTile), rev, buf,
                                               line, blk.width, tw[2], tw[3]);
    }
}

// Copies buf back to the block whose first transform starts at `out`, in the
// same tiles as CopyIn: only the elements k in lo ... hi - 1, the others are
// not wanted. With a sink (only for blocks of one run of columns, blk.reps
// 1, starting at column p0), the values go there instead.
template <bool kOneColumn>
void CopyOut(double* out, size_t n, size_t inner, const Blocking& blk, size_t line,
             const double* buf, size_t lo, size_t hi, RowSink* sink, size_t p0) {
    const size_t cols = kOneColumn ? 1 : blk.cols;
    const size_t tile = n < kTile ? n : kTile;
    for (size_t k0 = 0; k0 < n; k0 += tile) {
        if (k0 + tile <= lo || k0 >= hi) continue;
        if (sink != nullptr) {
            for (size_t k = k0; k < k0 + tile; ++k) {
                if (k < lo || k >= hi) continue;
                const double* re = buf + k * line;
                sink->Take(k, p0, cols, re, re + blk.width);
            }
            continue;
        }
        if (!kOneColumn) {
            PrefetchTile<true>(out, n, inner, blk, k0, tile, cols * 2 * sizeof(double), lo, hi);
            const size_t tLo = TileRow(lo, k0, tile), tHi = TileRow(hi, k0, tile);
            size_t at[kTile];
            for (size_t t = 0; t < tile; ++t) at[t] = k0 + t;
            for (size_t q = 0; q < blk.reps && tLo < tHi; ++q) {
                double* dst = out + 2 * (q * n + k0) * inner;
                HWY_DYNAMIC_DISPATCH(MoveColumns)(false, dst + 2 * tLo * inner, 2 * inner, tHi - tLo, cols, at + tLo,
                                                  const_cast<double*>(buf) + q * cols, line, blk.width);
            }
            continue;
        } else if (k0 >= lo && k0 + tile <= hi && blk.reps % 4 == 0 && tile % 2 == 0) {
            size_t at[kTile];
            for (size_t t = 0; t < tile; ++t) at[t] = k0 + t;
            HWY_DYNAMIC_DISPATCH(TransposeTileOut)(out + 2 * k0, 2 * n, blk.reps, tile, at,
                                                   const_cast<double*>(buf), line, blk.width);
            continue;
        }
        for (size_t q = 0; q < blk.reps; ++q) {
            double* dst = out + 2 * (q * n + k0) * inner;
            for (size_t t = 0; t < tile; ++t) {
                if (k0 + t < lo || k0 + t >= hi) continue;
                double* s = dst + 2 * t * inner;
                const double* re = buf + (k0 + t) * line + q * cols;
                const double* im = re + blk.width;
                for (size_t p = 0; p < cols; ++p) {
                    s[2 * p] = re[p];
                    s[2 * p + 1] = im[p];
                }
            }
        }
    }
}

// What a dimension's transforms may leave out: elements k outside inLo ...
// inHi - 1 of every transform are +0 on input (not read); only elements
// outLo ... outHi - 1 are wanted on output (written, or given to the sink);
// only the transforms (r, p) with p < innerHi are taken (the others are left
// as they were).
struct Pruning {
    size_t inLo = 0, inHi = SIZE_MAX;
    size_t outLo = 0, outHi = SIZE_MAX;
    size_t innerHi = SIZE_MAX;
    RowSink* sink = nullptr;
};

// Transforms along a dimension of length n (see Blocking for the indexing).
// Each block is copied into `buf` as n rows, row k holding element k of the
// block's transforms in bit-reversed order of k, first all real then all
// imaginary parts; all stages run there, and the block is copied back.
// Copying avoids the cache conflicts of rows a power of two apart and lets
// every butterfly run over contiguous real and imaginary parts.
void TransformDimension(double* d, size_t n, size_t inner, size_t outer, const double* tw,
                        double* buf, const Pruning& prune = Pruning()) {
    const Blocking full = BlockingFor(n, inner, outer);
    const size_t line = BufferLine(full.width);
    const size_t innerHi = prune.innerHi < inner ? prune.innerHi : inner;
    size_t local = n;
    while (local > 2 && local * line * sizeof(double) > kLocalBytes) local >>= 1;
    // Where the stages go two per sweep, an odd number of them in both
    // phases would take a sweep of one stage in each: one stage fewer in
    // the local phase makes both even (for the 16-row blocks of the
    // migration's inverse row transforms, 4 and 4 stages instead of 5 and
    // 3). The first stage of blocks of columns copied a run at a time, and
    // of blocks of whole rows, is done as they are copied in (see below).
    const bool firstOnTheWay = (full.cols > 1 && local < n) || (full.cols == 1 && inner == 1 && n >= 2 * kTile);
    const auto stagesOf = [](size_t span) {
        size_t stages = 0;
        while ((size_t{1} << stages) < span) ++stages;
        return stages;
    };
    if (local > 2 && HWY_DYNAMIC_DISPATCH(TwoStageSweeps)() && (stagesOf(local) - (firstOnTheWay ? 1 : 0)) % 2 == 1 &&
        stagesOf(n / local) % 2 == 1) {
        local >>= 1;
    }
    for (size_t r0 = 0; r0 < outer; r0 += full.reps) {
        // The last block may hold fewer transforms when `outer` is not a
        // multiple of the block's (a run of rows of any count), or when the
        // transforms end at innerHi within a block of columns.
        Blocking row = full;
        if (outer - r0 < row.reps) {
            row.reps = outer - r0;
            row.width = row.reps * row.cols;
        }
        for (size_t p0 = 0; p0 < innerHi; p0 += row.cols) {
            Blocking blk = row;
            if (innerHi - p0 < blk.cols) {
                blk.cols = innerHi - p0;
                blk.width = blk.reps * blk.cols;
            }
            const size_t w = blk.width;
            const double* first = d + 2 * (r0 * n * inner + p0);

            // The first stages combine neighbouring rows only: they run on
            // runs of `local` rows that stay in the first-level cache, the
            // rest over the whole buffer. Blocks of columns are copied in a
            // run at a time just before its stages; they and blocks of whole
            // rows do the first stage on the way in.
            const bool byRun = blk.cols > 1 && local < n;
            const bool pairsIn = blk.cols == 1 && inner == 1 && n >= 2 * kTile;
            if (byRun) {
                // Copied below, a run at a time.
            } else if (pairsIn) {
                CopyPairsIn(first, n, blk, line, buf, prune.inLo, prune.inHi, tw);
            } else if (blk.cols == 1) {
                CopyIn<true>(first, n, inner, blk, line, buf, prune.inLo, prune.inHi);
            } else {
                CopyIn<false>(first, n, inner, blk, line, buf, prune.inLo, prune.inHi);
            }
            for (size_t g0 = 0; g0 < n; g0 += local) {
                if (byRun) CopyRunIn(first, n, inner, blk, line, local, buf, g0, g0 + local, prune.inLo, prune.inHi, tw);
                HWY_DYNAMIC_DISPATCH(RunStages)(buf + g0 * line, line, w, tw, local, byRun || pairsIn ? 2 : 1, local);
            }
            // Blocks of columns take their last two stages straight to the
            // output where the stages go two per sweep.
            double* out = d + 2 * (r0 * n * inner + p0);
            const bool lastOut = byRun && n / local >= 4 && HWY_DYNAMIC_DISPATCH(TwoStageSweeps)();
            HWY_DYNAMIC_DISPATCH(RunStages)(buf, line, w, tw, n, local, lastOut ? n / 4 : n);
            if (lastOut) {
                HWY_DYNAMIC_DISPATCH(LastStagesOut)(buf, line, w, tw, n, blk.reps, blk.cols, out, 2 * n * inner, 2 * inner,
                                                    prune.outLo, prune.outHi, prune.sink, p0);
            } else if (blk.cols == 1) {
                CopyOut<true>(out, n, inner, blk, line, buf, prune.outLo, prune.outHi, prune.sink, p0);
            } else {
                CopyOut<false>(out, n, inner, blk, line, buf, prune.outLo, prune.outHi, prune.sink, p0);
            }
        }
    }
}

// The twiddles w_k = exp(isign * 2 pi i k / n3), k = 0 ... n3/4, of the
// separation of two real transforms packed in one complex transform of
// length n3/2, from the recurrence: tw[2k], tw[2k+1].
void FillSplitTwiddles(double* tw, size_t n3, int isign) {
    Twiddle w(isign, static_cast<double>(n3));
    for (size_t k = 0; k <= n3 / 4; ++k) {
        tw[2 * k] = w.re();
        tw[2 * k + 1] = w.im();
        w.Advance();
    }
}

bool IsPowerOfTwo(unsigned long n) { return n != 0 && (n & (n - 1)) == 0; }

}  // namespace

void fourn(double data[], unsigned long nn[], int ndim, int isign) {
    if (ndim < 1) return;
    size_t total = 1;
    for (int i = 1; i <= ndim; ++i) {
        if (!IsPowerOfTwo(nn[i])) nrerror("fourn: dimensions must be powers of two");
        if (nn[i] > SIZE_MAX / 2 / total) nrerror("fourn: data size too large");
        total *= nn[i];
    }

    // One scratch block for the whole call: the twiddles of the longest
    // dimension and the largest block buffer.
    size_t twiddle_size = 0;
    size_t block_size = 0;
    {
        size_t inner = 1;
        for (int i = ndim; i >= 1; --i) {
            const size_t n = nn[i];
            if (n > 1) {
                const size_t buf = n * BufferLine(BlockingFor(n, inner, total / (n * inner)).width);
                if (2 * n > twiddle_size) twiddle_size = 2 * n;
                if (buf > block_size) block_size = buf;
            }
            inner *= n;
        }
    }
    if (twiddle_size == 0) return;  // every dimension has length 1
    double* scratch =
        static_cast<double*>(std::malloc((twiddle_size + block_size) * sizeof(double)));
    if (scratch == nullptr) nrerror("allocation failure in fourn()");
    double* tw = scratch;
    double* buf = scratch + twiddle_size;

    double* d = data + 1;  // d[0] is data[1]
    size_t inner = 1;      // complex values per index of the current dimension
    for (int i = ndim; i >= 1; --i) {
        const size_t n = nn[i];
        const size_t outer = total / (n * inner);
        if (n > 1) {
            FillTwiddles(tw, n, isign);
            TransformDimension(d, n, inner, outer, tw, buf);
        }
        inner *= n;
    }
    std::free(scratch);
}

void rlft3(double*** data, double** speq, unsigned long nn1, unsigned long nn2,
           unsigned long nn3, int isign) {
    if (!IsPowerOfTwo(nn1) || !IsPowerOfTwo(nn2) || !IsPowerOfTwo(nn3) || nn3 < 2) {
        nrerror("rlft3: dimensions must be powers of two, nn3 at least 2");
    }

    // Every row data[i1][i2] must start where the previous one ends, so that
    // the whole tensor can be treated as one flat array x[0 .. nn1*nn2*nn3-1].
    double* x = &data[1][1][1];
    const uintptr_t origin = reinterpret_cast<uintptr_t>(x);
    for (unsigned long i1 = 1; i1 <= nn1; ++i1) {
        for (unsigned long i2 = 1; i2 <= nn2; ++i2) {
            const uintptr_t offset = ((i1 - 1) * nn2 + (i2 - 1)) * nn3 * sizeof(double);
            if (reinterpret_cast<uintptr_t>(&data[i1][i2][1]) != origin + offset) {
                nrerror("rlft3: problem with dimensions or contiguity of data array\n");
            }
        }
    }

    const size_t n1 = nn1;
    const size_t n2 = nn2;
    const size_t n3 = nn3;
    unsigned long nn[4] = {0, nn1, nn2, nn3 >> 1};

    if (isign == 1) {
        fourn(x - 1, nn, 3, isign);
        for (size_t i1 = 0; i1 < n1; ++i1) {
            double* s = speq[i1 + 1] + 1;
            for (size_t i2 = 0; i2 < n2; ++i2) {
                const double* row = x + (i1 * n2 + i2) * n3;
                s[2 * i2] = row[0];
                s[2 * i2 + 1] = row[1];
            }
        }
    }

    // Separate (forward) or merge (inverse) the two real transforms packed in
    // the complex one, row by row with its mirror row (see SplitRow).
    const size_t nk = n3 / 4 + 1;
    double* tw = static_cast<double*>(std::malloc(2 * nk * sizeof(double)));
    if (tw == nullptr) nrerror("allocation failure in rlft3()");
    FillSplitTwiddles(tw, n3, isign);
    for (size_t i1 = 0; i1 < n1; ++i1) {
        const size_t j1 = (n1 - i1) % n1;
        for (size_t i2 = 0; i2 < n2; ++i2) {
            const size_t j2 = (n2 - i2) % n2;
            HWY_DYNAMIC_DISPATCH(SplitRow)(x + (i1 * n2 + i2) * n3, x + (j1 * n2 + j2) * n3, speq[j1 + 1] + 1 + 2 * j2, n3,
                                           tw, isign, nullptr, nullptr);
        }
    }
    std::free(tw);

    if (isign == -1) fourn(x - 1, nn, 3, isign);
}

namespace {

// Index into the per-sign tables: 0 for +1, 1 for -1.
inline int SignSlot(int isign) { return isign == 1 ? 0 : 1; }

size_t BlockBufferSize(size_t n, size_t inner, size_t outer) {
    return n > 1 ? n * BufferLine(BlockingFor(n, inner, outer).width) : 0;
}

}  // namespace

RealFft2D::RealFft2D(size_t rows, size_t length) : rows_(rows), length_(length) {
    if (!IsPowerOfTwo(rows) || !IsPowerOfTwo(length) || length < 2) {
        nrerror("rlft3: dimensions must be powers of two, nn3 at least 2");
    }
    const size_t half = length / 2;
    const size_t rowBuf = BlockBufferSize(half, 1, rows);
    const size_t colBuf = BlockBufferSize(rows, half, 1);
    const size_t splitTw = 2 * (length / 4 + 1);
    const size_t total = 2 * (2 * half + 2 * rows + splitTw) + (rowBuf > colBuf ? rowBuf : colBuf);
    scratch_ = static_cast<double*>(std::malloc(total * sizeof(double)));
    if (scratch_ == nullptr) nrerror("allocation failure in rlft3()");
    double* p = scratch_;
    for (int slot = 0; slot < 2; ++slot) {
        const int isign = slot == 0 ? 1 : -1;
        rowTw_[slot] = p;
        FillTwiddles(p, half, isign);
        p += 2 * half;
        colTw_[slot] = p;
        FillTwiddles(p, rows, isign);
        p += 2 * rows;
        splitTw_[slot] = p;
        FillSplitTwiddles(p, length, isign);
        p += splitTw;
    }
    buf_ = p;
}

RealFft2D::~RealFft2D() { std::free(scratch_); }

void RealFft2D::RowTransforms(double* x, size_t first, size_t count, int isign, RowValues values) {
    if (length_ / 2 < 2 || count == 0) return;
    Pruning prune;
    prune.inHi = values.input;
    prune.outHi = values.output;
    TransformDimension(x + first * length_, length_ / 2, 1, count, rowTw_[SignSlot(isign)], buf_, prune);
}

namespace {

// The end of a run of rows, limited to the grid's `rows`.
size_t RunEnd(const GridRows& r, size_t rows) {
    return r.first >= rows || r.count >= rows - r.first ? rows : r.first + r.count;
}

}  // namespace

void RealFft2D::ColumnTransforms(double* x, int isign, const ColumnPass& pass) {
    Pruning prune;
    prune.inLo = pass.input.first;
    prune.inHi = RunEnd(pass.input, rows_);
    prune.outLo = pass.output.first;
    prune.outHi = RunEnd(pass.output, rows_);
    prune.innerHi = pass.columns < length_ / 2 ? pass.columns : length_ / 2;
    prune.sink = pass.sink;
    if (rows_ < 2) {
        // A single row: its column transforms leave it as it is.
        if (prune.sink != nullptr && prune.outLo < prune.outHi) {
            for (size_t p = 0; p < prune.innerHi; ++p) prune.sink->Take(0, p, 1, x + 2 * p, x + 2 * p + 1);
        }
        return;
    }
    TransformDimension(x, rows_, length_ / 2, 1, colTw_[SignSlot(isign)], buf_, prune);
}

void RealFft2D::KeepNyquist(const double* x, double* speq, size_t i) const {
    speq[2 * i] = x[i * length_];
    speq[2 * i + 1] = x[i * length_ + 1];
}

void RealFft2D::SplitPair(double* x, double* speq, size_t i, int isign, size_t ahead) const {
    const size_t j = Mirror(i);
    const double* tw = splitTw_[SignSlot(isign)];
    const size_t lo = i < j ? i : j, hi = i < j ? j : i;
    // The rows of pair `ahead`, lower one first.
    const double* next[2] = {nullptr, nullptr};
    if (ahead < rows_) {
        const size_t m = Mirror(ahead);
        next[0] = x + (ahead < m ? ahead : m) * length_;
        next[1] = x + (ahead < m ? m : ahead) * length_;
    }
    HWY_DYNAMIC_DISPATCH(SplitRow)(x + lo * length_, x + hi * length_, speq + 2 * hi, length_, tw, isign, next[0],
                                   next[1]);
    if (hi != lo) {
        HWY_DYNAMIC_DISPATCH(SplitRow)(x + hi * length_, x + lo * length_, speq + 2 * lo, length_, tw, isign, next[1],
                                       next[0]);
    }
}

}  // namespace numeric
#endif  // HWY_ONCE
