#include "vantir3/data/sample_memory.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VANTIR3_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VANTIR3_ADDRESS_SANITIZER 1
#endif
#if defined(VANTIR3_ADDRESS_SANITIZER)
#include <sanitizer/asan_interface.h>
#endif

namespace vantir3 {
namespace {

// Large blocks obtained and not yet given back. Constant-initialised and
// trivially destroyed: nothing runs when the library is loaded or unloaded.
std::atomic<int64_t> gLargeBlocks{0};

#if defined(__linux__) && !defined(VANTIR3_ADDRESS_SANITIZER)
constexpr size_t kHugePage = size_t{2} << 20;

// Blocks are reused for any request of the same mapped length.
size_t BlockLength(size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

// A fresh mapping is zero already, so zeroFill costs nothing here.
void* ObtainBlock(size_t length, bool /*zeroFill*/) {
    // Over-map by one huge page and trim both ends to a 2 MiB boundary.
    void* raw = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const uintptr_t begin = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (begin + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > begin) munmap(raw, aligned - begin);
    const uintptr_t tail = begin + length + kHugePage - (aligned + length);
    if (tail > 0) munmap(reinterpret_cast<void*>(aligned + length), tail);
    void* p = reinterpret_cast<void*>(aligned);
#if defined(MADV_HUGEPAGE)
    madvise(p, length, MADV_HUGEPAGE);  // advice only: a refusal is harmless
#endif
    return p;
}

void ReturnBlock(void* p, size_t length) { munmap(p, length); }
#else
// malloc with the exact size: in a sanitizer build its checks of accesses
// beyond a block need the block's own size, and its leak check then covers
// the blocks kept by threads too.
size_t BlockLength(size_t bytes) { return bytes; }

void* ObtainBlock(size_t length, bool zeroFill) {
    return zeroFill ? std::calloc(length, 1) : std::malloc(length);
}

void ReturnBlock(void* p, size_t) { std::free(p); }
#endif

// A kept block is poisoned in a sanitizer build, so that a read or write
// through a released buffer is still reported although its block was not
// freed.
#if defined(VANTIR3_ADDRESS_SANITIZER)
void HideKept(void* p, size_t length) { ASAN_POISON_MEMORY_REGION(p, length); }
void ShowKept(void* p, size_t length) { ASAN_UNPOISON_MEMORY_REGION(p, length); }
#else
void HideKept(void*, size_t) {}
void ShowKept(void*, size_t) {}
#endif

void* ObtainCounted(size_t length, bool zeroFill) {
    void* p = ObtainBlock(length, zeroFill);
    if (p != nullptr) gLargeBlocks.fetch_add(1, std::memory_order_relaxed);
    return p;
}

void ReturnCounted(void* p, size_t length) {
    ReturnBlock(p, length);
    gLargeBlocks.fetch_sub(1, std::memory_order_relaxed);
}

// The block a thread keeps for reuse. Plain data without a destructor, so
// that it stays valid while the thread's destructors run: once the closer
// below has run (`closed`), blocks freed by the host's own thread_local
// destructors are given back at once instead of being kept again.
struct KeptBlock {
    void* data;
    size_t length;
    bool closed;
};
thread_local KeptBlock tKept = {nullptr, 0, false};

void DropKept() {
    if (tKept.data == nullptr) return;
    ShowKept(tKept.data, tKept.length);
    ReturnCounted(tKept.data, tKept.length);
    tKept.data = nullptr;
}

// Gives the kept block back when its thread ends (at exit for the main
// thread). Armed by the first block the thread keeps, so threads that never
// keep one register nothing. A thread_local destructor rather than a
// pthread key: the C++ runtime holds a library that was loaded with dlopen
// in memory until every thread that registered such a destructor in it has
// run it, whereas a key's destructor would be called after an unload.
struct KeptBlockCloser {
    bool armed = false;
    ~KeptBlockCloser() {
        DropKept();
        tKept.closed = true;
    }
};
thread_local KeptBlockCloser tCloser;

}  // namespace

uint8_t* AllocateSamples(size_t bytes, bool zeroFill) {
    if (bytes < kLargeBlockBytes) {
        void* p = zeroFill ? std::calloc(bytes > 0 ? bytes : 1, 1) : std::malloc(bytes > 0 ? bytes : 1);
        return static_cast<uint8_t*>(p);
    }
    const size_t length = BlockLength(bytes);
    if (tKept.data != nullptr && tKept.length == length) {
        void* p = tKept.data;
        tKept.data = nullptr;
        ShowKept(p, length);
        // Only the requested bytes: the rest of the block is never addressed.
        if (zeroFill) std::memset(p, 0, bytes);
        return static_cast<uint8_t*>(p);
    }
    return static_cast<uint8_t*>(ObtainCounted(length, zeroFill));
}

void FreeSamples(uint8_t* data, size_t bytes) {
    if (bytes < kLargeBlockBytes) {
        std::free(data);
        return;
    }
    const size_t length = BlockLength(bytes);
    if (tKept.closed) {
        ReturnCounted(data, length);
        return;
    }
    DropKept();
    HideKept(data, length);
    tKept.data = data;
    tKept.length = length;
    if (!tCloser.armed) tCloser.armed = true;
}

int64_t LargeBlocksHeld() { return gLargeBlocks.load(std::memory_order_relaxed); }

}  // namespace vantir3
