// In-place fast Fourier transforms on 1-based double arrays: an n-dimensional
// complex transform and a three-dimensional transform of real data, as used
// by the frequency-wavenumber migration. Internal to the library, not
// exported.
#ifndef VANTIR3_NUMERIC_FFT_H_
#define VANTIR3_NUMERIC_FFT_H_

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

}  // namespace numeric

#endif  // VANTIR3_NUMERIC_FFT_H_
