// Per-call scratch arrays of the sample kernels.
#ifndef VANTIR3_NUMERIC_SCRATCH_H_
#define VANTIR3_NUMERIC_SCRATCH_H_

#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>

namespace vantir3 {

// Per-call arrays: n elements (uninitialised) starting on a 64-byte
// boundary, so that the vector kernels' full-width loads and stores of
// aligned blocks do not straddle cache lines whatever else the heap holds;
// null when memory runs out. Only for plain element types.
struct ScratchDelete {
    void operator()(void* p) const { ::operator delete[](p, std::align_val_t{kScratchAlignment}); }
    static constexpr size_t kScratchAlignment = 64;
};
template <class T>
using Scratch = std::unique_ptr<T[], ScratchDelete>;

template <class T>
Scratch<T> NewScratch(size_t n) {
    static_assert(std::is_trivially_default_constructible<T>::value && std::is_trivially_destructible<T>::value,
                  "scratch arrays hold plain values");
    void* p = ::operator new[](sizeof(T) * (n > 0 ? n : 1), std::align_val_t{ScratchDelete::kScratchAlignment},
                               std::nothrow);
    return Scratch<T>(static_cast<T*>(p));
}

}  // namespace vantir3

#endif  // VANTIR3_NUMERIC_SCRATCH_H_
