// Offset-indexed numerical arrays and the fatal error routine they share.
//
// An array allocated for the inclusive index range nl ... nh is one heap block
// of (nh - nl + 1) + 1 elements; the pointer handed out is offset so that
// p[nl] is the block's second element and p[nh] its last. Matrices keep one
// block of row pointers (indexed the same way) over one contiguous data block
// in which row after row follows without gaps. Three-dimensional tensors add
// a block of column pointers; their data block is contiguous with the last
// index running fastest, which the real 3-D FFT relies on.
//
// All floating-point arrays hold doubles. Sizes are computed in 64 bits; a
// range that is inverted by more than one (nh < nl - 1), a size that does not
// fit the address space, or a failed allocation ends the process through
// nrerror with the allocator's message. These routines are internal to the
// library and not exported.
#ifndef VANTIR3_NUMERIC_NR_ARRAYS_H_
#define VANTIR3_NUMERIC_NR_ARRAYS_H_

#include <cstddef>
#include <cstdint>

namespace numeric {

// Writes a three-line report with `text` to the standard error stream and
// ends the process with exit status 1.
[[noreturn]] void nrerror(const char* text);

// One-dimensional arrays v[nl..nh].
double*   vector(int32_t nl, int32_t nh);
int32_t*  ivector(int32_t nl, int32_t nh);
uint8_t*  cvector(int32_t nl, int32_t nh);
int32_t*  lvector(int32_t nl, int32_t nh);
double*   dvector(int32_t nl, int32_t nh);

void free_vector(double* v, int32_t nl, int32_t nh);
void free_ivector(int32_t* v, int32_t nl, int32_t nh);
void free_cvector(uint8_t* v, int32_t nl, int32_t nh);
void free_lvector(int32_t* v, int32_t nl, int32_t nh);
void free_dvector(double* v, int32_t nl, int32_t nh);

// Matrices m[nrl..nrh][ncl..nch] with contiguous rows.
double**  matrix(int32_t nrl, int32_t nrh, int32_t ncl, int32_t nch);
double**  dmatrix(int32_t nrl, int32_t nrh, int32_t ncl, int32_t nch);
int32_t** imatrix(int32_t nrl, int32_t nrh, int32_t ncl, int32_t nch);

void free_matrix(double** m, int32_t nrl, int32_t nrh, int32_t ncl, int32_t nch);
void free_dmatrix(double** m, int32_t nrl, int32_t nrh, int32_t ncl, int32_t nch);
void free_imatrix(int32_t** m, int32_t nrl, int32_t nrh, int32_t ncl, int32_t nch);

// New row pointers onto rows oldrl..oldrh, columns oldcl..oldch of an existing
// matrix `a`, re-indexed to start at [newrl][newcl]. No data are copied;
// free_submatrix releases only the row pointers.
double** submatrix(double** a, int32_t oldrl, int32_t oldrh, int32_t oldcl, int32_t oldch,
                   int32_t newrl, int32_t newcl);
void free_submatrix(double** b, int32_t nrl, int32_t nrh, int32_t ncl, int32_t nch);

// Row pointers m[nrl..nrh][ncl..nch] over the contiguous values a[0 ...]
// (row after row). free_convert_matrix releases only the row pointers.
double** convert_matrix(double* a, int32_t nrl, int32_t nrh, int32_t ncl, int32_t nch);
void free_convert_matrix(double** b, int32_t nrl, int32_t nrh, int32_t ncl, int32_t nch);

// Tensor t[nrl..nrh][ncl..nch][ndl..ndh] over one contiguous data block.
double*** f3tensor(int32_t nrl, int32_t nrh, int32_t ncl, int32_t nch, int32_t ndl, int32_t ndh);
void free_f3tensor(double*** t, int32_t nrl, int32_t nrh, int32_t ncl, int32_t nch, int32_t ndl,
                   int32_t ndh);

// A flat work grid of `count` doubles (contents undefined) for transforms
// that sweep it many times: 64-byte aligned, and from 2 MiB up aligned to
// 2 MiB and, where the system offers it, advised for transparent huge pages,
// so that its first use faults a few large pages in instead of one per 4 KiB
// and the column passes, a page per step, stay within the address
// translation caches. Failure ends the process through nrerror
// ("allocation failure in grid_block()").
double* grid_block(size_t count);
void free_grid_block(double* g);

}  // namespace numeric

#endif  // VANTIR3_NUMERIC_NR_ARRAYS_H_
