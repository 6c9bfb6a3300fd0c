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

#include "vantir3/numeric/nr_arrays.h"

namespace numeric {

namespace {

// 2 pi as the transforms have always used it.
constexpr double kTwoPi = 6.28318530717959;

// Bytes of a column block along a slower dimension: all rows of the block
// should stay in the second-level cache while its stages run.
constexpr size_t kBlockBytes = size_t{256} * 1024;

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

// One butterfly on the complex values a and b with twiddle (wr, wi):
// a <- a + w b, b <- a - w b.
inline void Butterfly(double* __restrict a, double* __restrict b, double wr, double wi) {
    const double tr = wr * b[0] - wi * b[1];
    const double ti = wr * b[1] + wi * b[0];
    b[0] = a[0] - tr;
    b[1] = a[1] - ti;
    a[0] += tr;
    a[1] += ti;
}

// Puts the n slots base[k * stride ...], each `width` doubles long, into
// bit-reversed order of k (n a power of two).
void BitReverse(double* base, size_t n, size_t stride, size_t width) {
    size_t rev = 0;
    for (size_t k = 0; k < n; ++k) {
        if (k < rev) {
            double* p = base + k * stride;
            double* q = base + rev * stride;
            for (size_t e = 0; e < width; ++e) {
                const double t = p[e];
                p[e] = q[e];
                q[e] = t;
            }
        }
        // rev <- next value of k + 1 with its bits reversed
        size_t bit = n >> 1;
        while (bit != 0 && (rev & bit) != 0) {
            rev ^= bit;
            bit >>= 1;
        }
        rev |= bit;
    }
}

// Transforms `nrows` consecutive rows of n complex values each (the fastest
// dimension), one row at a time.
void TransformRows(double* d, size_t n, size_t nrows, int isign) {
    for (size_t r = 0; r < nrows; ++r) {
        double* row = d + 2 * n * r;
        BitReverse(row, n, 2, 2);
        for (size_t half = 1; half < n; half <<= 1) {
            const size_t span = half << 1;
            Twiddle w(isign, static_cast<double>(span));
            for (size_t m = 0; m < half; ++m) {
                const double wr = w.re();
                const double wi = w.im();
                for (size_t k = m; k < n; k += span) {
                    Butterfly(row + 2 * k, row + 2 * (k + half), wr, wi);
                }
                w.Advance();
            }
        }
    }
}

// Butterflies between two rows of `width` complex values.
void ButterflyRows(double* __restrict a, double* __restrict b, size_t width, double wr,
                   double wi) {
    for (size_t p = 0; p < 2 * width; p += 2) {
        const double tr = wr * b[p] - wi * b[p + 1];
        const double ti = wr * b[p + 1] + wi * b[p];
        b[p] = a[p] - tr;
        b[p + 1] = a[p + 1] - ti;
        a[p] += tr;
        a[p + 1] += ti;
    }
}

// Transforms along a dimension of length n that has `inner` complex values of
// faster dimensions per index and `outer` independent repetitions of slower
// dimensions.
void TransformColumns(double* d, size_t n, size_t inner, size_t outer, int isign) {
    size_t block = kBlockBytes / (n * 2 * sizeof(double));
    if (block < 4) block = 4;
    if (block > inner) block = inner;
    const size_t row = 2 * inner;  // doubles from one index to the next
    for (size_t r = 0; r < outer; ++r) {
        double* slab = d + r * n * row;
        for (size_t p0 = 0; p0 < inner; p0 += block) {
            const size_t width = (inner - p0 < block) ? inner - p0 : block;
            double* base = slab + 2 * p0;
            BitReverse(base, n, row, 2 * width);
            for (size_t half = 1; half < n; half <<= 1) {
                const size_t span = half << 1;
                Twiddle w(isign, static_cast<double>(span));
                for (size_t m = 0; m < half; ++m) {
                    const double wr = w.re();
                    const double wi = w.im();
                    for (size_t k = m; k < n; k += span) {
                        ButterflyRows(base + k * row, base + (k + half) * row, width, wr, wi);
                    }
                    w.Advance();
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

    double* d = data + 1;  // d[0] is data[1]
    size_t inner = 1;      // complex values per index of the current dimension
    for (int i = ndim; i >= 1; --i) {
        const size_t n = nn[i];
        const size_t outer = total / (n * inner);
        if (n > 1) {
            if (inner == 1) {
                TransformRows(d, n, outer, isign);
            } else {
                TransformColumns(d, n, inner, outer, isign);
            }
        }
        inner *= n;
    }
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
