// In-place fast Fourier transforms on 1-based double arrays: an n-dimensional
// complex transform and a three-dimensional transform of real data, as used
// by the frequency-wavenumber migration. Internal to the library, not
// exported.
#ifndef VANTIR3_NUMERIC_FFT_H_
#define VANTIR3_NUMERIC_FFT_H_

#include <cstddef>
#include <cstdint>

namespace numeric {

// n-dimensional complex FFT in place. data[1 .. 2*N] holds N = nn[1]*...*
// nn[ndim] complex values interleaved (data[2m-1] real, data[2m] imaginary
// part of value m), the last dimension running fastest. Every nn[i] must be a
// power of two (anything else ends the process through nrerror).
// isign = +1 computes sum h(n) exp(+2 pi i k n / N) along each dimension,
// isign = -1 the same with -i. No normalisation: a forward and an inverse
// transform multiply the data by N.
void fourn(double data[], unsigned long nn[], int ndim, int isign);

// 3-D FFT of real data in place. data is a contiguous tensor
// [1..nn1][1..nn2][1..nn3] (as made by f3tensor), speq a matrix
// [1..nn1][1..2*nn2]; all sizes powers of two, nn3 at least 2.
//
// isign = +1 (forward): afterwards data[i1][i2][2k-1], data[i1][i2][2k] hold
// the real and imaginary parts of frequency k-1 along the third dimension
// (k = 1 .. nn3/2), speq[i1][2*i2-1], speq[i1][2*i2] the value at frequency
// nn3/2; the first two dimensions are in wrap-around order (index 1 is
// frequency 0, then positive, then negative frequencies).
// isign = -1 (inverse): takes that layout back to real data, multiplied by
// nn1*nn2*nn3/2.
//
// A tensor whose rows are not laid out contiguously ends the process through
// nrerror.
void rlft3(double*** data, double** speq, unsigned long nn1, unsigned long nn2,
           unsigned long nn3, int isign);

// The steps of rlft3 with nn1 = 1 one at a time, for a caller that works on
// the spectrum a row at a time between the transforms and touches each row
// once instead of once per step. x is a flat grid of `rows` rows of `length`
// reals (rlft3's data[1][1][1] onwards), speq a flat array of 2 * rows values
// (speq[1][1] onwards); both sizes powers of two, length at least 2.
// Applied in rlft3's order to every row, the steps give exactly rlft3's bits:
//   forward: RowTransforms(+1) of every row, ColumnTransforms(+1), then for
//            every row pair KeepNyquist of both rows before SplitPair(+1);
//   inverse: SplitPair(-1) of every row pair, then RowTransforms(-1) of
//            every row, ColumnTransforms(-1).
// Each 1-D transform depends only on its own values, so rows may be taken in
// any grouping; rows known to be all +0 may be left out of RowTransforms
// (their transform is all +0). The twiddles and block buffer are made once
// by the constructor (failure ends the process through nrerror).
// A run of grid rows: first ... first + count - 1 (limited to the grid).
struct GridRows {
    size_t first = 0;
    size_t count = SIZE_MAX;
};

// Takes rows of the column transforms' results in place of the grid: the
// complex values column ... column + count - 1 of grid row `row`, real parts
// in re[0 .. count-1], imaginary parts in im[0 .. count-1] (the grid's
// x[row * length + 2 * (column + p)] and the value after it).
class RowSink {
public:
    virtual void Take(size_t row, size_t column, size_t count, const double* re,
                      const double* im) = 0;

protected:
    ~RowSink() = default;
};

// What a pass of column transforms reads and writes: rows outside `input`
// are taken as +0 (whatever they hold, they are not read); only the rows of
// `output` are written, the others are left as they were; only complex
// columns 0 ... columns - 1 are transformed, the others are left as they
// were. With a sink, the rows of `output` go to the sink instead of the grid.
struct ColumnPass {
    GridRows input;
    GridRows output;
    size_t columns = SIZE_MAX;
    RowSink* sink = nullptr;
};

// What a pass of row transforms reads and writes: complex values 0 ...
// input - 1 of each row are read, the others taken as +0 (not read); only
// values 0 ... output - 1 are written back, the rest of the row is left as
// it was.
struct RowValues {
    size_t input = SIZE_MAX;
    size_t output = SIZE_MAX;
};

class RealFft2D {
public:
    RealFft2D(size_t rows, size_t length);
    ~RealFft2D();
    RealFft2D(const RealFft2D&) = delete;
    RealFft2D& operator=(const RealFft2D&) = delete;

    // Complex transforms (length / 2 values) along rows first ... first +
    // count - 1 (see RowValues).
    void RowTransforms(double* x, size_t first, size_t count, int isign, RowValues values = RowValues());
    // Complex transforms (rows values) along the columns (see ColumnPass).
    void ColumnTransforms(double* x, int isign, const ColumnPass& pass = ColumnPass());
    // The mirror row of row i: (rows - i) mod rows.
    size_t Mirror(size_t i) const { return (rows_ - i) % rows_; }
    // speq[2i], speq[2i+1] = the frequency-0 value of row i, before the
    // forward separation overwrites it.
    void KeepNyquist(const double* x, double* speq, size_t i) const;
    // Separates (isign +1) or merges (isign -1) the two real transforms
    // packed in rows i and Mirror(i): both rows, the lower one first. With
    // `ahead` (a row), asks for the rows ahead and Mirror(ahead) to be
    // fetched into the cache along the way.
    void SplitPair(double* x, double* speq, size_t i, int isign, size_t ahead = SIZE_MAX) const;

private:
    size_t rows_, length_;
    double* scratch_;  // twiddles of both dimensions and signs, then the block buffer
    double* rowTw_[2];
    double* colTw_[2];
    double* splitTw_[2];
    double* buf_;
};

}  // namespace numeric

#endif  // VANTIR3_NUMERIC_FFT_H_
