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
// the order in which independent butterflies are visited is chosen for
// memory locality:
//  - along the fastest dimension, each row of complex values is transformed
//    completely (reordering and all stages) while it sits in the first-level
//    cache;
//  - along a slower dimension, the columns (the contiguous values of the
//    faster dimensions) are taken in blocks narrow enough that all rows of a
//    block fit in the second-level cache; every butterfly then runs over the
//    contiguous columns of its block in an inner loop.
// Every value therefore sees the same operations with the same twiddle
// factors, in the same order, as in a stage-after-stage walk over the whole
// array, and the results do not depend on the blocking.
#include "vantir3/numeric/fft.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "vantir3/numeric/nr_arrays.h"

namespace numeric {

namespace {

// 2 pi as the transforms have always used it.
constexpr double kTwoPi = 6.28318530717959;

// Bytes of a column block along a slower dimension: all rows of the block
// should stay in the second-level cache while its stages run.
constexpr size_t kBlockBytes = size_t{256} * 1024;

// Fewest transforms per block, so that the butterfly loops run long enough.
constexpr size_t kMinBlockWidth = 16;

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

// Butterflies with one twiddle (wr, wi) between the complex values
// (ar[p], ai[p]) and (br[p], bi[p]), p < count, held as separate real and
// imaginary parts: a <- a + w b, b <- a - w b.
void ButterflyRun(double* __restrict ar, double* __restrict ai, double* __restrict br,
                  double* __restrict bi, size_t count, double wr, double wi) {
    for (size_t p = 0; p < count; ++p) {
        const double tr = wr * br[p] - wi * bi[p];
        const double ti = wr * bi[p] + wi * br[p];
        br[p] = ar[p] - tr;
        bi[p] = ai[p] - ti;
        ar[p] += tr;
        ai[p] += ti;
    }
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

// Transforms along a dimension of length n (see Blocking for the indexing).
// Each block is copied into `buf` as n rows, row k holding element k of the
// block's transforms in bit-reversed order of k, first all real then all
// imaginary parts; all stages run there, and the block is copied back.
// Copying avoids the cache conflicts of rows a power of two apart and lets
// every butterfly run over contiguous real and imaginary parts.
void TransformDimension(double* d, size_t n, size_t inner, size_t outer, const double* tw,
                        double* buf) {
    const Blocking blk = BlockingFor(n, inner, outer);
    const size_t w = blk.width;
    const size_t line = 2 * w;  // doubles per row of buf
    for (size_t r0 = 0; r0 < outer; r0 += blk.reps) {
        for (size_t p0 = 0; p0 < inner; p0 += blk.cols) {
            for (size_t q = 0; q < blk.reps; ++q) {
                const double* src = d + 2 * ((r0 + q) * n * inner + p0);
                size_t rev = 0;
                for (size_t k = 0; k < n; ++k) {
                    const double* s = src + 2 * rev * inner;
                    double* re = buf + k * line + q * blk.cols;
                    double* im = re + w;
                    for (size_t p = 0; p < blk.cols; ++p) {
                        re[p] = s[2 * p];
                        im[p] = s[2 * p + 1];
                    }
                    rev = NextReversed(rev, n);
                }
            }

            for (size_t half = 1; half < n; half <<= 1) {
                const size_t span = half << 1;
                const double* t = tw + 2 * half;
                for (size_t g = 0; g < n; g += span) {
                    for (size_t m = 0; m < half; ++m) {
                        double* a = buf + (g + m) * line;
                        double* b = a + half * line;
                        ButterflyRun(a, a + w, b, b + w, w, t[2 * m], t[2 * m + 1]);
                    }
                }
            }

            for (size_t q = 0; q < blk.reps; ++q) {
                double* dst = d + 2 * ((r0 + q) * n * inner + p0);
                for (size_t k = 0; k < n; ++k) {
                    double* s = dst + 2 * k * inner;
                    const double* re = buf + k * line + q * blk.cols;
                    const double* im = re + w;
                    for (size_t p = 0; p < blk.cols; ++p) {
                        s[2 * p] = re[p];
                        s[2 * p + 1] = im[p];
                    }
                }
            }
        }
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
    // dimension and the largest block buffer, neither larger than the data.
    size_t twiddle_size = 0;
    size_t block_size = 0;
    {
        size_t inner = 1;
        for (int i = ndim; i >= 1; --i) {
            const size_t n = nn[i];
            if (n > 1) {
                const size_t buf = 2 * n * BlockingFor(n, inner, total / (n * inner)).width;
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
    const double c1 = 0.5;
    const double c2 = -0.5 * isign;
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
    // the complex one: the value at frequency (f1, f2, k) is combined with the
    // one at (-f1, -f2, nn3/2 - k), the pair at k = 0 with the Nyquist plane
    // in speq. Each row is taken with its mirror row in one pass; the pairs
    // are independent except the self-paired middle column k = nn3/4, which
    // every row of a mirror pair updates in turn, the lower row first.
    for (size_t i1 = 0; i1 < n1; ++i1) {
        const size_t j1 = (n1 - i1) % n1;
        double* sj = speq[j1 + 1] + 1;
        for (size_t i2 = 0; i2 < n2; ++i2) {
            const size_t j2 = (n2 - i2) % n2;
            double* a = x + (i1 * n2 + i2) * n3;
            double* b = x + (j1 * n2 + j2) * n3;
            Twiddle w(isign, static_cast<double>(n3));

            double* s = sj + 2 * j2;
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
            w.Advance();

            for (size_t k2 = 2; k2 <= n3 / 2; k2 += 2) {  // k2 = 2k, k = 1 .. nn3/4
                double* p = a + k2;
                double* q = b + (n3 - k2);
                const double wr = w.re();
                const double wi = w.im();
                const double h1r = c1 * (p[0] + q[0]);
                const double h1i = c1 * (p[1] - q[1]);
                const double h2i = c2 * (p[0] - q[0]);
                const double h2r = -c2 * (p[1] + q[1]);
                p[0] = h1r + wr * h2r - wi * h2i;
                p[1] = h1i + wr * h2i + wi * h2r;
                q[0] = h1r - wr * h2r + wi * h2i;
                q[1] = -h1i + wr * h2i + wi * h2r;
                w.Advance();
            }
        }
    }

    if (isign == -1) fourn(x - 1, nn, 3, isign);
}

}  // namespace numeric
