// Offset-indexed numerical arrays: see nr_arrays.h for the layout.
#include "vantir3/numeric/nr_arrays.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace numeric {

namespace {

// Number of indices in the inclusive range lo..hi; negative when the range is
// inverted by more than one (an empty range, hi == lo - 1, gives 0).
int64_t Extent(int32_t lo, int32_t hi) {
    return static_cast<int64_t>(hi) - static_cast<int64_t>(lo) + 1;
}

// a * b for non-negative counts; false when either is negative or the product
// does not fit in 64 bits.
bool MulCount(int64_t a, int64_t b, int64_t* out) {
    if (a < 0 || b < 0) return false;
    if (a != 0 && b > INT64_MAX / a) return false;
    *out = a * b;
    return true;
}

// A heap block of `count` elements of T, or null when the count is negative,
// its byte size does not fit the address space, or the allocation fails.
template <typename T>
T* AllocBlock(int64_t count) {
    if (count < 0) return nullptr;
    if (static_cast<uint64_t>(count) > static_cast<uint64_t>(PTRDIFF_MAX) / sizeof(T)) {
        return nullptr;
    }
    return static_cast<T*>(std::malloc(static_cast<size_t>(count) * sizeof(T)));
}

// The pointer handed out for a block whose second element has index `lo`.
template <typename T>
T* OffsetFromBlock(T* block, int32_t lo) {
    return block + (1 - static_cast<ptrdiff_t>(lo));
}

// The block behind a pointer handed out by OffsetFromBlock.
template <typename T>
T* BlockFromOffset(T* p, int32_t lo) {
    return p + (static_cast<ptrdiff_t>(lo) - 1);
}

template <typename T>
T* NewVector(int32_t nl, int32_t nh, const char* failure) {
    const int64_t n = Extent(nl, nh);
    T* block = n < 0 ? nullptr : AllocBlock<T>(n + 1);
    if (block == nullptr) nrerror(failure);
    return OffsetFromBlock(block, nl);
}

template <typename T>
void FreeVector(T* v, int32_t nl) {
    std::free(BlockFromOffset(v, nl));
}

// Row-pointer block plus one contiguous data block. The row-pointer block
// holds at least one row slot so that m[nrl] always records the data block
// (free_matrix finds it there), even for a matrix without rows.
template <typename T>
T** NewMatrix(int32_t nrl, int32_t nrh, int32_t ncl, int32_t nch) {
    const int64_t nrow = Extent(nrl, nrh);
    const int64_t ncol = Extent(ncl, nch);
    T** rows = nrow < 0 ? nullptr : AllocBlock<T*>((nrow > 0 ? nrow : 1) + 1);
    if (rows == nullptr) nrerror("allocation failure 1 in matrix()");
    int64_t cells = 0;
    T* data = MulCount(nrow, ncol, &cells) ? AllocBlock<T>(cells + 1) : nullptr;
    if (data == nullptr) nrerror("allocation failure 2 in matrix()");

    rows[1] = OffsetFromBlock(data, ncl);
    for (int64_t i = 1; i < nrow; ++i) rows[1 + i] = rows[i] + ncol;
    return OffsetFromBlock(rows, nrl);
}

template <typename T>
void FreeMatrix(T** m, int32_t nrl, int32_t ncl) {
    std::free(BlockFromOffset(m[nrl], ncl));
    std::free(BlockFromOffset(m, nrl));
}

}  // namespace

void nrerror(const char* text) {
    std::fputs("Numerical Recipes run-time error...\n", stderr);
    std::fputs(text != nullptr ? text : "", stderr);
    std::fputs("\n", stderr);
    std::fputs("...now exiting to system...\n", stderr);
    std::exit(1);
}

double* vector(int32_t nl, int32_t nh) {
    return NewVector<double>(nl, nh, "allocation failure in vector()");
}
int32_t* ivector(int32_t nl, int32_t nh) {
    return NewVector<int32_t>(nl, nh, "allocation failure in ivector()");
}
uint8_t* cvector(int32_t nl, int32_t nh) {
    return NewVector<uint8_t>(nl, nh, "allocation failure in cvector()");
}
int32_t* lvector(int32_t nl, int32_t nh) {
    return NewVector<int32_t>(nl, nh, "allocation failure in lvector()");
}
double* dvector(int32_t nl, int32_t nh) {
    return NewVector<double>(nl, nh, "allocation failure in dvector()");
}

void free_vector(double* v, int32_t nl, int32_t /*nh*/) { FreeVector(v, nl); }
void free_ivector(int32_t* v, int32_t nl, int32_t /*nh*/) { FreeVector(v, nl); }
void free_cvector(uint8_t* v, int32_t nl, int32_t /*nh*/) { FreeVector(v, nl); }
void free_lvector(int32_t* v, int32_t nl, int32_t /*nh*/) { FreeVector(v, nl); }
void free_dvector(double* v, int32_t nl, int32_t /*nh*/) { FreeVector(v, nl); }

double** matrix(int32_t nrl, int32_t nrh, int32_t ncl, int32_t nch) {
    return NewMatrix<double>(nrl, nrh, ncl, nch);
}
double** dmatrix(int32_t nrl, int32_t nrh, int32_t ncl, int32_t nch) {
    return NewMatrix<double>(nrl, nrh, ncl, nch);
}
int32_t** imatrix(int32_t nrl, int32_t nrh, int32_t ncl, int32_t nch) {
    return NewMatrix<int32_t>(nrl, nrh, ncl, nch);
}

void free_matrix(double** m, int32_t nrl, int32_t /*nrh*/, int32_t ncl, int32_t /*nch*/) {
    FreeMatrix(m, nrl, ncl);
}
void free_dmatrix(double** m, int32_t nrl, int32_t /*nrh*/, int32_t ncl, int32_t /*nch*/) {
    FreeMatrix(m, nrl, ncl);
}
void free_imatrix(int32_t** m, int32_t nrl, int32_t /*nrh*/, int32_t ncl, int32_t /*nch*/) {
    FreeMatrix(m, nrl, ncl);
}

double** submatrix(double** a, int32_t oldrl, int32_t oldrh, int32_t oldcl, int32_t /*oldch*/,
                   int32_t newrl, int32_t newcl) {
    const int64_t nrow = Extent(oldrl, oldrh);
    double** rows = nrow < 0 ? nullptr : AllocBlock<double*>(nrow + 1);
    if (rows == nullptr) nrerror("allocation failure in submatrix()");
    // Column newcl of the new row is column oldcl of the old one.
    const ptrdiff_t shift = static_cast<ptrdiff_t>(oldcl) - static_cast<ptrdiff_t>(newcl);
    for (int64_t i = 0; i < nrow; ++i) rows[1 + i] = a[oldrl + i] + shift;
    return OffsetFromBlock(rows, newrl);
}

void free_submatrix(double** b, int32_t nrl, int32_t /*nrh*/, int32_t /*ncl*/, int32_t /*nch*/) {
    FreeVector(b, nrl);
}

double** convert_matrix(double* a, int32_t nrl, int32_t nrh, int32_t ncl, int32_t nch) {
    const int64_t nrow = Extent(nrl, nrh);
    const int64_t ncol = Extent(ncl, nch);
    double** rows = (nrow < 0 || ncol < 0) ? nullptr : AllocBlock<double*>(nrow + 1);
    if (rows == nullptr) nrerror("allocation failure in convert_matrix()");
    for (int64_t i = 0; i < nrow; ++i) {
        rows[1 + i] = a + (static_cast<ptrdiff_t>(i * ncol) - static_cast<ptrdiff_t>(ncl));
    }
    return OffsetFromBlock(rows, nrl);
}

void free_convert_matrix(double** b, int32_t nrl, int32_t /*nrh*/, int32_t /*ncl*/,
                         int32_t /*nch*/) {
    FreeVector(b, nrl);
}

double*** f3tensor(int32_t nrl, int32_t nrh, int32_t ncl, int32_t nch, int32_t ndl, int32_t ndh) {
    const int64_t nrow = Extent(nrl, nrh);
    const int64_t ncol = Extent(ncl, nch);
    const int64_t ndep = Extent(ndl, ndh);

    // As for matrices, the pointer blocks keep at least one slot each so that
    // t[nrl][ncl] always records the data block for free_f3tensor.
    double*** rows = nrow < 0 ? nullptr : AllocBlock<double**>((nrow > 0 ? nrow : 1) + 1);
    if (rows == nullptr) nrerror("allocation failure 1 in f3tensor()");
    int64_t npairs = 0;
    double** cols = MulCount(nrow, ncol, &npairs)
                        ? AllocBlock<double*>((npairs > 0 ? npairs : 1) + 1)
                        : nullptr;
    if (cols == nullptr) nrerror("allocation failure 2 in f3tensor()");
    int64_t ncells = 0;
    double* data = MulCount(npairs, ndep, &ncells) ? AllocBlock<double>(ncells + 1) : nullptr;
    if (data == nullptr) nrerror("allocation failure 3 in f3tensor()");

    rows[1] = OffsetFromBlock(cols, ncl);
    cols[1] = OffsetFromBlock(data, ndl);
    for (int64_t i = 0; i < nrow; ++i) {
        rows[1 + i] = rows[1] + i * ncol;
        for (int64_t j = 0; j < ncol; ++j) cols[1 + i * ncol + j] = cols[1] + (i * ncol + j) * ndep;
    }
    return OffsetFromBlock(rows, nrl);
}

void free_f3tensor(double*** t, int32_t nrl, int32_t /*nrh*/, int32_t ncl, int32_t /*nch*/,
                   int32_t ndl, int32_t /*ndh*/) {
    std::free(BlockFromOffset(t[nrl][ncl], ndl));
    std::free(BlockFromOffset(t[nrl], ncl));
    std::free(BlockFromOffset(t, nrl));
}

double* grid_block(size_t count) {
    constexpr size_t kLine = 64;
    constexpr size_t kHugePage = size_t{2} << 20;
    if (count > static_cast<size_t>(PTRDIFF_MAX) / sizeof(double) - kHugePage) {
        nrerror("allocation failure in grid_block()");
    }
    const size_t bytes = (count > 0 ? count : 1) * sizeof(double);
    const size_t align = bytes >= kHugePage ? kHugePage : kLine;
    const size_t rounded = (bytes + align - 1) / align * align;
    void* p = std::aligned_alloc(align, rounded);
    if (p == nullptr) nrerror("allocation failure in grid_block()");
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // Advice only: without huge pages the grid works the same, only slower.
    if (align == kHugePage) madvise(p, rounded, MADV_HUGEPAGE);
#endif
    return static_cast<double*>(p);
}

void free_grid_block(double* g) { std::free(g); }

}  // namespace numeric
