// The memory behind the samples of a storage record (data_buffer.cc).
//
// Blocks below kLargeBlockBytes come from malloc. Larger blocks are mapped
// on 2 MiB boundaries and marked for transparent huge pages, so that a fresh
// block is faulted in by the 2 MiB page rather than by the 4 KiB page, and
// the last large block a thread frees is kept for that thread's next
// allocation of the same size (a host that releases its output between
// calls then allocates without any page fault). A thread's kept block is
// given back when the thread ends, and at exit for the main thread.
#ifndef VANTIR3_DATA_SAMPLE_MEMORY_H_
#define VANTIR3_DATA_SAMPLE_MEMORY_H_

#include <cstddef>
#include <cstdint>

namespace vantir3 {

constexpr size_t kLargeBlockBytes = size_t{4} << 20;

// A block of `bytes` bytes (zero-filled when asked), or null when memory
// cannot be had.
uint8_t* AllocateSamples(size_t bytes, bool zeroFill);
// Gives back a block of AllocateSamples with the same `bytes`.
void FreeSamples(uint8_t* data, size_t bytes);
// The number of large blocks obtained from the system and not yet given
// back, counting those that threads keep for reuse (for tests: a thread that
// has ended leaves none behind).
int64_t LargeBlocksHeld();

}  // namespace vantir3

#endif  // VANTIR3_DATA_SAMPLE_MEMORY_H_
